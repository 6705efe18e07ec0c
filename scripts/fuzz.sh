#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for SECONDS each (default 30),
# starting from the committed seeds under fuzz/corpus/<target>/. New inputs
# go to a scratch corpus in build/fuzz/corpus, so the seeds stay as committed.
# A crash or a broken property leaves its input in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
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
  if "$exe" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/findings/"$name"- "$scratch" $seeds >"$log" 2>&1; then
    runs=$(grep -E "^stat::number_of_executed_units" "$log" | awk '{print $2}')
    echo "$name: ${runs:-?} executions in ${seconds} s, no finding"
  else
    echo "$name: FAILED, see $log and build/fuzz/findings/"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
