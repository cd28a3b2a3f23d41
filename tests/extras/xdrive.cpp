// Drives the window of another program on an X display as a person at the
// keyboard would, for checks that run the installed program itself:
//   reqlark_xdrive <title part> type <text>   types printable ASCII text
//   reqlark_xdrive <title part> close         asks the window to close
// It waits up to 30 seconds for a shown top-level window whose title holds
// <title part>, gives it the keyboard focus and sends it key presses or the
// window manager's close request. Exit status 0 when done, 1 when the window
// never came or the text cannot be typed.

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string titleOf(Display* display, Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 4096, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

// The first shown window below `parent` whose title holds `part`; a window
// manager may have put the program's window inside a frame of its own.
Window findWindow(Display* display, Window parent, const std::string& part)
{
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        if (titleOf(display, children[i]).find(part) != std::string::npos)
            found = children[i];
        else
            found = findWindow(display, children[i], part);
    }
    if (children)
        XFree(children);
    return found;
}

bool typeText(Display* display, Window window, const std::string& text)
{
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    // Let the program take the focus in before the first key arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) {
            std::fprintf(stderr, "reqlark_xdrive: only printable ASCII can be typed\n");
            return false;
        }
        const KeySym sym = KeySym(c); // Latin-1 key symbols are the characters
        const KeyCode code = XKeysymToKeycode(display, sym);
        unsigned int state = 0;
        if (code == 0) {
            std::fprintf(stderr, "reqlark_xdrive: no key gives '%c'\n", c);
            return false;
        }
        if (XkbKeycodeToKeysym(display, code, 0, 0) != sym)
            state = ShiftMask;
        XKeyEvent key{};
        key.display = display;
        key.window = window;
        key.root = DefaultRootWindow(display);
        key.subwindow = None;
        key.time = CurrentTime;
        key.same_screen = True;
        key.keycode = code;
        key.state = state;
        key.type = KeyPress;
        XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&key));
        key.type = KeyRelease;
        XSendEvent(display, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&key));
    }
    XSync(display, False);
    return true;
}

void requestClose(Display* display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

} // namespace

int main(int argc, char* argv[])
{
    const bool type = argc == 4 && std::strcmp(argv[2], "type") == 0;
    const bool close = argc == 3 && std::strcmp(argv[2], "close") == 0;
    if (!type && !close) {
        std::fprintf(stderr, "usage: %s <title part> type <text> | close\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "reqlark_xdrive: cannot open the display\n");
        return 1;
    }
    Window window = 0;
    for (int i = 0; i < 300 && !window; ++i) {
        window = findWindow(display, DefaultRootWindow(display), argv[1]);
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    int status = 0;
    if (!window) {
        std::fprintf(stderr, "reqlark_xdrive: no window titled \"%s\" within 30 s\n", argv[1]);
        status = 1;
    } else if (type) {
        status = typeText(display, window, argv[3]) ? 0 : 1;
    } else {
        requestClose(display, window);
    }
    XCloseDisplay(display);
    return status;
}
