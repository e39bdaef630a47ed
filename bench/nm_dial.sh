#!/usr/bin/env bash
# `quor dial Office` from process start to its "Connected" line beside
# `nmcli connection up Office`, and `quor hangup Office` beside
# `nmcli connection down Office`, in turn, ROUNDS times each (default 7), with
# the medians. Beside them the fixed part of each tool's run: `quor connections`
# and `nmcli connection show --active` (process start, library loads, the
# client's start and its first fetch of NetworkManager's objects), and below
# that the start of each program alone (`quor help`, `nmcli --version`, which
# loads libnm but starts no client): the breakdown of the dial's time is the
# differences of these medians. (quor loads its RAS library only with its
# first RAS call, which starts the client too, so those two are one stage.) Runs inside the NetworkManager rig (tests/nm/rig.sh), real clock:
#   tests/nm/rig.sh run bash bench/nm_dial.sh build/release/bin [ROUNDS]
# or from .ci/nm.sh with QUOR_NM_BENCH=1.
set -uo pipefail
bin=$1
rounds=${2:-7}
# The time in microseconds into the variable named, without a subshell or a
# program of its own, so that the timing adds next to nothing to either tool.
stamp() { printf -v "$1" '%s' "${EPOCHREALTIME/./}"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() {
  echo "nm_dial: $*" >&2
  exit 1
}

for ((i = 0; i < rounds; ++i)); do
  # quor: the time until the "Connected" line is read from its output.
  stamp start
  coproc DIAL { exec "$bin/quor" --backend networkmanager dial Office 2>&1; }
  seen=0
  while IFS= read -r -t 30 line <&"${DIAL[0]}"; do
    if [[ $line == *"] Connected" ]]; then
      seen=1
      break
    fi
  done
  stamp end
  ((seen)) || fail "quor dial did not report Connected"
  echo $((end - start)) >>"$out/quor_up"
  stamp start
  "$bin/quor" --backend networkmanager hangup Office >/dev/null || fail "quor hangup failed"
  stamp end
  echo $((end - start)) >>"$out/quor_down"
  wait "$DIAL_PID" 2>/dev/null

  stamp start
  nmcli connection up Office >/dev/null || fail "nmcli connection up failed"
  stamp end
  echo $((end - start)) >>"$out/nmcli_up"
  stamp start
  nmcli connection down Office >/dev/null || fail "nmcli connection down failed"
  stamp end
  echo $((end - start)) >>"$out/nmcli_down"

  stamp start
  "$bin/quor" --backend networkmanager connections >/dev/null || fail "quor connections failed"
  stamp end
  echo $((end - start)) >>"$out/quor_start"
  stamp start
  nmcli connection show --active >/dev/null || fail "nmcli connection show failed"
  stamp end
  echo $((end - start)) >>"$out/nmcli_start"

  stamp start
  "$bin/quor" help >/dev/null || fail "quor help failed"
  stamp end
  echo $((end - start)) >>"$out/quor_exec"
  stamp start
  nmcli --version >/dev/null || fail "nmcli --version failed"
  stamp end
  echo $((end - start)) >>"$out/nmcli_exec"
done

for f in quor_up nmcli_up quor_down nmcli_down quor_start nmcli_start quor_exec nmcli_exec; do
  printf '%-10s median %6.1f ms  (%s ms)\n' "$f" "$(median <"$out/$f" | awk '{ print $1 / 1000 }')" \
    "$(awk '{ printf "%s%.1f", (NR > 1 ? " " : ""), $1 / 1000 }' "$out/$f")"
done

# The breakdown: where each tool's dial time goes, from the medians above.
m() { median <"$out/$1" | awk '{ print $1 / 1000 }'; }
awk -v qe="$(m quor_exec)" -v qs="$(m quor_start)" -v qu="$(m quor_up)" \
  -v ne="$(m nmcli_exec)" -v ns="$(m nmcli_start)" -v nu="$(m nmcli_up)" 'BEGIN {
  printf "breakdown (ms)                         quor   nmcli\n"
  printf "  program start                        %6.1f  %6.1f\n", qe, ne
  printf "  RAS library, client start and fetch  %6.1f  %6.1f\n", qs - qe, ns - ne
  printf "  activation and the event path        %6.1f  %6.1f\n", qu - qs, nu - ns
}'
