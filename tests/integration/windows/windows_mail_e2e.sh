#!/usr/bin/env bash
# Encrypted mail on Windows, under Wine (whose Schannel runs on GnuTLS and
# whose certificate chain engine is its crypt32): `sentrel --mail-test`
# against the aiosmtpd peer of the mail tests, with a CA made here and named
# by the SMTPCAFile option. STARTTLS required and TLS from the first byte
# deliver; an expired certificate, one for another name and one of an unknown
# issuer are refused before MAIL FROM.
#
# Usage: windows_mail_e2e.sh SENTREL_EXE WINE_LOADER PEER_SCRIPT. Runs in
# $WINEPREFIX (made by scripts/windows-test.sh); exit 77 = skipped.
set -euo pipefail

exe=$1
wine=$2
peer_script=$3
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] ||
  { echo "skipped: no prepared WINEPREFIX"; exit 77; }
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || { echo "skipped: no python3-aiosmtpd"; exit 77; }
command -v openssl >/dev/null || { echo "skipped: no openssl"; exit 77; }
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d /tmp/sentrel-wine-mail.XXXXXX)
peer=""
# The peer stops when its standard input, the fifo held open on fd 3, ends.
stop_peer() {
  [ -n "$peer" ] || return 0
  exec 3>&-
  timeout 10 tail --pid="$peer" -f /dev/null || kill "$peer" 2>/dev/null || true
  peer=""
}
cleanup() {
  stop_peer
  timeout 30 "$wine" reg delete 'HKCU\Software\Sentrel' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for f in "$work"/out "$work"/err; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
  exit 1
}

cd "$work"
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2"; }
sign() {
  key "$1" "$2"; printf 'subjectAltName=%s\n' "$3" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial "$5" -days "$4" -extfile "$1.ext" -out "$1.pem"
}
{
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
    -out ca.pem -days 30 -subj "/CN=Sentrel Wine Test CA"
  sign good 127.0.0.1 IP:127.0.0.1,DNS:localhost 30 2
  sign expired 127.0.0.1 IP:127.0.0.1,DNS:localhost -1 3
  sign other other.test DNS:other.test 30 4
  # Signed by a CA that neither the system nor the CA file knows.
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout stranger-ca.key \
    -out stranger-ca.pem -days 30 -subj "/CN=Stranger CA"
  key stranger 127.0.0.1 && printf 'subjectAltName=IP:127.0.0.1\n' > stranger.ext
  openssl x509 -req -in stranger.csr -CA stranger-ca.pem -CAkey stranger-ca.key -set_serial 5 -days 30 \
    -extfile stranger.ext -out stranger.pem
} >/dev/null 2>&1 || fail "openssl could not make the certificates"

# start_peer MODE CERT: the peer on a free port; sets $port.
start_peer() {
  rm -rf store peer.in && mkdir store && mkfifo peer.in
  /usr/bin/python3 "$peer_script" --store store --auth-required --mechanisms PLAIN,CRAM-MD5 \
    --tls "$1" --cert "$2.pem" --key "$2.key" < peer.in > peer.out 2>&1 &
  peer=$!
  exec 3>peer.in
  for _ in $(seq 75); do grep -q '^PORT ' peer.out 2>/dev/null && break; sleep 0.2; done
  port=$(sed -n 's/^PORT //p' peer.out)
  [ -n "$port" ] || fail "the peer did not start: $(cat peer.out)"
}

reg() { timeout 60 "$wine" reg add 'HKCU\Software\Sentrel\Options' /v "$1" /t REG_SZ /d "$2" /f >/dev/null || fail "reg add $1"; }
# The program's output ends its lines in CR LF, as Windows text does.
mail_test() {
  local rc=0
  timeout 120 "$wine" "$exe" --mail-test ops@example.test >out 2>err || rc=$?
  sed -i 's/\r$//' out err
  return "$rc"
}

reg ServerName 127.0.0.1
reg From 'Sentrel <tim@sentrel.test>'
reg SMTPUsername tim
reg SMTPPassword tanstaaftanstaaf
reg SMTPCAFile "Z:${work//\//\\}\\ca.pem"

for case in "required 2 STARTTLS" "smtps 3 TLS"; do
  set -- $case
  start_peer "$1" good
  reg Port "$port"
  reg SMTPSecurity "$2"
  mail_test || fail "$1: the mail test failed"
  grep -q "^encryption: $3, TLSv1" out || fail "$1: no $3 session reported"
  grep -qx 'authentication: PLAIN' out || fail "$1: not authenticated with PLAIN"
  [ "$(cat store/1.tls 2>/dev/null)" = tls ] || fail "$1: the mail did not arrive over TLS"
  stop_peer
done

for case in "expired expired" "other another" "stranger unknown"; do
  set -- $case
  start_peer required "$1"
  reg Port "$port"
  reg SMTPSecurity 2
  if mail_test; then fail "$1: a refused certificate was reported as sent"; fi
  grep -q "TLS refused 127.0.0.1: certificate.*$2" err || fail "$1: the reason is not named"
  [ ! -e store/mail.log ] || fail "$1: MAIL FROM went to a refused server"
  stop_peer
done
echo "passed: STARTTLS required and TLS from the first byte delivered; expired, misnamed and unknown-issuer certificates refused"
