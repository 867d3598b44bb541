"""KDE Plasma 5.27: kwin_wayland on a virtual output with Xwayland, then plasmashell, whose
panel holds a task manager and the system tray (StatusNotifierItem; the watcher is a kded
module). KWin answers for itself: a script it runs tells where korvi's window is, a
fake-input client clicks, its ScreenShot2 interface takes the screenshots. korvi goes to
Xwayland (its default there: Qt 6.4 keeps xcb where DISPLAY is set), or, with
QT_QPA_PLATFORM=wayland, to KWin itself."""

import json
import os
import secrets
import shutil
import struct
import subprocess
import zlib

from harness import START_TIMEOUT, Desktop, wait_for

# What a Plasma Wayland session sets for its programs; KWin's two switches let a test's
# clients take screenshots and give input without a .desktop file granting them.
ENV = {"XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "KDE", "KDE_FULL_SESSION": "true",
       "KDE_SESSION_VERSION": "5", "QT_QPA_PLATFORM": "wayland",
       "KWIN_WAYLAND_NO_PERMISSION_CHECKS": "1", "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS": "1",
       "QT_LOGGING_RULES": "kwin_scripting.debug=true"}  # a KWin script's print() to the log
# KWin runs this once Xwayland is up: its display goes into a file, where the test reads it.
TELL_DISPLAY = ("sh -c 'cd \"$XDG_RUNTIME_DIR\" && echo $DISPLAY > xdisplay.new && "
                "mv xdisplay.new xdisplay'")
# korvi's window (by its process), the panel, and what stands above korvi's window.
QUERY = """const all = workspace.clientList().sort((a, b) => a.stackingOrder - b.stackingOrder);
const korvi = all.find(c => c.pid === %d && c.caption === "B");
const panel = all.find(c => c.dock);
const box = c => c ? [c.frameGeometry.x, c.frameGeometry.y, c.frameGeometry.width,
                       c.frameGeometry.height] : null;
const over = (a, b) => a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
                       b.y < a.y + a.height;
const above = korvi ? all.slice(all.indexOf(korvi) + 1).filter(c => !c.dock && !c.minimized &&
    (c.normalWindow || c.dialog || c.utility) && over(c.frameGeometry, korvi.frameGeometry)) : [];
print("%s " + JSON.stringify({window: box(korvi), panel: box(panel),
    shown: !!korvi && !korvi.minimized, active: !!korvi && workspace.activeClient === korvi,
    covered: above.length > 0}));
%s
"""
TRAY_WIDTH = 250  # the panel's right end: the tray, then the clock


def write_png(path, width, height, stride, bgra):
    """KWin's pixels (32 bits, in memory order B, G, R, A: QImage's ARGB32) as an RGB PNG;
    a few lines here take a tenth of the time ImageMagick takes on a busy machine."""
    rows = []
    for y in range(height):
        line = bgra[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(b"\0" + bytes(rgb))  # each row unfiltered

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + \
            struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(
            ">IIBBBBB", width, height, 8, 2, 0, 0, 0)) + chunk(b"IDAT", zlib.compress(
                b"".join(rows), 1)) + chunk(b"IEND", b""))


class Kde(Desktop):
    name = "kde"
    protocol = "sni"
    requires = ("kwin_wayland", "plasmashell", "kded5", "Xwayland", "dbus-send",
                "dbus-update-activation-environment")
    bubbles = (400, 400, 400, 156)  # Plasma's, above the tray

    def unavailable(self):
        if not self.args.kwin_pointer:
            return "KDE needs --kwin-pointer (tests/desktops/kwin_pointer) for its clicks"
        try:
            import gi  # noqa: F401  (ScreenShot2 hands the picture over a file descriptor)
        except ImportError:
            return "not installed: python3-gi (scripts/packages-desktops.txt)"
        return super().unavailable()

    def start(self, session):
        self.session = session
        session.bus("system")
        session.bus(activation=True)  # kded5 and kactivitymanagerd, started by the bus
        session.env.update(ENV)
        # A bubble stays a minute rather than 5 s: screenshots find it, slowly on a busy machine.
        session.write("home/.config/plasmanotifyrc", "[Notifications]\nPopupTimeout=60000\n")
        # The installed kwin_wayland carries a file capability (cap_sys_resource) that a
        # container may refuse to grant: a copy carries none.
        kwin = shutil.copy("/usr/bin/kwin_wayland", session.path("kwin_wayland"))
        self.log = session.path("kwin_wayland.log")
        session.start([kwin, "--virtual", "--width", "800", "--height", "600", "--xwayland",
                       "--socket", "wayland-kde", TELL_DISPLAY])
        runtime = session.env["XDG_RUNTIME_DIR"]
        display = os.path.join(runtime, "xdisplay")
        wait_for("KWin and its Xwayland", lambda: os.path.exists(display), START_TIMEOUT)
        with open(display) as file:
            session.env["DISPLAY"] = file.read().strip()
        session.env["WAYLAND_DISPLAY"] = "wayland-kde"
        # korvi has a runtime folder of its own: it finds KWin's socket by its full path.
        self.wayland = os.path.join(runtime, "wayland-kde")
        # The services the bus starts (kded5, the activity manager) need the session's display.
        session.run(["dbus-update-activation-environment", "--all"])
        # The tray's watcher is a kded module, which a session's start-up loads; ask for it now
        # (without waiting: kded5 starts meanwhile) so that it is there when the tray looks.
        self.send("--dest=org.kde.kded5", "/kded", "org.kde.kded5.loadModule",
                  "string:statusnotifierwatcher", reply=False)
        session.start(["plasmashell", "--no-respawn"])
        wait_for("Plasma's tray (a StatusNotifierHost at the watcher)", lambda: "true" in self.send(
            "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
            "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierWatcher",
            "string:IsStatusNotifierHostRegistered"), START_TIMEOUT, 0.1)
        wait_for("Plasma's panel", lambda: self.query(0)["panel"], START_TIMEOUT, 0.1)

    def send(self, *call, reply=True):
        """A call on the session bus; "" while its destination is not there yet."""
        flags = ["--print-reply"] if reply else []
        try:
            return self.session.run(["dbus-send", "--session", *flags, *call])
        except subprocess.CalledProcessError:
            return ""

    def scripting(self, method, *args):
        self.session.run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin",
                          "/Scripting", f"org.kde.kwin.Scripting.{method}", *args])

    def query(self, pid, then=""):
        """What KWin knows of korvi's window and the panel; `then` acts on `korvi`."""
        name = f"korvi-{secrets.token_hex(4)}"
        path = self.session.write(f"{name}.js", QUERY % (pid, name, then))
        self.scripting("loadScript", f"string:{path}", f"string:{name}")
        self.scripting("start")

        def answer():
            with open(self.log, errors="replace") as log:
                for line in log:
                    if line.startswith(f"js: {name} "):
                        return json.loads(line.split(name, 1)[1])
            return None
        # KWin reads and runs a script after start() has returned: unloaded only once it ran.
        try:
            return wait_for("KWin's script", answer, 10)
        finally:
            self.scripting("unloadScript", f"string:{name}")

    def korvi_env(self):
        return {"WAYLAND_DISPLAY": self.wayland}  # Qt 6.4 still takes xcb where DISPLAY is set

    def screenshot(self, path):
        import gi
        gi.require_version("Gio", "2.0")
        from gi.repository import Gio, GLib
        bus = Gio.DBusConnection.new_for_address_sync(
            self.session.env["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        read, write = os.pipe()
        try:
            reply, _ = bus.call_with_unix_fd_list_sync(
                "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                "CaptureArea", GLib.Variant("(iiuua{sv}h)", (0, 0, 800, 600, {}, 0)),
                GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE, 10000,
                Gio.UnixFDList.new_from_array([os.dup(write)]))
            os.close(write)
            meta = reply.unpack()[0]
            size, data = meta["stride"] * meta["height"], b""
            while len(data) < size:
                chunk = os.read(read, size - len(data))
                if not chunk:
                    raise AssertionError("KWin's screenshot ended early")
                data += chunk
        finally:
            os.close(read)
            bus.close_sync()
        write_png(path, meta["width"], meta["height"], meta["stride"], data)

    def click(self, x, y):
        self.session.run([self.args.kwin_pointer, str(x), str(y)])

    def tray_area(self):
        x, y, width, height = self.query(0)["panel"]
        return (x + width - TRAY_WIDTH, y, TRAY_WIDTH, height)

    def task_bar_area(self):
        x, y, width, height = self.query(0)["panel"]
        return (x, y, width - TRAY_WIDTH, height)

    def find_window(self, korvi):
        return korvi.pid if self.query(korvi.pid)["shown"] else None

    def state(self, pid):
        answer = self.query(pid)
        x, y, _, _ = answer["window"]
        return {"x": x, "y": y, "shown": answer["shown"],
                "front": answer["shown"] and answer["active"] and not answer["covered"]}

    def hide(self, pid):
        self.query(pid, "korvi.minimized = true;")

    def move(self, pid, x, y):
        size = "width: korvi.frameGeometry.width, height: korvi.frameGeometry.height"
        self.query(pid, f"korvi.frameGeometry = {{x: {x}, y: {y}, {size}}};")

    def close(self, pid):
        self.query(pid, "korvi.closeWindow();")


class KdeWayland(Kde):
    """korvi on Wayland itself (QT_QPA_PLATFORM=wayland): KWin places the window."""
    name = "kde-wayland"
    places = False
    # Nothing in Wayland lets korvi keep its tool window out of Plasma's task manager: the
    # window shows there, under Wayland's generic icon.
    task_bar = False
    knows_position = False  # no Wayland program learns where its window is

    def korvi_env(self):
        return {"WAYLAND_DISPLAY": self.wayland, "QT_QPA_PLATFORM": "wayland"}

    def own_place(self, pid):
        # KWin's default placement for a window that asks for none: centred in the area the
        # panel leaves.
        x, y, width, height = self.query(pid)["window"]
        return ((800 - width) // 2, (600 - self.query(0)["panel"][3] - height) // 2)


DESKTOPS = (Kde, KdeWayland)
