"""Events from an X server's window (the root unless told), read on a connection of their own,
for watching and timing what a program does on the screen from outside it."""

import ctypes
import select
import time

STRUCTURE_NOTIFY, SUBSTRUCTURE_NOTIFY, PROPERTY_CHANGE = 1 << 17, 1 << 19, 1 << 22
CLIENT_MESSAGE, REPARENT_NOTIFY, PROPERTY_NOTIFY = 33, 21, 28


def kind(event):
    """An event's type: an int in the first long, whose other half is padding."""
    return event[0] & 0xFFFFFFFF


class XEvents:
    """Events of the kinds in `mask` from `window` (default: the root window), on an X
    connection of the script's own."""

    def __init__(self, server, mask, window=None):
        x = self.x = server.x
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.dpy = x.XOpenDisplay(server.display.encode())
        self.root = x.XDefaultRootWindow(self.dpy)
        x.XSelectInput(self.dpy, self.root if window is None else window, mask)
        x.XFlush(self.dpy)
        self.fd = x.XConnectionNumber(self.dpy)
        self.event = (ctypes.c_long * 24)()

    def next(self, accept, timeout):
        """The first pending or coming event (as longs) that `accept` takes, or None."""
        deadline = time.monotonic() + timeout
        while True:
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, self.event)
                if accept(self.event):
                    return self.event
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            select.select([self.fd], [], [], left)

    def drain(self):
        self.next(lambda e: False, 0)

    def close(self):
        self.x.XCloseDisplay(self.dpy)
