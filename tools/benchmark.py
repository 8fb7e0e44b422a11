#!/usr/bin/env python3
"""Times the table- and list-driven actions under Wine at a base size and ten
times that size, and prints per action and size the median time of one run,
the ratio of the two sizes' times and the cost per row (or entry, card type,
password, profile, subkey).

    python3 tools/benchmark.py [--build DIR] [--runs N] [--only NAME]... [--dll FILE]

The inputs are generated here: .idt tables for kvca-run --tables, .reg files
imported with `reg import`. Every run gets its input back first where the
action consumes it, and each time is the export's own, as `kvca-run --time`
measures it around the call. The runs of the two sizes take turns, so that a
busy moment of the machine weighs on both; figures taken while the machine
is busy are still noisy. Everything runs in a Wine prefix of its own, copied
from the build tree's pristine prefix and deleted at the end.

Three cases time the same input twice, the second time with the platform's
own tables or lists grown (other properties in the session, other Registry
rows in the package, other renames pending): their ratio is what the
platform adds per row as its tables grow, the action doing the same work.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "scenarios"))
from run import Wine, fixed_layout, windows_path  # noqa: E402  (the scenario runner's prefix handling)

LSA = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Lsa"
CARDS = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards"
SETTINGS = r"HKEY_LOCAL_MACHINE\SOFTWARE\Korvex\Settings"
PROFILES = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
SESSION_MANAGER = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager"
APP_PATHS = r"HKEY_LOCAL_MACHINE\SOFTWARE\Korvex\Cryptography\CurrentVersion\AppPath"
FEATURE_PRODUCT_FOLDER = r"C:\\Program Files\\KvFeatureTest\\"
OUR_CSP = "Korvex SmartCard CSP"
USERS = 9  # DeleteShortcuts: the machine and nine users share the stored passwords


class BenchmarkError(Exception):
    pass


class Prefix(Wine):
    """The benchmark's own prefix, beside the scenarios' ones."""

    def __init__(self, build):
        super().__init__(build, "benchmark")
        self.prefix = os.path.join(build, "wine", "benchmark")
        self.env = dict(self.env, WINEPREFIX=self.prefix, WINEDEBUG="-all")

    def call(self, args):
        """Runs a Windows program; its exit code (small ones only) and output."""
        done = subprocess.run(fixed_layout() + [self.wine] + args, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=1800)
        return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def write(self, path, data):
        target = self.unix_path(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)

    def import_reg(self, path, lines):
        self.write(path, ("REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n").encode("utf-8"))
        code, out = self.call(["reg", "import", path])
        if code != 0:
            raise BenchmarkError("reg import %s failed: %s" % (path, out))

    def delete_key(self, key):
        self.call(["reg", "delete", key, "/f"])  # a missing key is fine

    def subkeys(self, key):
        """The number of direct subkeys of key."""
        _, out = self.call(["reg", "query", key])
        prefix = key.lower() + "\\"
        return sum(1 for line in out.split("\n") if line.lower().startswith(prefix))


def idt(columns, types, keys, rows):
    lines = ["\t".join(columns), "\t".join(types), "\t".join(keys)]
    lines += ["\t".join(str(cell) for cell in row) for row in rows]
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def multi_string(entries):
    """A REG_MULTI_SZ value as a REGEDIT4 file writes it: hex(7): and the
    ANSI bytes, which reg import turns into UTF-16."""
    data = "".join(entry + "\0" for entry in entries) + "\0"
    return "hex(7):" + ",".join("%02x" % b for b in data.encode("ascii"))


# --- the cases: each makes its input for n rows and checks what one run did -------
class Case:
    action = ""
    label = ""  # what the table calls the case, when the action has more than one
    unit = "rows"
    base = 1000

    def __init__(self, prefix, build):
        self.prefix = prefix
        self.build = build
        self.folder = "C:\\kvca-bench\\" + re.sub(r"\W+", "-", self.label or self.action)

    def setup(self):
        """What the prefix needs once, for every size."""

    def prepare(self, n):
        """The input for n rows that no run consumes."""

    def restore(self, n):
        """Puts back before each run what the action consumes."""

    def arguments(self, n):
        return []

    def check(self, n, output):
        """Raises when the run did not do the work it is timed for."""

    def rows(self, n):
        return n

    def size_text(self, n):
        return "%d %s" % (n, self.unit)


class RegReaders(Case):
    """Mostly carrier rows, every tenth a smart-card type, every tenth a list
    of three readers: 1.2 Registry rows per row, one component going local."""
    action = "ProcessRegReaders"
    REGISTRY_VERSION = ["Version", 2, r"SOFTWARE\Korvex\Cryptography\CurrentVersion", "Version", "1.0", "Readers"]

    def tables(self, n):
        return self.folder + "\\%d" % n

    def reader_rows(self, n):
        rows = []
        for i in range(n):
            if i % 10 == 0:
                rows.append(["WLSC", "Card %05d" % i, "ATR", "Readers", "#x3b0201", "1", ""])
            elif i % 10 == 1:
                rows.append(["Media", "PCSC %05d" % i, "Enabled", "Readers", "#1", "1", "PCSCREADERS"])
            else:
                rows.append(["Media", "Reader %05d" % i, "Enabled", "Readers", "#1", "VersionNT64", ""])
        return rows

    def reader_list(self, n):
        return "First,Second,Third"

    def registry_rows(self, n):
        """The package's own Registry rows: one, the shape the new rows copy."""
        return [self.REGISTRY_VERSION]

    def prepare(self, n):
        def write(name, columns, types, keys, rows):
            self.prefix.write("%s\\%s.idt" % (self.tables(n), name), idt(columns, types, keys, rows))
        write("Directory", ["Directory", "Directory_Parent", "DefaultDir"], ["s72", "S72", "l255"],
              ["Directory", "Directory"], [["TARGETDIR", "", "SourceDir"]])
        write("Component", ["Component", "ComponentId", "Directory_", "Attributes", "Condition", "KeyPath"],
              ["s72", "S38", "s72", "i2", "S255", "S72"], ["Component", "Component"],
              [["Readers", "{4C1E7A20-5B3D-4E6F-8A9B-0C1D2E3F4A51}", "TARGETDIR", 0, "", ""]])
        write("Feature", ["Feature", "Feature_Parent", "Title", "Description", "Display", "Level", "Directory_",
                          "Attributes"], ["s38", "S38", "L64", "L255", "I2", "i2", "S72", "i2"],
              ["Feature", "Feature"], [["Main", "", "", "", "", 1, "", 0]])
        write("FeatureComponents", ["Feature_", "Component_"], ["s38", "s72"],
              ["FeatureComponents", "Feature_", "Component_"], [["Main", "Readers"]])
        write("Registry", ["Registry", "Root", "Key", "Name", "Value", "Component_"],
              ["s72", "i2", "l255", "L255", "L0", "s72"], ["Registry", "Registry"], self.registry_rows(n))
        write("Property", ["Property", "Value"], ["s72", "l0"], ["Property", "Property"],
              [["PCSCREADERS", self.reader_list(n)]])
        write("RegReaders", ["Type", "Name", "Parameter", "Component_", "Value", "Condition", "ListProperty"],
              ["s72", "s255", "s255", "s72", "S0", "S255", "S72"],
              ["RegReaders", "Type", "Name", "Parameter", "Component_"], self.reader_rows(n))

    def arguments(self, n):
        return ["--tables", self.tables(n), "--cost"]

    def check(self, n, output):
        logged = sum(1 for line in output if line.startswith("INFO:"))
        rows = len(self.reader_rows(n))
        if logged != rows or any(line.startswith("ERROR:") for line in output):
            raise BenchmarkError("%d rows logged of %d, or an error record" % (logged, rows))


class RegReaderList(RegReaders):
    """One row whose list property names n readers: n Registry rows."""
    label = "ProcessRegReaders, one list"
    unit = "list items"

    def reader_rows(self, n):
        return [["Media", "PCSC", "Enabled", "Readers", "#1", "1", "PCSCREADERS"]]

    def reader_list(self, n):
        return ",".join("Reader %05d" % i for i in range(n))


class Crowded:
    """Mixed in before a case: its base size twice, alone and beside nine times
    as many other rows (the `crowd`). What the action does per row is the same."""
    item, crowd = "rows", "other rows"

    def rows(self, n):
        return self.base

    def size_text(self, n):
        others = ", %d %s" % (n - self.base, self.crowd) if n != self.base else ""
        return "%d %s%s" % (self.base, self.item, others)


class RegReaderListCrowded(Crowded, RegReaderList):
    """The base list in a package whose Registry table holds other rows already."""
    label = "ProcessRegReaders, one list, other Registry rows"
    item, crowd = "list items", "other Registry rows"

    def reader_list(self, n):
        return super().reader_list(self.base)

    def registry_rows(self, n):
        return [self.REGISTRY_VERSION] + [["Other%05d" % i, 2, r"SOFTWARE\Korvex\Other", "Value%05d" % i, "1",
                                           "Readers"] for i in range(n - self.base)]


class PropertyEx(Case):
    action = "ProcessPropertyEx"

    def tables(self, n):
        return self.folder + "\\%d" % n

    def prepare(self, n):
        # Each row sets a property of its own from one the first row set;
        # every other row has a condition to evaluate.
        rows = [["VENDOR", "Korvex", 0, ""]]
        rows += [["P%05d" % i, "[VENDOR] %d" % i, i % 2, "VENDOR" if i % 2 else ""] for i in range(1, self.rows(n))]
        self.prefix.write(self.tables(n) + "\\PropertyEx.idt",
                          idt(["Property", "Value", "Flags", "Condition"], ["s72", "S255", "I2", "S255"],
                              ["PropertyEx", "Property"], rows))

    def arguments(self, n):
        return ["--tables", self.tables(n), "--watch", "P%05d" % (self.rows(n) - 1)]

    def check(self, n, output):
        last = self.rows(n) - 1
        if 'property P%05d: "" -> "Korvex %d"' % (last, last) not in output:
            raise BenchmarkError("the last row's property was not set")


class PropertyExCrowded(Crowded, PropertyEx):
    """The base table in a session that holds other properties."""
    label = "ProcessPropertyEx, other properties"
    crowd = "other properties"

    def tables(self, n):
        return self.folder + ("\\alone" if n == self.base else "\\crowded")

    def prepare(self, n):
        super().prepare(n)
        self.prefix.write(self.tables(n) + "\\Property.idt",
                          idt(["Property", "Value"], ["s72", "l0"], ["Property", "Property"],
                              [["OTHER%05d" % i, "x"] for i in range(n - self.base)]))


class SecurityPackages(Case):
    """"Security Packages" of n entries, the one to take out in the middle."""
    unit = "entries"
    removed, added = "schannel", "kvssl"

    def entries(self, n):
        names = ["package%05d" % i for i in range(n - 1)]
        return names[:n // 2] + [self.removed] + names[n // 2:]

    def restore(self, n):
        self.prefix.import_reg("%s\\%d.reg" % (self.folder, n),
                               ["[%s]" % LSA, '"Security Packages"=' + multi_string(self.entries(n))])

    def check(self, n, output):
        export = self.folder + "\\after.reg"
        path = self.prefix.unix_path(export)
        if os.path.exists(path):
            os.remove(path)
        self.prefix.call(["reg", "export", LSA, export, "/y"])
        with open(path, "rb") as f:
            text = f.read().decode("utf-16").replace("\\\r\n", "").replace(" ", "")
        found = re.search(r'"SecurityPackages"=hex\(7\):([0-9a-f,]*)', text)
        data = bytes(int(b, 16) for b in found.group(1).split(",")).decode("utf-16-le") if found else ""
        expected = [e for e in self.entries(n) if e != self.removed] + [self.added]
        if data.split("\0")[:-2] != expected:
            raise BenchmarkError("the list is not what %s makes of it" % self.action)


class SslInstall(SecurityPackages):
    action = "SslRegInstall"


class SslUninstall(SecurityPackages):
    action = "SslRegUninstall"
    removed, added = "kvssl", "schannel"


class SmartCards(Case):
    """Card types bound alternately to our provider (forgotten) and another."""
    action = "UninstallSmartCard"
    unit = "card types"
    base = 100

    def setup(self):
        self.prefix.call(["cmd", "/c", "copy", "/y",
                          windows_path(os.path.join(self.build, "tests", "fixtures", "winscard", "winscard.dll")),
                          "C:\\windows\\system32\\winscard.dll"])
        self.prefix.call(["reg", "add", r"HKCU\Software\Wine\DllOverrides", "/v", "winscard", "/d", "native",
                          "/f"])

    def restore(self, n):
        self.prefix.delete_key(CARDS)
        lines = []
        for i in range(n):
            lines += ["[%s\\Card %05d]" % (CARDS, i),
                      '"Crypto Provider"="%s"' % (OUR_CSP if i % 2 == 0 else "Other Vendor CSP"),
                      '"ATR"=hex:3b,02,14,50']
        self.prefix.import_reg("%s\\%d.reg" % (self.folder, n), lines)

    def arguments(self, n):
        return ["--data", OUR_CSP]

    def check(self, n, output):
        left = self.prefix.subkeys(CARDS)
        if left != n // 2:
            raise BenchmarkError("%d card types left of %d, %d expected" % (left, n, n // 2))


class Passwords(Case):
    """The machine's stored passwords and nine users' share the n passwords."""
    action = "DeleteShortcuts"
    unit = "passwords"

    def restore(self, n):
        self.prefix.delete_key(SETTINGS)
        owners = [SETTINGS] + ["%s\\Users\\user%d" % (SETTINGS, u) for u in range(USERS)]
        lines = []
        for i in range(n):
            lines += ["[%s\\KeyDevices\\passwords\\token%05d]" % (owners[i % len(owners)], i),
                      '"Password"="%d"' % i]
        self.prefix.import_reg("%s\\%d.reg" % (self.folder, n), lines)

    def check(self, n, output):
        _, out = self.prefix.call(["reg", "query", SETTINGS, "/s"])
        if re.search(r"passwords\\token", out, re.IGNORECASE):
            raise BenchmarkError("stored passwords left")


class PasswordsBehindBranches(Case):
    """The machine's passwords key alone: n/2 stored passwords with subkeys of
    their own, which stay and come first in enumeration order, and n/2 leaves.
    Each search for the next leaf passes every one of them again."""
    action = "DeleteShortcuts"
    label = "DeleteShortcuts, half with subkeys"
    unit = "passwords"
    base = 50

    def restore(self, n):
        self.prefix.delete_key(SETTINGS)
        lines = []
        for i in range(n // 2):
            lines += ["[%s\\KeyDevices\\passwords\\branch%05d\\inner]" % (SETTINGS, i),
                      "[%s\\KeyDevices\\passwords\\token%05d]" % (SETTINGS, i)]
        self.prefix.import_reg("%s\\branches-%d.reg" % (self.folder, n), lines)

    def check(self, n, output):
        left = self.prefix.subkeys(SETTINGS + "\\KeyDevices\\passwords")
        if left != n // 2:
            raise BenchmarkError("%d passwords left, %d expected" % (left, n // 2))


class Profiles(Case):
    """n profiles in place of Wine's own; the pending renames emptied before each run."""
    action = "RebuildIconCache"
    unit = "profiles"
    base = 100
    in_place = None

    def restore(self, n):
        if self.in_place != n:
            self.prefix.delete_key(PROFILES)
            lines = []
            for i in range(n):
                lines += ["[%s\\S-1-5-21-1-1-1-%d]" % (PROFILES, 2000 + i),
                          '"ProfileImagePath"="C:\\\\users\\\\user%05d"' % i]
            self.prefix.import_reg("%s\\%d.reg" % (self.folder, n), lines)
            self.in_place = n
        self.prefix.call(["reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f"])

    def check(self, n, output):
        scheduled = sum(1 for line in output if line.startswith('INFO: "Clean IconCache for path: "'))
        if scheduled != n:
            raise BenchmarkError("%d profiles cleaned, %d expected" % (scheduled, n))


class ProfilesWithRenamesPending(Profiles):
    """The base profiles twice: with no rename pending, and with ten times as
    many pending as there are profiles. The profiles and the calls per profile
    are the same; each scheduled deletion rewrites the whole pending list."""
    label = "RebuildIconCache, renames pending"

    def restore(self, n):
        super().restore(self.base)
        if n != self.base:
            entries = []
            for i in range(n):
                entries += ["\\??\\C:\\users\\other%05d\\AppData\\Local\\IconCache.db" % i, ""]
            self.prefix.import_reg("%s\\pending-%d.reg" % (self.folder, n), [
                "[%s]" % SESSION_MANAGER, '"PendingFileRenameOperations"=' + multi_string(entries[:-1])])

    def check(self, n, output):
        super().check(self.base, output)

    def rows(self, n):
        return self.base

    def size_text(self, n):
        pending = ", %d renames pending" % n if n != self.base else ""
        return "%d profiles%s" % (self.base, pending)


class AppPaths(Case):
    """n AppPath subkeys; the feature test product's files are the last ones,
    so that each of its components' search walks the whole key."""
    action = "RemoveAppPaths"
    unit = "subkeys"
    base = 100
    matching = ["main.dll", "fake_kvcspr.dat", "kvconfig.dat", "Shared\\\\shared.dll"]

    def setup(self):
        package = windows_path(os.path.join(self.build, "tests", "fixtures", "feature_product.msi"))
        code, out = self.prefix.call(["msiexec", "/i", package, "/qn"])
        if code != 0:
            raise BenchmarkError("the feature test product did not install: %d %s" % (code, out))

    def restore(self, n):
        self.prefix.delete_key(APP_PATHS)
        lines = []
        for i in range(n - len(self.matching)):
            lines += ["[%s\\app%05d]" % (APP_PATHS, i), '@="C:\\\\Program Files\\\\Other\\\\app%05d.exe"' % i]
        for i, name in enumerate(self.matching):
            lines += ["[%s\\zz%d]" % (APP_PATHS, i), '@="%s%s"' % (FEATURE_PRODUCT_FOLDER, name)]
        self.prefix.import_reg("%s\\%d.reg" % (self.folder, n), lines)

    def arguments(self, n):
        return ["--package", windows_path(os.path.join(self.build, "tests", "fixtures", "feature_product.msi"))]

    def check(self, n, output):
        left = self.prefix.subkeys(APP_PATHS)
        if left != n - len(self.matching):
            raise BenchmarkError("%d AppPath subkeys left of %d" % (left, n))


CASES = [RegReaders, RegReaderList, RegReaderListCrowded, PropertyEx, PropertyExCrowded, SslInstall,
         SslUninstall, SmartCards, Passwords, PasswordsBehindBranches, Profiles, ProfilesWithRenamesPending,
         AppPaths]


# --- running and the table ----------------------------------------------------------
def time_run(prefix, build, case, n, dll):
    """One run of the action: its time in microseconds and kvca-run's output."""
    case.restore(n)
    command = [windows_path(os.path.join(build, "kvca-run.exe")), "--time"] + case.arguments(n) + \
        [windows_path(dll), case.action]
    _, out = prefix.call(command)
    lines = out.rstrip("\n").split("\n")
    timed = [int(m.group(1)) for m in (re.match(r"time: (\d+) us$", l) for l in lines) if m]
    if not timed or "result: 0" not in lines:
        raise BenchmarkError("%s did not run: %s" % (case.action, "\n".join(lines[-5:])))
    return timed[0], lines


def measure(prefix, build, case, runs, dll):
    """Median times of the base size and of ten times that, their runs taken
    in turns so that a busier moment of the machine weighs on both."""
    sizes = (case.base, case.base * 10)
    for n in sizes:
        case.prepare(n)
    times = {n: [] for n in sizes}
    for run in range(runs):
        for n in sizes:
            microseconds, output = time_run(prefix, build, case, n, dll)
            if run == 0:
                case.check(n, output)
            times[n].append(microseconds)
    return [statistics.median(times[n]) for n in sizes]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"), help="the build tree")
    parser.add_argument("--runs", type=int, default=5, help="runs per action and size (default 5)")
    parser.add_argument("--only", action="append", metavar="ACTION", help="only these actions (or table names)")
    parser.add_argument("--dll", help="another kvca.dll to time (default: the build tree's)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    dll = os.path.abspath(args.dll or os.path.join(build, "kvca.dll"))
    for needed in ("kvca.dll", "kvca-run.exe", "tests/fixtures/winscard/winscard.dll",
                   "tests/fixtures/feature_product.msi"):
        if not os.path.exists(os.path.join(build, needed)):
            sys.exit("%s is missing: build kvca, kvca_run, winscard_standin and feature_msi" % needed)

    prefix = Prefix(build)
    prefix.start()
    print("| action | size | time per run (median of %d) | ratio | per row |" % args.runs)
    print("|---|---:|---:|---:|---:|")
    try:
        for case in (kind(prefix, build) for kind in CASES):
            name = case.label or case.action
            if args.only and case.action not in args.only and name not in args.only:
                continue
            case.setup()
            base, large = measure(prefix, build, case, args.runs, dll)
            print("| %s | %s | %.1f ms | | %.2f us |" % (
                name, case.size_text(case.base), base / 1000, base / case.rows(case.base)), flush=True)
            print("| %s | %s | %.1f ms | %.1f | %.2f us |" % (
                name, case.size_text(case.base * 10), large / 1000, large / base,
                large / case.rows(case.base * 10)), flush=True)
    except BenchmarkError as error:
        print("FAIL: %s" % error)
        return 1
    finally:
        prefix.remove()
    return 0


if __name__ == "__main__":
    sys.exit(main())
