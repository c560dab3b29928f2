#!/usr/bin/env bash
# Hosts in bulk with the real program: --discover of a /26 in network
# namespaces of its own with a handful of answering hosts (found exactly,
# added once, a second run adds nothing), Ctrl+C ending a sweep at once, and
# --import / --export of a file with a bad row.
#
# Usage: bulk_hosts_e2e.sh SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail

sentrel=$1
root=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }

prefix="snp$$"
cli="$prefix-cli"
tgt="$prefix-tgt"
work=$(mktemp -d /tmp/sentrel-bulk.XXXXXX)
cleanup() {
  "$root/scripts/netns-topology.sh" down "$prefix" || true
  rm -rf "/etc/netns/$cli" "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for f in out err list; do echo "--- $f"; cat "$work/$f" 2>/dev/null || true; done
  exit 1
}

"$root/scripts/netns-topology.sh" up "$prefix"
# Answering in 198.18.3.0/26: r2 (.1), the target (.2) and three more
# addresses of the target.
for a in 10 20 33; do ip -n "$tgt" addr add "198.18.3.$a/24" dev t0; done
mkdir -p "/etc/netns/$cli"
printf '%s\n' '127.0.0.1 localhost' '198.18.3.2 target.test' '198.18.3.20 twenty.test' \
  >"/etc/netns/$cli/hosts"

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" >"$XDG_CONFIG_HOME/Sentrel/registry.reg"
run() { ip netns exec "$cli" "$sentrel" "$@" >"$work/out" 2>"$work/err"; }

run --discover 198.18.3.0/26 --add || fail "first sweep: exit $?"
found=$(grep -c '^198\.18\.3\.' "$work/out" || true)
[ "$found" -eq 5 ] || fail "expected 5 answering addresses, got $found"
for a in 1 2 10 20 33; do grep -q "^198\.18\.3\.$a " "$work/out" || fail "198.18.3.$a not found"; done
grep -q '^198\.18\.3\.20 .* ms  twenty\.test$' "$work/out" || fail "reverse name"
grep -q '^5 of 62 addresses answered$' "$work/out" || fail "summary"
grep -q '^added 5, already listed 0$' "$work/out" || fail "first --add"
[ ! -s "$work/err" ] || fail "a progress line on a file"
cp "$work/hosts/sentrel.xml" "$work/after-first"
run --list
grep -q '198\.18\.3\.2 .*target\.test' "$work/out" || fail "--list: $(cat "$work/out")"

run --discover 198.18.3.0/26 --add || fail "second sweep: exit $?"
grep -q '^added 0, already listed 5$' "$work/out" || fail "second --add"
cmp -s "$work/hosts/sentrel.xml" "$work/after-first" || fail "the second sweep changed the list"

# 198.18.7.0/24 is dropped silently: the sweep takes two seconds. The
# interrupt comes once its requests are out (its threads are running), to
# the program itself (nsenter runs it in place; `ip netns exec` may fork).
source "$root/tests/integration/wait_for.sh"
nsenter --net="/var/run/netns/$cli" "$sentrel" --discover 198.18.7.0/24 --add >"$work/out" 2>"$work/err" &
sweep=$!
sweeping() { [ "$(ls "/proc/$sweep/task" 2>/dev/null | wc -l)" -gt 100 ]; }
wait_for 20 sweeping || fail "no sweep running"
start=$(date +%s%N)
kill -INT "$sweep"
code=0
wait "$sweep" || code=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$code" -eq 1 ] || fail "stopped sweep: exit $code"
grep -q 'stopped; 0 addresses had answered, none was added' "$work/err" || fail "stop message"
[ "$elapsed" -lt 1000 ] || fail "Ctrl+C took ${elapsed} ms to end the sweep"

# Import: the listed hosts are skipped, a bad row is rejected with its line.
printf '%s\r\n' 'Name;ADDRESS;interval' 'tgt;198.18.3.2;' 'web;198.18.3.50;30' 'bad;1.2.3.4.5;' \
  >"$work/import.csv"
code=0
run --import "$work/import.csv" || code=$?
[ "$code" -eq 1 ] || fail "--import with a bad row: exit $code"
grep -q '^line 4: 1\.2\.3\.4\.5: reject: ' "$work/out" || fail "rejected line"
grep -q '^added 1, skipped 1, rejected 1$' "$work/out" || fail "import summary"
run --export "$work/export.csv" || fail "--export"
grep -q '^198\.18\.3\.50,web,,30,yes' <(tr -d '\r' <"$work/export.csv") || fail "exported row"
rm "$work/hosts/sentrel.xml"
run --import "$work/export.csv" || fail "re-import of the export"
grep -q '^added 6, skipped 0, rejected 0$' "$work/out" || fail "re-import summary"
echo "hosts in bulk end to end: ok"
