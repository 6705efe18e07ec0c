#!/usr/bin/env bash
# The whole test suite from a fresh Debian machine: installs what is missing,
# then builds and tests every configuration in turn:
#   native       unit, contract, receiver, support and headless dialog tests,
#                and one short run of the side-by-side benchmark
#   native-asan  the same suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   fuzz         each libFuzzer target for a bounded time (FUZZ_SECONDS, default 30)
#   soak         10 M steps of 50 doubles with flat memory, then valgrind memcheck
#   win32        the DLL under Wine: contract, win32 and dialog tests (in Xvfb),
#                then a soak under Wine (SOAK_WINE_STEPS, default 200,000),
#                and one short run of the side-by-side benchmark
#   package      scripts/release.sh, the release command, into dist/; then the
#                tools package installed with apt-get on a machine without
#                libjs-dygraphs, used, and removed again (root; the machine is
#                put back as it was)
# The package tests run in the native and win32 stages, on the packages of
# their build. Stages can be chosen: scripts/test-all.sh native win32
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native native-asan fuzz soak win32 package)

scripts/install-deps.sh all || exit 1

passed=0
failed=0
failures=()
log_dir="$root/build/logs"
mkdir -p "$log_dir"

# Adds the counts of a ctest summary line to the totals.
count_ctest() {
  local line
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    failures+=("$2: no test summary")
    return
  fi
  local bad total
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || failures+=("$2: $bad of $total tests failed")
}

step() {  # step NAME COMMAND...: a build step whose failure counts once
  local name=$1
  shift
  echo "== $name"
  if ! "$@"; then
    failed=$((failed + 1))
    failures+=("$name")
    return 1
  fi
}

ctest_stage() {  # ctest_stage PRESET
  local log="$log_dir/ctest-$1.log"
  echo "== ctest --preset $1"
  ctest --preset "$1" 2>&1 | tee "$log"
  count_ctest "$log" "$1"
}

for stage in "${stages[@]}"; do
  start=$(date +%s)
  case "$stage" in
    native | native-asan)
      if step "configure $stage" cmake --preset "$stage" >/dev/null &&
        step "build $stage" cmake --build --preset "$stage"; then
        ctest_stage "$stage"
        # The benchmark once, short: it must run; its figures are not judged.
        if [ "$stage" = native ]; then
          step "benchmark smoke" build/native/bench/sv_side_by_side --smoke
        fi
      fi
      ;;
    fuzz)
      step "configure fuzz" cmake --preset fuzz >/dev/null &&
        step "build fuzz" cmake --build --preset fuzz &&
        step "fuzz" scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
      ;;
    soak)
      step "soak" scripts/soak.sh "${SOAK_STEPS:-10000000}"
      ;;
    win32)
      step "configure win32" cmake --preset win32 >/dev/null &&
        step "build win32" cmake --build --preset win32 &&
        {
          scripts/wine-prefix.sh init build/win32/wineprefix
          ctest_stage win32
          step "soak under Wine" scripts/soak.sh --wine "${SOAK_WINE_STEPS:-200000}"
          scripts/wine-prefix.sh stop build/win32/wineprefix
          step "benchmark smoke win32" bench/wine-side-by-side.sh --smoke
        }
      ;;
    package)
      step "release" scripts/release.sh &&
        step "tools package installed" python3 tests/package/installed_tools_test.py \
          --deb "$(ls dist/udpsv-tools_*.deb)"
      ;;
    *)
      echo "unknown stage: $stage" >&2
      exit 2
      ;;
  esac
  echo "== $stage took $(($(date +%s) - start)) s"
done

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
