#!/bin/sh
# Builds everything and runs all tests under Wine (a fresh prefix per run).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/tools/install-deps.sh"
# The tests' pristine Wine prefix (about 10 s, half of it waiting on Wine's
# first boot) is made while the build compiles; the tests wait for it.
python3 "$top/tests/scenarios/run.py" --build "$top/build" --pristine-only &
pristine=$!
sh "$top/tools/build.sh"
wait "$pristine"
cd "$top/build"
# Three times as many tests as cores: a test under Wine spends about a tenth
# of its time waiting on services and installations.
ctest -j"$(( 3 * $(nproc) ))" --output-on-failure
