# Sourced by the mail end-to-end tests of the headless runner: root and
# Debian's aiosmtpd or exit 77, a work folder, the namespaces of
# scripts/netns-topology.sh (PREFIX-cli in $cli), an SMTP server on the
# client namespace's loopback storing mail as $work/mail/N.data (its port in
# $port), `fail` and `wait_for`, and a cleanup of all of it. Arguments:
# SENTREL_BINARY SOURCE_ROOT, as the test got them.
sentrel=$1
root=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: network namespaces need root"; exit 77; }
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null ||
  { echo "skipped: Debian's python3-aiosmtpd is not installed"; exit 77; }

prefix="snp$$"
work=$(mktemp -d /tmp/sentrel-e2e.XXXXXX)
runner=""
smtp=""
cleanup() {
  [ -n "$runner" ] && kill -KILL "$runner" 2>/dev/null || true
  [ -n "$smtp" ] && kill "$smtp" 2>/dev/null || true
  "$root/scripts/netns-topology.sh" down "$prefix" || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- runner stdout"; cat "$work/out" 2>/dev/null || true
  echo "--- runner stderr"; cat "$work/err" 2>/dev/null || true
  echo "--- mail"; ls -l "$work/mail" 2>/dev/null || true
  exit 1
}

source "$root/tests/integration/wait_for.sh"

"$root/scripts/netns-topology.sh" up "$prefix"
cli="$prefix-cli"

# The SMTP server listens on the client namespace's own loopback.
mkdir -p "$work/mail"
mkfifo "$work/smtp.in"
ip netns exec "$cli" /usr/bin/python3 "$root/tests/integration/notify/smtp_peer.py" \
  --store "$work/mail" --mechanisms "" <"$work/smtp.in" >"$work/smtp.out" &
smtp=$!
exec 3>"$work/smtp.in"
wait_for 10 grep -q '^PORT ' "$work/smtp.out" || fail "SMTP peer did not start"
port=$(awk '/^PORT/ {print $2}' "$work/smtp.out")

