#!/usr/bin/env bash
# Fuzzes the readers of what a user or another process may have written
# (phonebook format, scenario language, form reader, credential file,
# connection records, dialler notes, quor's command line) and the C
# interface (random call sequences against the simulated RAS service) with
# libFuzzer, about 20 s each (under three minutes in all, plus a clang build of
# the libraries they reach: a few minutes on two cores). The
# checked-in corpora under tests/fuzz/corpus seed each run; what a run finds
# new stays in the build folder. A crash, a leak or a broken check fails CI,
# with the input left as build/fuzz/artifacts/<target>-*.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  if [[ $(id -u) -eq 0 ]]; then
    bash .ci/apt-update.sh
    apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null 2>&1 ||
      apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
  else
    echo "fuzz: clang with libFuzzer is not installed and this is not root: skipped" >&2
    exit 0
  fi
fi
seconds="${QUOR_FUZZ_SECONDS:-20}"
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOR_FUZZ=ON \
  -DQUOR_BUILD_BENCHMARKS=OFF -DQUOR_WERROR=OFF >/dev/null
targets="phonebook_fuzz scenario_fuzz form_fuzz credentials_fuzz records_fuzz diallers_fuzz options_fuzz capi_fuzz"
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets >/dev/null
mkdir -p "$build/artifacts"
for target in $targets; do
  mkdir -p "$build/corpus/$target"
  echo "== fuzzing $target for ${seconds}s"
  (cd "$build/bin/fuzz" && ASAN_OPTIONS=detect_leaks=1 "./$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$PWD/../../artifacts/$target-" \
    "$PWD/../../corpus/$target" "$OLDPWD/tests/fuzz/corpus/$target" 2>&1 | tail -12)
done
