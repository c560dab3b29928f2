#!/usr/bin/env bash
# End to end: a dead host behind a router that rate-limits its ICMP errors,
# as Linux routers do. Its checks alternate between "host unreachable" (when
# the router may answer) and "timed out" (when it may not): every check is a
# change of state that the log shows, yet the outage is one, so exactly one
# loss mail must arrive.
#
# The log and the host list share their folder: the log, rotating at start,
# goes to its own backup sentrel.log.BAK, and a sentrel.BAK of an older
# version that holds log lines is left alone.
#
# Usage: one_loss_alarm_e2e.sh SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail

sentrel=$1
root=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null ||
  { echo "skipped: Debian's python3-aiosmtpd is not installed"; exit 77; }

prefix="snp$$"
work=$(mktemp -d /tmp/sentrel-outage.XXXXXX)
runner=""
smtp=""
cleanup() {
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null || true
  [ -n "$smtp" ] && kill "$smtp" 2>/dev/null || true
  "$root/scripts/netns-topology.sh" down "$prefix" || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- runner stdout"; cat "$work/out" 2>/dev/null || true
  echo "--- runner stderr"; cat "$work/err" 2>/dev/null || true
  echo "--- mail"; ls -l "$work/mail" 2>/dev/null || true
  exit 1
}

wait_for() {
  local tries=$(( $1 * 10 )); shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

"$root/scripts/netns-topology.sh" up "$prefix"
cli="$prefix-cli"
# r2 answers "host unreachable" for 198.18.9.0/24, at most one error every
# 2.5 s per destination (after a first burst), so checks about every second
# alternate.
ip netns exec "$prefix-r2" sysctl -qw net.ipv4.icmp_ratelimit=2500
dead=198.18.9.5

mkdir -p "$work/mail"
mkfifo "$work/smtp.in"
ip netns exec "$cli" /usr/bin/python3 "$root/tests/integration/notify/smtp_peer.py" \
  --store "$work/mail" --mechanisms "" <"$work/smtp.in" >"$work/smtp.out" &
smtp=$!
exec 3>"$work/smtp.in"
wait_for 10 grep -q '^PORT ' "$work/smtp.out" || fail "SMTP peer did not start"
port=$(awk '/^PORT/ {print $2}' "$work/smtp.out")

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" \
  '"LogDetail"="1"' '"LogSize"="0"' '"ServerName"="127.0.0.1"' "\"Port\"=\"$port\"" \
  '"From"="Sentrel <sentrel@monitor.test>"' >"$XDG_CONFIG_HOME/Sentrel/registry.reg"
# The loss alarm at the first failed check of a new state.
printf '%s\r\n' '<H>' '<CHK>T</CHK>' "<HIP>$dead</HIP>" '<HN>dead</HN>' '<PI>1</PI>' \
  '<TO>300</TO>' '<DIA>T</DIA>' '<DRC>1</DRC>' '<DISE>T</DISE>' \
  '<DEA>ops@example.test</DEA>' '<DSBJ>%HostName% lost</DSBJ>' '</H>' >"$work/hosts/sentrel.xml"

printf 'an old log line\r\n' >"$work/hosts/sentrel.log"
printf 'a log line of an older version\r\n' >"$work/hosts/sentrel.BAK"

ip netns exec "$cli" "$sentrel" --headless --ping >"$work/out" 2>"$work/err" &
runner=$!

wait_for 15 test -f "$work/mail/1.data" || fail "no loss mail"
# Long enough for several changes between the two failure codes.
changes() { [ "$(grep -c 'is failed' "$work/hosts/sentrel.log" || true)" -ge 4 ]; }
wait_for 30 changes || fail "the failure code did not keep changing; the test proves nothing"
sleep 2
mails=$(find "$work/mail" -name '*.data' | wc -l)
[ "$mails" -eq 1 ] || fail "$mails loss mails for one outage"
echo "one loss mail for $(grep -c 'is failed' "$work/hosts/sentrel.log") logged changes"

kill -TERM "$runner"
wait "$runner" || fail "runner exit code $?"
runner=""
grep -q 'an old log line' "$work/hosts/sentrel.log.BAK" || fail "the log did not rotate to sentrel.log.BAK"
grep -q 'an old log line' "$work/hosts/sentrel.log" && fail "the rotated log was kept"
grep -q 'a log line of an older version' "$work/hosts/sentrel.BAK" || fail "sentrel.BAK was replaced"
echo "PASSED"
