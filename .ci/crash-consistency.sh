#!/usr/bin/env bash
# Crash consistency of the RAS library's files: commands that rewrite the
# phonebook (entry rename) and the credential file (params set) are killed
# with SIGKILL at random points, over and over, for about 20 s, then dials
# that rewrite the connection registry for about 6 s more, then renames and
# deletes of entries with stored parameters for about 20 s. After every
# kill the phonebook and the credentials must still parse, hold either the
# old or the new state (nothing lost, nothing twice), and the next write must
# succeed: no stale lock or temporary file may block it. The stored dial
# parameters must follow the phonebook: once the next command has completed
# what a killed one left, the entry's user and password are under its name
# and nothing of a renamed or deleted name is left in the credential file.
# At the end no
# temporary file of a killed writer may be left once each file was written
# again. Only processes this script started are killed (by pid), and all its
# files live in a temporary folder it removes.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/debug/bin}"
quor="$PWD/$bin/quor"
[[ -x "$quor" ]] || { echo "crash-consistency: $quor not built" >&2; exit 1; }
seconds="${QUOR_CRASH_SECONDS:-20}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUOR_RAS_PHONEBOOK="$work/rasphone.pbk" QUOR_RAS_CREDENTIALS="$work/credentials.dat"
export QUOR_RAS_STATE_DIR="$work/state" QUOR_RAS_DIALOG=none
unset QUOR_RAS_SCENARIO QUOR_PASSWORD
{
  printf '; crash-consistency phonebook\r\n'
  for i in 1 2 3 4 5 6 7 8; do printf '[Keep %d]\r\nPhoneNumber=555-01%02d\r\n\r\n' "$i" "$i"; done
  printf '[Flip]\r\nPhoneNumber=555-0199\r\n'
} > "$QUOR_RAS_PHONEBOOK"
chmod 0640 "$QUOR_RAS_PHONEBOOK"
"$quor" params set "Keep 1" --user u0 --password-stdin <<< "s3cret" >/dev/null

fail() { echo "crash-consistency: $*" >&2; exit 1; }
keep=$(printf 'Keep %d\n' 1 2 3 4 5 6 7 8)
name=Flip user=0 kills=0 runs=0
deadline=$((SECONDS + seconds))
while ((SECONDS < deadline)); do
  runs=$((runs + 1))
  if ((RANDOM % 2)); then
    other=$([[ $name == Flip ]] && echo Flop || echo Flip)
    "$quor" entry rename "$name" "$other" >/dev/null 2>&1 &
  else
    next=$((user + 1))
    "$quor" params set "Keep 1" --user "u$next" >/dev/null 2>&1 &
  fi
  pid=$!
  # Somewhere inside its run (a run takes some tens of milliseconds).
  sleep "0.0$((RANDOM % 60 + 10))"
  if kill -KILL "$pid" 2>/dev/null; then kills=$((kills + 1)); fi
  wait "$pid" 2>/dev/null || true

  entries=$("$quor" entries) || fail "the phonebook no longer reads after run $runs"
  case "$entries" in
    "$keep"$'\nFlip') name=Flip ;;
    "$keep"$'\nFlop') name=Flop ;;
    *) fail "entries lost or doubled after run $runs: $(echo "$entries" | tr '\n' '|')" ;;
  esac
  params=$("$quor" params get "Keep 1" --json) || fail "the credentials no longer read after run $runs"
  [[ $params == *'"password_set":true'* ]] || fail "the stored password was lost after run $runs"
  got=$(sed -n 's/.*"user":"u\([0-9]*\)".*/\1/p' <<< "$params")
  [[ $got == "$user" || $got == "$((user + 1))" ]] || fail "user u$got after run $runs (expected u$user or u$((user + 1)))"
  user=$got
done
# The connection registry: dials of one entry killed at random points (most in
# the middle of their record's rewrites). After every kill the connection list
# must still read, and the entry must not be left "being dialled" by a record
# of the dead process: the final dial must connect.
printf '[Dialled]\r\nDEVICE=vpn\r\nQuorStepDelay=3\r\nQuorTeardown=0\r\n' >> "$QUOR_RAS_PHONEBOOK"
dials=0
deadline=$((SECONDS + seconds / 4 + 1))
while ((SECONDS < deadline)); do
  dials=$((dials + 1))
  "$quor" dial Dialled --redial 0 >/dev/null 2>&1 &
  pid=$!
  sleep "0.0$((RANDOM % 60 + 5))"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  "$quor" connections >/dev/null || fail "the connection list no longer reads after dial $dials"
done
out="$work/final-dial.out"
"$quor" dial Dialled --redial 0 >"$out" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q Connected "$out" && break; sleep 0.05; done
kill -INT "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
grep -q Connected "$out" || fail "a dial after $dials killed ones did not connect: $(tr '\n' '|' < "$out")"
# Renames and deletes of entries with stored parameters, killed at random
# points: the credentials follow the phonebook.
crash_rounds=0 crash_kills=0
deadline=$((SECONDS + seconds))
# The sections of the credential file under a name: its header lines.
sections() { grep -c -i -x -F "[$1]" "$QUOR_RAS_CREDENTIALS" || true; }
while ((SECONDS < deadline)); do
  crash_rounds=$((crash_rounds + 1))
  printf '[Moved]\r\nPhoneNumber=555-0300\r\n' >> "$QUOR_RAS_PHONEBOOK"
  "$quor" params set Moved --user "m$crash_rounds" --password-stdin <<< "pw$crash_rounds" >/dev/null ||
    fail "storing parameters for round $crash_rounds failed"
  # A rename, then a delete of whatever name the entry has then, each killed somewhere inside.
  for step in rename delete; do
    current=$("$quor" entries | grep -x -E 'Moved|Renamed' || true)
    [[ -n $current ]] || break
    if [[ $step == rename && $current == Moved ]]; then
      "$quor" entry rename Moved Renamed >/dev/null 2>&1 &
    else
      "$quor" entry delete "$current" >/dev/null 2>&1 &
    fi
    pid=$!
    sleep "0.0$((RANDOM % 50 + 5))"
    if kill -KILL "$pid" 2>/dev/null; then crash_kills=$((crash_kills + 1)); fi
    wait "$pid" 2>/dev/null || true
    # The next command completes what the killed one left.
    "$quor" params set "Keep 1" --user "u$user" >/dev/null || fail "a store after a killed $step failed"
    entries=$("$quor" entries) || fail "the phonebook no longer reads after a killed $step"
    for n in Moved Renamed; do
      if grep -q -x "$n" <<< "$entries"; then
        params=$("$quor" params get "$n" --json) || fail "$n's parameters no longer read after a killed $step"
        [[ $params == *"\"user\":\"m$crash_rounds\""* && $params == *'"password_set":true'* ]] ||
          fail "$n lost its user or password after a killed $step: $params"
        (($(sections "$n") == 1)) || fail "$n has $(sections "$n") sections after a killed $step"
      else
        (($(sections "$n") == 0)) || fail "the parameters of $n, no longer an entry, stayed after a killed $step"
      fi
    done
    grep -q '^Pending=' "$QUOR_RAS_CREDENTIALS" && fail "a killed $step's marks were not settled by the next command"
  done
  "$quor" entries | grep -q -x -E 'Moved|Renamed' && "$quor" entry delete "$("$quor" entries | grep -x -E 'Moved|Renamed')" >/dev/null
done
# Every file written once more: nothing of a killed writer may remain.
"$quor" entry rename "$name" Final >/dev/null || fail "the last phonebook write failed"
"$quor" params set "Keep 1" --user last >/dev/null || fail "the last credential write failed"
left=$(find "$work" -name '*.tmp.*' | wc -l)
((left == 0)) || fail "$left temporary files left behind: $(find "$work" -name '*.tmp.*' | tr '\n' ' ')"
[[ $(stat -c %a "$QUOR_RAS_PHONEBOOK") == 640 ]] || fail "the phonebook lost its mode"
[[ $(head -c 30 "$QUOR_RAS_PHONEBOOK") == $'; crash-consistency phonebook\r' ]] || fail "the phonebook's first line changed"
echo "crash-consistency: $runs runs, $kills killed in the middle, $dials dials killed," \
  "$crash_rounds rounds of renames and deletes ($crash_kills killed in the middle), files consistent and the" \
  "credentials following the phonebook"
