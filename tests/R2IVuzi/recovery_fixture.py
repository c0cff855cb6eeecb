#!/usr/bin/env python3
"""The two images the JPIP recovery tests stream, under the server's names.

  recovery_fixture.py CORPUS OUTDIR

CORPUS is grid_fixture.py's folder. Writes OUTDIR/1_1_1_1_1.jp2, image 1's codestream
without its JP2 boxes (8-bit grey 512 x 384), OUTDIR/1_1_1_5_1.jp2, the RGB JP2 file as it
is, and OUTDIR/1_1_1_<n>.index.json, the loopback server's data-bins of each. Image 2 is
left out: the tests use it as a missing file. Safe to run from several processes at once.
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from region_fixture import boxes  # noqa: E402

SERVER = os.path.join(HERE, "..", "..", "tools", "jpip_test_server.py")


def replace(path, data):
    tmp = "%s.%d" % (path, os.getpid())
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    corpus, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(corpus, "1_1_1_1_1.jp2"), "rb") as f:
        raw = [body for kind, body in boxes(f.read()) if kind == b"jp2c"][0]
    replace(os.path.join(out, "1_1_1_1_1.jp2"), raw)
    tmp = os.path.join(out, "1_1_1_5_1.jp2.%d" % os.getpid())
    shutil.copyfile(os.path.join(corpus, "1_1_1_5_1.jp2"), tmp)
    os.replace(tmp, os.path.join(out, "1_1_1_5_1.jp2"))
    for n in (1, 5):
        index = subprocess.run([sys.executable, SERVER, "index", os.path.join(out, "1_1_1_%d_1.jp2" % n)],
                               check=True, stdout=subprocess.PIPE).stdout
        replace(os.path.join(out, "1_1_1_%d.index.json" % n), index)


if __name__ == "__main__":
    main()
