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

source "$2/tests/integration/app/mail_e2e_prelude.sh"
# r2 answers "host unreachable" for 198.18.9.0/24, at most one error every
# 2.5 s per destination (after a first burst), so checks about every second
# alternate.
ip netns exec "$prefix-r2" sysctl -qw net.ipv4.icmp_ratelimit=2500
dead=198.18.9.5

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
