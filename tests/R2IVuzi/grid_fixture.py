#!/usr/bin/env python3
"""Images the grid tests show, and opj_decompress's decodes of them.

  grid_fixture.py OUTDIR

Writes OUTDIR/<p_s_r_i>_1.jp2 for the images of a make_pssi.py document with one series
(the server's names), and OUTDIR/<name>_r<L>.pgx (grey) or .ppm (colour) at levels 0 to 2:

  1_1_1_1  8-bit grey         1_1_1_4  16-bit grey reaching 65535
  1_1_1_2  12-bit unsigned    1_1_1_5  8-bit RGB
  1_1_1_3  12-bit signed      1_1_1_6  8-bit signed, 251 x 197 placed at (13, 11)
  1_1_1_7  4-bit unsigned     1_1_1_8  image 1 with a header naming three channels

Fields are smooth ramps with seeded noise, coded lossless in several layers.
"""
import fcntl
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from region_fixture import box, boxes  # noqa: E402

QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
W, H = 512, 384
ARGS = ["-n", "5", "-t", "128,128", "-c", "[64,64]", "-r", "20,5,1", "-PLT"]


def field(w, h, lo, hi, seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w].astype(np.float64)
    base = 0.5 + 0.35 * np.sin(x / 37.0) * np.cos(y / 23.0) + 0.15 * (x / w - y / h)
    v = lo + (hi - lo) * np.clip(base + rng.normal(0, 0.04, (h, w)), 0, 1)
    return np.rint(v).astype(np.int64)


def write(out, name, planes, bits, signed, extra=()):
    h, w = planes[0].shape
    raw = os.path.join(out, name + ".raw")
    dtype = (">i2" if signed else ">u2") if bits > 8 else ("i1" if signed else "u1")
    with open(raw, "wb") as f:
        for p in planes:
            f.write(p.astype(dtype).tobytes())
    comp = ",".join(["%d,%s@1x1" % (bits, "s" if signed else "u")] * len(planes))
    path = os.path.join(out, name + "_1.jp2")
    fmt = "%d,%d,%d,%s" % (w, h, len(planes), comp)
    subprocess.run(["opj_compress", "-i", raw, "-F", fmt, "-o", path] + ARGS + list(extra), check=True, **QUIET)
    os.remove(raw)
    for level in (0, 1, 2):
        ext = ".ppm" if len(planes) == 3 else ".pgx"
        with tempfile.TemporaryDirectory(dir=out) as tmp:
            subprocess.run(["opj_decompress", "-i", path, "-o", os.path.join(tmp, "ref" + ext), "-r", str(level)],
                           check=True, **QUIET)
            made = [f for f in os.listdir(tmp)]
            os.replace(os.path.join(tmp, made[0]), os.path.join(out, "%s_r%d%s" % (name, level, ext)))


def make_once(out, make):
    """CTest runs each test in a process of its own, several at once: the first makes the
    folder under the lock, the others wait and find it done."""
    os.makedirs(out, exist_ok=True)
    with open(out + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        done = os.path.join(out, "done")
        if not os.path.exists(done):
            make(out)
            open(done, "w").close()


def main():
    make_once(sys.argv[1], make)


def make(out):
    g16 = field(W, H, 0, 65535, 4)
    g16[0, 0] = 65535
    write(out, "1_1_1_1", [field(W, H, 0, 255, 1)], 8, False)
    write(out, "1_1_1_2", [field(W, H, 0, 4095, 2)], 12, False)
    write(out, "1_1_1_3", [field(W, H, -2048, 2047, 3)], 12, True)
    write(out, "1_1_1_4", [g16], 16, False)
    write(out, "1_1_1_5", [field(W, H, 0, 255, 5 + c) for c in range(3)], 8, False)
    write(out, "1_1_1_6", [field(251, 197, -128, 127, 8)], 8, True, ["-d", "11,13"])
    write(out, "1_1_1_7", [field(W, H, 0, 15, 9)], 4, False)
    with open(os.path.join(out, "1_1_1_1_1.jp2"), "rb") as f:
        data = f.read()
    made = b""
    for kind, body in boxes(data):
        if kind == b"jp2h":
            subs = [(k, b[:8] + struct.pack(">H", 3) + b[10:] if k == b"ihdr" else
                     bytes((1, 0, 0)) + struct.pack(">I", 16) if k == b"colr" else b) for k, b in boxes(body)]
            body = b"".join(box(k, b) for k, b in subs)
        made += box(kind, body)
    with open(os.path.join(out, "1_1_1_8_1.jp2"), "wb") as f:
        f.write(made)


if __name__ == "__main__":
    main()
