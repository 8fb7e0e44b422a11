#!/bin/sh
# Builds the reference package: wixl writes the base from kvca.wxs and the
# subsystems' fragments (*.wxs), msibuild
# adds what wixl cannot express: the Error rows and the package's own tables
# (tables/*.idt), a Binary row per file of binary/, and the custom actions
# with their exact types and sequence places (actions/*.sql, one query per
# line, # starts a comment line).
# usage: build-package.sh OUT.msi KVCA_DLL PAYLOAD_DIR VERSION
# VERSION (the project's) becomes the package's ProductVersion.
set -eu
out=$1 dll=$2 payload=$3 version=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/payload"
cp "$dll" "$work/kvca.dll"
cp -r "$payload"/. "$work/payload/"
cp -r "$here"/tables/. "$work/"
# The cabinet records each file's time: with SOURCE_DATE_EPOCH set, the files
# take that time, so that the cabinet is the same from build to build.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  find "$work" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
fi
(cd "$work" && wixl -a x64 -D KvcaVersion="$version" -o base.msi "$here"/*.wxs 2>wixl.log) || { cat "$work/wixl.log"; exit 1; }

# One Binary row per file of binary/, named as the file: wixl takes Binary
# rows only from kvca.wxs, so the table it wrote is exported (msiinfo writes
# the streams into Binary/ beside it) and imported again below with these.
(cd "$work" && msiinfo export base.msi Binary | tr -d '\r' > Binary.idt)
for file in "$here"/binary/*; do
  name=$(basename "$file")
  cp "$file" "$work/Binary/$name"
  printf '%s\t%s\n' "$name" "$name" >> "$work/Binary.idt"
done

for idt in "$work"/*.idt; do
  (cd "$work" && msibuild base.msi -i "$(basename "$idt")")
done
for sql in "$here"/actions/*.sql; do
  grep -v -e '^#' -e '^[[:space:]]*$' "$sql" | while IFS= read -r query; do
    msibuild "$work/base.msi" -q "$query" || { echo "failed: $query" >&2; exit 1; }
  done
done
mv "$work/base.msi" "$out"
