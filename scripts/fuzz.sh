#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang++-14, libFuzzer, address and
# undefined-behaviour sanitizers) and runs each for SECONDS, one after the
# other, starting from its seed corpus in tests/fuzz/corpus/<target>.
#
# Usage: scripts/fuzz.sh SECONDS [TARGET...]     (default: every target)
#   FUZZ_RUNS=N   stop a target after N executions instead (SECONDS still
#                 bounds it)
#   FUZZ_KEEP=1   keep the corpus each run grew in build/fuzz/corpus/<target>
#                 and start the next run from it (default: a fresh one)
#
# Prints one line per target: executions, covered edges ("cov:"), features,
# corpus size. A crash or a failed property stops with exit 1 and leaves the
# input in build/fuzz/findings/<target>/; fix it, then keep the input in the
# seed folder as corpus/<target>/regress-<what> so every build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(data_file registry_file language_file smtp_client icmp_receive base64 lenient_int
           alarm_template)
fi

out=build/fuzz
cmake --preset fuzz >/dev/null
if ! cmake --build --preset fuzz >"$out/build.log" 2>&1; then
  cat "$out/build.log"
  exit 1
fi

# Files the targets write go to memory where possible: the readers' cost is
# then the parsing, not the disk's flushes.
base=${TMPDIR:-/tmp}
[ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/sentrel-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
printf '%-16s %12s %8s %8s %10s\n' target executions cov ft corpus
for target in "${targets[@]}"; do
  program="$out/tests/fuzz/fuzz_$target"
  [ -x "$program" ] || { echo "no fuzz target $target" >&2; exit 2; }
  corpus="$work/corpus-$target"
  [ "${FUZZ_KEEP:-0}" = 1 ] && corpus="$out/corpus/$target"
  findings="$out/findings/$target"
  mkdir -p "$corpus" "$findings"
  runs=()
  [ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
  # The target's scratch files go to a folder of this run.
  mkdir -p "$work/tmp"
  if TMPDIR="$work/tmp" "$program" -max_total_time="$seconds" "${runs[@]}" \
       -print_final_stats=1 -artifact_prefix="$findings/" -max_len=4096 -timeout=20 \
       -rss_limit_mb=2048 "$corpus" "tests/fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
    result=""
  else
    result="  FAILED: see $findings/ and $out/fuzz-$target.log"
    status=1
  fi
  cp "$work/$target.log" "$out/fuzz-$target.log"
  execs=$(awk '/stat::number_of_executed_units:/ {print $2}' "$work/$target.log")
  last=$(grep -E '^#[0-9]+' "$work/$target.log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
  printf '%-16s %12s %8s %8s %10s%s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" \
    "${corp:-?}" "$result"
done
exit $status
