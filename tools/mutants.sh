#!/bin/bash
# Mutation check: proves that the tests catch real faults. For each mutant of
# tools/mutants.txt it changes one line in a copy of the source tree, rebuilds,
# runs the tests of the mutant's folder and the end-to-end tests, and prints
#   killed        a test failed
#   survived      every test passed: no test sees the fault
#   stale         the line is not in the file (exactly once): fix the data file
#   build-failed  the mutant does not compile: fix the data file
# then the totals. A developer's command, not part of CI; it takes a while.
#
# usage: tools/mutants.sh [--only ID] [--folder NAME] [--check] [--no-baseline]
#                         [--work DIR] [--mutants FILE]
#   --only ID      run one mutant
#   --folder NAME  run the mutants of one product folder (frame, drivers, ...)
#   --check        only tell whether every selected mutant still applies
#   --no-baseline  skip the run of the unchanged tree's tests
#   --work DIR     scratch folder, kept between runs (default: build-mutants)
#
# The copy (DIR/src) and its build (DIR/build) are kept, so a later run builds
# only what changed. Every mutant's build and test output is in DIR/logs/ID.log,
# the results of the last run in DIR/results.txt.
# Exit code: 0, or 1 when a mutant is stale or does not build.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
mutants_file=$top/tools/mutants.txt
work=$top/build-mutants
only="" folder="" check=0 baseline=1

die() { echo "mutants: $*" >&2; exit 2; }

while [ $# -gt 0 ]; do
  case $1 in
    --only) only=${2:?--only needs an ID}; shift 2 ;;
    --folder) folder=${2:?--folder needs a name}; folder=${folder%/}; shift 2 ;;
    --check) check=1; shift ;;
    --no-baseline) baseline=0; shift ;;
    --work) work=${2:?--work needs a folder}; shift 2 ;;
    --mutants) mutants_file=${2:?--mutants needs a file}; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument: $1 (see --help)" ;;
  esac
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
src=$work/src build=$work/build logs=$work/logs

# ---------------------------------------------------------------- the data file

ids=() files=() lines=() withs=()

trim() { local text=$1; text=${text#"${text%%[![:space:]]*}"}; printf '%s' "${text%"${text##*[![:space:]]}"}"; }

read_mutants() {
  local number=0 raw id="" file="" line="" with="" state=done
  finish() {
    [ -n "$id" ] || return 0
    [ "$state" = done ] || die "$mutants_file: mutant $id lacks its '-' or '+' line"
    [ "$line" != "$with" ] || die "$mutants_file: mutant $id changes nothing"
    ids+=("$id") files+=("$file") lines+=("$line") withs+=("$with")
    id=""
  }
  while IFS= read -r raw || [ -n "$raw" ]; do
    number=$((number + 1))
    case $raw in
      '#'*|'') ;;
      '@ '*)
        finish
        read -r id file extra <<<"${raw#@ }" || true
        [ -n "$file" ] && [ -z "${extra:-}" ] || die "$mutants_file:$number: expected '@ ID FILE'"
        for known in "${ids[@]}"; do [ "$known" != "$id" ] || die "$mutants_file:$number: $id twice"; done
        state=line ;;
      '-'*)
        [ "$state" = line ] || die "$mutants_file:$number: '-' line out of place"
        line=$(trim "${raw#-}"); state=with ;;
      '+'*)
        [ "$state" = with ] || die "$mutants_file:$number: '+' line out of place"
        with=$(trim "${raw#+}"); state=done ;;
      *) die "$mutants_file:$number: not a mutant line: $raw" ;;
    esac
  done <"$mutants_file"
  finish
}

read_mutants
selected=()
for i in "${!ids[@]}"; do
  if [ -n "$only" ] && [ "${ids[$i]}" != "$only" ]; then continue; fi
  if [ -n "$folder" ] && [ "${files[$i]%%/*}" != "$folder" ]; then continue; fi
  selected+=("$i")
done
[ ${#selected[@]} -gt 0 ] || die "no mutant selected"

# ---------------------------------------------------------------- one line

# How often the line (without indentation) stands in the file.
count_line() {
  M_LINE=$2 awk '{ t = $0; sub(/^[ \t]+/, "", t); sub(/[ \t\r]+$/, "", t)
                   if (t == ENVIRON["M_LINE"]) n++ } END { print n + 0 }' "$1"
}

# Writes the file with the line replaced, keeping its indentation.
replace_line() {
  M_LINE=$2 M_WITH=$3 awk '{ t = $0; sub(/^[ \t]+/, "", t); sub(/[ \t\r]+$/, "", t)
                             if (t == ENVIRON["M_LINE"]) { match($0, /^[ \t]*/)
                               print substr($0, 1, RLENGTH) ENVIRON["M_WITH"]; next }
                             print }' "$1" >"$work/mutated"
  cat "$work/mutated" >"$1"
}

if [ $check -eq 1 ]; then
  stale=0
  for i in "${selected[@]}"; do
    path=$top/${files[$i]}
    n=0; [ -f "$path" ] && n=$(count_line "$path" "${lines[$i]}")
    if [ "$n" = 1 ]; then status=ok; else status=stale; stale=$((stale + 1)); fi
    printf '%-6s %s\n' "$status" "${ids[$i]}"
  done
  echo "${#selected[@]} mutants, $stale stale"
  if [ $stale -eq 0 ]; then exit 0; else exit 1; fi
fi

# ---------------------------------------------------------------- the copy

# Copies the tree's files (tracked and untracked, not ignored) into the copy.
# Only files whose content differs are copied, with a new time: the build
# then recompiles what changed, also after a run that was interrupted.
sync_copy() {
  mkdir -p "$src"
  local relative=""
  case $work/ in "$top"/*) relative=${work#"$top"/}/ ;; esac
  (cd "$top" && git ls-files -co --exclude-standard) |
    { if [ -n "$relative" ]; then grep -v -F "$relative" || true; else cat; fi; } |
    sort >"$work/files"
  local file
  while IFS= read -r file; do
    [ -f "$top/$file" ] || continue
    if ! cmp -s "$top/$file" "$src/$file"; then
      mkdir -p "$(dirname "$src/$file")"
      rm -f "$src/$file"
      cp "$top/$file" "$src/$file"
    fi
  done <"$work/files"
  (cd "$src" && find . -type f | sed 's|^\./||' | sort) | comm -23 - "$work/files" |
    while IFS= read -r file; do rm -f "$src/$file"; done
}

build_copy() {
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -G Ninja -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw64.cmake" >/dev/null
  fi
  cmake --build "$build" -j2
}

# Ends the Wine servers of the copy's prefixes (the test run keeps one up).
stop_wine() {
  [ -d "$build" ] || return 0
  local registry
  find "$build" -maxdepth 5 -name system.reg 2>/dev/null | while IFS= read -r registry; do
    WINEPREFIX=$(dirname "$registry") wineserver -k 2>/dev/null || true
  done
}

# The tests of the given folders and the end-to-end tests; the first failure
# ends the run. Prints the failed tests, one a line.
run_tests() {
  local output=$1
  shift
  local labels="^($(IFS='|'; echo "$*")|e2e)\$" status=0
  (cd "$build" && ctest -L "$labels" -j2 --stop-on-failure --output-on-failure) >>"$output" 2>&1 ||
    status=$?
  sed -n '/The following tests FAILED:/,$p' "$output" | sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p'
  return $status
}

folders_of() {
  local i
  for i in "$@"; do echo "${files[$i]%%/*}"; done | sort -u
}

# ---------------------------------------------------------------- the run

mkdir -p "$logs"
mutated_file=""
original=$work/original
restore() {
  if [ -n "$mutated_file" ]; then
    cat "$original" >"$mutated_file"
    mutated_file=""
  fi
}
trap 'restore; stop_wine' EXIT
trap 'exit 130' INT TERM

echo "copying $top to $src"
sync_copy
echo "building the unchanged copy in $build"
build_copy >"$logs/baseline.log" 2>&1 || die "the unchanged tree does not build: $logs/baseline.log"

if [ $baseline -eq 1 ]; then
  mapfile -t baseline_folders < <(folders_of "${selected[@]}")
  echo "running the unchanged tree's tests (${baseline_folders[*]} e2e)"
  if ! failed=$(run_tests "$logs/baseline.log" "${baseline_folders[@]}"); then
    die "the unchanged tree fails its tests: ${failed//$'\n'/, } (see $logs/baseline.log)"
  fi
fi

: >"$work/results.txt"
killed=0 survived=0 stale=0 broken=0
for i in "${selected[@]}"; do
  id=${ids[$i]} file=${files[$i]}
  log=$logs/$id.log
  path=$src/$file
  {
    echo "mutant $id: $file"
    echo "- ${lines[$i]}"
    echo "+ ${withs[$i]}"
  } >"$log"
  detail=""
  n=0; [ -f "$path" ] && n=$(count_line "$path" "${lines[$i]}")
  if [ "$n" != 1 ]; then
    status=stale detail="line found $n times in $file"
    stale=$((stale + 1))
  else
    cp "$path" "$original"
    mutated_file=$path
    replace_line "$path" "${lines[$i]}" "${withs[$i]}"
    if ! build_copy >>"$log" 2>&1; then
      status=build-failed detail="see $log"
      broken=$((broken + 1))
    elif failed=$(run_tests "$log" "${file%%/*}"); then
      status=survived
      survived=$((survived + 1))
    else
      status=killed detail=$(echo "$failed" | head -n 1)
      [ -n "$detail" ] || detail="see $log"
      killed=$((killed + 1))
    fi
    restore
  fi
  printf '%-12s %-28s %s\n' "$status" "$id" "$detail" | tee -a "$work/results.txt"
done

total=${#selected[@]}
echo "$total mutants: $killed killed, $survived survived, $stale stale, $broken build-failed" |
  tee -a "$work/results.txt"
[ $stale -eq 0 ] && [ $broken -eq 0 ]
