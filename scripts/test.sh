#!/usr/bin/env bash
# Sets up, builds and runs every test. PRESET selects the build (default asan:
# address and undefined-behaviour sanitizers). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${PRESET:-asan}"
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j"$(nproc)"
