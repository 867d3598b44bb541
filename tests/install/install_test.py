"""The user's install (scripts/install-user.sh, uninstall-user.sh) run with a HOME of its own,
and the installed korvi started from its menu entry.  install_test.py BUILD SOURCE [unittest]"""

import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "e2e"), os.path.join(HERE, "..", "support")]
from korvi_e2e import docked  # noqa: E402
from xsession import XServer, wait_for  # noqa: E402

BUILD, SOURCE = sys.argv[1:3]
NOBODY = 65534
EDITED = b"; the user's own\r\n[main]\r\ntop=30\r\nleft=45\r\n[setting]\ntimer=0\n"
# A step whose script must refuse its arguments, saying so, and change nothing.
REFUSE = "refuse:"
REFUSED = (r"(?s)every probe of korvi will report 11050.*\n  sysctl -w net\.ipv4\.ping_group_range="
           r"\"0 2147483647\"\n.*/etc/sysctl\.d/.*\n  setcap cap_net_raw\+ep .+\n")


def read(path):
    with open(path, "rb") as file:
        return file.read()


def output(*argv):
    done = subprocess.run(argv, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError(f"{argv[-3:]} ended with {done.returncode}: {done.stdout}{done.stderr}")
    return done.stdout


def exec_argv(entry):
    """The command of a desktop entry's Exec line: its string escapes, then its quoting."""
    line = re.search(r"^Exec=(.*)$", entry, re.M)[1]
    line = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t"}.get(m[1], m[1]), line)
    words = re.findall(r'"((?:[^"\\]|\\.)*)"|(\S+)', line)
    return [(re.sub(r"\\(.)", r"\1", quoted) or bare).replace("%%", "%") for quoted, bare in words]


def install(test, steps, user=NOBODY, xdg=False, ping_range="0 2147483647"):
    """Runs (script, arguments) steps as `user` in a fresh HOME, in a network namespace with
    `ping_range`; the step "edit" stands for the user's own korvi.ini and an older version's
    files. With `xdg`, the data and config folders have names the Exec line must quote."""
    top = tempfile.mkdtemp(prefix="korvi-home-")
    test.addCleanup(shutil.rmtree, top)
    os.chmod(top, 0o777)
    env = {"PATH": "/usr/bin:/bin", "HOME": top + "/home"}
    if xdg:
        env.update(XDG_DATA_HOME=top + "/my data 100% $x", XDG_CONFIG_HOME=top + "/my 'config'")
    os.mkdir(env["HOME"])
    os.chown(env["HOME"], user, user)
    dest = env.get("XDG_DATA_HOME", env["HOME"] + "/.local/share") + "/korvi"
    for script, args in steps:
        if script == "edit":
            for name, text in (("korvi.ini", EDITED), ("old-part", b""), ("korvi", b"old")):
                with open(f"{dest}/{name}", "wb") as file:
                    file.write(text)
            with open(dest + "/installed-files", "a") as file:
                file.write(f"file {dest}/old-part\n")
            continue
        argv = ["unshare", "-n", "sh", "-c", 'sysctl -qw net.ipv4.ping_group_range="$0" && '
                'exec "$@" 2>&1', ping_range, "setpriv", f"--reuid={user}", f"--regid={user}",
                "--clear-groups", "env", "-i", *(f"{k}={v}" for k, v in env.items()), "bash",
                script.removeprefix(REFUSE), *args]
        if script.startswith(REFUSE):
            done = subprocess.run(argv, capture_output=True, text=True, timeout=120)
            test.assertNotEqual(done.returncode, 0, done.stdout)
            said = done.stdout
        else:
            said = output(*argv)
    return top, env.get("XDG_CONFIG_HOME", env["HOME"] + "/.config"), dest, said


def portable(test):
    folder = tempfile.mkdtemp(prefix="korvi-portable-")
    test.addCleanup(shutil.rmtree, folder)
    output("cmake", "--install", BUILD, "--prefix", folder)
    os.chmod(folder, 0o755)
    return folder


Row = collections.namedtuple("Row", "name steps xdg ping_range autostart ini says")


@unittest.skipUnless(os.geteuid() == 0, "it switches users (setpriv) and runs the installer and "
                     "korvi in network namespaces of their own, which needs root")
class UserInstall(unittest.TestCase):
    def test_install_upgrade_autostart_uninstall(self):
        source = portable(self)
        sizes = output("identify", "-format", "%wx%h\n", source + "/korvi-neutral.ico").split()
        up, on, down = source + "/install-user.sh", ["--autostart"], source + "/uninstall-user.sh"
        shipped = read(source + "/korvi.ini")
        rows = [
            Row("install", [(up, [])], False, "1 0", False, shipped, REFUSED),
            Row("install with --autostart, XDG folders", [(up, on)], True, "0 2147483647", True,
                shipped, r"(?s)starts at login: .*/my 'config'/autostart/korvi.desktop\n"
                r"(?!.*11050)"),
            Row("upgrade keeps korvi.ini and autostart", [(up, on), ("edit", []), (up, [])], True,
                "1 0", True, EDITED, REFUSED),
            Row("upgrade with --no-autostart", [(up, on), (up, ["--no-autostart"])], False,
                "0 2147483647", False, shipped, "(?s)^(?!.*login)"),
            Row("uninstall keeps korvi.ini", [(up, on), ("edit", []), (down, [])], True, "1 0",
                False, EDITED, r"kept your settings in .*/my data 100% \$x/korvi/korvi\.ini"),
            Row("uninstall --purge", [(up, on), (down, ["--purge"])], False, "1 0", False, None,
                "removed the settings"),
            Row("uninstall refuses what it does not know", [(up, on), (REFUSE + down, [
                "--purge", "--dry-run"])], False, "0 2147483647", True, shipped,
                'unknown option "--dry-run".*nothing was removed'),
            Row("install refuses what it does not know", [(up, on), (REFUSE + up, [
                "--no-autostart", "--bogus"])], False, "0 2147483647", True, shipped,
                'unknown option "--bogus".*nothing was installed'),
        ]
        for row in rows:
            with self.subTest(row.name):
                top, config, dest, said = install(self, row.steps, NOBODY, row.xdg, row.ping_range)
                self.assertRegex(said, row.says)
                for command in re.findall(r"^  setcap cap_net_raw\+ep (.*)$", said, re.M):
                    self.assertEqual(output("sh", "-c", "printf %s " + command), dest + "/korvi")
                data = os.path.dirname(dest)
                program = {f"{dest}/{f}": f"{source}/{f}" for f in os.listdir(source)
                           if f != "korvi.ini"}
                expected = {dest + "/korvi.ini"} if row.ini else set()
                if [s for s, _ in row.steps if not s.startswith(REFUSE)][-1] == up:
                    expected |= set(program) | {dest + "/installed-files"}
                    expected |= {f"{data}/icons/hicolor/{s}/apps/korvi.png" for s in sizes}
                    expected.add(data + "/applications/korvi.desktop")
                if row.autostart:
                    expected.add(config + "/autostart/korvi.desktop")
                if not any(path.startswith(top + "/home/") for path in expected):
                    expected.add(top + "/home/")
                # Files, and folders that hold nothing.
                found = {os.path.join(d, f) for d, sub, files in os.walk(top)
                         for f in files + ([] if sub or files else [""])}
                self.assertEqual(found, expected)
                for path in expected:
                    if path.endswith(".desktop"):
                        output("desktop-file-validate", path)
                        self.assertEqual(exec_argv(read(path).decode()), [dest + "/korvi"])
                    elif path.endswith(".png"):
                        self.assertIn(output("identify", "-format", "/%wx%h/", path), path)
                    elif path in program:
                        self.assertEqual(read(path), read(program[path]), path)
                if row.ini:
                    self.assertEqual(read(dest + "/korvi.ini"), row.ini)

    def test_from_the_build_folder_the_menu_entry_starts_korvi_and_its_tray_entry(self):
        _, _, dest, _ = install(self, [(SOURCE + "/scripts/install-user.sh", ["--build", BUILD])],
                                user=0, xdg=True)
        entry = read(os.path.dirname(dest) + "/applications/korvi.desktop").decode()
        self.assertIn("StartupWMClass=korvi\n", entry)
        server = XServer(tray=True)
        self.addCleanup(server.close)
        runtime = tempfile.mkdtemp(prefix="korvi-runtime-")
        self.addCleanup(shutil.rmtree, runtime)
        server.start(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                      *exec_argv(entry)], env=dict(server.env, XDG_RUNTIME_DIR=runtime), cwd="/",
                     stderr=subprocess.DEVNULL)
        window = wait_for("korvi's window", lambda: server.find("--onlyvisible", "--name", "^B$"))
        docked(server, window[0])
        self.assertIn('"korvi", "korvi"', server.run(["xprop", "-id", str(window[0]), "WM_CLASS"]),
                      "desktops match the window to korvi.desktop by its class")


if __name__ == "__main__":
    result = unittest.main(argv=sys.argv[:1] + sys.argv[3:], exit=False, verbosity=2).result
    sys.exit(77 if result.wasSuccessful() and len(result.skipped) == result.testsRun else
             0 if result.wasSuccessful() else 1)
