#!/usr/bin/env bash
# The window's Windows build as far as it can go here: configures the
# project with the MinGW toolchain against the Qt for Windows that
# SENTREL_QT_WINDOWS names (none here by default). Without that Qt the
# configure must stop at once with a message that says what to install;
# with it, the window's target must be there.
#
# Usage: window_configure.sh SOURCE_ROOT TOOLCHAIN_FILE
set -euo pipefail
root=$1
toolchain=$2
qt=${SENTREL_QT_WINDOWS:-/opt/no-qt-for-windows}
build=$(mktemp -d /tmp/sentrel-window-configure.XXXXXX)
trap 'rm -rf "$build"' EXIT

if cmake -S "$root" -B "$build" -G Ninja --toolchain "$toolchain" -DSENTREL_BUILD_TESTS=OFF \
     -DSENTREL_QT_WINDOWS="$qt" >"$build/log" 2>&1; then
  grep -q 'sentrel_gui' "$build/build.ninja" || { cat "$build/log"; echo "FAILED: no window target"; exit 1; }
  echo "passed: the window configured against $qt"
  exit 0
fi
# CMake folds its messages; the sentence is read as one line.
tr -s ' \n' '  ' <"$build/log" | grep -q "SENTREL_QT_WINDOWS=$qt holds no Qt 6.4 or newer for Windows" ||
  { cat "$build/log"; echo "FAILED: the configure failed without saying that Qt is missing"; exit 1; }
[ ! -f "$build/build.ninja" ] || { echo "FAILED: a build was generated all the same"; exit 1; }
echo "passed: without Qt for Windows the configure stops with a clear message"
