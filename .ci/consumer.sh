#!/usr/bin/env bash
# Install, embedding and package check: builds the demo tree (no tests),
# installs it into a temporary prefix, builds the outside project
# tests/consumer against it with find_package(Quor), dials through it and
# through the installed quor tool (both must find the installed
# rasapi32.dll); builds README.md's program on its three routes (find_package,
# pkg-config with README's command line, add_subdirectory of this checkout in
# tests/consumer/embedded, configured as if GoogleTest were not installed) and
# runs each; then builds the Debian package and the .tar.gz with CPack.
# A few minutes after the demo build (the embedded route builds Quor again).
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

version="$(sed -n 's/^project(Quor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
soversion="${version%.*}"
fail() {
  echo "consumer.sh: FAILED: $*" >&2
  exit 1
}

echo "== the shared libraries carry a SONAME"
for lib in quorwin32 vcl30; do
  readelf -d "$prefix/lib/lib$lib.so" | grep -qF "Library soname: [lib$lib.so.$soversion]" ||
    fail "lib$lib.so has no SONAME lib$lib.so.$soversion"
done

# A private phonebook and state: nothing of the user's is read or changed.
export QUOR_RAS_PHONEBOOK="$work/rasphone.pbk" QUOR_RAS_CREDENTIALS="$work/credentials.dat"
export QUOR_RAS_STATE_DIR="$work/state"
printf '[Office]\nDEVICE=modem\nDevice=Consumer Modem\nPhoneNumber=555-0100\n' >"$QUOR_RAS_PHONEBOOK"

# The Python package, pip-installed offline into a fresh venv, over the installed C library (found on the
# loader's path, no QUOR_LIBRARY); once the C library is part of the install it must be there.
if grep -qs "install(TARGETS quor_c" CApi/CMakeLists.txt cmake/QuorInstall.cmake; then
  echo "== the Python package over the installed C library"
  test -f "$prefix/lib/libquor.so.0" || fail "the install has no lib/libquor.so.0"
  (unset QUOR_LIBRARY; LD_LIBRARY_PATH="$prefix/lib" bash tests/python/install_test.sh /usr/bin/python3 bindings/python \
    "$work/python") || fail "the Python package did not dial through the installed Quor"
fi

# README.md's C program ("From C"), built with pkg-config's quor-c flags against the installed tree alone, with
# gcc and with clang where it is installed: it dials Office, connects and hangs up.
echo "== the C interface: README's C program against the installed tree"
csample="$work/dial.c"
awk '/^## From C/ {section = 1} section && /^```c$/ {take = 1; next} take && /^```$/ {exit} take' README.md >"$csample"
grep -q "int main" "$csample" || fail "no program found in README.md's \"From C\""
for cc in gcc clang; do
  command -v "$cc" >/dev/null || continue
  # shellcheck disable=SC2046 # the flags are meant to split
  "$cc" -std=c99 -Wall -Wextra -Werror "$csample" -o "$work/dial-$cc" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs quor-c) -Wl,-rpath,"$prefix/lib"
  out="$(timeout 60 "$work/dial-$cc" Office)" || fail "README's C program built with $cc did not connect (exit $?)"
  grep -qx "up" <<<"$out" && grep -q "Connected" <<<"$out" ||
    fail "README's C program built with $cc did not report the connection: $out"
done

# README.md's program, as it stands in "Use from your CMake project".
sample="$work/myapp.cpp"
awk '/^## Use from your CMake project/ {section = 1}
     section && /^```cpp$/ {take = 1; next}
     take && /^```$/ {exit}
     take' README.md >"$sample"
grep -q "int main" "$sample" || fail "no program found in README.md's \"Use from your CMake project\""
# run_sample WHAT PROGRAM: it must dial Office, connect and hang up (a minute at most: a program that waits for
# ever fails here instead of holding CI).
run_sample() {
  local out rc=0
  out="$(timeout 60 "$2" Office)" || rc=$?
  [[ $rc -eq 0 ]] || {
    printf '%s\n' "$out"
    fail "README's program built $1 did not connect and hang up (exit $rc)"
  }
  grep -qx "up" <<<"$out" && grep -q "Disconnecting" <<<"$out" || {
    printf '%s\n' "$out"
    fail "README's program built $1 did not report the connection and the hang-up"
  }
}

echo "== consumer project against the installed tree"
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DQUOR_SAMPLE="$sample" >/dev/null
cmake --build "$work/consumer" -j2
run_sample "with find_package(Quor)" "$work/consumer/myapp"
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

echo "== pkg-config: README's command line"
mkdir "$work/pc"
(
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  pkg-config --modversion quor | grep -qx "$version"
  # shellcheck disable=SC2046 # the flags are meant to split
  g++ "$sample" -o "$work/pc/myapp" $(pkg-config --cflags --libs quor) -Wl,-rpath,$(pkg-config --variable=libdir quor)
)
run_sample "with pkg-config" "$work/pc/myapp"
readelf -d "$work/pc/myapp" | grep -qF "Shared library: [libvcl30.so.$soversion]" ||
  fail "the pkg-config program does not record libvcl30.so.$soversion"
# README's check: a broken rasapi32.dll beside the program is reported at once (exit 1), not waited on.
printf 'not a library\n' >"$work/pc/rasapi32.dll"
rc=0
timeout 60 "$work/pc/myapp" Office >/dev/null 2>"$work/pc/broken.err" || rc=$?
[[ $rc -eq 1 ]] && grep -q "RAS is not available" "$work/pc/broken.err" || {
  cat "$work/pc/broken.err"
  fail "README's program beside a broken rasapi32.dll exited $rc without saying that RAS is not available"
}

echo "== add_subdirectory: the sources in an outside project's tree, without GoogleTest"
cmake -S tests/consumer/embedded -B "$work/embedded" -DQUOR_SOURCE_DIR="$PWD" -DQUOR_SAMPLE="$sample" \
  --no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  >"$work/embedded.log" 2>&1 || {
  cat "$work/embedded.log"
  fail "an outside project with Quor's sources in its tree does not configure without GoogleTest"
}
# Where Debian's GoogleTest sources are installed the suites would still configure from them: the outside project
# must not have looked for either test library at all.
if grep -iE "googletest|gtest|google benchmark" "$work/embedded.log" ||
  grep -vE "^CMAKE_DISABLE_FIND_PACKAGE_" "$work/embedded/CMakeCache.txt" | grep -iE "gtest|googletest|benchmark_"; then
  fail "the outside project configured Quor's tests or benchmarks"
fi
cmake --build "$work/embedded" -j2
run_sample "with add_subdirectory" "$work/embedded/myapp"

echo "== packages"
(cd "$build" && cpack -G "DEB;TGZ" >/dev/null)
deb="$(ls "$build"/quor_*.deb)"
tgz="$(ls "$build"/quor-*.tar.gz)"
# Both packages hold exactly the files README.md's "Install" describes: the
# headers under include/quor/ and these.
expected="bin/quor bin/quordesigner include/quor.h include/quor/QuorVersion.h lib/cmake/Quor/QuorConfig.cmake
lib/cmake/Quor/QuorConfigVersion.cmake lib/cmake/Quor/QuorTargets-release.cmake lib/cmake/Quor/QuorTargets.cmake
lib/libquorwin32.so lib/libquorwin32.so.$soversion lib/libquorwin32.so.$version lib/libras2.a lib/libtquor.a
lib/libvcl30.so lib/libvcl30.so.$soversion lib/libvcl30.so.$version lib/pkgconfig/quor.pc lib/quor/TQuor30.dpl
lib/libquor.so lib/libquor.so.0 lib/libquor.so.$version lib/pkgconfig/quor-c.pc
lib/quor/rasapi32.dll lib/quor/rnaph.dll share/man/man1/quor.1"
[[ -f "$build/bin/rasbackend_networkmanager.dll" ]] && expected+=" lib/quor/rasbackend_networkmanager.dll"
[[ -f "$build/bin/rasbackend_networkmanager-brief.dll" ]] && expected+=" lib/quor/rasbackend_networkmanager-brief.dll"
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
# The include tree holds exactly the headers cmake/PublicHeaders.txt lists as installed, QuorVersion.h and quor.h.
headers="$( (echo include/quor/QuorVersion.h; echo include/quor.h; awk '/^[A-Za-z]/ && $2 == "installed" {print "include/quor/" $1}' cmake/PublicHeaders.txt) |
  sort)"
installed="$(cd "$prefix" && find include -type f | sort)"
[[ "$installed" == "$headers" ]] || {
  diff <(echo "$headers") <(echo "$installed") >&2
  fail "the installed include tree is not the list of cmake/PublicHeaders.txt (diff above: listed, installed)"
}
for listing in "$(dpkg -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||')" \
  "$(tar tzf "$tgz" | grep -v '/$' | cut -d/ -f2-)"; do
  [[ "$(grep '^include/' <<<"$listing" | sort)" == "$headers" ]] || fail "a package ships other headers than the list"
done
check_listing "$deb" "$(dpkg -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort)"
check_listing "$tgz" "$(tar tzf "$tgz" | grep -v '/$' | cut -d/ -f2- | sort)"
# The unversioned and the SONAME name are links, to the SONAME and to the file.
links="$(dpkg -c "$deb" | awk '$1 ~ /^l/ {print $6, $8}' | sed 's|^\./usr/||' | sort)
$(tar tvzf "$tgz" | awk '$1 ~ /^l/ {print $6, $8}' | cut -d/ -f2- | sort)"
for lib in quorwin32 vcl30; do
  for link in "lib/lib$lib.so lib$lib.so.$soversion" "lib/lib$lib.so.$soversion lib$lib.so.$version"; do
    [[ "$(grep -cxF "$link" <<<"$links")" -eq 2 ]] || fail "the packages lack the link $link (links: $links)"
  done
done
ls -l "$tgz" "$deb"
