"""Runs README's "From Python" example against the simulated service: it must print the states and the
"Connected" notice, and hang up on Ctrl-C (SIGINT) and end with 0. Arguments: README.md, a folder of its own."""

import os
import re
import signal
import subprocess
import sys

readme, folder = sys.argv[1], sys.argv[2]
os.makedirs(folder, exist_ok=True)
section = open(readme, encoding="utf-8").read().split("## From Python", 1)[1]
example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
with open(os.path.join(folder, "rasphone.pbk"), "w") as f:
    f.write("[Office]\nDEVICE=vpn\nDevice=Sim VPN\nPhoneNumber=vpn.example.org\nQuorStepDelay=0\n")
env = dict(os.environ, QUOR_RAS_PHONEBOOK=os.path.join(folder, "rasphone.pbk"),
           QUOR_RAS_CREDENTIALS=os.path.join(folder, "credentials.dat"), QUOR_RAS_STATE_DIR=os.path.join(folder, "s"))
child = subprocess.Popen([sys.executable, "-c", example, "Office"], stdout=subprocess.PIPE, text=True, env=env)
lines = []
for line in child.stdout:
    lines.append(line.rstrip("\n"))
    if line.strip() == "Connected":
        child.send_signal(signal.SIGINT)
        break
rest, _ = child.communicate(timeout=60)
lines += rest.splitlines()
print("\n".join(lines))
expect = ["Dialing Office...", "state 8192 error 0", "Connected", "hanging up"]
missing = [e for e in expect if e not in lines]
if child.returncode != 0 or missing:
    sys.exit("readme_example: exit %s, missing %s" % (child.returncode, missing))
