#!/usr/bin/env bash
# The Windows leg of the tests: cross-builds the program and its unit tests
# with MinGW-w64 (preset windows) and runs them under Wine in a throwaway
# prefix made here, without an X display. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows >/dev/null
cmake --build --preset windows

prefix=$(mktemp -d /tmp/sentrel-wineprefix.XXXXXX)
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  # Ends this prefix's wine server (and so its processes) only.
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# A new prefix takes some seconds to set up; a hung setup must not hold CI.
timeout 300 wine wineboot -i >/dev/null 2>&1 || { echo "wineboot failed or timed out"; exit 1; }
ctest --preset windows -j"$(nproc)"
