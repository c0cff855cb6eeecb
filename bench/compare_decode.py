#!/usr/bin/python3
"""Times j2k_decode beside opj_decompress and grk_decompress (one thread each) in the same run.

compare_decode.py [--build DIR] [--work DIR] [--quick] [--pairs N] [--baseline BIN]
compare_decode.py --make-streams DIR [--quick | --colour-only]

Images come from a fixed-seed generator: a CT-like 512x512 12-bit phantom of ellipses
with noise of about 15 levels, and a DX-like 2048x2048 12-bit image of smooth blobs with
noise. Each is encoded with opj_compress defaults (5/3 lossless, 6 resolutions, 64x64
blocks, one layer), with -n 1 (block decoding dominates) and with -I -r 20. Every case
(full, -r 2 where there are levels to discard, and a region: 1024x1024 of the DX
image, 256x256 of the CT one) runs
`j2k_decode --reduce R [--region] IN OUT`, `opj_decompress -threads 1 -r R [-d] -i IN
-o OUT.pgx` and `grk_decompress -H 1 -r R [-d] -i IN -o OUT.pgx` in turn: one warm-up
each, then N rounds (at least 5). Printed per case: samples, the median wall times,
megasamples per second, the medians of opj's and grk's time over ours (above 1: ours is
faster), and bench_decode's in-process rate for the same case. grk_decompress is left
out when it is not installed.
Colour (full mode only): an RGB 2048x2048 8-bit scene of value noise and sharp-edged
disks, encoded with opj_compress defaults (reversible colour transform, lossless) and
with -I -r 384,192,96,48,24 (9/7, five layers), full, -r 2 and a 1024x1024 region;
samples count every component (3 per pixel).
Tall (full mode only): a 200x1000000 RGB 8-bit image of smooth colour waves, encoded with
-I -r 20, decoded whole in two rounds; the table's peak-memory columns (maximum resident
set of each program, in MB, from one extra run under /usr/bin/time) show what each holds
of an image whose PGX files take 600 MB. Decoded files go to /dev/shm when it exists.
Reduced (what the viewer does with a large image fitted to its window): an RGB 4096x4096
8-bit scene made as the colour one, encoded 9/7 with four layers (-r 80,40,20,10),
256x256 precincts (-c [256,256]: 16x16 precincts at every level) in LRCP order, decoded
at -r 2 and -r 3 only. Every packet of the discarded levels is still walked past.
--quick (for CI) keeps the CT image, the reduced cases on a 1024x1024 image with 64x64
precincts (the same 16x16 precincts per level), three pairs, and asserts nothing.
--baseline BIN times another j2k_decode (an earlier build, say) in the same rotation and
adds its median time and its time over ours; its output must equal ours byte for byte.

compare_decode.py --threads 1,2,4,8 [--build DIR] [--work DIR] [--rounds N]
times the full decodes of dx2048_lossless, dx2048_irr, rgb2048_lossless and rgb2048_irr5
with each thread count: `j2k_decode --threads N --double-buffer`, `opj_decompress
-threads N` and `grk_decompress -H N` in turn, one warm-up each, then N rounds (at least
5). Every one of our outputs must be byte-identical to our one-thread output. Printed:
the medians, our speed-up over our one-thread run, opj's and grk's time over ours, the
one-minute load average after each row, and the processor count. --baseline BIN adds an
earlier j2k_decode to the rotation (its median and speed-up; its outputs must equal ours). --quick adds
ct512_lossless at 1 and 2 threads after its table.
"""
import argparse
import json
import math
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DEPTH = 12
TOP = (1 << DEPTH) - 1


def pgm16(width, height, rows):
    head = b"P5\n%d %d\n%d\n" % (width, height, TOP)
    return head + b"".join(b"".join(v.to_bytes(2, "big") for v in row) for row in rows)


def clip(v):
    return 0 if v < 0 else (TOP if v > TOP else v)


def ct_phantom(size=512, seed=1):
    """Nested ellipses of tissue-like values on air, with noise of about 15 levels."""
    rng = random.Random(seed)
    # (centre x, centre y, half-axis x, half-axis y, value added), in units of the size.
    ellipses = [(0.5, 0.5, 0.42, 0.36, 1040), (0.5, 0.5, 0.39, 0.33, -60),
                (0.36, 0.45, 0.09, 0.16, -700), (0.64, 0.45, 0.09, 0.16, -700),
                (0.5, 0.66, 0.07, 0.05, 180), (0.42, 0.3, 0.03, 0.03, 400),
                (0.58, 0.3, 0.04, 0.02, 350), (0.5, 0.5, 0.025, 0.025, 900)]
    rows = []
    for y in range(size):
        fy = (y + 0.5) / size
        row = [0.0] * size
        for cx, cy, ax, ay, value in ellipses:
            dy = (fy - cy) / ay
            if abs(dy) >= 1:
                continue
            half = ax * math.sqrt(1 - dy * dy) * size
            x0 = max(0, int(cx * size - half + 0.5))
            x1 = min(size, int(cx * size + half + 0.5))
            for x in range(x0, x1):
                row[x] += value
        rows.append([clip(int(v + rng.gauss(0, 15) + 0.5)) for v in row])
    return rows


def dx_blobs(size=2048, seed=2, grid=64):
    """Smooth blobs on a gradient, interpolated from a coarse grid, with noise."""
    rng = random.Random(seed)
    blobs = [(rng.random(), rng.random(), 0.05 + 0.2 * rng.random(), rng.uniform(-900, 1400))
             for _ in range(24)]
    n = grid + 1
    coarse = []
    for j in range(n):
        fy = j / grid
        line = []
        for i in range(n):
            fx = i / grid
            v = 1200 + 900 * fx - 400 * fy
            for bx, by, r, a in blobs:
                v += a * math.exp(-((fx - bx) ** 2 + (fy - by) ** 2) / (r * r))
            line.append(v)
        coarse.append(line)
    step = size // grid
    rows = []
    for y in range(size):
        j, t = divmod(y, step)
        t /= step
        top, bottom = coarse[j], coarse[min(j + 1, grid)]
        line = [top[i] + (bottom[i] - top[i]) * t for i in range(n)]
        row = []
        for i in range(grid):
            a, d = line[i], (line[i + 1] - line[i]) / step
            row.extend(a + d * k for k in range(step))
        rows.append([clip(int(v + rng.gauss(0, 12) + 0.5)) for v in row])
    return rows


def value_noise_rows(size, cell, rng, amp):
    """Bilinear value noise on a grid of `cell` pixels: yields one row (list) at a time."""
    n = size // cell + 2
    grid = [[rng.uniform(-amp, amp) for _ in range(n)] for _ in range(n)]
    for y in range(size):
        j, t = divmod(y, cell)
        t /= cell
        top, bottom = grid[j], grid[j + 1]
        line = [a + (b - a) * t for a, b in zip(top, bottom)]
        row = []
        for i in range(size // cell):
            a, d = line[i], (line[i + 1] - line[i]) / cell
            row.extend([a + d * k for k in range(cell)])
        yield row


def rgb_scene(size=2048, seed=3):
    """RGB rows as bytes: a few octaves of value noise for texture, a slow colour cast,
    sharp-edged disks of flat colour carrying some of the texture, and fine grain."""
    rng = random.Random(seed)
    scale = size / 2048
    octaves = [value_noise_rows(size, max(2, int(c * scale)), rng, a)
               for c, a in ((256, 60), (64, 30), (16, 14), (4, 6))]
    cast = value_noise_rows(size, max(2, int(512 * scale)), rng, 40)
    disks = []
    for _ in range(48):
        r = size * (0.01 + 0.1 * rng.random())
        disks.append((rng.random() * size, rng.random() * size, r,
                      (rng.randrange(256), rng.randrange(256), rng.randrange(256))))
    for y in range(size):
        lum = [128 + a + b + c + d for a, b, c, d in zip(*(next(o) for o in octaves))]
        tint = next(cast)
        chans = [[l + t for l, t in zip(lum, tint)], lum[:], [l - t for l, t in zip(lum, tint)]]
        for cx, cy, r, colour in disks:
            dy = y + 0.5 - cy
            if abs(dy) >= r:
                continue
            half = (r * r - dy * dy) ** 0.5
            x0, x1 = max(0, int(cx - half + 0.5)), min(size, int(cx + half + 0.5))
            if x0 >= x1:
                continue
            for ch, base in zip(chans, colour):
                ch[x0:x1] = [base + 0.3 * (v - 128) for v in lum[x0:x1]]
        out = bytearray(3 * size)
        for c, ch in enumerate(chans):
            grain = rng.randbytes(size)
            out[c::3] = bytes(0 if v < 0 else (255 if v > 255 else int(v))
                              for v in (s + (g & 15) - 7.5 for s, g in zip(ch, grain)))
        yield bytes(out)


def tall_rows(width=200, height=1000000):
    """RGB rows as bytes: 256 rows of smooth colour waves, repeated down the image."""
    base = []
    for k in range(256):
        row = bytearray(3 * width)
        for x in range(width):
            for c in range(3):
                row[3 * x + c] = int(128 + 90 * math.sin((x * (c + 1) + 3 * k) / 40.0) * math.cos(k / 41.0 + c))
        base.append(bytes(row))
    for y in range(height):
        yield base[y % 256]


ENCODINGS = [("lossless", []), ("n1", ["-n", "1"]), ("irr", ["-I", "-r", "20"])]
# Colour: reversible colour transform (opj_compress defaults), and 9/7 with five layers.
COLOUR_ENCODINGS = [("lossless", []), ("irr5", ["-I", "-r", "384,192,96,48,24"])]
# Reduced: 9/7, four layers, LRCP, precincts of a sixteenth of the image side.
REDUCED_LEVELS = (2, 3)


def reduced_args(size):
    side = size // 16
    return ["-I", "-r", "80,40,20,10", "-c", "[%d,%d]" % (side, side), "-p", "LRCP"]


def encode(source, path, args):
    if not os.path.exists(path):
        subprocess.run(["opj_compress", "-i", source, "-o", path + ".tmp.j2k"] + args,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.replace(path + ".tmp.j2k", path)


def rgb_ppm(work, size):
    name = "rgb%d" % size
    ppm = os.path.join(work, name + ".ppm")
    if not os.path.exists(ppm):
        with open(ppm + ".tmp", "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (size, size))
            for row in rgb_scene(size):
                f.write(row)
        os.replace(ppm + ".tmp", ppm)
    return name, ppm


def reduced_stream(work, size):
    """The LRCP stream with 16x16 precincts per level, decoded only at reduced resolutions."""
    name, ppm = rgb_ppm(work, size)
    stream = "%s_lrcp4" % name
    path = os.path.join(work, stream + ".j2k")
    encode(ppm, path, reduced_args(size))
    return (name, size, stream, path)


def make_streams(work, quick, colour_only=False):
    """Returns [(image name, size, stream name, path)]."""
    os.makedirs(work, exist_ok=True)
    images = [] if colour_only else [("ct512", 512, ct_phantom)]
    if not quick and not colour_only:
        images.append(("dx2048", 2048, dx_blobs))
    out = []
    for name, size, make in images:
        pgm = os.path.join(work, name + ".pgm")
        if not os.path.exists(pgm):
            with open(pgm + ".tmp", "wb") as f:
                f.write(pgm16(size, size, make()))
            os.replace(pgm + ".tmp", pgm)
        for enc, args in (ENCODINGS[:1] if quick else ENCODINGS):
            stream = "%s_%s" % (name, enc)
            path = os.path.join(work, stream + ".j2k")
            encode(pgm, path, args)
            out.append((name, size, stream, path))
    if quick and not colour_only:
        out.append(reduced_stream(work, 1024))
        return out
    size = 2048
    name, ppm = rgb_ppm(work, size)
    for enc, args in COLOUR_ENCODINGS:
        stream = "%s_%s" % (name, enc)
        path = os.path.join(work, stream + ".j2k")
        encode(ppm, path, args)
        out.append((name, size, stream, path))
    if colour_only:
        return out
    out.append(reduced_stream(work, 4096))
    path = os.path.join(work, "tall200x1000000_irr.j2k")
    if not os.path.exists(path):
        ppm = os.path.join(work, "tall.ppm")
        with open(ppm + ".tmp", "wb") as f:
            f.write(b"P6\n200 1000000\n255\n")
            for row in tall_rows():
                f.write(row)
        os.replace(ppm + ".tmp", ppm)
        encode(ppm, path, ["-I", "-r", "20"])
        os.remove(ppm)  # 600 MB
    out.append(("tall", 200, "tall200x1000000_irr", path))
    return out


def cases_for(streams):
    cases = []
    for name, size, stream, path in streams:
        if stream.endswith("_lrcp4"):
            cases.extend(("%s r%d" % (stream, r), path, r, None) for r in REDUCED_LEVELS)
            continue
        cases.append(("%s full" % stream, path, 0, None))
        if name == "tall":
            continue
        if not stream.endswith("_n1"):  # no levels to discard
            cases.append(("%s r2" % stream, path, 2, None))
        side = 1024 if size >= 2048 else 256
        x0 = (size - side) // 2
        cases.append(("%s region%d" % (stream, side), path, 0, (x0, x0, x0 + side, x0 + side)))
    return cases


PEAK_KB = {}  # program as run -> largest resident set of its runs in the current case


def timed(cmd):
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = p.stderr.read()
    _, status, _ = os.wait4(p.pid, 0)
    t = time.perf_counter() - t0
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), err.decode(errors="replace")))
    return t


def measure_peak(cmd):
    """Records the program's largest resident set in PEAK_KB, keyed by the path as given (a
    baseline j2k_decode is kept apart from ours). A child forked from this script carries
    the script's own resident set into its high-water mark across exec, so the program runs
    under /usr/bin/time, whose fork is small; without it the column shows 0."""
    if not os.path.exists("/usr/bin/time"):
        return
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    if r.returncode == 0:
        kb = int(r.stderr.decode(errors="replace").split()[-1])
        PEAK_KB[cmd[0]] = max(PEAK_KB.get(cmd[0], 0), kb)


def output_dir(work, prefix):
    """A scratch folder for the decoded files. In memory when /dev/shm is there: rewriting a
    file on the disk makes the file system flush it at close, a wait that is no decoder's
    work and that every program would pay alike."""
    shm = "/dev/shm"
    base = shm if os.path.isdir(shm) and os.access(shm, os.W_OK) else work
    return tempfile.mkdtemp(prefix=prefix, dir=base)


def pgx_samples(stem):
    """Samples over every component file STEM_<c>.pgx."""
    total, c = 0, 0
    while os.path.exists("%s_%d.pgx" % (stem, c)):
        with open("%s_%d.pgx" % (stem, c), "rb") as f:
            head = f.readline().replace(b"+", b" ").replace(b"-", b" ").split()
        total += int(head[-2]) * int(head[-1])
        c += 1
    return total


def bench_rates(bench, cases, work):
    """In-process megasamples per second per case label, from bench_decode."""
    if not bench or not os.path.exists(bench):
        return {}
    spec = ";".join("%s|%s|%d|%s" % (label.replace(" ", "_"), path, r,
                                     ",".join(map(str, region)) if region else "-")
                    for label, path, r, region in cases)
    env = dict(os.environ, ORBEL_BENCH_DECODE=spec)
    r = subprocess.run([bench, "--benchmark_format=json", "--benchmark_min_time=0.2"],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    if r.returncode != 0:
        return {}
    rates = {}
    for b in json.loads(r.stdout).get("benchmarks", []):
        label = b["name"].split("/", 1)[1] if "/" in b["name"] else b["name"]
        if "MS/s" in b:
            rates[label] = b["MS/s"]
    return rates


def grk_available():
    return any(os.access(os.path.join(d, "grk_decompress"), os.X_OK)
               for d in os.environ.get("PATH", "/usr/bin:/bin").split(":") if d)


def same_outputs(stem_a, stem_b):
    c = 0
    while os.path.exists("%s_%d.pgx" % (stem_a, c)):
        with open("%s_%d.pgx" % (stem_a, c), "rb") as f, open("%s_%d.pgx" % (stem_b, c), "rb") as g:
            if f.read() != g.read():
                return False
        c += 1
    return c > 0 and not os.path.exists("%s_%d.pgx" % (stem_b, c))


def thread_table(ours_bin, streams, counts, rounds, out_dir, baseline=None):
    """Full decodes with each thread count, ours beside opj_decompress and grk_decompress
    (and an earlier j2k_decode when given, whose outputs must equal ours)."""
    cores = len(os.sched_getaffinity(0))
    grk = grk_available()
    base_head = " %9s %8s" % ("base ms", "base s-u") if baseline else ""
    print("%-18s %3s %9s %9s %9s %8s %8s %8s%s %6s" % ("stream", "N", "ours ms", "opj ms", "grk ms",
                                                      "speed-up", "opj/ours", "grk/ours",
                                                      base_head, "load"))
    ok = True
    for stream, path in streams:
        base_stem = os.path.join(out_dir, "base")
        timed([ours_bin, "--threads", "1", path, base_stem])
        one = base_one = None
        for n in counts:
            stem = os.path.join(out_dir, "ours%d" % n)
            ours = [ours_bin, "--threads", str(n), "--double-buffer", path, stem]
            opj = ["opj_decompress", "-threads", str(n), "-i", path, "-o",
                   os.path.join(out_dir, "opj.pgx")]
            grk_cmd = ["grk_decompress", "-H", str(n), "-i", path, "-o",
                       os.path.join(out_dir, "grk.pgx")]
            cmds = [ours, opj] + ([grk_cmd] if grk else [])
            if baseline:
                cmds.append([baseline, "--threads", str(n), "--double-buffer", path,
                             os.path.join(out_dir, "earlier%d" % n)])
            for c in cmds:  # warm-up
                timed(c)
            times = [[] for _ in cmds]
            for _ in range(rounds):
                for k, c in enumerate(cmds):
                    times[k].append(timed(c))
            if not same_outputs(base_stem, stem):
                print("FAIL: %s with %d threads differs from the one-thread output" % (stream, n))
                ok = False
            if baseline and not same_outputs(base_stem, os.path.join(out_dir, "earlier%d" % n)):
                print("FAIL: %s with %d threads: the baseline's output differs from ours" % (stream, n))
                ok = False
            med = [statistics.median(t) for t in times]
            if n == 1:
                one = med[0]
                base_one = med[-1] if baseline else None
            speed = "%.2f" % (one / med[0]) if one else "-"
            grk_ms = "%9.1f" % (med[2] * 1e3) if grk else "%9s" % "-"
            grk_ratio = "%8.2f" % (med[2] / med[0]) if grk else "%8s" % "-"
            base_cols = ""
            if baseline:
                base_cols = " %9.1f %8s" % (med[-1] * 1e3,
                                            "%.2f" % (base_one / med[-1]) if base_one else "-")
            # Other work on the machine takes processors from every program alike; the
            # one-minute load average when the row was timed says how much.
            print("%-18s %3d %9.1f %9.1f %s %8s %8.2f %s%s %6.1f" % (stream, n, med[0] * 1e3,
                                                                    med[1] * 1e3, grk_ms, speed,
                                                                    med[1] / med[0], grk_ratio,
                                                                    base_cols,
                                                                    os.getloadavg()[0]))
            for f in os.listdir(out_dir):
                if f.startswith(("ours%d_" % n, "earlier%d_" % n, "opj", "grk")):
                    os.remove(os.path.join(out_dir, f))
        for f in os.listdir(out_dir):
            os.remove(os.path.join(out_dir, f))
    note = "" if cores >= 8 else " (this machine has fewer than 8: the speed-up target does not apply)"
    print("%d processors%s; targets at 8 threads: our time at most half of opj's, our speed-up "
          "at least 5 on 8 processors" % (cores, note))
    return ok


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-plain"))
    ap.add_argument("--work", default=None)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--pairs", type=int, default=5)
    ap.add_argument("--make-streams", metavar="DIR")
    ap.add_argument("--colour-only", action="store_true", help="with --make-streams")
    ap.add_argument("--threads", metavar="LIST", help="thread counts, e.g. 1,2,4,8")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--baseline", metavar="BIN", help="an earlier j2k_decode, timed beside ours")
    a = ap.parse_args()
    if a.make_streams:
        for _, _, stream, path in make_streams(a.make_streams, a.quick, a.colour_only):
            print(path)
        return 0
    work = a.work or os.path.join(a.build, "compare_decode")
    ours_bin = os.path.join(a.build, "tools", "decode", "j2k_decode")
    if a.threads:
        counts = [int(v) for v in a.threads.split(",")]
        wanted = ["dx2048_lossless", "dx2048_irr", "rgb2048_lossless", "rgb2048_irr5"]
        found = {stream: path for _, _, stream, path in make_streams(work, False)}
        out_dir = output_dir(work, "threads_%d_" % os.getpid())
        ok = thread_table(ours_bin, [(s, found[s]) for s in wanted], counts, max(5, a.rounds),
                          out_dir, a.baseline)
        os.rmdir(out_dir)
        return 0 if ok else 1
    streams = make_streams(work, a.quick)
    pairs = 3 if a.quick else max(5, a.pairs)
    bench_bin = os.path.join(a.build, "bench", "bench_decode")
    cases = cases_for(streams)
    # bench_decode gathers whole images in memory: not the tall one.
    rates = bench_rates(bench_bin, [c for c in cases if not c[0].startswith("tall")], work)
    out_dir = output_dir(work, "compare_%d_" % os.getpid())
    have_grk = shutil.which("grk_decompress") is not None
    print("%-28s %10s %8s %8s %8s %8s %8s %6s %6s %6s %6s %9s%s" % (
        "case", "samples", "opj ms", "grk ms", "ours ms", "opj MS/s", "our MS/s", "opj/us", "grk/us",
        "opj MB", "our MB", "bench MS/s", " %8s %7s" % ("base ms", "base/us") if a.baseline else ""))
    worst = worst_grk = None
    for label, path, r, region in cases:
        ours = [ours_bin, "--reduce", str(r)]
        opj = ["opj_decompress", "-threads", "1", "-r", str(r), "-i", path,
               "-o", os.path.join(out_dir, "opj.pgx")]
        grk = ["grk_decompress", "-H", "1", "-r", str(r), "-i", path,
               "-o", os.path.join(out_dir, "grk.pgx")]
        if region:
            ours += ["--region", "%d,%d,%d,%d" % region]
            opj += ["-d", "%d,%d,%d,%d" % region]
            grk += ["-d", "%d,%d,%d,%d" % region]
        ours += [path, os.path.join(out_dir, "ours")]
        for f in os.listdir(out_dir):  # no component files left from the case before
            os.remove(os.path.join(out_dir, f))
        others = [opj, grk] if have_grk else [opj]
        if a.baseline:
            # Last, so that the opj and grk columns stay others[0] and others[1].
            base = [a.baseline] + ours[1:-1] + [os.path.join(out_dir, "base")]
            others.append(base)
        tall = label.startswith("tall")
        PEAK_KB.clear()
        for cmd in [ours] + others:  # also the warm-up
            measure_peak(cmd)
        t_ours, t_other, ratios = [], [[] for _ in others], [[] for _ in others]
        for _ in range(2 if tall else pairs):
            a_t = timed(ours)
            t_ours.append(a_t)
            for k, cmd in enumerate(others):
                b_t = timed(cmd)
                t_other[k].append(b_t)
                ratios[k].append(b_t / a_t)
        samples = pgx_samples(os.path.join(out_dir, "ours"))
        mo = statistics.median(t_ours)
        mp = statistics.median(t_other[0])
        ratio = statistics.median(ratios[0])
        worst = ratio if worst is None else min(worst, ratio)
        grk_ms = grk_ratio = "-"
        if have_grk:
            g = statistics.median(ratios[1])
            grk_ms = "%.1f" % (statistics.median(t_other[1]) * 1e3)
            grk_ratio = "%.2f" % g
            if r == 0 and not region:
                worst_grk = g if worst_grk is None else min(worst_grk, g)
        bench = rates.get(label.replace(" ", "_"))
        base_cols = ""
        if a.baseline:
            if not same_outputs(os.path.join(out_dir, "ours"), os.path.join(out_dir, "base")):
                raise RuntimeError("%s: the baseline's output differs from ours" % label)
            base_cols = " %8.1f %7.2f" % (statistics.median(t_other[-1]) * 1e3, statistics.median(ratios[-1]))
        print("%-28s %10d %8.1f %8s %8.1f %8.2f %8.2f %6.2f %6s %6.0f %6.0f %9s%s" % (
            label, samples, mp * 1e3, grk_ms, mo * 1e3, samples / mp / 1e6, samples / mo / 1e6, ratio,
            grk_ratio, PEAK_KB.get("opj_decompress", 0) / 1024.0,
            PEAK_KB.get(ours_bin, 0) / 1024.0, "%.2f" % bench if bench else "-",
            base_cols), flush=True)
    print("worst opj ratio %.2f (target: at least 2.0 on every case, one thread)" % worst)
    if worst_grk is not None:
        print("worst grk ratio at full resolution %.2f (target: at least 1.3)" % worst_grk)
    try:
        print("load average: %.2f %.2f %.2f" % os.getloadavg())
    except OSError:
        pass
    for f in os.listdir(out_dir):
        os.remove(os.path.join(out_dir, f))
    ok = True
    if a.quick:
        ct = [(stream, path) for _, _, stream, path in streams if stream == "ct512_lossless"]
        ok = thread_table(ours_bin, ct, [1, 2], 3, out_dir)
    os.rmdir(out_dir)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
