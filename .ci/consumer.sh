#!/usr/bin/env bash
# Install and package check: builds the demo tree (no tests), installs it into
# a temporary prefix, builds the outside project tests/consumer against it
# with find_package(Quor), dials through it and through the installed quor
# tool (both must find the installed rasapi32.dll), and builds the Debian
# package and the .tar.gz with CPack. About a minute after the demo build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/demo

if ! command -v pkg-config >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends pkg-config >/dev/null
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quor-consumer.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --preset demo >/dev/null
cmake --build "$build" -j2
cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/lib/cmake/Quor/QuorConfig.cmake"
test -f "$prefix/lib/quor/rasapi32.dll"

echo "== consumer project against the installed tree"
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" -j2

# A private phonebook and state: nothing of the user's is read or changed.
export QUOR_RAS_PHONEBOOK="$work/rasphone.pbk" QUOR_RAS_CREDENTIALS="$work/credentials.dat"
export QUOR_RAS_STATE_DIR="$work/state"
printf '[Office]\nDEVICE=modem\nDevice=Consumer Modem\nPhoneNumber=555-0100\n' >"$QUOR_RAS_PHONEBOOK"
out="$("$work/consumer/quor_consumer" Office)"
printf '%s\n' "$out"
grep -q "^Quor 0\.2\.0$" <<<"$out"
grep -q "Connected" <<<"$out"
grep -qx "rasapi32.dll: $prefix/lib/quor/rasapi32.dll" <<<"$out"

echo "== a broken rasapi32.dll beside the program: loaded by default, never with --system-ras"
printf 'not a library\n' >"$work/consumer/rasapi32.dll"
if "$work/consumer/quor_consumer" Office >"$work/beside.out" 2>&1; then
  cat "$work/beside.out"
  echo "consumer.sh: FAILED: the consumer dialled although the copy beside it is broken" >&2
  exit 1
fi
grep -q "could not be loaded" "$work/beside.out"
out="$("$work/consumer/quor_consumer" --system-ras Office)"
grep -qx "rasapi32.dll: $prefix/lib/quor/rasapi32.dll" <<<"$out"
grep -q "Connected" <<<"$out"
rm "$work/consumer/rasapi32.dll"

echo "== installed quor tool"
"$prefix/bin/quor" --version
"$prefix/bin/quor" entries | grep -qx Office

echo "== pkg-config"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion quor | grep -qx 0.2.0

echo "== packages"
(cd "$build" && cpack -G "DEB;TGZ" >/dev/null)
deb="$(ls "$build"/quor_*.deb)"
dpkg -c "$deb" | awk '{print $6}' | grep -E 'bin/quor$|quor/rasapi32.dll$|cmake/Quor/QuorConfig.cmake$|TQuorComponent.h$'
ls -l "$build"/quor-*.tar.gz "$deb"
