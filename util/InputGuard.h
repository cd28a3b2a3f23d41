#pragma once

#include <QObject>

#include <functional>

// While an InputGuard lives, what the user does with the keyboard, the mouse
// (plain hovering aside), the wheel, touch, a tablet or drag and drop, in any
// window of the application, is dropped: not acted on now and not delivered
// later either. Esc is the one exception: a press calls `onEscape`. Painting,
// resizing, timers, the desktop's close requests and the window manager's
// pings go on as usual.
//
// Made on the stack around a wait that runs the event loop (a request, a page
// that loads), it keeps the user's clicks and keys from starting a handler in
// the middle of another:
//
//     InputGuard hold([&] { transfer.cancel(); });
//     ... wait in a local event loop ...
//     hold.dropPendingInput(); // before the guard goes: input sent meanwhile
//
// Guards may nest; the newest one sees Esc first. Must live on the thread of
// the application object.
class InputGuard final : public QObject
{
public:
    explicit InputGuard(std::function<void()> onEscape = {});
    ~InputGuard() override;
    InputGuard(const InputGuard&) = delete;
    InputGuard& operator=(const InputGuard&) = delete;

    // Processes what is waiting in the event queue (input the window system
    // delivered while this thread was busy, which is dropped, and paints), so
    // that none of it is left to act once the guard is gone.
    void dropPendingInput();

    // Whether the guard drops `event` (Esc included, which it acts on).
    static bool isUserInput(const QEvent* event);

    // Lets a window opened during the wait take input: a dialog a page
    // shows must be answered before the wait can end. Give it the window's
    // widget and its window-system window; their children count too.
    static void allowInput(QObject* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_onEscape;
};
