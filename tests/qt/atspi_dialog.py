#!/usr/bin/python3
"""Drives Quorvane's dialog through AT-SPI, as a screen reader user would.

Usage: atspi_dialog.py [--box-after-untick]

Checks that the dialog shows auto-run ticked, that every visible text field has a
name and that the links are links; unticks auto-run through the check box's action
(answering, with --box-after-untick, the message box that must follow it, through
its OK button's action), then presses 終了 through its action. Exits non-zero with a
FAIL line at the first thing that is not so.
"""
import sys
import time

import pyatspi

FIELD_NAMES = [
    "正数の２進数を入力して下さい。",
    "10進数",
    "本ソフトウェアのフルパスです。プロセス起動させる時にご使用下さい。",
]
KEPT_MESSAGE = "ディレクトリーが空になるまで自動実行は有効のままです。"


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
    fail(what)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "quorvane":
            return app
    return None


def showing(accessible, role=None, name=None):
    """The showing descendants of `accessible` with that role and name."""
    def wanted(a):
        return (a.getState().contains(pyatspi.STATE_SHOWING)
                and (role is None or a.getRole() == role)
                and (name is None or a.name == name))
    return pyatspi.findAllDescendants(accessible, wanted)


def one(accessible, role, name):
    found = showing(accessible, role, name)
    if len(found) != 1:
        fail(f"{len(found)} showing {pyatspi.Role(role)} named {name!r}")
    return found[0]


def checked(accessible):
    return accessible.getState().contains(pyatspi.STATE_CHECKED)


def act(accessible, action_name):
    action = accessible.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if action_name not in names:
        fail(f"{accessible.name!r} offers no {action_name} action, only {names}")
    action.doAction(names.index(action_name))


def main():
    box_after_untick = "--box-after-untick" in sys.argv[1:]
    app = wait_for("quorvane never appeared on the accessibility bus", application)
    # Nothing here listens for events, so every state is asked of the program afresh.
    app.setCacheMask(pyatspi.cache.NONE)
    window = wait_for("no showing window named Quorvane",
                      lambda: next(iter(showing(app, pyatspi.ROLE_FRAME, "Quorvane")
                                        + showing(app, pyatspi.ROLE_DIALOG, "Quorvane")), None))

    fields = showing(window, pyatspi.ROLE_TEXT)
    names = [field.name for field in fields]
    if sorted(names) != sorted(FIELD_NAMES):
        fail(f"the showing text fields are named {names}")
    links = showing(window, pyatspi.ROLE_LINK)
    if len(links) != 2 or not all(link.name.startswith("https://") for link in links):
        fail(f"links: {[(link.name, link.getRoleName()) for link in links]}")

    auto_run = one(window, pyatspi.ROLE_CHECK_BOX, "自動実行する")
    if not checked(auto_run):
        fail("自動実行する is not ticked although the AutoFile folder exists")
    one(window, pyatspi.ROLE_CHECK_BOX, "メッセージを表示する")

    act(auto_run, "Toggle")
    if box_after_untick:
        text = wait_for("no message box after unticking 自動実行する",
                        lambda: [a for a in showing(app, pyatspi.ROLE_LABEL)
                                 if KEPT_MESSAGE in a.name])
        box = text[0].parent
        while box is not None and box.getRole() not in (pyatspi.ROLE_ALERT,
                                                        pyatspi.ROLE_DIALOG):
            box = box.parent
        if box is None:
            fail("the message's text is in no message box")
        act(one(box, pyatspi.ROLE_PUSH_BUTTON, "OK"), "Press")
        wait_for("the message box stayed", lambda: not showing(app, pyatspi.ROLE_LABEL)
                 or all(KEPT_MESSAGE not in a.name for a in showing(app, pyatspi.ROLE_LABEL)))
    wait_for("自動実行する stayed ticked", lambda: not checked(auto_run))
    wait_for("メッセージを表示する stayed visible",
             lambda: not showing(window, pyatspi.ROLE_CHECK_BOX, "メッセージを表示する"))

    act(one(window, pyatspi.ROLE_PUSH_BUTTON, "終了"), "Press")
    print("ok: fields named, links are links, check box and buttons driven by their actions")


if __name__ == "__main__":
    main()
