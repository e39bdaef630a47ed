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
