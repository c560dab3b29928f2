#!/usr/bin/env bash
# End to end: the real program in a real X server with a window manager and a
# notification area, read as a screen reader reads it. Three hosts: one that
# answers, one that never does (its packets are dropped in a namespace of the
# test's own), one disabled; "isPinging" = "1", so checks resume by
# themselves. The rows must show a light, "Lost" and grey; a second start
# must end at once with 0. While "Trace now" waits on a silent host's
# hops, the answering host's results keep reaching the log and the window
# answers a screen reader within 1 s; Escape ends the trace within one of
# its time-outs. With "Minimize to tray" set the tray icon shows
# the "host lost" picture, minimising hides the window and leaves the icon,
# and a left click on the icon brings the window back without a taskbar
# button. Exit from the menu must store the placement.
#
# Everything runs inside the test's client namespace: the session bus, the
# accessibility bus, the window manager and the program; only the X server
# runs out here (scripts/xvfb.sh says why) and is reached by its socket file.
#
# Usage: window_e2e.sh SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped.
set -euo pipefail

sentrel=$1
root=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }
for tool in Xvfb icewm xdotool dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "skipped: at-spi2-core is not installed"; exit 77; }
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }

prefix="snp$$"
work=$(mktemp -d /tmp/sentrel-window.XXXXXX)
pids=()
app=""
cleanup() {
  [ -n "$app" ] && kill -KILL "$app" 2>/dev/null || true
  # Children first: the accessibility launcher starts a bus and a registry.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pkill -P "${pids[i]}" 2>/dev/null || true
    kill "${pids[i]}" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  "$root/scripts/netns-topology.sh" down "$prefix" || true
  rm -rf "/etc/netns/$prefix-cli"
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- program stderr"; cat "$work/err" 2>/dev/null || true
  echo "--- rows"; cat "$work/rows" 2>/dev/null || true
  echo "--- log"; tr -d '\r' <"$work/hosts/sentrel.log" 2>/dev/null | tail -20 || true
  echo "--- windows"; xwininfo -root -tree 2>&1 | grep -i sentrel || true
  for w in $(xdotool search --class sentrel 2>/dev/null); do
    echo "$w: $(xwininfo -id "$w" | grep -E 'Width|Height|Map State' | tr -s ' ' | tr '\n' ' ')"
  done
  exit 1
}

# wait_for SECONDS COMMAND...: polls every 0.2 s, bounded.
wait_for() {
  local tries=$(( $1 * 5 )); shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

"$root/scripts/netns-topology.sh" up "$prefix"
# Names come from the namespace's own files (`ip netns exec` mounts them over
# /etc): the first router has one, and a lookup of any other address fails
# at once instead of waiting on a name server out of the namespace's reach.
mkdir -p "/etc/netns/$prefix-cli"
echo '198.18.1.1 r1.test' >"/etc/netns/$prefix-cli/hosts"
echo 'nameserver 127.0.0.1' >"/etc/netns/$prefix-cli/resolv.conf"
# An array, not a function: `&` then gives the program's own pid to stop.
in_ns=(ip netns exec "$prefix-cli")

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Sentrel" "$XDG_RUNTIME_DIR" "$work/hosts"
chmod 700 "$XDG_RUNTIME_DIR"

# Xvfb picks a free display itself (-displayfd), so parallel runs never share one.
source "$root/scripts/xvfb.sh"
start_xvfb "$work" 1280x800x24 || fail "Xvfb did not start"
pids+=("$xvfb_pid")

export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
"${in_ns[@]}" dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -S "$work/bus" || fail "no session bus"
"${in_ns[@]}" /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
# A program that starts before the accessibility bus answers waits for it.
a11y_ready() {
  "${in_ns[@]}" dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus \
    org.a11y.Bus.GetAddress >/dev/null 2>&1
}
wait_for 20 a11y_ready || fail "no accessibility bus"
"${in_ns[@]}" icewm >/dev/null 2>&1 &
pids+=($!)

printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' \
  "\"PathToData\"=\"$work/hosts\"" "\"PathToLog\"=\"$work/hosts\"" '"LogDetail"="2"' \
  '"MinToTray"="1"' '' \
  '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\MainForm]' '"isPinging"="1"' \
  >"$XDG_CONFIG_HOME/Sentrel/registry.reg"
# 198.18.7.0/24 is dropped silently by a router of the topology: a trace
# there gets the first router's answer, then waits out a second for each TTL
# up to 10. A host without a name is traced by its address.
host() { printf '%s\r\n' '<H>' "$1" "<HIP>$2</HIP>" "<HN>$3</HN>" '<PI>1</PI>' '<TO>300</TO>' "${4:-}" '</H>'; }
{
  host '<CHK>T</CHK>' 198.18.3.2 answering
  host '<CHK>T</CHK>' 198.18.7.5 silent
  host '' 198.18.3.2 disabled
  host '' 198.18.7.9 '' '<TOTR>1000</TOTR><TTLTR>10</TTLTR>'
} >"$work/hosts/sentrel.xml"

"${in_ns[@]}" "$sentrel" >"$work/out" 2>"$work/err" &
app=$!
window() { xdotool search --onlyvisible --name '^Sentrel$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window)" ]; }
wait_for 40 has_window || fail "no window"
# With the tray icon standing in for it, the window has no taskbar entry.
skips_taskbar() { xprop -id "$(window)" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
wait_for 5 skips_taskbar || fail "the window has a taskbar entry beside its tray icon"

# A second start while the first runs ends at once with 0 and shows nothing.
start=$(date +%s%N)
"${in_ns[@]}" "$sentrel" >"$work/out2" 2>&1 || fail "second start exit code $?"
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$elapsed" -lt 3000 ] || fail "second start took ${elapsed} ms"
[ ! -s "$work/out2" ] || fail "second start printed: $(cat "$work/out2")"
[ "$(xdotool search --onlyvisible --name '^Sentrel$' | wc -l)" -eq 1 ] || fail "a second window"

rows_ready() {
  "${in_ns[@]}" /usr/bin/python3 "$root/tests/integration/gui/list_rows.py" >"$work/rows" 2>/dev/null || return 1
  grep -q '^answering|[0-9]*|[0-9]*|answers' "$work/rows" &&
    grep -q '^silent|Lost|Lost|lost$' "$work/rows" &&
    grep -q '^disabled|_|_|not checked$' "$work/rows"
}
wait_for 30 rows_ready || fail "rows do not show a light, Lost and grey"

# "Trace now" to a silent host, from the Hosts menu with its row selected.
# The trace's text reaches the log file when the trace has ended.
log_text() { tr -d '\r' <"$work/hosts/sentrel.log" 2>/dev/null || true; }
answers_logged() { log_text | grep -c 'answering' || true; }
traced() { log_text | grep -q '^=== Trace 198.18.7.9 ===$'; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
"${in_ns[@]}" /usr/bin/python3 "$root/tests/integration/gui/list_rows.py" --select 198.18.7.9 ||
  fail "the row to trace cannot be selected"
xdotool windowactivate --sync "$(window)" >/dev/null 2>&1 || true
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key Right
sleep 0.5
xdotool key t
before=$(answers_logged)
sleep 1.5
query_ms=$("${in_ns[@]}" /usr/bin/python3 "$root/tests/integration/gui/list_rows.py" --timed 2>&1 >/dev/null) ||
  fail "no answer to an accessibility query during the trace"
sleep 1.5
after=$(answers_logged)
[ "$query_ms" -le 1000 ] || fail "an accessibility query took $query_ms ms during the trace"
[ $((after - before)) -ge 2 ] || fail "$before then $after answers logged in 3 s of trace: the log stood still"
! traced || fail "the trace ended before it was stopped"
xdotool key Escape
stopped_at=$(now_ms)
wait_for 3 traced || fail "Escape did not end the trace"
stop_ms=$(( $(now_ms) - stopped_at ))
# One time-out of 1000 ms, and the polling.
[ "$stop_ms" -le 1500 ] || fail "the trace ended $stop_ms ms after Escape"
log_text | grep -A1 '^=== Trace 198.18.7.9 ===$' | grep -q '^1\. [0-9]*ms r1\.test \[198\.18\.1\.1\]$' ||
  fail "the trace's log text lacks its hops: $(log_text | grep -A3 '^=== Trace')"

# The tray icon: the only small window of the program, embedded in the
# window manager's notification area.
tray_icon() {
  local w
  for w in $(xdotool search --onlyvisible --class sentrel 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 2[0-9]$' && { echo "$w"; return 0; }
  done
  return 1
}
# The share of the icon's pixels near a colour of the tray pictures.
colour_share() {
  import -window "$1" "$work/tray.png" 2>/dev/null
  convert "$work/tray.png" -alpha off -fuzz 20% -fill black +opaque "$2" -fill white -opaque "$2" \
    -format '%[fx:mean]' info:
}
lost_icon() {
  local icon
  icon=$(tray_icon) || return 1
  awk -v share="$(colour_share "$icon" '#d42a25')" 'BEGIN { exit !(share > 0.05) }'
}
wait_for 10 lost_icon || fail "the tray icon does not show the host-lost picture"

w=$(window)
xdotool windowminimize "$w"
hidden() { [ -z "$(window)" ]; }
wait_for 10 hidden || fail "minimising to the tray did not hide the window"
has_tray_icon() { tray_icon >/dev/null; }
wait_for 5 has_tray_icon || fail "the tray icon went with the window"
icon=$(tray_icon)
read -r x y < <(xwininfo -id "$icon" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x + 10, y + 10}')
xdotool mousemove "$x" "$y" click 1
wait_for 10 has_window || fail "a left click on the tray icon did not bring the window back"
# The window's own mark is not enough: the window manager must have read it
# before the window was mapped. icewm shows one button per listed window as
# a mapped child of its "TaskPane" window.
task_buttons() {
  local pane child n=0
  pane=$(xwininfo -root -tree | awk '/"TaskPane"/ { print $1; exit }')
  [ -n "$pane" ] || { echo "no taskbar"; return; }
  for child in $(xwininfo -id "$pane" -children | awk '/^ +0x/ { print $1 }'); do
    xwininfo -id "$child" | grep -q IsViewable && n=$((n + 1))
  done
  echo "$n"
}
no_taskbar_entry() {
  local ids w
  ids=$(xprop -root _NET_CLIENT_LIST | sed -n 's/.*# //p' | tr -d ',')
  [ -n "$ids" ] || return 1
  for w in $ids; do
    xprop -id "$w" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR || return 1
  done
  [ "$(task_buttons)" = 0 ]
}
sleep 1
no_taskbar_entry || fail "the window came back from the tray with a taskbar entry ($(task_buttons) buttons)"

# Exit from the menu stores the placement and the running state.
w=$(window)
xdotool windowactivate --sync "$w" >/dev/null 2>&1 || true
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key x
ended() { [ ! -e "/proc/$app" ] || grep -q '^[0-9]* (.*) Z' "/proc/$app/stat"; }
wait_for 10 ended || fail "Exit from the menu did not end the program"
wait "$app" || fail "exit code $?"
app=""
reg=$(tr -d '\r' <"$XDG_CONFIG_HOME/Sentrel/registry.reg")
for value in Left Top Width Height ListHeight Col1Width Col5Width; do
  grep -q "^\"$value\"=\"-\\?[0-9]*\"" <<<"$reg" || fail "placement value $value not stored"
done
grep -q '^"Width"="[1-9][0-9]*"' <<<"$reg" || fail "stored width is not positive"
grep -q '^"Visible"="1"' <<<"$reg" || fail "Visible not stored"
grep -q '^"isPinging"="1"' <<<"$reg" || fail "isPinging not stored"
# SIGTERM ends a running program as the end of the desktop session does:
# placement and running state stored, exit code 0.
"${in_ns[@]}" "$sentrel" >"$work/out" 2>"$work/err" &
app=$!
wait_for 40 has_window || fail "no window at the second run"
sed -i '/"isPinging"/d' "$XDG_CONFIG_HOME/Sentrel/registry.reg"
kill -TERM "$app"
wait_for 10 ended || fail "SIGTERM did not end the program"
wait "$app" || fail "exit code $? after SIGTERM"
app=""
grep -q '^"isPinging"="1"' <(tr -d '\r' <"$XDG_CONFIG_HOME/Sentrel/registry.reg") ||
  fail "SIGTERM did not store the running state"

echo "window end to end: rows, second start (${elapsed} ms), trace (query $query_ms ms, stop $stop_ms ms), exit, placement and SIGTERM all right"
