#!/usr/bin/env python3
"""Mutation testing: how many small faults planted in src/ do the suites catch?

    scripts/mutation.py [-n 150] [--seed 1] [--from 1] [--timeout 300] [--no-fuzz] [--keep]
    scripts/mutation.py --recheck LOG [--only REGEX] [--timeout 300] [--no-fuzz] [--keep]

Works in a scratch worktree of HEAD (the checkout is never touched) with a Release build of its
own. It samples N mutants with the seed, each one small change to one line of a Linux-built
source file in src/:

    flip      a comparison or logic operator (== !=, < >=, > <=, && ||)
    constant  an integer constant off by one
    boolean   true for false and back
    delete    a statement that is a call, removed

For each mutant it rebuilds what the change touches and runs the suites (fail-fast, each under
the time-out), then restores the file. A mutant the suites miss meets the fuzzers next, as the
test command's fuzz stage does, but briefly and repeatably: each target built as the preset fuzz
builds it, run from its corpus for a fixed number of inputs with a fixed seed (--no-fuzz skips
this; it needs clang 14). It prints each result and a summary: killed, survived,
timed out, did not compile, and the survivors with their change. The sample depends only on the
seed and on src/, so --from K resumes a stopped run at its K-th mutant.

--recheck plants again the mutants an earlier run printed in LOG (those whose file matches
--only), found by their line's text, so that today's suites answer for an earlier sample after
src/ or the tests changed. A mutant whose line is gone is counted as not found.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# The GoogleTest suites in the order they run (cheapest first); those the tree does not define
# are left out.
SUITES = ["unit_tests", "platform_tests", "api_tests", "fault_tests"]
# Each fuzz target and the inputs it runs: a few seconds each on one core.
FUZZERS = {"fuzz_url": 2000, "fuzz_download_name": 2000, "fuzz_form_body": 500,
           "fuzz_settings_file": 1000, "fuzz_server_answer": 150}
FLIPS = {"==": "!=", "!=": "==", "<=": ">", ">=": "<", "&&": "||", "||": "&&"}
FLIP_PATTERN = re.compile(r"(?<![<>=!&|])(==|!=|<=|>=|&&|\|\|)(?![<>=&|])")
LESS_GREATER = re.compile(r"(?<=\s)(<|>)(?=\s)")  # spaced, so templates and shifts stay whole
CONSTANT = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
BOOLEAN = re.compile(r"\b(true|false)\b")
CALL_STATEMENT = re.compile(r"^\s*[A-Za-z_][\w:.>\-]*(\([^;]*\))?\s*\(.*\);\s*$")
NOT_A_CALL = re.compile(r"\b(static_assert|return|case|delete|throw)\b")
STRING = re.compile(r'"(\\.|[^"\\])*"|\'(\\.|[^\'\\])\'')


def candidates(root):
    """Every (file, line number, kind, new line) the sampler may pick."""
    found = []
    for path in sorted((root / "src").rglob("*.cpp")):
        relative = path.relative_to(root)
        if relative.parts[:3] == ("src", "platform", "windows"):
            continue  # not built on Linux
        for number, line in enumerate(path.read_text().splitlines(), 1):
            if line.lstrip().startswith(("#", "//", "*", "/*")):
                continue
            # Blank out texts and comments so that only code is mutated; columns stay.
            code = STRING.sub(lambda m: " " * len(m.group(0)), line).split("//")[0]
            for match in FLIP_PATTERN.finditer(code):
                new = line[: match.start()] + FLIPS[match.group(1)] + line[match.end():]
                found.append((relative, number, "flip", new))
            for match in LESS_GREATER.finditer(code):
                flipped = ">=" if match.group(1) == "<" else "<="
                found.append((relative, number, "flip",
                              line[: match.start()] + flipped + line[match.end():]))
            for match in CONSTANT.finditer(code):
                value = int(match.group(1))
                new = line[: match.start()] + str(value + 1) + line[match.end():]
                found.append((relative, number, "constant", new))
            for match in BOOLEAN.finditer(code):
                other = "false" if match.group(1) == "true" else "true"
                found.append((relative, number, "boolean",
                              line[: match.start()] + other + line[match.end():]))
            if CALL_STATEMENT.match(code) and not NOT_A_CALL.search(code):
                found.append((relative, number, "delete", ""))
    return found


LOGGED = re.compile(r"^\[\d+/\d+\] .+?\d+ s  (\S+):(\d+) (\w+): (.*?)  =>  (.*)$")


def logged_mutants(root, log, only):
    """The mutants printed in `log` as (file, line number, kind, new line), and how many of
    them no longer have their line in the tree."""
    found, missing = [], 0
    for entry in Path(log).read_text().splitlines():
        match = LOGGED.match(entry)
        if not match or not re.search(only, match.group(1)):
            continue
        relative, number, kind, old, new = match.groups()
        new = "" if new == "(deleted)" else new
        path = root / relative
        lines = path.read_text().splitlines() if path.exists() else []
        # The nearest line with the same text: lines above it may have come or gone.
        same = [i for i, line in enumerate(lines, 1) if line.strip() == old]
        if not same:
            missing += 1
            continue
        at = min(same, key=lambda i: abs(i - int(number)))
        indent = lines[at - 1][: len(lines[at - 1]) - len(lines[at - 1].lstrip())]
        found.append((Path(relative), at, kind, indent + new if new else ""))
    return found, missing


def run(command, cwd, timeout=None, env=None):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, env=env)
        return done.returncode
    except subprocess.TimeoutExpired:
        return None


def run_fuzzers(build, scratch, timeout):
    """None when every fuzz target passes its fixed run, else what ended it."""
    for target, inputs in FUZZERS.items():
        work = scratch / "fuzz-runs" / target
        shutil.rmtree(work, ignore_errors=True)
        (work / "tmp").mkdir(parents=True)
        (work / "new").mkdir()
        # New inputs go to a folder of their own; the corpus in the tree stays as it is.
        code = run([str(build / "tests" / "fuzz" / target), "new",
                    str(scratch / "tree" / "tests" / "fuzz" / "corpus" / target), f"-runs={inputs}",
                    "-seed=1", "-max_len=6000", "-timeout=30"], work, timeout,
                   dict(os.environ, TMPDIR=str(work / "tmp"), ASAN_OPTIONS="detect_leaks=1"))
        if code is None:
            return "timed out"
        if code != 0:
            return "killed"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("-n", type=int, default=150, help="mutants to sample (150)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--from", dest="first", type=int, default=1,
                        help="start at this mutant of the sample, to resume a run (1)")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per suite (300)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch worktree")
    parser.add_argument("--no-fuzz", action="store_true", help="run the suites alone")
    parser.add_argument("--recheck", metavar="LOG", help="plant again the mutants of an earlier run")
    parser.add_argument("--only", default="", help="with --recheck: files matching this")
    options = parser.parse_args()

    checkout = Path(subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip())
    scratch = Path(tempfile.mkdtemp(prefix="zemuser-mutation-"))
    tree = scratch / "tree"
    build = scratch / "build"
    subprocess.check_call(["git", "-C", str(checkout), "worktree", "add", "--detach", "-q",
                           str(tree), "HEAD"])
    env = dict(os.environ, ZEMUSER_SETTINGS_DIR=str(scratch / "settings"))
    (scratch / "settings").mkdir()
    jobs = str(os.cpu_count() or 2)
    try:
        print(f"mutation: scratch {scratch}; building the unmutated tree")
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
        subprocess.check_call(["cmake", "-S", str(tree), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                               "-DZEMUSER_BUILD_TOOLS=OFF", *launcher], stdout=subprocess.DEVNULL)
        defined = subprocess.check_output(["cmake", "--build", str(build), "--target", "help"], text=True)
        suites = [name for name in SUITES if f"... {name}" in defined]
        targets = ["--target", *suites]
        subprocess.check_call(["cmake", "--build", str(build), "-j", jobs, *targets],
                              stdout=subprocess.DEVNULL)
        if any(run([str(build / "tests" / suite)], tree, options.timeout, env) != 0 for suite in suites):
            sys.exit("mutation: the unmutated suites fail; fix them first")
        fuzz_build = scratch / "build-fuzz"
        fuzz_targets = ["--target", *FUZZERS]
        if not options.no_fuzz:
            subprocess.check_call(["cmake", "-S", str(tree), "-B", str(fuzz_build), "--preset", "fuzz",
                                   *launcher], cwd=tree, stdout=subprocess.DEVNULL)
            subprocess.check_call(["cmake", "--build", str(fuzz_build), "-j", jobs, *fuzz_targets],
                                  stdout=subprocess.DEVNULL)
            if run_fuzzers(fuzz_build, scratch, options.timeout):
                sys.exit("mutation: the unmutated fuzz targets fail; fix them first")

        if options.recheck:
            sample, missing = logged_mutants(tree, options.recheck, options.only)
            print(f"mutation: {len(sample)} mutants of {options.recheck} again, "
                  f"{missing} whose line is gone")
        else:
            pool = candidates(tree)
            sample = random.Random(options.seed).sample(pool, min(options.n, len(pool)))
            print(f"mutation: {len(sample)} of {len(pool)} candidate mutants, seed {options.seed}")
        tally = {"killed": 0, "survived": 0, "timed out": 0, "did not compile": 0}
        survivors = []
        for index, (relative, number, kind, new) in enumerate(sample, 1):
            if index < options.first:
                continue
            path = tree / relative
            original = path.read_text()
            lines = original.splitlines(keepends=True)
            old = lines[number - 1]
            lines[number - 1] = new + "\n"
            path.write_text("".join(lines))
            start = time.time()
            try:
                built = run(["cmake", "--build", str(build), "-j", jobs, *targets], tree)
                if built != 0:
                    outcome = "did not compile"
                else:
                    outcome = "survived"
                    for suite in suites:
                        code = run([str(build / "tests" / suite), "--gtest_fail_fast"], tree,
                                   options.timeout, env)
                        if code is None:
                            outcome = "timed out"
                            break
                        if code != 0:
                            outcome = "killed"
                            break
                    if outcome == "survived" and not options.no_fuzz:
                        if run(["cmake", "--build", str(fuzz_build), "-j", jobs, *fuzz_targets], tree) != 0:
                            outcome = "did not compile"
                        else:
                            outcome = run_fuzzers(fuzz_build, scratch, options.timeout) or outcome
            finally:
                path.write_text(original)
            tally[outcome] += 1
            change = f"{relative}:{number} {kind}: {old.strip()}  =>  {new.strip() or '(deleted)'}"
            if outcome == "survived":
                survivors.append(change)
            print(f"[{index}/{len(sample)}] {outcome:15} {time.time() - start:5.0f} s  {change}",
                  flush=True)
        # Leave the build matching the sources for a rerun with --keep.
        run(["cmake", "--build", str(build), "-j", jobs, *targets], tree)
        if not options.no_fuzz:
            run(["cmake", "--build", str(fuzz_build), "-j", jobs, *fuzz_targets], tree)

        compiled = sum(tally.values()) - tally["did not compile"]
        caught = tally["killed"] + tally["timed out"]
        print("\nmutation summary:", ", ".join(f"{k} {v}" for k, v in tally.items()))
        if compiled:
            print(f"caught {caught} of {compiled} compiled mutants: {100 * caught / compiled:.1f}%")
        print("survivors:" if survivors else "no survivors")
        for change in survivors:
            print("  " + change)
    finally:
        if not options.keep:
            subprocess.call(["git", "-C", str(checkout), "worktree", "remove", "--force", str(tree)])
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
