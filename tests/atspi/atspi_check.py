#!/usr/bin/env python3
"""The windows as a screen reader meets them, through AT-SPI itself (what Orca reads).

Starts atspi_windows (the settings editor, the status dialog and the firmware dialog) on the display
given in DISPLAY, in the language given, and walks its accessibility tree on the session's AT-SPI bus:
every control that takes input or shows a value needs a name, not a group's title and not shared with
another such control of its window; some names are checked word for word. A drop-down list gives its
chosen entry as its text (what a reader says when the list gets the focus), the entry its popup marks.
The settings editor's announcement after a Write reaches the bus as a description change of the button
that has the focus, which is what a reader speaks. Exit 77 when pyatspi is
not installed, 1 on any problem.
"""
import os
import subprocess
import sys
import time

try:
    import pyatspi
except ImportError:
    print("pyatspi is not installed: skipped")
    sys.exit(77)

VALUE_ROLES = {
    pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_PROGRESS_BAR,
    pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER,
}
# Names that must be announced, word for word, per language.
EXPECTED = {
    "en": ["IPv4 type", "COM2 Local Port", "COM3 Baudrate", "COM4 Event Byte", "COM1 RX", "COM4 TX", "Comment",
           "Upload progress", "Status details"],
    "ko": ["COM3 패리티", "COM2 상대 포트", "COM2 수신(RX)", "업로드 진행률"],
    "zh": ["COM4 停止位", "COM1 超时", "COM1 发送(TX)", "上传进度"],
}


def walk(node, ancestors, found):
    try:
        role = node.getRole()
        name = node.name or ""
    except Exception:  # a node that went away while walking
        return
    if role in VALUE_ROLES:
        found.append((node, role, name, list(ancestors)))
        if role == pyatspi.ROLE_COMBO_BOX:
            return  # its popup's entries are values, not controls
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, ancestors + [name], found)


def find_app(program, deadline):
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and program in (app.name or ""):
                if app.childCount >= 3:
                    return app
        time.sleep(0.2)
    return None


def selected_entry(combo):
    """The name of the entry the list's popup marks as selected, if any."""
    for i in range(combo.childCount):
        popup = combo.getChildAtIndex(i)
        for j in range(popup.childCount if popup is not None else 0):
            item = popup.getChildAtIndex(j)
            if item is not None and item.getState().contains(pyatspi.STATE_SELECTED):
                return item.name
    return None


def check_list_text(node, what, problems):
    try:
        text = node.queryText().getText(0, -1)
    except NotImplementedError:
        problems.append("%s gives no text: a reader does not hear its entry" % what)
        return
    if not text:
        problems.append("%s gives an empty entry" % what)
        return
    entry = selected_entry(node)
    if entry is not None and entry != text:
        problems.append("%s says '%s' but its popup marks '%s'" % (what, text, entry))


def check_window(window, problems):
    found = []
    walk(window, [], found)
    seen = {}
    for node, role, name, ancestors in found:
        what = "%s '%s' in '%s'" % (pyatspi.Accessible.getRoleName(node), name, window.name)
        if not name.strip():
            problems.append("%s has no name" % what)
            continue
        if name in ancestors[1:]:
            problems.append("%s is named only by its group" % what)
        if role == pyatspi.ROLE_COMBO_BOX:
            check_list_text(node, what, problems)
        seen.setdefault(name, []).append(what)
    for name, holders in seen.items():
        if len(holders) > 1:
            problems.append("'%s' names %d controls: %s" % (name, len(holders), "; ".join(holders)))
    return [name for _, _, name, _ in found], len(found)


ANNOUNCED = "Written to 02:7e:55:00:00:01 at 10:42:07"


def check_announcement(shown):
    """Has the program announce a Write and waits for the description change on the bus."""
    heard = []

    def listener(event):
        if event.type.startswith("object:property-change:accessible-description"):
            try:
                heard.append((event.source.getRole(), event.source.description))
            except Exception:
                pass

    from gi.repository import GLib

    def pump(seconds, done=lambda: False):
        context = GLib.MainContext.default()
        deadline = time.time() + seconds
        while time.time() < deadline and not done():
            while context.pending():
                context.iteration(False)
            time.sleep(0.05)

    pyatspi.Registry.registerEventListener(listener, "object:property-change:accessible-description")
    try:
        pump(1.5)  # the program learns that someone listens before it announces
        shown.stdin.write("a")
        shown.stdin.flush()
        pump(10, lambda: any(d == ANNOUNCED for _, d in heard))
    finally:
        pyatspi.Registry.deregisterEventListener(listener, "object:property-change:accessible-description")
    if not any(role == pyatspi.ROLE_PUSH_BUTTON and d == ANNOUNCED for role, d in heard):
        return ["the editor's announcement was not heard on the focused button (heard: %r)" % heard]
    return []


def main():
    program, language = sys.argv[1], sys.argv[2]
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    shown = subprocess.Popen([program, language], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
    try:
        if shown.stdout.readline().strip() != "ready":
            print("the windows did not come up")
            return 1
        app = find_app(os.path.basename(program), time.time() + 20)
        if app is None:
            print("the program did not appear on the AT-SPI bus")
            return 1
        problems, names, controls = [], [], 0
        for i in range(app.childCount):
            window = app.getChildAtIndex(i)
            window_names, count = check_window(window, problems)
            names += window_names
            controls += count
            print("%s: %d controls" % (window.name, count))
        problems += check_announcement(shown)
        for name in EXPECTED.get(language, []):
            if name not in names:
                problems.append("no control is named '%s'" % name)
        for p in problems:
            print("PROBLEM: " + p)
        print("%d controls in %d windows, %d problems" % (controls, app.childCount, len(problems)))
        return 1 if problems or controls == 0 else 0
    finally:
        shown.stdin.close()
        try:
            shown.wait(timeout=10)
        except subprocess.TimeoutExpired:
            shown.kill()


if __name__ == "__main__":
    sys.exit(main())
