#!/usr/bin/env bash
# End to end: the real program in a real X server while the mail server of
# an alarm stalls, once without ever greeting and once after the message's
# data. One host's renewal alarm sends the mail; a second host is logged
# every second (LogDetail 2). While the transfer hangs, the second host's
# lines must keep reaching the log; SIGTERM must end the program within 2 s
# with "transfer aborted" in the log, the host list intact and the window's
# placement stored.
#
# Everything stays on loopback. Usage: stalled_mail_e2e.sh SENTREL_BINARY
# SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail

sentrel=$1
root=$2
for tool in Xvfb dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/sentrel-stall.XXXXXX)
xvfb=""
bus=""
app=""
peer=""
cleanup() {
  for pid in "$app" "$peer" "$bus"; do
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
  done
  # Terminated, the server removes its own lock and socket files.
  [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- program stderr"; cat "$work/err" 2>/dev/null || true
  echo "--- log"; tr -d '\r' <"$work/hosts/sentrel.log" 2>/dev/null | tail -20 || true
  echo "--- smtp.log"; tr -d '\r' <"$work/hosts/smtp.log" 2>/dev/null | tail -20 || true
  exit 1
}

source "$root/tests/integration/wait_for.sh"

# Xvfb picks a free display itself (-displayfd), so parallel runs never share one.
source "$root/scripts/xvfb.sh"
start_xvfb "$work" 1024x768x24 || fail "Xvfb did not start"
xvfb=$xvfb_pid

# The desktop's session bus, as every session has one.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
bus=$!
wait_for 10 test -S "$work/bus" || fail "no session bus"

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
registry="$XDG_CONFIG_HOME/Sentrel/registry.reg"

log_lines() { tr -d '\r' <"$work/hosts/sentrel.log" 2>/dev/null | grep -c 'answering' || true; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# run_stall MODE: one program run against a peer stalling in MODE.
run_stall() {
  local mode=$1
  rm -rf "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$work/hosts"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
  chmod 700 "$XDG_RUNTIME_DIR"

  /usr/bin/python3 "$root/tests/integration/notify/stalling_smtp_peer.py" --mode "$mode" \
    --seconds 60 >"$work/peer.out" &
  peer=$!
  wait_for 10 grep -q '^PORT ' "$work/peer.out" || fail "$mode: the SMTP peer did not start"
  local port
  port=$(awk '/^PORT/ {print $2}' "$work/peer.out")

  printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
    "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" '"LogDetail"="2"' \
    '"ServerName"="127.0.0.1"' "\"Port\"=\"$port\"" '"From"="Sentrel <sentrel@monitor.test>"' \
    '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\MainForm]' '"isPinging"="1"' >"$registry"
  # "mailer" mails at its first reply; "answering" is logged every second.
  printf '%s\r\n' '<H>' '<CHK>T</CHK>' '<HIP>127.0.0.1</HIP>' '<HN>mailer</HN>' '<PI>1</PI>' \
    '<TO>300</TO>' '<WIA>T</WIA>' '<WISE>T</WISE>' '<WEA>ops@example.test</WEA>' '</H>' \
    '<H>' '<CHK>T</CHK>' '<HIP>127.0.0.2</HIP>' '<HN>answering</HN>' '<PI>1</PI>' \
    '<TO>300</TO>' '</H>' >"$work/hosts/sentrel.xml"
  cp "$work/hosts/sentrel.xml" "$work/hosts.before"

  "$sentrel" -sl >"$work/out" 2>"$work/err" &
  app=$!
  wait_for 20 grep -q 'Connect to' "$work/hosts/smtp.log" || fail "$mode: no mail transfer began"
  if [ "$mode" = after-data ]; then
    wait_for 10 grep -q '^DATA' "$work/peer.out" || fail "$mode: the message never reached the peer"
  fi

  # The transfer hangs now; the other host's results keep being logged.
  local before after
  before=$(log_lines)
  sleep 3
  after=$(log_lines)
  [ $((after - before)) -ge 2 ] || fail "$mode: $before then $after log lines: the log stood still"

  local start
  start=$(now_ms)
  kill -TERM "$app"
  ended() { ! kill -0 "$app" 2>/dev/null; }
  wait_for 5 ended || fail "$mode: SIGTERM did not end the program"
  local took=$(( $(now_ms) - start ))
  [ "$took" -le 2000 ] || fail "$mode: SIGTERM took $took ms to end the program"
  wait "$app" || fail "$mode: exit code $? after SIGTERM"
  app=""
  grep -q 'transfer aborted' "$work/hosts/sentrel.log" || fail "$mode: no \"transfer aborted\" in the log"
  cmp -s "$work/hosts/sentrel.xml" "$work/hosts.before" || fail "$mode: the host list changed"
  local reg
  reg=$(tr -d '\r' <"$registry")
  grep -q '^"Width"=' <<<"$reg" || fail "$mode: the placement was not stored"
  grep -q '^"isPinging"="1"' <<<"$reg" || fail "$mode: the running state was not stored"
  echo "$mode: log went on during the stall ($before -> $after lines), SIGTERM took $took ms"
  kill "$peer" 2>/dev/null || true
  wait "$peer" 2>/dev/null || true
  peer=""
}

run_stall silent
run_stall after-data
echo "PASSED"
