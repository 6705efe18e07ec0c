#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz, starting from the committed seeds
# under fuzz/corpus/<target>/. New inputs go to a scratch corpus in
# build/fuzz/corpus, so the seeds stay as committed. A crash or a broken
# property leaves its input in build/fuzz/findings.
#
#   scripts/fuzz.sh [SECONDS]            each target for SECONDS (default 30)
#   scripts/fuzz.sh --runs N [--merge]   each target for N executions (the long
#                                        mode: 10000000 for a run that means
#                                        something); --merge then merges what
#                                        found new coverage into the committed
#                                        corpus, minimised (-merge=1)
#
# Each target's line gives its executions and its final coverage (edges
# "cov" and features "ft" as libFuzzer counts them).
set -euo pipefail
cd "$(dirname "$0")/.."
budget=(-max_total_time="${1:-30}")
what="${1:-30} s"
merge=0
if [ "${1:-}" = "--runs" ]; then
  budget=(-runs="${2:?executions}")
  what="$2 runs"
  [ "${3:-}" = "--merge" ] && merge=1
fi
bin=build/fuzz/fuzz
[ -d "$bin" ] || { echo "build the fuzz preset first: cmake --preset fuzz && cmake --build --preset fuzz" >&2; exit 2; }
mkdir -p build/fuzz/findings
status=0
for exe in "$bin"/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  target=${name#fuzz_}
  scratch=build/fuzz/corpus/$target
  mkdir -p "$scratch"
  seeds=fuzz/corpus/$target
  [ -d "$seeds" ] || seeds=""
  log=build/fuzz/$name.log
  start=$(date +%s)
  if "$exe" "${budget[@]}" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/findings/"$name"- "$scratch" $seeds >"$log" 2>&1; then
    runs=$(grep -E "^stat::number_of_executed_units" "$log" | awk '{print $2}')
    cov=$(grep -oE "cov: [0-9]+ ft: [0-9]+" "$log" | tail -n 1)
    echo "$name: ${runs:-?} executions ($what, $(($(date +%s) - start)) s), ${cov:-no coverage line}, no finding"
    if [ $merge -eq 1 ] && [ -n "$seeds" ]; then
      before=$(find "$seeds" -type f | wc -l)
      "$exe" -merge=1 -max_len=4096 "$seeds" "$scratch" >"build/fuzz/$name.merge.log" 2>&1
      echo "  corpus $seeds: $before -> $(find "$seeds" -type f | wc -l) inputs"
    fi
  else
    echo "$name: FAILED, see $log and build/fuzz/findings/"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
