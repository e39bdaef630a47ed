#!/usr/bin/env bash
# Every path a map of the tree names in backquotes exists: `Win32/linux/Modules.cpp`, a folder (`RasSim/edge/`), a
# path given from inside its folder (`linux/WaitObjects.cpp`, `backends/sim/`) or a file name alone (`Dialogs.cpp`,
# `Dialogs_<platform>.cpp` for each platform). A name a generated file is made from counts (`QuorVersion.h` from
# `QuorVersion.h.in`); paths of the installed tree (`lib/quor/`, `bin/`) and patterns (`*_<platform>.cpp`) are not
# paths of the tree and are passed over.
# Usage: .ci/doc-paths.sh [--root DIR] [DOC...]   (default: this checkout, docs/ARCHITECTURE.md)
#        .ci/doc-paths.sh --self-test            a small tree whose map names one missing file must be refused
# Exit status 0: every path exists; 1: missing paths (each printed as "doc:line: `path` ...").
set -euo pipefail
exec python3 - "$0" "$@" <<'PYTHON'
import os
import re
import subprocess
import sys
import tempfile

SCRIPT = sys.argv[1]
ARGS = sys.argv[2:]
# Build products the map names by what they are called once built.
PRODUCTS = {"TQuor30.dpl", "rasapi32.dll", "rnaph.dll", "quorwin32.dll", "vcl30.dll", "README.txt", "bin/"}
FILE = re.compile(r"\.(h|cpp|c|def|cmake|txt|md|sh|py|in|json|exports|toml|supp)$")
SKIPPED = ("build", ".git", "__pycache__")


def tree(root):
    files, dirs = set(), set()
    for folder, subdirs, names in os.walk(root):
        subdirs[:] = [d for d in subdirs if d not in SKIPPED]
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        rel = "" if rel == "." else rel + "/"
        dirs.update(rel + d + "/" for d in subdirs)
        files.update(rel + n for n in names)
    return files, dirs


def exists(path, files, dirs, tops):
    paths = dirs if path.endswith("/") else files | {d.rstrip("/") for d in dirs}
    name = path.rstrip("/")
    if not name:
        return None
    if "/" not in name:
        if path.endswith("/"):
            return path in PRODUCTS or any(d.endswith("/" + path) or d == path for d in dirs)
        if not FILE.search(path) and not path.endswith(".h.in"):
            return None  # not a file name (a command, a target)
        return path in PRODUCTS or any(f.rsplit("/", 1)[-1] in (path, path + ".in") for f in files)
    if path.split("/", 1)[0] + "/" not in dirs and not any(d.endswith("/" + path.split("/", 1)[0] + "/") for d in dirs):
        return None  # a path of the installed tree
    return any(p == path or p.endswith("/" + path) for p in paths) or any(
        f == path + ".in" or f.endswith("/" + path + ".in") for f in files)


def check(root, docs):
    files, dirs = tree(root)
    tops = {d for d in dirs if d.count("/") == 1}
    missing = []
    for doc in docs:
        with open(os.path.join(root, doc), encoding="utf-8") as f:
            text = f.read()
        for m in re.finditer(r"`([^`\s]+)`", text):
            token = m.group(1).replace("${QUOR_PLATFORM}", "<platform>")
            if token.startswith("*") or re.search(r"[()*:=${}\"',;|]", token.replace(".*", "")):
                continue
            token = token.replace(".*", ".h")  # `Streaming.*`: the header and its sources
            plain = token.replace("<platform>", "")
            if "<" in plain or ">" in plain or plain.startswith("-") or plain.startswith("."):
                continue
            for path in [token.replace("<platform>", p) for p in ("linux", "windows")] if "<platform>" in token else [token]:
                if exists(path, files, dirs, tops) is False:
                    line = text.count("\n", 0, m.start()) + 1
                    missing.append(f"{doc}:{line}: `{m.group(1)}` names no file or folder of the tree")
    return missing


def self_test():
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "docs"))
        os.makedirs(os.path.join(root, "Win32", "linux"))
        for name in ("Win32/linux/Modules.cpp", "Win32/Clock_linux.cpp", "Win32/Clock_windows.cpp"):
            open(os.path.join(root, name), "w").close()
        good = "`Win32/linux/Modules.cpp`, `linux/Modules.cpp`, `Win32/`, `Clock_<platform>.cpp`, `lib/quor/`, `make`\n"
        with open(os.path.join(root, "docs", "ARCHITECTURE.md"), "w") as f:
            f.write(good)
        if check(root, ["docs/ARCHITECTURE.md"]):
            sys.exit("doc-paths.sh --self-test: a map naming only existing paths was refused")
        for bad in ("`Win32/linux/Gone.cpp`", "`Gone.cpp`", "`Vcl/`", "`Modules_<platform>.cpp`"):
            with open(os.path.join(root, "docs", "ARCHITECTURE.md"), "w") as f:
                f.write(good + bad + "\n")
            if not check(root, ["docs/ARCHITECTURE.md"]):
                sys.exit(f"doc-paths.sh --self-test: a map naming {bad} was not refused")
    print("doc-paths.sh --self-test: every map with a missing path was refused")


if ARGS[:1] == ["--self-test"]:
    self_test()
    sys.exit(0)
root = os.path.dirname(os.path.dirname(os.path.abspath(SCRIPT)))
if ARGS[:1] == ["--root"]:
    root, ARGS = ARGS[1], ARGS[2:]
missing = check(root, ARGS or ["docs/ARCHITECTURE.md"])
for line in missing:
    print(line)
sys.exit(1 if missing else 0)
PYTHON
