#!/usr/bin/env bash
# Mutation testing: plants small faults in the product's own code, one at a
# time, and runs the fast native suite against each. A fault that no test
# notices (a survivor) is a gap in the tests, or a change that cannot be
# observed (an equivalent mutant).
#
#   scripts/mutants.sh [N] [SEED]     N faults (default 20) that compile,
#                                     drawn by SEED (default 1)
#   scripts/mutants.sh --only FILE [N] [SEED]
#                                     of that draw, only the faults FILE lists
#                                     (lines as a run prints its survivors:
#                                     FILE <TAB> ORIGINAL <TAB> MUTATED), to see
#                                     whether new tests kill a run's survivors
#                                     without running the rest again
#
# Faults: a relational, logical or arithmetic operator swapped for its
# neighbour, an integer constant changed (0 and 1 swapped, others + 1),
# true and false swapped, a `!` dropped. Lines: the sources of base/,
# platform/ (its headers and the posix sources), support/, transmit/,
# dialog/ and plugin/ (posix load hooks) that the native build compiles;
# comments, strings, #include lines and static_asserts are left alone.
# The same SEED on the same tree draws the same faults in the same order.
#
# Each fault is rebuilt incrementally in build/mutants (the native preset
# without benchmarks and with the C++ library's assertions; build/native is
# never touched) and the suite runs with a hang guard; the first failing test
# kills it. The suite is the native
# ctest without the tests that are slow and cannot see a fault of the
# product: the real clients (labels "clients": Octave, tshark, Chromium,
# which show the product's frames only as the unit and contract tests
# already do), the package tests (packaging) and the layer checks (includes,
# layout). The receiver's own tests stay: its sockets build on the platform's.
# Faults that do not compile are skipped and counted apart.
#
# scripts/mutants-equivalent.txt lists equivalent mutants, one a line:
#   FILE <TAB> ORIGINAL LINE <TAB> MUTATED LINE <TAB> WHY NOTHING OBSERVABLE CHANGES
# (lines trimmed, as a survivor is printed); they are reported apart and not
# scored. The source is restored after each fault and on every exit; the
# script refuses to start while those folders have changes of their own.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

only=""
if [ "${1:-}" = "--only" ]; then
  only=${2:-}
  [ -f "$only" ] || { echo "usage: $0 [--only FILE] [N] [SEED]" >&2; exit 2; }
  only=$(realpath "$only")
  shift 2
fi
count=${1:-20}
seed=${2:-1}
# With --only, the run ends once each listed fault has been met.
[ -n "$only" ] && wanted=$(grep -c $'\t' "$only") || wanted=$count
folders=(base platform support transmit dialog plugin)
build=build/mutants
equivalents=scripts/mutants-equivalent.txt
hang_guard=240  # a whole suite run; then 6 times the unmutated run, at least 60 s
kExcluded='^(tools_|package_|layers_)'

case "$count" in '' | *[!0-9]*) echo "usage: $0 [N] [SEED]" >&2; exit 2 ;; esac
case "$seed" in '' | *[!0-9]*) echo "usage: $0 [N] [SEED]" >&2; exit 2 ;; esac
if [ -n "$(git status --porcelain -- "${folders[@]}")" ]; then
  echo "mutants: ${folders[*]} have uncommitted changes; commit or stash them first" >&2
  git status --short -- "${folders[@]}" >&2
  exit 2
fi

work=$(mktemp -d)
current=""  # the file that holds a fault now
restore() {
  if [ -n "$current" ]; then
    # A fresh modification time, so that the next build compiles it again.
    cp "$work/original" "$current"
    current=""
  fi
}
finish() {
  restore
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== configure $build (native preset, no benchmarks)"
# With the C++ library's checked indexing, so that a fault that reads past a
# container's end fails where it would otherwise read whatever lies there.
cmake --preset native -B "$build" -DSV_BUILD_BENCH=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS >/dev/null ||
  exit 1

build_tree() { cmake --build "$build" -j2 >"$work/build.log" 2>&1; }
# run_suite: 0 when every test passed; the failing test's name in $work/failed.
run_suite() {
  local status=0
  timeout --kill-after=10 $hang_guard \
    ctest --test-dir "$build" -j2 --stop-on-failure -E "$kExcluded" >"$work/ctest.log" 2>&1 ||
    status=$?
  # "Foo.Bar ....***Failed", or "Foo.Bar ....Subprocess aborted***Exception: ..."
  grep -oE "Test +#[0-9]+: [^ ]+ \.+[A-Za-z ]*\*+[A-Za-z]+" "$work/ctest.log" | head -n 1 |
    sed -E 's/Test +#[0-9]+: ([^ ]+) \.+([A-Za-z ]+)\*+.*/\1 (\2)/; s/Test +#[0-9]+: ([^ ]+) \.+\*+(.*)/\1 (\2)/' \
      >"$work/failed"
  [ $status -eq 124 ] && echo "hang guard of $hang_guard s" >"$work/failed"
  return $status
}

echo "== build and run the suite on the unmutated tree"
start=$(date +%s)
build_tree || { cat "$work/build.log"; echo "mutants: the unmutated tree does not build"; exit 1; }
built=$(date +%s)
if ! run_suite; then
  cat "$work/ctest.log"
  echo "mutants: the suite fails on the unmutated tree: $(cat "$work/failed")"
  exit 1
fi
tests=$(grep -oE "tests passed, [0-9]+ tests? failed out of [0-9]+" "$work/ctest.log" | grep -oE "[0-9]+$")
suite_seconds=$(($(date +%s) - built))
hang_guard=$((suite_seconds * 6 > 60 ? suite_seconds * 6 : 60))
echo "baseline: $tests tests pass in $suite_seconds s (build $((built - start)) s); hang guard $hang_guard s"

# Every candidate fault, shuffled by the seed: FILE LINE COLUMN FROM TO, tab-separated.
python3 - "$build/compile_commands.json" "$seed" "${folders[@]}" >"$work/plan" <<'PY'
import json, os, random, re, sys

commands, seed, folders = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
root = os.getcwd()
compiled = {os.path.relpath(c["file"], root) for c in json.load(open(commands))}
files = sorted(p for p in compiled
               if p.split(os.sep)[0] in folders and os.sep + "win32" + os.sep not in p)
for folder in folders:
    for d, _, names in os.walk(folder):
        if "win32" in d.split(os.sep):
            continue
        files += sorted(os.path.join(d, n) for n in names if n.endswith(".h"))
files = sorted(set(files))

HEX_DIGITS = "0123456789abcdefABCDEF"


def masked(lines):
    """Each line with comments, string and character literals blanked out,
    so that only code is mutated; columns stay as they were."""
    out, in_block = [], False
    for line in lines:
        s, i = list(line), 0
        while i < len(s):
            if in_block:
                end = line.find("*/", i)
                stop = len(s) if end < 0 else end + 2
                s[i:stop] = " " * (stop - i)
                in_block, i = end < 0, stop
            elif line.startswith("//", i):
                s[i:] = " " * (len(s) - i)
                break
            elif line.startswith("/*", i):
                in_block = True
            # A quote after a hex digit is a digit separator (0xFFFF'FFFF).
            elif s[i] == '"' or (s[i] == "'" and (i == 0 or line[i - 1] not in HEX_DIGITS)):
                q, j = s[i], i + 1
                while j < len(s) and line[j] != q:
                    j += 2 if line[j] == "\\" else 1
                s[i:j + 1] = " " * (min(j + 1, len(s)) - i)
                i = j + 1
            else:
                i += 1
        out.append("".join(s))
    return out

SWAPS = [  # (pattern of the operator with its blanks, replacement)
    (" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > "),
    (" == ", " != "), (" != ", " == "),
    (" && ", " || "), (" || ", " && "),
    (" + ", " - "), (" - ", " + "), (" * ", " / "), (" / ", " * "), (" % ", " * "),
    (" << ", " >> "), (" >> ", " << "), (" & ", " | "), (" | ", " & "), (" ^ ", " & "),
    (" += ", " -= "), (" -= ", " += "), (" |= ", " &= "), (" &= ", " |= "),
    ("++", "--"), ("--", "++"),
]
SKIP = re.compile(r"^\s*(#\s*(include|pragma|if|ifdef|ifndef|elif|else|endif|error)\b|.*\bstatic_assert\b)")
NUMBER = re.compile(r"(?<![\w.'])(0[xX][0-9A-Fa-f']+|[0-9][0-9']*)([uUlL]*)(?![\w.'])")

plan = []
for path in files:
    lines = open(path, encoding="utf-8").read().split("\n")
    for n, code in enumerate(masked(lines), start=1):
        if SKIP.match(lines[n - 1]) or not code.strip():
            continue
        for old, new in SWAPS:
            for m in re.finditer(re.escape(old), code):
                plan.append((path, n, m.start(), old, new))
        for m in re.finditer(r"\b(true|false)\b", code):
            plan.append((path, n, m.start(), m.group(1), "false" if m.group(1) == "true" else "true"))
        for m in re.finditer(r"!(?=[\w(])", code):
            plan.append((path, n, m.start(), "!", ""))
        for m in NUMBER.finditer(code):
            text, suffix = m.group(1), m.group(2)
            digits = text.replace("'", "")
            hexadecimal = digits[:2] in ("0x", "0X")
            octal = not hexadecimal and len(digits) > 1 and digits[0] == "0"
            value = int(digits, 16 if hexadecimal else 8 if octal else 10)
            new = 1 if value == 0 else 0 if value == 1 else value + 1
            shown = hex(new) if hexadecimal else "0%o" % new if octal else str(new)
            plan.append((path, n, m.start(), text + suffix, shown + suffix))
random.Random(seed).shuffle(plan)
for p in plan:
    print("\t".join(map(str, p)))
PY
[ $? -eq 0 ] || { echo "mutants: listing the candidates failed" >&2; exit 1; }
total=$(wc -l <"$work/plan")
echo "candidates: $total faults on the lines of ${folders[*]}; drawing $count that compile (seed $seed)"

# apply FILE LINE COLUMN FROM TO: writes the fault into FILE and prints the
# original and the mutated line, trimmed, tab-separated.
apply() {
  python3 - "$@" <<'PY'
import sys
path, line, col, old, new = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
lines = open(path, encoding="utf-8").read().split("\n")
text = lines[line - 1]
if text[col:col + len(old)] != old:
    sys.exit("mutants: %s:%d has no %r at column %d" % (path, line, old, col))
lines[line - 1] = text[:col] + new + text[col + len(old):]
open(path, "w", encoding="utf-8").write("\n".join(lines))
print(text.strip().replace("\t", " ") + "\t" + lines[line - 1].strip().replace("\t", " "))
PY
}

# listed FILE BEFORE AFTER [LIST]: whether LIST (the equivalents file unless
# given) names this mutant.
listed() {
  local list=${4:-$equivalents}
  # Through the environment: awk -v would read backslashes of the code as escapes.
  [ -f "$list" ] &&
    F="$1" B="$2" A="$3" awk -F'\t' '$1 == ENVIRON["F"] && $2 == ENVIRON["B"] && $3 == ENVIRON["A"] \
      { found = 1 } END { exit !found }' "$list"
}
planted=0 killed=0 survived=0 equivalent=0 broken=0
survivors=()
loop_start=$(date +%s)
while IFS=$'\t' read -r file line col from to && [ $planted -lt "$count" ] &&
  [ $planted -lt "$wanted" ]; do
  mutant_start=$(date +%s)
  cp "$file" "$work/original"
  current=$file
  change=$(apply "$file" "$line" "$((col))" "$from" "$to") || exit 1
  before=${change%%$'\t'*}
  after=${change#*$'\t'}
  if [ -n "$only" ] && ! listed "$file" "$before" "$after" "$only"; then
    restore
    continue
  fi
  label="$file:$line  \`$from\` -> \`$to\`"
  if ! build_tree; then
    broken=$((broken + 1))
    echo "  --  $label: does not compile (skipped)"
    restore
    continue
  fi
  planted=$((planted + 1))
  tag=$(printf "[%*d/%d]" ${#count} $planted "$count")
  if ! run_suite; then
    killed=$((killed + 1))
    verdict="killed by $(cat "$work/failed")"
  elif listed "$file" "$before" "$after"; then
    equivalent=$((equivalent + 1))
    verdict="survived: a listed equivalent"
  else
    survived=$((survived + 1))
    verdict="SURVIVED"
    survivors+=("$file:$line  \`$from\` -> \`$to\`"$'\n'"      $before"$'\n'"   -> $after"$'\n'"      $file"$'\t'"$before"$'\t'"$after")
  fi
  echo "$tag $label: $verdict ($(($(date +%s) - mutant_start)) s)"
  restore
done <"$work/plan"

restore
echo "== restoring the build of the unmutated tree"
build_tree || echo "mutants: the rebuild of the unmutated tree failed; see $build"

elapsed=$(($(date +%s) - loop_start))
echo
if [ ${#survivors[@]} -gt 0 ]; then
  echo "Survivors (file:line, the change; last line as $equivalents takes it):"
  for s in "${survivors[@]}"; do echo "  $s"; done
  echo
fi
scored=$((killed + survived))
if [ -z "$only" ] && [ $planted -lt "$count" ]; then
  echo "note: only $planted of $count faults could be planted ($total candidates)"
fi
echo "planted $planted, killed $killed, survived $survived, listed equivalents $equivalent;" \
  "$broken did not compile"
if [ $scored -gt 0 ]; then
  echo "score: $killed of $scored non-equivalent mutants killed ($((100 * killed / scored)) %)"
fi
total_built=$((planted + broken))
[ $total_built -gt 0 ] &&
  echo "time: $elapsed s, $((elapsed / total_built)) s per fault tried ($planted planted, $broken not compiling)"
