#!/usr/bin/env python3
"""The main window as a screen reader reads it, through AT-SPI (pyatspi): what
only the bus shows (names, focus, word and character boundaries, the host's
own selection); the text interface itself is tst_largetextview's.

Run as: tst_accessibility.py <reqlark_a11y_host>, on a D-Bus session and an X
server of its own (CTest starts both). Exits non-zero on a failure.
"""

import subprocess
import sys
import time

import pyatspi

TEXT = ("<html>\r\n"
        "第一行 hello world\n"
        "emoji \U0001F600 after\x01tab\there\r"
        "last line")
passed = 0
failed = 0


def check(what, actual, expected):
    global passed, failed
    if actual == expected:
        passed += 1
    else:
        failed += 1
        print(f"FAIL: {what}: got {actual!r}, expected {expected!r}")


def descendants(node, depth=0):
    if node is None or depth > 20:
        return
    yield node
    for child in node:
        yield from descendants(child, depth + 1)


def find(app, role, name):
    for node in descendants(app):
        if node.getRoleName() == role and node.name == name:
            return node
    return None


def unit_offset(text):
    """The UTF-16 offset where `text` starts in TEXT."""
    return len(TEXT[:TEXT.index(text)].encode("utf-16-le")) // 2


def main():
    # The registry first: an application that starts before it is not seen.
    pyatspi.Registry.getDesktop(0)
    host = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        if host.stdout.readline().strip() != b"ready":
            print("FAIL: the window did not come up")
            return 1
        app = None
        for _ in range(40):
            desktop = pyatspi.Registry.getDesktop(0)
            app = next((a for a in desktop if a is not None and a.name == "reqlark-a11y-host"),
                       None)
            if app is not None:
                break
            time.sleep(0.25)
        if app is None:
            print("FAIL: the program is not on the accessibility bus")
            return 1

        # Controls named by their labels (captions unchanged), the globe by
        # what it shows.
        for role, name in (("text", "网址"), ("text", "数据"), ("table", "请求头"),
                           ("image", "未使用代理"), ("text", "响应头")):
            check(f"{role} named {name}", find(app, role, name) is not None, True)
        check("label caption", find(app, "label", "请\n求\n头") is not None, True)

        # The HTML pane, focused, its text whole on the bus.
        pane = find(app, "text", "响应内容")
        check("HTML pane found", pane is not None, True)
        if pane is None:
            return 1
        check("focused", pane.getState().contains(pyatspi.STATE_FOCUSED), True)
        text = pane.queryText()
        check("whole text", text.getText(0, -1), TEXT)
        hello = unit_offset("hello")
        word = text.getTextAtOffset(hello + 2, pyatspi.TEXT_BOUNDARY_WORD_START)
        check("word", word[0].strip(), "hello")
        char = text.getTextAtOffset(unit_offset("第一行") + 1, pyatspi.TEXT_BOUNDARY_CHAR)
        check("character", char[0], "一")
        # Caret and selection as the host left them.
        check("caret", text.caretOffset, 6)
        check("selections", text.getNSelections(), 1)
        check("selection", tuple(text.getSelection(0)), (0, 6))
    finally:
        host.stdin.close()
        host.wait(timeout=10)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
