#!/usr/bin/env bash
# The Windows leg of the tests: cross-builds the program and its unit tests
# with MinGW-w64 (preset windows, with SQLite and libmicrohttpd built for the
# target by scripts/windows-deps.sh) and runs them under Wine in a throwaway
# prefix made here, without an X display. As root, Wine runs in a network
# namespace of its own with only a loopback, so that tests may make the
# loopback stop answering. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--under-wine" ]; then
  # SQLite and libmicrohttpd for the target, built once and kept in build/.
  scripts/windows-deps.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
    exec unshare --net -- "$0" --under-wine
  fi
  exec "$0" --under-wine
fi
[ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ] || ip link set lo up

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
# Wine's null display driver: windows without a display, as a service or a
# program without a desktop has them (the hidden window that taskkill asks).
# It takes effect when the prefix's processes start again.
timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null
timeout 30 wineserver -k || true
timeout 30 wineserver -w || true
# One server for the whole run: otherwise it ends between two commands, and
# its service manager, starting again, starts the installed service itself.
# The server and the prefix's own processes start here, without our output:
# started by a test, they would hold its output open and ctest would wait.
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine wineboot </dev/null >/dev/null 2>&1 || true
ctest --preset windows -j"$(nproc)"
