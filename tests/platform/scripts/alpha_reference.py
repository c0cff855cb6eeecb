#!/usr/bin/python3
"""AlphaBlend worked in floating point: arguments are the source pixels (B, G, R, A bytes,
alpha premultiplied), the destination pixels (B, G, R, 0), the constant alpha and 1 when
the source's own alpha counts. Writes the blended destination bytes to stdout:
without per-pixel alpha d' = s k + d (1 - k); with it d' = s k + d (1 - a k), k and a as
fractions of 255, rounded to the nearest level."""
import sys

import numpy as np


def main():
    src = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(-1, 4).astype(np.float64)
    dst = np.fromfile(sys.argv[2], dtype=np.uint8).reshape(-1, 4).astype(np.float64)
    k = int(sys.argv[3]) / 255.0
    per_pixel = sys.argv[4] == "1"
    a = src[:, 3:4] / 255.0 * k if per_pixel else np.full((src.shape[0], 1), k)
    out = src[:, :3] * k + dst[:, :3] * (1.0 - a)
    blended = np.zeros_like(dst)
    blended[:, :3] = np.clip(np.floor(out + 0.5), 0, 255)
    sys.stdout.buffer.write(blended.astype(np.uint8).tobytes())


if __name__ == "__main__":
    main()
