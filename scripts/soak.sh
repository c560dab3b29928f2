#!/usr/bin/env bash
# The long soak: the headless runner (the debug build: no sanitizer, so the
# memory figures are the program's own) watches many hosts in network
# namespaces that go down and come back on a random schedule, with a real
# SMTP server receiving the alarms (see tests/integration/app/soak_test.py
# for what is checked). Needs root.
#
# Usage: scripts/soak.sh [SECONDS [HOSTS]]     (default: 3600 s, 48 hosts)
# The figures go to standard output and to build/debug/soak-report.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
hosts=${2:-48}
scripts/setup.sh
cmake --preset debug >/dev/null
cmake --build --preset debug --target sentrel
/usr/bin/python3 tests/integration/app/soak_test.py build/debug/src/app/sentrel "$PWD" \
  --seconds "$seconds" --hosts "$hosts" --report build/debug/soak-report.txt
