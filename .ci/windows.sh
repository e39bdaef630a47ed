#!/usr/bin/env bash
# 32-bit Windows build of Quor, run under Wine: installs the MinGW-w64 cross
# compiler and a 32-bit Wine (idempotent), prepares a headless Wine prefix in
# a temporary folder, builds the "windows" preset and runs the cross-built
# suites through ctest. Every test program is started with
# WINEDLLOVERRIDES=rasapi32=n (from the toolchain file) so that it loads our
# simulated rasapi32.dll from its own folder; the conformance suites that are
# meant to meet Wine's own rasapi32.dll set their own override.
#
# Environment: QUOR_WINDOWS_BUILD_DIR (default build/windows) picks the build
# folder; QUOR_JOBS (default 2) the parallel build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

build_dir="${QUOR_WINDOWS_BUILD_DIR:-build/windows}"
jobs="${QUOR_JOBS:-2}"

need_install=0
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need_install=1
command -v wine >/dev/null 2>&1 || need_install=1
dpkg -s wine32:i386 >/dev/null 2>&1 || need_install=1
[[ -f /usr/src/googletest/CMakeLists.txt ]] || need_install=1
if (( need_install )); then
  echo "== installing the MinGW-w64 cross compiler and 32-bit Wine"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends \
    cmake make wine wine32:i386 g++-mingw-w64-i686-posix googletest >/dev/null
fi

echo "== preparing a headless 32-bit Wine prefix"
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/quor-wine.XXXXXX")"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
# No X server: keep Wine from looking for one.
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineboot -i </dev/null >/dev/null 2>&1
# The null graphics driver: hidden and visible top-level windows,
# FindWindowA, ShowWindow and IsIconic all work without a display.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
wineserver -w
# One persistent server, so that each test program starts in a fraction of a
# second. It and the services Wine starts keep the caller's output open, hence
# the redirections.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

bash .ci/gui-deps.sh
echo "== cross build (preset windows, ${build_dir})"
cmake --preset windows -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j"$jobs"

echo "== cross-built suites under Wine"
# A test that fails is run once more on its own and named as flaky when it
# then passes; one that fails twice fails the run. (Seen under Wine: about one
# run in twelve, the cross-process contract case's helper process does not get
# going within 30 s; it has never failed on Linux or on a second try.)
if ! ctest --test-dir "$build_dir" --output-on-failure -j1 --timeout 300; then
  echo "== running the failed tests once more"
  ctest --test-dir "$build_dir" --output-on-failure -j1 --timeout 300 --rerun-failed
  echo "== FLAKY under Wine (failed once, passed when run again): see the first failure above"
fi
