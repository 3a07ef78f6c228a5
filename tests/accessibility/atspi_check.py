#!/usr/bin/python3
"""Reads the running program through the desktop accessibility bus (AT-SPI), as a
screen reader does, opening its windows the way a user would, and checks every
control it finds: named, a role that fits, its label linked, its check state
exposed, reachable by keyboard, and no access key shared with another control of
the same window. Prints one line per control and the count of controls that pass
everything; exits 1 when a control fails a check that is marked as required.

Needs a session bus with the accessibility bus, the program started with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1, and (on X11) xdotool for pointer clicks."""

import argparse
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

INTERACTIVE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_LIST,
    pyatspi.ROLE_LIST_BOX, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_LINK,
    pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_MENU_ITEM,
    pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_MENU, pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_IMAGE,
    pyatspi.ROLE_ICON, pyatspi.ROLE_DOCUMENT_WEB,
}
# Fields whose caption is a separate text on the window face: it must be linked.
NEEDS_LABEL = {pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT}
LISTS = {pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX}
# Shown for the user to look at or follow, never to type into.
NOT_FOCUSABLE_OK = {pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_IMAGE, pyatspi.ROLE_ICON, pyatspi.ROLE_MENU_ITEM,
                    pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_MENU, pyatspi.ROLE_DOCUMENT_WEB}
# Roles that say by themselves that the object is ticked or not (Qt 6.4's bridge does
# not pass the "checkable" state on, so a role is what a screen reader can rely on).
CHECK_ROLES = {pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_CHECK_MENU_ITEM,
               pyatspi.ROLE_TOGGLE_BUTTON}

DEADLINE = 30.0
# Captions the checker looks for, by the program's language.
TEXTS = {
    "de": {"settings": "Einstellungen", "help": "Hilfe", "close": "Schließen", "add": "Neu...", "update": "Akt"},
    "en": {"settings": "Settings", "help": "Help", "close": "Close", "add": "Add...", "update": "Update"},
}
MENUS = (pyatspi.ROLE_MENU, pyatspi.ROLE_POPUP_MENU)

# Pop-up menus are not children of the application (Qt leaves them out, as a
# toolkit does); a screen reader learns of them from the events they send.
EVENTS = []


def record(event):
    EVENTS.append(event)


def pump():
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, condition, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        pump()
        try:
            found = condition()
        except Exception:  # an object may vanish while we look at it
            found = None
        if found:
            return found
        time.sleep(0.1)  # the poll interval of the condition
    raise TimeoutError("timed out waiting for " + what)


def children(node):
    try:
        return [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return []


def state(node, flag):
    try:
        return node.getState().contains(flag)
    except Exception:
        return False


def walk(node, depth=0):
    """Every showing object below node (node included), and the pictures of showing
    objects that are hidden from screen readers as decoration."""
    if node is None or depth > 60:
        return
    yield node
    for child in children(node):
        if child is None:
            continue
        if state(child, pyatspi.STATE_SHOWING):
            yield from walk(child, depth + 1)
        elif child.getRole() in (pyatspi.ROLE_IMAGE, pyatspi.ROLE_ICON) and node.getRole() != pyatspi.ROLE_PAGE_TAB:
            yield child


def labelled(node):
    try:
        return any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY for r in node.getRelationSet())
    except Exception:
        return False


def key_binding(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return ""
    for i in range(action.nActions):
        binding = action.getKeyBinding(i)
        if binding:
            return binding.split(";")[0].lower().replace("<alt>", "alt+").replace(" ", "")
    return ""


def extents(node):
    return node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def click(node):
    box = extents(node)
    subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "1"],
                   check=True)


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "50", *names], check=True)


def press(node, name=None):
    action = node.queryAction()
    for i in range(action.nActions):
        if name is None or action.getName(i) == name:
            action.doAction(i)
            return
    raise RuntimeError("no action %s on %s" % (name, node.name))


def find_app(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in children(desktop):
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def frames(app):
    return [w for w in children(app) if w is not None and state(w, pyatspi.STATE_SHOWING)]


def find(root, role=None, name=None, where=None):
    for node in walk(root):
        if role is not None and node.getRole() != role:
            continue
        if name is not None and node.name.replace("&", "") != name:
            continue
        if where is not None and not where(node):
            continue
        return node
    return None


class Report:
    def __init__(self, strict):
        self.strict = strict
        self.controls = 0
        self.fully = 0
        self.web_controls = 0
        self.web_fully = 0
        self.failures = []
        self.seen = set()

    def check_window(self, title, root, expected_links=(), check_lists=False):
        """Checks every showing control of root; links are the texts that must be links."""
        items = []
        for node in walk(root):
            role = node.getRole()
            if node is root:
                continue
            is_expected_link = node.name in expected_links
            if role not in INTERACTIVE and not is_expected_link and not state(node, pyatspi.STATE_FOCUSABLE):
                continue
            if role == pyatspi.ROLE_PAGE_TAB_LIST:
                continue  # its tabs are the controls
            if node.parent is not None and node.parent.getRole() in LISTS:
                continue  # lines are judged with their list
            if role in (pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TREE_ITEM,
                        pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_COLUMN_HEADER):
                continue  # judged with their list
            items.append(node)
        bindings = {}
        for node in items:
            binding = key_binding(node)
            if binding:
                bindings.setdefault(binding, []).append(node)
        for node in items:
            key = (title.split("/")[0], node.getRoleName(), node.name, extents_tuple(node))
            if key in self.seen:
                continue
            self.seen.add(key)
            self.check_control(title, node, expected_links, bindings, check_lists)

    def check_control(self, title, node, expected_links, bindings, check_lists=False):
        role = node.getRole()
        problems = []  # (text, required)
        # A picture present on a showing window but not presented: marked as decoration.
        decorative = role in (pyatspi.ROLE_IMAGE, pyatspi.ROLE_ICON) and not state(node, pyatspi.STATE_SHOWING)
        if not node.name and not decorative:
            problems.append(("no name", state(node, pyatspi.STATE_FOCUSABLE) or role in (pyatspi.ROLE_IMAGE,)))
        if node.name in expected_links and role != pyatspi.ROLE_LINK:
            problems.append(("role %s, not link" % node.getRoleName(), True))
        if role in NEEDS_LABEL and not labelled(node):
            problems.append(("label not linked", True))
        if role == pyatspi.ROLE_RADIO_BUTTON and not labelled(node) and not group_named(node):
            problems.append(("question/group not linked", True))
        if check_lists and role in LISTS:
            lines = [c for c in children(node) if c is not None and c.getRole() != pyatspi.ROLE_SCROLL_BAR]
            unchecked = [c.name for c in lines if not checkable(c)]
            if not lines or unchecked:
                problems.append(("%d of %d lines without check state" % (len(unchecked), len(lines)), True))
        if role not in NOT_FOCUSABLE_OK and not decorative and not state(node, pyatspi.STATE_FOCUSABLE):
            problems.append(("not reachable by keyboard", True))
        binding = key_binding(node)
        if binding and len(bindings.get(binding, [])) > 1:
            others = [n.name for n in bindings[binding] if n != node]
            problems.append(("%s also on %s" % (binding, ", ".join(others)), True))
        self.controls += 1
        if not problems:
            self.fully += 1
        if role != pyatspi.ROLE_DOCUMENT_WEB and in_web_page(node):
            self.web_controls += 1
            self.web_fully += 0 if problems else 1
        states = ",".join(s for s, f in (("focusable", pyatspi.STATE_FOCUSABLE), ("checkable", pyatspi.STATE_CHECKABLE),
                                          ("checked", pyatspi.STATE_CHECKED),
                                          ("indeterminate", pyatspi.STATE_INDETERMINATE)) if state(node, f))
        line = "%-22s %-14s %-36s %-26s %s" % (title[:22], node.getRoleName()[:14], repr(node.name)[:36],
                                               "[" + states + "]" + (" " + binding if binding else ""),
                                               "ok" if not problems else "; ".join(p for p, _ in problems))
        if not node.name and not decorative:
            line += "  (in %s)" % " < ".join(ancestry(node))
        print(line, flush=True)
        for text, required in problems:
            if required or self.strict:
                self.failures.append("%s: %s %r: %s" % (title, node.getRoleName(), node.name, text))


def in_web_page(node):
    parent = node.parent
    while parent is not None:
        if parent.getRole() == pyatspi.ROLE_DOCUMENT_WEB:
            return True
        parent = parent.parent
    return False


def ancestry(node):
    names = []
    parent = node.parent
    while parent is not None and len(names) < 4:
        names.append("%s %r" % (parent.getRoleName(), parent.name))
        parent = parent.parent
    return names


def checkable(node):
    return node.getRole() in CHECK_ROLES or state(node, pyatspi.STATE_CHECKABLE)


def extents_tuple(node):
    try:
        box = extents(node)
        return (box.x, box.y, box.width, box.height)
    except Exception:
        return (0, 0, 0, 0)


def group_named(node):
    parent = node.parent
    while parent is not None and parent.getRole() not in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG):
        if parent.name and (parent.getRole() in (pyatspi.ROLE_PANEL, pyatspi.ROLE_FILLER, pyatspi.ROLE_GROUPING)):
            return True
        if labelled(parent):
            return True
        parent = parent.parent
    return False


def shown_menu():
    for event in reversed(EVENTS):
        source = event.source
        if event.type.startswith("object:state-changed:showing") and event.detail1 == 1 and source is not None \
                and source.getRole() in MENUS and state(source, pyatspi.STATE_SHOWING):
            return source
    return None


LISTENED = ("object:state-changed:showing", "object:state-changed:focused")


def listen(again=False):
    # Qt asks the registry for its listeners and only then subscribes to news of
    # new ones; a listener registered in between is never heard of. Registering
    # anew after a silent attempt reaches a program that has subscribed by then.
    if again:
        pyatspi.Registry.deregisterEventListener(record, *LISTENED)
    pyatspi.Registry.registerEventListener(record, *LISTENED)


def open_menu(program, app):
    # The program learns that someone listens only after the listener is registered
    # with the bus: the first pop-up may come too early to be reported. Then again.
    for attempt in range(4):
        if attempt > 0:
            listen(again=True)
        del EVENTS[:]
        shown = subprocess.Popen([program, "show"])
        try:
            menu = wait_for("the tray menu", shown_menu, 20)
            break
        except TimeoutError:
            keys("Escape")
            shown.wait(DEADLINE)
    else:
        raise TimeoutError("the tray menu was never reported")
    wait_for("its entries", lambda: any(c.getRole() == pyatspi.ROLE_MENU_ITEM for c in children(menu)))
    return shown, menu


def choose(program, app, report, entry):
    """Opens the menu with "show", checks it (once) and clicks entry; returns the new window."""
    before = set(w.name for w in frames(app))
    shown, menu = open_menu(program, app)
    if "menu" not in report.seen:
        report.seen.add("menu")
        report.check_window("tray menu", menu)
    item = wait_for(entry, lambda: find(menu, role=pyatspi.ROLE_MENU_ITEM, name=entry))
    click(item)
    shown.wait(DEADLINE)
    return wait_for("the window of " + entry,
                    lambda: next((w for w in frames(app) if w.name not in before and w.getRole() != pyatspi.ROLE_WINDOW),
                                 None))


def first_entry_focused(program, app):
    shown, menu = open_menu(program, app)
    try:
        first = next(n for n in walk(menu) if n.getRole() == pyatspi.ROLE_MENU_ITEM)

        def announced():
            return any(e.type.startswith("object:state-changed:focused") and e.detail1 == 1 and e.source is not None
                       and e.source.name == first.name for e in EVENTS) and state(first, pyatspi.STATE_FOCUSED)
        try:
            wait_for("focus on the first entry", announced, 5)
            ok = True
        except TimeoutError:
            ok = False
        return first.name, ok
    finally:
        keys("Escape")
        shown.wait(DEADLINE)


def web_page_exposed(window):
    def page():
        doc = find(window, role=pyatspi.ROLE_DOCUMENT_WEB)
        if doc is None:
            return None
        return sum(1 for _ in walk(doc)) > 3 and doc
    try:
        return wait_for("web page content", page, 45)
    except TimeoutError:
        return None


def select_tab(tab):
    # Answered once the program has switched: the pages report their new state at once.
    press(tab)


def check_settings(window, report, website):
    tabs = [n for n in walk(window) if n.getRole() == pyatspi.ROLE_PAGE_TAB]
    for index, tab in enumerate(tabs):
        select_tab(tab)
        if index == 0:
            check_mixed_category(window, report)
        report.check_window("Settings/" + tab.name, window, expected_links=(website, "Teilnahmebedingungen"),
                            check_lists=True)


def check_mixed_category(window, report):
    """Unticks a shop with the pointer; its category must then read as partly ticked."""
    lists = [n for n in walk(window) if n.getRole() in LISTS]
    if len(lists) < 2:
        report.failures.append("Settings/Shops: the two check lists are missing")
        return
    categories, shops = lists[0], lists[1]
    line = wait_for("a shop line", lambda: next(
        (c for c in children(shops) if c is not None and c.getRole() != pyatspi.ROLE_SCROLL_BAR), None), 10)
    box = extents(line)
    subprocess.run(["xdotool", "mousemove", str(box.x + 10), str(box.y + box.height // 2), "click", "1"], check=True)
    try:
        wait_for("a partly ticked category", lambda: any(
            state(c, pyatspi.STATE_INDETERMINATE) for c in children(categories) if c is not None), 5)
        print("Settings/Shops: unticking shop %r leaves its category reported as partly ticked" % line.name)
    except TimeoutError:
        report.failures.append("Settings/Shops: a partly ticked category is not reported as such")


def check_menu_window(program, app, report):
    """Wayland: "show" opens the menu inside a window; its entries must be there."""
    subprocess.Popen([program, "show"])
    window = wait_for("the menu window", lambda: next(
        (w for w in frames(app) if find(w, role=pyatspi.ROLE_MENU_ITEM) is not None), None))
    entries = [n for n in walk(window) if n.getRole() == pyatspi.ROLE_MENU_ITEM]
    print("menu window %r: %d entries: %s" % (window.name, len(entries), ", ".join(repr(e.name) for e in entries)))
    if len(entries) < 5:
        report.failures.append("menu window: the menu's entries are missing from the window")
    report.check_window("menu window", window)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--website", required=True, help="host:port of the vendor server as the windows show it")
    parser.add_argument("--language", choices=TEXTS, default="de", help="the language the program runs in")
    parser.add_argument("--menu-window", action="store_true", help="only the show window (Wayland)")
    parser.add_argument("--strict", action="store_true", help="every problem fails, not only the required ones")
    args = parser.parse_args()

    listen()
    app = wait_for("the program on the accessibility bus", lambda: find_app(args.pid))
    report = Report(args.strict)
    text = TEXTS[args.language]
    if args.menu_window:
        check_menu_window(args.program, app, report)
        return finish(report)

    name, focused = first_entry_focused(args.program, app)
    print("menu opened by keyboard: first entry %r focused: %s" % (name, focused))
    if not focused:
        report.failures.append("tray menu: the first entry %r is not focused when the menu opens" % name)

    for entry, links in (("Suchen", ()), ("Info", (args.website,)), ("eBay Galerie", ()), ("Style Voting", ())):
        window = choose(args.program, app, report, entry)
        if entry in ("eBay Galerie", "Style Voting"):
            page = web_page_exposed(window)
            print("%s: web page exposed: %s" % (entry, page is not None))
            if page is None:
                report.failures.append("%s: the web page is not exposed" % entry)
        if entry == "Suchen":
            subprocess.run(["xdotool", "type", "--delay", "50", "kleider"], check=True)
            wait_for("search results", lambda: find(window, role=pyatspi.ROLE_LIST_ITEM), 10)
        report.check_window(entry, window, expected_links=links)
        if entry == "Info":
            before = set(w.name for w in frames(app))
            press(find(window, role=pyatspi.ROLE_PUSH_BUTTON, where=lambda n: n.name.startswith(text["update"])))
            update = wait_for("the update window", lambda: next(
                (w for w in frames(app) if w.name not in before and w.getRole() != pyatspi.ROLE_WINDOW), None))
            report.check_window(update.name, update)

    settings = choose(args.program, app, report, text["settings"])
    check_settings(settings, report, args.website)
    title = text["help"]
    press(find(settings, role=pyatspi.ROLE_PUSH_BUTTON, name=title))
    window = wait_for(title, lambda: next((w for w in frames(app) if w.name == title), None))
    report.check_window(title, window)
    press(find(window, role=pyatspi.ROLE_PUSH_BUTTON, name=text["close"]))
    wait_for("the help window to close", lambda: all(w.name != title for w in frames(app)))

    # The link editor is modal: opened with the pointer, closed with Escape.
    tabs = [n for n in walk(settings) if n.getRole() == pyatspi.ROLE_PAGE_TAB]
    select_tab(tabs[1])
    before = set(w.name for w in frames(app))
    click(wait_for(text["add"], lambda: find(settings, role=pyatspi.ROLE_PUSH_BUTTON, name=text["add"])))
    editor = wait_for("the link editor", lambda: next(
        (w for w in frames(app) if w.name not in before and w.getRole() != pyatspi.ROLE_WINDOW), None))
    report.check_window(editor.name, editor)
    keys("Escape")

    return finish(report)


def finish(report):
    print("\nfully accessible controls: %d of %d (inside web pages: %d of %d)"
          % (report.fully, report.controls, report.web_fully, report.web_controls))
    for failure in report.failures:
        print("FAIL " + failure)
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main())
