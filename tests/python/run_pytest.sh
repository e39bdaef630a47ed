#!/usr/bin/env bash
# Runs the package's pytest suite with the given interpreter; 77 (skip) when it has no pytest.
set -euo pipefail
python=$1
shift
"$python" -c "import pytest" 2>/dev/null || { echo "SKIP: $python has no pytest (apt-get install python3-pytest)"; exit 77; }
exec "$python" -m pytest -q -p no:cacheprovider "$@"
