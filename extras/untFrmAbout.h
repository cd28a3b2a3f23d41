#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmAbout;
}

// The About box: the application title, the author line from the version
// record, the version and a picture. Created for one use, shown modally.
class TfrmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    ~TfrmAbout() override;

    Ui::TfrmAbout* form() const { return ui.get(); }

private:
    void FormCreate();
    void loadPicture();

    std::unique_ptr<Ui::TfrmAbout> ui;
};
