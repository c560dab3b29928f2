#!/usr/bin/env bash
# Without any display the program says so in one line, points to the
# headless runner, and exits with 1; it leaves no lock behind.
# Usage: no_display.sh SENTREL_BINARY
set -euo pipefail
work=$(mktemp -d /tmp/sentrel-nodisplay.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/run"
chmod 700 "$work/run"
code=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work" XDG_CONFIG_HOME="$work/config" \
  XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" "$1" >"$work/out" 2>"$work/err" || code=$?
[ "$code" -eq 1 ] || { echo "FAILED: exit code $code"; cat "$work/err"; exit 1; }
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -q -- '--headless' "$work/err" ||
  { echo "FAILED: expected one line naming --headless:"; cat "$work/err"; exit 1; }
[ ! -s "$work/out" ] || { echo "FAILED: printed on standard output"; exit 1; }
echo "said: $(cat "$work/err")"
