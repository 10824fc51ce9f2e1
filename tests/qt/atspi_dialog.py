#!/usr/bin/python3
"""Drives Quorvane's dialog through AT-SPI as a screen reader would: every showing field has its
name, the links are links, auto-run shows ticked; then unticks auto-run by its Toggle action
(with --box-after-untick, answers the message box that must follow by OK's Press action, after
which the box is ticked again) and presses 終了. With --english, checks instead that every showing
control of the dialog is named in English (no Japanese left) and lies whole inside the window, and
that each label's last character lies inside the label, so that no text is cut off; then presses
Exit. Prints a FAIL line and exits 1 at the first thing that is not so."""
import sys
import time

import pyatspi

FIELD_NAMES = sorted(["正数の２進数を入力して下さい。", "10進数",
                      "本ソフトウェアのフルパスです。プロセス起動させる時にご使用下さい。"])
KEPT = "ディレクトリーが空になるまで自動実行は有効のままです。"


def fail(what):
    print(f"FAIL: {what}")
    sys.exit(1)


def wait_for(what, find, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    return fail(what)


def showing(root, role, name=None):
    return pyatspi.findAllDescendants(root, lambda a: a.getRole() == role and (
        name is None or a.name == name) and a.getState().contains(pyatspi.STATE_SHOWING))


def act(accessible, action_name):
    action = accessible.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if action_name not in names:
        fail(f"{accessible.name!r} offers no {action_name} action, only {names}")
    action.doAction(names.index(action_name))


def inside(inner, outer):
    return (inner.x >= outer.x and inner.y >= outer.y and inner.x + inner.width <= outer.x + outer.width
            and inner.y + inner.height <= outer.y + outer.height)


def check_english(window):
    frame = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    roles = [pyatspi.ROLE_LABEL, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX,
             pyatspi.ROLE_TEXT, pyatspi.ROLE_LINK]
    controls = [c for role in roles for c in showing(window, role)]
    if len(controls) < 14:
        fail(f"only {len(controls)} showing controls")
    for control in controls:
        if not control.name or not control.name.isascii():
            fail(f"a {control.getRoleName()} is named {control.name!r}, not in English")
        extents = control.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        if not inside(extents, frame):
            fail(f"{control.name!r} is not whole inside the window")
        if control.getRole() == pyatspi.ROLE_LABEL:
            try:
                text = control.queryText()
            except NotImplementedError:
                continue
            last = text.getCharacterExtents(text.characterCount - 1, pyatspi.DESKTOP_COORDS)
            if last[2] > 0 and last[0] + last[2] > extents.x + extents.width:
                fail(f"{control.name!r} is cut off: its last letter ends at {last[0] + last[2]}, "
                     f"the label at {extents.x + extents.width}")
        print(f"ok {control.getRoleName()}: {control.name}")
    act(showing(window, pyatspi.ROLE_PUSH_BUTTON, "Exit")[0], "Press")


def main():
    app = wait_for("quorvane is not on the accessibility bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "quorvane"), None))
    app.setCacheMask(pyatspi.cache.NONE)  # nothing here hears events: ask afresh every time
    window = wait_for("no window named Quorvane", lambda: showing(app, pyatspi.ROLE_DIALOG,
                                                                  "Quorvane"))[0]
    if "--english" in sys.argv:
        check_english(window)
        return
    names = sorted(field.name for field in showing(window, pyatspi.ROLE_TEXT))
    if names != FIELD_NAMES:
        fail(f"the showing text fields are named {names}")
    links = [link.name for link in showing(window, pyatspi.ROLE_LINK)]
    if len(links) != 2 or not all(link.startswith("https://") for link in links):
        fail(f"links: {links}")
    auto_run = showing(window, pyatspi.ROLE_CHECK_BOX, "自動実行する")[0]
    if not auto_run.getState().contains(pyatspi.STATE_CHECKED):
        fail("自動実行する is not ticked although the AutoFile folder exists")
    if not showing(window, pyatspi.ROLE_CHECK_BOX, "メッセージを表示する"):
        fail("メッセージを表示する is hidden")

    act(auto_run, "Toggle")
    if "--box-after-untick" in sys.argv:
        box = wait_for("no message box after unticking", lambda: [
            b for b in showing(app, pyatspi.ROLE_DIALOG) + showing(app, pyatspi.ROLE_ALERT)
            if any(KEPT in label.name for label in showing(b, pyatspi.ROLE_LABEL))])[0]
        act(showing(box, pyatspi.ROLE_PUSH_BUTTON, "OK")[0], "Press")
        # The folder stays, and automatic mode with it: the box says so by its tick.
        wait_for("自動実行する is not ticked again after the message",
                 lambda: auto_run.getState().contains(pyatspi.STATE_CHECKED))
        if not showing(window, pyatspi.ROLE_CHECK_BOX, "メッセージを表示する"):
            fail("メッセージを表示する was hidden although automatic mode stays on")
    else:
        wait_for("メッセージを表示する stayed visible after unticking",
                 lambda: not showing(window, pyatspi.ROLE_CHECK_BOX, "メッセージを表示する"))
        if auto_run.getState().contains(pyatspi.STATE_CHECKED):
            fail("自動実行する stayed ticked")
    act(showing(window, pyatspi.ROLE_PUSH_BUTTON, "終了")[0], "Press")


if __name__ == "__main__":
    main()
