#!/usr/bin/env bash
# End to end: the headless runner with real ICMP and a real SMTP server, in
# network namespaces of its own. A target that stops answering must bring the
# loss mail after its repeat count, the renewal mail when it answers again,
# the status lines in sentrel.log, and SIGTERM must end the run within a
# second with the host file intact and "isPinging" stored. Without any ICMP
# the log says why nothing is checked.
#
# Usage: headless_e2e.sh SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail

source "$2/tests/integration/app/mail_e2e_prelude.sh"
tgt="$prefix-tgt"
target=198.18.3.2

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" \
  '"LogDetail"="1"' '"ServerName"="127.0.0.1"' "\"Port\"=\"$port\"" \
  '"From"="Sentrel <sentrel@monitor.test>"' >"$XDG_CONFIG_HOME/Sentrel/registry.reg"

# One enabled host, checked every second with a 300 ms time-out; the loss
# alarm after two failed checks, the renewal alarm at the first reply.
printf '%s\r\n' '<H>' '<CHK>T</CHK>' "<HIP>$target</HIP>" '<HN>tgt</HN>' '<PI>1</PI>' \
  '<TO>300</TO>' '<GTIM>1250</GTIM>' '<LTIM>1666</LTIM>' '<YTIM>2500</YTIM>' \
  '<OTIM>5000</OTIM>' '<WIA>T</WIA>' '<WISE>T</WISE>' '<WEA>ops@example.test</WEA>' \
  '<WSBJ>%HostName% is back</WSBJ>' '<DIA>T</DIA>' '<DRC>2</DRC>' '<DISE>T</DISE>' \
  '<DEA>ops@example.test</DEA>' '<DSBJ>%HostName% lost (%HostIP%)</DSBJ>' \
  '<DMB>Down: %StatusStr%</DMB>' '</H>' >"$work/hosts/sentrel.xml"
cp "$work/hosts/sentrel.xml" "$work/hosts.before"
# Readable by others, as an older version or a person may have left it.
chmod 0644 "$XDG_CONFIG_HOME/Sentrel/registry.reg"

ip netns exec "$cli" "$sentrel" --headless --ping -sl >"$work/out" 2>"$work/err" &
runner=$!

# The first reply is a change of state: renewal mail 1.
wait_for 15 test -f "$work/mail/1.data" || fail "no renewal mail after the first reply"
grep -q '^Subject: tgt is back' "$work/mail/1.data" || fail "renewal subject"
grep -q "$target (tgt) is online (" "$work/mail/1.data" || fail "renewal body"

# A value edited while the runner runs must survive its stop.
sed -i 's/^"LogDetail"="1"/"LogDetail"="2"/' "$XDG_CONFIG_HOME/Sentrel/registry.reg"

# The target stops answering: loss mail 2 after two failed checks.
ip netns exec "$tgt" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
wait_for 20 test -f "$work/mail/2.data" || fail "no loss mail"
grep -q "^Subject: tgt lost ($target)" "$work/mail/2.data" || fail "loss subject"
grep -q "^Down: .* $target (tgt) is failed\.\$" <(tr -d '\r' <"$work/mail/2.data") ||
  fail "loss body"
fails=$(grep -c 'is failed' "$work/hosts/sentrel.log" || true)

# It answers again: renewal mail 3.
ip netns exec "$tgt" sysctl -qw net.ipv4.icmp_echo_ignore_all=0
wait_for 15 test -f "$work/mail/3.data" || fail "no second renewal mail"
grep -q '^Subject: tgt is back' "$work/mail/3.data" || fail "second renewal subject"

# At "state changes only" the log holds one line per change: up, down, up.
log="$work/hosts/sentrel.log"
[ "$(grep -c 'is online' "$log")" -eq 2 ] || fail "expected two online lines in the log"
[ "$fails" -eq 1 ] && [ "$(grep -c 'is failed' "$log")" -eq 1 ] ||
  fail "expected one failed line in the log"
grep -q 'is failed' "$work/out" || fail "log lines also go to standard output"
[ -s "$work/hosts/smtp.log" ] || fail "the -sl switch writes smtp.log"

start=$(date +%s%N)
kill -TERM "$runner"
# Ended = gone or a zombie waiting for this script to collect it.
ended() { [ ! -e "/proc/$runner" ] || grep -q '^[0-9]* (.*) Z' "/proc/$runner/stat"; }
wait_for 1 ended || fail "runner still alive 1 s after SIGTERM"
wait "$runner" || fail "runner exit code $?"
runner=""
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
echo "runner ended ${elapsed} ms after SIGTERM"

cmp -s "$work/hosts/sentrel.xml" "$work/hosts.before" || fail "host file changed"
grep -q '"isPinging"="1"' "$XDG_CONFIG_HOME/Sentrel/registry.reg" || fail "isPinging not stored"
grep -q '"LogDetail"="2"' "$XDG_CONFIG_HOME/Sentrel/registry.reg" || fail "edited value lost at stop"
[ "$(stat -c %a "$XDG_CONFIG_HOME/Sentrel/registry.reg")" = 600 ] || fail "registry file not 0600"

# Without any ICMP (no ping sockets for our group, no raw sockets) the log
# says once, at the start, why no host is checked.
ip netns exec "$cli" sysctl -qw net.ipv4.ping_group_range="1 0"
timeout -s TERM 4 ip netns exec "$cli" setpriv --inh-caps=-net_raw --bounding-set=-net_raw \
  "$sentrel" --headless --ping >"$work/out" 2>"$work/err" || true
[ "$(grep -c 'No ICMP available: .* no host is checked\.' "$log")" -eq 1 ] ||
  fail "a run without ICMP did not say so once in the log"
