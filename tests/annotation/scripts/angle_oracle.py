#!/usr/bin/python3
"""Angles on the patient, worked out with numpy from image points and pixel spacing.

Reads one case a line from standard input:
  protractor COLUMN_MM ROW_MM VX VY AX AY BX BY   the angle at V between V->A and V->B
  cobb COLUMN_MM ROW_MM S1X S1Y E1X E1Y S2X S2Y E2X E2Y
                                             the acute angle between the lines S1E1 and S2E2
Points are image pixels (column, row); columns lie COLUMN_MM apart, rows ROW_MM. Prints
one angle in degrees a line.
"""
import sys

import numpy as np


def angle(u, v):
    c = np.dot(u, v) / (np.linalg.norm(u) * np.linalg.norm(v))
    return float(np.degrees(np.arccos(np.clip(c, -1.0, 1.0))))


def main():
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        mm = np.array([float(words[1]), float(words[2])])
        p = np.array([float(w) for w in words[3:]]).reshape(-1, 2) * mm
        if words[0] == "protractor":
            print("%.6f" % angle(p[1] - p[0], p[2] - p[0]))
        else:
            theta = angle(p[1] - p[0], p[3] - p[2])
            print("%.6f" % min(theta, 180.0 - theta))
    return 0


if __name__ == "__main__":
    sys.exit(main())
