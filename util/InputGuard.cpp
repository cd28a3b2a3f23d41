#include "util/InputGuard.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVariant>

InputGuard::InputGuard(std::function<void()> onEscape) : m_onEscape(std::move(onEscape))
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

InputGuard::~InputGuard()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

namespace {

// A dynamic property rather than a list of this file: the browser module has
// a copy of its own of this code, and both must see the same mark.
const char kAllowsInput[] = "reqlarkAllowsInputWhileBusy";

bool allowsInput(const QObject* object)
{
    for (; object; object = object->parent()) {
        if (object->property(kAllowsInput).toBool())
            return true;
    }
    return false;
}

} // namespace

void InputGuard::allowInput(QObject* window)
{
    if (window)
        window->setProperty(kAllowsInput, true);
}

void InputGuard::dropPendingInput()
{
    QCoreApplication::processEvents();
}

bool InputGuard::isUserInput(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    // A key that is a shortcut (a menu's Alt+M, a command's key) arrives as
    // one of these two instead of a key press.
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseMove:
        // Hovering only highlights; a move with a button held would drag a
        // splitter or a selection even without the press that began it.
        return static_cast<const QMouseEvent*>(event)->buttons() != Qt::NoButton;
    default:
        return false;
    }
}

bool InputGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (!isUserInput(event) || allowsInput(watched))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress && m_onEscape) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape)
            m_onEscape();
    }
    return true;
}
