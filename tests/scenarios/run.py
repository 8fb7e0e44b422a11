#!/usr/bin/env python3
"""Runs scenarios (name.scn) under Wine and compares their transcripts with
name.out; --bless writes name.out instead. The format is in README.md beside
this file."""

import argparse
import difflib
import fcntl
import os
import platform
import pwd
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
COMMON = os.path.join(SOURCE, "tests", "scenarios", "common")  # set-ups that scenarios include
SEPARATOR_SIGN = "\u2401"
STEPS = ("kvca-run", "msiexec", "rundll32", "run", "show")
# Directives whose Windows commands wait for the next step or look, to run in
# one batch (Scenario.flush_setup), and those that do not touch the machine.
SETUP_COMMANDS = ("reg", "override", "winver", "setup")
NOT_MACHINE = ("watch", "actions", "timeout")
DEFAULT_TIMEOUT = 120

# Wine's standard error when a program or a custom action crashed (a stack
# overflow shows only on Wine's error channel), or when a
# custom action's DLL or entry point could not be found (msiexec reports all
# of these as success). An exception that ends a custom action's thread is
# caught by "Unhandled exception"; Wine's "invalid Return Code" line proves
# nothing, as it also names every result other than 0, 1 and 1603 (CheckDll's
# load error, UninstallTLS2's NTE_FAIL).
CRASH_LINES = re.compile(
    r"caused a page fault|Unhandled exception|Unhandled page fault|stack overflow"
    r"|:msi:.*(failed to load dll|GetProcAddress)", re.IGNORECASE)
# Debian's Wine 8 runs without Wine's preloader, so nothing reserves the
# page where a Windows process finds its shared user data (0x7ffe0000) before
# Linux places the process's heap, at a random address in the gigabyte after
# the loader (0x7d000000). About one process start in two thousand finds its
# heap there and ends at once: "failed to map the shared user data: c0000018"
# on Wine's error channel, and the CreateProcess that made it fails with
# STATUS_INTERNAL_ERROR. Wine therefore runs with address randomisation off
# (setarch -R, inherited by every process it starts), which puts the heap
# right after the loader, far from that page. Where the kernel refuses that,
# a step whose program was lost so is run once more (and the retry written to
# scenario-retries.log): the program named on Wine's command line (by its path,
# see system_program) prints nothing and ends with 1; for the program of a
# batch line, cmd writes "Internal error." to standard error and sets 9009.
NOT_STARTED_BY_CMD = re.compile(r"^Internal error\.\r?$", re.MULTILINE)
# The pristine prefix's system binaries (about 700 MB) are shared with each
# scenario's prefix by hard links instead of copied: Wine only reads them.
# A file some scenario overwrites (the stand-in winscard.dll) is copied; a
# scenario that writes into a shared file fails, as it changed the pristine
# prefix too (see Wine.check_shared).
SHARED_FILES = re.compile(r"/drive_c/windows/.*\.(dll|exe|sys|drv|ocx|cpl|acm|tlb|ax|nls)$", re.IGNORECASE)
WRITTEN_SYSTEM_FILES = re.compile(r"/system32/winscard\.dll$", re.IGNORECASE)
# No Gecko or Mono to install; no menu entries written for the Linux desktop,
# no game controllers looked for and no desktop window (explorer.exe, which the
# first program that loads user32 starts): each costs every prefix CPU time,
# and the library opens no window and talks to no shell (installations run
# with /qn).
WINE_DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d;winebus.sys=d;explorer.exe=d"
ACTION_RESULTS = {"0": "not run", "1": "success", "2": "cancelled", "3": "failure", "4": "suspended"}


class ScenarioError(Exception):
    pass


def fixed_layout():
    """The command prefix that starts a program with address randomisation
    off, or nothing where the kernel refuses it."""
    if not hasattr(fixed_layout, "prefix"):
        command = ["setarch", platform.machine(), "-R"]
        try:
            works = subprocess.run(command + ["true"], stderr=subprocess.DEVNULL).returncode == 0
        except OSError:
            works = False
        fixed_layout.prefix = command if works else []
    return fixed_layout.prefix


def system_program(name):
    """Wine's loader hands a bare program name ("cmd") to start.exe, which
    then starts the program: two processes for one. A system program is
    named by its path instead."""
    if re.fullmatch(r"[A-Za-z0-9_]+", name):
        return "C:\\windows\\system32\\%s.exe" % name
    return name


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Wine:
    """One prefix of its own, copied from the build tree's pristine prefix."""

    def __init__(self, build, name):
        self.build = build
        # The tests' pristine prefix: the GoogleTest programs' prefix is a
        # copy of it too (made after it, as two wineboots in one folder leave
        # a broken prefix). The main job makes build/wine/pristine for itself.
        self.pristine = os.path.join(build, "wine", "tests-pristine")
        # Named after the scenario and this process: two runs of one case (the
        # fault sweep's halves) never share a prefix.
        self.prefix = os.path.join(build, "wine", "scenarios", "%s-%d" % (name, os.getpid()))
        self.wine = shutil.which("wine") or shutil.which("wine64")
        self.wineserver = os.path.join(os.path.dirname(os.path.realpath(self.wine)), "wineserver")
        if not os.path.exists(self.wineserver):
            self.wineserver = shutil.which("wineserver")
        # Wine's errors of every channel: a program that ends before it ran
        # leaves its reason there, in the failure's record.
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all,err+all,warn+msi",
                        WINEDLLOVERRIDES=WINE_DLL_OVERRIDES)
        self.stderr = []
        self.server = self.server_at_end = []
        self.shared = {}  # file shared with the pristine prefix: its time of change
        self.history = []  # (command, exit code, seconds, output, standard error) of every program
        self.residents = {}  # program: (process, standard error) of the programs that answer lines (ask)
        self.batches = 0  # the batch files cmd ran

    def make_pristine(self):
        os.makedirs(os.path.dirname(self.pristine), exist_ok=True)
        with open(self.pristine + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            made = os.path.join(self.pristine, "made-by-run.py")
            if not os.path.exists(made):
                shutil.rmtree(self.pristine, ignore_errors=True)
                env = dict(self.env, WINEPREFIX=self.pristine, WINEDEBUG="-all")
                # 64-bit Windows has "ProgramW6432Dir"; a plain Wine prefix does
                # not. The services that no scenario uses (the event log, the
                # network stack's drivers) do not start with every prefix: two
                # processes, a quarter of a CPU-second per boot.
                commands = [["wineboot", "-i"], ["reg", "add", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                                 "/v", "ProgramW6432Dir", "/d", "C:\\Program Files", "/f"]]
                commands += [["reg", "add", SERVICES_KEY + service, "/v", "Start", "/t", "REG_DWORD", "/d", "4", "/f"]
                             for service in ("Eventlog", "nsiproxy", "NDIS")]
                for command in commands:
                    subprocess.run(fixed_layout() + [self.wine, system_program(command[0])] + command[1:], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
                subprocess.run([self.wineserver, "-w"], env=env, check=False)
                open(made, "w").close()

    def start(self, attempts=3):
        """A fresh copy of the pristine prefix, booted. Wine 8's device host
        now and then faults while a copied prefix boots (IoCreateDevice given
        no driver object, in ntoskrnl.exe); nothing of the scenario has run
        by then, so the prefix is copied and booted again."""
        self.make_pristine()
        for attempt in range(attempts):
            self.stop()
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
            self.copy_pristine()
            subprocess.run([self.wineserver, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            self.server = self.server_pids()
            try:
                self.run(["wineboot"], timeout=120)
                return
            except ScenarioError as error:
                if attempt + 1 == attempts:
                    raise
                self.note_retry("boot failed")
                print("note: the prefix's boot failed, booting a new copy: %s" % error, file=sys.stderr)

    def copy_pristine(self):
        self.shared = {}

        def link_or_copy(source, target):
            if SHARED_FILES.search(source) and not WRITTEN_SYSTEM_FILES.search(source):
                os.link(source, target)
                self.shared[target] = os.stat(target).st_mtime_ns
            else:
                shutil.copy2(source, target)
        # The real folder: a copy of a symlink would let the scenario write into the pristine prefix.
        shutil.copytree(os.path.realpath(self.pristine), self.prefix, symlinks=True, copy_function=link_or_copy)

    def written_shared_files(self):
        return [path for path, mtime in self.shared.items()
                if os.path.exists(path) and os.stat(path).st_mtime_ns != mtime]

    def stop(self):
        self.end_resident()
        if os.path.isdir(self.prefix):
            subprocess.run([self.wineserver, "-k"], env=self.env, stderr=subprocess.DEVNULL, check=False)
            subprocess.run([self.wineserver, "-w"], env=self.env, stderr=subprocess.DEVNULL, check=False)

    def remove(self):
        """Ends the prefix's processes and deletes it in the background, so
        that the next test need not wait (wineserver -k alone sleeps 0.75 s).
        The prefix is renamed first: a new copy under its name can start at
        once. The Wine server follows the folder, not its name."""
        if not os.path.isdir(self.prefix):
            return
        self.end_resident()
        self.server_at_end = self.server_pids()
        written = self.written_shared_files()
        removed = "%s.removed-%d" % (self.prefix, os.getpid())
        shutil.rmtree(removed, ignore_errors=True)
        os.rename(self.prefix, removed)
        subprocess.Popen(["sh", "-c", '"$1" -k; rm -rf "$2"', "sh", self.wineserver, removed],
                         env=dict(self.env, WINEPREFIX=removed), start_new_session=True,
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if written:
            # The pristine prefix changed with them: it is made again.
            spoiled = "%s.spoiled-%d" % (self.pristine, os.getpid())
            os.rename(self.pristine, spoiled)
            shutil.rmtree(spoiled, ignore_errors=True)
            raise ScenarioError("the scenario wrote into %s, shared with the pristine prefix: "
                                "copy it instead (WRITTEN_SYSTEM_FILES)" % ", ".join(written))

    def run(self, args, timeout=DEFAULT_TIMEOUT):
        """Runs a Windows program; returns its standard output as text. Where
        address randomisation stays on, a program that Wine lost while
        starting it is started once more."""
        out = self.run_once(args, timeout)
        if not fixed_layout() and self.returncode == 1 and not out:
            self.note_retry("Wine did not start the program")
            out = self.run_once(args, timeout)
        return out

    def run_once(self, args, timeout):
        # Files, not pipes: Wine's own processes started on the way (services,
        # devices) inherit the handles and would hold a pipe open.
        started = time.monotonic()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err_file:
            try:
                self.returncode = subprocess.run(fixed_layout() + [self.wine, system_program(args[0])] + args[1:],
                                                 env=self.env, stdin=subprocess.DEVNULL,
                                                 stdout=out, stderr=err_file, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                self.history.append((args, None, time.monotonic() - started, b"", ""))
                self.stop()
                raise ScenarioError("time limit of %d s reached: %s" % (timeout, " ".join(args)))
            out.seek(0)
            err_file.seek(0)
            stdout, err = out.read(), err_file.read().decode("utf-8", "replace")
        self.history.append((args, self.returncode, time.monotonic() - started, stdout, err))
        self.keep_errors(args, err)
        return stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def keep_errors(self, args, err):
        """Keeps a program's standard error (Wine's errors); fails on a crash."""
        self.stderr.append(err)
        crashes = [line for line in err.splitlines() if CRASH_LINES.search(line)]
        if crashes:
            raise ScenarioError("crash or missing entry point in %s:\n  %s" %
                                (" ".join(args), "\n  ".join(crashes)))

    def ask(self, command, line, end, timeout=DEFAULT_TIMEOUT, shown=None):
        """Writes a line to a program that answers each line of its standard
        input (watchstate.exe, cmd) and returns its answer, up to the end that
        the bytes pattern `end` matches. The program (the command's first
        word) is started at the first line and stays until the prefix ends: a Windows process costs about a
        tenth of a CPU-second. Its standard output is a pipe, read up to the
        end of each answer only: a process it starts may hold it open. The
        record of programs shows `shown` for the line, when given."""
        program = command[0]
        fresh = program not in self.residents
        if fresh:
            errors = tempfile.TemporaryFile()
            self.residents[program] = (subprocess.Popen(
                fixed_layout() + [self.wine, system_program(program)] + command[1:],
                env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors), errors)
        process, errors = self.residents[program]
        started, answer, said, failure = time.monotonic(), b"", os.fstat(errors.fileno()).st_size, None
        try:
            process.stdin.write(line.encode("utf-8") + b"\r\n")
            process.stdin.flush()
            while not re.search(end, answer):
                left = started + timeout - time.monotonic()
                if left <= 0 or not select.select([process.stdout], [], [], left)[0]:
                    raise ScenarioError("time limit of %d s reached: %s: %s" % (timeout, program, shown or line))
                read = os.read(process.stdout.fileno(), 65536)
                if not read:
                    raise ScenarioError("%s ended (exit %s) before its answer" % (program, process.wait()))
                answer += read
        except (ScenarioError, BrokenPipeError) as error:
            failure = error
        # The child writes at its own offset in the file: read without moving it.
        err = os.pread(errors.fileno(), 1 << 20, said).decode("utf-8", "replace")
        self.history.append(([program, shown or line], process.poll(), time.monotonic() - started, answer, err))
        if failure:
            self.end_resident(program)
            if fresh and not fixed_layout() and not answer and process.returncode == 1:
                self.note_retry("Wine did not start the program")
                return self.ask(command, line, end, timeout, shown)
            raise ScenarioError(str(failure))
        self.keep_errors([program, shown or line], err)
        return answer.decode("utf-8", "replace").replace("\r\n", "\n")

    def end_resident(self, program=None):
        """Ends an answering program (all of them by default)."""
        for name in [program] if program else list(self.residents):
            process, _ = self.residents.pop(name)
            if process.poll() is None:
                process.kill()
            process.wait()

    def cmd(self, line, timeout=DEFAULT_TIMEOUT):
        """Runs a command line through cmd; returns its output and its full exit
        code (the Linux side would see it cut to 8 bits). The line goes through
        a batch file so that it reaches cmd exactly as written; a variable it
        sets holds in its batch only (setlocal), and its programs read no
        input (the resident cmd's is the runner's). cmd reads a batch file
        while it runs it, and still after its last line: every batch is a new
        file, and its end names it."""
        self.batches += 1
        name, end = "C:\\kvca-step-%d.bat" % self.batches, "kvca-exit-%d=" % self.batches
        with open(self.unix_path(name), "wb") as f:
            f.write(("@echo off\r\nsetlocal\r\n%s\r\necho %s%%ERRORLEVEL%%\r\n" % (line, end)).encode("utf-8"))
        # The answer ends with the end line (the runner reads "\n" for "\r\n").
        ending = re.compile(re.escape(end) + r"(-?\d+)\n$")
        ask = lambda: self.ask(["cmd", "/q", "/k", "rem"], "call %s < NUL" % name,
                               (re.escape(end) + r"-?\d+\r\n$").encode(), timeout, line)
        out = ask()
        if not fixed_layout() and ending.search(out).group(1) == "9009" and NOT_STARTED_BY_CMD.search(self.stderr[-1]):
            self.note_retry("Wine did not start the program of a batch line")
            out = ask()
        match = ending.search(out)
        return out[:match.start()], int(match.group(1))

    def server_pids(self):
        """The processes serving this prefix: a Wine server works in the folder
        named after the prefix's device and inode, under the folder that the
        prefix's file "wineserver" names."""
        try:
            with open(os.path.join(self.prefix, "wineserver")) as f:
                parent = os.path.join(os.environ.get("TMPDIR", "/tmp"), f.read().strip())
            st = os.stat(self.prefix)
        except OSError:
            return []
        folder = os.path.join(parent, "server-%x-%x" % (st.st_dev, st.st_ino))
        pids = []
        for pid in os.listdir("/proc"):
            try:
                if pid.isdigit() and os.readlink("/proc/%s/cwd" % pid) == folder:
                    pids.append(int(pid))
            except OSError:
                pass
        return pids

    def note_retry(self, what):
        """Writes what made a step run once more, with what Wine said then and
        whether the prefix still has the server it started with, to
        scenario-retries.log in the build tree."""
        args, code, seconds, out, err = self.history[-1] if self.history else ([], None, 0, b"", "")
        with open(os.path.join(self.build, "scenario-retries.log"), "a") as log:
            log.write("%s %s: %s: exit %s after %.2f s: %s\nserver at start %s, now %s\noutput: %r\n"
                      "standard error:\n%s\n" % (
                          time.strftime("%H:%M:%S"), os.path.basename(self.prefix), what, code, seconds,
                          " ".join(args), self.server, self.server_pids(), out[-300:], err[-3000:]))

    def unix_path(self, path):
        """The Linux path of a Windows path on C: or Z:, case-insensitively resolved."""
        drive, rest = path[:2].upper(), path[2:].replace("\\", "/").strip("/")
        if drive == "Z:":
            return "/" + rest
        if drive != "C:":
            raise ScenarioError("not a path on C: or Z:: " + path)
        current = os.path.join(self.prefix, "drive_c")
        for part in [p for p in rest.split("/") if p]:
            names = os.listdir(current) if os.path.isdir(current) else []
            match = next((n for n in names if n.lower() == part.lower()), part)
            current = os.path.join(current, match)
        return current


SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"


def service_line(name, state, key):
    """One line for a service: its state ("state RUNNING", none when the
    manager does not know it) and the configuration in its key."""
    config = {}
    for line in key:
        m = re.match(r'\[[^\]]*\] "(Type|Start|ImagePath)"=(.*)', line)
        if m:
            config[m.group(1)] = m.group(2)
    if not state and not config:
        return []
    return ["service %s: %s type=%s start=%s image=%s" % (
        name, state[0].partition(" ")[2] if state else "(no state)", config.get("Type", "-"),
        config.get("Start", "-"), config.get("ImagePath", "-"))]


class Scenario:
    def __init__(self, path, build):
        self.path = os.path.abspath(path)
        self.build = os.path.abspath(build)
        folder = os.path.basename(os.path.dirname(self.path))
        self.name = folder + "-" + os.path.splitext(os.path.basename(self.path))[0]
        self.wine = Wine(self.build, self.name)
        self.watches = []
        self.transcript = []
        self.timeout = DEFAULT_TIMEOUT
        self.tables = "C:\\kvca-tables"
        self.step_number = 0
        self.shown_actions = None
        self.after_last_step = None  # the watches' lines after the last step
        self.pending_setup = []  # set-up commands not run yet (see flush_setup)
        self.new_environment = False  # a set-up changed an Environment key (see flush_setup)

    # --- reading the file -------------------------------------------------
    def directives(self, path=None):
        """The directives of the scenario, those of an included set-up where
        its "include NAME" stands (tests/scenarios/common/NAME.scn)."""
        with open(path or self.path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        i = 0
        while i < len(lines):
            line = lines[i].rstrip()
            i += 1
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            block = None
            if line.endswith("<<"):
                line, block = line[:-2].rstrip(), []
                while i < len(lines) and lines[i].rstrip() != ">>":
                    block.append(lines[i])
                    i += 1
                if i == len(lines):
                    raise ScenarioError("block without its closing >>: " + line)
                i += 1
            if line.startswith("include "):
                yield from self.directives(os.path.join(COMMON, line[len("include "):].strip() + ".scn"))
            else:
                yield line.strip(), block

    def substitute(self, text):
        values = {
            "dll": windows_path(os.path.join(self.build, "kvca.dll")),
            "run": windows_path(os.path.join(self.build, "kvca-run.exe")),
            "check": windows_path(os.path.join(self.build, "kvca-check.exe")),
            "package": windows_path(os.path.join(self.build, "package", "kvca-reference.msi")),
            "fixtures": windows_path(os.path.join(self.build, "tests", "fixtures")),
            "here": windows_path(os.path.dirname(self.path)),
            "tables": self.tables,
            "build": windows_path(self.build),
        }
        text = re.sub(r"\{(\w+)\}", lambda m: values.get(m.group(1), m.group(0)), text)
        return text.replace(SEPARATOR_SIGN, "\x01")

    def words(self, text):
        """Words split at blanks, quotes grouping; a backslash is a plain
        character, as in the Windows paths the steps name."""
        lexer = shlex.shlex(text, posix=True)
        lexer.whitespace_split = True
        lexer.escape = ""
        lexer.commenters = ""  # a "#" is text (--set P=a#b), not a comment
        return [self.substitute(w) for w in lexer]

    # --- the machine --------------------------------------------------------
    def write_file(self, path, block):
        target = self.wine.unix_path(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write("".join(self.substitute(l) + "\r\n" for l in block).encode("utf-8"))

    def write_table(self, name, block):
        rows = []
        for line in block:
            if not line.strip():
                continue
            cells = line.split("\t") if "\t" in line else [c.strip() for c in line.split("|")]
            rows.append("\t".join(self.substitute(c) for c in cells))
        self.write_file(self.tables + "\\" + name + ".idt", [])
        with open(self.wine.unix_path(self.tables + "\\" + name + ".idt"), "wb") as f:
            f.write(("\r\n".join(rows) + "\r\n").encode("utf-8"))

    def derive_package(self, path, block):
        """A copy of the reference package changed by SQL queries, one a line."""
        target = self.wine.unix_path(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(self.build, "package", "kvca-reference.msi"), target)
        for query in block:
            if not query.strip() or query.lstrip().startswith("#"):
                continue
            done = subprocess.run(["msibuild", target, "-q", self.substitute(query.strip())],
                                  capture_output=True, text=True)
            if done.returncode != 0:
                raise ScenarioError("msibuild failed: %s\n%s" % (query, done.stderr))

    def import_reg(self, block):
        text = "REGEDIT4\r\n\r\n" + "".join(self.substitute(l) + "\r\n" for l in block)
        name = "C:\\kvca-import-%d.reg" % len(self.pending_setup)
        with open(self.wine.unix_path(name), "wb") as f:
            f.write(text.encode("utf-8"))
        self.setup("reg import " + name, text)

    def setup(self, line, text=None):
        self.new_environment |= bool(re.search(r"\\Environment\b", text or line, re.IGNORECASE))
        self.pending_setup.append(line)

    def flush_setup(self):
        """Runs the set-up commands given since the last step or look in one
        batch: each Windows process costs about a tenth of a CPU-second, and
        nothing looks at the machine between them. The batch stops at the
        first command that ends with an exit code other than 0. A process
        takes its environment from the registry when Wine starts it: after a
        set-up that changed an Environment key, the steps get a new cmd."""
        lines, self.pending_setup = self.pending_setup, []
        if not lines:
            return
        batch = "".join('%s\r\nif not "%%ERRORLEVEL%%"=="0" (echo kvca-setup-failed=%d& goto kvca_end)\r\n'
                        % (line, number) for number, line in enumerate(lines)) + ":kvca_end"
        out, code = self.wine.cmd(batch, self.timeout)
        if self.new_environment:
            self.wine.end_resident("cmd")
            self.new_environment = False
        if code != 0:
            failed = re.search(r"kvca-setup-failed=(\d+)\s*$", out)
            line = lines[int(failed.group(1))] if failed else "; ".join(lines)
            raise ScenarioError("setup failed (exit %d): %s\n%s" % (code, line, out[:failed.start()] if failed else out))

    def states(self, watches):
        """The lines of each watched (kind, target): registry keys and services
        in one look, folders from the Linux side."""
        self.flush_setup()
        queries = []
        for kind, target in watches:
            if kind == "reg":
                queries += ["reg", target]
            elif kind == "service":
                queries += ["service", target, "reg", SERVICES_KEY + target]
            elif kind != "files":
                raise ScenarioError("unknown watch: " + kind)
        seen = self.look(queries) if queries else {}
        result = []
        for kind, target in watches:
            if kind == "files":
                result.append(self.file_list(target))
            elif kind == "reg":
                result.append(seen[("reg", target)])
            else:
                result.append(service_line(target, seen[("service", target)], seen[("reg", SERVICES_KEY + target)]))
        return result

    def look(self, queries):
        """Asks the fixture watchstate.exe: {(kind, target): lines}."""
        out = self.wine.ask([os.path.join(self.build, "tests", "fixtures", "watchstate.exe")], "\t".join(queries),
                            rb"== end\n$")
        seen, lines = {}, None
        for line in out.split("\n"):
            if line.startswith("== "):
                kind, _, target = line[3:].partition(" ")
                lines = seen.setdefault((kind, target), [])
            elif line:
                lines.append(line)
        return seen

    def file_list(self, folder):
        root = self.wine.unix_path(folder)
        listing = []
        for directory, _, files in os.walk(root):
            for name in files:
                full = os.path.join(directory, name)
                relative = os.path.relpath(full, root).replace("/", "\\")
                listing.append("%s\\%s %d" % (folder.rstrip("\\"), relative, os.path.getsize(full)))
        return sorted(listing)

    # --- steps ----------------------------------------------------------------
    def step(self, kind, rest):
        self.step_number += 1
        if kind == "kvca-run":
            command = [os.path.join(self.build, "kvca-run.exe")] + self.words(rest)
            out = self.wine.run(command, self.timeout)
            return out.rstrip("\n").split("\n") if out.strip() else []
        if kind == "msiexec":
            return self.msiexec(rest)
        if kind == "rundll32":
            _, code = self.wine.cmd("rundll32 " + self.substitute(rest), self.timeout)
            return ["exit %d" % code]
        if kind == "run":
            out, code = self.wine.cmd(self.substitute(rest), self.timeout)
            return [l for l in out.rstrip("\n").split("\n") if l] + ["exit %d" % code]
        if kind == "show":
            what, _, target = rest.partition(" ")
            target = self.substitute(target.strip())
            if what == "reg":
                return self.states([("reg", target)])[0]
            if what == "file":
                unix = self.wine.unix_path(target)
                if not os.path.exists(unix):
                    return ["(no file)"]
                with open(unix, "rb") as f:
                    data = f.read()
                text = data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode("cp1252", "replace")
                return text.replace("\r\n", "\n").rstrip("\n").split("\n")
            raise ScenarioError("unknown show: " + what)
        raise ScenarioError("unknown step: " + kind)

    def msiexec(self, rest):
        log = "C:\\kvca-msiexec-%d.log" % self.step_number
        args = self.substitute(rest)
        _, code = self.wine.cmd("msiexec %s /qn /l*v %s" % (args, log), self.timeout)
        package = next((w for w in shlex.split(args, posix=False) if w.lower().endswith(".msi")), None)
        actions = self.custom_actions(package)
        if self.shown_actions is not None:
            actions &= self.shown_actions
        lines = ["exit %d" % code]
        unix = self.wine.unix_path(log)
        if os.path.exists(unix):
            with open(unix, "rb") as f:
                text = f.read().decode("utf-8", "replace").replace("\r\n", "\n")
            lines += action_blocks(text.split("\n"), actions)
        return lines

    def custom_actions(self, package):
        if not package:
            return set()
        unix = self.wine.unix_path(package.strip('"'))
        out = subprocess.run(["msiinfo", "export", unix, "CustomAction"], capture_output=True, text=True)
        return {line.split("\t")[0] for line in out.stdout.split("\n")[3:] if line}

    # --- the whole scenario ---------------------------------------------------
    def write_record(self, verdict, last=None):
        """The whole story of a failed scenario, for the one who reads why:
        the verdict, the transcript so far and every program run with its
        exit code, time, output and Wine's standard error."""
        folder = os.path.join(self.build, "scenario-failures")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "%s-%s-%d.txt" % (self.name, time.strftime("%Y%m%d-%H%M%S"), os.getpid()))
        with open(path, "w", encoding="utf-8") as f:
            f.write("%s\nserver at start %s, at the end %s; address randomisation %s\n\n"
                    "== transcript so far\n%s\n" % (
                        verdict, self.wine.server, self.wine.server_at_end,
                        "off" if fixed_layout() else "on (setarch -R refused)", "\n".join(self.transcript)))
            for args, code, seconds, out, err in self.wine.history[-(last or 0):]:
                f.write("\n== %s\nexit %s after %.2f s\n-- output\n%s\n-- standard error\n%s" % (
                    " ".join(args), code, seconds, out.decode("utf-8", "replace")[-4000:], err[-8000:]))
        return path

    def run(self):
        self.wine.start()
        try:
            for line, block in self.directives():
                self.directive(line, block)
            self.flush_setup()
        finally:
            self.wine.remove()
        return normalise("\n".join(self.transcript) + "\n", self)

    def directive(self, line, block):
        kind, _, rest = line.partition(" ")
        rest = rest.strip()
        if kind not in STEPS + ("actions", "timeout"):
            self.after_last_step = None
        if kind not in SETUP_COMMANDS + NOT_MACHINE:
            self.flush_setup()
        if kind == "timeout":
            self.timeout = int(rest)
        elif kind == "reg":
            self.import_reg(block or [])
        elif kind == "regdel":
            self.wine.run(["reg", "delete", self.substitute(rest), "/f"])
        elif kind == "file":
            self.write_file(self.substitute(rest), block or [])
        elif kind == "table":
            self.write_table(rest, block or [])
        elif kind == "actions":
            self.shown_actions = set(rest.split())
        elif kind == "package":
            self.derive_package(self.substitute(rest), block or [])
        elif kind == "override":
            dll, _, mode = rest.partition("=")
            self.setup('reg add HKCU\\Software\\Wine\\DllOverrides /v %s /d "%s" /f' % (dll, mode))
        elif kind == "winver":
            self.setup('reg add HKCU\\Software\\Wine /v Version /d %s /f' % rest)
        elif kind == "setup":
            self.setup(self.substitute(rest))
        elif kind == "watch":
            what, _, target = rest.partition(" ")
            self.watches.append((what, self.substitute(target.strip()), target.strip()))
        elif kind == "show":  # changes nothing: no look at the watches
            self.transcript += ["== " + line] + self.step(kind, rest)
        elif kind in STEPS:
            # What the last step left, unless a directive changed the machine since.
            before = self.after_last_step or self.states([(w, t) for w, t, _ in self.watches])
            output = self.step(kind, rest)
            self.transcript.append("== " + line)
            self.transcript += output
            after = self.after_last_step = self.states([(w, t) for w, t, _ in self.watches])
            for (what, target, shown), old, new in zip(self.watches, before, after):
                changes = ["  - " + l for l in old if l not in new] + ["  + " + l for l in new if l not in old]
                if changes:
                    self.transcript.append("~ %s %s" % (what, shown))
                    self.transcript += changes
        else:
            raise ScenarioError("unknown directive: " + line)


def action_blocks(log, actions):
    """Each custom action's lines of a verbose msiexec log, a scheduled action
    nested under the immediate action that scheduled it."""
    out, stack = [], []
    for line in log:
        start = re.match(r"Action start [\d:]+: (.+)\.$", line)
        end = re.match(r"Action ended [\d:]+: (.+)\. Return value (\d+)\.$", line)
        if start and start.group(1) in actions:
            pad = "    " * len(stack)
            by = " (scheduled by %s)" % stack[-1] if stack else ""
            out.append("%s--- %s%s" % (pad, start.group(1), by))
            stack.append(start.group(1))
        elif end and stack and end.group(1) == stack[-1]:
            stack.pop()
            code = end.group(2)
            out.append("%s    result: %s (%s)" % ("    " * len(stack), code, ACTION_RESULTS.get(code, "?")))
        elif stack and not line.startswith("Action "):
            out.append("    " * len(stack) + line)
    return out


def normalise(text, scenario):
    text = text.replace("\x01", SEPARATOR_SIGN)
    for path, name in ((scenario.wine.prefix, "$PREFIX"), (scenario.build, "$BUILD"), (SOURCE, "$SRC")):
        text = text.replace(path, name)
        # kvca-run quotes texts with their backslashes doubled.
        for form in (windows_path(path), windows_path(path).replace("\\", "\\\\")):
            text = re.sub(re.escape(form), lambda m: name, text, flags=re.IGNORECASE)
    user = pwd.getpwuid(os.getuid()).pw_name  # Wine names the profile after it
    text = re.sub(r"(\\\\?users\\\\?)" + re.escape(user) + r"\b", r"\1$USER", text, flags=re.IGNORECASE)
    text = re.sub(r"\bcsp[0-9a-f]{1,4}\.tmp", "csp*.tmp", text, flags=re.IGNORECASE)
    # The temporary name's length varies too, and with it a byte count shown beside it.
    text = "\n".join(re.sub(r"\b\d+ bytes\b", "* bytes", line) if "csp*.tmp" in line else line
                     for line in text.split("\n"))
    text = re.sub(r"\bMSI[0-9a-f]{1,5}\.tmp", "MSI*.tmp", text, flags=re.IGNORECASE)
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bless", action="store_true", help="write the transcripts as expected")
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"), help="the build tree")
    parser.add_argument("--pristine-only", action="store_true", help="only make the pristine prefix")
    parser.add_argument("scenarios", nargs="*")
    args = parser.parse_args()
    if args.pristine_only:
        Wine(os.path.abspath(args.build), "pristine-check").make_pristine()
        return 0
    failed = 0
    for path in args.scenarios:
        scenario = Scenario(path, args.build)
        expected_path = os.path.splitext(path)[0] + ".out"
        try:
            actual = scenario.run()
        except ScenarioError as error:
            print("FAIL %s: %s" % (path, error))
            print("record: " + scenario.write_record("FAIL: %s" % error))
            failed += 1
            continue
        if args.bless:
            with open(expected_path, "w", encoding="utf-8") as f:
                f.write(actual)
            print("blessed %s" % expected_path)
            continue
        expected = open(expected_path, encoding="utf-8").read() if os.path.exists(expected_path) else ""
        if actual == expected:
            print("ok %s" % path)
        else:
            failed += 1
            print("FAIL %s: the transcript differs from %s" % (path, expected_path))
            diff = "".join(difflib.unified_diff(
                expected.splitlines(True), actual.splitlines(True), "expected", "actual"))
            sys.stdout.write(diff)
            print("record: " + scenario.write_record("FAIL: the transcript differs\n" + diff))
    print("%d passed, %d failed" % (len(args.scenarios) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
