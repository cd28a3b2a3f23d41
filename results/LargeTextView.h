#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <QTextDocument>

#include <algorithm>
#include <memory>
#include <utility>

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
//
// Screen readers see it as a read-only multi-line text (Qt's accessible text
// interface, installed by the first view made). They count in characters
// (UTF-16 units: a control character is itself, a byte that is not UTF-8 is
// one U+FFFD); a sparse index of checkpoints, built as far as a query needs
// it, maps those to bytes, so no query builds the whole text unless it asks
// for all of it. A line for them is a shown line end to end, or a piece of
// about 4 KB of a longer one, as the view breaks it.
//
// Triple-click selects a line with its line end; Ctrl+wheel, Ctrl+plus and
// Ctrl+minus make the text larger or smaller for this view only (Ctrl+0 back
// to its font), without changing font().
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
    // Where the selection ends: the caret.
    qint64 cursorPosition() const { return m_position; }
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

    // Points added to the font's size while showing the text.
    int zoom() const { return m_zoom; }
    void setZoom(int points);
    // The font the text is drawn in: font() with the zoom.
    QFont shownFont() const;

    // Characters as screen readers count them (see above).
    qint64 characterCount() const;
    qint64 characterAt(qint64 position) const; // the character holding a byte
    qint64 positionOfCharacter(qint64 character) const;
    // The characters of bytes [from, to), from and to taken as positions.
    QString characters(qint64 from, qint64 to) const;
    // The shown line (or piece of a long one) holding `position`: its first
    // byte and the byte after its line end.
    std::pair<qint64, qint64> lineAround(qint64 position) const;

signals:
    void selectionChanged();
    // The context menu is about to open: its owner may add entries.
    void contextMenuAboutToShow(QMenu* menu);

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
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    struct Layout;
    struct CharacterIndex;

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
    void selectLineAt(qint64 position);
    void announceNewText(const QByteArray& before);

    QByteArray m_text;
    qint64 m_anchor = 0;
    qint64 m_position = 0;
    std::unique_ptr<Layout> m_layout;
    class QTimer* m_autoScroll = nullptr;
    QPoint m_dragPoint;
    bool m_dragging = false;
    int m_wheelRest = 0;
    int m_zoom = 0;
    int m_zoomWheelRest = 0;
    // The last double-click, which a press soon after makes a triple-click.
    quint64 m_doubleClickTime = 0;
    QPoint m_doubleClickPoint;
    bool m_afterDoubleClick = false;
    std::unique_ptr<CharacterIndex> m_characters;
    mutable bool m_syncingBar = false;
};
