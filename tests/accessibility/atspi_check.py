#!/usr/bin/python3
"""Reads the running program through the desktop accessibility bus (AT-SPI), as a
screen reader does, opening its windows the way a user would, and checks every
object it finds, strictly: each window (announced as a frame, dialog or alert and
named), each control (named, a role that fits, its label linked, its check state
exposed, reachable by keyboard, and an Alt access key of its own, unique in its
window), each line of a list (named, its check state exposed), each picture (named
or hidden as decoration), the message boxes, and no hidden tab left on the bus.
Prints one line per object, the count per window and in all; exits 1 when any
object fails.

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
TABLES = {pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE}
# Shown for the user to look at or follow, never to type into.
NOT_FOCUSABLE_OK = {pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_IMAGE, pyatspi.ROLE_ICON, pyatspi.ROLE_MENU_ITEM,
                    pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_MENU, pyatspi.ROLE_DOCUMENT_WEB}
LINES = {pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TREE_ITEM}
WINDOWS = {pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT}
# Read, not operated: reached by Tab or by reading, never by an access key.
DOCUMENTS = {pyatspi.ROLE_DOCUMENT_WEB, pyatspi.ROLE_DOCUMENT_FRAME, pyatspi.ROLE_DOCUMENT_TEXT}
# Roles that say by themselves that the object is ticked or not (Qt 6.4's bridge does
# not pass the "checkable" state on, so a role is what a screen reader can rely on).
CHECK_ROLES = {pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_CHECK_MENU_ITEM,
               pyatspi.ROLE_TOGGLE_BUTTON}

DEADLINE = 30.0
# Captions the checker looks for, by the program's language.
TEXTS = {
    "de": {"settings": "Einstellungen", "help": "Hilfe", "close": "Schließen", "add": "Neu...", "update": "Akt",
           "send": "Senden", "delete": "Löschen"},
    "en": {"settings": "Settings", "help": "Help", "close": "Close", "add": "Add...", "update": "Update",
           "send": "Send", "delete": "Delete"},
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
        binding = action.getKeyBinding(i).split(";")[0].lower().replace("<alt>", "alt+").replace(" ", "")
        if binding.startswith("alt+"):  # an access key, not a combo's "Down"
            return binding
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


def relation_targets(node, kind):
    try:
        return [r.getTarget(i) for r in node.getRelationSet() if r.getRelationType() == kind
                for i in range(r.getNTargets())]
    except Exception:
        return []


def label_keys(root):
    """Access keys of the labels of root by the path of what they name (Qt's lists and
    trees do not report their label themselves; the label reports them)."""
    keys_of = {}
    for node in walk(root):
        if node.getRole() == pyatspi.ROLE_LABEL:
            binding = key_binding(node)
            if binding:
                for target in relation_targets(node, pyatspi.RELATION_LABEL_FOR):
                    keys_of.setdefault(id_of(target), binding)
    return keys_of


def window_of(title):
    """The window a check belongs to: the settings are checked tab by tab."""
    return title.split("/")[0] if title.startswith("Settings/") else title


def access_key(node, labels=None):
    """The Alt key that reaches node: its own, or that of the label that names it."""
    own = key_binding(node)
    if own:
        return own
    for label in relation_targets(node, pyatspi.RELATION_LABELLED_BY):
        binding = key_binding(label)
        if binding:
            return binding
    return (labels or {}).get(id_of(node), "")


def is_document(node):
    """Text to read: a document, or a text that cannot be edited (the help)."""
    role = node.getRole()
    return role in DOCUMENTS or (role in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY)
                                 and not state(node, pyatspi.STATE_EDITABLE))


def is_line(node):
    parent = node.parent
    return parent is not None and parent.getRole() in LISTS | TABLES


def needs_access_key(node):
    role = node.getRole()
    if role in (pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_MENU):
        return True
    # Tabs are switched with Ctrl+Tab; lines are reached with the arrows of their list;
    # a label or document is read, not operated; a container hands the focus on to
    # its content; a control that is off (disabled) has no key that acts.
    if role in (pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_SCROLL_BAR, pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC) \
            or is_line(node) or is_document(node):
        return False
    if role in (pyatspi.ROLE_FILLER, pyatspi.ROLE_PANEL) and node.childCount > 0:
        return False
    if not state(node, pyatspi.STATE_ENABLED) and not state(node, pyatspi.STATE_SENSITIVE):
        return False
    return state(node, pyatspi.STATE_FOCUSABLE) and not in_web_page(node)


class Report:
    def __init__(self, strict):
        self.strict = strict
        self.controls = 0
        self.fully = 0
        self.web_controls = 0
        self.web_fully = 0
        self.failures = []
        self.seen = set()
        self.windows = {}  # window -> [objects, fully accessible]

    def check_window(self, title, root, expected_links=(), check_lists=False, window_roles=WINDOWS):
        """Checks root as a window and every showing object in it; links are the texts that must be links."""
        key = ("window", window_of(title))
        if key not in self.seen:
            self.seen.add(key)
            problems = []
            if root.getRole() not in window_roles:
                problems.append("role %s, not a window" % root.getRoleName())
            if not root.name:
                problems.append("no name")
            self.count(title, root, problems, "")
        items = []
        for node in walk(root):
            role = node.getRole()
            if node is root:
                continue
            if role == pyatspi.ROLE_PAGE_TAB_LIST:
                self.check_tabs(title, node)
                continue  # its tabs are the controls
            if is_line(node):
                if role not in (pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_COLUMN_HEADER,
                                pyatspi.ROLE_SCROLL_BAR):
                    items.append(node)  # judged as a line
                continue
            if role not in INTERACTIVE and node.name not in expected_links and not state(node, pyatspi.STATE_FOCUSABLE):
                continue
            if role in (pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_COLUMN_HEADER):
                continue
            items.append(node)
        labels = label_keys(root)
        bindings = {}
        for node in items:
            binding = access_key(node, labels) if not in_web_page(node) else ""
            if binding:
                bindings.setdefault(binding, []).append(node)
        for node in items:
            key = (title.split("/")[0], node.getRoleName(), node.name, extents_tuple(node))
            if key in self.seen:
                continue
            self.seen.add(key)
            self.check_control(title, node, expected_links, bindings, labels, check_lists)

    def check_tabs(self, title, tab_list):
        """Every tab on the bus must be one the user sees."""
        for tab in children(tab_list):
            if tab is None or tab.getRole() != pyatspi.ROLE_PAGE_TAB:
                continue
            box = extents_tuple(tab)
            if not state(tab, pyatspi.STATE_VISIBLE) or box[2] <= 0 or box[3] <= 0:
                key = ("hidden tab", tab.name)
                if key not in self.seen:
                    self.seen.add(key)
                    self.count(title, tab, ["a hidden tab is still on the bus"], "")

    def count(self, title, node, problems, binding):
        window = window_of(title)
        totals = self.windows.setdefault(window, [0, 0])
        totals[0] += 1
        totals[1] += 0 if problems else 1
        self.controls += 1
        self.fully += 0 if problems else 1
        states = ",".join(s for s, f in (("focusable", pyatspi.STATE_FOCUSABLE), ("checkable", pyatspi.STATE_CHECKABLE),
                                          ("checked", pyatspi.STATE_CHECKED),
                                          ("indeterminate", pyatspi.STATE_INDETERMINATE)) if state(node, f))
        line = "%-22s %-14s %-36s %-26s %s" % (title[:22], node.getRoleName()[:14], repr(node.name)[:36],
                                               "[" + states + "]" + (" " + binding if binding else ""),
                                               "ok" if not problems else "; ".join(problems))
        if problems and not node.name:
            line += "  (in %s)" % " < ".join(ancestry(node))
        print(line, flush=True)
        for text in problems:
            self.failures.append("%s: %s %r: %s" % (title, node.getRoleName(), node.name, text))

    def check_control(self, title, node, expected_links, bindings, labels, check_lists=False):
        role = node.getRole()
        problems = []
        line = is_line(node)
        # A picture present on a showing window but not presented: marked as decoration.
        decorative = role in (pyatspi.ROLE_IMAGE, pyatspi.ROLE_ICON) and not state(node, pyatspi.STATE_SHOWING)
        if not node.name and not decorative:
            problems.append("no name")
        if node.name in expected_links and role != pyatspi.ROLE_LINK:
            problems.append("role %s, not link" % node.getRoleName())
        if role in NEEDS_LABEL and not labelled(node) and not is_document(node):
            problems.append("label not linked")
        if role == pyatspi.ROLE_RADIO_BUTTON and not labelled(node) and not group_named(node):
            problems.append("question/group not linked")
        if line and check_lists and node.parent.getRole() in LISTS and not checkable(node):
            problems.append("line without check state")
        if role in LISTS | TABLES and not [c for c in children(node) if c is not None and is_line(c)
                                           and c.getRole() not in (pyatspi.ROLE_SCROLL_BAR,
                                                                   pyatspi.ROLE_COLUMN_HEADER,
                                                                   pyatspi.ROLE_TABLE_COLUMN_HEADER)]:
            problems.append("no lines")
        if (not line and role not in NOT_FOCUSABLE_OK and not decorative
                and not state(node, pyatspi.STATE_FOCUSABLE)):
            problems.append("not reachable by keyboard")
        binding = access_key(node, labels) if not in_web_page(node) else ""
        if not binding and needs_access_key(node):
            problems.append("no access key")
        if binding and len(bindings.get(binding, [])) > 1:
            others = [n.name for n in bindings[binding] if n != node]
            problems.append("%s also on %s" % (binding, ", ".join(others)))
        if role != pyatspi.ROLE_DOCUMENT_WEB and in_web_page(node):
            self.web_controls += 1
            self.web_fully += 0 if problems else 1
        self.count(title, node, problems, binding)


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
        report.check_window("tray menu", menu, window_roles=MENUS)
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


def check_settings(app, window, report, website, text):
    tabs = [n for n in walk(window) if n.getRole() == pyatspi.ROLE_PAGE_TAB]
    for index, tab in enumerate(tabs):
        select_tab(tab)
        if index == 0:
            check_mixed_category(window, report)
        report.check_window("Settings/" + tab.name, window, expected_links=(website, "Teilnahmebedingungen"),
                            check_lists=True)
        if tab.name == "Feedback":
            # Sending the placeholder: a warning with one button.
            check_message_box(app, report, lambda: press(find(window, role=pyatspi.ROLE_PUSH_BUTTON,
                                                              name=text["send"])))
        if tab.name == "Eigene Links":
            # Deleting a link asks first: a question with two buttons (answered No).
            links = find(window, where=lambda n: n.getRole() in TABLES)
            if links is not None and find(links, role=pyatspi.ROLE_TABLE_CELL) is not None:
                check_message_box(app, report, lambda: press(find(window, role=pyatspi.ROLE_PUSH_BUTTON,
                                                                  name=text["delete"])))
            else:
                report.failures.append("Settings/Eigene Links: no link to delete (the test stores one)")


def check_message_box(app, report, trigger):
    before = set(id_of(w) for w in frames(app))
    trigger()
    box = wait_for("a message box", lambda: next(
        (w for w in frames(app) if id_of(w) not in before and w.getRole() == pyatspi.ROLE_ALERT), None))
    report.check_window("message box %r" % box.name, box)
    keys("Escape")
    wait_for("the message box to close", lambda: all(id_of(w) != id_of(box) for w in frames(app)))


def id_of(node):
    try:
        return node.path
    except Exception:
        return repr(node)


def check_search_announced(window, report):
    """The count of shops found is told to a screen reader in the focused field and in a status line."""
    field = find(window, role=pyatspi.ROLE_TEXT) or find(window, role=pyatspi.ROLE_ENTRY)
    try:
        said = wait_for("the count in the field's description",
                        lambda: field.description if any(c.isdigit() for c in field.description) else None, 10)
        print("Suchen: announced %r" % said)
    except TimeoutError:
        report.failures.append("Suchen: the number of shops found is not announced")


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
            print("%s: web page exposed: %s, named %r" % (entry, page is not None, page.name if page else None))
            if page is None:
                report.failures.append("%s: the web page is not exposed" % entry)
            elif not page.name:
                report.failures.append("%s: the web page has no name" % entry)
        if entry == "Suchen":
            subprocess.run(["xdotool", "type", "--delay", "50", "kleider"], check=True)
            wait_for("search results", lambda: find(window, role=pyatspi.ROLE_LIST_ITEM), 10)
            check_search_announced(window, report)
        report.check_window(entry, window, expected_links=links)
        if entry == "Info":
            before = set(w.name for w in frames(app))
            press(find(window, role=pyatspi.ROLE_PUSH_BUTTON, where=lambda n: n.name.startswith(text["update"])))
            update = wait_for("the update window", lambda: next(
                (w for w in frames(app) if w.name not in before and w.getRole() != pyatspi.ROLE_WINDOW), None))
            report.check_window(update.name, update)

    settings = choose(args.program, app, report, text["settings"])
    check_settings(app, settings, report, args.website, text)
    title = text["help"]
    press(find(settings, role=pyatspi.ROLE_PUSH_BUTTON, name=title))
    window = wait_for(title, lambda: next((w for w in frames(app) if w.name == title), None))
    report.check_window(title, window)
    if find(window, where=lambda n: is_document(n) and n.name == title) is None:
        report.failures.append("%s: the help text is not a document named %r" % (title, title))
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
    print("\nstrict count per window (window, controls, lines, pictures; fully accessible of all):")
    for window, (objects, fully) in report.windows.items():
        print("  %-28s %3d of %3d" % (window, fully, objects))
    print("\nfully accessible controls: %d of %d (inside web pages: %d of %d)"
          % (report.fully, report.controls, report.web_fully, report.web_controls))
    for failure in report.failures:
        print("FAIL " + failure)
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main())
