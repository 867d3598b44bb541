#!/usr/bin/env python3
"""Holds the package lists in scripts/ to what the build and the tests really use.

  check-packages.py [--executed LOG] BUILD[:TARGET]...

Maps to Debian packages every header a build's compiler read, every library its links named,
every program that its commands and its tests' commands run, and every program in LOG (from
scripts/watch-exec.py) that the scripts or the tests name; fails naming each file whose package
scripts/packages*.txt neither name nor pull in. BUILD:TARGET holds TARGET, and what it is built
from, to scripts/packages.txt alone, as scripts/run.sh installs nothing else for it.

"Pulled in" is what apt installs without recommends: Depends and Pre-Depends, all the way
down, plus what every Debian system has (the essential and required packages, and apt).
Files in the repository and the build folders pass; so does a program in no package (made at
run time, or a user's own that stands before the packaged one in PATH), while a header or a
library in no package fails, as only this machine has it.
"""

import json
import os
import re
import shlex
import subprocess
import sys

SCRIPTS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(SCRIPTS)
PROGRAM_LISTS = ["packages.txt"]
ALL_LISTS = ["packages.txt", "packages-test.txt", "packages-fuzz.txt", "packages-desktops.txt"]
# The folders a program executed from a package lives in; anything run from elsewhere (the
# build, a test's scratch folder, a user's own tools such as a Python of their own) is not one
# of Debian's, and a fresh machine runs the packaged one where the lists name it.
SYSTEM_PREFIXES = ("/usr/", "/bin/", "/sbin/", "/lib", "/opt/", "/etc/")


def fail(message):
    print(f"check-packages: {message}", file=sys.stderr)
    sys.exit(2)


def read_lists(names):
    packages = set()
    for name in names:
        with open(os.path.join(SCRIPTS, name)) as file:
            packages.update(line.strip() for line in file
                            if line.strip() and not line.startswith("#"))
    return packages


class Installed:
    """The installed packages with what they depend on, as dpkg knows them."""

    def __init__(self):
        fields = "${Package}\t${db:Status-Abbrev}\t${Essential}\t${Priority}\t${Provides}" \
                 "\t${Pre-Depends}\t${Depends}\n"
        out = subprocess.run(["dpkg-query", "-W", "-f", fields], capture_output=True,
                             text=True, check=True).stdout
        self.depends, self.providers, self.base = {}, {}, {"apt"}
        for line in out.splitlines():
            name, status, essential, priority, provides, *depends = line.split("\t")
            if not status.startswith("ii"):
                continue
            groups = [group for field in depends for group in field.split(",") if group.strip()]
            self.depends.setdefault(name, []).extend(groups)
            for provided in provides.split(","):
                if provided.strip():
                    self.providers.setdefault(bare(provided), set()).add(name)
            if essential == "yes" or priority == "required":
                self.base.add(name)

    def satisfy(self, name):
        return {name} if name in self.depends else self.providers.get(name, set())

    def closure(self, roots):
        """Everything `roots` pull in. Of alternatives ("a | b") the first one installed here
        counts: a fresh machine gets the first of all, which the fresh root's stage in CI
        (scripts/fresh-root.sh) tries."""
        done, todo = set(), list(roots | self.base)
        while todo:
            name = todo.pop()
            if name in done:
                continue
            done.add(name)
            for group in self.depends.get(name, []):
                for alternative in group.split("|"):
                    found = self.satisfy(bare(alternative))
                    if found:
                        todo.extend(found)
                        break
        return done


def bare(dependency):
    """"libc6 (>= 2.34)" or "python3:any" -> the package name."""
    return re.split(r"[\s(:]", dependency.strip(), maxsplit=1)[0]


def owners(paths):
    """Maps each path to the packages that ship it (empty where none does), in one dpkg call
    per round: the path as given, then as the file system resolves it, then under the other
    name that merged /usr gives it (/lib and /usr/lib)."""
    result, pending = {}, {path: candidates(path) for path in paths}
    while pending:
        ask = {path: tried.pop(0) for path, tried in pending.items()}
        out = subprocess.run(["dpkg-query", "-S", *sorted(set(ask.values()))],
                             capture_output=True, text=True).stdout
        found = {}
        for line in out.splitlines():
            if line.startswith("diversion "):
                continue
            packages, _, path = line.partition(": ")
            found.setdefault(path, set()).update(bare(p) for p in packages.split(","))
        for path, asked in ask.items():
            if asked in found:
                result[path] = found[asked]
                del pending[path]
            elif not pending[path]:
                result[path] = set()
                del pending[path]
    return result


def candidates(path):
    names = []
    for name in (path, os.path.realpath(path)):
        names.append(name)
        for a, b in (("/usr/lib/", "/lib/"), ("/usr/bin/", "/bin/"), ("/usr/sbin/", "/sbin/")):
            if name.startswith(a):
                names.append(b + name[len(a):])
            elif name.startswith(b):
                names.append(a + name[len(b):])
    return list(dict.fromkeys(names))


def inside(path, *folders):
    return any(path == folder or path.startswith(folder + "/") for folder in folders)


class Build:
    """What one CMake build folder (Ninja) used from outside the repository."""

    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        if not os.path.exists(os.path.join(self.folder, "build.ninja")):
            fail(f"{folder}: no build.ninja (not a Ninja build folder)")

    def ninja(self, *args):
        return subprocess.run(["ninja", "-C", self.folder, "-t", *args], capture_output=True,
                              text=True, check=True).stdout.splitlines()

    def outside(self, path):
        path = os.path.normpath(os.path.join(self.folder, path))
        return None if inside(path, ROOT, self.folder) else path

    def uses(self, target=None):
        """{file: why}: the headers and sources compiled, the libraries and programs of the
        link and build commands (for `target` and what it is built from, or everything), and
        the programs the tests start. What CMake's configure read is left out: a package's
        CMake files include each other's where they are installed, needed or not."""
        used = {}
        inputs = self.ninja("inputs", *([target] if target else []))
        for path in inputs:
            outside = self.outside(path)
            if outside:
                used.setdefault(outside, f"an input of {target or 'the build'}")
        objects = [path for path in inputs if path.endswith((".o", ".obj"))]
        for line in self.ninja("deps", *objects):
            if not line.startswith(" ") and line.strip():
                source = None
            elif line.strip():
                path = self.outside(line.strip())
                if source is None:
                    source = os.path.relpath(os.path.normpath(
                        os.path.join(self.folder, line.strip())), ROOT)
                if path:
                    used.setdefault(path, f"included by {source}")
        for command in self.ninja("commands", *([target] if target else [])):
            for part in command.split(" && "):
                self.command_uses(shlex.split(part), used)
        if target is None:
            used.update(self.test_programs())
        return used

    def command_uses(self, argv, used):
        if not argv or argv[0] in (":", "cd"):
            return
        program = argv[0] if os.path.isabs(argv[0]) else None
        if program and self.outside(program):
            used.setdefault(program, "run by the build")
        if not program or "-o" not in argv or "-c" in argv:
            return
        output = argv[argv.index("-o") + 1]
        search = [arg[2:] for arg in argv if arg.startswith("-L") and len(arg) > 2]
        for arg in argv[1:]:
            if arg.startswith("-l") and len(arg) > 2:
                library = self.library(program, search, arg[2:])
                if library:
                    used.setdefault(library, f"linked into {output} ({arg})")
                else:
                    fail(f"{self.folder}: {output} links {arg}, which {program} cannot find")
            elif os.path.isabs(arg) and re.search(r"\.(a|so)(\.[0-9.]+)?$", arg):
                if self.outside(arg):
                    used.setdefault(arg, f"linked into {output}")

    def library(self, compiler, search, name):
        """Where the linker finds -l`name`: the -L folders, then the compiler's own."""
        files = [f"lib{name}.so", f"lib{name}.dll.a", f"{name}.dll.a", f"lib{name}.a"]
        for folder in search:
            for file in files:
                if os.path.exists(os.path.join(self.folder, folder, file)):
                    return self.outside(os.path.join(folder, file))
        for file in files:
            found = subprocess.run([compiler, f"-print-file-name={file}"], capture_output=True,
                                   text=True).stdout.strip()
            if os.path.isabs(found):
                return os.path.normpath(found)
        return None

    def test_programs(self):
        out = subprocess.run(["ctest", "--test-dir", self.folder, "--show-only=json-v1"],
                             capture_output=True, text=True, check=True).stdout
        used = {}
        for test in json.loads(out).get("tests", []):
            for program in test.get("command", [])[:1]:
                if os.path.isabs(program) and self.outside(program):
                    used[program] = f"run by the test {test['name']}"
        return used


def words_of_the_suite():
    """{word: the first file it is in} for the scripts and the tests, whose programs are the
    ones they name; a program that only a listed one runs (a desktop's helper that it starts
    where it is installed) is that program's business, not the lists'."""
    words = {}
    for top in ("scripts", "tests", "bench", ".ci"):
        for folder, subfolders, files in os.walk(os.path.join(ROOT, top)):
            subfolders[:] = [name for name in subfolders if name != "corpus"]
            for name in sorted(files):
                path = os.path.join(folder, name)
                with open(path, errors="replace") as file:
                    for word in re.findall(r"[\w.+-]+", file.read()):
                        words.setdefault(word, os.path.relpath(path, ROOT))
    return words


def program_names(paths):
    """(path, names) for each program: its own name, and those of the links to it in the
    system's program folders (python3 for python3.11, convert for convert-im6.q16 through the
    alternatives), as the watch sees the file that a name resolves to."""
    names = {path: {os.path.basename(path)} for path in paths}
    for folder in ("/usr/bin", "/usr/sbin", "/usr/libexec"):
        if os.path.isdir(folder):
            for entry in os.scandir(folder):
                if entry.is_symlink():
                    target = os.path.realpath(entry.path)
                    if target in names:
                        names[target].add(entry.name)
    return names.items()


def check(args):
    executed, builds = None, []
    while args:
        arg = args.pop(0)
        if arg == "--executed":
            executed = args.pop(0)
        else:
            builds.append(arg)
    if not builds:
        fail("which build folders? (check-packages.py [--executed LOG] BUILD[:TARGET]...)")

    # A listed package that is not installed (the desktops' list after the sanitizers' set-up)
    # provides nothing here, and pulls nothing in.
    installed = Installed()
    program_closure = installed.closure(read_lists(PROGRAM_LISTS))
    all_closure = installed.closure(read_lists(ALL_LISTS))

    # (file, why, the closure it must come from, the lists that closure is made of)
    wanted, run_by_tests = [], set()
    for named in builds:
        folder, _, target = named.partition(":")
        build = Build(folder)
        for path, why in build.uses().items():
            wanted.append((path, f"{folder}: {why}", all_closure, ALL_LISTS))
        if target:
            for path, why in build.uses(target).items():
                wanted.append((path, f"{folder}: {why}", program_closure, PROGRAM_LISTS))
    executed = executed if executed and os.path.exists(executed) else None
    if executed:
        with open(executed) as file:
            paths = {line.strip() for line in file if line.strip()}
        if "!lost events" in paths:
            fail(f"{executed}: the watch lost events; what the tests ran is not known")
        named = words_of_the_suite()
        for path, names in program_names(p for p in paths if p.startswith(SYSTEM_PREFIXES)):
            where = next((named[name] for name in sorted(names) if name in named), None)
            if where:
                run_by_tests.add(path)
                wanted.append((path, f"run by the tests, named in {where}", all_closure,
                               ALL_LISTS))

    owner = owners({path for path, *_ in wanted})
    missing, counted = {}, set()
    for path, why, closure, names in wanted:
        counted.add(path)
        packages = owner[path]
        if not packages:
            # A program in no package is one made at run time or a user's own, which a fresh
            # machine has in its packaged form where a list names it; a header or a
            # library in no package is one that only this machine has.
            if path not in run_by_tests:
                missing.setdefault(("(no Debian package)", tuple(names)), []).append((path, why))
            continue
        if not packages & closure:
            key = (" or ".join(sorted(packages)), tuple(names))
            missing.setdefault(key, []).append((path, why))
    if missing:
        print("check-packages: used, but from packages that the lists neither name nor pull in:",
              file=sys.stderr)
        for (package, names), uses in sorted(missing.items()):
            where = " ".join(f"scripts/{name}" for name in names)
            print(f"  {package}, not in {where}:", file=sys.stderr)
            for path, why in sorted(uses)[:5]:
                print(f"    {path}  ({why})", file=sys.stderr)
            if len(uses) > 5:
                print(f"    ... and {len(uses) - 5} more", file=sys.stderr)
        return 1
    print(f"check-packages: {len(counted)} files used by {' '.join(builds)}"
          f"{' and the tests' if executed else ''} all come from the listed packages")
    return 0


def main():
    return check(sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
