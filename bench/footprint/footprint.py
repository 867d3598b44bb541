"""korvi's footprint against the floor for a Qt tray program (footprint_floor: one tool window,
one tray icon, nothing else), both built from this tree and measured in one run on one machine.
Every figure is given for korvi, for the floor, and as their ratio; memory also against the
floor showing one line of text (footprint_floor --text), which is what any text costs in fonts,
and memory and start-up against the floor with korvi's two edit boxes added (footprint_floor
--boxes), which shows what the design's boxes cost by themselves.

  idle memory      RSS and PSS 12 s after the start (korvi has probed once); median of 3
  start-up         exec to the tray entry registered: XEmbed (trayer docks it) and
                   StatusNotifierItem (a watcher on a private session bus sees it); median of 9
  idle wake-ups    context switches of all threads over 60 s, korvi probing every 10 s
                   (from after its first probe), windows shown, focused and not: a focused
                   box's caret stops blinking 10 s after the last input
  UI blocked       the slowest answers to _NET_WM_PING sent every 10 ms, one per tick of a
                   1 s timer: with 127.0.0.1 answering, and (as root) silent in a network
                   namespace the script makes for korvi

footprint.py --korvi PATH --floor PATH --assets DIR [--watcher PATH] [--report FILE] [--quick]
Packets go only to 127.0.0.1, here or inside the namespace that the script creates.
"""

import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "support"))
from korvi_launch import command, lay_out, settings  # noqa: E402
from xsession import XServer, private_bus, readline, wait_for  # noqa: E402
from xevents import (CLIENT_MESSAGE, REPARENT_NOTIFY, STRUCTURE_NOTIFY,  # noqa: E402
                     SUBSTRUCTURE_NOTIFY, XEvents, kind)

ARGS = None
# The last columns hold korvi against the floor with one line of text, and with the design's
# two edit boxes.
HEADER = ("| Figure | korvi | floor | korvi / floor | target | korvi / floor with text "
          "| korvi / floor with boxes |\n|---|---|---|---|---|---|---|")


class Program:
    """korvi in a folder of its own, or the floor; started on `server` with `env` added."""

    def __init__(self, name, timer=10000):
        self.name = name
        self.folder = tempfile.mkdtemp(prefix=f"korvi-footprint-{name}-")
        if name == "korvi":
            lay_out(self.folder, ARGS.korvi, ARGS.assets, settings(timer=timer))
            self.argv = [os.path.join(self.folder, "korvi")]
        else:
            self.argv = [ARGS.floor] + ([f"--{name}"] if name in ("text", "boxes") else [])

    def start(self, server, env=None, silent=False):
        env = dict(server.env, XDG_RUNTIME_DIR=self.folder, **(env or {}))
        env.pop("QT_QPA_PLATFORM", None)
        return subprocess.Popen(command(self.argv, silent=silent), env=env, cwd="/", stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def stop(proc):
    proc.kill()
    proc.wait()
    if proc.stdout:
        proc.stdout.close()


class Held:
    """What a measurement started, undone in reverse order however the measurement ends."""

    def __init__(self):
        self.undo = []

    def __enter__(self):
        return self

    def server(self, **kwargs):
        server = XServer(**kwargs)
        self.undo.append(server.close)
        return server

    def program(self, name, **kwargs):
        program = Program(name, **kwargs)
        self.undo.append(program.remove)
        return program

    def process(self, proc):
        self.undo.append(lambda: stop(proc))
        return proc

    def __exit__(self, *exc):
        while self.undo:
            self.undo.pop()()


def settle(proc, server, name):
    """Waits for the program's window; `name` is its title."""
    return wait_for(f"the {name} window", lambda: server.find("--all", "--onlyvisible", "--pid",
                                                                str(proc.pid), "--name", name),
                    20)[0]


def idle_memory(runs):
    """{name: [(rss_kb, pss_kb), ...]} of each program, side by side on servers of their own."""
    found = {"korvi": [], "floor": [], "text": [], "boxes": []}
    for _ in range(runs):
        with Held() as held:
            procs = {name: held.process(held.program(name).start(held.server(tray=True)))
                     for name in found}
            time.sleep(12)
            for name, proc in procs.items():
                with open(f"/proc/{proc.pid}/smaps_rollup") as rollup:
                    fields = dict(line.split()[:2] for line in rollup if line[0].isupper())
                found[name].append((int(fields["Rss:"]), int(fields["Pss:"])))
    return found


def startup_xembed(runs):
    found = {"korvi": [], "floor": [], "boxes": []}
    with Held() as held:
        server = held.server(tray=True)
        events = XEvents(server, SUBSTRUCTURE_NOTIFY)
        held.undo.append(events.close)
        for _ in range(runs):
            for name in found:
                with Held() as run:
                    program = run.program(name)
                    events.drain()
                    began = time.monotonic()
                    run.process(program.start(server))
                    # trayer takes the entry's window from the root window into its own.
                    if events.next(lambda e: kind(e) == REPARENT_NOTIFY and e[6] != events.root,
                                   20) is None:
                        raise RuntimeError(f"trayer never docked the {name} tray entry")
                    found[name].append((time.monotonic() - began) * 1000)
                time.sleep(0.3)
    return found


def startup_sni(runs):
    found = {"korvi": [], "floor": []}
    with Held() as held:
        folder = tempfile.mkdtemp(prefix="korvi-footprint-bus-")
        held.undo.append(lambda: shutil.rmtree(folder, ignore_errors=True))
        server = held.server(tray=False)
        daemon, address = private_bus(folder)
        held.process(daemon)
        bus = {"DBUS_SESSION_BUS_ADDRESS": address}
        watcher = held.process(subprocess.Popen([ARGS.watcher, "watch"],
                                                env=dict(server.env, **bus),
                                                stdout=subprocess.PIPE, text=True))
        if readline(watcher.stdout) != "ready":
            raise RuntimeError("the StatusNotifierWatcher did not start")
        for _ in range(runs):
            for name in found:
                with Held() as run:
                    program = run.program(name)
                    began = time.monotonic()
                    run.process(program.start(server, bus))
                    if not readline(watcher.stdout, 20).startswith("item "):
                        raise RuntimeError(f"the {name} tray entry never registered")
                    found[name].append((time.monotonic() - began) * 1000)
    return found


def switches(pid):
    """Context switches of every thread of `pid` so far."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as status:
                total += sum(int(line.split()[1]) for line in status
                             if line.startswith(("voluntary_ctxt", "nonvoluntary_ctxt")))
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total


def idle_wakeups(seconds, focused):
    """Context switches over `seconds`, both programs side by side, their windows focused (the
    address box has the caret) or not."""
    with Held() as held:
        servers = {name: held.server(tray=True) for name in ("korvi", "floor")}
        procs = {name: held.process(held.program(name).start(server))
                 for name, server in servers.items()}
        for name, server in servers.items():
            window = settle(procs[name], server, "^B$" if name == "korvi" else "^floor$")
            if focused:
                server.run(["xdotool", "windowfocus", "--sync", str(window)])
                continue
            # Focus follows the pointer, which rests on the bare root window.
            server.run(["xdotool", "mousemove", "799", "599"])
            server.x.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                                ctypes.c_ulong]
            server.x.XSetInputFocus(server.dpy, 1, 1, 0)  # PointerRoot
            server.x.XFlush(server.dpy)
        # From after korvi's first tick, which shows its first result: idle is what follows.
        time.sleep(12)
        before = {name: switches(proc.pid) for name, proc in procs.items()}
        time.sleep(seconds)
        return {name: switches(proc.pid) - before[name] for name, proc in procs.items()}


def ping_latencies(name, seconds, silent=False):
    """How long the program's UI thread took to answer each _NET_WM_PING, in ms."""
    with Held() as held:
        server = held.server(tray=True)
        proc = held.process(held.program(name, timer=1000).start(server, silent=silent))
        events = XEvents(server, STRUCTURE_NOTIFY)
        held.undo.append(events.close)
        x = server.x
        window = settle(proc, server, "^B$" if name == "korvi" else "^floor$")
        protocols = x.XInternAtom(server.dpy, b"WM_PROTOCOLS", 0)
        ping = x.XInternAtom(server.dpy, b"_NET_WM_PING", 0)
        message = (ctypes.c_long * 24)()
        latencies = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            serial = len(latencies) + 1
            message[:] = [0] * 24
            message[0], message[2], message[4] = CLIENT_MESSAGE, 1, window
            message[5], message[6] = protocols, 32
            message[7], message[8], message[9] = ping, serial, window
            began = time.monotonic()
            x.XSendEvent(events.dpy, window, 0, 0, ctypes.byref(message))
            x.XFlush(events.dpy)
            if events.next(lambda e: kind(e) == CLIENT_MESSAGE and e[7] == ping and e[8] == serial,
                           5) is None:
                raise RuntimeError(f"the {name} window did not answer a ping within 5 s")
            latencies.append((time.monotonic() - began) * 1000)
            time.sleep(0.01)
        return latencies


def blocked_per_tick(latencies, ticks):
    """The slowest answer of each tick, as the `ticks` slowest answers: median and worst."""
    slowest = sorted(latencies)[-ticks:]
    return statistics.median(slowest), slowest[-1]


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--korvi", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--assets", required=True)
    parser.add_argument("--watcher", help="sni_watcher from tests/e2e, for StatusNotifierItem")
    parser.add_argument("--report", help="also write the table to this file")
    parser.add_argument("--quick", action="store_true", help="fewer runs, shorter idle spans")
    ARGS = parser.parse_args()
    for path in ("korvi", "floor", "assets", "watcher"):
        if getattr(ARGS, path):
            setattr(ARGS, path, os.path.abspath(getattr(ARGS, path)))
    runs, idle, ping_seconds = (3, 20, 8) if ARGS.quick else (9, 60, 20)

    rows = []

    def row(what, korvi, floor, unit, target, text=None, boxes=None):
        ratio = f"{korvi / floor:.2f}" if floor > 0 else "n/a (floor 0)"
        against_text = f"{korvi / text:.2f}" if text else ""
        against_boxes = f"{korvi / boxes:.2f}" if boxes else ""
        rows.append(f"| {what} | {korvi:.1f} {unit} | {floor:.1f} {unit} | {ratio} | {target} "
                    f"| {against_text} | {against_boxes} |")
        print(rows[-1], flush=True)

    print(HEADER)
    memory = idle_memory(1 if ARGS.quick else 3)
    for i, what in enumerate(("Idle RSS", "Idle PSS")):
        korvi, floor, text, boxes = (statistics.median(m[i] for m in memory[name]) / 1024
                                     for name in ("korvi", "floor", "text", "boxes"))
        row(what, korvi, floor, "MB", "<= 1.10", text, boxes)
    startup = startup_xembed(runs)
    row("Start-up to the tray entry, XEmbed (median)", *(statistics.median(startup[name])
        for name in ("korvi", "floor")), "ms", "<= 1.20", boxes=statistics.median(startup["boxes"]))
    if ARGS.watcher:
        startup = startup_sni(runs)
        row("Start-up to the tray entry, StatusNotifierItem (median)",
            statistics.median(startup["korvi"]), statistics.median(startup["floor"]), "ms",
            "<= 1.20")
    ticks = idle // 10
    for focused in (False, True):
        wakeups = idle_wakeups(idle, focused)
        extra = (wakeups["korvi"] - wakeups["floor"]) / ticks
        row(f"Context switches in {idle} s, {ticks} ticks, window "
            f"{'focused' if focused else 'not focused'}", wakeups["korvi"], wakeups["floor"], "",
            f"(korvi - floor) / tick <= 1 (measured {extra:.2f})")

    floor_ping = blocked_per_tick(ping_latencies("floor", ping_seconds), ping_seconds)
    answered = blocked_per_tick(ping_latencies("korvi", ping_seconds), ping_seconds)
    row("UI thread blocked per tick, host answers (median of ticks)", answered[0], floor_ping[0],
        "ms", "near 0")
    if os.geteuid() == 0:
        silent = blocked_per_tick(ping_latencies("korvi", ping_seconds, silent=True),
                                  ping_seconds)
        row("UI thread blocked per tick, host silent (median of ticks)", silent[0], floor_ping[0],
            "ms", "<= 500 ms + the floor's")
        row("UI thread blocked per tick, host silent (worst tick)", silent[1], floor_ping[1], "ms",
            "<= 500 ms + the floor's")
    else:
        print("(the silent host needs a network namespace, which needs root: not measured)")
    if ARGS.report:
        with open(ARGS.report, "w") as file:
            file.write(HEADER + "\n" + "\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
