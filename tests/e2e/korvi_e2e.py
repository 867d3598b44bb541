"""korvi end to end: the built program in a folder of its own, on a private X server.

korvi_e2e.py --korvi PATH --assets DIR --watcher PATH [unittest arguments]
Exits 77 when every test was skipped.
"""

import argparse
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from xsession import XServer, private_bus, wait_for

ARGS = None
ICONS = ("korvi-up.ico", "korvi-down.ico", "korvi-neutral.ico")
NEEDS_ROOT = "korvi runs in a network namespace of its own (unshare -n), which needs root"

# Comments, a blank line, CR LF and LF endings and an unknown key: closing must keep them all.
SETTINGS = (b"; watched by the end-to-end test\r\n"
            b"[main]\r\n"
            b"top=1500\r\n"
            b"left=3000\r\n"
            b"icon1=korvi-up.ico\n"
            b"r1=144\ng1=238\nb1=144\n"
            b"icon2=korvi-down.ico\n"
            b"r2=255\ng2=170\nb2=170\n"
            b"colour=kept\n"
            b"\n"
            b"[setting]\n"
            b"; long enough that no probe runs during a test\n"
            b"timer=3600000\n"
            b"ipaddress=127.0.0.1\n")


def readline(pipe, timeout=10.0):
    ready, _, _ = select.select([pipe], [], [], timeout)
    if not ready:
        raise AssertionError(f"no output within {timeout} s")
    return pipe.readline().strip()


def tray_entries(server, window):
    """korvi's tray entries that trayer holds."""
    root = server.x.XDefaultRootWindow(server.dpy)
    return [w for w in server.find("--class", "korvi")
            if w != window and server.parent(w) != root and server.info(w)["state"] == "IsViewable"]


def docked(server, window):
    """korvi's tray entry once trayer embedded it."""
    root = server.x.XDefaultRootWindow(server.dpy)

    def find():
        for w in server.find("--class", "korvi"):
            if w != window and server.parent(w) != root and server.info(w)["state"] == "IsViewable":
                return w
        return None
    return wait_for("korvi's tray entry docked in trayer", find)


class Korvi:
    """One run of korvi from a temporary folder holding it, its icons and `settings`."""

    def __init__(self, test, server, settings, env=None, files=None):
        self.server = server
        self.dir = tempfile.mkdtemp(prefix="korvi-e2e-")
        test.addCleanup(shutil.rmtree, self.dir)
        shutil.copy2(ARGS.korvi, self.dir)
        for icon in ICONS:
            shutil.copy2(os.path.join(ARGS.assets, icon), self.dir)
        self.ini = os.path.join(self.dir, "korvi.ini")
        for name, content in dict(files or {}, **({"korvi.ini": settings} if settings is not None
                                                   else {})).items():
            with open(os.path.join(self.dir, name), "wb") as file:
                file.write(content)
        runtime = os.path.join(self.dir, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(server.env, XDG_RUNTIME_DIR=runtime, **(env or {}))
        env.pop("QT_QPA_PLATFORM", None)
        # From the working folder elsewhere: korvi finds its files beside itself.
        command = ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0"',
                   os.path.join(self.dir, "korvi")]
        self.proc = server.start(command, env=env, cwd="/", stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True)
        test.addCleanup(self.stop)

    def visible(self, name):
        return [w for w in self.server.find("--onlyvisible", "--name", name)
                if self.server.info(w)["state"] == "IsViewable"]

    def window(self):
        def shown():
            for w in self.visible("^B$"):
                if (self.server.info(w)["width"], self.server.info(w)["height"]) == (104, 89):
                    return w
            if self.proc.poll() is not None:
                raise AssertionError(f"korvi ended with {self.proc.returncode}: "
                                     f"{self.proc.stderr.read()}")
            return None
        return wait_for("korvi's window", shown)

    def settings(self):
        with open(self.ini, "rb") as file:
            return file.read()

    def finish(self, timeout=10):
        try:
            _, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"korvi still runs {timeout} s later")
        return self.proc.returncode, err

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


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
    def private_bus(self):
        folder = tempfile.mkdtemp(prefix="korvi-bus-")
        self.addCleanup(shutil.rmtree, folder)
        daemon, address = private_bus(folder)
        self.addCleanup(lambda: (daemon.terminate(), daemon.wait(), daemon.stdout.close()))
        return {"DBUS_SESSION_BUS_ADDRESS": address}

    def test_item_registers_with_its_tip_and_activate_shows_the_window(self):
        server = XServer(tray=False)
        self.addCleanup(server.close)
        bus = self.private_bus()
        env = dict(server.env, **bus)
        watcher = server.start([ARGS.watcher, "watch"], env=env, stdout=subprocess.PIPE, text=True)
        self.assertEqual(readline(watcher.stdout), "ready")

        korvi = Korvi(self, server, SETTINGS, env=bus)
        item = readline(watcher.stdout)
        self.assertRegex(item, r"^item \S+$")
        service = item.split()[1]
        self.assertEqual(server.run([ARGS.watcher, "tooltip", service], env=env).strip(), "B")

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
class BadSettings(unittest.TestCase):
    REPORT = re.compile(r'^korvi: (/.*)/korvi\.ini, \[(\w+)\] (\w+) = "(.*?)" (.+)$', re.M)

    def test_each_starts_or_stops_with_a_clear_report(self):
        junk = bytes(random.Random(7).randrange(256) for _ in range(4096))
        valid = SETTINGS.replace(b"\r\n", b"\n")
        with open(os.path.join(ARGS.assets, "korvi-down.ico"), "rb") as file:
            cut = file.read()[:300]

        def icon(key, name):
            return valid.replace(b"%s=korvi-%s.ico" % (key, b"up" if key == b"icon1" else b"down"),
                                 b"%s=%s" % (key, name))
        rows = [
            # name, file bytes (None: no file), the report's (key, value), or "starts", or
            # the report's words about the file; then other files beside korvi
            ("missing file", None, "the settings file is missing: korvi looked for {ini}", {}),
            ("empty file", b"", ("top", "")),
            ("binary junk", junk, None),
            ("junk before the settings", junk + b"\n" + valid, None),
            ("a 1 MB value", b"[main]\ntop=" + b"9" * (1 << 20) + b"\n", ("top", "9" * 254)),
            ("a 1 MB line", b"x" * (1 << 20) + b"\n" + valid, "starts"),
            ("NUL bytes", valid.replace(b"top=1500", b"top=15\x0000"), None),
            ("non-numeric top", valid.replace(b"top=1500", b"top=abc"), ("top", "abc")),
            ("non-numeric timer", valid.replace(b"timer=3600000", b"timer=soon"),
             ("timer", "soon")),
            ("off-screen left", valid.replace(b"left=3000", b"left=1e9"), ("left", "1e9")),
            # An icon that cannot be loaded stops korvi now, not when the host first goes down.
            ("icon typo", icon(b"icon2", b"korvi-dwon.ico"), ("icon2", "korvi-dwon.ico")),
            ("icon is a text file", icon(b"icon1", b"korvi.ini"), ("icon1", "korvi.ini")),
            ("0-byte icon", icon(b"icon2", b"empty.ico"), ("icon2", "empty.ico"),
             {"empty.ico": b""}),
            ("truncated icon", icon(b"icon1", b"cut.ico"), ("icon1", "cut.ico"), {"cut.ico": cut}),
            ("icon is a folder", icon(b"icon2", b"runtime"), ("icon2", "runtime")),
            ("empty icon name", icon(b"icon2", b""), ("icon2", "")),
            ("UTF-32", "[main]\ntop=0\n".encode("utf-32-le"),
             "cannot read the settings file {ini}: it is in UTF-32"),
        ]
        server = XServer(tray=True)
        self.addCleanup(server.close)
        for name, settings, expected, *files in rows:
            with self.subTest(name):
                korvi = Korvi(self, server, settings, files=files[0] if files else None)

                def outcome():
                    if korvi.visible("^korvi$"):
                        return "report"
                    if korvi.visible("^B$"):
                        return "starts"
                    return "ended" if korvi.proc.poll() is not None else None
                seen = wait_for("korvi to start or report", outcome)
                if seen == "ended":
                    self.fail(f"korvi ended with {korvi.proc.returncode} before showing "
                              f"anything: {korvi.proc.stderr.read()}")
                if expected is not None:
                    self.assertEqual(seen, "starts" if expected == "starts" else "report")
                if seen == "starts":
                    server.close_window(korvi.window())
                    self.assertEqual(korvi.finish()[0], 0)
                    continue
                self.assertEqual(korvi.visible("^B$"), [], "no window before the report")
                self.assertEqual(tray_entries(server, None), [], "no tray entry before the report")
                server.close_window(korvi.visible("^korvi$")[0])
                status, err = korvi.finish()
                self.assertEqual(status, 1, err)
                self.assertEqual(err.count("korvi: "), 1, err)
                if isinstance(expected, str) and expected != "starts":
                    self.assertIn("korvi: " + expected.format(ini=korvi.ini), err)
                    continue
                report = self.REPORT.search(err)
                self.assertTrue(report, err)
                self.assertEqual(report.group(1), korvi.dir)
                if expected is not None:
                    self.assertEqual((report.group(3), report.group(4)), expected)
                if settings is None:
                    self.assertFalse(os.path.exists(korvi.ini), "a failed start writes nothing")
                else:
                    self.assertEqual(korvi.settings(), settings, "a failed start writes nothing")


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class Endings(unittest.TestCase):
    def test_each_ending_saves_the_position_and_removes_the_tray_entry(self):
        rows = [("Ctrl+C", signal.SIGINT), ("SIGTERM", signal.SIGTERM), ("SIGHUP", signal.SIGHUP),
                # Twice in a row: the position is written and the entry removed once.
                ("SIGTERM twice", signal.SIGTERM),
                ("end of the session", None)]
        server = XServer(tray=True)
        self.addCleanup(server.close)
        moved = SETTINGS.replace(b"top=1500", b"top=2250").replace(b"left=3000", b"left=4500")
        for name, number in rows:
            with self.subTest(name):
                env = {}
                if number is None:
                    manager = server.start([ARGS.session_manager], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, text=True)
                    env = dict([readline(manager.stdout).split("=", 1)])
                korvi = Korvi(self, server, SETTINGS, env=env)
                window = korvi.window()
                docked(server, window)
                server.run(["xdotool", "windowmove", "--sync", str(window), "300", "150"])
                if number is None:
                    self.assertEqual(readline(manager.stdout), "registered")
                    manager.stdin.write("end\n")
                    manager.stdin.flush()
                else:
                    korvi.proc.send_signal(number)
                if name.endswith("twice"):
                    korvi.proc.send_signal(number)
                status, err = korvi.finish()
                self.assertEqual(status, 0, err)
                self.assertNotIn("korvi:", err)
                self.assertEqual(korvi.settings(), moved)
                self.assertEqual(tray_entries(server, window), [])


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class NoDisplay(unittest.TestCase):
    def test_a_display_nobody_serves_is_reported_not_a_crash(self):
        server = XServer(tray=False)
        self.addCleanup(server.close)
        korvi = Korvi(self, server, SETTINGS, env={"DISPLAY": ":65001"})
        status, err = korvi.finish()
        self.assertEqual(status, 1, err)
        self.assertIn('korvi: cannot open the display (DISPLAY=":65001"', err)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--korvi", required=True)
    parser.add_argument("--assets", required=True)
    parser.add_argument("--watcher", required=True)
    parser.add_argument("--session-manager", required=True)
    ARGS, rest = parser.parse_known_args()
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)


if __name__ == "__main__":
    main()
