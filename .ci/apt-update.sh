#!/usr/bin/env bash
# Refreshes the package lists, retrying a mirror that is mid-sync. A list that
# still fails after the retries is reported and the lists already on the
# machine are used: the installs that follow fail clearly if a package is
# really missing, so a mirror's hiccup on one index does not fail a run whose
# packages are all reachable.
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive
for attempt in 1 2 3; do
  if apt-get update -qq; then exit 0; fi
  echo "apt-update: apt-get update failed (attempt $attempt of 3)" >&2
  ((attempt < 3)) && sleep $((attempt * 10))
done
if compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
  echo "apt-update: going on with the package lists already on this machine" >&2
  exit 0
fi
echo "apt-update: no package lists on this machine" >&2
exit 1
