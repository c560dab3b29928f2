#!/usr/bin/env bash
# End to end on Windows, under Wine: the command line adds and lists a host,
# the headless runner pings it through the ICMP library and shows the online
# line, a second instance is refused by the named mutex, Ctrl+C ends the run
# cleanly, the options come from and "isPinging" goes to Wine's registry, and
# the host file lives in the prefix's roaming application-data folder.
#
# Usage: windows_e2e.sh SENTREL_EXE WINE_LOADER. Runs in $WINEPREFIX, which
# the caller made (scripts/windows-test.sh); exit 77 = skipped without one.
set -euo pipefail

exe=$1
wine=$2
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] ||
  { echo "skipped: no prepared WINEPREFIX"; exit 77; }
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d /tmp/sentrel-wine-e2e.XXXXXX)
runner=""
cleanup() {
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for f in "$work"/*; do echo "--- $f"; cat "$f"; done
  exit 1
}

# wait_for SECONDS COMMAND...: polls every 0.2 s, bounded.
wait_for() {
  local tries=$(( $1 * 5 )); shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

sentrel() { timeout 60 "$wine" "$exe" "$@"; }
reg() { timeout 60 "$wine" reg "$@"; }

reg delete 'HKCU\Software\Sentrel' /f >/dev/null 2>&1 || true
# An option the runner must read from the registry: the log folder.
reg add 'HKCU\Software\Sentrel\Options' /v PathToLog /t REG_SZ /d 'C:\sentrel-log' /f >/dev/null ||
  fail "reg add"
appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -path '*/AppData/Roaming' | head -n 1)
[ -n "$appdata" ] || fail "no roaming application-data folder in the prefix"
rm -rf "$appdata/Sentrel" "$WINEPREFIX/drive_c/sentrel-log"

sentrel --add 127.0.0.1 --name loopback >"$work/add" 2>&1 || fail "--add"
grep -q '127.0.0.1' "$appdata/Sentrel/sentrel.xml" || fail "no host file in $appdata/Sentrel"
sentrel --list >"$work/list" 2>&1 || fail "--list"
grep -q '127.0.0.1' "$work/list" || fail "--list does not show the host"

"$wine" "$exe" --headless --ping >"$work/out" 2>"$work/err" &
runner=$!
wait_for 60 grep -q 'is online' "$work/out" || fail "no online line"

sentrel --headless >"$work/second" 2>&1 || fail "the second instance failed instead of ending"
grep -q 'already running' "$work/second" || fail "the second instance was not refused"

# Wine turns SIGINT into the console's Ctrl+C.
kill -INT "$runner"
wait_for 30 bash -c "! kill -0 $runner 2>/dev/null" || fail "Ctrl+C did not end the run"
wait "$runner" || fail "the run ended with an error"
runner=""

reg query 'HKCU\Software\Sentrel\MainForm' /v isPinging >"$work/reg" 2>&1 || fail "reg query"
grep -Eq 'isPinging[[:space:]]+REG_SZ[[:space:]]+1' "$work/reg" || fail "isPinging not stored"
grep -q 'is online' "$WINEPREFIX/drive_c/sentrel-log/sentrel.log" ||
  fail "no sentrel.log in the folder the registry named"
echo "passed: add, list, online line, second instance refused, registry read and written"
