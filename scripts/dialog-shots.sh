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

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display itself (-displayfd), so parallel runs never share one.
source "$root/scripts/xvfb.sh"
start_xvfb "$work" 1920x1080x24 || { echo "dialog-shots: Xvfb did not start" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb HOME="$work" XDG_RUNTIME_DIR="$work"
mkdir -p "$out"
for scale in 1 2; do
  QT_SCALE_FACTOR=$scale "$program" "$root/resources/lang" "$out" "${languages[@]}"
done
echo "dialog-shots: $(ls "$out"/*.png | wc -l) pictures in $out"
