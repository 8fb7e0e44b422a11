#!/bin/sh
# Configures and builds kvca.dll, the reference package and the test programs
# in ./build.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -G Ninja -S "$top" -B "$top/build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" >/dev/null
# Ninja runs two jobs more than there are cores: one waiting on a link or a
# package keeps no core idle.
cmake --build "$top/build"
