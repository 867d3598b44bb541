"""What every desktop run shares: a session of its own (folders, buses, processes, a user),
korvi started in it, the watched host made silent and answering again, and korvi's icon found
on a screenshot by the icon's own colours.

A desktop driver (a subclass of driver.Desktop, one module per desktop) starts the desktop
headless and answers for it: screenshots, real pointer clicks, where its tray is, korvi's
window.
"""

import os
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from korvi_launch import Korvi, laid_out_folder, read, settings  # noqa: E402,F401  (re-exported)
from xevents import PROPERTY_CHANGE, STRUCTURE_NOTIFY, SUBSTRUCTURE_NOTIFY, XEvents  # noqa: E402
from xsession import end, private_bus, wait_for  # noqa: E402,F401
from driver import START_TIMEOUT, Desktop  # noqa: E402,F401  (re-exported: drivers subclass it)

MARK = "KORVI_DESKTOP_SESSION"  # in the environment of everything a session starts


class Session:
    """One desktop run's world: HOME and XDG_* folders set before any bus starts (so that the
    desktop's settings daemons write there), private buses, and every process in a process group
    of its own. With `user`, a throw-away user owns the folders, for desktops that refuse root.
    close() ends every process that carries this session's mark, removes the user and the
    folders."""

    def __init__(self, name, user=False):
        self.dir = tempfile.mkdtemp(prefix=f"korvi-{name}-")
        os.chmod(self.dir, 0o755)  # the user's processes reach the bus sockets in here
        self.procs, self.user, self.closers = [], None, []
        if user:
            self.user = f"korvi-{secrets.token_hex(3)}"
            subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir",
                            self.path("home"), "--shell", "/usr/sbin/nologin", self.user],
                           check=True)
        home = self.path("home")
        self.env = {"PATH": "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", "LANG": "C.UTF-8",
                    "HOME": home, "USER": self.user or "root",
                    "XDG_CONFIG_HOME": f"{home}/.config", "XDG_DATA_HOME": f"{home}/.local/share",
                    "XDG_CACHE_HOME": f"{home}/.cache", "XDG_STATE_HOME": f"{home}/.local/state",
                    "XDG_CONFIG_DIRS": "/etc/xdg", "XDG_DATA_DIRS": "/usr/local/share:/usr/share",
                    "XDG_RUNTIME_DIR": self.path("runtime"), "NO_AT_BRIDGE": "1",
                    MARK: os.path.basename(self.dir)}
        for folder in ("home", "home/.config", "home/.cache", "home/.local/share", "runtime"):
            self.mkdir(folder)
        os.chmod(self.path("runtime"), 0o700)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def mkdir(self, relative):
        os.makedirs(self.path(relative), exist_ok=True)
        if self.user:
            shutil.chown(self.path(relative), self.user, self.user)

    def write(self, relative, text):
        """A file of the session's user, e.g. the desktop's configuration under home/."""
        self.mkdir(os.path.dirname(relative))
        with open(self.path(relative), "w") as file:
            file.write(text)
        if self.user:
            shutil.chown(self.path(relative), self.user, self.user)
        return self.path(relative)

    def bus(self, kind="session", activation=False, export=True):
        """A private bus ("session" or "system"); with `export`, its address goes into the
        session's environment."""
        folder = tempfile.mkdtemp(prefix=f"{kind}-bus-", dir=self.dir)
        os.chmod(folder, 0o755)
        daemon, address = private_bus(folder, kind, activation, env=self.env)
        self.procs.append(daemon)
        if export:
            self.env[f"DBUS_{kind.upper()}_BUS_ADDRESS"] = address
        return address

    def start(self, argv, env=None, as_user=False, **popen):
        """Starts `argv` in a process group of its own; its output goes to a log file in the
        session's folder unless told otherwise (a desktop's chatter would fill the pipes)."""
        if as_user and self.user:
            argv = ["setpriv", f"--reuid={self.user}", f"--regid={self.user}", "--clear-groups",
                    *argv]
        log = None
        if "stdout" not in popen:
            name = os.path.basename(argv[-1] if as_user else argv[0])
            log = open(self.path(f"{name}.log"), "ab")
            popen.update(stdout=log, stderr=popen.get("stderr", subprocess.STDOUT))
        try:
            proc = subprocess.Popen(argv, env=dict(env or self.env, **{MARK: self.env[MARK]}),
                                    start_new_session=True, stdin=subprocess.DEVNULL, **popen)
        finally:
            if log:
                log.close()
        self.procs.append(proc)
        return proc

    def run(self, argv, as_user=False, env=None, timeout=20):
        if as_user and self.user:
            argv = ["setpriv", f"--reuid={self.user}", f"--regid={self.user}", "--clear-groups",
                    *argv]
        return subprocess.run(argv, env=env or self.env, capture_output=True, text=True,
                              check=True, timeout=timeout).stdout

    def logs(self, lines=12):
        """The last lines of every log in the session's folder, to tell why something failed."""
        text = ""
        for name in sorted(os.listdir(self.dir)):
            if name.endswith(".log"):
                with open(self.path(name), errors="replace") as log:
                    tail = log.read().splitlines()[-lines:]
                text += f"--- {name}\n" + "".join(line + "\n" for line in tail)
        return text

    def later(self, close):
        """Calls `close` once the session's processes have ended (e.g. an X server's close)."""
        self.closers.append(close)

    def marked(self):
        """Every process alive that carries this session's mark (daemons that a bus started,
        helpers that left their process group)."""
        found, needle = [], f"{MARK}={self.env[MARK]}".encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as file:
                    if needle in file.read().split(b"\0"):
                        found.append(int(pid))
            except OSError:
                pass
        return [pid for pid in found if pid != os.getpid()]

    def close(self):
        for proc in reversed(self.procs):
            try:  # the group too: a leader that ended may have left children in it
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 5
        for proc in self.procs:
            end(proc, deadline)
        for _ in range(50):
            left = self.marked()
            if not left:
                break
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.1)
        for close in reversed(self.closers):
            close()
        if self.user:
            subprocess.run(["userdel", self.user], check=False, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.dir, ignore_errors=True)


def wait_x(server, what, check, timeout=START_TIMEOUT):
    """Waits for `check` on the X server `server`, looking again when its root window changes
    (a property set, a window mapped, a tray announced) or a second has passed, rather than
    polling: the desktop needs the processor to get there."""
    events = XEvents(server, PROPERTY_CHANGE | STRUCTURE_NOTIFY | SUBSTRUCTURE_NOTIFY)
    try:
        deadline = time.monotonic() + timeout
        while True:
            value = check()
            if value:
                return value
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"timed out after {timeout} s waiting for {what}")
            if events.next(lambda event: True, min(left, 1.0)) is not None:
                events.drain()
    finally:
        events.close()


def silence(korvi, silent):
    """Makes the watched host (127.0.0.1 in korvi's own network namespace) stop answering
    echo requests, or answer again."""
    subprocess.run(["nsenter", "-t", str(korvi.pid), "-n", "sysctl", "-qw",
                    f"net.ipv4.icmp_echo_ignore_all={int(silent)}"], check=True)


def icon_colour(ico):
    """The colour that most opaque pixels of the largest picture in `ico` have: what tells the
    icon on a screenshot, whatever size a tray draws it at."""
    frames = subprocess.run(["identify", "-format", "%w %p\n", ico], capture_output=True,
                            text=True, check=True).stdout.split("\n")
    index = max((tuple(map(int, line.split())) for line in frames if line))[1]
    rgba = subprocess.run(["convert", f"{ico}[{index}]", "-depth", "8", "rgba:-"],
                          capture_output=True, check=True).stdout
    counts = {}
    for i in range(0, len(rgba), 4):
        if rgba[i + 3] == 255 and max(rgba[i:i + 3]) - min(rgba[i:i + 3]) > 40:
            counts[rgba[i:i + 3]] = counts.get(rgba[i:i + 3], 0) + 1
    return tuple(max(counts, key=counts.get))


def find_colour(png, area, colour, tolerance=40, least=12):
    """The centre of the pixels close to `colour` in `area` (x, y, width, height) of the
    screenshot `png`, or None when fewer than `least` are."""
    x0, y0, width, height = area
    rgb = subprocess.run(["convert", png, "-crop", f"{width}x{height}+{x0}+{y0}", "+repage",
                          "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    width = len(rgb) // 3 // height if height else 0
    hits = [(i // 3 % width, i // 3 // width) for i in range(0, len(rgb), 3)
            if all(abs(rgb[i + c] - colour[c]) <= tolerance for c in range(3))]
    if len(hits) < least:
        return None
    return (x0 + sum(h[0] for h in hits) // len(hits), y0 + sum(h[1] for h in hits) // len(hits))
