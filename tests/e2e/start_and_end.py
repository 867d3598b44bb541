"""korvi end to end, how a run starts and ends: settings that stop it at start-up with a clear
report, the endings that save as a close does (signals, the session's end), and no display.

start_and_end.py --korvi PATH --assets DIR --watcher PATH --session-manager PATH [suite]
Exits 77 when every test was skipped.
"""

import os
import random
import re
import signal
import subprocess
import unittest

import korvi_e2e as e2e
from korvi_e2e import NEEDS_ROOT, SETTINGS, Korvi, docked
from tray_hosts import docked_entries
from xsession import XServer, readline, wait_for


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class BadSettings(unittest.TestCase):
    REPORT = re.compile(r'^korvi: (/.*)/korvi\.ini, \[(\w+)\] (\w+) = "(.*?)" (.+)$', re.M)

    def test_each_starts_or_stops_with_a_clear_report(self):
        junk = bytes(random.Random(7).randrange(256) for _ in range(4096))
        valid = SETTINGS.replace(b"\r\n", b"\n")
        with open(os.path.join(e2e.ARGS.assets, "korvi-down.ico"), "rb") as file:
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
            # Nothing that is not a regular file is read: a FIFO never ends, nor does /dev/zero.
            ("icon is a FIFO", icon(b"icon1", b"fifo.ico"), ("icon1", "fifo.ico"),
             {"fifo.ico": os.mkfifo}),
            ("icon is /dev/zero", icon(b"icon2", b"zero.ico"), ("icon2", "zero.ico"),
             {"zero.ico": lambda path: os.symlink("/dev/zero", path)}),
            ("icon of 1 GB", icon(b"icon1", b"huge.ico"), ("icon1", "huge.ico"),
             {"huge.ico": lambda path: open(path, "wb").truncate(1 << 30)}),
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
                self.assertEqual(docked_entries(server, None), [], "no tray entry before the report")
                server.close_window(korvi.visible("^korvi$")[0])
                status, err = korvi.finish()
                self.assertEqual(status, 1, err)
                self.assertEqual(err.count("korvi: "), 1, err)
                if isinstance(expected, str) and expected != "starts":
                    self.assertIn("korvi: " + expected.format(ini=korvi.ini), err)
                    continue
                report = self.REPORT.search(err)
                self.assertTrue(report, err)
                self.assertEqual(report.group(1), korvi.folder)
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
                    manager = server.start([e2e.ARGS.session_manager], stdin=subprocess.PIPE,
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
                self.assertEqual(docked_entries(server, window), [])


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class NoDisplay(unittest.TestCase):
    def test_a_display_nobody_serves_is_reported_not_a_crash(self):
        server = XServer(tray=False)
        self.addCleanup(server.close)
        korvi = Korvi(self, server, SETTINGS, env={"DISPLAY": ":65001"})
        status, err = korvi.finish()
        self.assertEqual(status, 1, err)
        self.assertIn('korvi: cannot open the display (DISPLAY=":65001"', err)


if __name__ == "__main__":
    e2e.main()
