#!/usr/bin/env bash
# Notification targets over HTTPS on Windows, under Wine: a target with a CA
# file of its own reaches a local receiver whose certificate that CA signed;
# the same receiver without the CA file, and with another CA's file, is
# refused before a request reaches it.
#
# Usage: windows_targets_e2e.sh SENTREL_EXE WINE RECEIVER_SCRIPT. Exit 77 = skipped.
set -euo pipefail

exe=$1
wine=$2
receiver_script=$3
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] ||
  { echo "skipped: no prepared WINEPREFIX"; exit 77; }
command -v openssl >/dev/null || { echo "skipped: no openssl"; exit 77; }
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d /tmp/sentrel-wine-targets.XXXXXX)
receiver=""
cleanup() {
  [ -n "$receiver" ] && kill "$receiver" 2>/dev/null || true
  timeout 30 "$wine" reg delete 'HKCU\Software\Sentrel' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for f in "$work"/out "$work"/receiver.out; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
  exit 1
}

cd "$work"
mkdir certs other
mkfifo receiver.in
/usr/bin/python3 "$receiver_script" "$work/certs" < receiver.in > receiver.out 2>&1 &
receiver=$!
exec 3>receiver.in
for _ in $(seq 100); do grep -q '^CA ' receiver.out 2>/dev/null && break; sleep 0.2; done
port=$(sed -n 's/^PORT //p' receiver.out)
[ -n "$port" ] || fail "the receiver did not start"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout other/ca.key \
  -out other/ca.pem -days 2 -subj "/CN=Another CA" >/dev/null 2>&1 || fail "openssl"

windows_path() { echo "Z:${1//\//\\}"; }
sentrel() { timeout 120 "$wine" "$exe" "$@" >out 2>&1; }

url="https://127.0.0.1:$port/hook"
sentrel --target-add trusted webhook "$url" "CAFile=$(windows_path "$work/certs/ca.pem")" || fail "--target-add"
sentrel --target-add system webhook "$url" || fail "--target-add"
sentrel --target-add wrong webhook "$url" "CAFile=$(windows_path "$work/other/ca.pem")" || fail "--target-add"

sentrel --target-test trusted || fail "the target with the CA file was not reached"
grep -q 'HTTP 200' out || fail "no HTTP 200 from the receiver"
if sentrel --target-test wrong; then fail "another CA's file was trusted"; fi
grep -qi 'certificate' out || fail "the refusal does not name the certificate"
# The system's store does not know the test's CA: WinHTTP refuses it.
if sentrel --target-test system; then fail "a certificate the system does not trust was accepted"; fi

exec 3>&-
for _ in $(seq 50); do grep -q '^REQUESTS ' receiver.out && break; sleep 0.2; done
[ "$(sed -n 's/^REQUESTS //p' receiver.out)" = 1 ] ||
  fail "the receiver did not see exactly the one trusted request"
receiver=""
echo "passed: a target's CA file trusted over HTTPS; another CA and the system's store refused before the request"
