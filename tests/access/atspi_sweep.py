#!/usr/bin/python3
"""The program's windows as a screen reader meets them through AT-SPI (python3-pyatspi): the
program runs under Xvfb with its own session bus and accessibility bus on a sample database; the
main window is walked, then each window its menus open, one at a time (closed again with its
close button or Escape); every focusable control (button, check box, radio button, combo box,
edit, spin box, list, table, tree) must have a name.

usage: dbus-run-session -- xvfb-run -a atspi_sweep.py PROGRAM MORV_DB
(atspi_sweep.sh sets that up.)
"""
import os
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
import pyatspi  # noqa: E402
from gi.repository import Atspi  # noqa: E402

# Calls to a program wait 5 s at most (libatspi waits 15 s on one that started recently).
CALL_TIMEOUT_MS = 5000

PROGRAM, MORV_DB = sys.argv[1], sys.argv[2]
ROLES = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_COMBO_BOX,
         pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_SPIN_BUTTON,
         pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE,
         pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_PAGE_TAB_LIST}
# Menu items that leave the program, lock the screen for a testee or wait on another program.
SKIP = ("Выход", "тестируемого", "Печать", "PDF", "Справка", "Содержание", "О программе", "сервер", "Сеанс")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def program(pid, timeout=30):
    end = time.time() + timeout
    names = []
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        names = []
        for app in desktop:
            if app is None:
                continue
            names.append(app.name)
            try:
                if app.get_process_id() == pid and app.childCount:
                    return app
            except Exception:
                pass
        time.sleep(0.3)
    print("applications on the bus:", names)
    return None


def walk(node, path=""):
    """Every accessible below node, with the window path to it."""
    try:
        children = list(node)
    except Exception:
        return
    for child in children:
        if child is None:
            continue
        yield child, path
        yield from walk(child, path + "/" + (child.name or child.getRoleName()))


def sweep(window, seen):
    """Fails on each focusable control of window without a name; counts the controls."""
    count = 0
    for node, path in walk(window, window.name):
        try:
            role, states, name = node.getRole(), node.getState(), node.name
        except Exception:
            continue
        if role not in ROLES or not states.contains(pyatspi.STATE_FOCUSABLE):
            continue
        if not states.contains(pyatspi.STATE_SHOWING):
            continue
        count += 1
        key = (path, node.getRoleName(), node.getIndexInParent())
        if key in seen:
            continue
        seen.add(key)
        check(name.strip() != "", "%s: a %s without a name (%s)" % (path, node.getRoleName(),
                                                                      node.description or "no description"))
    return count


def windows(app):
    return [w for w in app if w is not None and w.getState().contains(pyatspi.STATE_SHOWING)]


def menu_items(node, at=()):
    """The enabled menu items below node, each with its path of child indices from node."""
    out = []
    try:
        children = list(node)
    except Exception:
        return out
    for i, child in enumerate(children):
        if child is None:
            continue
        path = at + (i,)
        try:
            if child.getRole() == pyatspi.ROLE_MENU_ITEM and child.getState().contains(pyatspi.STATE_ENABLED):
                out.append((child, path))
        except Exception:
            pass
        out.extend(menu_items(child, path))
    return out


def follow(node, path):
    """The accessible at path below node (every step one D-Bus call, not a walk of the tree)."""
    try:
        for i in path:
            node = node.getChildAtIndex(i)
        return node
    except Exception:
        return None


def press(node, names):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in names:
            # A modal window opened by it answers only once it closes: wait a second, not the
            # call's whole timeout.
            Atspi.set_timeout(1000, 1000)
            try:
                action.doAction(i)
            except Exception:
                pass
            finally:
                Atspi.set_timeout(CALL_TIMEOUT_MS, CALL_TIMEOUT_MS)
            return True
    return False


def main():
    Atspi.set_timeout(CALL_TIMEOUT_MS, CALL_TIMEOUT_MS)
    work = tempfile.mkdtemp(prefix="morv-atspi-")
    db = os.path.join(work, "db")
    subprocess.run([MORV_DB, "sample", db], check=True, stdout=subprocess.DEVNULL)
    env = dict(os.environ, MORV_ALIASES=os.path.join(work, "aliases.ini"), QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", QT_QPA_PLATFORM="xcb")
    subprocess.run([MORV_DB, "alias", "morv", db], check=True, stdout=subprocess.DEVNULL, env=env)
    seen, opened, controls = set(), [], 0

    def started():
        proc = subprocess.Popen([PROGRAM], env=env)
        app = program(proc.pid)
        return proc, app

    def item(app, label, path):
        """The menu item of label in a new program, reached by its path once the window has it."""
        end = time.time() + 20
        while app is not None and time.time() < end:
            shown = windows(app)
            node = follow(shown[0], path) if shown else None
            if node is not None and node.name == label:
                return node
            time.sleep(0.2)
        return None

    def others(app, main_window, wait=3.0):
        """The windows besides the main one, once one has appeared and settled."""
        end = time.time() + wait
        while time.time() < end:
            shown = [w for w in windows(app) if w.name != main_window]
            if shown:
                time.sleep(0.5)  # its controls are built after the window shows
                return [w for w in windows(app) if w.name != main_window]
            time.sleep(0.2)
        return []

    def stop(proc):
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()

    # The main window, and the names of the menu items that open windows.
    proc, app = started()
    try:
        if app is None:
            print("the program did not appear on the accessibility bus")
            return 1
        shown = windows(app)
        check(len(shown) == 1, "one window at the start: %s" % [w.name for w in shown])
        main_window = shown[0].name
        controls += sweep(shown[0], seen)
        opened.append(main_window)
        labels = [(i.name, path) for i, path in menu_items(shown[0])
                  if i.name.replace("&", "") and not any(x in i.name.replace("&", "") for x in SKIP)]
    finally:
        stop(proc)
    # Each window that opens from the menu, in a program of its own: closing a modal window
    # from outside is not something AT-SPI offers.
    for label, path in labels:
        began = time.time()
        proc, app = started()
        try:
            node = item(app, label, path)
            check(node is not None, "the menu item %s not found again" % label)
            if node is None or not press(node, ("click", "Press", "press", "activate", "Toggle")):
                continue
            for w in others(app, main_window):
                opened.append(w.name)
                controls += sweep(w, seen)
        finally:
            stop(proc)
            print("%s: %.1f s" % (label.replace("&", ""), time.time() - began), flush=True)
    print("swept %d windows (%s), %d controls" % (len(opened), ", ".join(opened), controls))
    if failures:
        print("%d controls without a name or other failures" % len(failures))
        return 1
    print("every control has a name")
    return 0


if __name__ == "__main__":
    sys.exit(main())
