#!/usr/bin/env bash
# The Debian package of this build: it builds, and it holds the program, its
# menu entry, its icons, help pages and language files, with the Qt
# libraries among its dependencies.
#
# Usage: debian_package.sh BUILD_DIR. Exit 77 = skipped.
set -euo pipefail
build=$1
command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null ||
  { echo "skipped: cpack, dpkg-deb or dpkg-shlibdeps missing"; exit 77; }
out=$(mktemp -d /tmp/sentrel-deb.XXXXXX)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' >"$out/contents"
fail() { echo "FAILED: $*"; cat "$out/contents"; exit 1; }
for path in ./usr/bin/sentrel ./usr/share/applications/sentrel.desktop \
    ./usr/share/icons/hicolor/scalable/apps/sentrel.svg \
    ./usr/share/sentrel/help/index.html ./usr/share/sentrel/help/contexts.txt \
    ./usr/share/sentrel/lang/English.lng ./usr/share/sentrel/lang/German.lng \
    ./usr/share/sentrel/lang/Russian.lng ./usr/share/sentrel/icons/state-5-lost.svg \
    ./usr/share/sentrel/prometheus/sentrel-rules.yml; do
  grep -qx "$path" "$out/contents" || fail "$path missing from the package"
done
if command -v rsvg-convert >/dev/null; then
  grep -qx ./usr/share/icons/hicolor/48x48/apps/sentrel.png "$out/contents" || fail "no 48x48 icon"
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6svg6 libqt6multimedia6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
echo "package $(basename "$deb"): $(wc -l <"$out/contents") entries; Depends: $depends"
