"""GNOME Shell 43, headless on a virtual monitor, with the AppIndicator extension as its tray
(StatusNotifierItem; it sits in the top bar's right end). The shell's own JavaScript answers
for it (org.gnome.Shell.Eval): where the entry is, korvi's window, and a virtual pointer whose
clicks go through the compositor like a mouse's. korvi goes through Xwayland (its default on
GNOME), or, with QT_QPA_PLATFORM=wayland, to the shell itself."""

import ast
import json
import subprocess

from harness import START_TIMEOUT, Desktop, wait_for

# GNOME 43 has no switch for the unsafe mode that Eval and screenshots need: a test-only
# extension turns it on. It also leaves the overview the shell opens at start-up.
EXTENSION = "unsafe-mode@korvi.test"
METADATA = json.dumps({"uuid": EXTENSION, "name": "korvi tests", "shell-version": ["43"],
                       "description": "unsafe mode for the desktop tests"})
SCRIPT = """const Main = imports.ui.main;
function init() {}
function enable() {
    global.context.unsafe_mode = true;
    if (Main.layoutManager._startingUp)
        Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
    else
        Main.overview.hide();
}
function disable() {}
"""
SETTINGS = (
    ("org.gnome.shell", "enabled-extensions",
     f"['ubuntu-appindicators@ubuntu.com', '{EXTENSION}']"),
    ("org.gnome.shell", "disable-user-extensions", "false"),
    # GNOME's own notices at start-up (a root session, no screen lock) would stay over korvi's
    # window while no one moves the pointer: banners come on once the shell is up.
    ("org.gnome.desktop.notifications", "show-banners", "false"),
)
# korvi's window, found by its process: the handle is korvi's pid.
WINDOW = ("global.get_window_actors().map(a => a.meta_window)"
          ".find(w => w.get_pid() === {pid} && w.title === 'B')")
STATE = """(() => {{
    const w = %s;
    if (!w) return null;
    const r = w.get_frame_rect();
    const stack = global.display.sort_windows_by_stacking(
        global.workspace_manager.get_active_workspace().list_windows());
    return {{x: r.x, y: r.y, shown: !w.minimized && w.showing_on_its_workspace(),
             focused: w.has_focus(), top: stack[stack.length - 1] === w}};
}})()""" % WINDOW
CLICK = """(() => {{
    const Clutter = imports.gi.Clutter;
    if (!global.korviPointer)
        global.korviPointer = Clutter.get_default_backend().get_default_seat()
            .create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
    const pointer = global.korviPointer, now = GLib.get_monotonic_time();
    pointer.notify_absolute_motion(now, {x}, {y});
    pointer.notify_button(now + 1000, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.PRESSED);
    pointer.notify_button(now + 2000, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.RELEASED);
    return true;
}})()"""
TRAY = """(() => {
    const box = Main.panel._rightBox, [x, y] = box.get_transformed_position();
    const [width, height] = box.get_transformed_size();
    return [x, y, width, height].map(Math.round);
})()"""


class Gnome(Desktop):
    name = "gnome"
    protocol = "sni"
    places = True
    task_bar = None       # GNOME has no task bar: windows show in the overview
    hides_by = "cover"    # GNOME offers no minimise for a tool window through Xwayland
    requires = ("gnome-shell", "gdbus", "gsettings", "Xwayland", "xmessage", "gjs")
    # The AppIndicator extension misses an icon change that comes while it is still reading
    # the new entry's properties (within about 0.3 s of registration); users, whose first
    # probe comes 10 s after start-up, never meet it.
    timer = 1500
    bubbles = (140, 30, 520, 90)  # banners, under the top bar's middle

    def start(self, session):
        self.session = session
        folder = f"home/.local/share/gnome-shell/extensions/{EXTENSION}"
        session.write(f"{folder}/metadata.json", METADATA)
        session.write(f"{folder}/extension.js", SCRIPT)
        # The shell asks the system bus for logind, accounts, ...: a private one answers.
        session.bus("system")
        session.bus(activation=True)  # dconf, started by the bus, keeps the settings
        for schema, key, value in SETTINGS:
            session.run(["gsettings", "set", schema, key, value])
        session.start(["gnome-shell", "--headless", "--wayland", "--virtual-monitor", "800x600"])
        session.run(["gdbus", "wait", "--session", "--timeout", str(START_TIMEOUT),
                     "org.kde.StatusNotifierWatcher"], timeout=START_TIMEOUT + 5)
        wait_for("the shell to finish starting", self.started, START_TIMEOUT, 0.1)
        session.run(["gsettings", "set", "org.gnome.desktop.notifications", "show-banners", "true"])
        runtime = session.env["XDG_RUNTIME_DIR"]
        # korvi has a runtime folder of its own: it finds the shell's socket by its full path.
        self.env = {name: self.eval(f"GLib.getenv('{name}')")
                    for name in ("DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY")}
        self.env["WAYLAND_DISPLAY"] = f"{runtime}/{self.env['WAYLAND_DISPLAY']}"

    def started(self):
        try:
            return self.eval("!Main.layoutManager._startingUp && !Main.overview.visible "
                             "&& !Main.overview.animationInProgress")
        except (subprocess.CalledProcessError, AssertionError):
            return False  # the shell, or the test extension that lets Eval in, is not up yet

    def eval(self, script):
        out = self.session.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell",
                                "--object-path", "/org/gnome/Shell", "--method",
                                "org.gnome.Shell.Eval", script])
        # gdbus prints (true, 'JSON'): the JSON of what the script returned, quoted as Python
        # would quote it.
        ok, _, result = out.strip()[1:-1].partition(", ")
        result = ast.literal_eval(result)
        if ok != "true":
            raise AssertionError(f"the shell refused {script!r}: {result}")
        return json.loads(result) if result else None

    def korvi_env(self):
        return {"DISPLAY": self.env["DISPLAY"], "XAUTHORITY": self.env["XAUTHORITY"],
                "WAYLAND_DISPLAY": self.env["WAYLAND_DISPLAY"]}

    def screenshot(self, path):
        self.session.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell.Screenshot",
                          "--object-path", "/org/gnome/Shell/Screenshot", "--method",
                          "org.gnome.Shell.Screenshot.Screenshot", "false", "false", path])

    def click(self, x, y):
        self.eval(CLICK.format(x=x, y=y))

    def tray_area(self):
        return tuple(self.eval(TRAY))

    def find_window(self, korvi):
        state = self.eval(STATE.format(pid=korvi.pid))
        return korvi.pid if state and state["shown"] else None

    def state(self, pid):
        state = self.eval(STATE.format(pid=pid))
        state["front"] = state["shown"] and state["focused"] and state["top"]
        return state

    def hide(self, pid):
        state = self.state(pid)
        geometry = f"300x200+{state['x'] - 20}+{state['y'] - 20}"
        self.session.start(["xmessage", "-geometry", geometry, "covering korvi"],
                           env=dict(self.session.env, **self.korvi_env()))
        wait_for("the covering window", lambda: self.eval(
            "global.display.focus_window && global.display.focus_window.title === 'xmessage'"),
            interval=0.1)

    def move(self, pid, x, y):
        self.eval(f"{WINDOW.format(pid=pid)}.move_frame(true, {x}, {y}), true")

    def close(self, pid):
        self.eval(f"{WINDOW.format(pid=pid)}.delete(global.get_current_time()), true")


class GnomeWayland(Gnome):
    """korvi on Wayland itself: the shell places the window, and minimises it."""
    name = "gnome-wayland"
    places = False
    hides_by = "minimise"
    # GNOME hands the entry an activation token with the click, which Qt 6.4 gives a program no
    # way to use; whether the window comes back in front then depends on GNOME's focus rules
    # (it did in two runs of three here).
    click_raises = "either"
    knows_position = False  # no Wayland program learns where its window is
    requires = ("gnome-shell", "gdbus", "gsettings", "gjs")

    def korvi_env(self):
        return {"WAYLAND_DISPLAY": self.env["WAYLAND_DISPLAY"], "QT_QPA_PLATFORM": "wayland"}

    def own_place(self, pid):
        # mutter's first choice for a window that overlaps nothing: tiled into the work area,
        # its spare width split evenly and a third of its spare height above.
        return tuple(self.eval("""(() => {{
            const area = Main.layoutManager.getWorkAreaForMonitor(0);
            const frame = {window}.get_frame_rect();
            return [area.x + Math.floor(area.width % (frame.width + 1) / 2),
                    area.y + Math.floor(area.height % (frame.height + 1) / 3)];
        }})()""".format(window=WINDOW.format(pid=pid))))

    def hide(self, pid):
        self.eval(f"{WINDOW.format(pid=pid)}.minimize(), true")


DESKTOPS = (Gnome, GnomeWayland)
