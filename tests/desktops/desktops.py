"""korvi on the desktops people use: each desktop started headless with its own tray, korvi in
it (in a network namespace of its own), and one table of checks run against every desktop.

desktops.py --korvi PATH --assets DIR --shots DIR [--pointer-device PATH] NAME...
Each run leaves the desktop's screenshot with korvi's entry as DIR/NAME.png. Exits 77 when
every desktop was skipped, each skip saying why.
"""

import argparse
import glob
import importlib
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

from harness import (HERE, Korvi, Session, find_colour, icon_colour, laid_out_folder, read, settings,
                     silence, wait_for)

# Every module beside this one that lists DESKTOPS is a desktop driver.
DRIVERS = {driver.name: driver
           for module in sorted(glob.glob(os.path.join(HERE, "*.py")))
           if os.path.basename(module) != "desktops.py"
           for driver in getattr(importlib.import_module(os.path.basename(module)[:-3]),
                                 "DESKTOPS", ())}
ARGS = None
TOP, LEFT = 1500, 3000  # twips: the frame at x 200, y 100
PACE = (30, 0.1)  # how long and how often the checks look: bounded, and light on the cores


def korvi_ini(top, left, timer):
    return settings(top, left, timer) + b"notify=1\n"  # changes also go to the desktop


class Run:
    """One desktop with korvi in it, and what the checks learn on the way."""

    def __init__(self, test, desktop):
        self.desktop = desktop
        self.session = Session(desktop.name, user=desktop.user)
        test.addCleanup(self.session.close)
        try:
            desktop.start(self.session)
        except AssertionError as failure:
            raise AssertionError(f"{failure}\n{self.session.logs()}") from None
        env = desktop.korvi_env()
        # How a click on the entry reaches korvi, and what korvi tells the notification service
        bus = env.get("DBUS_SESSION_BUS_ADDRESS", self.session.env["DBUS_SESSION_BUS_ADDRESS"])
        self.session.start(["dbus-monitor", "--address", bus, "type='method_call',"
                            "interface='org.kde.StatusNotifierItem',member='Activate'",
                            "interface='org.freedesktop.Notifications'"])
        self.ini_bytes = korvi_ini(TOP, LEFT, desktop.timer)
        self.folder = laid_out_folder(test, ARGS.korvi, ARGS.assets, self.ini_bytes,
                                      "korvi-desktop-")
        self.korvi = Korvi(self.session, self.folder, netns=True, env=env,
                           user=self.session.user if desktop.korvi_as_user else None)
        test.addCleanup(self.korvi.stop)
        self.up = icon_colour(os.path.join(ARGS.assets, "korvi-up.ico"))
        self.down = icon_colour(os.path.join(ARGS.assets, "korvi-down.ico"))
        self.window = desktop.window(self.korvi)

    def shot(self):
        """A screenshot of the whole screen, kept in the session's folder until the next."""
        path = self.session.path("screen.png")
        self.desktop.screenshot(path)
        return path

    def entry(self, colour, other, bubble=False):
        """The centre of korvi's entry in the tray (or of the icon on its notification's bubble)
        once it shows in `colour` (and no longer in `other`), from screenshots."""
        def seen():
            path = self.shot()
            area = self.desktop.bubbles if bubble else self.desktop.tray_area()
            found = find_colour(path, area, colour)
            return found if found and not find_colour(path, area, other) else None
        where = "notification" if bubble else "entry"
        return wait_for(f"korvi's {where} in {colour}", seen, 30, 0.25)  # screenshots

    def bus_log(self):
        with open(self.session.path("dbus-monitor.log"), errors="replace") as log:
            return log.read()

    def heard(self, member):
        """How many times korvi was called with `member`: Activate by the tray, ActionInvoked
        by the notification service."""
        return self.bus_log().count(f"member={member}") if member else 0

    def notified(self):
        """(the id it replaces, summary) of each notification korvi sent (not as a service may
        pass it on: GNOME's helper to the shell)."""
        return re.findall(r'destination=org.freedesktop.Notifications .*member=Notify\n\s+string '
                          r'"korvi"\n\s+uint32 (\d+)\n\s+string ""\n\s+string "(.*)"\n',
                          self.bus_log())

    def bus(self, *call):
        return subprocess.run(["dbus-send", "--session", "--print-reply", *call],
                              env=self.session.env, capture_output=True, text=True,
                              timeout=10).stdout

    def watcher_items(self):
        """The process behind each item that the desktop's StatusNotifierWatcher lists (as
        "bus name/path", or GNOME's "bus name@path")."""
        out = self.bus("--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                       "org.freedesktop.DBus.Properties.Get",
                       "string:org.kde.StatusNotifierWatcher",
                       "string:RegisteredStatusNotifierItems")
        items = [line.split('"')[1] for line in out.splitlines() if '"' in line]
        pids = [self.bus("--dest=org.freedesktop.DBus", "/",
                         "org.freedesktop.DBus.GetConnectionUnixProcessID",
                         "string:" + re.split("[/@]", item)[0]).split()[-1:] for item in items]
        return [int(pid[0]) for pid in pids if pid]


def entry_shows_in_the_tray(test, run):
    run.entry(run.up, run.down)
    shutil.copy(run.session.path("screen.png"), os.path.join(ARGS.shots, f"{run.desktop.name}.png"))
    items, sni = run.watcher_items(), run.desktop.protocol == "sni"
    test.assertEqual(items.count(run.korvi.pid), int(sni),
                     f"the processes behind the watcher's items: {items}")
    docked = run.desktop.docked(run.korvi)
    if docked is not None:
        test.assertEqual(docked, not sni, "a window of korvi's own in the tray")


def window_placed_and_out_of_the_task_bar(test, run):
    state = run.desktop.state(run.window)
    where = (LEFT // 15, TOP // 15) if run.desktop.places else run.desktop.own_place(run.window)
    test.assertEqual((state["x"], state["y"]), where)
    area = run.desktop.task_bar_area()
    if run.desktop.task_bar:
        test.assertIsNone(find_colour(run.shot(), area, run.up),
                          "korvi's icon shows in the task bar")


def icon_follows_the_host(test, run):
    silence(run.korvi, True)
    run.entry(run.down, run.up)
    silence(run.korvi, False)
    run.entry(run.up, run.down)


def click_brings_the_window_back(test, run, target=None):
    """A real click on korvi's entry in the tray, or on what `target` = (where, the call that
    passes the click on to korvi) tells."""
    sni = run.desktop.protocol == "sni"
    where, member = target or (lambda: run.entry(run.up, run.down), "Activate" if sni else None)
    raises, before = run.desktop.click_raises, run.desktop.state(run.window)
    run.desktop.hide(run.window)
    wait_for("the window to go", lambda: not run.desktop.state(run.window)["front"], *PACE)
    if isinstance(raises, str) and raises != "either":
        test.assertFalse(run.desktop.state(run.window)[raises])
    asked = run.heard(member)
    run.desktop.click(*where())
    if member:
        wait_for(f"korvi to be called with {member}", lambda: run.heard(member) > asked, *PACE)
    if raises == "either":  # the desktop's focus rules decide each time; the click is pinned
        return
    if raises is True:
        wait_for("the window back in front", lambda: run.desktop.state(run.window)["front"], *PACE)
        after = run.desktop.state(run.window)
        test.assertEqual((after["x"], after["y"]), (before["x"], before["y"]))
    elif raises:  # the desktop takes korvi's request its own way, and marks the window
        wait_for(f"the window {raises}", lambda: run.desktop.state(run.window)[raises], *PACE)
        test.assertFalse(run.desktop.state(run.window)["front"])
    else:  # korvi's request goes nowhere: give it the time it takes elsewhere, then look
        time.sleep(1)
        test.assertFalse(run.desktop.state(run.window)["front"])


def notification_replaces_and_brings_the_window_back(test, run):
    def bubble():  # the next notification replaces the bubble, which then gets the click
        for silent, state in ((True, "does not answer"), (False, "answers")):
            silence(run.korvi, silent)
            colours = (run.down, run.up) if silent else (run.up, run.down)
            at = run.entry(*colours, bubble=True)
            wait_for(f"korvi to tell that 127.0.0.1 {state}", lambda: [f"127.0.0.1 {state}"] ==
                     [summary for _, summary in run.notified()[-1:]], *PACE)
        return run.desktop.default_action(*at)
    click_brings_the_window_back(test, run, (bubble, "ActionInvoked"))
    # Two changes here, two in the check of the icon: each after the first replaces the one
    # before by the id the service gave it, which stays the same.
    replaced = [int(notice[0]) for notice in run.notified()]
    test.assertEqual(replaced, [0] + [replaced[1] or -1] * 3, "the id each notification replaces")


def closing_writes_the_position(test, run):
    start = run.desktop.state(run.window)

    def moved():  # asked again until it takes: a desktop may still be busy with the last check
        run.desktop.move(run.window, 300, 150)
        state = run.desktop.state(run.window)
        return state if (state["x"], state["y"]) != (start["x"], start["y"]) else None
    state = wait_for("the window moved", moved, *PACE)
    run.desktop.close(run.window)
    status, err = run.korvi.finish()
    test.assertEqual(status, 0, err)
    test.assertNotIn("korvi:", err)
    ini = read(os.path.join(run.folder, "korvi.ini"))
    if run.desktop.knows_position:
        test.assertEqual(ini, korvi_ini(state["y"] * 15, state["x"] * 15, run.desktop.timer))
    else:
        test.assertEqual(ini, run.ini_bytes, "korvi cannot know the position: the file keeps it")


# Every desktop goes through these, in this order, on one run of korvi.
CHECKS = (
    ("the entry shows in the desktop's own tray", entry_shows_in_the_tray),
    ("the window is placed, and kept out of the task bar", window_placed_and_out_of_the_task_bar),
    ("the icon follows the host: silent, then answering", icon_follows_the_host),
    ("a real click on the entry brings the window back", click_brings_the_window_back),
    ("a notification tells each change, the next replacing it; a real click on it brings the "
     "window back", notification_replaces_and_brings_the_window_back),
    ("closing writes the position back", closing_writes_the_position),
)


class Desktops(unittest.TestCase):
    def run_checks(self, name):
        desktop = DRIVERS[name](ARGS)
        reason = desktop.unavailable()
        if reason:
            self.skipTest(reason)
        started = time.monotonic()
        run = Run(self, desktop)
        for what, check in CHECKS:
            with self.subTest(what):
                check(self, run)
        print(f"{name}: {time.monotonic() - started:.1f} s", file=sys.stderr)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--korvi", required=True)
    parser.add_argument("--assets", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--pointer-device", help="tests/desktops/pointer_device, for sway")
    parser.add_argument("--kwin-pointer", help="tests/desktops/kwin_pointer, for KDE Plasma")
    parser.add_argument("names", nargs="+", choices=sorted(DRIVERS))
    ARGS = parser.parse_args()
    os.makedirs(ARGS.shots, exist_ok=True)
    for name in ARGS.names:
        setattr(Desktops, f"test_{name.replace('-', '_')}", lambda self, n=name: self.run_checks(n))
    result = unittest.main(argv=[sys.argv[0]], exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)


if __name__ == "__main__":
    main()
