#!/usr/bin/env bash
# Runs one live suite inside the NetworkManager rig, when asked to
# (QUOR_NM_RIG_ENABLE=1); a skip otherwise.
if [[ "${QUOR_NM_RIG_ENABLE:-}" != 1 ]]; then
  echo "SKIP: NetworkManager rig not enabled (QUOR_NM_RIG_ENABLE=1, as root; .ci/nm.sh)"
  exit 77
fi
exec bash "$(dirname "$0")/rig.sh" run "$@"
