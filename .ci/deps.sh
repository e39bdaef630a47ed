#!/usr/bin/env bash
# The dependency rules of the tree, read from its #include lines:
#   - layers never include upward: tools/, bench/, examples/ -> TQuor30/ -> TQuorComponent/ -> Ras2/ -> Vcl/ ->
#     Win32/ (Ras2 uses Vcl's strings; Vcl never includes Ras2);
#   - RasSim/ is loaded at run time: no layer includes it (the tools may include its control interface, a
#     "contract" header of cmake/PublicHeaders.txt), and it includes only Win32/ and the RAS contract of Ras2/
#     (RasContract.h, RasConnPhonebook.h, RasOptionalContract.h and the two function lists), never the loader Ras2.h;
#   - inside RasSim/: edge/ never includes backends/; common/ includes neither edge/ nor backends/; no backend
#     includes another; a backend includes of RasSim/ only its own folder, common/ and the seam (edge/Backend.h
#     and the operations list edge/BackendOps.def), nothing else of the edge nor the library's face in RasSim/
#     itself (each rule applies once its folder exists);
#   - tools/, bench/ and examples/ include only the public headers listed in cmake/PublicHeaders.txt.
# Usage: .ci/deps.sh [--root DIR]   check the tree (default: this checkout)
#        .ci/deps.sh --self-test    build small trees, each with one violation, and check each is refused
# Exit status 0: no violation; 1: violations (each printed as "file:line: includes X: rule").
set -euo pipefail
exec python3 - "$0" "$@" <<'PYTHON'
import os
import re
import subprocess
import sys
import tempfile

SCRIPT = sys.argv[1]
ARGS = sys.argv[2:]

LAYERS = {"Win32": 0, "Vcl": 1, "Ras2": 2, "TQuorComponent": 3, "TQuor30": 4, "tools": 5, "bench": 5, "examples": 5}
PRODUCT = ("Win32", "Vcl", "Ras2", "TQuorComponent", "TQuor30", "RasSim")
PUBLIC_ONLY = ("tools", "bench", "examples")
SEAM = {"RasSim/edge/Backend.h", "RasSim/edge/BackendOps.def"}
RAS_CONTRACT = {"Ras2/RasContract.h", "Ras2/RasLayout.h", "Ras2/RasLayoutFields.def", "Ras2/RasConnPhonebook.h",
                "Ras2/RasOptionalContract.h", "Ras2/RasFunctions.def", "Ras2/RasOptionalFunctions.def"}
SOURCE = re.compile(r"\.(h|hpp|c|cc|cpp|def|inc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

# Includes that break a rule on purpose: (file prefix, include prefix, why). The benchmarks of the RAS library's
# internals measure its libraries from inside (they link them), as its own tests do.
WAIVERS = [
    ("bench/RasSimBench.cpp", "RasSim/", "measures the simulated service's stores in its core library"),
    ("bench/NmLatency.cpp", "RasSim/backends/networkmanager/", "measures the NetworkManager backend alone"),
]


def public_headers(root):
    listed = {}
    path = os.path.join(root, "cmake", "PublicHeaders.txt")
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].split()
            if not line:
                continue
            if len(line) != 2 or line[1] not in ("installed", "contract"):
                sys.exit(f"deps.sh: {path}:{number}: expected '<header> installed|contract'")
            if not os.path.isfile(os.path.join(root, line[0])):
                sys.exit(f"deps.sh: {path}:{number}: {line[0]} does not exist")
            listed[line[0]] = line[1]
    return listed


def sources(root):
    for top in PRODUCT + PUBLIC_ONLY:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if SOURCE.search(name):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def resolve(root, source, target):
    """The include's path from the root: rooted when its first folder is a top folder, else beside the source."""
    first = target.split("/", 1)[0]
    if first in LAYERS or first in PRODUCT or first == "tests":
        return target
    beside = os.path.normpath(os.path.join(os.path.dirname(source), target)).replace(os.sep, "/")
    return beside if os.path.exists(os.path.join(root, beside)) else target


def under(path, folder):
    return path.startswith(folder + "/")


def backend_of(path):
    parts = path.split("/")
    return parts[2] if len(parts) > 3 and parts[:2] == ["RasSim", "backends"] else None


def violation(source, target, public):
    """The rule that source including target breaks, or None."""
    rule = layer_violation(source, target, public)
    if rule is None and public.get(source) == "installed" and target.split("/", 1)[0] in PRODUCT \
            and public.get(target) != "installed":
        return "an installed header includes only installed headers (cmake/PublicHeaders.txt)"
    return rule


def layer_violation(source, target, public):
    src_top, dst_top = source.split("/", 1)[0], target.split("/", 1)[0]
    if dst_top not in PRODUCT and dst_top not in LAYERS:
        return None  # system, generated or test headers
    if src_top == "RasSim":
        if dst_top == "RasSim":
            if under(source, "RasSim/edge") and under(target, "RasSim/backends"):
                return "RasSim/edge never includes a backend"
            if under(source, "RasSim/common") and (under(target, "RasSim/edge") or under(target, "RasSim/backends")):
                return "RasSim/common includes neither the edge nor a backend"
            if backend_of(source) and backend_of(target) and backend_of(source) != backend_of(target):
                return "no backend includes another"
            if backend_of(source) and not (backend_of(target) or under(target, "RasSim/common") or target in SEAM):
                return "a backend includes of RasSim/ only common/ and the seam (edge/Backend.h, BackendOps.def)"
            return None
        if dst_top == "Win32" or target in RAS_CONTRACT:
            return None
        return "RasSim includes only Win32/ and the RAS contract of Ras2/, never the loader or a layer above"
    if src_top in PUBLIC_ONLY and dst_top != src_top and target not in public:
        return "tools/, bench/ and examples/ include only the public headers of cmake/PublicHeaders.txt"
    if dst_top == "RasSim":
        if src_top in PUBLIC_ONLY:
            return None  # a contract header, listed
        return "RasSim is loaded at run time: no layer includes it"
    if dst_top in LAYERS and src_top in LAYERS and LAYERS[dst_top] > LAYERS[src_top]:
        return f"layers never include upward ({src_top} is below {dst_top})"
    return None


def check(root):
    public = public_headers(root)
    faults, used = [], set()
    for source in sources(root):
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(root, source, match.group(1))
                rule = violation(source, target, public)
                if rule is None:
                    continue
                waiver = next((w for w in WAIVERS if source.startswith(w[0]) and target.startswith(w[1])), None)
                if waiver:
                    used.add(waiver)
                    continue
                faults.append(f"{source}:{number}: includes {target}: {rule}")
    for waiver in WAIVERS:
        if waiver not in used and os.path.exists(os.path.join(root, waiver[0])):
            print(f"deps.sh: note: the waiver for {waiver[0]} -> {waiver[1]} matches nothing now; remove it")
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"deps.sh: FAILED: {len(faults)} include(s) break the dependency rules (above)", file=sys.stderr)
        return 1
    return 0


# --self-test: one tree a case; every case starts from a clean tree (which must pass) and adds one include.
CLEAN = {
    "cmake/PublicHeaders.txt": "Win32/Win32.h installed\nVcl/Vcl.h installed\nRasSim/RasSimControl.h contract\n",
    "Win32/Win32.h": "#pragma once\n",
    "Win32/Private.h": '#include "Win32/Win32.h"\n',
    "Vcl/Vcl.h": '#include "Win32/Win32.h"\n',
    "Ras2/RasContract.h": '#include "Win32/Win32.h"\n',
    "Ras2/Ras2.h": '#include "Ras2/RasContract.h"\n#include "Vcl/Vcl.h"\n',
    "TQuorComponent/TQuor.h": '#include "Ras2/Ras2.h"\n',
    "RasSim/RasSimControl.h": '#include "Win32/Win32.h"\n',
    "RasSim/common/Store.h": '#include "Ras2/RasContract.h"\n',
    "RasSim/edge/Backend.h": '#include "Ras2/RasContract.h"\n',
    "RasSim/edge/BackendOps.def": "\n",
    "RasSim/edge/Edge.h": '#include "RasSim/common/Store.h"\n#include "RasSim/edge/Backend.h"\n',
    "RasSim/backends/sim/Sim.h": '#include "RasSim/edge/Backend.h"\n#include "Win32/Win32.h"\n',
    "RasSim/backends/nm/Nm.h": '#include "RasSim/common/Store.h"\n#include "RasSim/edge/Backend.h"\n'
                               '#include "RasSim/edge/BackendOps.def"\n#include "RasSim/backends/nm/NmOwn.h"\n',
    "RasSim/backends/nm/NmOwn.h": "#pragma once\n",
    "tools/quor/Own.h": "#pragma once\n",
    "tools/quor/Main.cpp": '#include "Own.h"\n#include "Vcl/Vcl.h"\n#include "RasSim/RasSimControl.h"\n',
}
CASES = [  # (file, include, the rule's words in the failure)
    ("Win32/Win32.h", "Vcl/Vcl.h", "never include upward"),
    ("Vcl/Vcl.h", "Ras2/Ras2.h", "never include upward"),
    ("Ras2/Ras2.h", "TQuorComponent/TQuor.h", "never include upward"),
    ("TQuorComponent/TQuor.h", "tools/quor/Own.h", "never include upward"),
    ("TQuorComponent/TQuor.h", "RasSim/RasSimControl.h", "loaded at run time"),
    ("RasSim/common/Store.h", "Ras2/Ras2.h", "never the loader"),
    ("RasSim/common/Store.h", "RasSim/edge/Edge.h", "RasSim/common includes neither"),
    ("RasSim/common/Store.h", "RasSim/backends/sim/Sim.h", "RasSim/common includes neither"),
    ("RasSim/edge/Edge.h", "RasSim/backends/sim/Sim.h", "RasSim/edge never includes a backend"),
    ("RasSim/backends/nm/Nm.h", "RasSim/backends/sim/Sim.h", "no backend includes another"),
    ("RasSim/backends/nm/Nm.h", "Ras2/Ras2.h", "never the loader"),
    ("RasSim/backends/nm/Nm.h", "RasSim/edge/Edge.h", "only common/ and the seam"),
    ("RasSim/backends/sim/Sim.h", "RasSim/RasSimControl.h", "only common/ and the seam"),
    ("tools/quor/Main.cpp", "Win32/Private.h", "only the public headers"),
    ("Vcl/Vcl.h", "Win32/Private.h", "only installed headers"),
    ("tools/quor/Main.cpp", "RasSim/edge/Edge.h", "only the public headers"),
]


def write_tree(root, extra=None):
    for path, text in CLEAN.items():
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        with open(os.path.join(root, path), "w", encoding="utf-8") as f:
            f.write(text + (f'#include "{extra[1]}"\n' if extra and extra[0] == path else ""))


def run(root):
    return subprocess.run(["bash", SCRIPT, "--root", root], capture_output=True, text=True)


def self_test():
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        clean = os.path.join(work, "clean")
        write_tree(clean)
        result = run(clean)
        if result.returncode != 0:
            print(f"self-test: the clean tree was refused:\n{result.stderr}", file=sys.stderr)
            failed += 1
        for number, (path, target, words) in enumerate(CASES):
            root = os.path.join(work, f"case{number}")
            write_tree(root, (path, target))
            result = run(root)
            expected = f"{path}:"
            if result.returncode != 1 or expected not in result.stderr or words not in result.stderr:
                print(f"self-test: {path} including {target} was not refused with '{words}' "
                      f"(exit {result.returncode}):\n{result.stderr}", file=sys.stderr)
                failed += 1
    print(f"deps.sh self-test: {len(CASES) + 1 - failed} of {len(CASES) + 1} trees judged right")
    return 1 if failed else 0


if ARGS == ["--self-test"]:
    sys.exit(self_test())
if len(ARGS) == 2 and ARGS[0] == "--root":
    sys.exit(check(ARGS[1]))
if not ARGS:
    sys.exit(check(os.path.dirname(os.path.dirname(os.path.abspath(SCRIPT)))))
sys.exit("usage: deps.sh [--root DIR | --self-test]")
PYTHON
