"""A private headless Wayland compositor (weston) for one test:  wayland_session.py -- cmd args

The command runs with WAYLAND_DISPLAY set and QT_QPA_PLATFORM=wayland, without DISPLAY. Exits 77
(skipped) when weston is not installed.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xsession import end  # noqa: E402


def main():
    command = sys.argv[sys.argv.index("--") + 1:]
    if not shutil.which("weston"):
        print("skipped: weston, the Wayland compositor this test runs on, is not installed")
        sys.exit(77)
    runtime = tempfile.mkdtemp(prefix="korvi-wayland-")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["XDG_RUNTIME_DIR"] = runtime
    weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=korvi-test",
                               "--idle-time=0", "--no-config"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 20
        while not os.path.exists(os.path.join(runtime, "korvi-test")):
            if weston.poll() is not None or time.monotonic() > deadline:
                sys.exit(f"weston did not start (exit status {weston.poll()})")
            time.sleep(0.05)
        # korvi draws with the CPU. Qt would still load Mesa's EGL, which keeps memory to the
        # end; once Qt unloads it, the sanitizers' leak check counts that memory as lost.
        env.update(WAYLAND_DISPLAY="korvi-test", QT_QPA_PLATFORM="wayland",
                   QT_WAYLAND_CLIENT_BUFFER_INTEGRATION="none")
        sys.exit(subprocess.run(command, env=env).returncode)
    finally:
        weston.terminate()
        end(weston)
        shutil.rmtree(runtime, ignore_errors=True)


if __name__ == "__main__":
    main()
