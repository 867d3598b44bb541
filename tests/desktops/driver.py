"""What a desktop driver implements, and what its desktop decides (the checks in desktops.py
read both). One module per desktop subclasses Desktop and lists its classes in DESKTOPS."""

import os
import shutil

from xsession import wait_for

# A desktop starting beside others on two busy cores can take many seconds; a wait for it
# ends as soon as it is up, and this only bounds it.
START_TIMEOUT = 60


class Desktop:
    """The class attributes say what the desktop decides; the methods answer for it."""

    name = ""              # the run's name: the screenshot is <build>/desktops/<name>.png
    protocol = "sni"       # how korvi's entry reaches the tray: "sni" or "xembed"
    places = True          # honours the position korvi asks for (korvi.ini's top/left)
    task_bar = True        # has a task bar that keeps korvi's tool window out (None: has none)
    hides_by = "minimise"  # how a user takes the window away: "minimise", or "cover" where the
    #                        desktop offers no minimise for a tool window
    click_raises = True    # a click on the entry brings the window back in front; else the
    #                        key of state() that shows what the desktop made of it instead,
    #                        or None: the window stays behind, unmarked; or "either": the
    #                        desktop's focus rules decide each time, and only the click is pinned
    knows_position = True  # korvi can read its window's position (not on Wayland itself)
    korvi_as_user = False  # korvi runs as the session's user (the desktop refuses root)
    user = False           # the session needs a throw-away user
    requires = ()          # programs the desktop needs
    timer = 300            # korvi's probe interval in ms: the icon follows the host within a
                           # few of them
    bubbles = None         # (x, y, width, height) of the screen where notifications show

    def __init__(self, args):
        self.args = args  # desktops.py's command line: --korvi, --assets, helper programs

    def unavailable(self):
        """Why this desktop cannot run here, or None."""
        if os.geteuid() != 0:
            return "korvi runs in a network namespace of its own (unshare -n), which needs root"
        missing = [p for p in self.requires if not shutil.which(p)]
        if missing:
            return f"not installed: {' '.join(missing)} (scripts/packages-desktops.txt)"
        return None

    def start(self, session):
        """Starts the desktop headless with its tray host; returns once the host is ready."""
        raise NotImplementedError

    def korvi_env(self):
        """What korvi's environment adds to the session's (DISPLAY, WAYLAND_DISPLAY, bus)."""
        return {}

    def screenshot(self, path):
        raise NotImplementedError

    def click(self, x, y):
        """A real left click at screen x, y, through the X server or the compositor."""
        raise NotImplementedError

    def tray_area(self):
        """(x, y, width, height) of the desktop's tray on the screen."""
        raise NotImplementedError

    def task_bar_area(self):
        """Where a task bar would show korvi's window, or None."""
        return None

    def docked(self, korvi):
        """Whether a window of korvi's own shows inside the tray (as XEmbed docks one), or None
        where the desktop cannot tell."""
        return None

    def default_action(self, x, y):
        """Where a click sends the default action of the notification whose icon is at x, y."""
        return x, y

    def find_window(self, korvi):
        """A handle to korvi's window if it shows now, else None."""
        raise NotImplementedError

    def wait(self, what, check):
        """Waits until `check` gives a value, and returns it."""
        return wait_for(what, check, START_TIMEOUT, 0.1)

    def window(self, korvi):
        """A handle to korvi's window, once it shows; fails at once if korvi ends first."""
        def shown():
            found = self.find_window(korvi)
            if not found and korvi.proc.poll() is not None:
                raise AssertionError(f"korvi ended: {korvi.proc.stderr.read()}")
            return found
        return self.wait("korvi's window", shown)

    def state(self, window):
        """{"x", "y": the frame's top-left as korvi saves it; "shown"; "front": shown, active
        and above every other window}."""
        raise NotImplementedError

    def own_place(self, window):
        """Where the desktop puts the window when it does not honour korvi's position."""
        raise NotImplementedError

    def hide(self, window):
        """Minimises the window, or covers it (hides_by)."""
        raise NotImplementedError

    def move(self, window, x, y):
        """Moves the window's frame to x, y as a user would."""
        raise NotImplementedError

    def close(self, window):
        """What the window's close button does."""
        raise NotImplementedError

