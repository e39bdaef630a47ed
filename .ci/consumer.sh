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

# The demo tree must not need GoogleTest or Google Benchmark: configured as if
# neither were installed.
cmake --preset demo --no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  >/dev/null
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
tgz="$(ls "$build"/quor-*.tar.gz)"
# Both packages hold exactly the files README.md's "Install" describes: the
# headers under include/quor/ and these.
expected="bin/quor bin/quordesigner include/quor/QuorVersion.h lib/cmake/Quor/QuorConfig.cmake
lib/cmake/Quor/QuorConfigVersion.cmake lib/cmake/Quor/QuorTargets-release.cmake lib/cmake/Quor/QuorTargets.cmake
lib/libquorwin32.so lib/libras2.a lib/libtquor.a lib/libvcl30.so lib/pkgconfig/quor.pc lib/quor/TQuor30.dpl
lib/quor/rasapi32.dll lib/quor/rnaph.dll share/man/man1/quor.1"
[[ -f "$build/bin/rasbackend_networkmanager.dll" ]] && expected+=" lib/quor/rasbackend_networkmanager.dll"
expected="$(xargs -n1 <<<"$expected" | sort)"
check_listing() {
  local what="$1" listing="$2" dir
  [[ "$(grep -v '^include/quor/[A-Za-z0-9]*/' <<<"$listing")" == "$expected" ]] || {
    diff <(echo "$expected") <(grep -v '^include/quor/[A-Za-z0-9]*/' <<<"$listing") >&2
    echo "consumer.sh: FAILED: $what does not hold what README.md describes (diff above: expected, packaged)" >&2
    exit 1
  }
  for dir in Win32 Vcl Ras2 TQuorComponent TQuor30; do
    grep -q "^include/quor/$dir/.*\.h$" <<<"$listing" || {
      echo "consumer.sh: FAILED: $what has no headers in include/quor/$dir" >&2
      exit 1
    }
  done
}
check_listing "$deb" "$(dpkg -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort)"
check_listing "$tgz" "$(tar tzf "$tgz" | grep -v '/$' | cut -d/ -f2- | sort)"
ls -l "$tgz" "$deb"
