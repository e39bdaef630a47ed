#!/usr/bin/env bash
# QuorDialer under Wine's X11 driver in a private Xvfb display, on a Wine
# prefix of its own, driven like a user: the entry dialogs and message boxes,
# the dial parameters, a dial of the demo scenario (busy, redial, connect,
# line lost), the keyboard alone, and a larger system font. The window's texts
# and enabled buttons are asserted at each step and each step is saved as a
# PNG.
#   screenshot_test.sh <folder of QuorDialer.exe> <screenshot folder>
# QUOR_GUI_README_IMAGE=<path> also saves the dialer's window in the connected
# step there (docs/images/quordialer-connected.png for the README).
# Needs xvfb-run, import (ImageMagick) and wine; exits 77 (skipped) without.
set -euo pipefail
bin="$(cd "$1" && pwd)"
out="$2"
for tool in xvfb-run import convert xauth; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

if [[ -z "${QUOR_GUI_IN_XVFB:-}" ]]; then
  export QUOR_GUI_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@" </dev/null
fi

# 32-bit or 64-bit program: the PE header's machine field. Debian's 64-bit
# loader and server live outside PATH; the loader is told its server.
pe=$(od -An -tu4 -j60 -N4 "$bin/QuorDialer.exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$bin/QuorDialer.exe" | tr -d ' ')
if [[ "$machine" == 8664 ]]; then
  wine=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 arch=win64
  [[ -x "$wine" ]] || wine=wine64
  [[ -x "$server" ]] || server=wineserver64
else
  wine=wine server=wineserver arch=win32
fi
command -v "$wine" >/dev/null 2>&1 || { echo "SKIP: $wine is not installed"; exit 77; }
command -v "$server" >/dev/null 2>&1 || server=wineserver
command -v "$server" >/dev/null 2>&1 || { echo "SKIP: no wineserver for $wine"; exit 77; }

work="$(mktemp -d "${TMPDIR:-/tmp}/quor-gui.XXXXXX")"
# No Mono or Gecko installer may pop up on the fresh prefix.
export WINEPREFIX="$work/prefix" WINEARCH=$arch WINEDEBUG=-all WINESERVER="$server"
export WINEDLLOVERRIDES="rasapi32=n;mscoree=;mshtml="
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
if grep -qi '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
  echo "FAIL: the prefix uses the null graphics driver, which draws nothing"
  exit 1
fi
# No window manager runs on the private display: Wine draws the frames itself
# and keeps a minimised window off the screen, as Windows without a taskbar
# button would. Left to a window manager that is not there, the minimised
# "Connected to" window of the RAS service stays on the screen undrawn, a
# black rectangle over the dialer.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$server" -w
"$server" -p </dev/null >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true

# The simulated RAS service: one entry whose first attempt meets a busy line,
# whose redial connects with the user name and password saved below, moves
# 2000 bytes a second out and 5000 in, and whose line drops 25 s later,
# disconnected by the remote machine. The entry dialogs take their answers from a
# file the steps write.
printf '%s\r\n' "[Office]" "PhoneNumber=555-0100" "DEVICE=modem" "QuorStepDelay=150" "QuorOutcome=busy" \
  "QuorFailFirst=1" "QuorDropAfter=25s" "QuorTeardown=200" "QuorRequireUser=alice" "QuorRequirePassword=s3cret" \
  "QuorIpAddress=10.64.0.17" "QuorSendRate=2000" "QuorReceiveRate=5000" "QuorDropReason=remote" >"$work/rasphone.pbk"
winpath() { echo "Z:${1//\//\\}"; }
export QUOR_RAS_PHONEBOOK="$(winpath "$work/rasphone.pbk")" QUOR_RAS_CREDENTIALS="$(winpath "$work/credentials.dat")"
export QUOR_RAS_STATE_DIR="$(winpath "$work/state")" QUOR_RAS_SCENARIO= QUOR_RAS_DIALOG="$(winpath "$work/answers")"
answers() { printf '%s\r\n' "$@" >"$work/answers"; }

start_dialer() {
  "$wine" "$bin/QuorDialer.exe" </dev/null >>"$work/dialer.log" 2>&1 &
  dialer_pid=$!
}
drive() { "$wine" "$bin/QuorDialerDriver.exe" "$@" </dev/null; }
shot() {
  drive redraw status
  sleep 0.5 # let the window repaint
  import -window root "$out/$1.png"
  echo "   saved $out/$1.png"
}
all_buttons() { for b in new edit rename delete get save dial; do echo "$b=$1"; done; }

start_dialer
echo "== 1: started, the phonebook listed, laid out in the system font"
drive wait entries $'=Office\n' 30000 \; wait status "=Ready" 5000 \; enabled $(all_buttons 1) hangup=0 \; layout
small=$(drive geometry)
shot 1-ready

echo "== 2: entries created, edited, renamed and deleted through RAS's dialogs and the message boxes"
answers "EntryName=Branch" "PhoneNumber=555-0400" "Device=modem"
drive click new \; wait entries $'=Office\nBranch\n' 5000 \; wait log "Entry Branch created" 2000
answers "EntryName=Branch 2" "PhoneNumber=555-0401"
drive click edit \; wait entries $'=Office\nBranch 2\n' 5000 \; wait log "Entry Branch 2 saved" 2000
drive click rename \; box "Type the new name of the entry first." ok
drive type newname Office \; click rename \; box 'The entry "Branch 2" could not be renamed to "Office".' ok
drive type newname Home \; click rename \; wait entries $'=Office\nHome\n' 5000 \; wait newname "=" 1000
drive click delete \; box 'Delete the entry "Home"?' -
shot 2-delete-asked
drive box 'Delete the entry "Home"?' yes \; wait entries $'=Office\n' 5000 \; wait log "Entry Home deleted" 2000

echo "== 3: dial parameters saved and read back, the password masked"
drive type user alice \; type password s3cret \; click save \; wait log "Parameters of Office saved" 5000 \; \
  type user "" \; type password "" \; click get \; wait user "=alice" 5000 \; masked password 6

echo "== 4: dial: the line is busy and the redial is counted down"
drive type attempts 2 \; type pause 20 \; click dial \; enabled $(all_buttons 0) hangup=1 \; \
  wait log "Dialing Office..." 5000 \; wait log "ERROR: " 10000 \; wait status "Retrying in " 10000 \; \
  enabled $(all_buttons 0) hangup=1
shot 3-redial
drive wait status "=Retrying in 1 second..." 25000

echo "== 5: the redial connects: time connected, IP address, bytes and rates each way in the status bar"
drive wait status "Connected to Office for 00:00:0" 20000 \; wait status ", IP address 10.64.0.17" 1000 \; \
  wait connections "Office" 5000 \; enabled $(all_buttons 0) hangup=1 \; \
  wait status "Connected to Office for 00:00:1" 15000 \; wait status " KB at " 3000 \; \
  wait status "; sent " 1000 \; wait status " KB/s, received " 1000
shot 4-connected
if [[ -n "${QUOR_GUI_README_IMAGE:-}" ]]; then
  convert "$out/4-connected.png" -crop "$(drive geometry)" +repage "$QUOR_GUI_README_IMAGE"
fi

echo "== 6: the line is lost, and why"
drive wait log "Connection to server lost." 30000 \; wait log "Reason: RAS error 629: " 5000 \; wait status "=Disconnected: Connection to server lost." 5000 \; \
  enabled $(all_buttons 1) hangup=0
shot 5-line-lost

# The connection window takes the activation and is minimised; the focus comes back to the control that had it.
# A control disabled while it has the focus hands it to the button that applies (Dial, Hang up), which becomes
# the default button.
echo "== 7: keyboard only: the tab order; dialled by Enter (the default button), hung up by mnemonic; and the reverse"
drive keys Alt+E =entries Tab =new Tab =edit Tab =newname Tab =rename Tab =delete Tab =user Tab =password \
  Tab =attempts Tab =pause Tab =get Tab =save Tab =dial Tab =log Tab =connections Tab =entries \; \
  keys Alt+U =user Alt+A =attempts Alt+E =entries Home Enter \; wait status "Connected to Office for " 20000 \; \
  enabled $(all_buttons 0) hangup=1 \; keys =entries Alt+H \; wait status "=Hung up" 10000 \; \
  enabled $(all_buttons 1) hangup=0 \; keys =dial Alt+D =hangup \; wait status "Connected to Office for " 20000 \; \
  keys =hangup Enter =dial \; wait status "=Hung up" 10000 \; enabled $(all_buttons 1) hangup=0
shot 6-keyboard-hung-up

echo "== 8: the system's message font at 150%: the window grows and every text still fits"
drive close
wait "$dialer_pid" || true
dialer_pid=
drive font 150
start_dialer
drive wait entries $'=Office\n' 30000 \; layout
large=$(drive geometry)
echo "   window $small in the normal font, $large in the large one"
if ((${large%%x*} <= ${small%%x*})); then
  echo "FAIL: the window did not grow with the font"
  exit 1
fi
shot 7-large-font
echo "== QuorDialer screenshots: all steps passed ($out)"
