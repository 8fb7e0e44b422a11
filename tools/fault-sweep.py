#!/usr/bin/env python3
"""Fault sweep: makes every platform call of an export fail in turn.

For each swept step of the cases given (tests/sweep/*.scn by default) it runs
the export once as it is (kvca-run --count-calls) and learns how many calls it
makes, then once per call N = 1, 2, ... with kvca-run --fail-call N, the
machine set up anew before each run. Each run must end without a crash or a
hang, leave no handle open (installer handles, the handles kvca-run's hooks
saw opened, the process's kernel handles), return a result the case allows
for a failed call, and leave every kept piece of machine state either as it
was before the run or as the run without a failure leaves it. Prints a table
per export and, above it, a line for every run that broke a rule.

A case is a scenario file (tests/scenarios/README.md) with these additions.
The directives before the first 'results' run once; each segment from a
'results' line to its 'sweep' step sets the machine up before every run.
  results CODE... | any    starts a segment: the results allowed after a failed
                           call; "code" stands for the error the failed call
                           gave (returned, or its last-error value), "code|N"
                           for it ORed with N; an
                           allocation of the C runtime that fails may always
                           end an action with 1603 (the wide string's failure)
  sweep kvca-run ARGS...   the step swept
  then STEP ARGS...        a step run after each swept run, without a failure
                           (a rollback action)
  keep reg KEY | files FOLDER | service NAME
                           machine state that no failure may leave half changed
  logged TEXT              a run that prints a line holding TEXT has put what it
                           could not keep into the installer log: its half-changed
                           state counts as logged, not lost
  reset COMMAND            a Windows command line run during set-up whatever
                           its exit code (removing what an earlier run created)

usage: tools/fault-sweep.py [--build DIR] [--export NAME]... [--max-calls N] [CASE.scn...]
Exit code 0 when every run kept every rule.
"""

import argparse
import glob
import importlib.util
import os
import re
import shlex
import shutil
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
loader_spec = importlib.util.spec_from_file_location("scenario_runner", os.path.join(TOP, "tests", "scenarios", "run.py"))
runner = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(runner)

ALLOCATIONS = {"malloc", "calloc", "realloc"}
ERROR_INSTALL_FAILURE = 1603


class Run:
    """What one kvca-run printed, read back."""

    def __init__(self, lines, crash=None):
        self.lines = lines
        self.crash = crash
        self.failed_call = self.failed_error = None
        self.result = self.calls = self.process_handles = self.installer_handles = None
        self.open_handles = None
        self.unlisted = []
        for line in lines:
            m = re.match(r"fail: (\S+) \(call \d+, error (\d+)\)$", line)
            if m:
                self.failed_call, self.failed_error = m.group(1), int(m.group(2))
            for name, pattern in (("result", r"result: (-?\d+)$"), ("calls", r"calls: (\d+)$"),
                                  ("process_handles", r"process handles: ([+-]\d+)$"),
                                  ("installer_handles", r"handles: (\d+)$")):
                m = re.match(pattern, line)
                if m:
                    setattr(self, name, int(m.group(1)))
            if line.startswith("open handles: "):
                self.open_handles = line[len("open handles: "):]
            if line.startswith("unlisted import: "):
                self.unlisted.append(line[len("unlisted import: "):])
        if self.crash is None and self.result is None and not any(l == "result: none" for l in lines):
            self.crash = "no result: " + " / ".join(lines[-3:])


class Segment:
    """One swept step with the directives that set the machine up for it."""

    def __init__(self, setup, step, then, results, keeps, logged):
        self.setup, self.step, self.then, self.results, self.keeps = setup, step, then, results, keeps
        self.logged = logged
        self.export = step.split()[-1]


def read_segments(scenario):
    """The directives run once (those before the first 'results') and the
    segments, each from its 'results' line to its swept step and 'then' steps."""
    once, segments, pending, current = [], [], None, None
    for line, block in scenario.directives():
        kind, _, rest = line.partition(" ")
        rest = rest.strip()
        if kind == "then":
            if current is None:
                raise runner.ScenarioError("'then' without its 'sweep': " + line)
            current.then.append(rest)
            continue
        current = None
        if kind == "results":
            pending = {"results": "any" if rest == "any" else rest.split(),
                       "setup": [], "keeps": [], "logged": None}
        elif pending is None:
            once.append((line, block))
        elif kind == "sweep":
            if not rest.startswith("kvca-run "):
                raise runner.ScenarioError("only kvca-run steps are swept: " + line)
            current = Segment(pending["setup"], rest[len("kvca-run "):], [], pending["results"],
                              pending["keeps"], pending["logged"])
            segments.append(current)
            pending = None
        elif kind == "logged":
            pending["logged"] = shlex.split(rest)[0]
        elif kind == "keep":
            what, _, target = rest.partition(" ")
            pending["keeps"].append((what, target.strip()))
        else:
            pending["setup"].append((line, block))
    if pending is not None:
        raise runner.ScenarioError("'results' without its 'sweep'")
    return once, segments


class Sweep(runner.Scenario):
    """A case, run with the copies of kvca.dll and kvca-run.exe in `snapshot`."""

    def __init__(self, path, build, snapshot):
        super().__init__(path, build)
        self.snapshot = snapshot

    def substitute(self, text):
        text = text.replace("{dll}", runner.windows_path(os.path.join(self.snapshot, "kvca.dll")))
        return super().substitute(text)

    def step(self, kind, rest):
        if kind != "kvca-run":
            return super().step(kind, rest)
        command = [os.path.join(self.snapshot, "kvca-run.exe")] + self.words(rest)
        out = self.wine.run(command, self.timeout)
        return out.rstrip("\n").split("\n") if out.strip() else []

    def set_up(self, segment):
        for line, block in segment.setup:
            kind, _, rest = line.partition(" ")
            if kind == "reset":
                self.flush_setup()
                self.wine.cmd(self.substitute(rest.strip()), self.timeout)
            else:
                self.directive(line, block)

    def kept(self, segment):
        return self.states([(what, self.substitute(target)) for what, target in segment.keeps])

    def run_once(self, segment, fail_call=None):
        """Sets the machine up, runs the step (and its 'then' steps); returns
        the Run and the kept states before and after. A machine that cannot
        be set up is reported as the run's crash, marked as such."""
        try:
            self.set_up(segment)
            before = self.kept(segment)
        except runner.ScenarioError as error:
            return Run([], crash="set-up: " + str(error).splitlines()[0]), [], []
        options = "--count-calls" + (" --fail-call %d" % fail_call if fail_call else "")
        try:
            run = Run(self.step("kvca-run", options + " " + segment.step))
        except runner.ScenarioError as error:
            run = Run([], crash=str(error).splitlines()[0])
        for step in segment.then:
            kind, _, rest = step.partition(" ")
            try:
                self.step(kind, rest)
            except runner.ScenarioError as error:
                run.crash = run.crash or "then-step: " + str(error).splitlines()[0]
        return run, before, self.kept(segment)


class Tally:
    def __init__(self, export):
        self.export = export
        self.swept = self.crashes = self.leaks = self.unexpected = self.lost = self.logged = 0
        self.kept = 0


class Problems(list):
    """The rules broken, each also printed to standard error when found."""

    def append(self, problem):
        print("problem: " + problem, file=sys.stderr, flush=True)
        super().append(problem)


def allowed_results(tokens, run):
    """The results a case allows after this run's failed call; None: any."""
    if tokens == "any":
        return None
    allowed = set()
    for token in tokens:
        if token.startswith("code"):
            code = run.failed_error
            for other in token.split("|")[1:]:
                code |= int(other, 0)
            allowed.add(code)
        else:
            allowed.add(int(token, 0))
    if run.failed_call in ALLOCATIONS:
        allowed.add(ERROR_INSTALL_FAILURE)
    return allowed


def sweep_segment(sweep, segment, max_calls, verbose, problems):
    tally = Tally(segment.export)
    clean, _, clean_after = sweep.run_once(segment)
    if verbose:
        print("%s without a failure:\n  %s" % (segment.export, "\n  ".join(clean.lines)), file=sys.stderr)
    if clean.crash or clean.calls is None:
        tally.crashes += 1
        problems.append("%s clean run: %s" % (segment.export, clean.crash or "no call count"))
        return tally
    for name in clean.unlisted:
        problems.append("%s: the failure table lacks %s" % (segment.export, name))
    calls = clean.calls if max_calls is None else min(clean.calls, max_calls)
    for n in range(1, calls + 1):
        run, before, after = sweep.run_once(segment, n)
        if run.crash and run.crash.startswith("set-up:"):
            problems.append("%s call %d not swept: %s" % (segment.export, n, run.crash))
            continue
        tally.swept += 1
        where = "%s call %d (%s)" % (segment.export, n, run.failed_call or "?")
        if verbose:
            print("%s: result %s" % (where, run.result if not run.crash else "crash"), file=sys.stderr, flush=True)
        if run.crash:
            tally.crashes += 1
            problems.append("%s: crash: %s" % (where, run.crash))
            continue
        leaks = []
        if run.open_handles != "none":
            leaks.append("open: " + str(run.open_handles))
        if run.installer_handles:
            leaks.append("installer handles: %d" % run.installer_handles)
        if run.process_handles is not None and run.process_handles > max(0, clean.process_handles or 0):
            leaks.append("process handles %+d" % run.process_handles)
        if leaks:
            tally.leaks += 1
            problems.append("%s: leak: %s" % (where, "; ".join(leaks)))
        allowed = allowed_results(segment.results, run)
        if allowed is not None and run.result is not None and run.result not in allowed:
            tally.unexpected += 1
            problems.append("%s: result %d, allowed %s" % (where, run.result, sorted(allowed)))
        if segment.keeps:
            tally.kept += 1
        lost = logged = False
        for (what, target), old, new, clean_new in zip(segment.keeps, before, after, clean_after):
            if new == old or new == clean_new:
                continue
            if segment.logged and any(segment.logged in line for line in run.lines):
                logged = True
            else:
                lost = True
                problems.append("%s: %s %s half changed: %s" % (
                    where, what, target, "; ".join(l for l in new if l not in old and l not in clean_new)
                    or "entries missing"))
        tally.lost += lost
        tally.logged += logged and not lost
    return tally


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(TOP, "build"), help="the build tree")
    parser.add_argument("--export", action="append", help="sweep only this export (repeatable)")
    parser.add_argument("--max-calls", type=int, help="sweep at most the first N calls of each export")
    parser.add_argument("--verbose", action="store_true", help="print every run: the call failed, the result")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    cases = args.cases or sorted(glob.glob(os.path.join(TOP, "tests", "sweep", "*.scn")))

    # The sweep runs copies, so that the build tree can change meanwhile.
    snapshot = os.path.join(os.path.abspath(args.build), "sweep", str(os.getpid()))
    os.makedirs(snapshot)
    for name in ("kvca.dll", "kvca-run.exe"):
        shutil.copy2(os.path.join(args.build, name), snapshot)

    tallies, problems = [], Problems()
    for case in cases:
        sweep = Sweep(case, args.build, snapshot)
        once, segments = read_segments(sweep)
        segments = [s for s in segments if not args.export or s.export in args.export]
        if not segments:
            continue
        problems_before = len(problems)
        try:
            sweep.wine.start()
            for line, block in once:
                sweep.directive(line, block)
            for segment in segments:
                tally = sweep_segment(sweep, segment, args.max_calls, args.verbose, problems)
                tallies.append(tally)
                print("swept %s: %d calls" % (tally.export, tally.swept), file=sys.stderr, flush=True)
        except runner.ScenarioError as error:
            problems.append("%s: %s" % (os.path.basename(case), str(error).splitlines()[0]))
        finally:
            sweep.wine.remove()
        if len(problems) > problems_before:
            print("record: " + sweep.write_record("\n".join(problems[problems_before:]), last=200), file=sys.stderr)

    shutil.rmtree(snapshot, ignore_errors=True)
    for problem in problems:
        print(problem)
    header = "%-28s %6s %8s %6s %11s %10s %7s" % ("export", "calls", "crashes", "leaks", "unexpected",
                                                   "data lost", "in log")
    print(header)
    print("-" * len(header))
    totals = Tally("total")
    for t in tallies:
        lost = "%d/%d" % (t.lost, t.swept) if t.kept else "-"
        logged = str(t.logged) if t.kept else "-"
        print("%-28s %6d %8d %6d %11d %10s %7s" % (t.export, t.swept, t.crashes, t.leaks, t.unexpected, lost,
                                                  logged))
        for field in ("swept", "crashes", "leaks", "unexpected", "lost", "logged", "kept"):
            setattr(totals, field, getattr(totals, field) + getattr(t, field))
    print("-" * len(header))
    print("%-28s %6d %8d %6d %11d %10d %7d" % ("total (%d exports)" % len(tallies), totals.swept,
                                                totals.crashes, totals.leaks, totals.unexpected, totals.lost,
                                                totals.logged))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
