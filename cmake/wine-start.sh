#!/usr/bin/env bash
# Starts a cross-built program under Wine for ctest and the build's script
# checks: wine-start.sh WINE-LOADER PROGRAM [ARGUMENTS...]. Ends with the
# program's status; its standard output and error come out as it wrote them,
# each on its own stream, once it has ended.
#
# Now and then Wine ends a program before the program has run at all: the
# loader exits a few hundredths of a second after it started, with a failing
# status and without a byte of output. A program that ran always prints
# something (each test program prints GoogleTest's banner first), so that
# case, and only that case, is started once more; a program that printed
# anything keeps its result, and one that fails so twice fails. A test that
# ran is never run again. Each restart is said on standard error and, when
# QUOR_WINE_START_LOG names a file, noted there (.ci/windows.sh prints it).
set -u
out="$(mktemp "${TMPDIR:-/tmp}/wine-start.XXXXXX")"
err="$(mktemp "${TMPDIR:-/tmp}/wine-start.XXXXXX")"
child=0
stopped=0
trap 'rm -f "$out" "$err"' EXIT
# ctest's timeout or a Ctrl-C ends the program too (and no restart follows).
trap 'stopped=1; ((child > 0)) && kill -TERM "$child" 2>/dev/null' TERM INT
rc=0
# A program started in the background would read /dev/null otherwise.
exec 3<&0
for attempt in 1 2; do
  started=${EPOCHREALTIME/./}
  "$@" >"$out" 2>"$err" <&3 3<&- &
  child=$!
  while :; do
    wait "$child"
    rc=$?
    kill -0 "$child" 2>/dev/null || break
  done
  child=0
  if ((rc == 0 || attempt == 2 || stopped)) || [[ -s "$out" || -s "$err" ]]; then break; fi
  took=$(((${EPOCHREALTIME/./} - started) / 10000))
  note="Wine ended ${2:-the program} with status $rc after $((took / 100)).$(printf %02d $((took % 100))) s"
  note+=" without any output (the program never ran); starting it once more"
  echo "wine-start.sh: $note" >&2
  [[ -n "${QUOR_WINE_START_LOG:-}" ]] && echo "$note" >>"$QUOR_WINE_START_LOG"
done
cat "$out"
cat "$err" >&2
exit "$rc"
