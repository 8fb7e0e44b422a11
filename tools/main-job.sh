#!/bin/sh
# The main job: builds kvca.dll and the reference package, installs, repairs and
# removes the package with the real msiexec under Wine in a fresh prefix, and
# shows, per custom action, its result and its log lines, and the registry
# values and files each run changed, among them the system's security package
# list and the renames pending for the next restart.
# usage: tools/main-job.sh [PROPERTY=value ...]   (passed to every msiexec run)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/tools/install-deps.sh"
# Only what the job runs: the DLL, the reference package with its stand-in
# payloads, and the stand-in uninstaller of the older products (an example in
# the README). The test programs are left to tools/test.sh.
build="$top/build"
cmake -G Ninja -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)" --target package_msi legacy_uninstaller

package="$build/package/kvca-reference.msi"
wine=$(command -v wine)
# Wine with address randomisation off where the kernel allows it, as in the
# tests (README, "Tests": a process start now and then lost otherwise).
if setarch "$(uname -m)" -R true 2>/dev/null; then
  wine() { setarch "$(uname -m)" -R "$wine" "$@"; }
fi
export WINEPREFIX="$build/wine/main-job" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winebus.sys=d"
sh "$top/tests/support/fresh-prefix.sh" "$wine" "$build/wine/pristine" "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
actions=$(msiinfo export "$package" CustomAction | tail -n +4 | cut -f1 | tr '\n' ' ')

product=$(msiinfo export "$package" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')

# Every registry value under the machine's software and services keys, one
# line each: "[key] value", without the installer's own product bookkeeping;
# the system's security package list and the renames pending for the next
# restart, "[key] name = data" (a multi-string's items separated by \0); then
# the files of the product's folders and of the system's driver and INF
# folders, "[file] path size".
snapshot() {
  {
    for root in 'HKLM\Software' 'HKLM\System\CurrentControlSet\Services'; do
      wine reg export "$root" "C:\\snapshot.reg" /y >/dev/null 2>&1
      iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/snapshot.reg" | tr -d '\r' |
        awk '/^\[/ { key = $0; next }
             /^$/ { next }
             { line = line $0 }
             /\\$/ { sub(/\\$/, "", line); next }
             { gsub(/  +/, "", line); print key " " line; line = "" }'
    done | grep -v -e 'Classes\\Installer' -e 'CurrentVersion\\Installer' \
                   -e "CurrentVersion\\\\Uninstall\\\\$product"
    for value in 'Lsa|Security Packages' 'Session Manager|PendingFileRenameOperations'; do
      wine reg query "HKLM\\System\\CurrentControlSet\\Control\\${value%%|*}" /v "${value#*|}" 2>/dev/null |
        tr -d '\r' | awk -v name="${value#*|}" '/^HKEY/ { key = $0 }
          /REG_/ { sub(/^ +/, ""); sub(/^.*REG_[A-Z_]+ +/, ""); print "[" key "] " name " = " $0 }'
    done
    for folder in 'Program Files/Korvex' 'Program Files (x86)/Korvex' windows/inf windows/system32/drivers; do
      if [ -d "$WINEPREFIX/drive_c/$folder" ]; then
        find "$WINEPREFIX/drive_c/$folder" -type f -printf "[file] C:/$folder/%P %s\n"
      fi
    done
  } | sort
}

# Runs msiexec, prints its real exit code, every custom action's block of the
# log in the order they ran (a deferred action appears once where it is
# scheduled and once where the script runs it) and what changed on the machine.
run() {
  title=$1; shift
  log="C:\\kvca-$title.log"
  snapshot > "$build/wine/before.txt"
  code=$(wine cmd /c "msiexec $* /qn /l*v $log & echo %ERRORLEVEL%" 2>/dev/null | tr -d '\r' | tail -n 1)
  snapshot > "$build/wine/after.txt"
  printf '\n==================== %s: msiexec exit code %s ====================\n' "$title" "$code"
  tr -d '\r' < "$WINEPREFIX/drive_c/kvca-$title.log" | awk -v names="$actions" '
    BEGIN { n = split(names, list, " "); for (i = 1; i <= n; i++) custom[list[i]] = 1
            meaning[0] = "not run"; meaning[1] = "success"; meaning[2] = "cancelled"
            meaning[3] = "failure"; meaning[4] = "suspended"; depth = 0 }
    function pad(d,   text) { text = ""; while (d-- > 0) text = text "    "; return text }
    /^Action start [0-9:]+: / { name = $4; sub(/\.$/, "", name)
      if (name in custom) {
        print pad(depth) "--- " name (depth > 0 ? " (scheduled by " stack[depth] ")" : "")
        stack[++depth] = name; next } }
    /^Action ended [0-9:]+: / { name = $4; sub(/\.$/, "", name)
      if (depth > 0 && name == stack[depth]) { code = $NF; sub(/\.$/, "", code)
        depth--; print pad(depth) "    result: " code " (" meaning[code] ")"; next } }
    depth > 0 && !/^Action / { print pad(depth) $0 }'
  printf -- '--- registry values and files added or changed\n'
  comm -13 "$build/wine/before.txt" "$build/wine/after.txt" | sed 's/^/    + /'
  printf -- '--- registry values and files removed or changed\n'
  comm -23 "$build/wine/before.txt" "$build/wine/after.txt" | sed 's/^/    - /'
}

# Windows has "ProgramW6432Dir", which GetCSPProgramW6432Dir reads; a plain
# Wine prefix does not.
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' /v ProgramW6432Dir /d 'C:\Program Files' /f >/dev/null 2>&1
run install /i "$(winpath "$package")" "$@"
# The repair as msiexec /f runs it on Windows (Wine's msiexec /f does not repair:
# it answers 1605 for a package path). Every component is reinstalled, so
# KSProcess schedules the driver package's install action again; under Wine it
# cannot copy the driver file over the running driver, and the repair ends
# with 1603 after that action's error. Wine runs no rollback script for a
# failed reinstallation, so the machine stays as the installation left it.
printf '\n(The repair below fails under Wine: it cannot replace the running driver'"'"'s file.)\n'
run repair /i "$(winpath "$package")" REINSTALL=ALL REINSTALLMODE=omus "$@"
run removal /x "$(winpath "$package")" "$@"
