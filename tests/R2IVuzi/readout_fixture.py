#!/usr/bin/env python3
"""A square image for the readout tests.

  readout_fixture.py OUTDIR

Writes OUTDIR/1_1_1_1_1.jp2: an 8-bit grey 512 x 512 field (the server's name for the
first image of a make_pssi.py series), coded lossless as grid_fixture.py codes its images,
and its decodes at levels 0 to 2.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from grid_fixture import field, make_once, write  # noqa: E402


def make(out):
    write(out, "1_1_1_1", [field(512, 512, 0, 255, 21)], 8, False)


if __name__ == "__main__":
    make_once(sys.argv[1], make)
