#!/usr/bin/env bash
# Start-up with 1,024 hosts: the real program in its own X server, 1,024
# enabled hosts on loopback addresses in the data file, "isPinging" = "1".
# Prints the time from the start to the window shown, and to every host's
# first check in the event log. A benchmark, not a test.
#
# Usage: startup_bench.sh SENTREL_BINARY
set -euo pipefail
sentrel=$(realpath "$1")
work=$(mktemp -d /tmp/sentrel-startup.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself (-displayfd), so parallel runs never share one.
source "$(dirname "$0")/../../../scripts/xvfb.sh"
start_xvfb "$work" 1280x800x24 || { echo "Xvfb did not start" >&2; exit 1; }
pids+=("$xvfb_pid")

export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
chmod 700 "$XDG_RUNTIME_DIR"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" '"LogDetail"="1"' '' \
  '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\MainForm]' '"isPinging"="1"' \
  >"$XDG_CONFIG_HOME/Sentrel/registry.reg"
for i in $(seq 0 1023); do
  printf '%s\r\n' '<H>' '<CHK>T</CHK>' "<HIP>127.1.$((i / 256)).$((i % 256 + 1))</HIP>" '<PI>60</PI>' '</H>'
done >"$work/hosts/sentrel.xml"

start=$(date +%s%N)
"$sentrel" >/dev/null 2>&1 &
app=$!
pids+=("$app")
shown=""
checked=""
for _ in $(seq 1200); do
  now=$(date +%s%N)
  if [ -z "$shown" ] && xdotool search --onlyvisible --name '^Sentrel$' >/dev/null 2>&1; then
    shown=$(( (now - start) / 1000000 ))
  fi
  if [ -z "$checked" ] && [ "$(cat "$work/hosts/sentrel.log" 2>/dev/null | grep -c " is ")" -ge 1024 ]; then
    checked=$(( (now - start) / 1000000 ))
  fi
  [ -n "$shown" ] && [ -n "$checked" ] && break
  sleep 0.05
done
echo "start-up with 1024 hosts: window shown after ${shown:-?} ms, every host's first check logged after ${checked:-?} ms"
echo "lines: $(grep -c "is online" "$work/hosts/sentrel.log") online, $(grep -c "is failed" "$work/hosts/sentrel.log") failed"
rss=$(awk '/VmHWM/ {print $2}' "/proc/$app/status")
threads=$(awk '/Threads/ {print $2}' "/proc/$app/status")
echo "peak memory ${rss} KiB, ${threads} threads"
