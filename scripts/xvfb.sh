# Sourced by every script that needs a virtual X display. start_xvfb lets
# Xvfb choose a free display number itself (-displayfd), so that runs in
# parallel never pick the same one: a number chosen by looking for free lock
# files could be taken by another run before its Xvfb starts, and a lock
# file that someone removed would not keep it from a server still running.
#
# Xvfb runs in this network namespace, never inside a test's own: a server
# there would not see the abstract sockets of the servers out here and could
# take a number in use, and clients out here (xdotool, accessibility) would
# reach the other server. Programs in a test's namespace still reach this
# one through its socket file.
#
# Stop it with SIGTERM (kill "$xvfb_pid"): it removes its own lock and
# socket files. Never remove them by number: by then another server may own
# that number.
#
# start_xvfb WORKDIR GEOMETRY
#   Starts Xvfb, waits at most 10 s until it accepts clients, and sets
#   DISPLAY, xvfb_display (the number) and xvfb_pid. Returns 1 when it did
#   not start.
start_xvfb() {
  local work=$1 geometry=$2
  local numberFile="$work/xvfb.display"
  : >"$numberFile"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
  xvfb_pid=$!
  xvfb_display=""
  local i
  for ((i = 0; i < 100; i++)); do
    # The number is written once the server accepts clients, with a line end.
    if [ "$(tail -c1 "$numberFile" 2>/dev/null | od -An -tx1 | tr -d ' ')" = 0a ]; then
      xvfb_display=$(head -n1 "$numberFile")
      break
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [ -n "$xvfb_display" ] || return 1
  export DISPLAY=":$xvfb_display"
}
