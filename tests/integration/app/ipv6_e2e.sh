#!/usr/bin/env bash
# End to end over IPv6: the headless runner in network namespaces of its own
# (fd00::/8), hosts by IPv6 address and by name (a dual-stack name that keeps
# its IPv4 address, the same name forced to IPv6, an IPv6-only name), the
# loss and renewal mails through an SMTP server that only an IPv6-only name
# leads to, the alarm's trace, the history by IPv6 address, and the command
# line's --add, --list and --trace.
#
# Usage: ipv6_e2e.sh SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail

sentrel=$1
root=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null ||
  { echo "skipped: Debian's python3-aiosmtpd is not installed"; exit 77; }

prefix="snp$$"
cli="$prefix-cli"
tgt="$prefix-tgt"
work=$(mktemp -d /tmp/sentrel-ipv6.XXXXXX)
runner=""
smtp=""
cleanup() {
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null || true
  [ -n "$smtp" ] && kill "$smtp" 2>/dev/null || true
  "$root/scripts/netns-topology.sh" down "$prefix" || true
  rm -rf "/etc/netns/$cli" "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- runner stdout"; cat "$work/out" 2>/dev/null || true
  echo "--- runner stderr"; cat "$work/err" 2>/dev/null || true
  echo "--- log"; cat "$work/hosts/sentrel.log" 2>/dev/null || true
  echo "--- mail 1"; cat "$work/mail/1.data" 2>/dev/null || true
  exit 1
}

source "$root/tests/integration/wait_for.sh"

"$root/scripts/netns-topology.sh" up "$prefix"
# `ip netns exec` shows these as /etc/hosts to what it starts in the client.
mkdir -p "/etc/netns/$cli"
printf '%s\n' '198.18.3.2 dual.test' 'fd00:3::2 dual.test' 'fd00:3::2 six.test' \
  'fd00:1::2 mail6.test' >"/etc/netns/$cli/hosts"

mkdir -p "$work/mail"
mkfifo "$work/smtp.in"
ip netns exec "$cli" /usr/bin/python3 "$root/tests/integration/notify/smtp_peer.py" \
  --store "$work/mail" --mechanisms "" --listen fd00:1::2 <"$work/smtp.in" >"$work/smtp.out" &
smtp=$!
exec 3>"$work/smtp.in"
wait_for 10 grep -q '^PORT ' "$work/smtp.out" || fail "SMTP peer did not start"
port=$(awk '/^PORT/ {print $2}' "$work/smtp.out")

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" \
  '"LogDetail"="1"' '"ServerName"="mail6.test"' "\"Port\"=\"$port\"" \
  '"From"="Sentrel <sentrel@monitor.test>"' >"$XDG_CONFIG_HOME/Sentrel/registry.reg"

lights='<GTIM>1250</GTIM> <LTIM>1666</LTIM> <YTIM>2500</YTIM> <OTIM>5000</OTIM>'
# shellcheck disable=SC2086
{
  printf '%s\r\n' '<H>' '<CHK>T</CHK>' '<HIP>fd00:3::2</HIP>' '<HN>six.test</HN>' '<PI>1</PI>' \
    '<TO>300</TO>' '<TOTR>300</TOTR>' '<TTLTR>4</TTLTR>' $lights '<WIA>T</WIA>' '<WISE>T</WISE>' '<WEA>ops@example.test</WEA>' \
    '<WSBJ>%HostName% is back</WSBJ>' '<DIA>T</DIA>' '<DRC>2</DRC>' '<DISE>T</DISE>' \
    '<DEA>ops@example.test</DEA>' '<DRTR>T</DRTR>' '<DSBJ>%HostName% lost (%HostIP%)</DSBJ>' \
    '<DMB>Down: %StatusStr%</DMB>' '</H>'
  printf '%s\r\n' '<H>' '<CHK>T</CHK>' '<HN>dual.test</HN>' '<PI>1</PI>' '<TO>300</TO>' \
    $lights '<PBIP>F</PBIP>' '</H>'
  printf '%s\r\n' '<H>' '<CHK>T</CHK>' '<HN>dual.test</HN>' '<HDS>forced</HDS>' '<PI>1</PI>' \
    '<TO>300</TO>' $lights '<PBIP>F</PBIP>' '<IPF>6</IPF>' '</H>'
} >"$work/hosts/sentrel.xml"
cp "$work/hosts/sentrel.xml" "$work/hosts.before"

ip netns exec "$cli" "$sentrel" --headless --ping -sl >"$work/out" 2>"$work/err" &
runner=$!
log="$work/hosts/sentrel.log"

wait_for 15 test -f "$work/mail/1.data" || fail "no renewal mail over IPv6"
grep -q '^Subject: six.test is back' "$work/mail/1.data" || fail "renewal subject"
grep -q 'fd00:3::2 (six.test) is online (' "$work/mail/1.data" || fail "renewal body"
wait_for 10 grep -q '198.18.3.2 (dual.test) is online' "$log" ||
  fail "a dual-stack name keeps its IPv4 address"
wait_for 10 grep -q 'fd00:3::2 (dual.test) is online' "$log" ||
  fail "the same name forced to IPv6"

ip netns exec "$tgt" sysctl -qw net.ipv6.icmp.echo_ignore_all=1
wait_for 20 test -f "$work/mail/2.data" || fail "no loss mail"
grep -q '^Subject: six.test lost (fd00:3::2)' "$work/mail/2.data" || fail "loss subject"
grep -q '^Down: .* fd00:3::2 (six.test) is failed\.$' <(tr -d '\r' <"$work/mail/2.data") ||
  fail "loss body"
grep -q '=== Trace six.test ===' "$log" || fail "no trace in the log"
grep -q '^2\. [0-9]*ms fd00:2::2' <(tr -d '\r' <"$log") || fail "trace hop 2 over IPv6"
ip netns exec "$tgt" sysctl -qw net.ipv6.icmp.echo_ignore_all=0
wait_for 15 test -f "$work/mail/3.data" || fail "no second renewal mail"

kill -TERM "$runner"
wait "$runner" || fail "runner exit code $?"
runner=""
cmp -s "$work/hosts/sentrel.xml" "$work/hosts.before" || fail "host file changed"

# The history of the address, however it is spelled.
ip netns exec "$cli" "$sentrel" --history FD00:3:0::2 >"$work/history" 2>&1 ||
  fail "no history by IPv6 address: $(cat "$work/history")"

ip netns exec "$cli" "$sentrel" --add 2001:db8::7 --name doc >/dev/null || fail "--add IPv6"
ip netns exec "$cli" "$sentrel" --list >"$work/list"
grep -q '2001:db8::7 .*doc' "$work/list" || fail "--list: $(cat "$work/list")"
grep -q '<HIP>2001:db8::7</HIP>' "$work/hosts/sentrel.xml" || fail "HIP holds the IPv6 text"

ip netns exec "$cli" "$sentrel" --trace six.test >"$work/trace" 2>&1 || fail "--trace"
grep -q '^1\. [0-9]*ms fd00:1::1' <(tr -d '\r' <"$work/trace") ||
  fail "trace by name: $(cat "$work/trace")"
echo "IPv6 end to end: ok"
