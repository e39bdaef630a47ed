#!/usr/bin/env bash
# QuorDialer under Wine's X11 driver in a private Xvfb display, on a Wine
# prefix of its own: a dial of the demo scenario (busy, redial, connect, line
# lost) driven like a user, the window's texts asserted at each step and each
# step saved as a PNG.
#   screenshot_test.sh <folder of QuorDialer.exe> <screenshot folder>
# QUOR_GUI_README_IMAGE=<path> also copies the connected step there
# (docs/images/quordialer-connected.png for the README).
# Needs xvfb-run, import (ImageMagick) and wine; exits 77 (skipped) without.
set -euo pipefail
bin="$(cd "$1" && pwd)"
out="$2"
for tool in xvfb-run import xauth; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

if [[ -z "${QUOR_GUI_IN_XVFB:-}" ]]; then
  export QUOR_GUI_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x640x24" bash "$0" "$@" </dev/null
fi

# 32-bit or 64-bit program: the PE header's machine field.
pe=$(od -An -tu4 -j60 -N4 "$bin/QuorDialer.exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$bin/QuorDialer.exe" | tr -d ' ')
if [[ "$machine" == 8664 ]]; then
  wine=/usr/lib/wine/wine64 server=wineserver64 arch=win64
  [[ -x "$wine" ]] || wine=wine64
else
  wine=wine server=wineserver arch=win32
fi
command -v "$wine" >/dev/null 2>&1 || { echo "SKIP: $wine is not installed"; exit 77; }
command -v "$server" >/dev/null 2>&1 || server=wineserver

work="$(mktemp -d "${TMPDIR:-/tmp}/quor-gui.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES=rasapi32=n
dialer_pid=
cleanup() {
  [[ -n "$dialer_pid" ]] && kill "$dialer_pid" 2>/dev/null || true
  "$server" -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$WINEPREFIX"
rm -f "$out"/*.png

echo "== Wine prefix with the X11 driver ($arch) on display $DISPLAY"
"$wine" wineboot -i </dev/null >/dev/null 2>&1
"$server" -w
"$server" -p </dev/null >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true

# The simulated RAS service: one entry whose first attempt meets a busy line,
# whose redial connects, and whose line drops 15 s later.
printf '%s\r\n' "[Office]" "PhoneNumber=555-0100" "DEVICE=modem" "QuorStepDelay=150" "QuorOutcome=busy" \
  "QuorFailFirst=1" "QuorDropAfter=15s" "QuorTeardown=200" >"$work/rasphone.pbk"
winpath() { echo "Z:${1//\//\\}"; }
export QUOR_RAS_PHONEBOOK="$(winpath "$work/rasphone.pbk")" QUOR_RAS_CREDENTIALS="$(winpath "$work/credentials.dat")"
export QUOR_RAS_STATE_DIR="$(winpath "$work/state")" QUOR_RAS_SCENARIO=

"$wine" "$bin/QuorDialer.exe" </dev/null >"$work/dialer.log" 2>&1 &
dialer_pid=$!

drive() { "$wine" "$bin/QuorDialerDriver.exe" "$@" </dev/null; }
shot() {
  drive redraw status
  sleep 0.5  # let the window repaint
  import -window root "$out/$1.png"
  echo "   saved $out/$1.png"
}

echo "== 1: started, the phonebook listed"
drive wait entries "Office" 30000
drive wait status "Ready" 5000
drive wait hangup "[disabled]" 2000
shot 1-ready

echo "== 2: dial; the line is busy and a redial is counted down"
drive type attempts 2
drive type pause 8
drive click dial
drive wait log "Dialing Office..." 5000
drive wait log "ERROR: " 10000
drive wait status "Retrying in " 10000
drive wait dial "[disabled]" 1000
shot 2-redial

echo "== 3: the redial connects"
drive wait status "Connected to Office for 00:00:0" 20000
drive wait connections "Office" 5000
drive wait hangup "Hang up" 1000
shot 3-connected
if [[ -n "${QUOR_GUI_README_IMAGE:-}" ]]; then cp "$out/3-connected.png" "$QUOR_GUI_README_IMAGE"; fi

echo "== 4: the line is lost"
drive wait log "Connection to server lost." 20000
drive wait status "Disconnected: Connection to server lost." 5000
drive wait hangup "[disabled]" 5000
shot 4-line-lost

echo "== 5: keyboard only: Enter in the list presses the default button (Dial), then hang up"
drive key entries 13
drive wait dial "[disabled]" 5000
drive click hangup
drive wait status "Hung up" 10000
drive wait dial "&Dial" 1000
shot 5-keyboard-hung-up
echo "== QuorDialer screenshots: all steps passed ($out)"
