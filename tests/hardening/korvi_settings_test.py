"""korvi's settings file when the window closes on a full disk or in a read-only folder, and
when two korvis in one folder close at the same moment: the built program on a real X server,
with real mounts in a mount namespace of this test's own.

korvi_settings_test.py --korvi PATH --assets DIR [unittest arguments]
Exits 77 when every test was skipped.
"""

import ctypes
import errno
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from korvi_launch import CANNOT_SAVE, Korvi, arguments, XServer, laid_out_folder, lay_out, read, run_tests, settings, wait_for  # noqa: E402,E501

ARGS = None
CLONE_NEWNS = 0x00020000
NEEDS_ROOT = "mounting a tmpfs or a read-only bind mount needs root"
# Where the window stands with settings(top=1500, left=3000), and where the tests move it.
START, MOVED = (200, 100), (300, 150)
_private = False


def private_mounts():
    """Moves this process, and everything it starts from now on, into a mount namespace of its
    own, so that the tests' mounts vanish with it however it ends."""
    global _private
    if _private:
        return
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNS) != 0:
        raise OSError(ctypes.get_errno(), "unshare(CLONE_NEWNS)")
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    _private = True


def mount(*args):
    subprocess.run(["mount", *args], check=True, capture_output=True)


def fill(folder):
    """Takes every free byte of the file system that holds `folder`."""
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o600)
    try:
        for size in (1 << 20, 4096, 1):
            try:
                while True:
                    os.write(fd, b"\0" * size)
            except OSError as e:
                if e.errno != errno.ENOSPC:
                    raise
    finally:
        os.close(fd)


# name, set up the folder (before korvi is laid out in it), break writes, repair, why a write fails
FAULTS = [
    ("full disk",
     # Room for korvi and its files, whatever build it is, and then the filler.
     lambda d: mount("-t", "tmpfs", "-o", f"size={os.path.getsize(ARGS.korvi) + (2 << 20)}",
                     "tmpfs", d),
     fill,
     lambda d: os.remove(os.path.join(d, "filler")),
     "No space left on device"),
    # Remounted read-only, the folder refuses root too.
    ("read-only folder",
     lambda d: mount("--bind", d, d),
     lambda d: mount("-o", "remount,bind,ro", d),
     lambda d: mount("-o", "remount,bind,rw", d),
     "Read-only file system"),
]


class Run:
    """Starts the korvi in `folder`, checks where its window stands, moves it and closes it."""

    def __init__(self, test, server, folder):
        self.test, self.server, self.folder = test, server, folder

    def __call__(self, expect_at=START, saves=True):
        korvi = Korvi(self.server, self.folder)
        self.test.addCleanup(korvi.stop)
        window = korvi.window()
        info = self.server.info(window)
        self.test.assertEqual((info["x"], info["y"]), expect_at, "placed from korvi.ini")
        self.server.run(["xdotool", "windowmove", "--sync", str(window), *map(str, MOVED)])
        self.server.close_window(window)
        if not saves:
            # A position that was not saved is a failure, told in a message box as well.
            box = wait_for("the report", lambda: self.server.find(
                "--all", "--onlyvisible", "--pid", str(korvi.pid), "--name", "^korvi$"))
            self.server.close_window(box[0])
        status, err = korvi.finish()
        self.test.assertEqual(status, 0 if saves else 1, err)
        return err


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class FailedSave(unittest.TestCase):
    def test_the_old_file_stays_and_korvi_still_starts(self):
        try:
            private_mounts()
        except (OSError, subprocess.CalledProcessError) as e:
            self.skipTest(f"this machine gives no mount namespace of our own: {e}")
        server = XServer(tray=True)
        self.addCleanup(server.close)
        for name, prepare, break_writes, repair, reason in FAULTS:
            with self.subTest(name):
                folder = tempfile.mkdtemp(prefix="korvi-hardening-")
                self.addCleanup(shutil.rmtree, folder)
                prepare(folder)
                self.addCleanup(subprocess.run, ["umount", "-l", folder])
                ini = os.path.join(folder, "korvi.ini")
                lay_out(folder, ARGS.korvi, ARGS.assets, settings(top=1500, left=3000))
                names = sorted(os.listdir(folder))
                break_writes(folder)
                names_broken = sorted(os.listdir(folder))
                run = Run(self, server, folder)

                # Twice with the fault in place: the second start reads what the first left.
                for attempt in (1, 2):
                    err = run(saves=False)
                    self.assertEqual([(m.group(1), m.group(2), m.group(3))
                                      for m in CANNOT_SAVE.finditer(err)],
                                     [("top", ini, reason)], err)
                    self.assertEqual(read(ini), settings(top=1500, left=3000), attempt)
                    self.assertEqual(sorted(os.listdir(folder)), names_broken, "files left")

                repair(folder)
                err = run()
                self.assertNotIn("korvi:", err)
                self.assertEqual(read(ini), settings(top=MOVED[1] * 15, left=MOVED[0] * 15))
                self.assertEqual(sorted(os.listdir(folder)), names)


class TwoKorvisClosing(unittest.TestCase):
    ROUNDS = 8

    def test_the_file_ends_as_one_whole_version(self):
        server = XServer(tray=True)
        self.addCleanup(server.close)
        folder = laid_out_folder(self, ARGS.korvi, ARGS.assets, settings(), "korvi-hardening-")
        ini = os.path.join(folder, "korvi.ini")
        places = {"a": (300, 150), "b": (420, 260)}
        # Each value from either korvi; the two values of one close from one korvi.
        whole = {settings(top=y * 15, left=x * 15): name for name, (x, y) in places.items()}
        mixed = {settings(top=places[t][1] * 15, left=places[l][0] * 15): t + l
                 for t, l in (("a", "b"), ("b", "a"))}
        outcomes = []
        for round_ in range(self.ROUNDS):
            with open(ini, "wb") as file:
                file.write(settings())
            korvis = {name: Korvi(server, folder) for name in places}
            windows = {}
            for name, korvi in korvis.items():
                self.addCleanup(korvi.stop)
                windows[name] = korvi.window()
                server.run(["xdotool", "windowmove", "--sync", str(windows[name]),
                            *map(str, places[name])])
            for name in places:
                server.close_window(windows[name])
            for name, korvi in korvis.items():
                status, err = korvi.finish()
                self.assertEqual(status, 0, err)
                self.assertNotIn("korvi:", err)
            now = read(ini)
            self.assertIn(now, {**whole, **mixed}, f"round {round_}: not a whole korvi.ini")
            self.assertEqual(sorted(os.listdir(folder)), ["korvi", "korvi-down.ico",
                                                          "korvi-neutral.ico", "korvi-up.ico",
                                                          "korvi.ini"], f"round {round_}")
            outcomes.append(whole.get(now) or mixed[now])
        print(f"\nversions after each round (a, b: one korvi's; ab, ba: top from one korvi, "
              f"left from the other): {' '.join(outcomes)}")
        self.assertEqual([o for o in outcomes if o in ("ab", "ba")], [],
                         "two closes interleaved their two writes")


@unittest.skipUnless(os.geteuid() == 0, "korvi runs in a network namespace of its own, which "
                                         "needs root")
class ClosedDuringReport(unittest.TestCase):
    ROUNDS = 3

    def test_closing_the_window_while_a_failure_is_reported_ends_korvi(self):
        server = XServer(tray=True)
        self.addCleanup(server.close)
        for round_ in range(self.ROUNDS):
            folder = laid_out_folder(self, ARGS.korvi, ARGS.assets, settings(timer=100),
                                     "korvi-hardening-")
            korvi = Korvi(server, folder, netns=True)
            self.addCleanup(korvi.stop)
            window = korvi.window()
            # The icon goes while korvi runs, and the host stops answering: the tick that
            # needs the icon fails and reports it.
            os.remove(os.path.join(folder, "korvi-down.ico"))
            subprocess.run(["nsenter", "-t", str(korvi.pid), "-n", "sysctl", "-qw",
                            "net.ipv4.icmp_echo_ignore_all=1"], check=True)
            wait_for("the report", lambda: server.find("--all", "--onlyvisible", "--pid",
                                                       str(korvi.pid), "--name", "^korvi$"))
            server.close_window(window)
            status, err = korvi.finish()
            self.assertEqual(status, 1, f"round {round_}: {err}")
            self.assertIn("[main] icon2 = \"korvi-down.ico\"", err)


def main():
    global ARGS
    ARGS, rest = arguments(("--rounds", {"type": int,
                                         "help": "rounds of each stress test (a few by default)"}))
    if ARGS.rounds:
        TwoKorvisClosing.ROUNDS = ClosedDuringReport.ROUNDS = ARGS.rounds
    run_tests(rest)


if __name__ == "__main__":
    main()
