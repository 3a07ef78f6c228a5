#!/usr/bin/python3
"""The tray icon, its notifications and "show" on real desktop components.

  sway    headless sway with waybar's tray and dunst: waybar starts 5 s after the
          program, is killed and started again; the first-start notification is
          clicked through dunstctl, another program's notification too; "show"
          after the start-time update window.
  x11     Xvfb with trayer (XEmbed) started 5 s after the program, then restarted.

Run as root: it creates an unprivileged user (sway refuses root) and runs every
component as that user in a private session bus, inside a network namespace of
its own (loopback only). Exit 77 means skipped.
"""
import argparse
import glob
import json
import os
import pwd
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

USER = "qvdesktop"
SKIP = 77
TOOLS = {
    "sway": ["sway", "swaymsg", "waybar", "dunst", "dunstctl", "notify-send", "grim", "dbus-monitor"],
    "x11": ["Xvfb", "trayer", "xdotool", "xwininfo"],
}


class Failure(Exception):
    pass


def wait_for(what, condition, timeout=60.0):
    # Generous: a desktop on a loaded machine may take long to start; a wait that
    # succeeds returns at once, and each test has its own CTest limit.
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)  # the poll interval of the condition


def run(argv, env, check=True, timeout=30):
    done = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise Failure("%s failed (%d): %s" % (" ".join(argv), done.returncode, done.stderr.strip()))
    return done.stdout


# ---- outer part: root prepares the user, the folder and the namespace ----------------

# Each scenario's notification service, if D-Bus may start one on demand. The other
# desktops' services are left out of the session bus, so that none of them answers in
# its place (another notification service, kded with its StatusNotifier watcher).
NOTIFIERS = {"sway": "org.knopwob.dunst.service"}


def bus_config(root, scenario, notifiers):
    services = os.path.join(root, "services")
    os.makedirs(services)
    for path in glob.glob("/usr/share/dbus-1/services/*.service"):
        with open(path, errors="replace") as f:
            name = re.search(r"^Name=(\S+)", f.read(), re.M)
        name = name.group(1) if name else ""
        if name == "org.freedesktop.Notifications" and notifiers.get(scenario) != os.path.basename(path):
            continue
        if name.startswith("org.kde.") and not scenario.startswith("kde"):
            continue
        shutil.copy(path, services)
    config = os.path.join(root, "session.conf")
    with open(config, "w") as f:
        f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"\n'
                ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                "<busconfig><type>session</type><keep_umask/><listen>unix:tmpdir=/tmp</listen>"
                "<auth>EXTERNAL</auth><servicedir>%s</servicedir>"
                '<policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n' % services)
    return config


def outer(args, script="desktop_tray.py", tools=None, notifiers=None):
    tools = TOOLS if tools is None else tools
    notifiers = NOTIFIERS if notifiers is None else notifiers
    if os.geteuid() != 0:
        print("SKIP: needs root to create the test user and the network namespace")
        return SKIP
    missing = [t for t in tools[args.scenario] + ["dbus-run-session", "runuser", "unshare"] 
               if not (shutil.which(t) or os.path.isabs(t) and os.path.exists(t))]
    if missing:
        print("SKIP: missing " + " ".join(missing))
        return SKIP
    try:
        pwd.getpwnam(USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", USER], check=True)
    account = pwd.getpwnam(USER)
    # Not in /tmp: the session gets a /tmp of its own (below).
    root = tempfile.mkdtemp(prefix="qv-desktop-", dir="/var/tmp")
    try:
        # Copies, so that the user reaches them whatever the rights of the build tree.
        for name in ("quorvantis",):
            shutil.copy2(os.path.join(args.build, name), os.path.join(root, name))
        here = os.path.dirname(os.path.abspath(__file__))
        for name in glob.glob(os.path.join(here, "*.py")):
            shutil.copy2(name, root)
        shutil.copy2(os.path.join(args.source, "resources", "vendor", "version2.xml"), os.path.join(root, "catalogue.xml"))
        config = bus_config(root, args.scenario, notifiers)
        for top, dirs, files in os.walk(root):
            for name in [top] + [os.path.join(top, n) for n in files]:
                os.chown(name, account.pw_uid, account.pw_gid)
        os.chmod(root, 0o700)
        inner = ("mount -t tmpfs -o mode=1777 tmpfs /tmp && ip link set lo up 2>/dev/null; exec runuser -u %s -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "
                 "HOME=%s dbus-run-session --config-file=%s -- /usr/bin/python3 %s/%s --inner --root %s %s"
                 % (USER, root, config, root, script, root, args.scenario))
        # A process namespace of its own: whatever the session started ends with it,
        # on every way out (the kernel ends a namespace's processes with its first one).
        # Its own /tmp too: X servers' lock files hold process ids, which mean nothing
        # across namespaces, and would let servers inside and outside take each other's
        # display numbers.
        rc = subprocess.run(["unshare", "--net", "--pid", "--mount", "--mount-proc", "--fork", "--kill-child", "--",
                             "sh", "-c", inner],
                            timeout=900).returncode
        if args.screenshots:
            os.makedirs(args.screenshots, exist_ok=True)
            for shot in glob.glob(os.path.join(root, "shots", "*.png")):
                shutil.copy(shot, args.screenshots)
        if rc != 0:
            for log in sorted(glob.glob(os.path.join(root, "logs", "*"))):
                with open(log, errors="replace") as f:
                    tail = f.read()[-3000:]
                print("---- %s\n%s" % (os.path.basename(log), tail))
        return rc
    finally:
        if not os.environ.get("QV_KEEP_DESKTOP"):
            shutil.rmtree(root, ignore_errors=True)


# ---- inner part: the session, as the unprivileged user ---------------------------------

class Session:
    def __init__(self, root):
        self.root = root
        self.program = os.path.join(root, "quorvantis")
        home = os.path.join(root, "home")
        self.runtime = os.path.join(root, "runtime")
        for d in (home, self.runtime, os.path.join(root, "logs"), os.path.join(root, "shots")):
            os.makedirs(d, mode=0o700, exist_ok=True)
        self.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/.config", XDG_DATA_HOME=home + "/.local/share",
                        XDG_CACHE_HOME=home + "/.cache", XDG_RUNTIME_DIR=self.runtime)
        self.install = home + "/.local/share/Quorvantis/"
        self.log = self.install + "Quorvantis.log"
        self.store = home + "/.config/Quorvantis/registry.db"
        self.processes = []

    def start(self, name, argv, **extra):
        env = dict(self.env, **extra)
        out = open(os.path.join(self.root, "logs", name + ".log"), "ab")
        # A process group each: what a shell or panel starts ends with it.
        process = subprocess.Popen(argv, env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def stop(self, process, sig=signal.SIGTERM):
        def signal_group(number):
            try:
                os.killpg(process.pid, number)
            except ProcessLookupError:
                pass
        if process.poll() is None:
            process.send_signal(sig)
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        signal_group(signal.SIGKILL)

    def close(self):
        for process in reversed(self.processes):
            self.stop(process)

    # -- the program's files
    def log_lines(self):
        try:
            with open(self.log, encoding="utf-8", errors="replace", newline="") as f:
                return f.read().split("\r\n")
        except FileNotFoundError:
            return []

    def log_has(self, text):
        return any(line.endswith(text) for line in self.log_lines())

    def log_match(self, pattern):
        for line in self.log_lines():
            found = re.search(pattern, line)
            if found:
                return found
        return None

    def set_values(self, values):
        db = sqlite3.connect(self.store, timeout=10)
        with db:
            key = db.execute("SELECT id FROM reg_key WHERE fold = ''").fetchone()[0]
            for name, data in values.items():
                db.execute("INSERT INTO reg_value(key_id, name, fold, data) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT(key_id, fold) DO UPDATE SET data = excluded.data",
                           (key, name, name.upper(), data))
        db.close()

    def handle(self):
        try:
            db = sqlite3.connect("file:%s?mode=ro" % self.store, uri=True, timeout=10)
            row = db.execute("SELECT data FROM reg_value WHERE fold = 'HANDLE'").fetchone()
            db.close()
            return row[0] if row else 0
        except sqlite3.Error:
            return 0

    def catalogue(self, required):
        with open(os.path.join(self.root, "catalogue.xml"), encoding="utf-8") as f:
            text = f.read().replace("{BASE}", "http://127.0.0.1:9")
        if required:  # a newer version that this one must update to
            text = re.sub(r"<version>[^<]*</version>", "<version>%s</version>" % required, text, count=1)
            text = re.sub(r"<requiredversion>[^<]*</requiredversion>",
                          "<requiredversion>%s</requiredversion>" % required, text)
        os.makedirs(self.install, exist_ok=True)
        with open(self.install + "quorvantis.xml", "w", encoding="utf-8") as f:
            f.write(text)

    def prime(self):
        """A first start creates the store; then the log shows everything, and the
        next start is a first start again. Offline: the catalogue comes from its file."""
        self.catalogue(None)
        first = self.start("prime", [self.program], QT_QPA_PLATFORM="offscreen")
        wait_for("the first start to finish", lambda: self.handle() == first.pid)
        self.stop(first)
        self.set_values({"debug": 3, "first": 1, "lastnews": "9999", "autorun": 0})
        self.clear_log()

    def clear_log(self):
        if os.path.exists(self.log):
            os.remove(self.log)

    # -- the session bus
    def has_name(self, name):
        out = run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                   "org.freedesktop.DBus.NameHasOwner", "string:" + name], self.env, check=False)
        return "boolean true" in out

    def watcher_items(self):
        out = run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                   "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                   "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems"],
                  self.env, check=False)
        return re.findall(r'string "([^"]*)"', out)


def our_item(session, program):
    # The item registers by its path: "<its connection>/org/quorvantis/StatusNotifierItem".
    def ours(item):
        name, _, path = item.partition("/")
        if path != "org/quorvantis/StatusNotifierItem":
            return False
        out = run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                   "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + name], session.env, check=False)
        return ("uint32 %d" % program.pid) in out
    return [i for i in session.watcher_items() if ours(i)]


def start_program(session, platform, *args):
    program = session.start("quorvantis", [session.program] + list(args), QT_QPA_PLATFORM=platform)
    wait_for("the program's start", lambda: session.log_has("|DEBUG|Started"), 30)
    return program


# ---- sway, waybar, dunst ---------------------------------------------------------------------

def sway_windows(session, title):
    tree = json.loads(run(["swaymsg", "-t", "get_tree"], session.env))
    found = []

    def walk(node):
        if node.get("name") == title and node.get("pid"):
            found.append(node)
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            walk(child)
    walk(tree)
    return found


def close_sway_window(session, title):
    run(["swaymsg", '[title="^%s$"] kill' % re.escape(title)], session.env)
    wait_for(title + " to close", lambda: not sway_windows(session, title))


def screenshot(session, name, region=None):
    argv = ["grim"] + (["-g", region] if region else []) + [os.path.join(session.root, "shots", name)]
    run(argv, session.env)


def start_waybar(session):
    config = os.path.join(session.root, "waybar.json")
    style = os.path.join(session.root, "waybar.css")
    with open(config, "w") as f:
        json.dump({"layer": "top", "position": "top", "height": 32, "modules-left": ["sway/workspaces"],
                   "modules-right": ["tray"], "tray": {"icon-size": 22, "spacing": 8}}, f)
    with open(style, "w") as f:
        f.write("* { font-family: DejaVu Sans; font-size: 13px; }\n"
                "window#waybar { background: #2b303b; color: #ffffff; }\n#tray { padding: 0 10px; }\n")
    return session.start("waybar", ["waybar", "-c", config, "-s", style])


def sway(session):
    config = os.path.join(session.root, "sway.cfg")
    with open(config, "w") as f:
        f.write("output HEADLESS-1 resolution 1280x800 bg #4a6f8a solid_color\nxwayland disable\n"
                "default_border normal\nfont pango:DejaVu Sans 10\n")
    session.start("sway", ["sway", "-c", config], WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                  WLR_RENDERER="pixman")
    socket = wait_for("sway's Wayland socket",
                      lambda: [s for s in glob.glob(session.runtime + "/wayland-*") if not s.endswith(".lock")])
    ipc = wait_for("sway's IPC socket", lambda: glob.glob(session.runtime + "/sway-ipc.*.sock"))
    session.env.update(WAYLAND_DISPLAY=os.path.basename(socket[0]), SWAYSOCK=ipc[0])

    session.start("dunst", ["dunst"])
    wait_for("dunst", lambda: session.has_name("org.freedesktop.Notifications"))
    monitor_log = os.path.join(session.root, "logs", "notify-calls.log")
    session.start("notify-calls", ["dbus-monitor", "--session",
                                   "type='method_call',interface='org.freedesktop.Notifications',member='Notify'",
                                   "type='method_call',interface='com.canonical.dbusmenu'"])
    wait_for("dbus-monitor", lambda: os.path.getsize(monitor_log) > 0)

    # The program first, as autostart often does; the panel 5 s later.
    program = start_program(session, "wayland")
    wait_for("the notice to wait", lambda: session.log_has("|DEBUG|Balloon waits for the notification area"))
    time.sleep(5)  # the scenario: the panel comes 5 s after the program
    waybar = start_waybar(session)
    started = time.monotonic()
    wait_for("the item to register with waybar's watcher", lambda: our_item(session, program))
    print("registered with waybar's watcher %.2f s after waybar started" % (time.monotonic() - started))

    # The first-start notice, through dunst, with the "default" action and our desktop entry.
    wait_for("the first-start notice", lambda: session.log_has(
        "|DEBUG|Balloon shown: Klicken Sie hier, um Quorvantis zu öffnen!"))
    ours = int(wait_for("its notification id", lambda: session.log_match(r"\|DEBUG\|Notification (\d+) sent$")).group(1))
    with open(monitor_log, encoding="utf-8", errors="replace") as f:
        calls = f.read()
    call = calls[calls.rfind('string "Quorvantis"'):]
    for expected in ('string "Klicken Sie hier, um Quorvantis zu öffnen!"', 'string "default"',
                     'string "desktop-entry"', 'string "quorvantis"'):
        if expected not in call:
            raise Failure("the notification lacks " + expected + ":\n" + call[:2000])
    wait_for("dunst to show it", lambda: int(run(["dunstctl", "count", "displayed"], session.env)) >= 1)
    time.sleep(0.5)  # dunst draws after it counts; the picture must show the notice
    screenshot(session, "wayland-waybar-dunst.png")
    screenshot(session, "wayland-tray-waybar.png", "1040,0 240x34")
    screenshot(session, "wayland-notification-dunst.png", "950,74 330x90")

    # waybar reads the menu we export (it draws it on a right click).
    def menu_read():
        with open(monitor_log, encoding="utf-8", errors="replace") as f:
            return "path=/MenuBar; interface=com.canonical.dbusmenu; member=GetLayout" in f.read()
    wait_for("waybar to read our exported menu", menu_read)

    # A click on ours (dunst's default action) opens the menu.
    run(["dunstctl", "action", "0"], session.env)
    wait_for("the menu after a click on our notice", lambda: sway_windows(session, "Quorvantis"))
    if not session.log_has("|DEBUG|Notification %d clicked" % ours) or not session.log_has(
            "|DEBUG|Menu asked for by a click on our notification"):
        raise Failure("the menu opened without our notification's click")
    screenshot(session, "wayland-show-window.png")
    close_sway_window(session, "Quorvantis")
    run(["dunstctl", "close-all"], session.env)
    wait_for("dunst to clear", lambda: int(run(["dunstctl", "count", "displayed"], session.env)) == 0)

    # Another program's notification, invoked the same way, opens nothing of ours.
    other = subprocess.Popen(["notify-send", "-A", "default=Open", "Other program", "Click me"], env=session.env,
                             stdout=subprocess.PIPE, text=True)
    wait_for("dunst to show the other notification", lambda: int(run(["dunstctl", "count", "displayed"],
                                                                       session.env)) >= 1)
    run(["dunstctl", "action", "0"], session.env)
    if other.communicate(timeout=20)[0].strip() != "default":
        raise Failure("dunst did not report the other program's click")
    # The bus delivers in order: once the program has answered a call made after the
    # click, it has seen whatever the service told it about that click.
    item = our_item(session, program)[0].split("/")[0]
    run(["dbus-send", "--session", "--print-reply", "--dest=" + item, "/org/quorvantis/StatusNotifierItem",
         "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierItem", "string:Title"], session.env)
    asked = [line for line in session.log_lines() if "|DEBUG|Menu asked for by " in line]
    if len(asked) != 1:
        raise Failure("a click on another program's notification asked for our menu: %s" % asked)
    if sway_windows(session, "Quorvantis"):
        raise Failure("a click on another program's notification opened our menu")

    # The panel restarts: the icon comes back.
    waybar.terminate()
    waybar.wait(10)
    wait_for("the watcher to go", lambda: not session.has_name("org.kde.StatusNotifierWatcher"))
    wait_for("the program to notice", lambda: session.log_has("|DEBUG|The StatusNotifier watcher has gone"))
    start_waybar(session)
    started = time.monotonic()
    wait_for("the item to register again", lambda: our_item(session, program))
    print("registered again %.2f s after waybar restarted" % (time.monotonic() - started))

    # "show" after the start-time update window was closed.
    session.stop(program)
    session.catalogue("9.0")
    session.clear_log()
    program = start_program(session, "wayland")
    wait_for("the update window", lambda: sway_windows(session, "Software-Update"))
    close_sway_window(session, "Software-Update")
    show = session.start("show", [session.program, "show"], QT_QPA_PLATFORM="wayland")
    wait_for("the menu after the update window", lambda: sway_windows(session, "Quorvantis"))
    screenshot(session, "wayland-show-after-update.png")
    close_sway_window(session, "Quorvantis")
    if show.wait(20) != 0:
        raise Failure("quorvantis show ended with %d" % show.returncode)
    session.stop(program)
    if program.returncode != 0:
        raise Failure("the program ended with %d" % program.returncode)


# ---- Xvfb and trayer -------------------------------------------------------------------------

def x11(session):
    read, write = os.pipe()
    session.processes.append(subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", "1024x600x24"], pass_fds=(write,),
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    os.close(write)
    with os.fdopen(read) as f:
        session.env["DISPLAY"] = ":" + f.readline().strip()

    def docked():
        for window in run(["xdotool", "search", "--classname", "quorvantis"], session.env, check=False).split():
            info = run(["xwininfo", "-children", "-id", window], session.env, check=False)
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)(.*)", info)
            if parent and "(the root window)" not in parent.group(2) and "trayer" in run(
                    ["xwininfo", "-tree", "-root"], session.env, check=False):
                return window
        return None

    program = start_program(session, "xcb")
    wait_for("the notice to wait", lambda: session.log_has("|DEBUG|Balloon waits for the notification area"))
    time.sleep(5)  # the scenario: the panel comes 5 s after the program
    tray = ["trayer", "--edge", "top", "--align", "right", "--SetDockType", "true", "--widthtype", "request"]
    trayer = session.start("trayer", tray)
    started = time.monotonic()
    wait_for("the icon to be embedded in trayer", docked)
    print("embedded %.2f s after trayer started" % (time.monotonic() - started))
    wait_for("the first-start notice as a balloon",
             lambda: session.log_has("|DEBUG|Balloon shown: Klicken Sie hier, um Quorvantis zu öffnen!"))

    trayer.terminate()
    trayer.wait(10)
    wait_for("the icon to leave the ended trayer", lambda: not docked())
    session.start("trayer-again", tray)
    wait_for("the icon to be embedded again", docked)

    # "show" after the start-time update window was closed (Escape, as its button does).
    def windows(name=None):
        found = []
        for window in run(["xdotool", "search", "--onlyvisible", "--classname", "quorvantis"], session.env,
                          check=False).split():
            title = run(["xdotool", "getwindowname", window], session.env, check=False).strip()
            size = re.search(r"Geometry: (\d+)x(\d+)", run(["xdotool", "getwindowgeometry", window], session.env,
                                                             check=False))
            if size and (name is None or title == name):
                found.append((window, title, int(size.group(1)), int(size.group(2))))
        return found

    session.stop(program)
    session.catalogue("9.0")
    session.clear_log()
    program = start_program(session, "xcb")
    update = wait_for("the update window", lambda: windows("Software-Update"))[0][0]
    run(["xdotool", "windowfocus", "--sync", update], session.env)
    run(["xdotool", "key", "Escape"], session.env)
    wait_for("the update window to close", lambda: not windows("Software-Update"))
    show = session.start("show", [session.program, "show"], QT_QPA_PLATFORM="xcb")
    # The menu: a tall window; the docked icon is small.
    wait_for("the menu after the update window", lambda: [w for w in windows() if w[3] > 100])
    run(["xdotool", "key", "Escape"], session.env)
    if show.wait(20) != 0:
        raise Failure("quorvantis show ended with %d" % show.returncode)
    session.stop(program)
    if program.returncode != 0:
        raise Failure("the program ended with %d" % program.returncode)


def inner(args, scenarios=None):
    scenarios = {"sway": sway, "x11": x11} if scenarios is None else scenarios
    session = Session(args.root)
    try:
        session.prime()
        scenarios[args.scenario](session)
        print("1 passed, 0 failed")
        return 0
    except (Failure, subprocess.TimeoutExpired) as problem:
        print("FAILED: %s" % problem)
        return 1
    finally:
        session.close()


def main(script="desktop_tray.py", tools=None, scenarios=None, notifiers=None):
    tools = TOOLS if tools is None else tools
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(tools))
    parser.add_argument("--build", help="the build folder with the program")
    parser.add_argument("--source", help="the source folder")
    parser.add_argument("--screenshots", help="where to copy the screenshots")
    parser.add_argument("--inner", action="store_true")
    parser.add_argument("--root")
    args = parser.parse_args()
    sys.exit(inner(args, scenarios) if args.inner else outer(args, script, tools, notifiers))


if __name__ == "__main__":
    main()
