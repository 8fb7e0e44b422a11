#!/bin/sh
# A developer command: builds a commit twice, in two folders of different
# names, one build after the other, and compares kvca.dll, kvca-run.exe and
# kvca-check.exe byte for byte. Prints each binary's size and SHA-256 from
# both builds; exit code 1 when one differs. Uncommitted changes are not built.
# usage: tools/reproduce.sh [COMMIT]   (default HEAD)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$top" rev-parse "${1:-HEAD}")
work=$(mktemp -d "${TMPDIR:-/tmp}/kvca-reproduce.XXXXXX")
trap 'rm -rf "$work"' EXIT
binaries="kvca.dll kvca-run.exe kvca-check.exe"

build() {  # build FOLDER: the commit's tree in FOLDER/src, built in FOLDER/out
  mkdir -p "$1/src"
  git -C "$top" archive "$commit" | tar -x -C "$1/src"
  cmake -G Ninja -S "$1/src" -B "$1/out" -DCMAKE_TOOLCHAIN_FILE="$1/src/cmake/toolchain-mingw64.cmake" \
        -DKVCA_BUILD_TESTS=OFF >/dev/null
  cmake --build "$1/out" -j"$(nproc)" --target kvca kvca_run kvca_check >/dev/null
}

echo "commit $commit"
build "$work/first"
build "$work/second-build"
status=0
for binary in $binaries; do
  for side in first second-build; do
    printf '%-16s %-13s %8s  %s\n' "$binary" "$side" "$(stat -c %s "$work/$side/out/$binary")" \
           "$(sha256sum < "$work/$side/out/$binary" | cut -d' ' -f1)"
  done
  if ! cmp -s "$work/first/out/$binary" "$work/second-build/out/$binary"; then
    echo "$binary differs:"; cmp -l "$work/first/out/$binary" "$work/second-build/out/$binary" | head -n 5
    status=1
  fi
done
[ $status -eq 0 ] && echo "identical"
exit $status
