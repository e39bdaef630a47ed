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
# test fails the run; nothing is run twice. Every failure ends with one line
# saying why.
#
# Environment: QUOR_WINDOWS_ROUTE (auto, i686 or x64; default auto) forces a
# route; QUOR_WINDOWS_BUILD_DIR (default build/windows) and
# QUOR_WINDOWS_X64_BUILD_DIR (default build/windows-x64) pick the build
# folders; QUOR_JOBS (default 2) the parallel build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

build_dir="${QUOR_WINDOWS_BUILD_DIR:-build/windows}"
x64_dir="${QUOR_WINDOWS_X64_BUILD_DIR:-build/windows-x64}"
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
  apt-get update -qq || return 1
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
if [[ "$route" == auto ]]; then
  ((can32)) && route=i686 || route=x64
elif [[ "$route" == i686 ]] && ((!can32)); then
  fail "QUOR_WINDOWS_ROUTE=i686, but this host cannot run 32-bit code"
else
  echo "route forced by QUOR_WINDOWS_ROUTE=$route"
fi

# ---------------------------------------------------------------- packages
install_packages cmake make googletest g++-mingw-w64-i686-posix ||
  fail "missing package for the 32-bit cross build (apt-get install cmake make googletest g++-mingw-w64-i686-posix failed)"
[[ -f /usr/src/googletest/CMakeLists.txt ]] || fail "missing package googletest (/usr/src/googletest)"
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
for c in i686-w64-mingw32-g++-posix $([[ "$route" == x64 ]] && echo x86_64-w64-mingw32-g++-posix); do
  command -v "$c" >/dev/null 2>&1 || fail "missing compiler $c after installing its package"
done
wine_ok=1
wine_why=""
if ! install_packages "${wine_packages[@]}"; then
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

if ((!wine_ok)); then
  echo "SKIP windows suites: $wine_why (the builds above succeeded)"
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
  rm -rf "$WINEPREFIX"
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

# ---------------------------------------------------------------- suites
# Xvfb and ImageMagick for the QuorDialer screenshot test.
bash .ci/gui-deps.sh
echo "== windows suites: ${suites} (${suite_dir})"
ctest --test-dir "$suite_dir" --output-on-failure -j1 --timeout 300 ||
  fail "windows suites (${suites}): the tests above failed"
echo "windows suites: ${suites}"
