#!/usr/bin/env bash
# Windows builds of Quor and their suites under Wine.
#
# Both Windows targets are products: the 32-bit build (presets "windows" and
# "windows-release", MinGW-w64 i686) and the 64-bit one ("windows-x64" and
# "windows-x64-release", MinGW-w64 x86-64). All four are built on every host.
# A probe tells whether this host can run 32-bit x86 code at all; then:
#   - route i686 (the host can): the x86-64 suites under a 64-bit Wine and
#     the i686 suites under a 32-bit Wine;
#   - route x64 (it cannot: no Wine can help there): the x86-64 suites under
#     Debian's 64-bit Wine; the i686 build is cross-compiled completely (its
#     compile-time layout checks and its link run) but none of it runs.
# The script says which suites ran ("windows suites: ...") and how long the
# run took. No step of any build starts Wine: build-time tools are built for
# this machine. A failing test fails the run; no test that ran is run twice
# (cmake/wine-start.sh starts a program once more only when Wine ended it,
# silent, before it ran; such restarts are listed after the suites). Every
# failure ends with one line saying why.
#
# Both SDK zips (quor-sdk-<version>-win32.zip and -win64.zip) are made from
# the release presets and their listings checked against the SDK's README.txt
# and README.md, and the machine type of every program and DLL in them. For
# each, tests/consumer is built against the unpacked SDK with find_package
# and the matching toolchain, and dials the demo entry under the Wine of its
# architecture wherever that runs. A form saved by the designer host of one
# build is loaded and saved again by the other's (where both run), and by
# each build against tests/package/forms/Dialer.txt, byte for byte.
#
# Environment: QUOR_WINDOWS_ROUTE (auto, i686 or x64; default auto) forces a
# route (x64 on a host that runs 32-bit code leaves the i686 suites out);
# QUOR_WINDOWS_BUILD_DIR (default build/windows),
# QUOR_WINDOWS_X64_BUILD_DIR (default build/windows-x64),
# QUOR_WINDOWS_RELEASE_BUILD_DIR (default build/windows-release) and
# QUOR_WINDOWS_X64_RELEASE_BUILD_DIR (default build/windows-x64-release) pick
# the build folders; QUOR_JOBS (default 2) the parallel build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

build_dir="${QUOR_WINDOWS_BUILD_DIR:-build/windows}"
x64_dir="${QUOR_WINDOWS_X64_BUILD_DIR:-build/windows-x64}"
release_dir="${QUOR_WINDOWS_RELEASE_BUILD_DIR:-build/windows-release}"
x64_release_dir="${QUOR_WINDOWS_X64_RELEASE_BUILD_DIR:-build/windows-x64-release}"
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
compilers=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix)
install_packages cmake make googletest "${compilers[@]}" ||
  fail "missing package for the cross builds (apt-get install cmake make googletest ${compilers[*]} failed)"
[[ -f /usr/src/googletest/CMakeLists.txt ]] || fail "missing package googletest (/usr/src/googletest)"
for c in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix; do
  command -v "$c" >/dev/null 2>&1 || fail "missing compiler $c after installing its package"
done
# Why a Wine cannot be used ("" when it can). The 64-bit loader and server
# are named directly: Debian's "wine" wrapper prefers the 32-bit loader.
WINE64=/usr/lib/wine/wine64 WINESERVER64=/usr/lib/wine/wineserver64
wine64_why=""
if ! install_packages wine64; then
  wine64_why="the Wine package wine64 could not be installed"
elif [[ ! -x "$WINE64" || ! -x "$WINESERVER64" ]]; then
  wine64_why="$WINE64 or $WINESERVER64 is missing after installing wine64"
fi
wine32_why=""
if [[ "$route" == i686 ]]; then
  if ! install_packages wine wine32:i386; then
    wine32_why="the 32-bit Wine packages (wine wine32:i386) could not be installed"
  elif ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
    wine32_why="wine or wineserver is missing after installing wine wine32:i386"
  fi
  if [[ -n "$wine32_why" ]] && ((route_chosen)); then
    # The 32-bit packages depend on the package lists of a second
    # architecture, which a mirror in mid-sync can leave out of step with the
    # first: rather than run no i686 suite for that, take the 64-bit route.
    echo "route i686: $wine32_why; taking route x64 instead"
    route=x64 wine32_why=""
  fi
fi
echo "route $route: x86-64 suites under 64-bit Wine$([[ "$route" == i686 ]] && echo ", i686 suites under 32-bit Wine")"

# ---------------------------------------------------------------- builds
# Built before any Wine prefix exists: no build step may need one.
# build <preset> <dir> <libgcc DLL>: configures and builds it; every program
# and module of the product and the compiler's runtime DLLs are in bin/.
build() {
  local preset="$1" dir="$2" libgcc="$3" f
  local t0=$SECONDS
  echo "== build of preset $preset (${dir})"
  cmake --preset "$preset" -B "$dir" >/dev/null || fail "configuring the build of preset $preset failed"
  cmake --build "$dir" -j"$jobs" || fail "the build of preset $preset failed (compile-time layout checks or link)"
  for f in quor.exe quordesigner.exe QuorDialer.exe TQuor30.dpl quor.dll quorwin32.dll vcl30.dll \
    "$libgcc" libstdc++-6.dll libwinpthread-1.dll; do
    [[ -f "$dir/bin/$f" ]] || fail "preset $preset: $f is missing in $dir/bin"
  done
  echo "   preset $preset built in $((SECONDS - t0)) s"
}
build windows "$build_dir" libgcc_s_dw2-1.dll
build windows-x64 "$x64_dir" libgcc_s_seh-1.dll
build windows-release "$release_dir" libgcc_s_dw2-1.dll
build windows-x64-release "$x64_release_dir" libgcc_s_seh-1.dll
if [[ "$route" == x64 ]]; then
  echo "   route x64 does not run 32-bit code: the i686 builds above checked their record layouts at compile time"
  echo "   and linked (with the stdcall decoration (@N) of their exports); none of their programs runs here"
fi

# ---------------------------------------------------------------- SDKs
work="$(mktemp -d "${TMPDIR:-/tmp}/quor-sdk.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# pe_machine <file>: the machine field of a PE file's header (014c for i686,
# 8664 for x86-64).
pe_machine() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}

# check_sdk <zip> <libgcc DLL> <machine>: the zip holds what the SDK's
# README.txt and README.md describe, the simulated RAS service only in
# lib/quor/, and every program, DLL and module in it is built for <machine>.
# Leaves the SDK unpacked in $work/<zip name without .zip>.
check_sdk() {
  local zip="$1" libgcc="$2" machine="$3" listing top f root
  local ship="quorwin32.dll vcl30.dll $libgcc libstdc++-6.dll libwinpthread-1.dll"
  local expected_bin="$ship quor.dll quor.exe quordesigner.exe TQuor30.dpl"
  listing="$(cmake -E tar tf "$zip")" || fail "cannot list $zip"
  top="$(head -n1 <<<"$listing" | cut -d/ -f1)"
  [[ "$top.zip" == "$(basename "$zip")" ]] || fail "$zip: its top folder is '$top', not the zip's name"
  listing="$(sed -n "s|^$top/||p" <<<"$listing" | grep -v '/$' | sort)"
  [[ "$(sed -n 's|^bin/||p' <<<"$listing" | xargs)" == "$(tr ' ' '\n' <<<"$expected_bin" | sort | xargs)" ]] ||
    fail "$zip: bin/ holds '$(sed -n 's|^bin/||p' <<<"$listing" | xargs)', expected '$expected_bin'"
  [[ "$(sed -n 's|^lib/quor/||p' <<<"$listing" | xargs)" == "README.txt rasapi32.dll rnaph.dll" ]] ||
    fail "$zip: lib/quor/ must hold exactly README.txt, rasapi32.dll and rnaph.dll"
  if grep -iE '(^|/)(rasapi32|rnaph)\.dll$' <<<"$listing" | grep -qv '^lib/quor/'; then
    fail "$zip: a simulated RAS DLL outside lib/quor/"
  fi
  for f in README.txt include/quor/TQuorComponent/TQuorComponent.h include/quor/Ras2/Ras2.h \
    include/quor/QuorVersion.h include/quor.h lib/libquor.dll.a lib/libtquor.a lib/libras2.a lib/libquorwin32.dll.a \
    lib/libvcl30.dll.a lib/cmake/Quor/QuorConfig.cmake lib/cmake/Quor/QuorConfigVersion.cmake \
    lib/cmake/Quor/QuorTargets.cmake; do
    grep -qx "$f" <<<"$listing" || fail "$zip: $f is missing"
  done
  # The headers: exactly those cmake/PublicHeaders.txt lists as installed, and QuorVersion.h.
  [[ "$(grep '^include/' <<<"$listing")" == "$( (echo include/quor/QuorVersion.h; echo include/quor.h
    awk '/^[A-Za-z]/ && $2 == "installed" {print "include/quor/" $1}' cmake/PublicHeaders.txt) | sort)" ]] ||
    fail "$zip: include/ holds other headers than cmake/PublicHeaders.txt lists"
  (cd "$work" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
  root="$work/$top"
  # README.txt inside lists exactly the DLLs to ship; README.md names every
  # file of bin/.
  [[ "$(sed -n 's|^  bin/\([^ ]*\.dll\)$|\1|p' "$root/README.txt" | sort | xargs)" == \
    "$(tr ' ' '\n' <<<"$ship" | sort | xargs)" ]] || fail "$zip: README.txt does not list exactly the DLLs: $ship"
  for f in $expected_bin; do
    grep -q "$f" README.md || fail "README.md does not mention $f of the SDK's bin/"
  done
  for f in "$root"/bin/* "$root"/lib/quor/*.dll; do
    [[ "$f" == *.txt ]] && continue
    [[ "$(pe_machine "$f")" == "$machine" ]] ||
      fail "$zip: ${f#"$root"/} is built for machine $(pe_machine "$f"), not $machine"
  done
}

# sdk <build dir> <system> <libgcc DLL> <machine> <toolchain>: cpack's zip
# quor-sdk-<version>-<system>.zip of that build, checked and unpacked, and
# tests/consumer built against it in $work/consumer-<system>.
sdk() {
  local dir="$1" system="$2" libgcc="$3" machine="$4" toolchain="$5" zip f
  echo "== SDK $system (${dir})"
  rm -f "$dir"/quor-sdk-*.zip
  (cd "$dir" && cpack -G ZIP >/dev/null) || fail "cpack could not make the SDK zip in $dir"
  zip="$( (ls "$dir"/quor-sdk-*-"$system".zip 2>/dev/null || true) | head -n1)"
  [[ -f "$zip" ]] ||
    fail "no quor-sdk-*-$system.zip in $dir (it holds: $(cd "$dir" && ls -- *.zip 2>/dev/null | xargs))"
  zip="$(realpath "$zip")"
  check_sdk "$zip" "$libgcc" "$machine"
  echo "   $zip: $(cmake -E tar tf "$zip" | grep -vc '/$') files, every program and DLL for machine $machine"
  local root="$work/$(basename "$zip" .zip)"
  # The toolchain confines package searches to the compiler's own root, so
  # the package is named by its folder.
  cmake -S tests/consumer -B "$work/consumer-$system" -DCMAKE_TOOLCHAIN_FILE="$PWD/$toolchain" \
    -DQuor_DIR="$root/lib/cmake/Quor" >/dev/null || fail "configuring tests/consumer against the $system SDK failed"
  cmake --build "$work/consumer-$system" -j"$jobs" || fail "building tests/consumer against the $system SDK failed"
  for f in "$root"/bin/*.dll; do
    # quor.dll is the C interface's: a C++ program does not need it.
    [[ "$(basename "$f")" == quor.dll ]] && continue
    [[ -f "$work/consumer-$system/$(basename "$f")" ]] ||
      fail "the consumer build against the $system SDK did not put $(basename "$f") beside the program"
  done
  [[ "$(pe_machine "$work/consumer-$system/quor_consumer.exe")" == "$machine" ]] ||
    fail "the consumer built against the $system SDK is not a program for machine $machine"
  echo "   tests/consumer built against it with find_package(Quor)"
}
sdk "$release_dir" win32 libgcc_s_dw2-1.dll 014c cmake/toolchain-mingw32.cmake
sdk "$x64_release_dir" win64 libgcc_s_seh-1.dll 8664 cmake/toolchain-mingw64.cmake

# ---------------------------------------------------------------- Wine
# The phases that run, each "<name> <loader> <server> <WINEARCH> <suite dir>
# <SDK system> <suite description>"; the 64-bit one first, so the 32-bit one
# loads the form the 64-bit designer saved.
phases=()
skips=()
if [[ -z "$wine64_why" ]]; then
  phases+=("x64 $WINE64 $WINESERVER64 win64 $x64_dir win64 x86-64_under_64-bit_Wine")
else
  skips+=("x86-64 suites: $wine64_why")
fi
if [[ "$route" == i686 && -z "$wine32_why" ]]; then
  phases+=("i686 wine wineserver win32 $build_dir win32 i686_under_32-bit_Wine")
elif [[ "$route" == i686 ]]; then
  skips+=("i686 suites: $wine32_why")
fi
if ((${#phases[@]} == 0)); then
  echo "SKIP windows suites and consumer runs: ${skips[*]} (the builds above succeeded)"
  exit 0
fi

winpath() { echo "Z:${1//\//\\}"; }
WINEPREFIX=""
cleanup() {
  if [[ -n "$WINEPREFIX" ]]; then
    WINEPREFIX="$WINEPREFIX" "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb and ImageMagick for the QuorDialer screenshot test.
bash .ci/gui-deps.sh

# prepare_prefix: a fresh headless prefix for $WINE / $WINESERVER_BIN and
# $WINEARCH, with one persistent server.
prepare_prefix() {
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/quor-wine.XXXXXX")"
  export WINEPREFIX WINEDEBUG=-all
  # No X server: keep Wine from looking for one.
  unset DISPLAY WAYLAND_DISPLAY
  echo "== preparing a headless Wine prefix (${WINEARCH})"
  local boot_log="$WINEPREFIX.boot.log"
  # The server writes the registry files when it goes idle: wait for it
  # before checking them.
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
  # One persistent server, so that each test program starts in a fraction of
  # a second. It and the services Wine starts keep the caller's output open,
  # hence the redirections.
  "$WINESERVER_BIN" -p </dev/null >/dev/null 2>&1
  timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || fail "the Wine prefix is unusable: 'cmd /c exit' failed"
}

# run_consumer <SDK system>: the consumer built against that SDK dials the
# demo entry in a private phonebook; Wine loads our rasapi32.dll beside the
# program only with the override.
run_consumer() {
  local system="$1" exe="$work/consumer-$1/quor_consumer.exe" out
  mkdir -p "$work/ras-$system"
  printf '[Office]\r\nDEVICE=modem\r\nPhoneNumber=555-0100\r\nQuorStepDelay=20\r\n' >"$work/ras-$system/rasphone.pbk"
  out="$(QUOR_RAS_PHONEBOOK="$(winpath "$work/ras-$system/rasphone.pbk")" \
    QUOR_RAS_CREDENTIALS="$(winpath "$work/ras-$system/credentials.dat")" \
    QUOR_RAS_STATE_DIR="$(winpath "$work/ras-$system/state")" \
    WINEDLLOVERRIDES=rasapi32=n timeout 120 "$WINE" "$exe" Office </dev/null 2>&1)" ||
    fail "the consumer program of the $system SDK under Wine failed: ${out//$'\n'/ | }"
  out="$(tr -d '\r' <<<"$out")"
  printf '%s\n' "$out"
  # Dialled through the copy beside the program, not Wine's built-in library.
  grep -q "^Quor [0-9]" <<<"$out" && grep -q "Connected" <<<"$out" &&
    grep -qix "rasapi32.dll: .*\\\\consumer-$system\\\\rasapi32.dll" <<<"$out" ||
    fail "the consumer of the $system SDK under Wine did not dial the demo entry through the SDK's simulated RAS"
  # With the system-only opt-in the copy beside the program is passed over
  # for the system's library (Wine's own; whether its dial works is Wine's
  # matter). Native first, then built-in: the prefix's system folder holds
  # only a placeholder of Wine's built-in library, which "native only"
  # refuses to load, while the copy beside the program would still be taken
  # first without the opt-in.
  out="$(WINEDLLOVERRIDES=rasapi32=n,b timeout 120 "$WINE" "$exe" --system-ras Office </dev/null 2>&1 |
    tr -d '\r')" || true
  grep -qiE 'rasapi32.dll: .*\\(system32|syswow64)\\rasapi32.dll' <<<"$out" ||
    fail "with --system-ras the consumer of the $system SDK did not load the system's rasapi32.dll: ${out//$'\n'/ | }"
  echo "consumer of the $system SDK under Wine: dialled the demo entry through the SDK; --system-ras loaded the" \
    "system's rasapi32.dll"
}

# exchange_forms <name> <build dir>: the build's designer host loads the
# reference form and each form a build before it saved, and saves each again:
# byte for byte the reference. Its own save is left for the builds after it.
forms="$work/forms"
mkdir -p "$forms/saved" "$forms/out"
exchange_forms() {
  local name="$1" bin="$2/bin" ref="$PWD/tests/package/forms/Dialer.txt" from out log
  for from in "$ref" "$forms"/saved/*.txt; do
    [[ -f "$from" ]] || continue
    out="$forms/out/$name-from-$(basename "$from")"
    log="$(cd "$bin" && QUOR_RAS_PHONEBOOK="$(winpath "$forms/rasphone.pbk")" WINEDLLOVERRIDES=rasapi32=n \
      timeout 120 "$WINE" quordesigner.exe TQuor30.dpl --load "$(winpath "$from")" --save "$(winpath "$out")" \
      </dev/null 2>&1)" || fail "$name designer host: loading and saving $from failed: ${log//$'\n'/ | }"
    cmp -s "$ref" "$out" ||
      fail "$name designer host: $from loaded and saved again differs from $ref: $(diff "$ref" "$out" | tr "\n" " ")"
    echo "   $name designer host: $(basename "$(dirname "$from")")/$(basename "$from") loaded and saved again," \
      "byte for byte tests/package/forms/Dialer.txt"
  done
  cp "$forms/out/$name-from-Dialer.txt" "$forms/saved/$name.txt"
}

suites_ran=()
failed=()
for phase in "${phases[@]}"; do
  read -r name WINE WINESERVER_BIN WINEARCH suite_dir system description <<<"$phase"
  description="${description//_/ }"
  t0=$SECONDS
  export WINEARCH
  # The 64-bit loader, started directly, is told which server to use; the
  # 32-bit one finds its own.
  if [[ "$name" == x64 ]]; then export WINESERVER="$WINESERVER_BIN"; else unset WINESERVER; fi
  prepare_prefix
  run_consumer "$system"
  echo "== forms saved and loaded across builds ($name)"
  exchange_forms "$name" "$suite_dir"
  echo "== windows suites: ${description} (${suite_dir})"
  export QUOR_WINE_START_LOG="$work/wine-restarts-$name.log"
  ok=1
  ctest --test-dir "$suite_dir" --output-on-failure -j1 --timeout 300 || ok=0
  if [[ -s "$QUOR_WINE_START_LOG" ]]; then
    echo "Wine ended these programs before they ran, and they were started once more:"
    sed 's/^/  /' "$QUOR_WINE_START_LOG"
  fi
  ((ok)) && suites_ran+=("$description") || failed+=("$description")
  "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  WINEPREFIX=""
  echo "   phase $name (Wine prefix, consumer, forms, suites) took $((SECONDS - t0)) s"
done
((${#failed[@]} == 0)) || fail "windows suites ($(IFS=,; echo "${failed[*]}")): the tests above failed"
for s in "${skips[@]}"; do echo "SKIP $s"; done
echo "windows.sh: route $route took $SECONDS s"
echo "windows suites: $(printf '%s, ' "${suites_ran[@]}" | sed 's/, $//')"
