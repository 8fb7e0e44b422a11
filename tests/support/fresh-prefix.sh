#!/bin/sh
# Gives the test run a fresh Wine prefix: a copy of one pristine prefix, made
# once per build tree (making a prefix takes 10-17 s).
# usage: fresh-prefix.sh WINE PRISTINE PREFIX
set -eu
wine=$1 pristine=$2 prefix=$3
export WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d;winebus.sys=d;explorer.exe=d}"
wineserver=$(dirname "$(command -v "$wine")")/wineserver
# Address randomisation off, as in wine-run.
if setarch "$(uname -m)" -R true 2>/dev/null; then wine="setarch $(uname -m) -R $wine"; fi
mkdir -p "$(dirname "$pristine")" "$(dirname "$prefix")"
if [ ! -f "$pristine/system.reg" ]; then
  rm -rf "$pristine"
  WINEPREFIX="$pristine" $wine wineboot -i >/dev/null 2>&1
  WINEPREFIX="$pristine" "$wineserver" -w
fi
if [ -d "$prefix" ]; then
  WINEPREFIX="$prefix" "$wineserver" -k 2>/dev/null || true
  rm -rf "$prefix"
fi
# The system binaries (about 700 MB, which Wine only reads) are shared with
# the pristine prefix by hard links; every other file is a copy of its own.
cp -al "$pristine" "$prefix"
find "$prefix" -type f ! \( -path '*/drive_c/windows/*' \( -name '*.dll' -o -name '*.exe' -o -name '*.sys' \) \) \
  -exec sh -c 'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done' sh {} +
# Keep the prefix's server up for the whole run instead of once per program,
# and start the prefix's system processes (services, devices) now: a process
# started by a test would inherit that test's output pipe and keep ctest
# waiting for it.
WINEPREFIX="$prefix" "$wineserver" -p </dev/null >/dev/null 2>&1
WINEPREFIX="$prefix" $wine wineboot </dev/null >/dev/null 2>&1
echo "fresh Wine prefix: $prefix"
