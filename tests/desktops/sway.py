"""sway, headless, with waybar's tray (StatusNotifierItem only) as its bar. sway refuses to run
as root: the session, and korvi in it, run as a throw-away user. korvi goes through Xwayland
(its default where both are there); sway places X11 windows itself."""

import glob
import json
import os

from harness import START_TIMEOUT, Desktop, wait_for

# Xwayland's display goes into a file, where the test reads it for korvi.
SWAY = """output HEADLESS-1 resolution 800x600 position 0 0
xwayland enable
default_border normal
focus_follows_mouse no
for_window [class="Xmessage"] floating enable, resize set 500 400, move position center
exec sh -c 'cd "$XDG_RUNTIME_DIR" && echo "$DISPLAY" > xdisplay.new && mv xdisplay.new xdisplay'
exec mako
bar {
  swaybar_command waybar
}
"""
WAYBAR = """{"layer": "top", "position": "top", "height": 26, "modules-left": [],
 "modules-right": ["tray"], "tray": {"icon-size": 16, "spacing": 4}}
"""
TRAY_WIDTH = 80


class Sway(Desktop):
    name = "sway"
    protocol = "sni"
    places = False         # sway places X11 windows itself: floating ones in the middle
    task_bar = None        # sway has no task bar, nor has waybar in its default setup
    hides_by = "cover"     # sway has no minimise
    click_raises = "urgent"  # sway takes korvi's request to be activated as urgency
    korvi_as_user = True
    user = True
    shell = "xwayland"     # how korvi's window reaches sway
    requires = ("sway", "swaymsg", "waybar", "grim", "Xwayland", "xmessage", "mako")
    bubbles = (400, 26, 400, 150)  # mako's, under the bar's right end

    def unavailable(self):
        if not self.args.pointer_device:
            return "sway needs --pointer-device (tests/desktops/pointer_device) for its clicks"
        return super().unavailable()

    def start(self, session):
        self.session = session
        session.write("home/.config/sway/config", SWAY)
        session.write("home/.config/waybar/config", WAYBAR)
        session.bus()
        runtime = session.env["XDG_RUNTIME_DIR"]
        session.start(["sway"], env=dict(session.env, WLR_BACKENDS="headless",
                                         WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman"),
                      as_user=True)

        def up():
            sockets = [s for s in glob.glob(f"{runtime}/wayland-*") if not s.endswith(".lock")]
            ipc = glob.glob(f"{runtime}/sway-ipc.*.sock")
            display = os.path.join(runtime, "xdisplay")
            if sockets and ipc and os.path.exists(display):
                with open(display) as file:
                    return os.path.basename(sockets[0]), ipc[0], file.read().strip()
            return None
        wayland, self.ipc, self.display = wait_for("sway", up, START_TIMEOUT, 0.1)
        self.env = dict(session.env, WAYLAND_DISPLAY=wayland, SWAYSOCK=self.ipc)
        # korvi has a runtime folder of its own: it finds sway's socket by its full path.
        self.wayland = os.path.join(runtime, wayland)
        session.start([self.args.pointer_device], env=self.env, as_user=True)
        wait_for("a pointer on sway's seat", lambda: json.loads(
            self.swaymsg("-t", "get_seats"))[0]["capabilities"] & 1, START_TIMEOUT, 0.1)
        wait_for("waybar's tray (the StatusNotifierWatcher)", lambda: "boolean true" in session.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
             "org.freedesktop.DBus.NameHasOwner", "string:org.kde.StatusNotifierWatcher"]),
            START_TIMEOUT, 0.2)

    def swaymsg(self, *args):
        return self.session.run(["swaymsg", *args], env=self.env)

    def tree(self):
        return json.loads(self.swaymsg("-t", "get_tree"))

    def korvi_env(self):
        return {"WAYLAND_DISPLAY": self.wayland, "DISPLAY": self.display}

    def screenshot(self, path):
        self.session.run(["grim", path], env=self.env)

    def click(self, x, y):
        self.swaymsg("seat", "-", "cursor", "set", str(x), str(y))
        self.swaymsg("seat", "-", "cursor", "press", "button1")
        self.swaymsg("seat", "-", "cursor", "release", "button1")

    def usable(self):
        """The output's area that the bar leaves to windows."""
        workspace = json.loads(self.swaymsg("-t", "get_workspaces"))[0]["rect"]
        return workspace

    def tray_area(self):
        usable = self.usable()
        return (usable["x"] + usable["width"] - TRAY_WIDTH, 0, TRAY_WIDTH, usable["y"])

    def nodes(self, node=None):
        node = node or self.tree()
        yield node
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            yield from self.nodes(child)

    def node(self, con):
        return next(n for n in self.nodes() if n["id"] == con)

    def find_window(self, korvi):
        for node in self.nodes():
            if node.get("pid") == korvi.pid and node.get("visible") and \
                    node.get("shell") == self.shell:
                return node["id"]
        return None

    def state(self, con):
        tree = self.tree()
        floating = [n for n in self.nodes(tree) if n.get("type") == "workspace"][-1]
        floating = floating["floating_nodes"]
        node = next(n for n in self.nodes(tree) if n["id"] == con)
        rect, inner = node["rect"], node["window_rect"]
        return {"x": rect["x"] + inner["x"], "y": rect["y"] + inner["y"],
                "shown": node["visible"], "urgent": node["urgent"],
                "front": node["focused"] and bool(floating) and floating[-1]["id"] == con}

    def own_place(self, con):
        node, usable = self.node(con), self.usable()
        rect, inner = node["rect"], node["window_rect"]
        # In the middle of the free area, a half pixel rounded up.
        return (usable["x"] + (usable["width"] - rect["width"] + 1) // 2 + inner["x"],
                usable["y"] + (usable["height"] - rect["height"] + 1) // 2 + inner["y"])

    def hide(self, con):
        self.swaymsg(f"[con_id={con}]", "focus")  # the user looks at korvi (no longer urgent)
        self.session.start(["xmessage", "covering korvi"], env=dict(
            self.session.env, DISPLAY=self.display), as_user=True)
        wait_for("the covering window", lambda: any(
            n.get("window_properties", {}).get("class") == "Xmessage" and n["focused"]
            for n in self.nodes()))

    def move(self, con, x, y):
        self.swaymsg(f"[con_id={con}]", "move", "position", str(x), str(y))

    def close(self, con):
        self.swaymsg(f"[con_id={con}]", "kill")


class SwayWayland(Sway):
    """korvi on Wayland itself: sway without Xwayland for korvi to go to."""
    name = "sway-wayland"
    knows_position = False  # no Wayland program learns where its window is
    # A Wayland program may ask to be activated only with a token from its own recent input.
    click_raises = None
    shell = "xdg_shell"

    def korvi_env(self):
        return {"WAYLAND_DISPLAY": self.wayland, "DISPLAY": ""}


DESKTOPS = (Sway, SwayWayland)
