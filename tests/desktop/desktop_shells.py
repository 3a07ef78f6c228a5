#!/usr/bin/python3
"""The tray icon, its menu and its notice in the desktops people use, each a real
shell on a virtual X display:

  gnome_x11      GNOME Shell 43 (--x11) with the AppIndicator extension
  gnome_wayland  GNOME Shell 43 nested (--nested --wayland) on the X display
  xfce           xfce4-panel (systray plugin) and xfwm4; xfce4-notifyd only by D-Bus activation
  lxqt           lxqt-panel (statusnotifier plugin) and lxqt-notificationd
  kde_x11        KDE Plasma 5.27: plasmashell, kwin_x11 and kded5 (the watcher)

Each scenario: the program starts before the panel and its icon shows once the panel
is there (found by its colour in the panel); the start notice is shown and clicked;
a category opens from the icon and a shop chosen there reaches $BROWSER; right-click
shows our menu, where a shop is chosen too; the panel restarts (GNOME Wayland: the
extension is switched off and on, several times) and the icon returns; a second start
of the program with the panel already there shows the icon. It prints a row of
results and leaves screenshots. Run as root, like desktop_tray.py
(it creates the unprivileged user); exit 77 means skipped.
"""
import os
import re
import shutil
import socket
import struct
import subprocess
import time
import zlib

import desktop_tray as tray
from desktop_tray import Failure, run, start_program, wait_for

GNOME_TOOLS = ["Xvfb", "gnome-shell", "gnome-extensions", "gsettings", "dbus-update-activation-environment",
               "dbus-daemon", "dbus-monitor", "xdotool", "gdbus",
               "/usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com/metadata.json"]
XFCE_NOTIFYD = "/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd"
TOOLS = {
    "gnome_x11": GNOME_TOOLS,
    "gnome_wayland": GNOME_TOOLS,
    "xfce": ["Xvfb", "xfce4-panel", "xfwm4", XFCE_NOTIFYD, "dbus-monitor", "xdotool", "gdbus"],
    "lxqt": ["Xvfb", "lxqt-panel", "lxqt-notificationd", "xfwm4", "dbus-monitor", "xdotool", "gdbus"],
    "kde_x11": ["Xvfb", "plasmashell", "kwin_x11", "kded5", "/usr/share/plasma/shells/org.kde.plasma.desktop",
                "dbus-monitor", "xdotool", "gdbus"],
    "kde_wayland": ["Xvfb", "plasmashell", "/usr/bin/kwin_wayland", "kded5",
                    "/usr/share/plasma/shells/org.kde.plasma.desktop",
                    "/usr/lib/x86_64-linux-gnu/qt5/plugins/platforms/libqwayland-generic.so", "dbus-monitor",
                    "xdotool", "gdbus"],
}
# Started on demand by D-Bus: xfce4-notifyd itself; Plasma's waits for plasmashell to take the name.
NOTIFIERS = {"xfce": "org.xfce.xfce4-notifyd.Notifications.service", "kde_x11": "org.kde.plasma.Notifications.service",
             "kde_wayland": "org.kde.plasma.Notifications.service"}
EXTENSION = "ubuntu-appindicators@ubuntu.com"
NOTICE = "Klicken Sie hier, um Quorvantis zu öffnen!"
CATEGORY = "Mode"
CHECKS = ["icon", "late panel", "restart", "category opens from the icon", "shop opens", "right-click menu",
          "notice shown", "notice click"]


# ---- pictures of the X display ------------------------------------------------------------

class Screen:
    """The X display's frame buffer, which Xvfb keeps as an XWD file."""

    def __init__(self, path):
        self.path = path

    def grab(self):
        with open(self.path, "rb") as f:
            data = f.read()
        header = struct.unpack(">25I", data[:100])
        size, self.width, self.height, self.stride, colours = header[0], header[4], header[5], header[12], header[19]
        start = size + colours * 12
        self.pixels = data[start:start + self.stride * self.height]
        return self

    def red_box(self, box):
        """Where our icon's dark red shows inside box (x, y, w, h), or None."""
        x0, y0, w, h = box
        xs, ys = [], []
        for y in range(y0, min(y0 + h, self.height)):
            row = self.pixels[y * self.stride + x0 * 4:y * self.stride + (x0 + w) * 4]
            # BGRX: red well above green and blue, as in the icon's #8b0000
            for x in range(0, len(row), 4):
                b, g, r = row[x], row[x + 1], row[x + 2]
                if r > 100 and g < 50 and b < 50:
                    xs.append(x0 + x // 4)
                    ys.append(y)
        if len(xs) < 20:
            return None
        return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1

    def save(self, path, box=None):
        x0, y0, w, h = box or (0, 0, self.width, self.height)
        rows = []
        for y in range(y0, y0 + h):
            row = self.pixels[y * self.stride + x0 * 4:y * self.stride + (x0 + w) * 4]
            rgb = bytearray(w * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
            rows.append(b"\0" + bytes(rgb))

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


# ---- what every desktop shares --------------------------------------------------------------

class Desktop:
    platform = "xcb"
    size = (1024, 768)
    strip = (0, 0, 1024, 40)  # where the panel shows icons
    shot_box = None  # the part of the screen the pictures keep
    name = ""
    left_click_draws = True  # Activate: our own drawn menu
    menu_icon_names = False  # the panel finds the shops' globe by name in our icon folder
    panel_is_watcher = True  # the StatusNotifier watcher goes and comes with the panel

    def __init__(self, session):
        self.session = session
        self.env = session.env
        self.results = {}
        self.monitor_log = os.path.join(session.root, "logs", "bus-calls.log")
        self.browser_log = os.path.join(session.root, "browser.log")
        script = os.path.join(session.root, "browser.sh")
        with open(script, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> %s\n' % self.browser_log)
        os.chmod(script, 0o755)
        self.env["BROWSER"] = script

    # -- the display
    def start_display(self):
        fb = os.path.join(self.session.root, "fb")
        os.makedirs(fb, exist_ok=True)
        read, write = os.pipe()
        self.session.processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", "%dx%dx24" % self.size,
             "+extension", "GLX", "-fbdir", fb], pass_fds=(write,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True))
        os.close(write)
        with os.fdopen(read) as f:
            self.env["DISPLAY"] = ":" + f.readline().strip()
        self.screen = Screen(os.path.join(fb, "Xvfb_screen0"))

    def shot(self, name, box=None, settle=True):
        self.before_shot()
        # Once the picture has settled: a shell draws what it was told a few frames later.
        frames = [b"", b"", b""]

        def settled():
            frames.append(self.screen.grab().pixels)
            del frames[0]
            return frames[0] == frames[1] == frames[2]
        try:
            wait_for("the picture to settle", settled if settle else lambda: self.screen.grab(), 5)
        except Failure:
            pass  # something moves on its own (a clock, a cursor): take it as it is
        self.screen.save(os.path.join(self.session.root, "shots", name), box or self.shot_box)

    def before_shot(self):
        pass

    def xdo(self, *args):
        return run(["xdotool"] + [str(a) for a in args], self.env)

    def click(self, point, button=1):
        self.xdo("mousemove", point[0], point[1])
        self.xdo("click", button)

    def keys(self, *names):
        for name in names:
            self.xdo("key", name)

    def park_pointer(self):
        self.xdo("mousemove", self.size[0] // 2, self.size[1] - 5)

    # -- the session bus
    def start_monitor(self):
        self.session.start("bus-calls", ["dbus-monitor", "--session",
                                          "type='method_call',interface='com.canonical.dbusmenu'",
                                          "type='method_call',interface='org.freedesktop.Notifications'",
                                          "type='method_call',interface='org.kde.StatusNotifierItem'"])
        wait_for("dbus-monitor", lambda: os.path.exists(self.monitor_log) and os.path.getsize(self.monitor_log) > 0)

    def mark(self):
        return os.path.getsize(self.monitor_log)

    def menu_calls(self, since):
        """(member, id, text) of each dbusmenu call since the mark."""
        with open(self.monitor_log, encoding="utf-8", errors="replace") as f:
            f.seek(since)
            text = f.read()
        calls = []
        for found in re.finditer(r"interface=com\.canonical\.dbusmenu; member=(\w+)\n((?:   .*\n?)*)", text):
            # (id, event) pairs of Event and EventGroup; ids alone of AboutToShow(Group)
            body = found.group(2)
            pairs = re.findall(r'int32 (-?\d+)\s+string "([^"]*)"', body)
            ids = [int(i) for i in re.findall(r"int32 (-?\d+)", body)]
            for entry, event in pairs or [(i, None) for i in ids[:1 if found.group(1) == "GetLayout" else None]]:
                calls.append((found.group(1), int(entry), event))
        return calls

    def opened(self, since, entry):
        """Whether the panel opened the entry's (sub)menu since the mark, by the event
        or by asking us to prepare it (libdbusmenu batches both into groups)."""
        return any(i == entry and (s == "opened" or m in ("AboutToShow", "AboutToShowGroup"))
                   for m, i, s in self.menu_calls(since))

    # -- the program's exported menu
    def item(self):
        """Our item's bus name (watchers list it by its unique name or by this one)."""
        prefix = "org.kde.StatusNotifierItem-%d-" % self.program.pid
        out = run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                   "org.freedesktop.DBus.ListNames"], self.env)
        names = [n for n in re.findall(r'string "([^"]*)"', out) if n.startswith(prefix)]
        if not names:
            raise Failure("the program owns no StatusNotifierItem name")
        return names[0]

    def layout(self):
        """(label, id, has children) of the top level of our exported menu, as a panel sees it."""
        service = self.item()
        out = run(["gdbus", "call", "--session", "--dest", service, "--object-path", "/MenuBar", "--method",
                   "com.canonical.dbusmenu.GetLayout", "0", "1", "[]"], self.env)
        self.layout_text = out
        entries = []
        for found in re.finditer(r"\((\d+), \{([^{}]*)\}, (?:@av )?\[", out):
            props = found.group(2)
            label = re.search(r"'label': <'([^']*)'>", props)
            if int(found.group(1)) == 0 or "'type': <'separator'>" in props or "'visible': <false>" in props \
                    or "'enabled': <false>" in props:
                continue
            entries.append(((label.group(1) if label else "").replace("_", ""), int(found.group(1)),
                            "'children-display': <'submenu'>" in props))
        return entries

    def category_downs(self):
        """How many Down presses reach the category from the top: the top level lists
        the catalogue's categories in order, before anything else."""
        fold = str.maketrans("äöüÄÖÜ", "aouAOU")
        tops = sorted({c.split("->")[0].replace("&amp;", "&").translate(fold).lower()
                       for c in re.findall(r'category="([^"]*)"', self.catalogue_text)})
        return tops.index(CATEGORY.lower()) + 1

    def category_id(self):
        """The category's id in our exported menu."""
        for label, entry, _ in self.layout():
            if label == CATEGORY:
                return entry
        raise Failure("no %s in our exported menu: %s" % (CATEGORY, self.layout_text[:500]))

    def shop_chosen(self, since_count):
        def chosen():
            try:
                with open(self.browser_log) as f:
                    lines = f.read().split()
            except FileNotFoundError:
                return None
            return lines[since_count:] or None
        return chosen

    def browser_count(self):
        try:
            with open(self.browser_log) as f:
                return len(f.read().split())
        except FileNotFoundError:
            return 0

    def check_shop(self, urls):
        """The address of one of the category's shops (through the vendor's shop link)."""
        shops = set(re.findall(r'<shop id="(\d+)"[^>]* category="%s"' % CATEGORY, self.catalogue_text))
        if not any(re.search(r"[?&]id=(\d+)(&|$)", url) and re.search(r"[?&]id=(\d+)", url).group(1) in shops
                   for url in urls):
            raise Failure("$BROWSER got %s, not a shop of %s" % (urls, CATEGORY))

    # -- the icon
    def icon(self, timeout=20):
        return wait_for("our icon in the panel", lambda: self.screen.grab().red_box(self.strip), timeout)

    def icon_point(self):
        x, y, w, h = self.icon()
        return x + w // 2, y + h // 2

    def no_icon(self):
        wait_for("our icon to leave the panel", lambda: not self.screen.grab().red_box(self.strip))

    def result(self, check, ok=True):
        self.results[check] = ok

    # -- the steps of every scenario
    def run(self):
        self.start_display()
        self.start_base()
        self.start_monitor()
        self.program = start_program(self.session, self.platform)
        self.before_panel()
        self.start_panel()
        problems = []
        # Each step on its own, so that one failure leaves the others' results.
        for step in (self.late_panel, self.notice, self.category_from_icon, self.right_click, self.restart,
                     self.panel_first):
            try:
                step()
            except Failure as problem:
                problems.append(str(problem))
                print("step failed: %s" % problem)
                self.shot("%s-failed-%s.png" % (self.name, step.__name__))
                self.keys("Escape", "Escape", "Escape")  # whatever menu is still open
                self.park_pointer()
        self.session.stop(self.program)
        if self.program.returncode != 0:
            problems.append("the program ended with %d" % self.program.returncode)
        if problems:
            raise Failure("; ".join(problems))

    def before_panel(self):
        wait_for("the program to find no panel", lambda: self.session.log_has(
            'No notification area found: the tray icon is not shown; "quorvantis show" opens the menu'))

    def late_panel(self):
        self.icon()
        self.result("late panel")
        self.shot("%s-desktop.png" % self.name)

    def notice(self):
        wait_for("the start notice", lambda: self.session.log_has("|DEBUG|Balloon shown: " + NOTICE), 90)
        ours = int(wait_for("its notification id", lambda: self.session.log_match(
            r"\|DEBUG\|Notification (\d+) sent$")).group(1))
        # Clicked once it has come to rest, as a person would: not while it slides in.
        seen = [None, None, None]

        def at_rest():
            seen.append(self.find_notice())
            del seen[0]
            return seen[0] is not None and seen[0] == seen[1] == seen[2] and seen[0]
        where = wait_for("our notice to come to rest", at_rest)
        self.result("notice shown")
        self.shot("%s-notice.png" % self.name, settle=False)  # a notice counts its time down, moving
        self.before_notice_click()
        self.click(where)
        # The service reports the click, or (xfce4-notifyd, on its body) only that a click closed it.
        wait_for("the program to hear of the click", lambda: self.session.log_match(
            r"\|DEBUG\|Notification %d clicked( \(closed by a click on it\))?$" % ours) and self.session.log_has(
            "|DEBUG|Menu asked for by a click on our notification"))
        self.menu_shown()
        self.after_notice_click()
        self.result("notice click")
        self.close_drawn_menu()

    def before_notice_click(self):
        pass

    def after_notice_click(self):
        pass

    def window_box(self, window):
        """(x, y, w, h) of an X window on the display, or None once it has gone."""
        out = run(["xdotool", "getwindowgeometry", "--shell", window], self.env, check=False)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        if not all(k in values for k in ("X", "Y", "WIDTH", "HEIGHT")):
            return None
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def drawn_windows(self):
        """Our drawn menu's windows (the menu and each open submenu): tall windows of ours."""
        found = []
        for window in run(["xdotool", "search", "--onlyvisible", "--classname", "quorvantis"], self.env,
                          check=False).split():
            box = self.window_box(window)
            if box and box[3] > 100:
                found.append(window)
        return found

    def menu_shown(self):
        wait_for("our drawn menu", self.drawn_windows)

    def close_drawn_menu(self):
        self.keys("Escape")
        try:
            wait_for("our drawn menu to close on Escape", lambda: not self.drawn_windows(), 3)
        except Failure:
            # Without the keyboard (the shell kept it), a click elsewhere closes it.
            print("our drawn menu did not close on Escape; a click beside it")
            self.click((5, self.size[1] // 2))
            wait_for("our drawn menu to close", lambda: not self.drawn_windows())

    def check_menu_place(self, what):
        """Our drawn menu and its submenu lie on the screen and off the panel."""
        panel = self.panel_box()
        for window in self.drawn_windows():
            x, y, w, h = box = self.window_box(window) or (0, 0, 0, 0)
            if x < 0 or y < 0 or x + w > self.size[0] or y + h > self.size[1]:
                raise Failure("%s: our menu %s leaves the screen" % (what, box))
            if panel and x < panel[0] + panel[2] and panel[0] < x + w and y < panel[1] + panel[3] \
                    and panel[1] < y + h:
                raise Failure("%s: our menu %s covers the panel %s" % (what, box, panel))
        if panel:
            print("%s: our menu clear of the panel %s" % (what, panel))

    panel_class = None  # the X window class of the panel, where it is one window

    def panel_box(self):
        """Where the panel lies: its window across the screen (None: not checked)."""
        if not self.panel_class:
            return None
        for window in run(["xdotool", "search", "--onlyvisible", "--classname", self.panel_class], self.env,
                          check=False).split():
            box = self.window_box(window)
            if box and box[2] >= self.size[0] * 3 // 4 and box[3] < 100:
                return box
        raise Failure("no window of %s across the screen" % self.panel_class)

    def choose_shop(self, what):
        self.shot("%s-%s-category.png" % (self.name, what))
        count = self.browser_count()
        self.keys("Return")
        self.check_shop(wait_for("%s: the shop to reach $BROWSER" % what, self.shop_chosen(count)))

    def exported_menu_to_shop(self, since, what):
        """In the panel's drawing of our exported menu: down to the category, into it,
        and its first entry, a shop."""
        wait_for("the panel to open our exported menu", lambda: self.opened(since, 0), 30)
        entry = self.category_id()
        self.keys(*(["Down"] * self.category_downs()))
        self.keys("Right")
        wait_for("%s: the category to open" % what, lambda: self.opened(since, entry))
        self.check_menu_icons(entry)
        self.result("category opens from the icon" if what == "icon" else "right-click menu")
        self.choose_shop(what)

    def check_menu_icons(self, category):
        """The category's shops carry the globe by name where the panel looks in our icon
        folder (the item's IconThemePath), as a picture elsewhere; the picture taken of
        the open category shows that the panel drew it."""
        out = run(["gdbus", "call", "--session", "--dest", self.item(), "--object-path", "/MenuBar", "--method",
                   "com.canonical.dbusmenu.GetLayout", str(category), "1", "[]"], self.env)
        named = out.count("'icon-name': <'quorvantis-globe'>")
        pictures = out.count("'icon-data': <")
        print("%s: the category's shops have the globe by name %d times, a picture %d times" % (
            self.name, named, pictures))
        if (named > 0) != self.menu_icon_names or (pictures > 0 and self.menu_icon_names and named == 0):
            raise Failure("the globe went %s, not %s" % ("by name" if named else "as a picture",
                                                         "by name" if self.menu_icon_names else "as a picture"))

    def drawn_menu_to_shop(self, what):
        self.keys(*(["Down"] * self.category_downs()))
        self.keys("Right")
        wait_for("%s: the category's submenu" % what, lambda: len(self.drawn_windows()) >= 2)
        self.check_menu_place(what)
        self.result("category opens from the icon" if what == "icon" else "right-click menu")
        self.choose_shop(what)

    def category_from_icon(self):
        since = self.mark()
        self.click(self.icon_point(), 1)
        if self.left_click_draws:
            # The panel asks us (Activate); we draw the menu ourselves.
            self.menu_shown()
            self.drawn_menu_to_shop("icon")
        else:
            self.exported_menu_to_shop(since, "icon")
        self.result("shop opens")

    def right_click(self):
        since = self.mark()
        self.click(self.icon_point(), 3)
        # Either the panel draws our exported menu, or it asks us (ContextMenu) to draw ours.
        wait_for("a menu of ours", lambda: self.opened(since, 0) or self.drawn_windows(), 30)
        if self.opened(since, 0):
            self.exported_menu_to_shop(since, "right-click")
        else:
            self.drawn_menu_to_shop("right-click")

    def panel_first(self):
        """The usual start: the panel is there before the program."""
        self.session.stop(self.program)
        if self.program.returncode != 0:
            raise Failure("the program ended with %d" % self.program.returncode)
        self.no_icon()
        self.session.clear_log()
        self.program = start_program(self.session, self.platform)
        self.icon()
        self.result("icon")

    def restart(self):
        self.stop_panel()
        self.no_icon()
        if self.panel_is_watcher:
            wait_for("the program to notice the panel has gone", lambda: self.session.log_has(
                "|DEBUG|The StatusNotifier watcher has gone"))
        self.session.clear_log()
        self.start_panel()
        if self.panel_is_watcher:
            wait_for("the item to register again", lambda: self.session.log_has(
                "|INFO|Tray icon registered with the StatusNotifier watcher"), 20)
        self.icon()
        self.result("restart")


# ---- GNOME Shell ------------------------------------------------------------------------------

class Gnome(Desktop):
    left_click_draws = False  # the extension draws our exported menu on either button

    def start_base(self):
        root = self.session.root
        self.session.start("system-bus", ["dbus-daemon", "--config-file", os.path.join(root, "session.conf"),
                                          "--address", "unix:path=%s/system-bus" % root, "--nofork"])
        wait_for("the stand-in system bus", lambda: os.path.exists(root + "/system-bus"))
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=%s/system-bus" % root
        self.env.update(XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_TYPE="x11" if self.platform == "xcb" else "wayland")
        # dconf, started by the bus, must write where the shell reads.
        run(["dbus-update-activation-environment", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
             "XDG_RUNTIME_DIR", "DISPLAY", "HOME", "DBUS_SYSTEM_BUS_ADDRESS"], self.env)
        # Screen lock needs GDM; without it the shell shows a notice of its own.
        run(["gsettings", "set", "org.gnome.desktop.screensaver", "lock-enabled", "false"], self.env)
        run(["gsettings", "set", "org.gnome.desktop.lockdown", "disable-lock-screen", "true"], self.env)

    def shell_state(self, name):
        out = run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell",
                   "--method", "org.freedesktop.DBus.Properties.Get", "org.gnome.Shell", name], self.env, check=False)
        return out.strip()

    def leave_overview(self):
        # The shell starts in the overview once its start animation has run.
        wait_for("the shell's overview", lambda: self.shell_state("OverviewActive") == "(<true>,)", 90)
        self.xdo("mousemove", 300, 300)
        pressed = [0.0]

        def left():
            if self.shell_state("OverviewActive") == "(<false>,)":
                return True
            if time.monotonic() - pressed[0] > 1:  # a key pressed during its animation is lost: again
                self.keys("Escape")
                pressed[0] = time.monotonic()
            return False
        wait_for("the shell to leave the overview", left)

    def find_notice(self):
        # GNOME's banner drops in at the top, in the middle, with our icon in it.
        banner = (self.size[0] // 2 - 260, 36, 520, 90)
        x, y, w, h = wait_for("our notice's banner", lambda: self.screen.grab().red_box(banner))
        return self.size[0] // 2, y + h // 2


class GnomeX11(Gnome):
    name = "gnome-x11"
    size = (1920, 1080)  # a category opens inside the top menu: it needs the height
    strip = (1400, 0, 480, 32)

    def start_panel(self):
        run(["gsettings", "set", "org.gnome.shell", "enabled-extensions", "['%s']" % EXTENSION], self.env)
        self.shell = self.session.start("gnome-shell", ["gnome-shell", "--x11", "--replace"])
        self.leave_overview()

    def stop_panel(self):
        self.session.stop(self.shell)

    # The notice is clicked with the overview open, which hides X11 windows under it:
    # the menu must wait for it to close and show on the desktop.
    def before_notice_click(self):
        run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell",
             "--method", "org.freedesktop.DBus.Properties.Set", "org.gnome.Shell", "OverviewActive", "<true>"],
            self.env)
        wait_for("the overview to open", lambda: self.shell_state("OverviewActive") == "(<true>,)")
        self.shot("%s-notice-in-overview.png" % self.name, settle=False)

    def after_notice_click(self):
        wait_for("the program to close the overview first", lambda: self.session.log_has(
            "|DEBUG|The menu waits for GNOME's overview to close"))
        if self.shell_state("OverviewActive") != "(<false>,)":
            raise Failure("our menu opened with the overview still open")
        windows = self.drawn_windows()
        x, y, w, h = self.window_box(windows[0]) if windows else (0, 0, 0, 0)
        wait_for("our menu's side bar in the picture, above all", lambda: self.screen.grab().red_box((x, y, 40, h)))
        self.shot("%s-notice-menu.png" % self.name)


class GnomeWayland(Gnome):
    name = "gnome-wayland"
    platform = "wayland"
    size = (1920, 1080)  # a category opens inside the top menu: it needs the height
    strip = (1400, 0, 480, 32)

    def start_base(self):
        Gnome.start_base(self)
        run(["gsettings", "set", "org.gnome.shell", "enabled-extensions", "[]"], self.env)
        self.session.start("gnome-shell", ["gnome-shell", "--nested", "--wayland", "--no-x11", "--wayland-display",
                                           "qv-wayland"], XDG_SESSION_TYPE="wayland",
                           MUTTER_DEBUG_DUMMY_MODE_SPECS="%dx%d" % self.size)  # its window fills the display
        wait_for("the nested shell's Wayland socket", lambda: os.path.exists(self.session.runtime + "/qv-wayland"), 90)
        self.env["WAYLAND_DISPLAY"] = "qv-wayland"
        self.leave_overview()

    def before_shot(self):
        # The nested shell paints its window anew on input; a pointer move of one pixel
        # and back brings the picture up to date.
        self.xdo("mousemove_relative", "--", 1, 0)
        self.xdo("mousemove_relative", "--", -1, 0)

    def drawn_menu(self):
        # Its window, wherever the shell put it: the tall red band down its side.
        box = self.screen.grab().red_box((0, 40, self.size[0], self.size[1] - 40))
        return box if box and box[3] > 150 else None

    def menu_shown(self):
        wait_for("our drawn menu", self.drawn_menu)

    def close_drawn_menu(self):
        self.keys("Escape")
        wait_for("our drawn menu to close", lambda: not self.drawn_menu())

    def info_logo(self):
        """The Info window's cart logo in its banner (small, unlike the menu's side bar)."""
        self.before_shot()
        box = self.screen.grab().red_box((0, 40, self.size[0], self.size[1] - 40))
        return box if box and box[3] < 60 else None

    def after_notice_click(self):
        # The Info window by its access key in the menu: a picture of its texts in GNOME's font.
        self.keys("i")
        x, y, w, h = wait_for("the Info window", self.info_logo)
        self.shot("%s-info.png" % self.name, (max(x - 20, 0), max(y - 50, 0), 640, 400))
        self.keys("Escape")
        wait_for("the Info window to close", lambda: not self.info_logo())

    def start_panel(self):
        run(["gnome-extensions", "enable", EXTENSION], self.env)

    def stop_panel(self):
        run(["gnome-extensions", "disable", EXTENSION], self.env)
        self.no_icon()

    def restart(self):
        # Switching the extension off and on is the shell's restart here; several times,
        # as each cycle reads our item's properties anew.
        for cycle in range(4):
            Desktop.restart(self)


# ---- XFCE -------------------------------------------------------------------------------------

XFCE_PANEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty"><property name="plugin-1" type="string" value="systray"/></property>
</channel>
"""


class Xfce(Desktop):
    name = "xfce"
    panel_class = "xfce4-panel"
    strip = (0, 0, 1024, 32)

    def start_base(self):
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "xfce4-panel.xml"), "w") as f:
            f.write(XFCE_PANEL)
        self.env["XDG_CURRENT_DESKTOP"] = "XFCE"
        run(["dbus-update-activation-environment", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
             "XDG_RUNTIME_DIR", "DISPLAY", "HOME", "XDG_CURRENT_DESKTOP"], self.env)
        self.session.start("xfwm4", ["xfwm4", "--compositor=off"])
        wait_for("xfwm4", self.wm_running)
        if self.session.has_name("org.freedesktop.Notifications"):
            raise Failure("a notification service runs already; it should start on demand")

    def wm_running(self):
        return "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], self.env, check=False)

    def start_panel(self):
        self.panel = self.session.start("xfce4-panel", ["xfce4-panel", "--disable-wm-check"])

    def stop_panel(self):
        self.session.stop(self.panel)

    def find_notice(self):
        window = wait_for("xfce4-notifyd's window", lambda: run(
            ["xdotool", "search", "--onlyvisible", "--class", "xfce4-notifyd"], self.env, check=False).split())[0]
        geometry = run(["xdotool", "getwindowgeometry", "--shell", window], self.env)
        values = dict(line.split("=") for line in geometry.split())
        return int(values["X"]) + 30, int(values["Y"]) + 20


# ---- LXQt -------------------------------------------------------------------------------------

LXQT_PANEL = """[General]
__userfile__=true

[panel1]
plugins=statusnotifier
position=Top
desktop=0
panelSize=32
iconSize=22

[statusnotifier]
type=statusnotifier
"""


class Lxqt(Desktop):
    name = "lxqt"
    panel_class = "lxqt-panel"
    strip = (0, 0, 1024, 34)

    def start_base(self):
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "lxqt")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "panel.conf"), "w") as f:
            f.write(LXQT_PANEL)
        self.env.update(XDG_CURRENT_DESKTOP="LXQt", QT_QPA_PLATFORMTHEME="lxqt")
        self.session.start("xfwm4", ["xfwm4", "--compositor=off"])
        wait_for("xfwm4", lambda: "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], self.env,
                                                       check=False))

    def start_panel(self):
        self.panel = self.session.start("lxqt-panel", ["lxqt-panel"])
        if not getattr(self, "notifier", None):
            self.notifier = self.session.start("lxqt-notificationd", ["lxqt-notificationd"])

    def stop_panel(self):
        self.session.stop(self.panel)

    def find_notice(self):
        window = wait_for("lxqt-notificationd's window", lambda: run(
            ["xdotool", "search", "--onlyvisible", "--class", "lxqt-notificationd"], self.env, check=False).split())[0]
        geometry = run(["xdotool", "getwindowgeometry", "--shell", window], self.env)
        values = dict(line.split("=") for line in geometry.split())
        return int(values["X"]) + int(values["WIDTH"]) // 2, int(values["Y"]) + int(values["HEIGHT"]) // 2


# ---- KDE Plasma on X11 --------------------------------------------------------------------------

class Kde(Desktop):
    name = "kde-x11"
    panel_class = "plasmashell"  # its bottom panel; the desktop's window is screen-high
    strip = (600, 720, 424, 48)
    panel_is_watcher = False  # kded keeps the watcher; plasmashell is its host
    menu_icon_names = True
    shot_box = (400, 300, 624, 468)  # the tray's corner, without most of the wallpaper

    def start_base(self):
        self.env.update(XDG_CURRENT_DESKTOP="KDE", KDE_FULL_SESSION="true", KDE_SESSION_VERSION="5")
        run(["dbus-update-activation-environment", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
             "XDG_RUNTIME_DIR", "DISPLAY", "HOME", "XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION",
             "KDE_SESSION_VERSION"], self.env)
        # kwin_x11 has been seen to give up at once ("could not connect to display")
        # on a loaded machine although the display answered; a second start then works.
        for attempt in range(3):
            kwin = self.session.start("kwin_x11", ["kwin_x11"])
            wait_for("kwin", lambda: kwin.poll() is not None or "window id" in run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], self.env, check=False), 90)
            if kwin.poll() is None:
                break
            print("kwin_x11 ended at its start with %d; the display answers: %s" % (
                kwin.returncode, bool(run(["xprop", "-root", "_NET_SUPPORTED"], self.env, check=False))))
        else:
            raise Failure("kwin_x11 did not start")
        self.session.start("kded5", ["kded5"])
        wait_for("kded's StatusNotifier watcher", lambda: self.session.has_name("org.kde.StatusNotifierWatcher"), 90)

    def before_panel(self):
        # kded's watcher takes the item at once; the panel that shows it comes later.
        wait_for("the item to register with kded's watcher", lambda: self.session.log_has(
            "|INFO|Tray icon registered with the StatusNotifier watcher"))

    def start_panel(self):
        self.panel = self.session.start("plasmashell", ["plasmashell", "--no-respawn"])


    def stop_panel(self):
        self.session.stop(self.panel)

    def find_notice(self):
        # Plasma's popup rises above the panel at the right, our icon at its right side:
        # its text is to the left of it.
        area = (self.size[0] - 480, self.size[1] - 360, 480, 312)
        x, y, w, h = wait_for("our notice's popup", lambda: self.screen.grab().red_box(area))
        return x - 150, y + h // 2


# ---- KDE Plasma on Wayland ----------------------------------------------------------------------

# Lists KWin's windows (popups included) and the area free of panels into KWin's
# log, each line marked, since a script's print() goes nowhere else.
KWIN_PROBE = """
function line(w) {
    var g = w.frameGeometry;
    print("%(mark)s window|" + w.resourceClass + "|" + w.caption + "|" + g.x + "|" + g.y + "|" + g.width + "|"
          + g.height + "|" + w.popupWindow + "|" + w.dock);
}
var seen = workspace.clientList();
for (var i = 0; i < seen.length; ++i)
    line(seen[i]);
try {
    var order = workspace.stackingOrder;
    for (var i = 0; i < order.length; ++i)
        if (seen.indexOf(order[i]) < 0)
            line(order[i]);
} catch (e) {
    print("%(mark)s error|" + e);
}
try {
    var a = workspace.clientArea(KWin.PlacementArea, workspace.activeScreen, workspace.currentDesktop);
    print("%(mark)s area|" + a.x + "|" + a.y + "|" + a.width + "|" + a.height);
} catch (e) {
    print("%(mark)s error|" + e);
}
print("%(mark)s end");
"""


class KdeWayland(Kde):
    name = "kde-wayland"
    platform = "wayland"
    left_click_draws = True  # our menu window (no pop-up at a cursor on Wayland)
    shot_box = None  # KWin places our window in the middle

    def start_base(self):
        root = self.session.root
        # Debian's kwin_wayland carries file capabilities (cap_sys_resource), which an
        # unprivileged user in a container may not gain: exec fails with EPERM. A copy
        # has none and runs; only its realtime scheduling is lost.
        self.kwin_binary = os.path.join(root, "kwin_wayland")
        shutil.copyfile("/usr/bin/kwin_wayland", self.kwin_binary)
        os.chmod(self.kwin_binary, 0o755)
        self.kwin_log = os.path.join(root, "logs", "kwin_wayland.log")
        self.probes = 0
        self.env.update(XDG_CURRENT_DESKTOP="KDE", KDE_FULL_SESSION="true", KDE_SESSION_VERSION="5",
                        XDG_SESSION_TYPE="wayland")
        # Its output is a window on the X display, filling it.
        kwin = self.session.start("kwin_wayland", [
            self.kwin_binary, "--x11-display", self.env["DISPLAY"], "--socket", "qv-kwin", "--width",
            str(self.size[0]), "--height", str(self.size[1]), "--no-lockscreen"],
            QT_LOGGING_RULES="kwin_scripting.debug=true")
        socket_path = os.path.join(self.session.runtime, "qv-kwin")

        def answers():
            if kwin.poll() is not None:
                raise Failure("kwin_wayland ended at its start with %d" % kwin.returncode)
            probe = socket.socket(socket.AF_UNIX)
            try:
                probe.connect(socket_path)
                return True
            except OSError:
                return False
            finally:
                probe.close()
        wait_for("kwin_wayland's socket", answers, 90)
        wait_for("KWin on the bus", lambda: self.session.has_name("org.kde.KWin"), 90)
        self.env.update(WAYLAND_DISPLAY="qv-kwin", QT_QPA_PLATFORM="wayland")
        run(["dbus-update-activation-environment", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
             "XDG_RUNTIME_DIR", "DISPLAY", "HOME", "XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION",
             "KDE_SESSION_VERSION", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"], self.env)
        self.session.start("kded5", ["kded5"])
        wait_for("kded's StatusNotifier watcher", lambda: self.session.has_name("org.kde.StatusNotifierWatcher"), 90)

    def windows(self):
        """KWin's windows: (class, caption, (x, y, w, h), popup, dock), and the free area."""
        self.probes += 1
        mark = "QVPROBE%d" % self.probes
        script = os.path.join(self.session.root, "probe%d.js" % self.probes)
        with open(script, "w") as f:
            f.write(KWIN_PROBE % {"mark": mark})
        run(["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", "/Scripting", "--method",
             "org.kde.kwin.Scripting.loadScript", script, mark], self.env)
        run(["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", "/Scripting", "--method",
             "org.kde.kwin.Scripting.start"], self.env)

        def lines():
            with open(self.kwin_log, encoding="utf-8", errors="replace") as f:
                found = [l.split(mark + " ", 1)[1] for l in f.read().splitlines() if mark + " " in l]
            return found if "end" in found else None
        found = wait_for("KWin's list of windows", lines, 20)
        os.remove(script)
        run(["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", "/Scripting", "--method",
             "org.kde.kwin.Scripting.unloadScript", mark], self.env, check=False)
        windows, area = [], None
        for entry in found:
            parts = entry.split("|")
            if parts[0] == "window":
                windows.append((parts[1], parts[2], tuple(int(float(v)) for v in parts[3:7]), parts[7] == "true",
                                parts[8] == "true"))
            elif parts[0] == "area":
                area = tuple(int(float(v)) for v in parts[1:5])
            elif parts[0] == "error":
                print("KWin script: " + parts[1])
        return windows, area

    def ours(self):
        return [w for w in self.windows()[0] if w[0] == "quorvantis"]

    def panel_box(self):
        docks = [w[2] for w in self.windows()[0] if w[4]]
        if not docks:
            raise Failure("KWin lists no panel")
        return docks[0]

    # Our menu is a window here, not pop-ups: KWin tells where it is.
    def drawn_windows(self):
        return [w for w in self.ours() if w[2][3] > 100]

    def window_box(self, window):
        return window[2]

    def side_bar_shown(self):
        """Whether our window shows the top level (its red side bar) rather than a submenu."""
        found = self.drawn_windows()
        if not found:
            return None
        x, y, w, h = found[0][2]
        band = self.screen.grab().red_box((max(x, 0), max(y, 0), min(w, 60), h))
        return bool(band and band[3] > 150)

    def drawn_menu_to_shop(self, what):
        wait_for("our menu window's top level", self.side_bar_shown)
        # The window opens with its first entry highlighted.
        self.keys(*(["Down"] * (self.category_downs() - 1)))
        self.keys("Right")
        # The submenu takes the window's place: the side bar goes.
        wait_for("%s: the category in our menu window" % what, lambda: self.side_bar_shown() is False)
        self.check_menu_place(what)
        self.result("category opens from the icon" if what == "icon" else "right-click menu")
        self.choose_shop(what)

    def close_drawn_menu(self):
        self.keys("Escape")
        wait_for("our menu window to close", lambda: not self.drawn_windows())

    def exported_menu_to_shop(self, since, what):
        """Plasma's drawing of our exported menu: the category's first opening must lie
        on the screen, off the panel, once it has its entries."""
        wait_for("the panel to open our exported menu", lambda: self.opened(since, 0), 30)
        entry = self.category_id()
        self.keys(*(["Down"] * self.category_downs()))
        self.keys("Right")
        wait_for("%s: the category to open" % what, lambda: self.opened(since, entry))
        seen = [None, None]

        def settled():
            popups = sorted(w[2] for w in self.windows()[0] if w[3] and w[0] != "quorvantis")
            seen.append(popups)
            del seen[0]
            return len(popups) >= 2 and seen[0] == seen[1] and popups
        popups = wait_for("%s: Plasma's menu and submenu to settle" % what, settled, 30)
        windows, area = self.windows()
        print("%s: Plasma's menus %s in the free area %s" % (what, popups, area))
        for x, y, w, h in popups:
            if x < 0 or y < 0 or x + w > self.size[0] or y + h > self.size[1]:
                raise Failure("%s: a menu of Plasma's at %s leaves the screen" % (what, (x, y, w, h)))
            if area and (x < area[0] or y < area[1] or x + w > area[0] + area[2] or y + h > area[1] + area[3]):
                raise Failure("%s: a menu of Plasma's at %s covers the panel (free area %s)" % (what, (x, y, w, h),
                                                                                               area))
        self.result("category opens from the icon" if what == "icon" else "right-click menu")
        self.choose_shop(what)


DESKTOPS = {"gnome_x11": GnomeX11, "gnome_wayland": GnomeWayland, "xfce": Xfce, "lxqt": Lxqt, "kde_x11": Kde,
            "kde_wayland": KdeWayland}


def scenario(kind):
    def play(session):
        desktop = DESKTOPS[kind](session)
        with open(os.path.join(session.root, "catalogue.xml"), encoding="utf-8") as f:
            # One category holding shops itself: every panel shows it as one submenu.
            desktop.catalogue_text = re.sub(r'category="Mode->[^"]*"', 'category="%s"' % CATEGORY, f.read())
        with open(os.path.join(session.root, "catalogue.xml"), "w", encoding="utf-8") as f:
            f.write(desktop.catalogue_text)
        session.catalogue(None)
        try:
            desktop.run()
        finally:
            print("%s: %s" % (desktop.name, ", ".join("%s %s" % (c, "yes" if desktop.results.get(c) else "NO")
                                                    for c in CHECKS)))
    return play


if __name__ == "__main__":
    tray.main("desktop_shells.py", TOOLS, {kind: scenario(kind) for kind in TOOLS}, NOTIFIERS)
