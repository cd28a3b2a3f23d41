#include "app/LongLineEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

// How much of a long text is shown: more than any field is wide.
constexpr int kHead = 400;

bool isLong(qsizetype length)
{
    return length > LongLineEdit::kLongText;
}

} // namespace

LongLineEdit::LongLineEdit(QWidget* parent) : QLineEdit(parent)
{
    // A text set from outside (the settings, a test) is measured too.
    connect(this, &QLineEdit::textChanged, this, [this] { followLength(); });
    // Typing after a long paste starts a history of its own.
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (!isLong(text().size()))
            m_step = Step();
    });
}

void LongLineEdit::followLength()
{
    const bool shorten = isLong(text().size());
    if (shorten == m_shortened)
        return;
    m_shortened = shorten;
    // Without an echo the field lays out nothing of the text; it is painted
    // from shortenedView() instead.
    setEcho(!shorten);
    update();
}

void LongLineEdit::setEcho(bool shown)
{
    setEchoMode(shown ? QLineEdit::Normal : QLineEdit::NoEcho);
    // No echo is how password fields are made, and input methods turn
    // Chinese input off for them; this field is no password.
    setInputMethodHints(Qt::ImhNone);
}

bool LongLineEdit::copyLong(bool cut)
{
    if (!isShortened())
        return false;
    const QString chosen = hasSelectedText() ? selectedText() : QString();
    if (chosen.isEmpty())
        return true;
    QGuiApplication::clipboard()->setText(chosen);
    if (cut && !isReadOnly())
        pasteText(QString());
    return true;
}

void LongLineEdit::setWholeText(const QString& text)
{
    // The echo goes off before the long text arrives, so that it is never
    // laid out; it comes back after a short one is in.
    if (isLong(text.size()) && !m_shortened) {
        m_shortened = true;
        setEcho(false);
    }
    setText(text);
}

void LongLineEdit::pasteText(const QString& text)
{
    if (isReadOnly())
        return;
    // Line breaks stay in the text, as QLineEdit keeps them; they show as
    // blanks.
    const QString& single = text;
    const QString old = this->text();
    if (!isLong(single.size()) && !isLong(old.size())) {
        insert(single); // QLineEdit's own undo keeps small changes
        return;
    }
    qsizetype from = cursorPosition();
    qsizetype to = from;
    if (hasSelectedText()) {
        from = selectionStart();
        to = from + selectionLength();
    }
    QString result;
    result.reserve(old.size() - (to - from) + single.size());
    result.append(QStringView(old).left(from));
    result.append(single);
    result.append(QStringView(old).mid(to));
    m_step = Step{old, result, false, true};
    setWholeText(result);
    setCursorPosition(int(from + single.size()));
}

void LongLineEdit::replaceAll(const QString& text)
{
    // The selection replaced by an insert: one step that undo takes back.
    selectAll();
    pasteText(text);
}

bool LongLineEdit::undoLong()
{
    if (!m_step.valid || m_step.undone || text() != m_step.after)
        return false;
    m_step.undone = true;
    setWholeText(m_step.before);
    return true;
}

bool LongLineEdit::redoLong()
{
    if (!m_step.valid || !m_step.undone || text() != m_step.before)
        return false;
    m_step.undone = false;
    setWholeText(m_step.after);
    return true;
}

QString LongLineEdit::shortenedView() const
{
    const QString whole = text();
    QString head = whole.left(kHead);
    for (QChar& c : head) {
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    }
    return head + QStringLiteral("…（共 %1 个字符）").arg(QLocale::system().toString(whole.size()));
}

void LongLineEdit::paintEvent(QPaintEvent* event)
{
    if (!isShortened()) {
        QLineEdit::paintEvent(event);
        return;
    }
    // QLineEdit measures its whole text at every paint; the frame and a
    // shortened text are drawn here instead.
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
    r.adjust(2, 0, -2, 0);
    const QString count =
        QStringLiteral("（共 %1 个字符）").arg(QLocale::system().toString(text().size()));
    const QFontMetrics fm = fontMetrics();
    const int countWidth = fm.horizontalAdvance(count);
    const QString head = text().left(kHead);
    QString shown = fm.elidedText(head, Qt::ElideRight, std::max(0, r.width() - countWidth));
    const bool selected = hasSelectedText() && selectionLength() == text().size();
    const QPalette& pal = palette();
    if (selected) {
        painter.fillRect(r, pal.brush(QPalette::Highlight));
        painter.setPen(pal.color(QPalette::HighlightedText));
    } else {
        painter.setPen(pal.color(QPalette::Text));
    }
    for (QChar& c : shown) {
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    }
    painter.drawText(r, Qt::AlignVCenter | Qt::AlignLeft, shown);
    if (!selected)
        painter.setPen(pal.color(QPalette::PlaceholderText));
    painter.drawText(r, Qt::AlignVCenter | Qt::AlignRight, count);
}

void LongLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Paste)) {
        pasteText(QGuiApplication::clipboard()->text());
        event->accept();
        return;
    }
    if ((event->matches(QKeySequence::Copy) && copyLong(false)) ||
        (event->matches(QKeySequence::Cut) && copyLong(true))) {
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Undo) && undoLong()) {
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Redo) && redoLong()) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void LongLineEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu's paste, undo and redo go through the long-text steps too.
    for (QAction* action : menu->actions()) {
        const QString name = action->objectName();
        if ((name == QLatin1String("edit-copy") || name == QLatin1String("edit-cut")) &&
            isShortened()) {
            const bool cut = name == QLatin1String("edit-cut");
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            action->setEnabled(hasSelectedText() && (!cut || !isReadOnly()));
            connect(action, &QAction::triggered, this, [this, cut] { copyLong(cut); });
        } else if (name == QLatin1String("edit-paste")) {
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this,
                    [this] { pasteText(QGuiApplication::clipboard()->text()); });
        } else if (name == QLatin1String("edit-undo") || name == QLatin1String("edit-redo")) {
            const bool undo = name == QLatin1String("edit-undo");
            const bool ours =
                undo ? (m_step.valid && !m_step.undone) : (m_step.valid && m_step.undone);
            if (ours) {
                disconnect(action, &QAction::triggered, nullptr, nullptr);
                action->setEnabled(true);
                connect(action, &QAction::triggered, this,
                        [this, undo] { undo ? undoLong() : redoLong(); });
            }
        }
    }
    menu->popup(event->globalPos());
}

void LongLineEdit::mouseReleaseEvent(QMouseEvent* event)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection() && !isReadOnly()) {
        deselect();
        pasteText(clipboard->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void LongLineEdit::dropEvent(QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (data && data->hasText() && !isReadOnly() &&
        (isLong(data->text().size()) || isLong(text().size()))) {
        pasteText(data->text());
        event->acceptProposedAction();
        return;
    }
    QLineEdit::dropEvent(event);
}

void LongLineEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // An input method commits short texts; a long field takes it as a paste.
    if (isShortened() && event->preeditString().isEmpty() && !event->commitString().isEmpty()) {
        pasteText(event->commitString());
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}
