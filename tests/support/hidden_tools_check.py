"""Runs a GoogleTest program as a fresh clone without the second decoders would: opj_* and
grk_* hidden from the PATH, in an empty working folder (so no fixture made earlier with
the tools present is found). With CI unset every test the filter picks must pass or skip,
and a skip must name the missing tool; under CI=true each of those skips must fail instead,
naming the tool, and nothing else may change.

  hidden_tools_check.py PROGRAM FILTER [MIN_SKIPS]

MIN_SKIPS (default 1): the fewest tests that must need the tools, so a filter that stops
matching them is noticed."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HIDDEN = re.compile(r"^(opj_|grk_)")
END = re.compile(r"^\[ +(OK|SKIPPED|FAILED) +\] (\S+)")


def path_without_tools(folder):
    """A folder of links to every program on the PATH except the hidden ones."""
    seen = set()
    for entry in os.environ.get("PATH", "/usr/bin:/bin").split(os.pathsep):
        if not os.path.isdir(entry):
            continue
        for name in os.listdir(entry):
            full = os.path.join(entry, name)
            if name in seen or HIDDEN.match(name) or not os.access(full, os.X_OK) or os.path.isdir(full):
                continue
            seen.add(name)
            os.symlink(full, os.path.join(folder, name))
    return folder


def run(program, test_filter, ci, bin_folder):
    """Each test's outcome and output, from a run in a new empty folder."""
    env = dict(os.environ, PATH=bin_folder)
    env.pop("CI", None)
    env.pop("ORBEL_FIXTURE_DIR", None)
    env.pop("GTEST_SHARD_INDEX", None)
    env.pop("GTEST_TOTAL_SHARDS", None)
    if ci:
        env["CI"] = "true"
    with tempfile.TemporaryDirectory() as work:
        done = subprocess.run([program, "--gtest_filter=" + test_filter], cwd=work, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=1200)
    outcomes, lines = {}, []
    for line in done.stdout.splitlines():
        if line.startswith("[==========]") and line.rstrip().endswith(")") and " ran. (" in line:
            break  # the summary lists the tests again
        m = END.match(line)
        if m and m.group(2) not in outcomes:
            outcomes[m.group(2)] = (m.group(1), "\n".join(lines))
            lines = []
        elif line.startswith("[ RUN      ]"):
            lines = []
        else:
            lines.append(line)
    return done.returncode, outcomes, done.stdout


def main():
    program, test_filter = os.path.abspath(sys.argv[1]), sys.argv[2]
    min_skips = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    problems = []
    with tempfile.TemporaryDirectory() as folder:
        bin_folder = os.path.join(folder, "bin")
        os.mkdir(bin_folder)
        path_without_tools(bin_folder)
        status, plain, text = run(program, test_filter, False, bin_folder)
        skipped = sorted(t for t, (result, _) in plain.items() if result == "SKIPPED")
        if status != 0 or any(result == "FAILED" for result, _ in plain.values()):
            problems.append("with CI unset, tests failed:\n" + "\n".join(
                "  %s\n%s" % (t, out) for t, (result, out) in sorted(plain.items()) if result == "FAILED")
                            + ("" if plain else "\n" + text[-2000:]))
        for t in skipped:
            if not re.search(r"\b(opj|grk)_\w+", plain[t][1]):
                problems.append("%s skipped without naming the missing tool:\n%s" % (t, plain[t][1]))
        if len(skipped) < min_skips:
            problems.append("only %d tests skipped without the tools, at least %d need them" % (len(skipped),
                                                                                                 min_skips))
        status, strict, text = run(program, test_filter, True, bin_folder)
        if status == 0 and skipped:
            problems.append("under CI=true the run passed although %d tests lack their tool" % len(skipped))
        for t, (result, out) in sorted(plain.items()):
            want = "FAILED" if result == "SKIPPED" else result
            got, out = strict.get(t, ("missing", ""))
            if got != want:
                problems.append("%s under CI=true: %s, expected %s" % (t, got, want))
            elif want == "FAILED" and result == "SKIPPED" and not re.search(r"\b(opj|grk)_\w+", out):
                problems.append("%s failed under CI=true without naming the missing tool:\n%s" % (t, out))
    print("%d tests, %d need opj_*/grk_*: skipped with CI unset, failed under CI=true" % (len(plain), len(skipped)))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
