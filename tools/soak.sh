#!/bin/sh
# Runs the whole test suite N times in a row on a build tree and writes one
# line per run (its time, how many tests failed and which) to soak.log in
# that tree; a failing scenario's record stays in scenario-failures/, every
# step the runner ran once more is in scenario-retries.log. The load averages
# at a run's end say how busy the machine was meanwhile. With --load, a
# second job keeps both cores busy meanwhile (a compile of the library,
# repeated), as CI's machine may be.
# A file soak.stop in the build tree ends the runs after the current one.
# usage: tools/soak.sh [--load] N [BUILD]
set -u
load=""
if [ "${1:-}" = "--load" ]; then load=1; shift; fi
runs=${1:?usage: tools/soak.sh [--load] N [BUILD]}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${2:-$top/build}" && pwd)
log="$build/soak.log"
loader=""
if [ -n "$load" ]; then
  scratch=$(mktemp -d)
  cmake -G Ninja -S "$top" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" \
        -DKVCA_BUILD_TESTS=OFF >/dev/null
  ( while :; do cmake --build "$scratch" --target clean >/dev/null 2>&1
                cmake --build "$scratch" -j2 >/dev/null 2>&1; done ) &
  loader=$!
  trap 'kill $loader 2>/dev/null; pkill -P $loader 2>/dev/null; rm -rf "$scratch"' EXIT INT TERM
fi
i=1
while [ "$i" -le "$runs" ] && [ ! -e "$build/soak.stop" ]; do
  start=$(date +%s)
  (cd "$build" && ctest -j"$(( 3 * $(nproc) ))" >"$build/soak-run.txt" 2>&1)  # as tools/test.sh
  code=$?
  end=$(date +%s)
  failed=$(grep -E '^\s+[0-9]+ - ' "$build/soak-run.txt" | sed 's/^ *[0-9]* - //' | tr '\n' ' ')
  avg=$(cut -d' ' -f1-3 /proc/loadavg)
  line="run $i${load:+ (loaded)}: exit $code in $((end - start)) s, load $avg${failed:+; failed: $failed}"
  echo "$line" | tee -a "$log"
  [ "$code" -eq 0 ] || cp "$build/soak-run.txt" "$build/soak-run-$i-failed.txt"
  i=$((i + 1))
done
