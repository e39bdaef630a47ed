#!/usr/bin/env bash
# Windows builds of Quor and their suites under Wine.
#
# First a probe tells whether this host can run 32-bit x86 code at all. Then:
#   - route i686 (the host can): the 32-bit Windows build ("windows" preset)
#     and its suites under a 32-bit Wine;
#   - route x64 (it cannot: no Wine can help there): the 32-bit build is still
#     cross-compiled completely (its layout checks and its link run), and the
#     suites run from the x86-64 stand-in build ("windows-x64" preset) under
#     Debian's 64-bit Wine. The stand-in is a verification build, not a
#     product.
# The script says which route ran ("windows suites: ..."). No step of either
# build starts Wine: build-time tools are built for this machine. A failing
# test fails the run; no test that ran is run twice (cmake/wine-start.sh
# starts a program once more only when Wine ended it, silent, before it ran;
# such restarts are listed after the suites). Every failure ends with one
# line saying why.
#
# On both routes it also makes the Windows SDK zip from the "windows-release"
# preset (checking its listing against the SDK's README.txt and README.md),
# and builds tests/consumer against an unpacked SDK with the route's
# toolchain (the i686 SDK on route i686, an x86-64 one from the stand-in
# build on route x64) and dials the demo entry through it under Wine.
#
# Environment: QUOR_WINDOWS_ROUTE (auto, i686 or x64; default auto) forces a
# route; QUOR_WINDOWS_BUILD_DIR (default build/windows),
# QUOR_WINDOWS_X64_BUILD_DIR (default build/windows-x64) and
# QUOR_WINDOWS_RELEASE_BUILD_DIR (default build/windows-release) pick the
# build folders; QUOR_JOBS (default 2) the parallel build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

build_dir="${QUOR_WINDOWS_BUILD_DIR:-build/windows}"
x64_dir="${QUOR_WINDOWS_X64_BUILD_DIR:-build/windows-x64}"
release_dir="${QUOR_WINDOWS_RELEASE_BUILD_DIR:-build/windows-release}"
jobs="${QUOR_JOBS:-2}"
route="${QUOR_WINDOWS_ROUTE:-auto}"

fail() {
  echo "windows.sh: FAILED: $*" >&2
  exit 1
}
case "$route" in auto | i686 | x64) ;; *) fail "QUOR_WINDOWS_ROUTE must be auto, i686 or x64 (got '$route')" ;; esac

# Installs the packages not installed yet; true when all are there afterwards.
install_packages() {
  local missing=() p
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  ((${#missing[@]} == 0)) && return 0
  echo "== installing ${missing[*]}"
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || return 1
  fi
  bash .ci/apt-update.sh || return 1
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# ---------------------------------------------------------------- probe
# A tiny static i686 Linux program that exits with 42. A host without 32-bit
# user code refuses to start it ("Exec format error").
install_packages binutils || fail "missing package binutils (apt-get install failed), needed for the 32-bit probe"
probe_dir="$(mktemp -d "${TMPDIR:-/tmp}/quor-probe.XXXXXX")"
printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $42, %%ebx\n  int $0x80\n' >"$probe_dir/p.s"
as --32 -o "$probe_dir/p.o" "$probe_dir/p.s" && ld -m elf_i386 -o "$probe_dir/p" "$probe_dir/p.o" ||
  fail "could not build the 32-bit probe with binutils"
probe_rc=0
probe_out="$("$probe_dir/p" 2>&1)" || probe_rc=$?
rm -rf "$probe_dir"
if ((probe_rc == 42)); then
  echo "32-bit probe: this host runs 32-bit x86 code"
  can32=1
else
  echo "32-bit probe: this host cannot run 32-bit x86 code (exit $probe_rc${probe_out:+: ${probe_out//$'\n'/ }})"
  can32=0
fi
route_chosen=0
if [[ "$route" == auto ]]; then
  ((can32)) && route=i686 || route=x64
  route_chosen=1
elif [[ "$route" == i686 ]] && ((!can32)); then
  fail "QUOR_WINDOWS_ROUTE=i686, but this host cannot run 32-bit code"
else
  echo "route forced by QUOR_WINDOWS_ROUTE=$route"
fi

# ---------------------------------------------------------------- packages
install_packages cmake make googletest g++-mingw-w64-i686-posix ||
  fail "missing package for the 32-bit cross build (apt-get install cmake make googletest g++-mingw-w64-i686-posix failed)"
[[ -f /usr/src/googletest/CMakeLists.txt ]] || fail "missing package googletest (/usr/src/googletest)"
use_route() {
  route="$1"
  if [[ "$route" == i686 ]]; then
    wine_packages=(wine wine32:i386)
    WINE=wine WINESERVER_BIN=wineserver
    export WINEARCH=win32
    suites="i686 under 32-bit Wine"
  else
    install_packages g++-mingw-w64-x86-64-posix ||
      fail "missing package g++-mingw-w64-x86-64-posix (apt-get install failed)"
    wine_packages=(wine64)
    WINE=/usr/lib/wine/wine64 WINESERVER_BIN=/usr/lib/wine/wineserver64
    export WINEARCH=win64
    suites="x86-64 stand-in under 64-bit Wine"
  fi
}
use_route "$route"
wine_installed=1
install_packages "${wine_packages[@]}" || wine_installed=0
if ((!wine_installed)) && [[ "$route" == i686 ]] && ((route_chosen)); then
  # The 32-bit packages depend on the package lists of a second architecture,
  # which a mirror in mid-sync can leave out of step with the first: rather
  # than run no suite, run them on the 64-bit route.
  echo "route i686: the 32-bit Wine packages could not be installed; taking route x64 instead"
  use_route x64
  install_packages "${wine_packages[@]}" && wine_installed=1
fi
for c in i686-w64-mingw32-g++-posix $([[ "$route" == x64 ]] && echo x86_64-w64-mingw32-g++-posix); do
  command -v "$c" >/dev/null 2>&1 || fail "missing compiler $c after installing its package"
done
wine_ok=1
wine_why=""
if ((!wine_installed)); then
  wine_ok=0
  wine_why="the Wine packages (${wine_packages[*]}) could not be installed"
elif ! command -v "$WINE" >/dev/null 2>&1; then
  wine_ok=0
  wine_why="$WINE is missing after installing ${wine_packages[*]}"
fi

# ---------------------------------------------------------------- builds
# Built before any Wine prefix exists: no build step may need one.
check_runtime() {
  local dir="$1" dll
  shift
  for dll in "$@"; do
    [[ -f "$dir/bin/$dll" ]] || fail "missing runtime DLL $dll in $dir/bin (the compiler's package is incomplete?)"
  done
}
echo "== 32-bit cross build (preset windows, ${build_dir})"
cmake --preset windows -B "$build_dir" >/dev/null || fail "configuring the 32-bit Windows build failed"
cmake --build "$build_dir" -j"$jobs" || fail "the 32-bit Windows build failed (compile-time layout checks or link)"
check_runtime "$build_dir" libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll
suite_dir="$build_dir"
if [[ "$route" == x64 ]]; then
  echo "== x86-64 stand-in build (preset windows-x64, ${x64_dir})"
  cmake --preset windows-x64 -B "$x64_dir" >/dev/null || fail "configuring the x86-64 stand-in build failed"
  cmake --build "$x64_dir" -j"$jobs" || fail "the x86-64 stand-in build failed"
  check_runtime "$x64_dir" libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll
  suite_dir="$x64_dir"
  echo "   the stand-in does not show: stdcall name decoration (@N) of the 32-bit exports, 32-bit pointer and"
  echo "   handle sizes; the 32-bit build above checks those at compile time and links, its programs do not run"
fi

# ---------------------------------------------------------------- SDK
work="$(mktemp -d "${TMPDIR:-/tmp}/quor-sdk.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# check_sdk <zip> <libgcc DLL> [readme]: the zip holds what the SDK's
# README.txt describes (and, with "readme", what README.md describes: only
# the shipped 32-bit SDK is documented there, not the stand-in's), and the
# simulated RAS service only in lib/quor/.
check_sdk() {
  local zip="$1" libgcc="$2" readme="${3:-}" listing top f
  local ship="quorwin32.dll vcl30.dll $libgcc libstdc++-6.dll libwinpthread-1.dll"
  local expected_bin="$ship quor.dll quor.exe quordesigner.exe TQuor30.dpl"
  listing="$(cmake -E tar tf "$zip")" || fail "cannot list $zip"
  top="$(head -n1 <<<"$listing" | cut -d/ -f1)"
  listing="$(sed -n "s|^$top/||p" <<<"$listing" | grep -v '/$' | sort)"
  [[ "$(sed -n 's|^bin/||p' <<<"$listing" | xargs)" == "$(tr ' ' '\n' <<<"$expected_bin" | sort | xargs)" ]] ||
    fail "$zip: bin/ holds '$(sed -n 's|^bin/||p' <<<"$listing" | xargs)', expected '$expected_bin'"
  [[ "$(sed -n 's|^lib/quor/||p' <<<"$listing" | xargs)" == "README.txt rasapi32.dll rnaph.dll" ]] ||
    fail "$zip: lib/quor/ must hold exactly README.txt, rasapi32.dll and rnaph.dll"
  if grep -iE '(^|/)(rasapi32|rnaph)\.dll$' <<<"$listing" | grep -qv '^lib/quor/'; then
    fail "$zip: a simulated RAS DLL outside lib/quor/"
  fi
  for f in README.txt include/quor/TQuorComponent/TQuorComponent.h include/quor/Ras2/Ras2.h \
    include/quor/QuorVersion.h include/quor.h lib/libquor.dll.a lib/libtquor.a lib/libras2.a lib/libquorwin32.dll.a lib/libvcl30.dll.a \
    lib/cmake/Quor/QuorConfig.cmake lib/cmake/Quor/QuorConfigVersion.cmake lib/cmake/Quor/QuorTargets.cmake; do
    grep -qx "$f" <<<"$listing" || fail "$zip: $f is missing"
  done
  # The headers: exactly those cmake/PublicHeaders.txt lists as installed, and QuorVersion.h.
  [[ "$(grep '^include/' <<<"$listing")" == "$( (echo include/quor/QuorVersion.h; echo include/quor.h
    awk '/^[A-Za-z]/ && $2 == "installed" {print "include/quor/" $1}' cmake/PublicHeaders.txt) | sort)" ]] ||
    fail "$zip: include/ holds other headers than cmake/PublicHeaders.txt lists"
  # README.txt inside lists exactly the DLLs to ship; README.md names every
  # file of bin/.
  rm -rf "$work/readme" && mkdir "$work/readme"
  (cd "$work/readme" && cmake -E tar xf "$zip" "$top/README.txt") || fail "cannot unpack README.txt of $zip"
  [[ "$(sed -n 's|^  bin/\([^ ]*\.dll\)$|\1|p' "$work/readme/$top/README.txt" | sort | xargs)" == \
    "$(tr ' ' '\n' <<<"$ship" | sort | xargs)" ]] || fail "$zip: README.txt does not list exactly the DLLs: $ship"
  [[ "$readme" == readme ]] || return 0
  for f in $expected_bin; do
    grep -q "$f" README.md || fail "README.md does not mention $f of the SDK's bin/"
  done
}

# sdk_zip <build dir>: cpack's zip of that build (quor-sdk-<version>-win*.zip),
# as an absolute path.
sdk_zip() {
  rm -f "$1"/quor-sdk-*.zip
  (cd "$1" && cpack -G ZIP >/dev/null) || fail "cpack could not make the SDK zip in $1"
  realpath "$(ls "$1"/quor-sdk-*-win*.zip | head -n1)"
}

echo "== Windows SDK (preset windows-release, ${release_dir})"
cmake --preset windows-release -B "$release_dir" >/dev/null || fail "configuring the Windows release build failed"
cmake --build "$release_dir" -j"$jobs" || fail "the Windows release build failed"
release_zip="$(sdk_zip "$release_dir")"
[[ -f "$release_zip" ]] || fail "no SDK zip in $release_dir"
check_sdk "$release_zip" libgcc_s_dw2-1.dll readme
echo "   $release_zip: $(cmake -E tar tf "$release_zip" | grep -vc '/$') files"

# The consumer project against an unpacked SDK of the route's architecture.
if [[ "$route" == i686 ]]; then
  consumer_zip="$release_zip" consumer_toolchain=cmake/toolchain-mingw32.cmake
else
  consumer_zip="$(sdk_zip "$x64_dir")"
  [[ -f "$consumer_zip" ]] || fail "no SDK zip in $x64_dir"
  check_sdk "$consumer_zip" libgcc_s_seh-1.dll
  consumer_toolchain=cmake/toolchain-mingw64.cmake
fi
echo "== consumer project against the unpacked SDK $(basename "$consumer_zip")"
(cd "$work" && cmake -E tar xf "$consumer_zip") || fail "cannot unpack $consumer_zip"
sdk_root="$(ls -d "$work"/quor-sdk-*)"
# The toolchain confines package searches to the compiler's own root, so the
# package is named by its folder.
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_TOOLCHAIN_FILE="$PWD/$consumer_toolchain" \
  -DQuor_DIR="$sdk_root/lib/cmake/Quor" >/dev/null || fail "configuring tests/consumer against the SDK failed"
cmake --build "$work/consumer" -j"$jobs" || fail "building tests/consumer against the SDK failed"
for f in "$sdk_root"/bin/*.dll; do
  # quor.dll is the C interface's: a C++ program does not need it.
  [[ "$(basename "$f")" == quor.dll ]] && continue
  [[ -f "$work/consumer/$(basename "$f")" ]] || fail "the consumer build did not put $(basename "$f") beside the program"
done

if ((!wine_ok)); then
  echo "SKIP windows suites and consumer run: $wine_why (the builds above succeeded)"
  exit 0
fi

# ---------------------------------------------------------------- Wine prefix
echo "== preparing a headless Wine prefix (${WINEARCH})"
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/quor-wine.XXXXXX")"
export WINEPREFIX WINEDEBUG=-all
# The 64-bit loader, started directly, is told which server to use.
[[ "$route" == x64 ]] && export WINESERVER="$WINESERVER_BIN"
# No X server: keep Wine from looking for one.
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
boot_log="$WINEPREFIX.boot.log"
# The server writes the registry files when it goes idle: wait for it before
# checking them.
if ! timeout 300 "$WINE" wineboot -i </dev/null >"$boot_log" 2>&1 || ! timeout 120 "$WINESERVER_BIN" -w ||
  [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  cat "$boot_log" >&2
  rm -f "$boot_log"
  fail "wineboot could not prepare the Wine prefix $WINEPREFIX (its output is above)"
fi
rm -f "$boot_log"
# The null graphics driver: hidden and visible top-level windows,
# FindWindowA, ShowWindow and IsIconic all work without a display.
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 ||
  fail "the Wine prefix is unusable: reg add of the null graphics driver failed"
"$WINESERVER_BIN" -w
# One persistent server, so that each test program starts in a fraction of a
# second. It and the services Wine starts keep the caller's output open, hence
# the redirections.
"$WINESERVER_BIN" -p </dev/null >/dev/null 2>&1
timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || fail "the Wine prefix is unusable: 'cmd /c exit' failed"

# ---------------------------------------------------------------- consumer run
# The demo entry in a private phonebook; Wine loads our rasapi32.dll beside
# the program only with the override.
winpath() { echo "Z:${1//\//\\}"; }
printf '[Office]\r\nDEVICE=modem\r\nPhoneNumber=555-0100\r\nQuorStepDelay=20\r\n' >"$work/rasphone.pbk"
consumer_out="$(QUOR_RAS_PHONEBOOK="$(winpath "$work/rasphone.pbk")" \
  QUOR_RAS_CREDENTIALS="$(winpath "$work/credentials.dat")" QUOR_RAS_STATE_DIR="$(winpath "$work/state")" \
  WINEDLLOVERRIDES=rasapi32=n timeout 120 "$WINE" "$work/consumer/quor_consumer.exe" Office </dev/null 2>&1)" ||
  fail "the consumer program under Wine failed: ${consumer_out//$'\n'/ | }"
consumer_out="$(tr -d '\r' <<<"$consumer_out")"
printf '%s\n' "$consumer_out"
# Dialled through the copy beside the program, not Wine's built-in library.
grep -q "^Quor [0-9]" <<<"$consumer_out" && grep -q "Connected" <<<"$consumer_out" &&
  grep -qix 'rasapi32.dll: .*\\consumer\\rasapi32.dll' <<<"$consumer_out" ||
  fail "the consumer program under Wine did not dial the demo entry through the SDK's simulated RAS"
# With the system-only opt-in the copy beside the program is passed over for
# the system's library (Wine's own; whether its dial works is Wine's matter).
# Native first, then built-in: the prefix's system32 holds only a placeholder
# of Wine's built-in library, which "native only" refuses to load, while the
# copy beside the program would still be taken first without the opt-in.
consumer_out="$(WINEDLLOVERRIDES=rasapi32=n,b timeout 120 "$WINE" "$work/consumer/quor_consumer.exe" --system-ras \
  Office </dev/null 2>&1 | tr -d '\r')" || true
grep -qix 'rasapi32.dll: .*\\system32\\rasapi32.dll' <<<"$consumer_out" ||
  fail "with --system-ras the consumer did not load the system's rasapi32.dll: ${consumer_out//$'\n'/ | }"
echo "consumer under Wine: dialled the demo entry through the SDK; --system-ras loaded the system's rasapi32.dll"

# ---------------------------------------------------------------- suites
# Xvfb and ImageMagick for the QuorDialer screenshot test.
bash .ci/gui-deps.sh
echo "== windows suites: ${suites} (${suite_dir})"
export QUOR_WINE_START_LOG="$work/wine-restarts.log"
suites_ok=1
ctest --test-dir "$suite_dir" --output-on-failure -j1 --timeout 300 || suites_ok=0
if [[ -s "$QUOR_WINE_START_LOG" ]]; then
  echo "Wine ended these programs before they ran, and they were started once more:"
  sed 's/^/  /' "$QUOR_WINE_START_LOG"
fi
((suites_ok)) || fail "windows suites (${suites}): the tests above failed"
echo "windows suites: ${suites}"
