#!/usr/bin/env python3
"""Measures what the tests catch: applies each mutant of tools/mutants.txt in turn to a
Release build of its own, rebuilds incrementally, runs the test programs of the mutated
folder and prints whether the mutant was killed (a test failed, crashed or ran out of
time) or survived. Sources are always restored, also on an error or Ctrl-C.

    tools/mutation_check.py [--build DIR] [--jobs N] [--timeout S] [--only REGEX] [--out FILE]

A mutant line is  <file> @@ <text> @@ <replacement> [@@ <text> @@ <replacement> ...];
each text must occur exactly once in the file. Tests that fail before any mutation are
left out of every run, and named."""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Test programs that exercise each source folder (codec/jp2 also feeds the viewer's tests).
PROGRAMS = [
    ("codec/jp2/", ["tests_codec", "tests_R2IVuzi"]),
    ("codec/", ["tests_codec"]),
    ("R2IVuzi/", ["tests_R2IVuzi"]),
    ("xpath/", ["tests_xpath"]),
    ("image/", ["tests_image"]),
    ("imagelib/", ["tests_imagelib"]),
    ("annotation/", ["tests_annotation"]),
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
    """Runs one test program split into `jobs` shards; returns (passed, failed test names, timed out).
    The first failing shard ends the run unless `every` asks for every failing test."""
    exe = program_path(build_dir, name)
    args = [exe, "--gtest_brief=1"]
    if excluded:
        args.append("--gtest_filter=-" + ":".join(excluded))
    env = dict(os.environ, GTEST_TOTAL_SHARDS=str(jobs),
               ASAN_OPTIONS="detect_leaks=0")
    procs = []
    for k in range(jobs):
        e = dict(env, GTEST_SHARD_INDEX=str(k))
        procs.append(subprocess.Popen(args, cwd=os.path.dirname(exe), env=e, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, text=True, start_new_session=True))
    deadline = time.monotonic() + timeout
    failed, timed_out, outputs = False, False, [""] * jobs
    pending = set(range(jobs))
    while pending:
        for k in list(pending):
            if procs[k].poll() is not None:
                outputs[k] = procs[k].stdout.read()
                pending.discard(k)
                if procs[k].returncode != 0:
                    failed = True
        if (failed and not every) or time.monotonic() > deadline:
            timed_out = not failed
            break
        time.sleep(0.05)
    for k in pending:
        try:
            os.killpg(procs[k].pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        procs[k].wait()
    names = sorted(set(re.findall(r"^\[  FAILED  \] ([\w/.]+)", "".join(outputs), re.M)))
    for k in range(jobs):
        if procs[k].returncode not in (0, 1, -signal.SIGKILL):
            names.append("%s:shard%d:exit%d" % (name, k, procs[k].returncode))
    return not failed and not timed_out, names, timed_out


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
        start = time.monotonic()
        ok, names, _ = run_program(a.build, p, a.jobs, 3600, [])
        took = time.monotonic() - start
        excluded[p] = names
        limits[p] = a.timeout or max(30.0, 3 * took)
        print("clean run of %s: %.0f s%s" % (p, took, "" if ok else ", failing already: " + " ".join(names)),
              flush=True)

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
                        killers += ["timeout in " + p] if timed_out else names or [p]
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
