#!/usr/bin/env python3
"""The release window of `brenvo demo` in a desktop session of its own, as its users meet it.

  desktop_session.py BRENVO accessibility gtk|qt
      On Xvfb with the accessibility bus (at-spi-bus-launcher) on a private session bus, a
      client of that bus reads the window as a screen reader does (roles, names, relations,
      the default button) and presses "Skip This Version" through its accessible action.
  desktop_session.py BRENVO wayland gtk|qt
      Under a headless Wayland compositor (weston), the window comes up as a Wayland client.

Exits 77 (skipped) with the reason when a program the session needs is not installed.
"""
import glob
import os
import plistlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import warnings

SKIPPED = 77
DEMO_HEADING = "A new Version of Sample Notes is available!"
BUTTONS = {"Open App Store For Update": "open", "Skip This Version": "skip"}
DEMO_DESCRIPTION = ("Sample Notes 2.1.0 is now available - you have 2.0.3. Would you like to "
                    "open App Store for Update now?")


def skip(reason):
    print(f"skipped: {reason}")
    sys.exit(SKIPPED)


def wait_for(what, done, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = done()
        if found:
            return found
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


class Session:
    """A runtime folder, servers started on demand, and the environment that reaches them."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="brenvo-session-")
        runtime = os.path.join(self.dir, "run")
        os.mkdir(runtime, 0o700)
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("DISPLAY", "WAYLAND_DISPLAY", "NO_AT_BRIDGE", "GTK_A11Y",
                                   "QT_QPA_PLATFORM", "GDK_BACKEND", "LANGUAGE", "LC_ALL",
                                   "LC_MESSAGES")}
        self.env.update(XDG_RUNTIME_DIR=runtime, TMPDIR=self.dir, LANG="C.UTF-8",
                        XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                        GSETTINGS_BACKEND="memory", DBUS_SESSION_BUS_ADDRESS="disabled:")
        self.servers = []

    def __enter__(self):
        return self

    def __exit__(self, failure, *_):
        for server in reversed(self.servers):
            server.terminate()
            try:
                server.wait(10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        if failure:
            for log in sorted(name for name in os.listdir(self.dir) if name.endswith(".log")):
                with open(os.path.join(self.dir, log), errors="replace") as file:
                    print(f"--- {log}\n{file.read()[-4000:]}")
        shutil.rmtree(self.dir, ignore_errors=True)

    def log(self, argv):
        return open(os.path.join(self.dir, os.path.basename(argv[0]) + ".log"), "w")

    def serve(self, argv, ready_line=False):
        """Starts a server; with ready_line, the first line it writes on a pipe given as {fd}."""
        with self.log(argv) as log:
            if not ready_line:
                self.servers.append(subprocess.Popen(argv, env=self.env, stdout=log, stderr=log))
                return None
            read, write = os.pipe()
            argv = [arg.replace("{fd}", str(write)) for arg in argv]
            self.servers.append(subprocess.Popen(argv, env=self.env, stdout=log, stderr=log,
                                                 pass_fds=(write,)))
            os.close(write)
        with os.fdopen(read) as pipe:
            line = pipe.readline().strip()
        if not line:
            raise AssertionError(f"{argv[0]} did not start")
        return line

    def start_xvfb(self):
        display = self.serve(["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24",
                              "-nolisten", "tcp"], ready_line=True)
        self.env["DISPLAY"] = ":" + display

    def start_session_bus(self):
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.serve(
            ["dbus-daemon", "--session", "--nofork", "--address=unix:dir=" + self.dir,
             "--print-address={fd}"], ready_line=True)


def run_demo(session, toolkit, while_shown):
    """Runs `brenvo demo` with the toolkit's window, calls while_shown(), then awaits its end."""
    demo = subprocess.Popen([BRENVO, "demo", "--window", toolkit], env=session.env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        while_shown()
        out, err = demo.communicate(timeout=30)
    finally:
        if demo.poll() is None:
            demo.kill()
            _, err = demo.communicate()
            print(f"--- brenvo demo, stopped:\n{err[-4000:]}")
    if demo.returncode != 0:
        raise AssertionError(f"brenvo demo ended with {demo.returncode}:\n{err}")
    return out, err


# ---- a screen reader's view ----------------------------------------------------------------

def start_accessibility_bus(session):
    """The accessibility bus on a private session bus, with a screen reader said to be running;
    the Atspi client module, connected to it."""
    launcher = next((path for path in ("/usr/libexec/at-spi-bus-launcher",
                                       "/usr/lib/at-spi2-core/at-spi-bus-launcher")
                     if os.access(path, os.X_OK)), None)
    if not launcher or not shutil.which("dbus-daemon"):
        skip("needs at-spi-bus-launcher (at-spi2-core) and dbus-daemon")
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, Gio, GLib
    except (ImportError, ValueError):
        skip("needs GObject introspection's Atspi for Python (python3-gi, gir1.2-atspi-2.0)")
    session.start_session_bus()
    session.serve([launcher, "--launch-immediately"])
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = session.env["DBUS_SESSION_BUS_ADDRESS"]
    if "DISPLAY" in session.env:
        os.environ["DISPLAY"] = session.env["DISPLAY"]
    bus = Gio.DBusConnection.new_for_address_sync(
        session.env["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)

    def screen_reader_on():
        # What a screen reader says when it starts; toolkits then join the bus.
        try:
            bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                          "Set", GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled",
                                                        GLib.Variant("b", True))),
                          None, Gio.DBusCallFlags.NO_AUTO_START, 5000, None)
            return True
        except GLib.Error:
            return False

    wait_for("the accessibility bus", screen_reader_on)
    Atspi.init()
    return Atspi


def press_skip(Atspi, seen):
    seen["skip"].do_action(action_index(Atspi, seen["skip"]))


def check_skipped(out, err):
    """The effects of "Skip This Version": the version is in the preferences, and the closing
    notification had the agent arm its next check a full interval ahead."""
    preferences = re.search(r"are in (\S+\.plist):", out)
    assert preferences, out
    with open(preferences.group(1), "rb") as file:
        assert plistlib.load(file).get("BrenvoSkipVersion") == "2.1.0", out
    after_window = err.split("Show release info window", 1)
    assert len(after_window) == 2 and "Next Update Check in 86400 seconds" in after_window[1], err


class NotOnBus(AssertionError):
    """The window never reached the accessibility bus."""


def accessibility(toolkit):
    if not shutil.which("Xvfb"):
        skip("needs Xvfb")
    with Session() as session:
        session.start_xvfb()
        Atspi = start_accessibility_bus(session)

        def read_window():
            try:
                window = wait_for("the window on the accessibility bus",
                                  lambda: find_window(Atspi))
            except AssertionError as failure:
                raise NotOnBus(str(failure)) from None
            seen = walk(Atspi, window)
            check_tree(Atspi, seen)
            # Pressed as a screen reader presses it: the same as a click.
            press_skip(Atspi, seen)

        check_skipped(*run_demo(session, toolkit, read_window))


def find_window(Atspi):
    desktop = Atspi.get_desktop(0)
    desktop.clear_cache()  # applications that joined since the last look
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        for j in range(app.get_child_count() if app else 0):
            window = app.get_child_at_index(j)
            if window and window.get_name() == "Software Update" and window.get_role() in (
                    Atspi.Role.FRAME, Atspi.Role.DIALOG):
                return window
    return None


def content(obj):
    """What a screen reader reads of an object: its text, else its name."""
    if "Text" in obj.get_interfaces():
        return obj.get_text(0, -1)
    return obj.get_name()


def walk(Atspi, window):
    """The objects a screen reader reaches in the window, by what they are to the user."""
    found = {"window": window}
    pending = [window]
    while pending:
        obj = pending.pop()
        pending.extend(obj.get_child_at_index(i) for i in range(obj.get_child_count()))
        role, text = obj.get_role(), content(obj)
        if role == Atspi.Role.PUSH_BUTTON and obj.get_name() in BUTTONS:
            found[BUTTONS[obj.get_name()]] = obj
        elif role == Atspi.Role.TEXT and text.startswith("What's new in Sample Notes"):
            found["notes"] = obj
        elif text in (DEMO_HEADING, DEMO_DESCRIPTION, "Release Notes:"):
            found[text] = obj
    return found


def related(Atspi, obj, relation):
    return [rel.get_target(i) for rel in obj.get_relation_set()
            if rel.get_relation_type() == relation for i in range(rel.get_n_targets())]


def action_index(Atspi, obj):
    # The name's newer accessor, GetName, is one that Qt's bridge does not answer.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        names = [Atspi.Action.get_action_name(obj, i).lower() for i in range(obj.get_n_actions())]
    return next(i for i, name in enumerate(names) if name in ("click", "press"))


def check_tree(Atspi, seen):
    missing = {"window", "open", "skip", "notes", DEMO_HEADING, DEMO_DESCRIPTION,
               "Release Notes:"} - seen.keys()
    assert not missing, f"not reachable: {missing}"
    State = Atspi.StateType
    checks = [
        ("window describes itself", seen["window"].get_description(), DEMO_DESCRIPTION),
        ("heading role", seen[DEMO_HEADING].get_role(), Atspi.Role.HEADING),
        ("notes labelled by", [content(o) for o in
                               related(Atspi, seen["notes"], Atspi.RelationType.LABELLED_BY)],
         ["Release Notes:"]),
        ("label for the notes", [o.get_role() for o in related(
            Atspi, seen["Release Notes:"], Atspi.RelationType.LABEL_FOR)], [Atspi.Role.TEXT]),
        ("open is the default", seen["open"].get_state_set().contains(State.IS_DEFAULT), True),
        ("skip is not", seen["skip"].get_state_set().contains(State.IS_DEFAULT), False),
    ]
    failed = [f"{what}: {got!r}, expected {expected!r}" for what, got, expected in checks
              if got != expected]
    assert not failed, "\n".join(failed)


# ---- a Wayland compositor ------------------------------------------------------------------

def wayland(toolkit):
    """The window maps as a toplevel of the compositor's (its scene graph lists it by title) and
    is answered through the accessibility bus, which needs no X server."""
    if not shutil.which("weston") or not shutil.which("weston-debug"):
        skip("needs weston with its headless back-end (Debian package weston)")
    if toolkit == "qt" and not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-*.so"):
        skip("needs Qt's Wayland platform plugin (Debian package qt6-wayland)")
    with Session() as session:
        socket = "wayland-brenvo"
        session.serve(["weston", "--backend=headless-backend.so", "--socket=" + socket,
                       "--idle-time=0", "--debug"])
        wait_for("weston", lambda: os.path.exists(
            os.path.join(session.env["XDG_RUNTIME_DIR"], socket)))
        session.env.update(WAYLAND_DISPLAY=socket, GDK_BACKEND="wayland",
                           QT_QPA_PLATFORM="wayland")
        Atspi = start_accessibility_bus(session)

        def toplevel_mapped():
            graph = subprocess.run(["weston-debug", "scene-graph"], env=session.env, text=True,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10,
                                   check=False).stdout
            return "top-level window 'Software Update' of brenvo" in graph

        def mapped_then_skip():
            wait_for("the window in the compositor's scene graph", toplevel_mapped)
            try:
                window = wait_for("the window on the accessibility bus",
                                  lambda: find_window(Atspi))
            except AssertionError as failure:
                raise NotOnBus(str(failure)) from None
            press_skip(Atspi, walk(Atspi, window))

        check_skipped(*run_demo(session, toolkit, mapped_then_skip))


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[2] not in ("accessibility", "wayland") or \
            sys.argv[3] not in ("gtk", "qt"):
        sys.exit(__doc__)
    BRENVO = sys.argv[1]
    # A session whose window never reaches the bus (seen once in many runs on a loaded machine)
    # is started once more, in a process of its own, since the bus client cannot be started
    # twice; what the window shows is checked in full either way.
    NOT_ON_BUS = 3
    if not os.environ.get("BRENVO_SESSION_ONCE"):
        for attempt in range(2):
            result = subprocess.run([sys.executable] + sys.argv, check=False,
                                    env=dict(os.environ, BRENVO_SESSION_ONCE="1"))
            if result.returncode != NOT_ON_BUS:
                sys.exit(result.returncode)
            print("The window did not reach the accessibility bus; starting the session again.")
        sys.exit(1)
    try:
        {"accessibility": accessibility, "wayland": wayland}[sys.argv[2]](sys.argv[3])
    except NotOnBus as failure:
        print(f"FAILED: {failure}")
        sys.exit(NOT_ON_BUS)
    except AssertionError as failure:
        print(f"FAILED: {failure}")
        sys.exit(1)
    print("passed")
