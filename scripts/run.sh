#!/usr/bin/env bash
# Sets up, builds the release and starts Sentrel.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
# Until the application exists, the newest runnable part is the test suite.
ctest --preset release
