#!/usr/bin/env bash
# `quor --backend networkmanager` against the rig's NetworkManager (runs inside
# tests/nm/rig.sh): entries, params, dial, status, connections, hangup, a
# connection hung up by nmcli seen as lost, a caller NetworkManager refuses
# (error 5), no NetworkManager (error 711), quor monitor watching other
# processes' dials, hang-ups and losses. Waits are bounded.
#   cli_test.sh BIN_DIR
set -uo pipefail
bin=$1
failures=0
check() { # what expected actual
  if [[ "$2" == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    echo "  expected: $2"
    echo "  actual:   $3"
    failures=$((failures + 1))
  fi
}
q() { "$bin/quor" --backend networkmanager "$@"; }
# Waits up to $1 tenths of a second for the command after it to succeed.
until_ok() {
  local n=$1
  shift
  while ((n-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
listed() { [[ "$(q connections --names 2>/dev/null)" == *"$1"* ]]; }
connected() { grep -q '] Connected$' "$1"; }
not_listed() { ! listed "$1"; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

check "entries" $'Office\nOffice VPN' "$(q entries)"
echo s3cret | q params set "Office VPN" --user alice --password-stdin >/dev/null
check "params set" 0 $?
check "params get" $'entry: Office VPN\nuser: alice\npassword: set' "$(q params get "Office VPN" | head -3)"
check "params get --show-password" "password: s3cret" "$(q params get "Office VPN" --show-password | sed -n 3p)"
q params get Nowhere >/dev/null 2>&1
check "params of an unknown entry" 1 $?

# entries created and edited through the dialogs' answers, renamed and deleted
printf 'EntryName=Lab VPN\nDevice=vpn\nPhoneNumber=10.77.0.1\n' >"$out/create.txt"
QUOR_RAS_DIALOG="$out/create.txt" q entry create </dev/null >/dev/null 2>&1
check "entry create" 0 $?
check "created as an OpenVPN profile" $'vpn\norg.freedesktop.NetworkManager.openvpn' \
  "$(nmcli -g connection.type,vpn.service-type connection show "Lab VPN")"
check "its server is the phone number" "yes" \
  "$(nmcli -g vpn.data connection show "Lab VPN" | grep -q 'remote = 10.77.0.1' && echo yes || echo no)"
printf 'EntryName=Lab VPN 2\n' >"$out/edit.txt"
QUOR_RAS_DIALOG="$out/edit.txt" q entry edit "Lab VPN" </dev/null >/dev/null 2>&1
check "entry edit renames" 0 $?
q entry rename "lab vpn 2" "Lab" >/dev/null
check "entry rename" $'Lab\nOffice\nOffice VPN' "$(q entries)"
q entry delete Lab >/dev/null
check "entry delete" $'Office\nOffice VPN' "$(q entries)"

# dial, status, connections, hangup from another process
"$bin/quor" --backend networkmanager dial Office >"$out/dial1" 2>&1 &
dial=$!
until_ok 150 connected "$out/dial1"
check "connections while dialled" "Office" "$(q connections --names)"
status=$(q status Office)
check "status state" "yes" "$([[ $status == *"state: "*"(8192)"* ]] && echo yes || echo "no: $status")"
check "status device" "device: GENERIC: veth0" "$(grep '^device:' <<<"$status")"
# the byte counters grow with real traffic to the peer (its discard port)
sent() { q status Office | sed -n 's/^traffic: \([0-9]*\) bytes sent.*/\1/p'; }
sent0=$(sent)
for _ in $(seq 100); do head -c 1000 /dev/zero >/dev/udp/10.77.0.1/9; done
grown=no
for _ in $(seq 50); do
  now=$(sent)
  [[ -n $sent0 && -n $now ]] && ((now - sent0 >= 100000)) && { grown=yes; break; }
  sleep 0.2
done
check "status bytes sent grow with traffic (from '$sent0' to '$now')" yes "$grown"
q hangup Office >/dev/null
check "hangup" 0 $?
until_ok 100 bash -c "! kill -0 $dial 2>/dev/null"
wait $dial
check "dial ends when hung up elsewhere" 4 $?
check "connections after hangup" "" "$(q connections --names)"

# a connection hung up by nmcli is seen as lost
"$bin/quor" --backend networkmanager dial Office >"$out/dial2" 2>&1 &
dial=$!
until_ok 150 connected "$out/dial2"
nmcli connection down Office >/dev/null
until_ok 100 bash -c "! kill -0 $dial 2>/dev/null"
wait $dial
check "dial lost to nmcli" 4 $?
check "lost reported" "yes" "$(grep -q 'Connection to server lost.' "$out/dial2" && echo yes || echo no)"

# Ctrl-C/SIGTERM hangs up and exits 0
"$bin/quor" --backend networkmanager dial Office >"$out/dial3" 2>&1 &
dial=$!
until_ok 150 connected "$out/dial3"
kill -TERM $dial
wait $dial
check "dial stopped by SIGTERM" 0 $?
until_ok 50 not_listed Office
check "nothing listed after SIGTERM" "" "$(q connections --names)"

echo | q params set "Office VPN" --user "" --password-stdin >/dev/null

# quor monitor, which dials nothing, sees another process's dial, its hang-up
# from a third, and a line lost to its carrier, with the reason.
events() { grep -c "\"event\":\"$1\".*\"entry\":\"Office\"" "$out/monitor"; }
"$bin/quor" --backend networkmanager monitor --json >"$out/monitor" 2>&1 &
monitor=$!
"$bin/quor" --backend networkmanager dial Office >"$out/dial4" 2>&1 &
dial=$!
until_ok 150 connected "$out/dial4"
until_ok 50 bash -c "grep -q '\"event\":\"appeared\"' $out/monitor"
q hangup Office >/dev/null
until_ok 100 bash -c "! kill -0 $dial 2>/dev/null"
wait $dial
until_ok 50 bash -c "grep -q '\"event\":\"ended\"' $out/monitor"
"$bin/quor" --backend networkmanager dial Office >"$out/dial5" 2>&1 &
dial=$!
until_ok 150 connected "$out/dial5"
until_ok 50 bash -c "[[ \$(grep -c '\"event\":\"appeared\"' $out/monitor) -ge 2 ]]"
bash "$QUOR_NM_RIG_CTL" link-down
until_ok 200 bash -c "! kill -0 $dial 2>/dev/null"
wait $dial
check "monitor: the other process's line lost" 4 $?
until_ok 50 bash -c "grep -q '\"event\":\"gone\"' $out/monitor"
bash "$QUOR_NM_RIG_CTL" link-up
kill -INT $monitor
wait $monitor
check "monitor: stopped by Ctrl-C" 0 $?
check "monitor: both dials appeared" 2 "$(events appeared)"
check "monitor: the hang-up ended the first" 1 "$(events ended)"
check "monitor: the carrier's loss, with its reason (619)" 1 \
  "$(grep -c '"event":"lost".*"entry":"Office".*"error":619,' "$out/monitor")"
check "monitor: then gone" 1 "$(events gone)"
check "monitor: held nothing" "" "$(q connections --names)"
((failures)) && { echo "the monitor's output:"; cat "$out/monitor"; }

# A caller NetworkManager does not authorise (the rig's NetworkManager allows root
# only): RAS error 5 with its text, at once, and nothing changes.
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/nonexistent "$@"; }
denied=(
  "dial Office|3|dial --redial 0 Office"
  "entry delete|1|entry delete Office"
)
for row in "${denied[@]}"; do
  IFS='|' read -r what want cmd <<<"$row"
  start=$(date +%s%N)
  # shellcheck disable=SC2086
  as_nobody "$bin/quor" --backend networkmanager $cmd >"$out/denied" 2>&1
  got=$?
  took=$((($(date +%s%N) - start) / 1000000))
  check "unprivileged $what: exit" "$want" "$got"
  check "unprivileged $what: error 5, Access is denied" "yes" \
    "$(grep -q 'Access is denied' "$out/denied" && grep -qw 5 "$out/denied" && echo yes || echo no: "$(cat "$out/denied")")"
  check "unprivileged $what: answered within 5 s" "yes" "$([[ $took -lt 5000 ]] && echo yes || echo "no: $took ms")"
done
check "still listed after the refused delete" $'Office\nOffice VPN' "$(q entries)"
check "nothing dialled by the refused dial" "" "$(q connections --names)"
# A hang-up NetworkManager refuses is told as refused by both backends (rassim_helper exits 15
# when RasHangUp fails), and the line stays up.
nmcli connection up Office >/dev/null
handle=$(q status Office | sed -n 's/^handle: //p')
for backend in networkmanager networkmanager-brief; do
  as_nobody env QUOR_RAS_BACKEND=$backend "$bin/rassim_helper" hangup "$handle"
  check "unprivileged RasHangUp of another's line ($backend): refused" 15 $?
done
as_nobody "$bin/quor" --backend networkmanager hangup Office >"$out/denied" 2>&1
check "unprivileged hangup: error 5, at once" "yes" \
  "$(grep -q 'Access is denied' "$out/denied" && echo yes || echo no: "$(cat "$out/denied")")"
check "still up after the refused hang-ups" "Office" "$(q connections --names)"
nmcli connection down Office >/dev/null

# Without a system bus, and with NetworkManager stopped: RAS error 711 at once, never a hang.
start=$(date +%s%N)
DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent q entries >"$out/nobus" 2>&1
check "no system bus: RAS unavailable" 5 $?
check "no system bus: error 711" "yes" "$(grep -q 711 "$out/nobus" && echo yes || echo no)"
bash "$QUOR_NM_RIG_CTL" nm-stop
q entries >"$out/nonm" 2>&1
check "NetworkManager stopped: RAS unavailable" 5 $?
check "NetworkManager stopped: error 711" "yes" "$(grep -q 711 "$out/nonm" && echo yes || echo no)"
took=$((($(date +%s%N) - start) / 1000000))
check "both answered within 5 s" "yes" "$([[ $took -lt 5000 ]] && echo yes || echo "no: $took ms")"
if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all quor checks passed"
