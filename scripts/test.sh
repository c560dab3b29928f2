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
# The Windows build (MinGW-w64) and its tests under Wine; WINDOWS=0 leaves
# them out for a quick local run.
if [ "${WINDOWS:-1}" != 0 ]; then
  scripts/windows-test.sh
fi
# The fuzz targets (clang, libFuzzer) build and run a few seconds each from
# their seed corpora; FUZZ=0 leaves them out. scripts/fuzz.sh SECONDS runs
# them longer.
if [ "${FUZZ:-1}" != 0 ]; then
  scripts/fuzz.sh 3
fi
