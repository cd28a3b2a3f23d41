#pragma once

#include <QLineEdit>
#include <QString>

// A one-line field that takes a text of many megabytes (a JSON body pasted
// for a POST) and stays usable. A QLineEdit lays out and measures its whole
// text on every change and every paint, and keeps one undo step per pasted
// character: ten megabytes took seconds and gigabytes. Here a text longer than
// kLongText characters is held whole (text() gives all of it) but shown
// shortened: its beginning and its length. Pastes of any size (keys, the
// context menu, the middle button, a drop) replace the selection in one step,
// and one step of undo and redo brings the text before or after a long
// paste back.
class LongLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    static constexpr int kLongText = 65536;

    explicit LongLineEdit(QWidget* parent = nullptr);

    // Whether the text is shown shortened.
    bool isShortened() const { return echoMode() == QLineEdit::NoEcho && m_shortened; }
    // Replaces the selection (or inserts at the cursor) with `text`.
    void pasteText(const QString& text);
    // Replaces the whole text, as one step of undo.
    void replaceAll(const QString& text);
    // What the field shows in place of a long text.
    QString shortenedView() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void setWholeText(const QString& text);
    void followLength();
    bool undoLong();
    bool redoLong();
    // Copy and cut of a shortened text, which the field without an echo
    // refuses; nothing when it is not shortened.
    bool copyLong(bool cut);
    void setEcho(bool shown);

    bool m_shortened = false;
    // The one long step that undo and redo know: the texts before and after.
    struct Step
    {
        QString before;
        QString after;
        bool undone = false;
        bool valid = false;
    } m_step;
};
