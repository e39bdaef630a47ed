#!/usr/bin/env bash
# cmake/wine-start.sh against stand-in loaders (no Wine needed): only a
# program that ended silently with a failing status is started once more,
# each restart is noted, and status, streams and input pass through.
# Usage: wine_start_test.sh <path of wine-start.sh>
set -u
start="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# A loader stand-in: `loader SCRIPT...` runs one line of SCRIPT per start
# (the start number counted in $work/starts), the last line for later starts.
cat >"$work/loader" <<'LOADER'
#!/usr/bin/env bash
n=$(($(cat "$STARTS" 2>/dev/null || echo 0) + 1))
echo "$n" >"$STARTS"
shift $((n <= $# ? n - 1 : $# - 1))
eval "$1"
LOADER
chmod +x "$work/loader"

# check NAME EXPECTED-STATUS EXPECTED-STARTS EXPECTED-STDOUT EXPECTED-STDERR-PATTERN EXPECTED-RESTART-NOTES SCRIPT...
check() {
  local name="$1" status="$2" starts="$3" stdout="$4" stderr="$5" notes="$6"
  shift 6
  rm -f "$work/starts" "$work/log"
  local out err rc
  out="$(STARTS="$work/starts" QUOR_WINE_START_LOG="$work/log" bash "$start" "$work/loader" "$@" \
    2>"$work/err" <<<"input line")"
  rc=$?
  err="$(cat "$work/err")"
  local got_starts got_notes
  got_starts="$(cat "$work/starts")"
  got_notes="$( ([[ -f "$work/log" ]] && wc -l <"$work/log") || echo 0)"
  if [[ "$rc" != "$status" || "$got_starts" != "$starts" || "$out" != "$stdout" || ! "$err" =~ $stderr ||
    "$got_notes" != "$notes" ]]; then
    echo "FAIL $name: status $rc (want $status), starts $got_starts (want $starts), stdout '$out' (want '$stdout')," \
      "stderr '$err' (want /$stderr/), restart notes $got_notes (want $notes)"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

check "silent failure twice fails" 3 2 "" "status 3 .*without any output.*once more" 1 'exit 3'
check "silent failure, then a run" 0 2 "ran" "once more" 1 'exit 1' 'echo ran'
check "a run that printed keeps its failure" 4 1 "" "^broken$" 0 'echo broken >&2; exit 4'
check "output on stdout keeps its failure" 5 1 "half" "^$" 0 'echo half; exit 5'
check "silent success is not repeated" 0 1 "" "^$" 0 'exit 0'
check "input reaches the program" 0 1 "input line" "^$" 0 'cat'
check "streams stay apart" 0 1 "to out" "^to err$" 0 'echo to out; echo to err >&2'

((failures == 0)) || {
  echo "$failures case(s) failed"
  exit 1
}
