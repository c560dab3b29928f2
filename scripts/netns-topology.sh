#!/usr/bin/env bash
# Network namespaces for the ICMP tests, all named PREFIX-<role>, using only
# 198.18.0.0/15 and fd00::/8 inside them:
#
#   cli 198.18.1.2 -- 198.18.1.1 r1 198.18.2.1 -- 198.18.2.2 r2 198.18.3.1 -- 198.18.3.2 tgt
#                                r1 198.18.4.1 -- 198.18.4.2 dly
#
# and the same for IPv6, 198.18.N.M as fd00:N::M (fd00:1::2 is cli).
#
# cli: the probing side (ping sockets allowed for every group).
# r1:  no route for 198.18.8.0/24 (answers "net unreachable").
# r2:  198.18.9.0/24 unreachable (answers "host unreachable"), 198.18.7.0/24
#      dropped silently (a target that never answers). IPv6: fd00:9::/64
#      unreachable ("no route"), fd00:a::/64 prohibited, fd00:7::/64 dropped;
#      fd00:3::99 does not exist (neighbour discovery fails: "address
#      unreachable").
# dly: the kernel ignores echo requests there, so a test responder answers.
#
# Usage: netns-topology.sh up PREFIX | down PREFIX | clean
# PREFIX is "snp" and the test process id; "up" also removes what crashed
# test runs left behind (their process is gone), "clean" only that. "up"
# removes everything it made when a step fails.
set -euo pipefail

roles=(cli r1 r2 tgt dly)

down() {
  local prefix=$1 role
  for role in "${roles[@]}"; do
    ip netns del "$prefix-$role" 2>/dev/null || true
  done
}

clean_stale() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^snp[0-9]+-' || true); do
    pid=${ns%%-*}
    pid=${pid#snp}
    if ! kill -0 "$pid" 2>/dev/null; then ip netns del "$ns" 2>/dev/null || true; fi
  done
}

up() {
  local p=$1
  trap 'down "$p"' ERR
  for role in "${roles[@]}"; do
    ip netns add "$p-$role"
    ip -n "$p-$role" link set lo up
    # Without duplicate address detection the links' own IPv6 addresses are
    # usable at once; with it, neighbour discovery waits a second at first.
    ip netns exec "$p-$role" sysctl -qw net.ipv6.conf.all.accept_dad=0 \
      net.ipv6.conf.default.accept_dad=0
  done
  ip -n "$p-cli" link add c0 type veth peer name r1a netns "$p-r1"
  ip -n "$p-r1" link add r1b type veth peer name r2a netns "$p-r2"
  ip -n "$p-r2" link add r2b type veth peer name t0 netns "$p-tgt"
  ip -n "$p-r1" link add r1c type veth peer name d0 netns "$p-dly"
  ip -n "$p-cli" addr add 198.18.1.2/24 dev c0
  ip -n "$p-r1" addr add 198.18.1.1/24 dev r1a
  ip -n "$p-r1" addr add 198.18.2.1/24 dev r1b
  ip -n "$p-r1" addr add 198.18.4.1/24 dev r1c
  ip -n "$p-r2" addr add 198.18.2.2/24 dev r2a
  ip -n "$p-r2" addr add 198.18.3.1/24 dev r2b
  ip -n "$p-tgt" addr add 198.18.3.2/24 dev t0
  ip -n "$p-dly" addr add 198.18.4.2/24 dev d0
  local pair
  for pair in cli/c0/1::2 r1/r1a/1::1 r1/r1b/2::1 r1/r1c/4::1 r2/r2a/2::2 r2/r2b/3::1 \
              tgt/t0/3::2 dly/d0/4::2; do
    IFS=/ read -r role dev host <<<"$pair"
    ip -n "$p-$role" addr add "fd00:$host/64" dev "$dev" nodad
  done
  local link
  for link in cli:c0 r1:r1a r1:r1b r1:r1c r2:r2a r2:r2b tgt:t0 dly:d0; do
    ip -n "$p-${link%:*}" link set "${link#*:}" up
  done
  ip -n "$p-cli" route add default via 198.18.1.1
  ip -n "$p-tgt" route add default via 198.18.3.1
  ip -n "$p-dly" route add default via 198.18.4.1
  ip -n "$p-r1" route add 198.18.3.0/24 via 198.18.2.2
  ip -n "$p-r1" route add 198.18.7.0/24 via 198.18.2.2
  ip -n "$p-r1" route add 198.18.9.0/24 via 198.18.2.2
  ip -n "$p-r2" route add 198.18.1.0/24 via 198.18.2.1
  ip -n "$p-r2" route add 198.18.4.0/24 via 198.18.2.1
  ip -n "$p-r2" route add unreachable 198.18.9.0/24
  ip -n "$p-r2" route add blackhole 198.18.7.0/24
  ip -n "$p-cli" -6 route add default via fd00:1::1
  ip -n "$p-tgt" -6 route add default via fd00:3::1
  ip -n "$p-dly" -6 route add default via fd00:4::1
  local net
  for net in 3 7 9 a; do ip -n "$p-r1" -6 route add "fd00:$net::/64" via fd00:2::2; done
  ip -n "$p-r2" -6 route add fd00:1::/64 via fd00:2::1
  ip -n "$p-r2" -6 route add fd00:4::/64 via fd00:2::1
  ip -n "$p-r2" -6 route add unreachable fd00:9::/64
  ip -n "$p-r2" -6 route add prohibit fd00:a::/64
  ip -n "$p-r2" -6 route add blackhole fd00:7::/64
  # A neighbour that never answers is given up on after 0.3 s, not 3.
  ip netns exec "$p-r2" sysctl -qw net.ipv6.neigh.r2b.mcast_solicit=1 \
    net.ipv6.neigh.r2b.retrans_time_ms=300
  for role in r1 r2; do
    ip netns exec "$p-$role" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 \
      net.ipv6.conf.all.forwarding=1
  done
  for role in "${roles[@]}"; do
    ip netns exec "$p-$role" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_msgs_per_sec=100000 net.ipv4.icmp_msgs_burst=100000 net.ipv6.icmp.ratelimit=0
  done
  ip netns exec "$p-cli" sysctl -qw net.ipv4.ping_group_range="0 2147483646"
  ip netns exec "$p-dly" sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1
  trap - ERR
}

case "${1:-}" in
  up)
    [[ "${2:-}" =~ ^snp[0-9]+$ ]] || { echo "usage: $0 up snpPID" >&2; exit 2; }
    clean_stale
    up "$2"
    ;;
  down)
    [[ "${2:-}" =~ ^snp[0-9]+$ ]] || { echo "usage: $0 down snpPID" >&2; exit 2; }
    down "$2"
    ;;
  clean)
    clean_stale
    ;;
  *)
    echo "usage: $0 up|down PREFIX | clean" >&2
    exit 2
    ;;
esac
