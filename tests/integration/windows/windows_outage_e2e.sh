#!/usr/bin/env bash
# End to end on Windows, under Wine, in a network namespace of its own (as
# scripts/windows-test.sh runs Wine as root), where the loopback can be told
# to stop answering pings without touching anything else: the headless runner
# records an outage of 127.0.0.1 in its history, sends the loss mail to the
# SMTP port stored as a 32-bit number (REG_DWORD) and serves its metrics;
# `--history` then shows the outage.
#
# Usage: windows_outage_e2e.sh SENTREL_EXE WINE_LOADER SOURCE_ROOT. Exit 77 =
# skipped (no prepared WINEPREFIX, no namespace of its own, no aiosmtpd).
set -euo pipefail

exe=$1
wine=$2
root=$3
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] ||
  { echo "skipped: no prepared WINEPREFIX"; exit 77; }
[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] ||
  { echo "skipped: needs a network namespace of its own (scripts/windows-test.sh as root)"; exit 77; }
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null ||
  { echo "skipped: Debian's python3-aiosmtpd is not installed"; exit 77; }
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d /tmp/sentrel-wine-outage.XXXXXX)
runner=""
smtp=""
cleanup() {
  sysctl -qw net.ipv4.icmp_echo_ignore_all=0 || true
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null || true
  [ -n "$smtp" ] && kill "$smtp" 2>/dev/null || true
  rm -rf "$work" "$data"
}
data=$WINEPREFIX/drive_c/sentrel-outage
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for f in "$work"/out "$work"/err "$work"/history "$work"/metrics "$data"/sentrel.log; do
    [ -f "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
}
source "$root/tests/integration/wait_for.sh"
reg() { timeout 60 "$wine" reg "$@" >/dev/null || fail "reg $*"; }

mkdir -p "$work/mail"
mkfifo "$work/smtp.in"
/usr/bin/python3 "$root/tests/integration/notify/smtp_peer.py" --store "$work/mail" --mechanisms "" \
  <"$work/smtp.in" >"$work/smtp.out" &
smtp=$!
exec 3>"$work/smtp.in"
wait_for 10 grep -q '^PORT ' "$work/smtp.out" || fail "SMTP peer did not start"
port=$(awk '/^PORT/ {print $2}' "$work/smtp.out")

timeout 60 "$wine" reg delete 'HKCU\Software\Sentrel' /f >/dev/null 2>&1 || true
options='HKCU\Software\Sentrel\Options'
reg add "$options" /v PathToData /t REG_SZ /d 'C:\sentrel-outage' /f
reg add "$options" /v PathToLog /t REG_SZ /d 'C:\sentrel-outage' /f
reg add "$options" /v ServerName /t REG_SZ /d 127.0.0.1 /f
reg add "$options" /v Port /t REG_DWORD /d "$port" /f
reg add "$options" /v From /t REG_SZ /d 'Sentrel <sentrel@monitor.test>' /f
mkdir -p "$data"
# The loss alarm mails at the first failed check.
printf '%s\r\n' '<H>' '<CHK>T</CHK>' '<HIP>127.0.0.1</HIP>' '<HN>loopback</HN>' '<PI>1</PI>' \
  '<TO>300</TO>' '<DIA>T</DIA>' '<DRC>1</DRC>' '<DISE>T</DISE>' \
  '<DEA>ops@example.test</DEA>' '<DSBJ>%HostName% lost</DSBJ>' '</H>' >"$data/sentrel.xml"

metrics_port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" "$exe" --headless --ping --metrics "127.0.0.1:$metrics_port" >"$work/out" 2>"$work/err" &
runner=$!
wait_for 60 grep -q 'is online' "$work/out" || fail "no online line"

grep -q "Metrics served on http://127.0.0.1:$metrics_port/metrics" "$work/out" ||
  fail "the metrics endpoint did not start"
curl -sf --max-time 10 "http://127.0.0.1:$metrics_port/metrics" >"$work/metrics" || fail "curl"
grep -q '^sentrel_host_up{.*} 1' "$work/metrics" || fail "the metrics do not show the host up"

sysctl -qw net.ipv4.icmp_echo_ignore_all=1
wait_for 30 test -f "$work/mail/1.data" || fail "no loss mail on the port stored as REG_DWORD"
grep -q 'loopback lost' "$work/mail/1.subject" || fail "the loss mail has another subject"
sysctl -qw net.ipv4.icmp_echo_ignore_all=0
online_again() { [ "$(grep -c 'is online' "$work/out")" -ge 2 ]; }
wait_for 30 online_again || fail "the host did not come back"

kill -INT "$runner"
wait_for 30 bash -c "! kill -0 $runner 2>/dev/null" || fail "Ctrl+C did not end the run"
wait "$runner" || fail "the run ended with an error"
runner=""

timeout 60 "$wine" "$exe" --history 1 >"$work/history" 2>&1 || fail "--history"
grep -q '^Outages:' "$work/history" || fail "--history shows no outage"
echo "passed: loss mail to the REG_DWORD port, metrics served, the outage in --history"
