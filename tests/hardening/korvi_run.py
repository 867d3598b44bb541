"""The built korvi, copied into a folder of its own with its icons and a crafted korvi.ini, and
run there on a private X server (tests/e2e/xsession.py)."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from xsession import XServer, wait_for  # noqa: E402,F401  (re-exported for the tests)

ICONS = ("korvi-up.ico", "korvi-down.ico", "korvi-neutral.ico")
# What korvi says when it cannot save a value; the file must then be as it was.
CANNOT_SAVE = re.compile(r"^korvi: cannot save \[main\] (top|left) in (\S+): (.+); "
                         r"the file is unchanged$", re.M)


def settings(top=1500, left=3000, timer=3600000, address="127.0.0.1"):
    """A korvi.ini with comments, mixed line endings and a key korvi does not know, so that a
    write that changes more than its one value shows."""
    return (b"; korvi under test\r\n[main]\r\n"
            b"top=%d\r\nleft=%d\r\n"
            b"icon1=korvi-up.ico\nr1=144\ng1=238\nb1=144\n"
            b"icon2=korvi-down.ico\nr2=255\ng2=170\nb2=170\n"
            b"unknown=kept\n\n[setting]\ntimer=%d\nipaddress=%s\n"
            % (top, left, timer, address.encode()))


def lay_out(folder, korvi, assets, ini):
    shutil.copy2(korvi, folder)
    for icon in ICONS:
        shutil.copy2(os.path.join(assets, icon), folder)
    with open(os.path.join(folder, "korvi.ini"), "wb") as file:
        file.write(ini)


def read(path):
    with open(path, "rb") as file:
        return file.read()


class Korvi:
    """One run of the korvi in `folder`. With `netns`, in a network namespace of its own with
    only lo up, which ends with it (needs root). With `user` (a name), korvi runs as that user,
    as it would in that user's desktop session; the user may send echoes there, as root may.
    `server` is anything with `env` and `start(argv, **popen)`: an X server, a desktop session."""

    def __init__(self, server, folder, netns=False, env=None, user=None):
        self.server = server
        self.folder = folder
        # Outside `folder`, so that the folder holds only what korvi itself put there.
        self.runtime = tempfile.mkdtemp(prefix="korvi-runtime-")
        # Qt's platform is korvi's own choice unless the caller names one.
        own = dict(server.env, XDG_RUNTIME_DIR=self.runtime)
        own.pop("QT_QPA_PLATFORM", None)
        env = dict(own, **(env or {}))
        command = [os.path.join(folder, "korvi")]
        inside = 'ip link set lo up && exec "$0"'
        if user:
            for name in ("", *os.listdir(folder)):
                shutil.chown(os.path.join(folder, name), user, user)
            shutil.chown(self.runtime, user, user)
            command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + command
            inside = ('ip link set lo up && sysctl -qw net.ipv4.ping_group_range="0 2147483647"'
                      ' && exec "$0" "$@"')
        if netns:
            command = ["unshare", "-n", "sh", "-c", inside] + command
        # Started from elsewhere: korvi finds its files beside itself.
        self.proc = server.start(command, env=env, cwd="/", stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True)
        self.pid = self.proc.pid  # unshare, sh and setpriv exec korvi in their place

    def window(self, timeout=15.0):
        def shown():
            for w in self.server.find("--all", "--onlyvisible", "--pid", str(self.pid), "--name", "^B$"):
                info = self.server.info(w)
                if info["state"] == "IsViewable" and (info["width"], info["height"]) == (104, 89):
                    return w
            if self.proc.poll() is not None:
                raise AssertionError(f"korvi ended with {self.proc.returncode}: "
                                     f"{self.proc.stderr.read()}")
            return None
        return wait_for("korvi's window", shown, timeout)

    def finish(self, timeout=15):
        try:
            _, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"korvi still runs {timeout} s later")
        finally:
            shutil.rmtree(self.runtime, ignore_errors=True)
        return self.proc.returncode, err

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()
        shutil.rmtree(self.runtime, ignore_errors=True)


def run_tests(argv):
    """Runs the calling module's unittest classes; exits 77 when every test was skipped."""
    result = unittest.main(module="__main__", argv=[sys.argv[0]] + argv, exit=False,
                           verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)
