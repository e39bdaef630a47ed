#!/usr/bin/env python3
"""Checks quor's --json output against the schema in docs/quor-json.md.

Runs the built quor against a private phonebook, scenario and state folder of
the simulated RAS service, takes every line each run prints on standard
output, and checks that each is a JSON object the document's schema describes
(members, their order and types). Every object the schema lists must be
printed by some run. Usage: json_schema_test.py QUOR DOC
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

QUOR, DOC = sys.argv[1], sys.argv[2]
FAST = "[*]\nStepDelay=10ms\nErrorDelay=10ms\nTeardown=50ms\n"


def load_schema(path):
    text = open(path, encoding="utf-8").read()
    found = re.search(r"```quor-json-schema\n(.*?)```", text, re.S)
    if not found:
        sys.exit(f"{path}: no quor-json-schema block")
    return json.loads(found.group(1))


SCHEMA = load_schema(DOC)
PARTS = SCHEMA["parts"]


def members_of(spec):
    return PARTS[spec] if isinstance(spec, str) else spec


def type_ok(value, kind):
    """Whether value has the schema type kind; a reason when it has not."""
    if kind.startswith("="):
        return isinstance(value, str) and value in kind[1:].split("|")
    if kind.startswith("[") and kind.endswith("]"):
        return isinstance(value, list) and all(type_ok(v, kind[1:-1]) is True for v in value)
    if kind.startswith("object:"):
        return isinstance(value, dict) and match(value, PARTS[kind[len("object:"):]]) is None
    for alternative in kind.split("|"):
        if (alternative == "string" and isinstance(value, str)) or (alternative == "null" and value is None) or \
           (alternative == "boolean" and isinstance(value, bool)) or \
           (alternative == "integer" and isinstance(value, int) and not isinstance(value, bool)) or \
           (alternative == "number" and isinstance(value, (int, float)) and not isinstance(value, bool)):
            return True
    return False


def match(obj, members):
    """None when obj is an object of these members, else why not."""
    names = [m.rstrip("?") for m in members]
    for member, kind in members.items():
        name = member.rstrip("?")
        if name not in obj:
            if not member.endswith("?"):
                return f"no member {name}"
            continue
        if type_ok(obj[name], kind) is not True:
            return f"{name}: {obj[name]!r} is not {kind}"
    extra = [k for k in obj if k not in names]
    if extra:
        return f"members the schema does not list: {extra}"
    order = [n for n in names if n in obj]
    if order != list(obj):
        return f"members out of order: {list(obj)}, expected {order}"
    return None


SEEN = set()
FAILURES = []


def check_output(what, out):
    for line in out.splitlines():
        try:
            obj = json.loads(line, object_pairs_hook=dict)
        except ValueError as e:
            FAILURES.append(f"{what}: not JSON ({e}): {line}")
            continue
        reasons = {}
        for name, spec in SCHEMA["objects"].items():
            why = match(obj, members_of(spec)) if isinstance(obj, dict) else "not an object"
            if why is None:
                SEEN.add(name)
                break
            reasons[name] = why
        else:
            FAILURES.append(f"{what}: no object of the schema: {line}\n  " +
                            "\n  ".join(f"{k}: {v}" for k, v in reasons.items()))


class Sandbox:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="quor-json-schema-")
        os.makedirs(os.path.join(self.dir, "state"))
        os.makedirs(os.path.join(self.dir, "home", "run"))
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("QUOR_")}
        self.env.update({
            "QUOR_RAS_PHONEBOOK": self.path("rasphone.pbk"), "QUOR_RAS_CREDENTIALS": self.path("credentials.dat"),
            "QUOR_RAS_STATE_DIR": self.path("state"), "QUOR_RAS_SCENARIO": self.path("scenario.ini"),
            "HOME": self.path("home"), "XDG_CONFIG_HOME": self.path("home", ".config"),
            "XDG_RUNTIME_DIR": self.path("home", "run"), "TMPDIR": self.dir})

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as f:
            f.write(text)

    def run(self, *args, env=None, code=None):
        r = subprocess.run([QUOR, *args, "--json"], env={**self.env, **(env or {})}, capture_output=True,
                           text=True, timeout=60)
        if code is not None and r.returncode != code:
            FAILURES.append(f"{' '.join(args)}: exit {r.returncode}, expected {code}\n{r.stderr}")
        check_output(" ".join(args), r.stdout)
        return r

    def start(self, name, *args):
        out = open(self.path(name + ".out"), "w")
        return subprocess.Popen([QUOR, *args, "--json"], env=self.env, stdout=out, stderr=subprocess.DEVNULL)

    def wait_for(self, name, text, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in open(self.path(name + ".out"), encoding="utf-8").read():
                return True
            time.sleep(0.02)
        FAILURES.append(f"{name}: no {text!r} within {seconds} s")
        return False

    def finish(self, name, process, code):
        try:
            got = process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            got = process.wait()
        if got != code:
            FAILURES.append(f"{name}: exit {got}, expected {code}")
        check_output(name, open(self.path(name + ".out"), encoding="utf-8").read())


def main():
    box = Sandbox()
    try:
        box.write("rasphone.pbk", "[Office]\nPhoneNumber=1\n[Home]\nPhoneNumber=2\nDEVICE=vpn\n[Busy]\nPhoneNumber=3\n"
                  "[Spare]\nPhoneNumber=4\n")
        box.write("scenario.ini", FAST + "[Busy]\nOutcome=busy\n[Home]\nDropAfter=300ms\n")
        # Dials: every attempt failing, a lost line with wall-clock times.
        box.run("dial", "Busy", "--redial", "1", "--pause", "0", "--fast-hangup", code=3)
        box.run("dial", "Home", "--timestamps", "--fast-hangup", code=4)
        # A connection watched, listed and hung up from other processes.
        # Watched by a monitor from the start, with a statistics line every second.
        monitor = box.start("monitor", "monitor")
        office = box.start("office", "dial", "Office", "--stats", "1")
        if box.wait_for("office", '"event":"connect"'):
            box.wait_for("office", '"event":"statistics"')
            box.wait_for("monitor", '"event":"appeared"')
            attached = box.start("attached", "dial", "Office", "--attach")
            box.run("connections", code=0)
            box.run("connections", "--names", code=0)
            box.run("status", "Office", code=0)
            paused = box.start("paused", "dial", "Busy", "--redial", "3", "--pause", "30")
            box.wait_for("paused", "Retrying in 30 seconds...")
            box.run("hangup", "Busy", code=0)
            box.finish("paused", paused, 0)
            box.run("hangup", "Office", code=0)
            box.finish("attached", attached, 4)
        box.finish("office", office, 4)
        box.wait_for("monitor", '"event":"ended"')
        monitor.send_signal(signal.SIGINT)
        box.finish("monitor", monitor, 0)
        box.run("hangup", "--all", code=0)
        # The phonebook and the stored parameters.
        box.run("entries", code=0)
        box.run("entry", "show", "Office", code=0)
        box.run("entry", "create", "--name", "Branch", "--phone", "5", code=0)
        box.run("entry", "edit", "Branch", "--phone", "6", code=0)
        box.write("answers.txt", "EntryName=Branch2\n")
        box.run("entry", "edit", "Branch", env={"QUOR_RAS_DIALOG": box.path("answers.txt")}, code=0)
        box.run("entry", "rename", "Branch2", "Branch3", code=0)
        box.run("entry", "delete", "Branch3", code=0)
        box.run("params", "set", "Spare", "--user", "u", code=0)
        box.run("params", "get", "Spare", code=0)
        box.run("sim", "reset", code=0)
        box.run("entry", "rename", "Spare", "office", code=1)
        box.run("--version", code=0)
        box.run("demo", code=0)
    finally:
        shutil.rmtree(box.dir, ignore_errors=True)
    for name in SCHEMA["objects"]:
        if name not in SEEN:
            FAILURES.append(f"no run printed the documented object {name}")
    for failure in FAILURES:
        print(failure)
    print(f"{len(SEEN)} of {len(SCHEMA['objects'])} documented objects seen, {len(FAILURES)} failures")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
