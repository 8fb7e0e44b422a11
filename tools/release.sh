#!/bin/sh
# Builds a release from the committed tree and writes dist/kvca-<version>/:
# kvca.dll, kvca-run.exe, kvca-check.exe, kvca-reference.msi, docs/, README.md
# and SHA256SUMS. The version is the project's (CMakeLists.txt). With
# KVCA_SIGN_PKCS12 and KVCA_SIGN_PASSWORD set (tools/sign.sh reads the rest of
# its settings from the environment too), the three binaries are signed, the
# package is built around the signed DLL and signed itself.
# Refuses a tree with uncommitted changes or untracked files: the release is
# built from a copy of HEAD, in a folder of its own.
# usage: tools/release.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "$(git -C "$top" status --porcelain)" ]; then
  echo "release.sh: the tree has uncommitted changes; commit or stash them first:" >&2
  git -C "$top" status --short >&2
  exit 1
fi
version=$(sed -n 's/^project(kvca VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
commit=$(git -C "$top" rev-parse HEAD)
# File times in the package's cabinet: the commit's time.
SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
work=$(mktemp -d "${TMPDIR:-/tmp}/kvca-release.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "kvca $version from $commit"
mkdir "$work/src"
git -C "$top" archive "$commit" | tar -x -C "$work/src"
cmake -G Ninja -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/toolchain-mingw64.cmake" \
      -DKVCA_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" -j"$(nproc)" --target kvca kvca_run kvca_check package_msi >/dev/null

out="$top/dist/kvca-$version"
rm -rf "$out"
mkdir -p "$out"
cp "$work/build/kvca.dll" "$work/build/kvca-run.exe" "$work/build/kvca-check.exe" "$out/"
if [ -n "${KVCA_SIGN_PKCS12:-}" ]; then
  sh "$top/tools/sign.sh" "$out/kvca.dll" "$out/kvca-run.exe" "$out/kvca-check.exe"
  sh "$work/src/package/build-package.sh" "$out/kvca-reference.msi" "$out/kvca.dll" \
     "$work/build/package/payload" "$version"
  sh "$top/tools/sign.sh" "$out/kvca-reference.msi"
else
  cp "$work/build/package/kvca-reference.msi" "$out/"
fi
cp -r "$work/src/docs" "$work/src/README.md" "$out/"
(cd "$out" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   xargs sha256sum > SHA256SUMS)
echo "$out:"
(cd "$out" && ls -l kvca.dll kvca-run.exe kvca-check.exe kvca-reference.msi && cat SHA256SUMS)
