#pragma once

#include "headers/HeaderList.h"
#include "util/MyStrUtils.h"
#include "util/ReqlarkError.h"

#include <QWidget>

#include <memory>
#include <optional>

class Prompter;

namespace Ui {
class TFrmHeader;
}

// The editor of one request header: adds a row to a header list, or rewrites
// one row. Modeless and a window of its own; every opening
// creates a new editor, which is released when it closes. It acts on the
// list only when its confirm button is pressed.
//
// The mode is carried by the caption of btnEdit: "添加" means add mode,
// anything else edit mode.
class TFrmHeader : public QWidget
{
    Q_OBJECT
public:
    // A window of its own over `owner`, with the owner's current font and
    // colours. Messages go through `prompter`; `guard` runs the handlers.
    // Throws ReqlarkError when the program's preset resource is missing.
    TFrmHeader(HeaderList* rows, Prompter* prompter, ErrorGuard guard, QWidget* owner);
    ~TFrmHeader() override;

    Ui::TFrmHeader* form() const { return ui.get(); }

    // Edit mode for the row at `row` of the header list.
    void SetEditItem(int row);

    void edtHeaderNameChange();
    void cbbHeaderNamesClick();
    void chkHeaderLowerCaseClick();
    void cbbHeaderOptionsClick();
    void mmoHeaderValueDblClick();
    void btnEditClick();
    void btnCancleClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QByteArray nameText() const;
    QByteArray valueText() const;
    void setNameText(const QByteArray& name);
    void setValueText(const QByteArray& value);
    void bindHandlers();

    HeaderList* m_rows;
    Prompter* m_prompter;
    ErrorGuard m_guard;
    std::unique_ptr<Ui::TFrmHeader> ui;
    // The edited row, found again by its id so that a row deleted meanwhile
    // is never confused with the one that moved into its place.
    std::optional<HeaderList::RowId> FEditItem;
    ByteList FHeaderOptionList;
};
