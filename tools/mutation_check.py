#!/usr/bin/env python3
"""Measures what the tests catch: applies each mutant of tools/mutants.txt in turn to a
Release build of its own, rebuilds incrementally, runs every test program that checks the
mutated folder (PROGRAMS below: image/ and annotation/ also the viewer's and the control's
programs) and prints whether the mutant was killed (a test failed, crashed or ran out of
time) or survived. Sources are always restored, also on an error or Ctrl-C.

    tools/mutation_check.py [--build DIR] [--jobs N] [--timeout S] [--only REGEX] [--out FILE]

A mutant line is  <file> @@ <text> @@ <replacement> [@@ <text> @@ <replacement> ...];
each text must occur exactly once in the file.

The count is only as honest as the clean run. Each program first runs unmutated over every
shard; every test failing there is left out of every later run, and named. Then, for each
set of programs the mutants use, a mutant that changes nothing (its file rebuilt as it
stands) must survive, or the tool refuses to count.

Time: a mutant runs its programs in --jobs shards, the quickest first, and ends at the
first that fails. A viewer mutant (R2IVuzi/, or image/ and annotation/ past their own
programs) that survives takes about 75 s with --jobs 2: a few seconds to rebuild and link,
3 s of tests_facade, 65 s of tests_R2IVuzi (measured on a busy 8-core machine); a
codec/jp2/ one adds tests_codec, about 50 s, before it. One killed early takes seconds.
The clean runs and the no-op mutants first take about 6 minutes for those programs."""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Every test program that checks each source folder, the quickest first (a mutant ends at its
# first failing program). The viewer's programs check the display and annotation code too:
# some of its behaviour (the window text for inverted greys, the readout's X/Y order) is
# checked only there.
PROGRAMS = [
    ("codec/jp2/", ["tests_codec", "tests_R2IVuzi"]),
    ("codec/", ["tests_codec"]),
    ("R2IVuzi/", ["tests_facade", "tests_R2IVuzi"]),
    ("facade/", ["tests_facade"]),
    ("xpath/", ["tests_xpath"]),
    ("image/", ["tests_image", "tests_facade", "tests_R2IVuzi"]),
    ("imagelib/", ["tests_imagelib"]),
    ("annotation/", ["tests_annotation", "tests_facade", "tests_R2IVuzi"]),
    ("platform/", ["tests_platform"]),
    ("diagnostics/", ["tests_diagnostics"]),
]


def programs_for(path):
    for prefix, progs in PROGRAMS:
        if path.startswith(prefix):
            return progs
    raise SystemExit("no test programs known for " + path)


def read_mutants(list_file):
    mutants = []
    with open(list_file, encoding="utf-8") as fh:
        for number, line in enumerate(fh, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = [p.strip() for p in line.split(" @@ ")]
            if len(parts) < 3 or len(parts) % 2 == 0:
                raise SystemExit("%s:%d: expected <file> @@ <text> @@ <replacement>" % (list_file, number))
            pairs = list(zip(parts[1::2], parts[2::2]))
            mutants.append({"line": number, "file": parts[0], "pairs": pairs})
    return mutants


def mutated_text(mutant):
    path = os.path.join(ROOT, mutant["file"])
    with open(path, encoding="utf-8") as fh:
        text = fh.read()
    original = text
    for old, new in mutant["pairs"]:
        if text.count(old) != 1:
            return original, None, "text found %d times: %s" % (text.count(old), old)
        text = text.replace(old, new)
    return original, text, None


def build(build_dir, targets, jobs, log):
    r = subprocess.run(["cmake", "--build", build_dir, "-j%d" % jobs, "--target"] + targets,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if r.returncode != 0:
        log.write(r.stdout[-4000:])
    return r.returncode == 0


def program_path(build_dir, name):
    folder = name[len("tests_"):]
    return os.path.join(build_dir, "tests", folder, name)


def run_program(build_dir, name, jobs, timeout, excluded, every=False):
    """Runs one test program split into `jobs` shards; returns (passed, failing test names, timed out).
    The first failing shard ends the run unless `every` asks for every failing test. A shard
    that crashes or runs out of time names the tests it had started and not ended. Output
    goes to files: a pipe that nobody reads until the end stops a talkative shard."""
    exe = program_path(build_dir, name)
    args = [exe]
    if excluded:
        args.append("--gtest_filter=-" + ":".join(excluded))
    env = dict(os.environ, GTEST_TOTAL_SHARDS=str(jobs), ASAN_OPTIONS="detect_leaks=0")
    with tempfile.TemporaryDirectory(prefix="mutation-check-") as tmp:
        outs = [open(os.path.join(tmp, "shard%d" % k), "w+", encoding="utf-8", errors="replace")
                for k in range(jobs)]
        procs = [subprocess.Popen(args, cwd=os.path.dirname(exe), env=dict(env, GTEST_SHARD_INDEX=str(k)),
                                  stdout=outs[k], stderr=subprocess.STDOUT, start_new_session=True)
                 for k in range(jobs)]
        deadline = time.monotonic() + timeout
        failed, timed_out = False, False
        pending = set(range(jobs))
        while pending:
            for k in list(pending):
                if procs[k].poll() is not None:
                    pending.discard(k)
                    failed = failed or procs[k].returncode != 0
            if not pending or (failed and not every):
                break
            if time.monotonic() > deadline:
                timed_out = True
                break
            time.sleep(0.05)
        for k in pending:
            try:
                os.killpg(procs[k].pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            procs[k].wait()
        names = set()
        for k in range(jobs):
            outs[k].seek(0)
            text = outs[k].read()
            outs[k].close()
            names.update(re.findall(r"^\[  FAILED  \] ([\w/]+\.[\w/.]+)", text, re.M))  # not "1 test, listed below"
            # A shard stopped because another failed first proves nothing.
            stopped_early = k in pending and not timed_out
            if stopped_early or procs[k].returncode in (0, 1):
                continue
            ended = set(re.findall(r"^\[ +(?:OK|FAILED|SKIPPED) +\] ([\w/.]+)", text, re.M))
            unended = [t for t in re.findall(r"^\[ RUN      \] ([\w/.]+)", text, re.M) if t not in ended]
            names.update(unended or ["%s:shard%d:%s" % (name, k, "timeout" if k in pending
                                                         else "exit%d" % procs[k].returncode)])
    return not failed and not timed_out, sorted(names), timed_out


def clean_run(build_dir, name, jobs):
    """Runs a program unmutated over every shard until it passes, leaving out each test that
    fails there; returns (seconds of the passing run, tests left out)."""
    left_out = []
    for _ in range(3):
        start = time.monotonic()
        ok, names, _ = run_program(build_dir, name, jobs, 3600, left_out, every=True)
        took = time.monotonic() - start
        if ok:
            return took, left_out
        new = [n for n in names if n not in left_out]
        if not new or any(":shard" in n for n in new):
            raise SystemExit("the clean run of %s fails in a way no test can be left out for: %s"
                             % (name, " ".join(names)))
        left_out += new
    raise SystemExit("the clean run of %s still fails after leaving out %s" % (name, " ".join(left_out)))


def noop_check(build_dir, mutants, jobs, limits, excluded, log):
    """Rebuilds and runs the programs of one mutant that changes nothing for each set of
    programs the mutants use; a kill there means the counting is wrong, so nothing runs."""
    covered = set()
    for m in mutants:
        progs = programs_for(m["file"])
        if set(progs) <= covered:
            continue
        covered.update(progs)
        path = os.path.join(ROOT, m["file"])
        start = time.monotonic()
        os.utime(path)  # the same text, rebuilt as an edited file would be
        if not build(build_dir, progs, jobs, log):
            raise SystemExit("the unchanged %s does not build; see mutation_check.log" % m["file"])
        for p in progs:
            ok, names, timed_out = run_program(build_dir, p, jobs, limits[p], excluded[p])
            if not ok:
                raise SystemExit("refusing to count: a mutant of %s that changes nothing is reported killed by %s"
                                 % (m["file"], ", ".join(["timeout in " + p] if timed_out else names or [p])))
        print("no-op    %s survived, as it must (%.0f s)" % (m["file"], time.monotonic() - start), flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-mutation"))
    ap.add_argument("--list", default=os.path.join(ROOT, "tools", "mutants.txt"))
    ap.add_argument("--jobs", type=int, default=3, help="build jobs and test shards")
    ap.add_argument("--timeout", type=float, default=0,
                    help="seconds per test program (default: 3 x its clean run, at least 30)")
    ap.add_argument("--only", default="", help="regular expression on '<file> <text>' to pick mutants")
    ap.add_argument("--out", default="", help="also write one tab-separated line per mutant here")
    ap.add_argument("--from-line", type=int, default=0, help="skip mutants listed above this line")
    ap.add_argument("--check", action="store_true", help="only check that every mutant applies")
    ap.add_argument("--every", action="store_true",
                    help="run every program to its end and write every failing test to --out")
    a = ap.parse_args()

    mutants = [m for m in read_mutants(a.list)
               if (not a.only or re.search(a.only, m["file"] + " " + m["pairs"][0][0])) and m["line"] >= a.from_line]
    bad = [(m, mutated_text(m)[2]) for m in mutants if mutated_text(m)[2]]
    for m, why in bad:
        print("line %d: %s: %s" % (m["line"], m["file"], why))
    if bad or a.check:
        print("%d mutants, %d do not apply" % (len(mutants), len(bad)))
        return 1 if bad else 0

    log = open(os.path.join(os.path.dirname(a.build.rstrip("/")) or ".", "mutation_check.log"), "w")
    if not os.path.exists(os.path.join(a.build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-G", "Ninja", "-S", ROOT, "-B", a.build, "-DCMAKE_BUILD_TYPE=Release"],
                       check=True, stdout=subprocess.DEVNULL)
    programs = sorted({p for m in mutants for p in programs_for(m["file"])})
    if not build(a.build, programs, a.jobs, log):
        raise SystemExit("the unmutated build fails; see mutation_check.log")

    excluded, limits = {}, {}
    for p in programs:
        took, excluded[p] = clean_run(a.build, p, a.jobs)
        limits[p] = a.timeout or max(30.0, 3 * took)
        print("clean run of %s over %d shards: %.0f s%s" % (
            p, a.jobs, took, ", failing already and left out: " + " ".join(excluded[p]) if excluded[p] else ""),
              flush=True)
    noop_check(a.build, mutants, a.jobs, limits, excluded, log)

    out = open(a.out, "a" if a.from_line else "w") if a.out else None
    counts = {"killed": 0, "survived": 0, "no-build": 0}
    for m in mutants:
        path = os.path.join(ROOT, m["file"])
        original, text, _ = mutated_text(m)
        start = time.monotonic()
        try:
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(text)
            progs = programs_for(m["file"])
            if not build(a.build, progs, a.jobs, log):
                verdict, detail, killers = "no-build", "", []
            else:
                verdict, killers = "survived", []
                for p in progs:
                    ok, names, timed_out = run_program(a.build, p, a.jobs, limits[p], excluded[p], a.every)
                    if not ok:
                        verdict = "killed"
                        killers += (["timeout in " + p] + names) if timed_out else names or [p]
                        if not a.every:
                            break
                detail = ", ".join(killers[:3]) + (" ..." if len(killers) > 3 else "")
        finally:
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(original)
        counts[verdict] += 1
        what = "%s:%d %s -> %s" % (m["file"], m["line"], m["pairs"][0][0], m["pairs"][0][1])
        print("%-8s %s  (%.0f s)%s" % (verdict, what, time.monotonic() - start,
                                         "  [" + detail + "]" if detail else ""), flush=True)
        if out:
            out.write("%s\t%d\t%s\t%s\t%s\n" % (verdict, m["line"], m["file"], m["pairs"][0][0],
                                                " ".join(killers) if verdict == "killed" else ""))
            out.flush()
    build(a.build, programs, a.jobs, log)
    print("killed %d, survived %d, did not build %d, of %d mutants" %
          (counts["killed"], counts["survived"], counts["no-build"], len(mutants)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
