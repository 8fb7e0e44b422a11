#!/bin/sh
# Configures and builds kvca.dll, the reference package and the test programs
# in ./build.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -G Ninja -S "$top" -B "$top/build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$top/build" -j"$(nproc)"
