# Sourced by the end-to-end scripts.
# wait_for SECONDS COMMAND...: polls every 0.1 s, bounded.
wait_for() {
  local tries=$(( $1 * 10 )); shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
