#!/usr/bin/env python3
"""Runs a command and appends to a log every program file that it, or anything it started,
executed: what scripts/check-packages.py maps to packages.

  watch-exec.py LOG -- COMMAND...

As root only (a mount namespace and fanotify); elsewhere it runs COMMAND alone and says so.
It cannot see a program run in a mount namespace that a test makes itself, nor one copied
elsewhere before it runs (seen as the copy); the fresh Debian root in CI (scripts/fresh-root.sh)
catches those.
"""

import ctypes
import os
import select
import struct
import subprocess
import sys

CLONE_NEWNS = 0x00020000
MS_REC, MS_PRIVATE = 0x4000, 1 << 18
FAN_CLOEXEC, FAN_NONBLOCK, FAN_UNLIMITED_QUEUE = 0x1, 0x2, 0x10
FAN_MARK_ADD, FAN_MARK_MOUNT = 0x1, 0x10
FAN_OPEN_EXEC, FAN_Q_OVERFLOW = 0x1000, 0x4000
EVENT = struct.Struct("=IBBHQii")  # struct fanotify_event_metadata


def start_watching():
    """A mount namespace of this process's own, with a fanotify mark on its copies of the
    system's mounts: only processes that descend from here execute through those copies, so
    whatever else runs on the machine is not seen. Returns the fanotify descriptor, or the
    reason there is none."""
    if os.geteuid() != 0:
        return "not root (a mount namespace and fanotify need root)"
    libc = ctypes.CDLL(None, use_errno=True)
    libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int,
                                   ctypes.c_char_p]
    if libc.unshare(CLONE_NEWNS) != 0:
        return f"unshare(CLONE_NEWNS): {os.strerror(ctypes.get_errno())}"
    # Private, so that the mounts the tests make (network namespaces) stay in here.
    if libc.mount(b"none", b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        return f"making / private: {os.strerror(ctypes.get_errno())}"
    fd = libc.fanotify_init(FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE,
                            os.O_RDONLY | os.O_LARGEFILE | os.O_CLOEXEC)
    if fd < 0:
        return f"fanotify_init: {os.strerror(ctypes.get_errno())}"
    for folder in ("/", "/usr", "/usr/local", "/opt"):
        if os.path.isdir(folder) and libc.fanotify_mark(fd, FAN_MARK_ADD | FAN_MARK_MOUNT,
                                                        FAN_OPEN_EXEC, -100,
                                                        folder.encode()) != 0:
            return f"fanotify_mark {folder}: {os.strerror(ctypes.get_errno())}"
    return fd


def read_events(fd, seen):
    """Reads every event queued so far."""
    while True:
        try:
            data = os.read(fd, 64 * 1024)
        except BlockingIOError:
            return
        offset = 0
        while offset + EVENT.size <= len(data):
            length, _, _, _, mask, file, _ = EVENT.unpack_from(data, offset)
            offset += length
            if mask & FAN_Q_OVERFLOW:
                seen.add("!lost events")
            if file >= 0:
                try:
                    seen.add(os.readlink(f"/proc/self/fd/{file}"))
                finally:
                    os.close(file)


def watch(log, argv):
    fd = start_watching()
    if isinstance(fd, str):
        print(f"watch-exec: not watching what {argv[0]} runs: {fd}", file=sys.stderr)
        os.execvp(argv[0], argv)
    seen = set()
    child = subprocess.Popen(argv, close_fds=True)
    while True:
        try:
            while child.poll() is None:
                if select.select([fd], [], [], 0.5)[0]:
                    read_events(fd, seen)
            break
        except KeyboardInterrupt:  # the terminal's Ctrl+C reaches the command too
            continue
    read_events(fd, seen)
    with open(log, "a") as file:
        file.writelines(path + "\n" for path in sorted(seen))
    return child.returncode if child.returncode >= 0 else 128 - child.returncode


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        print(__doc__, file=sys.stderr)
        return 2
    return watch(sys.argv[1], sys.argv[3:])


if __name__ == "__main__":
    sys.exit(main())
