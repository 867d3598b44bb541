"""A private X server (and tray host) for one test, and the X requests the tests need.

Run as a program, it runs one command on a fresh server:  xsession.py [--tray] -- cmd args
"""

import ctypes
import ctypes.util
import os
import re
import select
import subprocess
import sys
import time


def private_bus(folder, kind="session", activation=False, env=None):
    """A private D-Bus daemon (a session bus unless told) listening in `folder`; returns it and
    its address. Any user may connect: a desktop may run as a user of its own.

    The socket lies in the file system: korvi's network namespace cannot reach abstract ones.
    With `activation`, the bus starts the desktop's services (xfconfd, ...) on demand, in the
    environment the daemon was started with.
    """
    config = os.path.join(folder, f"{kind}-bus.conf")
    services = "<standard_session_servicedirs/>" if activation else ""
    with open(config, "w") as file:
        file.write(f"""<busconfig><type>{kind}</type><listen>unix:dir={folder}</listen>{services}
<auth>EXTERNAL</auth><policy context="default"><allow user="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
</policy></busconfig>""")
    daemon = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address=1",
                               f"--config-file={config}"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, env=env,
                              start_new_session=env is not None)
    return daemon, daemon.stdout.readline().strip()


def readline(pipe, timeout=10.0):
    """The next line from `pipe`, stripped; an AssertionError when none comes in time."""
    ready, _, _ = select.select([pipe], [], [], timeout)
    if not ready:
        raise AssertionError(f"no output within {timeout} s")
    return pipe.readline().strip()


def end(proc, deadline=None):
    """Waits for `proc` until `deadline` (time.monotonic(); 5 s from now by default), kills it
    if it is still there, and closes its pipes. Ask it to end first (terminate, a signal)."""
    deadline = deadline or time.monotonic() + 5
    try:
        proc.wait(max(0.1, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    for pipe in (proc.stdout, proc.stderr):
        if pipe:
            pipe.close()


def wait_for(what, check, timeout=10.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(interval)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


class _Event(ctypes.Structure):
    # XClientMessageEvent padded to the size of the XEvent union.
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class XServer:
    """Xvfb on a display number it picks itself, so parallel tests never collide."""

    def __init__(self, tray=False, wm=False, size="800x600x24"):
        self.procs = []
        read, write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size,
                                 "-nolisten", "tcp"], pass_fds=[write],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        self.procs.append(xvfb)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode()
        self.env = dict(os.environ, DISPLAY=self.display)
        lib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XGetSelectionOwner.restype = ctypes.c_ulong
        lib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XCreateSimpleWindow.restype = ctypes.c_ulong
        lib.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 4 \
            + [ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
        lib.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XConvertSelection.argtypes = [ctypes.c_void_p] + [ctypes.c_ulong] * 5
        lib.XPending.argtypes = [ctypes.c_void_p]
        lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        lib.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                           ctypes.c_long, ctypes.c_long, ctypes.c_int,
                                           ctypes.c_ulong] + [ctypes.c_void_p] * 5
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                           ctypes.c_ulong]
        self.x = lib
        self.dpy = lib.XOpenDisplay(self.display.encode())
        if not self.dpy:
            self.close()
            raise RuntimeError(f"cannot open display {self.display}")
        if wm:
            self.start(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_for("the window manager", lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in
                     self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]))
        if tray:
            self.start_tray()

    def start_tray(self):
        """trayer, an XEmbed tray, once it owns the tray selection."""
        tray = self.start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                           "--height", "24", "--SetDockType", "true"])
        wait_for("the tray host", self.tray_owner)
        return tray

    def atom(self, name):
        return self.x.XInternAtom(self.dpy, name.encode(), 0)

    def tray_owner(self):
        return self.x.XGetSelectionOwner(self.dpy, self.atom("_NET_SYSTEM_TRAY_S0"))

    def start(self, argv, **kwargs):
        proc = subprocess.Popen(argv, env=kwargs.pop("env", self.env), **kwargs)
        self.procs.append(proc)
        return proc

    def run(self, argv, env=None):
        return subprocess.run(argv, env=env or self.env, capture_output=True, text=True,
                              check=True, timeout=20).stdout

    def close_window(self, window):
        """What a window manager sends when the user clicks the close button."""
        event = _Event(type=33, send_event=1, window=window, format=32,
                       message_type=self.atom("WM_PROTOCOLS"))
        event.data[0] = self.atom("WM_DELETE_WINDOW")
        self.x.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        self.x.XFlush(self.dpy)

    def copy(self, *keys, timeout=10.0):
        """Presses `keys` (a copy command) and returns the text they put on the clipboard."""
        x, dpy = self.x, self.dpy
        window = x.XCreateSimpleWindow(dpy, x.XDefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0)
        clipboard = self.atom("CLIPBOARD")
        # Holding the clipboard first tells a fresh copy from an old one.
        x.XSetSelectionOwner(dpy, clipboard, window, 0)
        x.XFlush(dpy)
        try:
            self.run(["xdotool", "key", *keys])
            wait_for("the copy", lambda: x.XGetSelectionOwner(dpy, clipboard) not in (0, window),
                     timeout)
            return self._convert(window, timeout)
        finally:
            x.XDestroyWindow(dpy, window)

    def _convert(self, window, timeout):
        """The text that the clipboard's owner hands out, or None when it hands out nothing."""
        x, dpy = self.x, self.dpy
        target = self.atom("KORVI_TEST_SELECTION")
        x.XConvertSelection(dpy, self.atom("CLIPBOARD"), self.atom("UTF8_STRING"), target,
                            window, 0)
        x.XFlush(dpy)
        event = (ctypes.c_long * 24)()
        selection_notify = 31

        def answered():
            while x.XPending(dpy):
                x.XNextEvent(dpy, event)
                if event[0] & 0xFFFFFFFF == selection_notify:
                    return True
            return False
        wait_for("the clipboard's owner to answer", answered, timeout)
        kind, fmt = ctypes.c_ulong(), ctypes.c_int()
        count, left, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        x.XGetWindowProperty(dpy, window, target, 0, 1 << 20, 1, 0, ctypes.byref(kind),
                             ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(left),
                             ctypes.byref(data))
        if not data.value:
            return None
        text = ctypes.string_at(data, count.value).decode()
        x.XFree(data)
        return text

    def find(self, *args):
        out = subprocess.run(["xdotool", "search", *args], env=self.env, capture_output=True,
                             text=True, timeout=20).stdout
        return [int(w) for w in out.split()]

    def info(self, window):
        """Absolute position, size and map state of a window, as xwininfo reports them."""
        out = self.run(["xwininfo", "-id", str(window)])
        field = lambda name: re.search(name + r":\s+(\S+)", out).group(1)
        return {"x": int(field("Absolute upper-left X")), "y": int(field("Absolute upper-left Y")),
                "width": int(field("Width")), "height": int(field("Height")),
                "state": field("Map State")}

    def frame_extents(self, window):
        """The (left, right, top, bottom) of the frame a window manager drew round `window`."""
        out = self.run(["xprop", "-id", str(window), "_NET_FRAME_EXTENTS"])
        return tuple(int(n) for n in re.findall(r"\d+", out.partition("=")[2]))  # () until framed

    def pixel(self, x, y):
        """The (red, green, blue) on screen at x, y."""
        out = self.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8",
                        "txt:-"])
        colour = re.search(r"#([0-9A-Fa-f]{6})", out.splitlines()[-1]).group(1)
        return tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))

    def parent(self, window):
        out = self.run(["xwininfo", "-children", "-id", str(window)])
        return int(re.search(r"Parent window id: (0x[0-9a-f]+)", out).group(1), 16)

    def close(self):
        if getattr(self, "dpy", None):
            self.x.XCloseDisplay(self.dpy)
            self.dpy = None
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
            end(proc)
        self.procs = []


if __name__ == "__main__":
    args = sys.argv[1:]
    tray = "--tray" in args[: args.index("--")]
    command = args[args.index("--") + 1:]
    server = XServer(tray=tray)
    try:
        sys.exit(subprocess.run(command, env=server.env).returncode)
    finally:
        server.close()
