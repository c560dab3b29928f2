#!/usr/bin/env bash
# End to end: a router (198.18.2.2, r2 of the test topology) with two hosts
# behind it (198.18.3.2 and .3 in tgt), both named by --parent. When the
# router's link goes down, exactly one loss alarm comes (the router's), the
# two hosts are held and --list shows them "Unreachable"; when it comes back,
# one renewal alarm (the router's). Without the parents the same cut gives
# three loss alarms. Then the uplink (198.18.1.1, the UplinkHosts option)
# goes away: every loss alarm is held, with one log line.
#
# Alarms are message boxes, which the headless runner prints on standard
# error as "error [<subject>] <text>".
#
# Usage: parents_e2e.sh SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail
sentrel=$1
root=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }

prefix="snp$$"
work=$(mktemp -d /tmp/sentrel-parents.XXXXXX)
runner=""
cleanup() {
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null || true
  "$root/scripts/netns-topology.sh" down "$prefix" || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  echo "--- runner stdout"; cat "$work/out" 2>/dev/null || true
  echo "--- runner stderr"; cat "$work/err" 2>/dev/null || true
  exit 1
}
source "$root/tests/integration/wait_for.sh"

"$root/scripts/netns-topology.sh" up "$prefix"
cli="$prefix-cli"
ip -n "$prefix-tgt" addr add 198.18.3.3/24 dev t0

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" '"LogDetail"="1"' \
  '"UplinkHosts"="198.18.1.1"' >"$XDG_CONFIG_HOME/Sentrel/registry.reg"
# The router is the default host, so the hosts added after it take its
# settings: a check a second, an alarm box on loss and on renewal.
printf '%s\r\n' '<H>' '<CHK>T</CHK>' '<HIP>198.18.2.2</HIP>' '<HN>router</HN>' '<PI>1</PI>' \
  '<TO>300</TO>' '<DFLT>T</DFLT>' '<WIA>T</WIA>' '<WISB>T</WISB>' '<WSBJ>%HostName% back</WSBJ>' \
  '<DIA>T</DIA>' '<DISB>T</DISB>' '<DSBJ>%HostName% lost</DSBJ>' '</H>' >"$work/hosts/sentrel.xml"
"$sentrel" --add 198.18.3.2 --name a --parent 1 || fail "--add --parent by row"
"$sentrel" --add 198.18.3.3 --name b --parent router || fail "--add --parent by name"
[ "$(grep -c '<PAR>198.18.2.2</PAR>' "$work/hosts/sentrel.xml")" -eq 2 ] || fail "PAR not written"

boxes() { grep -c "^error \[.* $1\]" "$work/err" || true; }
held() { grep -c "$1" "$work/hosts/sentrel.log" || true; }
start() {
  : >"$work/err"
  ip netns exec "$cli" "$sentrel" --headless --ping >"$work/out" 2>"$work/err" &
  runner=$!
  # Every host answers at first: its renewal alarm.
  wait_for 15 is 3 boxes back || fail "the three hosts did not answer at start"
}
stop() {
  kill -TERM "$runner"
  wait "$runner" || fail "runner exit code $?"
  runner=""
}
# The router's link to the rest: r1 then answers "net unreachable".
cut() { ip -n "$prefix-r1" link set r1b down; }
mend() {
  ip -n "$prefix-r1" link set r1b up
  ip -n "$prefix-r1" route replace 198.18.3.0/24 via 198.18.2.2
  ip -n "$prefix-r2" route replace 198.18.1.0/24 via 198.18.2.1
}
listed() { "$sentrel" --list | grep -c "$1\$" || true; }
# is N COMMAND...: the count that COMMAND prints is N (at least N for atleast).
is() { local want=$1; shift; [ "$("$@")" -eq "$want" ]; }
atleast() { local want=$1; shift; [ "$("$@")" -ge "$want" ]; }

start
cut
wait_for 15 atleast 1 boxes lost || fail "no loss alarm"
wait_for 15 is 2 held 'loss alarm held: router is down' || fail "the hosts were not held"
sleep 3  # several more failed checks of every host
[ "$(boxes lost)" -eq 1 ] || fail "$(boxes lost) loss alarms with parents"
grep -q '^error \[router lost\]' "$work/err" || fail "the loss alarm is not the router's"
[ "$(held 'loss alarm held')" -eq 2 ] || fail "the hold was logged more than once per host"
wait_for 5 is 2 listed Unreachable || fail "--list: $("$sentrel" --list)"
[ "$(listed Lost)" -eq 1 ] || fail "--list does not show the router lost"
echo "link down: one loss alarm, two hosts held, --list shows them Unreachable"

mend
wait_for 15 is 4 boxes back || fail "no renewal alarm"
wait_for 10 is 3 listed up || fail "--list after the link came back: $("$sentrel" --list)"
sleep 2
[ "$(boxes back)" -eq 4 ] || fail "$(( $(boxes back) - 3 )) renewal alarms with parents"
echo "link back: one renewal alarm"
stop
[ -e "$work/hosts/sentrel.state" ] && fail "the state file stayed after the run"

"$sentrel" --set-parent 2 - && "$sentrel" --set-parent 3 - || fail "--set-parent -"
start
cut
wait_for 15 is 3 boxes lost || fail "$(boxes lost) loss alarms without parents"
echo "without parents: three loss alarms"
mend
wait_for 15 is 6 boxes back || fail "the hosts did not come back"

# This computer's own link goes: no host's loss alarm, one line.
ip -n "$cli" link set c0 down
wait_for 15 is 1 held "loss alarms held: this computer's uplink is down" ||
  fail "the uplink's loss was not logged"
sleep 3
[ "$(boxes lost)" -eq 3 ] || fail "a loss alarm went out while the uplink was down"
[ "$(held "uplink is down")" -eq 1 ] || fail "the uplink's loss was logged more than once"
ip -n "$cli" link set c0 up
ip -n "$cli" route replace default via 198.18.1.1
wait_for 15 is 1 held 'uplink answers again' || fail "the uplink's return was not logged"
wait_for 10 is 3 listed up || fail "--list after the uplink came back: $("$sentrel" --list)"
[ "$(boxes back)" -eq 6 ] || fail "renewal alarms of hosts held for the uplink"
echo "uplink down: loss alarms held with one line"
stop
echo "PASSED"
