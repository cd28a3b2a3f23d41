#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <QTextDocument>

#include <algorithm>
#include <memory>

class QMenu;

// A read-only view of a text of any size. The text is kept once, as UTF-8,
// and only what is on screen is laid out, so showing a body of a hundred
// megabytes costs about as much as showing a page of it.
//
// Lines end at LF, CR LF or a lone CR and wrap at the view's width. Tabs
// are tabs; NUL and the other control characters are drawn in caret
// notation in a dimmer colour (^@, ^A, ... ^?), and nothing after them is
// lost; a byte that is not UTF-8 shows as U+FFFD. Copies give the original
// characters.
//
// Every position in this interface is a byte offset into utf8(), from 0 to
// its size; a position inside a character or inside a CR LF pair is taken
// as the start of that character or pair.
class LargeTextView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit LargeTextView(QWidget* parent = nullptr);
    ~LargeTextView() override;

    // Shares `utf8` (no copy is made); an empty array empties the view.
    void setUtf8(const QByteArray& utf8);
    void setText(const QString& text);
    void clear();
    const QByteArray& utf8() const { return m_text; }
    QString text() const;

    // The selection runs from the anchor to the position; searches start
    // from it.
    qint64 selectionStart() const { return std::min(m_anchor, m_position); }
    qint64 selectionEnd() const { return std::max(m_anchor, m_position); }
    bool hasSelection() const { return m_anchor != m_position; }
    QString selectedText() const;
    void setSelection(qint64 anchor, qint64 position);
    void selectAll();
    void copy() const;

    // Finds the next match after the selection (before it with
    // FindBackward), matching case only with FindCaseSensitively; selects it
    // and scrolls it into view. False when there is none; nothing changes then.
    bool find(const QString& text, QTextDocument::FindFlags flags = {});

    // The first byte of the line at the top of the view.
    qint64 topPosition() const;
    // Puts the line holding `position` at the top (or as near as the end of
    // the text allows).
    void scrollToPosition(qint64 position);
    // Whether the line holding `position` is wholly on screen.
    bool isPositionVisible(qint64 position) const;
    void ensurePositionVisible(qint64 position);
    // Where the caret would stand before `position`, in viewport
    // coordinates; empty when that line is not on screen.
    QRect cursorRect(qint64 position) const;
    // The position nearest to a viewport point.
    qint64 positionAt(const QPoint& point) const;

    // Copy and select all, as the view's context menu offers them.
    QMenu* createContextMenu(QWidget* parent);

signals:
    void selectionChanged();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Layout;

    void layoutIfNeeded() const;
    void relayoutIfNeeded() const;
    void setTop(qint64 top);
    void scrollLines(int lines);
    void scrollPage(int direction);
    void syncScrollBar() const;
    void barValueChanged(int value);
    void barActionTriggered(int action);
    void autoScroll();
    void select(qint64 anchor, qint64 position);

    QByteArray m_text;
    qint64 m_anchor = 0;
    qint64 m_position = 0;
    std::unique_ptr<Layout> m_layout;
    class QTimer* m_autoScroll = nullptr;
    QPoint m_dragPoint;
    bool m_dragging = false;
    int m_wheelRest = 0;
    mutable bool m_syncingBar = false;
};
