#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmNote;
}

// A resizable read-only text window; the Help command shows the program's
// help text in it. Created for one use and shown modally.
class TfrmNote : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmNote(QWidget* parent = nullptr);
    ~TfrmNote() override;

    Ui::TfrmNote* form() const { return ui.get(); }

    // Fills Memo1 with the text of a program resource, found by name and
    // type regardless of letter case. UTF-8 text is converted to code page
    // 936; any other text is shown byte for byte as code page 936. Throws
    // ReqlarkError when there is no such resource.
    void ShowResourceText(const QString& name, const QString& type);

    // The text as the window holds it: every line (ended by CR LF, CR or LF)
    // followed by CR LF, in code page 936.
    static QByteArray ResourceTextForDisplay(const QByteArray& bytes);

private:
    void FormCreate();

    std::unique_ptr<Ui::TfrmNote> ui;
};
