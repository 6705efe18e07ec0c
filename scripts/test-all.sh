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
#   debian12, debian13
#                the stages native, native-asan, win32 and package in a fresh
#                root of that Debian release (scripts/debian-root.sh: root);
#                the default list ends with the release this machine is not
# The package tests run in the native and win32 stages, on the packages of
# their build. Stages can be chosen: scripts/test-all.sh native win32
#
# --load (or SV_TEST_LOAD=1) runs the stages on a busy machine: a CPU hog on
# every core (stress-ng --cpu N, N = nproc) for the whole run, so that a test
# that passes only on an idle machine shows. Not part of CI.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

load=${SV_TEST_LOAD:-0}
stages=()
for arg in "$@"; do
  if [ "$arg" = --load ]; then load=1; else stages+=("$arg"); fi
done
other_release=debian13
[ "$(. /etc/os-release && echo "${VERSION_ID:-}")" != 13 ] || other_release=debian12
[ ${#stages[@]} -gt 0 ] || stages=(native native-asan fuzz soak win32 package "$other_release")

scripts/install-deps.sh all || exit 1

run_start=$(date +%s)
hog=""
end_load() {
  [ -n "$hog" ] || return 0
  # stress-ng ends its workers when it is ended.
  kill "$hog" 2>/dev/null
  wait "$hog" 2>/dev/null
  echo "== load ended (stress-ng, pid $hog)"
  hog=""
}
trap end_load EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
if [ "$load" = 1 ]; then
  cpus=$(nproc)
  # Its own time-out only backs up the trap, should this script be killed
  # outright; no run comes near it.
  stress-ng --cpu "$cpus" --timeout 6h --quiet &
  hog=$!
  echo "== load: stress-ng --cpu $cpus (pid $hog) for the whole run"
fi

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

# Adds the counts of a run of this script (its "N passed, M failed" line).
count_run() {
  local line
  line=$(grep -E "^[0-9]+ passed, [0-9]+ failed$" "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    failures+=("$2: no summary")
    return
  fi
  local good bad
  good=${line%% passed*}
  bad=$(sed -E 's/.*, ([0-9]+) failed$/\1/' <<<"$line")
  passed=$((passed + good))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || failures+=("$2: $bad failed (build/$2/build/logs)")
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
    debian12 | debian13)
      # What depends on the release: its compilers and sanitizer runtime, the
      # DLL's runtime, Wine and the packages. fuzz and soak run the same code
      # for a time or a count, and are left to the machine's own release.
      echo "== $stage: native, native-asan, win32 and package in a fresh root"
      scripts/debian-root.sh "${stage#debian}" scripts/test-all.sh native native-asan win32 package 2>&1 |
        tee "$log_dir/$stage.log"
      count_run "$log_dir/$stage.log" "$stage"
      ;;
    *)
      echo "unknown stage: $stage" >&2
      exit 2
      ;;
  esac
  echo "== $stage took $(($(date +%s) - start)) s"
done

end_load
echo "== all stages took $(($(date +%s) - run_start)) s$([ "$load" = 1 ] && echo " under load")"
echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
