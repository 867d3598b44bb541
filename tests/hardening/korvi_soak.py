"""korvi for 10,000 ticks of 20 ms in a network namespace of its own, while the test switches
127.0.0.1 there between answering and not answering (rejected at once by nftables, and now and
then silent for a while): open descriptors stay the same, resident memory grows by less than
1 MB after warm-up, the log never holds more than 1000 characters, and every switch writes
exactly one line.

Ticks are counted by an nftables counter of the echo requests korvi sends. Each switch korvi
shows changes its window icon once; the test counts those changes from X's PropertyNotify
events, and reads the log box itself through the clipboard.

korvi_soak.py --korvi PATH --assets DIR [--ticks N] [unittest arguments]
Exits 77 when skipped (not root).
"""

import os
import random
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from korvi_launch import Korvi, arguments, XServer, laid_out_folder, run_tests, settings, wait_for  # noqa: E501
from xevents import PROPERTY_CHANGE, PROPERTY_NOTIFY, XEvents, kind

ARGS = None
NEEDS_ROOT = "korvi runs in a network namespace of its own with nftables rules, which needs root"
RULES = """table ip korvi_soak {
  counter probes {}
  set rejected { type ipv4_addr; }
  chain out { type filter hook output priority 0; policy accept;
    icmp type echo-request counter name "probes"; }
  chain in { type filter hook input priority 0; policy accept;
    ip daddr @rejected icmp type echo-request reject; }
}
"""
LINE = re.compile(r"^\d\d:\d\d:\d\d : ( 0| 11005| 11010)$")
NEW_VALUE = 0  # an XPropertyEvent's state when the property was set


class IconChanges:
    """Counts the changes of a window's icon (_NET_WM_ICON), on an X connection of its own."""

    def __init__(self, server, window):
        self.events = XEvents(server, PROPERTY_CHANGE, window)
        self.icon = server.x.XInternAtom(self.events.dpy, b"_NET_WM_ICON", 0)
        self.count = 0

    def _count(self, event):
        # An XPropertyEvent as longs: [5] its atom, [7] its state (an int and padding).
        if (kind(event) == PROPERTY_NOTIFY and event[5] == self.icon
                and event[7] & 0xFFFFFFFF == NEW_VALUE):
            self.count += 1
        return False

    def poll(self, timeout=0.0):
        self.events.next(self._count, timeout)
        return self.count

    def wait_for(self, count, timeout):
        deadline = time.monotonic() + timeout
        while self.poll(max(0.0, min(0.05, deadline - time.monotonic()))) < count:
            if time.monotonic() >= deadline:
                raise AssertionError(f"the icon changed {self.count} times, not {count}, "
                                     f"within {timeout} s")
        return self.count

    def close(self):
        self.events.close()


class Namespace:
    """korvi's own network namespace, entered through its process."""

    def __init__(self, pid):
        self.pid = pid

    def run(self, *argv, input=None):
        return subprocess.run(["nsenter", "-t", str(self.pid), "-n", *argv], input=input,
                              capture_output=True, text=True, check=True, timeout=20).stdout

    def probes(self):
        out = self.run("nft", "list", "counter", "ip", "korvi_soak", "probes")
        return int(re.search(r"packets (\d+)", out).group(1))

    def set_state(self, state, previous):
        """answered, rejected (port unreachable at once) or silent (no answer in 500 ms)."""
        if previous == "rejected":
            self.run("nft", "delete", "element", "ip", "korvi_soak", "rejected", "{ 127.0.0.1 }")
        if previous == "silent":
            self.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=0")
        if state == "rejected":
            self.run("nft", "add", "element", "ip", "korvi_soak", "rejected", "{ 127.0.0.1 }")
        if state == "silent":
            self.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1")


def descriptors(pid):
    """The fewest open descriptors of a few looks: a probe holds one more for a moment."""
    counts = []
    for _ in range(5):
        counts.append(len(os.listdir(f"/proc/{pid}/fd")))
        time.sleep(0.013)
    return min(counts)


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmRSS:\s+(\d+) kB", status.read()).group(1))


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class Soak(unittest.TestCase):
    def log(self, server, window):
        server.run(["xdotool", "mousemove", "--window", str(window), "20", "40", "click", "1"])
        return (server.copy("ctrl+a", "ctrl+c") or "").splitlines()

    def check_log(self, lines, state, switches):
        """The log as korvi holds it, each line ending in CR LF."""
        self.assertLessEqual(sum(len(line) + 2 for line in lines), 1000, lines)
        for line in lines:
            self.assertRegex(line, LINE)
        answered = [line.endswith(":  0") for line in lines]
        # One line per switch: the newest shows the state now, and the lines alternate.
        self.assertEqual(answered[0], state == "answered", lines[:3])
        for newer, older in zip(answered, answered[1:]):
            self.assertNotEqual(newer, older, lines)
        if switches > 80:
            # Full: one more line of the longest kind would not have fitted.
            self.assertGreater(sum(len(line) + 2 for line in lines), 1000 - 19, lines)

    def test_ten_thousand_ticks_switching(self):
        server = XServer(tray=True)
        self.addCleanup(server.close)
        folder = laid_out_folder(self, ARGS.korvi, ARGS.assets, settings(timer=20), "korvi-soak-")
        korvi = Korvi(server, folder, netns=True)
        self.addCleanup(korvi.stop)
        window = korvi.window()
        ns = Namespace(korvi.pid)
        ns.run("sysctl", "-qw", "net.ipv4.icmp_ratelimit=0")
        ns.run("nft", "-f", "-", input=RULES)
        icons = IconChanges(server, window)
        self.addCleanup(icons.close)
        # The first tick, which always shows its result, is over; count from here.
        wait_for("a few ticks", lambda: ns.probes() >= 5)
        icons.poll()
        shown = icons.count

        rng = random.Random(20)
        state, switches = "answered", 0
        baseline = None
        samples = []  # (tick, resident kB)
        next_look = time.monotonic()
        while True:
            probes = ns.probes()
            if baseline is None and probes >= 1000 and switches > 80:
                # Warmed up: the log is full and the clipboard has been used.
                self.check_log(self.log(server, window), state, switches)
                baseline = (descriptors(korvi.pid), resident_kb(korvi.pid), probes)
                next_look = time.monotonic() + 15
            if probes >= ARGS.ticks and baseline is not None:
                break
            if state == "answered":
                nxt = "silent" if switches % 150 == 149 else "rejected"
            else:
                nxt = "answered"
            ns.set_state(nxt, state)
            state, switches = nxt, switches + 1
            icons.wait_for(shown + switches, 3.0)
            # A few more ticks in the same state must change nothing.
            time.sleep(1.2 if state == "silent" else rng.uniform(0.04, 0.25))
            self.assertEqual(icons.poll(), shown + switches,
                             f"after switch {switches} to {state}, more than one change")
            if baseline is not None and time.monotonic() >= next_look:
                self.check_log(self.log(server, window), state, switches)
                samples.append((probes, resident_kb(korvi.pid)))
                next_look = time.monotonic() + 15

        self.check_log(self.log(server, window), state, switches)
        fds, rss = descriptors(korvi.pid), resident_kb(korvi.pid)
        print(f"\n{probes} ticks, {switches} switches; descriptors {baseline[0]} -> {fds}; "
              f"resident {baseline[1]} -> {rss} kB after warm-up at tick {baseline[2]}; "
              f"on the way: {' '.join(f'{t}:{kb}' for t, kb in samples)}")
        self.assertEqual(fds, baseline[0], os.listdir(f"/proc/{korvi.pid}/fd"))
        self.assertLess(rss - baseline[1], 1024)

        server.close_window(window)
        status, err = korvi.finish()
        self.assertEqual(status, 0, err)
        self.assertNotIn("korvi:", err)


def main():
    global ARGS
    ARGS, rest = arguments(("--ticks", {"type": int, "default": 10000}))
    run_tests(rest)


if __name__ == "__main__":
    main()
