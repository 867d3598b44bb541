"""The trays the end-to-end tests run korvi beside, each started and stopped at will:
trayer over XEmbed, the test watcher over StatusNotifierItem, or both at once."""

import os
import shutil
import socket
import subprocess
import tempfile

from xsession import private_bus, readline, wait_for  # noqa: F401  (re-exported)


def docked_entries(server, window):
    """korvi's windows that trayer embedded and shows."""
    root = server.x.XDefaultRootWindow(server.dpy)
    found = []
    for w in server.find("--class", "korvi"):
        try:
            if w != window and server.parent(w) != root and server.info(w)["state"] == "IsViewable":
                found.append(w)
        except subprocess.CalledProcessError:
            pass  # gone since the search: a tray that went takes its entries along
    return found


def session_bus(test):
    """A private session bus for one test: the variables that lead a program to it."""
    folder = tempfile.mkdtemp(prefix="korvi-bus-")
    test.addCleanup(shutil.rmtree, folder)
    daemon, address = private_bus(folder)
    test.addCleanup(lambda: (daemon.terminate(), daemon.wait(), daemon.stdout.close()))
    return {"DBUS_SESSION_BUS_ADDRESS": address}


def mute_bus(test):
    """A session bus whose socket takes every connection and never says a word."""
    folder = tempfile.mkdtemp(prefix="korvi-mute-bus-")
    test.addCleanup(shutil.rmtree, folder)
    listener = socket.socket(socket.AF_UNIX)
    test.addCleanup(listener.close)
    listener.bind(os.path.join(folder, "bus"))
    listener.listen(16)  # connections wait in the backlog, never accepted
    return {"DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(folder, "bus")}


class XEmbedHost:
    """trayer, started and stopped at will; korvi's entries are the windows it docked."""
    env = {}

    def __init__(self, test, server, watcher):
        self.server = server

    def start(self):
        self.proc = self.server.start_tray()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        wait_for("trayer to let go of the tray", lambda: not self.server.tray_owner())

    def entries(self, window):
        return docked_entries(self.server, window)

    def click(self, entry):
        self.server.run(["xdotool", "mousemove", "--window", str(entry), "4", "4", "click", "1"])

    shown = entries


class StatusNotifierHost:
    """The test watcher on a private bus; korvi's entries are the items registered with it."""

    def __init__(self, test, server, watcher):
        self.server, self.watcher = server, watcher
        self.env = session_bus(test)
        self.bus_env = dict(server.env, **self.env)

    def start(self):
        self.proc = self.server.start([self.watcher, "watch"], env=self.bus_env,
                                      stdout=subprocess.PIPE, text=True)
        if readline(self.proc.stdout) != "ready":
            raise AssertionError("the watcher did not start")

    def stop(self):
        self.proc.terminate()
        self.proc.wait()

    def entries(self, window):
        return self.server.run([self.watcher, "items"], env=self.bus_env).split()

    def click(self, entry):
        self.server.run([self.watcher, "call", entry, "Activate"], env=self.bus_env)

    shown = entries


class BothHosts:
    """Both trays at once, as xfce4-panel offers them; the entry belongs in the watcher's."""

    def __init__(self, test, server, watcher):
        self.xembed = XEmbedHost(test, server, watcher)
        self.watcher = StatusNotifierHost(test, server, watcher)
        self.env = self.watcher.env

    def start(self):
        self.xembed.start()
        self.watcher.start()

    def stop(self):
        self.xembed.stop()
        self.watcher.stop()

    def entries(self, window):
        return self.watcher.entries(window) + self.xembed.entries(window)

    def shown(self, window):
        return self.watcher.entries(window)

    def click(self, entry):
        self.watcher.click(entry)
