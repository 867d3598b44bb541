"""XFCE: xfwm4 and xfce4-panel (a task list, then its systray plugin at the right end) on
Xvfb. The systray plugin hosts StatusNotifierItems (it owns the watcher) and XEmbed icons;
korvi takes the watcher when its bus has one, so the XEmbed run gives korvi a bus without."""

import glob
import re
import subprocess

from harness import Desktop, wait_for, wait_x
from xsession import XServer

PANEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="26"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/><value type="int" value="2"/><value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-3" type="string" value="systray"/>
  </property>
</channel>
"""
TRAY_WIDTH = 80  # the right end of the panel, where the systray plugin sits
NOTIFYD = (glob.glob("/usr/lib/*/xfce4/notifyd/xfce4-notifyd") or ["xfce4-notifyd"])[0]


def overlap(a, b):
    return b["state"] == "IsViewable" and a["x"] < b["x"] + b["width"] and \
        b["x"] < a["x"] + a["width"] and a["y"] < b["y"] + b["height"] and \
        b["y"] < a["y"] + a["height"]


class Xfce(Desktop):
    requires = ("Xvfb", "xfwm4", "xfce4-panel", "xdotool", "xprop", "xwininfo", "import", NOTIFYD)
    bubbles = (400, 30, 400, 170)  # xfce4-notifyd's, under the panel's right end

    def start(self, session):
        self.session = session
        self.x = XServer()
        session.later(self.x.close)
        session.env["DISPLAY"] = self.x.display
        session.write("home/.config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml", PANEL)
        session.bus(activation=True)  # xfconfd, started by the bus, reads the panel's settings
        session.start(["xfwm4", "--compositor=off"])
        wait_x(self.x, "xfwm4", lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in
               self.x.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]))
        session.start(["xfce4-panel"])
        self.panel = wait_x(self.x, "xfce4-panel", self._panel)
        wait_x(self.x, "the panel's tray", self._tray_ready)
        # Notifications: XFCE's service on the bus korvi is given (the XEmbed run's own).
        session.start([NOTIFYD], env=dict(session.env, **self.korvi_env()))

    def _panel(self):
        for window in self.x.find("--onlyvisible", "--class", "^xfce4-panel$"):
            info = self.x.info(window)
            if info["width"] > 400:
                return info
        return None

    def _tray_ready(self):
        return self.x.tray_owner()

    def screenshot(self, path):
        self.x.run(["import", "-window", "root", path])

    def click(self, x, y):
        self.x.run(["xdotool", "mousemove", str(x), str(y), "click", "1"])

    def tray_area(self):
        p = self.panel
        return (p["x"] + p["width"] - TRAY_WIDTH, p["y"], TRAY_WIDTH, p["height"])

    def task_bar_area(self):
        p = self.panel
        return (p["x"], p["y"], p["width"] - TRAY_WIDTH, p["height"])

    def docked(self, korvi):
        tray_x, tray_y, width, height = self.tray_area()
        for w in self.x.find("--onlyvisible", "--pid", str(korvi.pid)):
            info = self.x.info(w)
            if info["state"] == "IsViewable" and tray_x <= info["x"] < tray_x + width and \
                    tray_y <= info["y"] < tray_y + height:
                return True
        return False

    def default_action(self, x, y):
        # A click on the bubble closes it: the default action is a button, in its bottom right.
        for window in self.x.find("--onlyvisible", "--class", "^xfce4-notifyd$"):
            b = self.x.info(window)
            if b["x"] <= x < b["x"] + b["width"] and b["y"] <= y < b["y"] + b["height"]:
                return b["x"] + b["width"] - 59, b["y"] + b["height"] - 31
        raise AssertionError(f"no bubble of xfce4-notifyd at {x}, {y}")

    def find_window(self, korvi):
        for w in self.x.find("--onlyvisible", "--pid", str(korvi.pid), "--name", "^B$"):
            if self.x.info(w)["state"] == "IsViewable":
                return w
        return None

    def wait(self, what, check):
        return wait_x(self.x, what, check)

    def window(self, korvi):
        window = super().window(korvi)
        wait_for("xfwm4's frame", lambda: self.x.frame_extents(window))
        return window

    def state(self, window):
        info = self.x.info(window)
        left, _, top, _ = self.x.frame_extents(window)
        active = subprocess.run(["xdotool", "getactivewindow"], env=self.x.env,
                                capture_output=True, text=True).stdout.strip()
        stacking = [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", self.x.run(
            ["xprop", "-root", "_NET_CLIENT_LIST_STACKING"]))]
        shown = info["state"] == "IsViewable"
        above = stacking[stacking.index(window) + 1:] if window in stacking else []
        covered = any(overlap(info, self.x.info(w)) for w in above)
        return {"x": info["x"] - left, "y": info["y"] - top, "shown": shown,
                "front": shown and active == str(window) and not covered}

    def hide(self, window):
        self.x.run(["xdotool", "windowminimize", "--sync", str(window)])

    def move(self, window, x, y):
        self.x.run(["xdotool", "windowmove", "--sync", str(window), str(x), str(y)])

    def close(self, window):
        self.x.close_window(window)


class XfceSni(Xfce):
    name = "xfce-sni"
    protocol = "sni"

    def _tray_ready(self):
        return self.x.tray_owner() and "boolean true" in self.session.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
             "org.freedesktop.DBus.NameHasOwner", "string:org.kde.StatusNotifierWatcher"])

    def korvi_env(self):
        return {}


class XfceXEmbed(Xfce):
    name = "xfce-xembed"
    protocol = "xembed"

    def start(self, session):
        # A bus of korvi's own, where no watcher is: korvi docks its icon over XEmbed.
        self.bus = {"DBUS_SESSION_BUS_ADDRESS": session.bus(export=False)}
        super().start(session)

    def korvi_env(self):
        return self.bus


DESKTOPS = (XfceSni, XfceXEmbed)
