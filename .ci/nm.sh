#!/usr/bin/env bash
# The NetworkManager backend: installs libnm and the rig's packages (without
# starting anything on this machine; tests/nm/install.sh), builds the backend
# module, the component, quor and the suites, and runs them against a real
# NetworkManager inside the rig's own namespaces (tests/nm/rig.sh): the
# backend's own suite, the component end to end, quor, and the RAS contract
# suite with the library on this backend. A few minutes on two cores (4.7 min
# in one run with the packages present; the backend's suite ~35 s and the
# component's ~50 s of it, most of that the component's fixed 2 s hang-up
# pauses, NetworkManager's loss timers, the bounded dial loops and the
# backend's 5 s wait for a NetworkManager that answers late).
# Where namespaces cannot be made the rig prints a SKIP line and this step passes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tests/nm/install.sh
cmake --preset ci -B build/nm >/dev/null
cmake --build build/nm -j2 --target nm_map_tests nm_backend_tests nm_component_tests quor rasapi32 \
  rasbackend_networkmanager rasbackend_networkmanager-brief rassim_contract_tests rassim_helper rnaph quor_c
build/nm/bin/nm_map_tests --gtest_brief=1
contract="env QUOR_RAS_BACKEND=networkmanager QUOR_RAS_CONTRACT_TARGET=networkmanager build/nm/bin/rassim_contract_tests"
suites=("build/nm/bin/nm_backend_tests --gtest_brief=1" "build/nm/bin/nm_component_tests --gtest_brief=1"
        "bash tests/nm/cli_test.sh build/nm/bin" "$contract --gtest_brief=1")
# The Python package over the C library, when Debian's pytest is installed (.ci/run installs it).
if /usr/bin/python3 -c "import pytest" 2>/dev/null; then
  suites+=("env QUOR_RAS_BACKEND=networkmanager QUOR_LIBRARY=$PWD/build/nm/bin/libquor.so.0 \
LD_LIBRARY_PATH=$PWD/build/nm/bin PYTHONPATH=$PWD/bindings/python PYTHONDONTWRITEBYTECODE=1 \
/usr/bin/python3 -m pytest -q -p no:cacheprovider $PWD/tests/nm/test_python_nm.py")
fi
# With QUOR_NM_BENCH=1: also `quor dial` and `quor hangup` beside nmcli's, from a release build (bench/README.md).
if [[ ${QUOR_NM_BENCH:-0} == 1 ]]; then
  cmake --preset release -B build/nm-release >/dev/null
  cmake --build build/nm-release -j2 --target quor rasapi32 rasbackend_networkmanager rasbackend_networkmanager-brief rnaph
  suites+=("bash bench/nm_dial.sh build/nm-release/bin 7")
fi
for suite in "${suites[@]}"; do
  echo "-- rig: $suite"
  set +e
  # shellcheck disable=SC2086
  bash tests/nm/rig.sh run $suite
  status=$?
  set -e
  if [[ $status -eq 77 ]]; then
    echo "SKIP: NetworkManager suites (see the reason above)"
    exit 0
  fi
  [[ $status -eq 0 ]] || exit $status
done
