#!/usr/bin/env bash
# Installs bindings/python with pip (offline: no build isolation, no index)
# into a fresh venv (--system-site-packages, for Debian's setuptools) or, when
# venv is missing, a --target folder; then, from another folder, imports it
# and dials Office of a private phonebook of the simulated service. The
# library is found as the caller's environment says (QUOR_LIBRARY, or an
# installed Quor on the loader's path).
# Usage: install_test.sh PYTHON PACKAGE_DIR WORK_DIR
set -euo pipefail
python=$1
package=$2
work=$3
rm -rf "$work"
mkdir -p "$work/src" "$work/run"
cp -r "$package/pyproject.toml" "$package/README.md" "$package/quor" "$work/src/"
pip_flags=(--no-build-isolation --no-index --quiet --disable-pip-version-check --no-warn-script-location)
if "$python" -m venv --system-site-packages "$work/venv" 2>/dev/null; then
  "$work/venv/bin/python" -m pip install "${pip_flags[@]}" "$work/src"
  run=("$work/venv/bin/python")
else
  "$python" -m pip install "${pip_flags[@]}" --target "$work/site" "$work/src"
  run=(env "PYTHONPATH=$work/site" "$python")
fi
printf '[Office]\nDEVICE=vpn\nDevice=Sim VPN\nPhoneNumber=vpn.example.org\nQuorStepDelay=0\n' >"$work/rasphone.pbk"
cd "$work/run"
QUOR_RAS_PHONEBOOK="$work/rasphone.pbk" QUOR_RAS_CREDENTIALS="$work/credentials.dat" QUOR_RAS_STATE_DIR="$work/state" \
  "${run[@]}" -c '
import os, sys, quor
assert not os.path.dirname(quor.__file__).startswith(sys.argv[1]), quor.__file__
seen = []
with quor.Dialer("Office") as d:
    d.on_connect = lambda: seen.append("connect")
    d.connect()
    quor.virtual_clock(True)
    for _ in range(300):
        if seen: break
        quor.run(0.1)
    assert seen == ["connect"] and d.status.connected, seen
print("installed quor %s from %s dialled Office" % (quor.version(), os.path.dirname(quor.__file__)))
' "$package"
