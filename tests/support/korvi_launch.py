"""The built korvi as the end-to-end tests, the hardening tests and the footprint bench run it:
copied into a folder of its own with its icons and a korvi.ini, and started from elsewhere on a
private X server (xsession.py), in a network namespace of its own where asked (needs root)."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from xsession import XServer, private_bus, wait_for  # noqa: F401  (for the scripts that launch)

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
    """korvi and its icons in `folder`, with `ini` as its korvi.ini (None: no file)."""
    shutil.copy2(korvi, folder)
    for icon in ICONS:
        shutil.copy2(os.path.join(assets, icon), folder)
    if ini is not None:
        with open(os.path.join(folder, "korvi.ini"), "wb") as file:
            file.write(ini)


def laid_out_folder(test, korvi, assets, ini, prefix="korvi-test-"):
    """A new folder laid out as lay_out does, removed when `test` ends."""
    folder = tempfile.mkdtemp(prefix=prefix)
    test.addCleanup(shutil.rmtree, folder, True)
    lay_out(folder, korvi, assets, ini)
    return folder


def read(path):
    with open(path, "rb") as file:
        return file.read()


def command(argv, netns=False, silent=False, user=None):
    """`argv`, in a network namespace of its own with only lo up when `netns`, where 127.0.0.1
    never answers when `silent`. As `user` (a name), it runs as that user, who may send echoes
    in the namespace as root may. The namespace ends with the program: sh execs it."""
    argv = list(argv)
    if user:
        argv = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + argv
    if not (netns or silent):
        return argv
    up = "ip link set lo up"
    if silent:
        up += " && sysctl -qw net.ipv4.icmp_echo_ignore_all=1"
    if user:
        up += ' && sysctl -qw net.ipv4.ping_group_range="0 2147483647"'
    return ["unshare", "-n", "sh", "-c", up + ' && exec "$0" "$@"'] + argv


class Korvi:
    """One run of the korvi in `folder`; its standard error is kept. With `user` (a name), korvi
    runs as that user, as it would in that user's desktop session. `server` is anything with
    `env` and `start(argv, **popen)`: an X server, a desktop session."""

    def __init__(self, server, folder, netns=False, env=None, user=None):
        self.server = server
        self.folder = folder
        # Outside `folder`, so that the folder holds only what korvi itself put there.
        self.runtime = tempfile.mkdtemp(prefix="korvi-runtime-")
        # Qt's platform is korvi's own choice unless the caller names one.
        own = dict(server.env, XDG_RUNTIME_DIR=self.runtime)
        own.pop("QT_QPA_PLATFORM", None)
        env = dict(own, **(env or {}))
        if user:
            for name in ("", *os.listdir(folder)):
                shutil.chown(os.path.join(folder, name), user, user)
            shutil.chown(self.runtime, user, user)
        # Started from elsewhere: korvi finds its files beside itself.
        self.proc = server.start(command([os.path.join(folder, "korvi")], netns, user=user),
                                 env=env, cwd="/", stdout=subprocess.DEVNULL,
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


def arguments(*options):
    """The script's --korvi and --assets, and `options` as (flag, add_argument keywords); the
    arguments left over go to unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--korvi", required=True)
    parser.add_argument("--assets", required=True)
    for flag, keywords in options:
        parser.add_argument(flag, **keywords)
    return parser.parse_known_args()


def run_tests(argv):
    """Runs the calling module's unittest classes; exits 77 when every test was skipped."""
    result = unittest.main(module="__main__", argv=[sys.argv[0]] + argv, exit=False,
                           verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)
