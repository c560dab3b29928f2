#!/usr/bin/env bash
# End to end on Windows, under Wine: the command line adds and lists hosts
# with names beyond ASCII (with a console and without one), the headless
# runner pings through the ICMP library and shows the online line, a second
# instance is refused by the named mutex, Ctrl+C and taskkill (WM_CLOSE to
# the hidden window) both end the run after it saved, the options come from
# Wine's registry (the log folder as an expandable string) and "isPinging"
# goes there while values added to the registry during a run stay, and the
# host file lives in the roaming application-data folder.
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
# An option the runner must read from the registry: the log folder, stored
# expandable as deployment tools write it.
reg add 'HKCU\Software\Sentrel\Options' /v PathToLog /t REG_EXPAND_SZ /d '%SystemDrive%\sentrel-log' \
  /f >/dev/null || fail "reg add"
appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -path '*/AppData/Roaming' | head -n 1)
[ -n "$appdata" ] || fail "no roaming application-data folder in the prefix"
rm -rf "$appdata/Sentrel" "$WINEPREFIX/drive_c/sentrel-log"

sentrel --add 127.0.0.1 --name loopback >"$work/add" 2>&1 || fail "--add"
grep -q '127.0.0.1' "$appdata/Sentrel/sentrel.xml" || fail "no host file in $appdata/Sentrel"
sentrel --list >"$work/list" 2>&1 || fail "--list"
grep -q '127.0.0.1' "$work/list" || fail "--list does not show the host"

# Names beyond ASCII and the ANSI code page, without a console (the output
# is then UTF-8) and from a console (a terminal Wine makes one of; the
# console gets wide text, shown in the terminal's UTF-8).
console() { SHELL=/bin/bash script -qec "$(printf '%q ' timeout 60 "$wine" "$exe" "$@")" /dev/null |
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g'; }
sentrel --add 127.0.0.2 --name 'Zürich' >"$work/add-unicode" 2>&1 || fail "--add Zürich"
console --add 127.0.0.3 --name 'Москва' >"$work/add-console" 2>&1 || fail "--add Москва"
sentrel --list >"$work/list" 2>&1 || fail "--list"
grep -q 'Zürich' "$work/list" && grep -q 'Москва' "$work/list" ||
  fail "--list without a console does not give the names back"
console --list >"$work/list-console" 2>&1 || fail "--list in a console"
grep -q 'Zürich' "$work/list-console" && grep -q 'Москва' "$work/list-console" ||
  fail "--list in a console does not show the names"
grep -q 'Москва' "$appdata/Sentrel/sentrel.xml" || fail "the host file does not hold the name as UTF-8"
sentrel --remove 3 >/dev/null 2>&1 && sentrel --remove 2 >/dev/null 2>&1 || fail "--remove"

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

# taskkill without /F: WM_CLOSE to the hidden window, then the same orderly
# stop. Wine makes windows without a display only with its null driver,
# which scripts/windows-test.sh sets for the prefix.
reg add 'HKCU\Software\Sentrel\MainForm' /v isPinging /t REG_SZ /d 0 /f >/dev/null || fail "reg add"
"$wine" "$exe" --headless --ping >"$work/out" 2>"$work/err" &
runner=$!
wait_for 60 grep -q 'is online' "$work/out" || fail "no online line in the second run"
# Values that someone adds while it runs, beside those it reads and writes,
# outlive its stop: it writes back only what it changed itself.
reg add 'HKCU\Software\Sentrel\Options' /v Subject /t REG_SZ /d 'added meanwhile' /f >/dev/null ||
  fail "reg add"
reg add 'HKCU\Software\Sentrel\MainForm' /v Left /t REG_SZ /d 42 /f >/dev/null || fail "reg add"
timeout 60 "$wine" taskkill /IM sentrel.exe >"$work/taskkill" 2>&1 || fail "taskkill"
wait_for 30 bash -c "! kill -0 $runner 2>/dev/null" || fail "taskkill did not end the run"
wait "$runner" || fail "the run ended with an error after taskkill"
runner=""
reg query 'HKCU\Software\Sentrel\MainForm' /v isPinging >"$work/reg" 2>&1 || fail "reg query"
grep -Eq 'isPinging[[:space:]]+REG_SZ[[:space:]]+1' "$work/reg" || fail "isPinging not saved on taskkill"
reg query 'HKCU\Software\Sentrel\Options' /v Subject >"$work/reg" 2>&1 &&
  grep -q 'added meanwhile' "$work/reg" || fail "an option added during the run did not survive its stop"
reg query 'HKCU\Software\Sentrel\MainForm' /v Left >"$work/reg" 2>&1 &&
  grep -Eq 'Left[[:space:]]+REG_SZ[[:space:]]+42' "$work/reg" ||
  fail "a value added beside isPinging during the run did not survive its stop"
echo "passed: add and list beyond ASCII, online line, second instance refused, Ctrl+C and" \
  "taskkill stop in order, registry read and written, values added meanwhile kept"
