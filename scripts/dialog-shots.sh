#!/bin/bash
# Pictures of every dialog page in each shipped language, at scale 1 and 2,
# drawn on a private X display, for a person to look at.
#   scripts/dialog-shots.sh [BUILD_DIR] [OUTPUT_DIR]
# BUILD_DIR defaults to build/asan (its dialog_shots program is built if
# missing), OUTPUT_DIR to BUILD_DIR/dialog-shots.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/asan}
out=${2:-$build/dialog-shots}
program=$build/tests/integration/gui/dialog_shots
languages=(English German Russian)

command -v Xvfb >/dev/null || { echo "dialog-shots: Xvfb is missing (scripts/setup.sh)" >&2; exit 1; }
[ -x "$program" ] || cmake --build "$build" --target dialog_shots

# A display number that nobody uses.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "dialog-shots: no free display" >&2; exit 1; }

work=$(mktemp -d)
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

export DISPLAY=":$display" QT_QPA_PLATFORM=xcb HOME="$work" XDG_RUNTIME_DIR="$work"
mkdir -p "$out"
for scale in 1 2; do
  QT_SCALE_FACTOR=$scale "$program" "$root/resources/lang" "$out" "${languages[@]}"
done
echo "dialog-shots: $(ls "$out"/*.png | wc -l) pictures in $out"
