#!/usr/bin/env bash
# What the QuorDialer screenshot test needs: a private X server (xvfb-run,
# xauth) and ImageMagick's import. Idempotent; about 20 s when installing.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v import >/dev/null 2>&1 || ! command -v xauth >/dev/null 2>&1; then
  echo "== installing xvfb, xauth and imagemagick for the GUI screenshot test"
  bash "$(dirname "$0")/apt-update.sh"
  apt-get install -y -qq --no-install-recommends xvfb xauth imagemagick >/dev/null
fi
