"""korvi end to end: the built program in a folder of its own, on a private X server.

korvi_e2e.py --korvi PATH --assets DIR --watcher PATH --session-manager PATH [suite]
Exits 77 when every test was skipped.
"""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import korvi_launch  # noqa: E402
from tray_hosts import (BothHosts, StatusNotifierHost, XEmbedHost, docked_entries,  # noqa: E402
                        mute_bus, session_bus)
from xsession import XServer, readline, wait_for  # noqa: E402

ARGS = None
NEEDS_ROOT = "korvi runs in a network namespace of its own (unshare -n), which needs root"

# Comments, CR LF and LF endings and an unknown key: closing must keep them all. No probe runs
# during a test.
SETTINGS = korvi_launch.settings(timer=3600000)


def docked(server, window):
    """korvi's tray entry once trayer embedded it."""
    return wait_for("korvi's tray entry docked in trayer",
                    lambda: (docked_entries(server, window) or [None])[0])


class Korvi(korvi_launch.Korvi):
    """One run of korvi, in a network namespace of its own, from a temporary folder holding it,
    its icons and `settings`."""

    def __init__(self, test, server, settings, env=None, files=None):
        folder = korvi_launch.laid_out_folder(test, ARGS.korvi, ARGS.assets, settings, "korvi-e2e-")
        for name, content in (files or {}).items():  # bytes, or what makes the file
            if callable(content):
                content(os.path.join(folder, name))
                continue
            with open(os.path.join(folder, name), "wb") as file:
                file.write(content)
        self.ini = os.path.join(folder, "korvi.ini")
        super().__init__(server, folder, netns=True, env=env)
        test.addCleanup(self.stop)

    def visible(self, name):
        return [w for w in self.server.find("--onlyvisible", "--name", name)
                if self.server.info(w)["state"] == "IsViewable"]

    def settings(self):
        return korvi_launch.read(self.ini)


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class XEmbedTray(unittest.TestCase):
    def test_places_the_window_docks_shows_on_click_and_saves_the_position(self):
        server = XServer(tray=True)
        self.addCleanup(server.close)
        korvi = Korvi(self, server, SETTINGS)
        window = korvi.window()
        info = server.info(window)
        self.assertEqual((info["x"], info["y"], info["width"], info["height"]), (200, 100, 104, 89))
        hints = server.run(["xprop", "-id", str(window), "_NET_WM_WINDOW_TYPE", "WM_NORMAL_HINTS"])
        self.assertIn("_NET_WM_WINDOW_TYPE_UTILITY", hints)
        self.assertIn("minimum size: 104 by 89", hints)
        self.assertIn("maximum size: 104 by 89", hints)

        server.run(["xdotool", "mousemove", "--window", str(window), "40", "8", "click", "1"])
        self.assertEqual(server.copy("ctrl+a", "ctrl+c"), "127.0.0.1")

        icon = docked(server, window)

        server.run(["xdotool", "windowunmap", "--sync", str(window)])
        for button in ("3", "2"):
            server.run(["xdotool", "mousemove", "--window", str(icon), "4", "4", "click", button])
        time.sleep(0.5)
        self.assertEqual(server.info(window)["state"], "IsUnMapped",
                         "only a left click shows the window")
        server.run(["xdotool", "mousemove", "--window", str(icon), "4", "4", "click", "1"])
        wait_for("the window to show again", lambda: server.info(window)["state"] == "IsViewable")
        self.assertEqual((server.info(window)["x"], server.info(window)["y"]), (200, 100))

        server.run(["xdotool", "windowmove", "--sync", str(window), "300", "150"])
        server.close_window(window)
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)
        self.assertNotIn("korvi:", err)
        expected = SETTINGS.replace(b"top=1500", b"top=2250").replace(b"left=3000", b"left=4500")
        self.assertEqual(korvi.settings(), expected)

    def test_works_without_a_tray_and_says_so_once(self):
        server = XServer(tray=False)
        self.addCleanup(server.close)
        korvi = Korvi(self, server, SETTINGS)
        server.close_window(korvi.window())
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)
        self.assertEqual(err.count("korvi: no notification area"), 1, err)
        self.assertNotEqual(korvi.settings(), b"", "closing still saves the position")


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class WindowManager(unittest.TestCase):
    def test_the_frame_keeps_its_place_and_a_minimised_window_comes_back(self):
        server = XServer(tray=True, wm=True)
        self.addCleanup(server.close)
        korvi = Korvi(self, server, SETTINGS)
        window = korvi.window()
        left, _, top, _ = wait_for("the window's frame", lambda: server.frame_extents(window))
        self.assertGreater(top, 0, "openbox draws a title bar")
        info = server.info(window)
        self.assertEqual((info["x"] - left, info["y"] - top), (200, 100))
        state = server.run(["xprop", "-id", str(window), "_NET_WM_STATE"])
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", state, "a tool window stays out of the task bar")

        server.run(["xdotool", "windowminimize", "--sync", str(window)])
        icon = docked(server, window)
        server.run(["xdotool", "mousemove", "--window", str(icon), "4", "4", "click", "1"])
        wait_for("the window to come back", lambda: server.info(window)["state"] == "IsViewable")
        wait_for("the window to be active",
                 lambda: server.run(["xdotool", "getactivewindow"]).strip() == str(window))
        info = server.info(window)
        self.assertEqual((info["x"] - left, info["y"] - top), (200, 100), "back where it was")

        server.run(["xdotool", "windowmove", "--sync", str(window), "300", "150"])
        moved = server.info(window)
        server.close_window(window)
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)
        top_twips, left_twips = (moved["y"] - top) * 15, (moved["x"] - left) * 15
        expected = SETTINGS.replace(b"top=1500", b"top=%d" % top_twips) \
                           .replace(b"left=3000", b"left=%d" % left_twips)
        self.assertEqual(korvi.settings(), expected)

    def test_a_window_off_every_screen_comes_up_on_it_and_the_file_waits_for_the_close(self):
        server = XServer(tray=True, wm=True)
        self.addCleanup(server.close)
        settings = SETTINGS.replace(b"top=1500", b"top=-150000").replace(b"left=3000",
                                                                         b"left=150000")
        korvi = Korvi(self, server, settings)
        window = korvi.window()
        left, right, top, bottom = wait_for("the window's frame",
                                            lambda: server.frame_extents(window))
        info = wait_for("the window on the screen", lambda: (lambda i: i if i["y"] - top >= 0
                        and i["x"] + i["width"] + right <= 800 else None)(server.info(window)))
        self.assertEqual((info["x"] + info["width"] + right, info["y"] - top), (800, 0),
                         "wholly on the screen, in the corner nearest to where it was put")
        self.assertEqual(korvi.settings(), settings, "the file keeps its values while korvi runs")
        server.close_window(window)
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)
        expected = settings.replace(b"top=-150000", b"top=0").replace(
            b"left=150000", b"left=%d" % ((info["x"] - left) * 15))
        self.assertEqual(korvi.settings(), expected, "the close writes where the window was")

    def test_scaled_screens_keep_logical_pixels_and_the_place_does_not_drift(self):
        server = XServer(tray=True, wm=True)
        self.addCleanup(server.close)
        rows = [  # name, scale, environment; the X resource last, as it stays on the server
            ("unscaled", 1, {}),
            ("QT_SCALE_FACTOR 1.5", 1.5, {"QT_SCALE_FACTOR": "1.5"}),
            ("QT_SCALE_FACTOR 2", 2, {"QT_SCALE_FACTOR": "2"}),
            ("Xft.dpi 192", 2, None),
        ]
        for name, scale, env in rows:
            with self.subTest(name):
                if env is None:
                    subprocess.run(["xrdb", "-merge"], input="Xft.dpi: 192\n", text=True,
                                   env=server.env, check=True)
                for run in ("first", "second"):  # each start reads what the last close wrote
                    korvi = Korvi(self, server, SETTINGS, env=env)
                    size = (round(104 * scale), round(89 * scale))
                    window = wait_for("korvi's window", lambda: next(
                        (w for w in korvi.visible("^B$") if (server.info(w)["width"],
                         server.info(w)["height"]) == size), None))
                    left, _, top, _ = wait_for("the frame", lambda: server.frame_extents(window))
                    info = server.info(window)
                    self.assertEqual((info["x"] - left, info["y"] - top),
                                     (round(200 * scale), round(100 * scale)), run)
                    server.close_window(window)
                    self.assertEqual(korvi.finish()[0], 0)
                    self.assertEqual(korvi.settings(), SETTINGS, f"{run} close moved the window")


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class ProbeCycle(unittest.TestCase):
    def test_answered_then_silent_switches_colour_and_writes_one_line_each(self):
        server = XServer(tray=True)
        self.addCleanup(server.close)
        korvi = Korvi(self, server, SETTINGS.replace(b"timer=3600000", b"timer=200"))
        window = korvi.window()
        info = server.info(window)
        # Inside the log box, left of its scroll bar and below the lines it will hold.
        blank = (info["x"] + 6, info["y"] + 80)

        def log():
            server.run(["xdotool", "mousemove", "--window", str(window), "20", "40", "click", "1"])
            return (server.copy("ctrl+a", "ctrl+c") or "").splitlines()
        wait_for("the answered colour", lambda: server.pixel(*blank) == (144, 238, 144))
        lines = wait_for("the first log line", log)
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"^\d\d:\d\d:\d\d :  0$")

        # korvi's own namespace stops answering echo requests.
        subprocess.run(["nsenter", "-t", str(korvi.proc.pid), "-n", "sysctl", "-qw",
                        "net.ipv4.icmp_echo_ignore_all=1"], check=True)
        wait_for("the not-answered colour", lambda: server.pixel(*blank) == (255, 170, 170))
        time.sleep(1.5)  # a few more silent ticks, which must write nothing
        lines = log()
        self.assertEqual(len(lines), 2, lines)
        self.assertRegex(lines[0], r"^\d\d:\d\d:\d\d :  11010$")
        self.assertRegex(lines[1], r"^\d\d:\d\d:\d\d :  0$")

        server.close_window(window)
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class StatusNotifierTray(unittest.TestCase):
    def test_item_registers_with_its_tip_and_activate_shows_the_window(self):
        server = XServer(tray=False)
        self.addCleanup(server.close)
        bus = session_bus(self)
        env = dict(server.env, **bus)
        watcher = server.start([ARGS.watcher, "watch"], env=env, stdout=subprocess.PIPE, text=True)
        self.assertEqual(readline(watcher.stdout), "ready")

        korvi = Korvi(self, server, SETTINGS, env=bus)
        item = readline(watcher.stdout)
        self.assertRegex(item, r"^item \S+$")
        service = item.split()[1]
        self.assertEqual(server.run([ARGS.watcher, "tooltip", service], env=env).strip(), "B")
        # The menu the item names answers what a host asks of it on a right click.
        menu = ["dbus-send", "--session", "--print-reply", "--dest=" + service, "/MenuBar",
                "com.canonical.dbusmenu."]
        for call in (["GetLayout", "int32:0", "int32:-1", "array:string:"], ["AboutToShow",
                     "int32:0"], ["GetGroupProperties", "array:int32:0", "array:string:"],
                     ["Event", "int32:0", "string:clicked", "variant:int32:0", "uint32:0"]):
            server.run(menu[:-1] + [menu[-1] + call[0]] + call[1:], env=env)

        window = korvi.window()
        server.run(["xdotool", "windowunmap", "--sync", str(window)])
        for method in ("ContextMenu", "SecondaryActivate"):
            server.run([ARGS.watcher, "call", service, method], env=env)
        time.sleep(0.5)
        self.assertEqual(server.info(window)["state"], "IsUnMapped")
        server.run([ARGS.watcher, "call", service, "Activate"], env=env)
        wait_for("the window to show again", lambda: server.info(window)["state"] == "IsViewable")

        server.close_window(window)
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)
        self.assertNotIn("korvi:", err)


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class TrayStartOrder(unittest.TestCase):
    def test_one_entry_whichever_starts_first_and_after_the_tray_restarts(self):
        for host_kind in (StatusNotifierHost, XEmbedHost, BothHosts):
            for order in ("tray first", "korvi first", "tray restarted"):
                with self.subTest(host_kind.__name__, order=order):
                    server = XServer(tray=False)
                    self.addCleanup(server.close)
                    host = host_kind(self, server, ARGS.watcher)
                    if order != "korvi first":
                        host.start()
                    korvi = Korvi(self, server, SETTINGS, env=host.env)
                    window = korvi.window()  # shown after its entry was added
                    if order == "korvi first":
                        host.start()
                    if order == "tray restarted":
                        wait_for("korvi's first entry", lambda: host.shown(window))
                        host.stop()
                        host.start()
                    entry = wait_for("korvi's entry", lambda: host.shown(window))[0]

                    server.run(["xdotool", "windowunmap", "--sync", str(window)])
                    host.click(entry)
                    wait_for("the window to show again",
                             lambda: server.info(window)["state"] == "IsViewable")
                    self.assertEqual(host.entries(window), [entry], "exactly one entry")
                    server.close_window(window)
                    self.assertEqual(korvi.finish()[0], 0)
                    server.close()


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class SlowPeers(unittest.TestCase):
    def test_no_peer_holds_the_window_the_probes_or_an_ending(self):
        rows = [  # name, the peer, whether it answers once korvi is up, how korvi is ended
            ("a watcher that does not answer", "watcher", False, "close"),
            ("a watcher that answers late", "watcher", True, signal.SIGTERM),
            ("a session bus that never speaks", "bus", False, signal.SIGTERM),
        ]
        settings = SETTINGS.replace(b"timer=3600000", b"timer=300")
        for name, peer, answers, ending in rows:
            with self.subTest(name):
                server = XServer(tray=True)
                self.addCleanup(server.close)
                if peer == "watcher":
                    host = StatusNotifierHost(self, server, ARGS.watcher)
                    host.start()
                    host.proc.send_signal(signal.SIGSTOP)  # owns its name, answers nothing
                    self.addCleanup(host.proc.send_signal, signal.SIGCONT)
                korvi = Korvi(self, server, settings, env=host.env if peer == "watcher" else
                              mute_bus(self))
                # While the peer is silent: the window painted with the first probe's colour,
                # and the entry in the X tray.
                window = korvi.window()
                info = server.info(window)
                wait_for("the first probe", lambda: server.pixel(info["x"] + 6, info["y"] + 80)
                         == (144, 238, 144))
                docked(server, window)
                if answers:
                    host.proc.send_signal(signal.SIGCONT)
                    wait_for("the entry in the watcher's tray", lambda: host.entries(window))
                    wait_for("the X tray's entry to go", lambda: not docked_entries(server, window))
                if ending == "close":
                    server.close_window(window)
                else:
                    korvi.proc.send_signal(ending)
                status, err = korvi.finish(timeout=5)
                self.assertEqual(status, 0, err)
                self.assertEqual(korvi.settings(), settings)


def main():
    global ARGS
    ARGS, rest = korvi_launch.arguments(("--watcher", {"required": True}),
                                        ("--session-manager", {"required": True}))
    korvi_launch.run_tests(rest)


if __name__ == "__main__":
    main()
