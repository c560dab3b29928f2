#!/usr/bin/env bash
# End to end: the stored window position under a window manager that adds a
# frame (icewm) must be where the window comes back, run after run: hidden
# to the tray and ended, shown from the tray and ended, moved and ended.
# Each run must store what it restored (or where the window was moved to),
# never a position shifted by the frame.
#
# Usage: placement_e2e.sh SENTREL_BINARY. Exit 77 = skipped.
set -euo pipefail

sentrel=$1
for tool in Xvfb icewm xdotool xwininfo dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/sentrel-placement.XXXXXX)
xvfb=""
wm=""
bus=""
app=""
cleanup() {
  for pid in "$app" "$wm" "$bus" "$xvfb"; do
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- program stderr"; cat "$work/err" 2>/dev/null || true
  echo "--- stored"; tr -d '\r' <"$XDG_CONFIG_HOME/Sentrel/registry.reg" 2>/dev/null || true
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

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Sentrel" "$XDG_DATA_HOME/Sentrel" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The server picks a free display itself and writes its number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
has_display() { [ -s "$work/display" ]; }
wait_for 10 has_display || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"
# A desktop session has its bus; the toolkit's tray looks for one.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
bus=$!
has_bus() { [ -S "$work/bus" ]; }
wait_for 10 has_bus || fail "no session bus"
icewm >/dev/null 2>&1 &
wm=$!
# The tray (notification area) is icewm's; the window manager is ready once
# it has set up its own window.
wm_ready() { xwininfo -root -tree 2>/dev/null | grep -q '"TaskPane"\|icewm'; }
wait_for 10 wm_ready || fail "icewm did not start"

printf '%s\r\n' '<H>' '<HIP>10.0.0.1</HIP>' '<HN>first</HN>' '</H>' >"$XDG_DATA_HOME/Sentrel/sentrel.xml"
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]' '"MinToTray"="1"' '' \
  '[HKEY_CURRENT_USER\SOFTWARE\Sentrel\MainForm]' '"Left"="100"' '"Top"="100"' '"Width"="700"' \
  '"Height"="450"' '"ListHeight"="200"' '"Visible"="1"' >"$XDG_CONFIG_HOME/Sentrel/registry.reg"

window() { xdotool search --onlyvisible --name '^Sentrel$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window)" ]; }
hidden() { [ -z "$(window)" ]; }
# The inside of the window as the X server has it: "left top width height".
where() {
  xwininfo -id "$(window)" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}'
}
stored() {
  local reg name out=""
  reg=$(tr -d '\r' <"$XDG_CONFIG_HOME/Sentrel/registry.reg")
  for name in Left Top Width Height ListHeight; do
    out+="$(sed -n "s/^\"$name\"=\"\\(-\\?[0-9]*\\)\"$/\\1/p" <<<"$reg") "
  done
  echo "${out% }"
}
start() {
  "$sentrel" >"$work/out" 2>"$work/err" &
  app=$!
}
ended() { [ ! -e "/proc/$app" ] || grep -q '^[0-9]* (.*) Z' "/proc/$app/stat"; }
stop() {
  kill -TERM "$app"
  wait_for 10 ended || fail "SIGTERM did not end the program"
  wait "$app" || fail "exit code $? after SIGTERM"
  app=""
}
tray_icon() {
  local w
  for w in $(xdotool search --onlyvisible --class sentrel 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 2[0-9]$' && { echo "$w"; return 0; }
  done
  return 1
}
has_tray_icon() { tray_icon >/dev/null; }

# Run 1: restored where stored, then hidden in the tray and ended.
start
wait_for 40 has_window || fail "no window at the first run"
sleep 1
[ "$(where)" = "100 100 700 450" ] || fail "restored at $(where), stored 100 100 700 450"
xdotool windowminimize "$(window)"
wait_for 10 hidden || fail "minimising to the tray did not hide the window"
stop
[ "$(stored)" = "100 100 700 450 200" ] || fail "first run stored $(stored)"

# Run 2: starts hidden; shown from the tray icon, then moved and ended.
start
wait_for 20 has_tray_icon || fail "no tray icon at the second run"
icon=$(tray_icon)
read -r x y < <(xwininfo -id "$icon" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x + 10, y + 10}')
xdotool mousemove "$x" "$y" click 1
wait_for 10 has_window || fail "a click on the tray icon did not bring the window back"
sleep 1
[ "$(where)" = "100 100 700 450" ] || fail "shown from the tray at $(where), stored 100 100 700 450"
xdotool windowmove "$(window)" 300 200
moved() { [ "$(where)" = "300 200 700 450" ]; }
wait_for 5 moved || fail "the window did not move: $(where)"
sleep 0.5
stop
[ "$(stored)" = "300 200 700 450 200" ] || fail "second run stored $(stored) after a move to 300 200"

# Run 3: where it was moved to, and stored unchanged.
start
wait_for 40 has_window || fail "no window at the third run"
sleep 1
[ "$(where)" = "300 200 700 450" ] || fail "third run restored at $(where), stored 300 200 700 450"
stop
[ "$(stored)" = "300 200 700 450 200" ] || fail "third run stored $(stored)"

echo "placement end to end: restored and stored alike over three runs (tray, move, plain)"
