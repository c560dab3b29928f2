#!/usr/bin/env bash
# The Windows service under Wine: --install-service registers it with the
# service control manager (a second install is refused), "net start" runs
# the engine with checks on (the online line in the log of the data folder,
# the metrics endpoint named at install answers), pausing stops the checks
# where Wine's sc can pause, "net stop" ends it after it saved ("isPinging"),
# the service manager starts it by itself at its own start and it checks
# then too, its boxes go to the event log, and --uninstall-service removes
# it and keeps the data.
#
# Usage: windows_service_e2e.sh SENTREL_EXE WINE_LOADER. Exit 77 = skipped.
set -euo pipefail

exe=$1
wine=$2
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] ||
  { echo "skipped: no prepared WINEPREFIX"; exit 77; }
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d /tmp/sentrel-wine-service.XXXXXX)
cleanup() {
  timeout 60 "$wine" "$exe" --uninstall-service >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for f in "$work"/* "$log"; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
  exit 1
}
wait_for() {
  local tries=$(( $1 * 5 )); shift
  for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}
sentrel() { timeout 60 "$wine" "$exe" "$@"; }
w() { timeout 60 "$wine" "$@"; }

appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -path '*/AppData/Roaming' | head -n 1)
log=$appdata/Sentrel/sentrel.log
w reg delete 'HKCU\Software\Sentrel' /f >/dev/null 2>&1 || true
rm -rf "$appdata/Sentrel"
sentrel --add 127.0.0.1 --name loopback >/dev/null 2>&1 || fail "--add"
# A box at the first reply (a renewal alarm), which a service writes to the
# event log: nobody would see its window.
sed -i 's|^</H>\r$|<WIA>T</WIA>\r\n<WISB>T</WISB>\r\n<WMB>loopback answers</WMB>\r\n</H>\r|' \
  "$appdata/Sentrel/sentrel.xml"
grep -q '<WISB>T</WISB>' "$appdata/Sentrel/sentrel.xml" || fail "the host file took no box"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

sentrel --install-service --metrics "127.0.0.1:$port" >"$work/install" 2>&1 || fail "--install-service"
sentrel --install-service >"$work/again" 2>&1 && fail "a second install was not refused"
grep -q 'installed already' "$work/again" || fail "the second install gave another reason"
w sc qc Sentrel >"$work/qc" 2>&1 || true

# Wine's service manager starts the services marked to start with the
# system whenever it starts itself, which it may have done since the install.
w net start Sentrel >"$work/start" 2>&1 || grep -q 'already running' "$work/start" || fail "net start"
wait_for 60 grep -q 'is online' "$log" 2>/dev/null || fail "the service logged no online line"
metrics() { curl -sf --max-time 5 "http://127.0.0.1:$port/metrics" >"$work/metrics"; }
wait_for 20 metrics || fail "the service's metrics endpoint does not answer"
grep -q '^sentrel_checks_running 1' "$work/metrics" || fail "checks are not running"

# Pause = stop pinging, where Wine's sc knows the control.
if w sc pause Sentrel >"$work/pause" 2>&1; then
  paused() { metrics && grep -q '^sentrel_checks_running 0' "$work/metrics"; }
  wait_for 20 paused || fail "pausing did not stop the checks"
  w sc continue Sentrel >"$work/continue" 2>&1 || fail "sc continue"
  running() { metrics && grep -q '^sentrel_checks_running 1' "$work/metrics"; }
  wait_for 20 running || fail "continuing did not start the checks"
  echo "pause and continue ran"
else
  echo "Wine's sc cannot pause a service here; pause not tried"
fi

w net stop Sentrel >"$work/stop" 2>&1 || fail "net stop"
w reg query 'HKCU\Software\Sentrel\MainForm' /v isPinging >"$work/reg" 2>&1 || fail "the service saved no running state"
grep -Eq 'isPinging[[:space:]]+REG_SZ[[:space:]]+1' "$work/reg" || fail "isPinging not saved by the service"

# Started by the service manager at its own start, as at the system's: the
# ICMP library's device comes from a driver started beside the services and
# may not be there yet. The server of this run goes and a new one comes,
# kept as the run's server was (see scripts/windows-test.sh).
: >"$log"
timeout 30 wineserver -k || true
timeout 30 wineserver -w || true
# Wine's event log prints its entries on the channel "eventlog" of the
# service's output, which is that of the process that starts the manager.
wineserver -p </dev/null >/dev/null 2>&1
WINEDEBUG=-all,+eventlog timeout 120 "$wine" wineboot </dev/null >/dev/null 2>"$work/services" || true
wait_for 60 grep -q 'is online' "$log" 2>/dev/null ||
  fail "the service started with the service manager logged no online line"
wait_for 20 grep -q 'loopback answers' "$work/services" || fail "the box did not reach the event log"

sentrel --uninstall-service >"$work/uninstall" 2>&1 || fail "--uninstall-service"
sentrel --uninstall-service >"$work/gone" 2>&1 && fail "a removed service was removed again"
grep -q 'not installed' "$work/gone" || fail "the second removal gave another reason"
[ -f "$appdata/Sentrel/sentrel.xml" ] || fail "removing the service took the data"
echo "passed: service installed, started, metrics served, stopped with its save, started with" \
  "the service manager, removed"
