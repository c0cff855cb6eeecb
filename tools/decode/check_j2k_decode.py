#!/usr/bin/python3
"""Checks the j2k_decode program from outside.

check_j2k_decode.py J2K_DECODE WORK_DIR

A handful of streams made with opj_compress (grey, signed 12-bit, tiled with an offset,
three components without a colour transform, RGB through the reversible and the
irreversible colour transform, irreversible grey, a JP2 file) decode to the same sample
values and dimensions as opj_decompress gives, whole, reduced and over a region, through
every kind of source; irreversible ones within 2 on 16-bit lines and, for the colour
transform, within 1 on 32-bit lines. The multi-component transform streams of
make_mct_streams.py decode to their expected outputs. Truncated and garbled streams end with exit status 0 or 1,
never a signal or a sanitizer report; inputs that cannot be decoded at all end with 1.
Every decode is repeated with worker threads (THREADED below): the PGX files are
byte-identical to the unthreaded ones, and damaged inputs end with the same status.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

SANITIZER_MARKS = (b"ERROR: AddressSanitizer", b"runtime error:", b"ERROR: LeakSanitizer")
THREADED = (["--threads", "3", "--double-buffer", "--stripe", "8"], ["--threads", "8"])


def read_pgx(path):
    with open(path, "rb") as f:
        data = f.read()
    end = data.index(b"\n")
    fields = data[:end].replace(b"+", b" + ").replace(b"-", b" - ").split()
    assert fields[0] == b"PG", path
    big = fields[1] == b"ML"
    signed = b"-" in fields
    nums = [int(x) for x in fields if x.isdigit()]
    depth, width, height = nums
    size = 1 if depth <= 8 else (2 if depth <= 16 else 4)
    body = data[end + 1:]
    samples = [int.from_bytes(body[i:i + size], "big" if big else "little", signed=signed)
               for i in range(0, width * height * size, size)]
    assert len(samples) == width * height, path
    return width, height, samples


def run(cmd, env=None):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                          timeout=120)


def same_when_threaded(j2k_decode, args, src, out, failures):
    """Decodes again with each THREADED option set; every OUT_k.pgx must come back equal."""
    folder, stem = os.path.split(out)
    plain = sorted(f for f in os.listdir(folder) if f.startswith(stem + "_") and f.endswith(".pgx"))
    for extra in THREADED:
        thr = out + "_thr"
        r = run([j2k_decode] + args + extra + [src, thr])
        if r.returncode != 0:
            failures.append("%s %s %s: exit %d: %s" % (os.path.basename(src), args, extra,
                                                       r.returncode, r.stderr[-300:]))
            continue
        for f in plain:
            mine = os.path.join(folder, f)
            theirs = thr + f[len(stem):]
            if not os.path.exists(theirs) or open(mine, "rb").read() != open(theirs, "rb").read():
                failures.append("%s %s %s: %s differs from the unthreaded decode"
                                % (os.path.basename(src), args, extra, f))
        for f in os.listdir(folder):
            if f.startswith(stem + "_thr"):
                os.remove(os.path.join(folder, f))


def make_streams(work):
    rng = random.Random(11)
    w, h = 61, 47
    grey = bytes((x * 3 + y * 5 + rng.randrange(32)) % 256 for y in range(h) for x in range(w))
    with open(os.path.join(work, "grey.pgm"), "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h) + grey)
    rgb = bytes((x * 7 + y * 3 + c * 50 + rng.randrange(16)) % 256
                for y in range(h) for x in range(w) for c in range(3))
    with open(os.path.join(work, "rgb.ppm"), "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + rgb)
    s12 = b"".join(((x * 37 + y * 11 + rng.randrange(64)) % 4096 - 2048).to_bytes(2, "big", signed=True)
                   for y in range(h) for x in range(w))
    with open(os.path.join(work, "s12.raw"), "wb") as f:
        f.write(s12)
    streams = {
        "grey.j2k": ["-i", "grey.pgm"],
        "tiled.j2k": ["-i", "grey.pgm", "-t", "32,24", "-T", "3,5", "-d", "3,5", "-n", "3"],
        "s12.j2k": ["-i", "s12.raw", "-F", "%d,%d,1,12,s" % (w, h), "-n", "4"],
        "rgb.j2k": ["-i", "rgb.ppm", "-mct", "0", "-p", "RPCL"],
        "rct.j2k": ["-i", "rgb.ppm", "-t", "32,32", "-n", "3"],
        "ict.j2k": ["-i", "rgb.ppm", "-I", "-n", "4"],
        "irr.j2k": ["-i", "grey.pgm", "-I"],
        "grey.jp2": ["-i", "grey.pgm", "-n", "3"],
    }
    for name, args in streams.items():
        subprocess.run(["opj_compress", "-o", name] + args, cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return list(streams)


def compare(j2k_decode, work, name, ours_args, opj_args, failures):
    src = os.path.join(work, name)
    ours = os.path.join(work, "ours")
    theirs = os.path.join(work, "theirs.pgx")
    for f in os.listdir(work):
        if f.startswith(("ours_", "theirs_")):
            os.remove(os.path.join(work, f))
    r = run([j2k_decode] + ours_args + [src, ours])
    if r.returncode != 0:
        failures.append("%s %s: exit %d: %s" % (name, ours_args, r.returncode, r.stderr[-300:]))
        return
    same_when_threaded(j2k_decode, ours_args, src, ours, failures)
    o = run(["opj_decompress", "-i", src, "-o", theirs] + opj_args)
    if o.returncode != 0:
        failures.append("%s: opj_decompress %s failed" % (name, opj_args))
        return
    k = 0
    while os.path.exists(os.path.join(work, "theirs_%d.pgx" % k)):
        mine = os.path.join(work, "ours_%d.pgx" % k)
        if not os.path.exists(mine):
            failures.append("%s %s: no component %d" % (name, ours_args, k))
            return
        a = read_pgx(os.path.join(work, "theirs_%d.pgx" % k))
        b = read_pgx(mine)
        if a != b:
            diff = "dims %s vs %s" % (a[:2], b[:2]) if a[:2] != b[:2] else \
                "peak %d" % max(abs(x - y) for x, y in zip(a[2], b[2]))
            # Irreversible streams may differ by 2 on 16-bit lines; the colour transform
            # by 1 on 32-bit lines.
            tol = 0
            if name.startswith("irr"):
                tol = 2
            elif name.startswith("ict"):
                tol = 1 if "--precise" in ours_args else 2
            if not (a[:2] == b[:2] and max(abs(x - y) for x, y in zip(a[2], b[2])) <= tol):
                failures.append("%s %s component %d: %s" % (name, ours_args, k, diff))
        k += 1
    if k == 0 or os.path.exists(os.path.join(work, "ours_%d.pgx" % k)):
        failures.append("%s %s: component count differs" % (name, ours_args))


def check_mct_streams(j2k_decode, work, failures):
    """Every multi-component transform case against its expected outputs."""
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    import make_mct_streams
    mct_dir = os.path.join(work, "mct")
    os.makedirs(mct_dir)
    make_mct_streams.make(mct_dir)
    cases = sorted(f[:-4] for f in os.listdir(mct_dir) if f.endswith(".exp"))
    print("%d multi-component transform cases" % len(cases))
    if len(cases) < 5:
        failures.append("mct: only %d cases written" % len(cases))
    for case in cases:
        with open(os.path.join(mct_dir, case + ".exp")) as f:
            n, w, h, tol = (int(v) for v in f.readline().split())
            expected = [[int(v) for v in f.readline().split()] for _ in range(n)]
        for extra in ([], ["--precise"]):
            out = os.path.join(mct_dir, "ours")
            r = run([j2k_decode] + extra + [os.path.join(mct_dir, case + ".j2k"), out])
            if r.returncode != 0:
                failures.append("%s %s: exit %d: %s" % (case, extra, r.returncode, r.stderr[-300:]))
                continue
            same_when_threaded(j2k_decode, extra, os.path.join(mct_dir, case + ".j2k"), out, failures)
            for c in range(n):
                path = "%s_%d.pgx" % (out, c)
                if not os.path.exists(path):
                    failures.append("%s %s: no output %d" % (case, extra, c))
                    break
                got = read_pgx(path)
                if got[:2] != (w, h):
                    failures.append("%s %s output %d: dims %s" % (case, extra, c, got[:2]))
                    continue
                peak = max(abs(x - y) for x, y in zip(got[2], expected[c]))
                if peak > tol:
                    failures.append("%s %s output %d: peak %d > %d" % (case, extra, c, peak, tol))
            if os.path.exists("%s_%d.pgx" % (out, n)):
                failures.append("%s %s: more than %d outputs" % (case, extra, n))
            for f in os.listdir(mct_dir):
                if f.startswith("ours_"):
                    os.remove(os.path.join(mct_dir, f))


def check_damaged(j2k_decode, work, failures):
    env = dict(os.environ)
    # A sanitizer finding must not pass for the ordinary failure status 1.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":exitcode=86"
    env["UBSAN_OPTIONS"] = env.get("UBSAN_OPTIONS", "") + ":exitcode=87"
    with open(os.path.join(work, "tiled.j2k"), "rb") as f:
        good = f.read()
    rng = random.Random(23)
    inputs = []
    # Cut inside the SIZ segment: nothing to decode.
    inputs += [("cut%d" % n, good[:n], True) for n in (0, 1, 2, 10, 30)]
    inputs.append(("not_a_codestream", b"hello, this is not a codestream" * 4, True))
    inputs += [("cut%d" % n, good[:n], False)
               for n in sorted(rng.sample(range(45, len(good)), 8))]
    for k in range(12):
        bad = bytearray(good)
        for _ in range(1 + k % 4):
            bad[rng.randrange(2, len(bad))] = rng.randrange(256)
        inputs.append(("garbled%d" % k, bytes(bad), False))
    for name, data, must_fail in inputs:
        path = os.path.join(work, "damaged.j2k")
        with open(path, "wb") as f:
            f.write(data)
        for extra in ([], ["--resilient"], ["--source", "sequential", "--precise"]):
            r = run([j2k_decode] + extra + [path, os.path.join(work, "dmg")], env)
            bad_report = any(m in r.stderr for m in SANITIZER_MARKS)
            if r.returncode not in (0, 1) or bad_report or (must_fail and r.returncode != 1):
                failures.append("%s %s: exit %d %s" % (name, extra, r.returncode,
                                                       r.stderr[-400:].decode(errors="replace")))
            for threads in THREADED:
                t = run([j2k_decode] + extra + threads + [path, os.path.join(work, "dmg_thr")], env)
                if t.returncode != r.returncode or any(m in t.stderr for m in SANITIZER_MARKS):
                    failures.append("%s %s %s: exit %d, unthreaded %d %s"
                                    % (name, extra, threads, t.returncode, r.returncode,
                                       t.stderr[-400:].decode(errors="replace")))


def tools_missing():
    """The outside decoders this check compares with: without them it is skipped (77, as
    CTest is told) or, under CI=true, failed."""
    missing = [t for t in ("opj_compress", "opj_decompress") if shutil.which(t) is None]
    if not missing:
        return None
    print("%s is not installed: it comes with the Debian package libopenjp2-tools (scripts/install-deps)"
          % ", ".join(missing), file=sys.stderr)
    return 1 if os.environ.get("CI") == "true" else 77


def main():
    status = tools_missing()
    if status is not None:
        return status
    j2k_decode = os.path.abspath(sys.argv[1])
    base = sys.argv[2]
    os.makedirs(base, exist_ok=True)
    work = tempfile.mkdtemp(prefix="j2k_decode_%d_" % os.getpid(), dir=base)
    failures = []
    try:
        for name in make_streams(work):
            compare(j2k_decode, work, name, [], [], failures)
            compare(j2k_decode, work, name, ["--reduce", "1", "--source", "seekable"],
                    ["-r", "1"], failures)
            compare(j2k_decode, work, name, ["--region", "7,9,40,30", "--source", "sequential"],
                    ["-d", "7,9,40,30"], failures)
        compare(j2k_decode, work, "grey.j2k", ["--layers", "1", "--precise", "--fussy"], ["-l", "1"],
                failures)
        compare(j2k_decode, work, "ict.j2k", ["--precise"], [], failures)
        compare(j2k_decode, work, "ict.j2k", ["--fastest"], [], failures)
        compare(j2k_decode, work, "rct.j2k", ["--precise", "--reduce", "2"], ["-r", "2"], failures)
        check_mct_streams(j2k_decode, work, failures)
        check_damaged(j2k_decode, work, failures)
        r = run([j2k_decode, "--reduce"])
        if r.returncode != 1 or b"usage" not in r.stderr:
            failures.append("a bad command line must give the usage and exit 1")
        r = run([j2k_decode, os.path.join(work, "missing.j2k"), os.path.join(work, "x")])
        if r.returncode != 1:
            failures.append("a missing input must exit 1")
        r = run([j2k_decode, "--region", "1000,1000,1010,1010", os.path.join(work, "grey.j2k"),
                 os.path.join(work, "x")])
        if r.returncode != 1 or b"region" not in r.stderr:
            failures.append("a region beside the image must exit 1 naming the region")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print("%d passed, %d failed" % (0 if failures else 1, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
