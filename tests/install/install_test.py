"""The user's install: scripts/install-user.sh and uninstall-user.sh run by an unprivileged user
with a HOME of its own, and the installed korvi started from its menu entry.

install_test.py --build DIR --source DIR [unittest arguments]; exits 77 when all skipped.
"""

import argparse
import dataclasses
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from korvi_e2e import docked  # noqa: E402
from xsession import XServer, wait_for  # noqa: E402

ARGS = None
NEEDS_ROOT = "the user is switched (setpriv) and korvi runs in network namespaces, which needs root"
NOBODY = 65534
EDITED = b"; the user's own\r\n[main]\r\ntop=30\r\nleft=45\r\n[setting]\ntimer=0\n"
REFUSED = re.compile(r"every probe of korvi will report 11050.*\n.*sysctl -w net\.ipv4\."
                     r"ping_group_range=\"0 2147483647\"\n.*/etc/sysctl\.d/.*"
                     r"\n  setcap cap_net_raw\+ep (.+)\n", re.S)


@dataclasses.dataclass
class Row:
    name: str
    steps: list  # (script or "edit", arguments); edit: the user changes korvi.ini, and files
    # of an older version are in place
    ping_range: str = "0 2147483647"  # in the namespace the installer runs in
    xdg: bool = False  # XDG_DATA_HOME and XDG_CONFIG_HOME set
    as_root: bool = False  # from the build folder; else the portable folder, as nobody
    installed: bool = True
    autostart: bool = False
    ini: str = "shipped"  # korvi.ini afterwards: shipped, edited or None (gone)
    says: object = ""  # a pattern in the output of the last step


def read(path):
    with open(path, "rb") as file:
        return file.read()


def tree(top):
    return {os.path.relpath(os.path.join(d, f), top) for d, _, fs in os.walk(top) for f in fs}


def exec_argv(entry):
    """The command of a desktop entry's Exec line: its string escapes, then its quoting."""
    line = re.search(r"^Exec=(.*)$", entry, re.M)[1]
    line = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t"}.get(m[1], m[1]), line)
    words = re.findall(r'"((?:[^"\\]|\\.)*)"|(\S+)', line)
    return [(re.sub(r"\\(.)", r"\1", quoted) or bare).replace("%%", "%") for quoted, bare in words]


class Home:
    """A fresh HOME owned by the installing user, with the XDG folders a row asks for."""

    def __init__(self, test, user, xdg):
        self.top = tempfile.mkdtemp(prefix="korvi-home-")
        test.addCleanup(shutil.rmtree, self.top)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.top + "/home"}
        self.data, self.config = self.top + "/home/.local/share", self.top + "/home/.config"
        if xdg:  # odd characters that the Exec line must quote
            self.data, self.config = self.top + "/my data 100% $x", self.top + "/my 'config'"
            self.env.update(XDG_DATA_HOME=self.data, XDG_CONFIG_HOME=self.config)
        os.mkdir(self.env["HOME"])
        os.chown(self.env["HOME"], user, user)
        os.chmod(self.top, 0o777)
        self.user = user

    def run(self, script, args, ping_range="0 2147483647"):
        as_user = ["setpriv", f"--reuid={self.user}", f"--regid={self.user}", "--clear-groups"]
        command = ["unshare", "-n", "sh", "-c", 'sysctl -qw net.ipv4.ping_group_range="$0" && '
                   'exec "$@"', ping_range, *as_user, "env", "-i",
                   *(f"{k}={v}" for k, v in self.env.items()), "bash", script, *args]
        done = subprocess.run(command, capture_output=True, text=True, timeout=120)
        if done.returncode != 0:
            raise AssertionError(f"{script} {args} ended with {done.returncode}: {done.stderr}")
        return done.stdout + done.stderr


def portable(test):
    folder = tempfile.mkdtemp(prefix="korvi-portable-")
    test.addCleanup(shutil.rmtree, folder)
    subprocess.run(["cmake", "--install", ARGS.build, "--prefix", folder], check=True,
                   capture_output=True)
    os.chmod(folder, 0o755)
    return folder


@unittest.skipUnless(os.geteuid() == 0, NEEDS_ROOT)
class UserInstall(unittest.TestCase):
    def test_install_upgrade_autostart_uninstall(self):
        source = portable(self)
        sizes = subprocess.run(["identify", "-format", "%wx%h\n", source + "/korvi-neutral.ico"],
                               check=True, capture_output=True, text=True).stdout.split()
        program = tree(source) | {"installed-files"}
        done = "(?s)^(?!.*11050)"  # and no word of ICMP
        rows = [
            Row("install", [("install", [])], ping_range="1 0", says=REFUSED),
            Row("install with --autostart into XDG folders", [("install", ["--autostart"])],
                xdg=True, autostart=True, says="starts at login"),
            Row("from the build folder, as root", [("install", ["--build", ARGS.build])],
                ping_range="1 0", as_root=True, says=done),
            Row("upgrade keeps korvi.ini and the autostart entry",
                [("install", ["--autostart"]), ("edit", []), ("install", [])], xdg=True,
                autostart=True, ini="edited", says=done),
            Row("upgrade with --no-autostart",
                [("install", ["--autostart"]), ("install", ["--no-autostart"])],
                says="(?s)^(?!.*login)"),
            Row("uninstall keeps korvi.ini and says where",
                [("install", ["--autostart"]), ("edit", []), ("uninstall", [])], xdg=True,
                installed=False, ini="edited", says=r"kept your settings in .*/korvi/korvi\.ini"),
            Row("uninstall --purge", [("install", ["--autostart"]), ("uninstall", ["--purge"])],
                installed=False, ini=None, says="removed the settings"),
        ]
        for row in rows:
            name, steps, ping_range, xdg, as_root, installed, autostart, ini, says = \
                dataclasses.astuple(row)
            with self.subTest(name):
                home = Home(self, 0 if as_root else NOBODY, xdg)
                dest = home.data + "/korvi"
                scripts = ARGS.source + "/scripts/" if as_root else source + "/"
                for step, args in steps:
                    if step == "edit":
                        with open(dest + "/korvi.ini", "wb") as file:
                            file.write(EDITED)
                        with open(dest + "/installed-files", "a") as file:
                            file.write(f"file {dest}/old-part\n")
                        for old in ("old-part", "korvi"):
                            with open(f"{dest}/{old}", "wb") as file:
                                file.write(b"an older version")
                        continue
                    said = home.run(scripts + step + "-user.sh", args, ping_range)
                self.assertRegex(said, says)
                if says is REFUSED:
                    self.assertEqual(REFUSED.search(said)[1], dest + "/korvi")

                expected = {home.data + "/korvi/korvi.ini"} if ini else set()
                if installed:
                    expected |= {f"{dest}/{f}" for f in program}
                    expected |= {f"{home.data}/icons/hicolor/{s}/apps/korvi.png" for s in sizes}
                    expected.add(home.data + "/applications/korvi.desktop")
                if autostart:
                    expected.add(home.config + "/autostart/korvi.desktop")
                self.assertEqual({home.top + "/" + f for f in tree(home.top)}, expected)
                if ini:
                    self.assertEqual(read(dest + "/korvi.ini"),
                                     EDITED if ini == "edited" else read(source + "/korvi.ini"))
                for path in expected:
                    if path.endswith(".desktop"):
                        subprocess.run(["desktop-file-validate", path], check=True)
                        self.assertEqual(exec_argv(read(path).decode()), [dest + "/korvi"])
                    elif path.endswith(".png"):
                        shown = subprocess.run(["identify", "-format", "%wx%h", path], check=True,
                                               capture_output=True, text=True).stdout
                        self.assertIn(f"/{shown}/", path)
                    elif installed and not path.endswith(("korvi.ini", "installed-files")):
                        self.assertEqual(read(path), read(source + path[len(dest):]))

    def test_the_menu_entry_starts_korvi_with_its_window_and_tray_entry(self):
        home = Home(self, NOBODY, xdg=True)
        home.run(portable(self) + "/install-user.sh", [])
        entry = read(home.data + "/applications/korvi.desktop").decode()
        server = XServer(tray=True)
        self.addCleanup(server.close)
        runtime = tempfile.mkdtemp(prefix="korvi-runtime-")
        self.addCleanup(shutil.rmtree, runtime)
        korvi = server.start(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                              *exec_argv(entry)], env=dict(server.env, XDG_RUNTIME_DIR=runtime),
                             cwd="/", stderr=subprocess.DEVNULL)
        self.addCleanup(korvi.kill)
        window = wait_for("korvi's window", lambda: server.find("--onlyvisible", "--name", "^B$"))
        docked(server, window[0])
        wm_class = server.run(["xprop", "-id", str(window[0]), "WM_CLASS"])
        self.assertIn('"korvi", "korvi"', wm_class, "desktops match it to korvi.desktop")
        self.assertIn("StartupWMClass=korvi\n", entry)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)


if __name__ == "__main__":
    main()
