#!/usr/bin/env bash
# Renders every SVG picture under resources/icons to PNG at the sizes the
# program shows them (16, 22, 24, 32 and 48 pixels) and builds one contact
# sheet, so that a person can check that each picture is crisp and that the
# lights stay apart without their colours.
#
#   scripts/render-icons.sh OUTPUT_FOLDER
#
# OUTPUT_FOLDER receives NAME-SIZE.png for every picture and size, and
# contact-sheet.png: one row per picture with the five sizes on a light
# background, 16 and 24 pixels on a dark panel (as in a dark tray), and the
# 16-pixel picture magnified four times without smoothing, to show each pixel.
# Needs rsvg-convert (Debian librsvg2-bin) and ImageMagick's montage.
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 OUTPUT_FOLDER" >&2
  exit 2
fi

for tool in rsvg-convert montage; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$0: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
icons="$here/../resources/icons"
out="$1"
mkdir -p "$out"
rows="$(mktemp -d)"
trap 'rm -rf "$rows"' EXIT

sizes=(16 22 24 32 48)
light='#f0f0f0'
dark='#2e3436'

shopt -s nullglob
svgs=("$icons"/*.svg)
if [ ${#svgs[@]} -eq 0 ]; then
  echo "$0: no SVG files in $icons" >&2
  exit 1
fi

n=0
for svg in "${svgs[@]}"; do
  name="$(basename "$svg" .svg)"
  tiles=()
  for size in "${sizes[@]}"; do
    rsvg-convert -w "$size" -h "$size" -o "$out/$name-$size.png" "$svg"
    rsvg-convert -w "$size" -h "$size" -b "$light" -o "$rows/$name-l$size.png" "$svg"
    tiles+=("$rows/$name-l$size.png")
  done
  for size in 16 24; do
    rsvg-convert -w "$size" -h "$size" -b "$dark" -o "$rows/$name-d$size.png" "$svg"
    tiles+=("$rows/$name-d$size.png")
  done
  # Point sampling keeps the pixels square, so blur at 16 pixels shows.
  montage "$rows/$name-l16.png" -filter point -resize 400% -geometry +0+0 "$rows/$name-x4.png"
  tiles+=("$rows/$name-x4.png")
  n=$((n + 1))
  row="$rows/row-$(printf '%03d' "$n")-$name.png"
  montage "${tiles[@]}" -background white -gravity center -tile x1 -geometry +3+3 "$row"
  # The row's label is the picture's name.
  montage -label "$name" "$row" -background white -pointsize 11 -geometry +0+0 "$row"
done

montage "$rows"/row-*.png -background white -tile 2x -geometry +8+6 "$out/contact-sheet.png"
echo "rendered ${#svgs[@]} pictures into $out (contact sheet: $out/contact-sheet.png)"
