#!/bin/sh
# Builds everything and runs all tests under Wine (a fresh prefix per run).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/tools/install-deps.sh"
sh "$top/tools/build.sh"
cd "$top/build"
ctest -j2 --output-on-failure
