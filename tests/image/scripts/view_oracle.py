#!/usr/bin/python3
"""Independent check of a rendered grid cell.

Usage: view_oracle.py DESCRIPTION.json

The description is one case object or {"cases": [...]}. Each case names:
  bitmap   PNG of the cell bitmap ((view width - 1) x (view height - 1))
  source   {"path", "format": "raw" | "pgx" | "pnm", and for raw "dtype": "u8" | "u16" |
           "i16" | "bgrx", "width", "height"}: the level image the cell was rendered from
  region   [left, top, right, bottom]: the decoded region C at the level
  dest     [left, top, right, bottom]: the destination rectangle D in the view
  rotation, hflip, vflip: quarter turns clockwise and the view flips
  table    {"kind": "grey", "bits", "signed", "width", "centre", "slope", "intercept",
           "photometric", "invert"} or {"kind": "colour", "brightness", "invert"}
  border   optional: the width of a ring at the bitmap's edge drawn over the image by
           someone else (a cell border), left out of the comparison

It maps C onto D (a margin of one source pixel on each side unless the scale is exactly 1,
quarter turns, flips in view axes; at scale 1 a mirror puts the first sample on D's last
pixel), samples the source by nearest neighbour, passes the sample through the window
table, and compares: inside D every pixel must match, its
outermost rows and columns included (within 1e-6 of a rounding boundary either neighbour
counts), every other pixel must be black. Prints the worst pixel of each case; exits 1 when a case fails, 2 on bad input.
"""
import json
import sys

import numpy as np
from PIL import Image


def load_source(src):
    fmt = src.get("format", "raw")
    path = src["path"]
    if fmt == "raw":
        w, h = int(src["width"]), int(src["height"])
        dtype = src["dtype"]
        if dtype == "bgrx":
            return np.fromfile(path, dtype=np.uint8).reshape(h, w, 4)
        np_type = {"u8": np.uint8, "u16": "<u2", "i16": "<i2"}[dtype]
        return np.fromfile(path, dtype=np_type).reshape(h, w).astype(np.int64)
    if fmt == "pgx":
        with open(path, "rb") as f:
            header = f.readline().split()
            order = ">" if header[1] == b"ML" else "<"
            sign = header[2] if len(header) == 6 else b"+"
            depth, w, h = (int(v) for v in header[-3:])
            size = 1 if depth <= 8 else 2
            kind = ("i" if sign == b"-" else "u") + str(size)
            data = np.frombuffer(f.read(w * h * size), dtype=order + kind)
        return data.reshape(h, w).astype(np.int64)
    if fmt == "pnm":
        img = np.array(Image.open(path))
        if img.ndim == 3:  # RGB becomes B, G, R, 0 as the image holds colour
            out = np.zeros(img.shape[:2] + (4,), np.uint8)
            out[..., 0], out[..., 1], out[..., 2] = img[..., 2], img[..., 1], img[..., 0]
            return out
        return img.astype(np.int64)
    raise ValueError("unknown source format " + fmt)


def grey_table(t):
    n = 1 << int(t["bits"])
    width = max(float(t["width"]), 1.0)
    centre = float(t["centre"])
    a = 255.0 / width
    b = 127.5 - centre * 255.0 / width
    i = np.arange(n, dtype=np.float64)
    stored = i - n * 0.5 if t["signed"] else i
    m = stored * float(t["slope"]) + float(t["intercept"])
    v = np.clip(m * a + b, 0.0, 255.0)
    if t.get("photometric") == "MONOCHROME1":
        v = 255.0 - v
    if t.get("invert"):
        v = 255.0 - v
    return np.trunc(v).astype(np.int64)


def colour_table(t):
    shift = int(np.floor(np.float32(t["brightness"]) * 0.001 * 255))
    v = np.arange(256) + shift
    if t.get("invert"):
        v = 255 - v
    return np.clip(v, 0, 255)


def display_map(c, d, q, hflip, vflip):
    """Forward 2x3 map from level coordinates to view coordinates."""
    f32 = lambda v: float(np.float32(v))
    sw, sh = f32(c[2] - c[0]), f32(c[3] - c[1])
    dw, dh = f32(d[2] - d[0]), f32(d[3] - d[1])
    sx0, sy0, dx0, dy0 = c[0], c[1], f32(d[0]), f32(d[1])

    def scales(d1, s1, d2, s2):
        k1, k2 = d1 / s1, d2 / s2
        if k1 != 1.0 or k2 != 1.0:  # one source pixel of margin on each side
            k1, k2 = d1 / (s1 - 2), d2 / (s2 - 2)
        return k1, k2

    mirror_x = {0: hflip, 1: not hflip, 2: not hflip, 3: hflip}[q]
    mirror_y = {0: vflip, 1: vflip, 2: not vflip, 3: not vflip}[q]
    # along the view's x and y; for odd turns the source's y runs along the view's x
    kx, ky = scales(dw, sw, dh, sh) if q % 2 == 0 else scales(dw, sh, dh, sw)
    # pixel for pixel a mirror puts the first sample on the last pixel
    W, H = d[2] - d[0] - (kx == 1.0), d[3] - d[1] - (ky == 1.0)
    ex = (-1.0, dx0 + W) if mirror_x else (1.0, dx0)
    ey = (-1.0, dy0 + H) if mirror_y else (1.0, dy0)
    if q % 2 == 0:
        return np.array([[ex[0] * kx, 0.0, ex[1] - ex[0] * kx * sx0],
                         [0.0, ey[0] * ky, ey[1] - ey[0] * ky * sy0]])
    a, b = kx, ky
    return np.array([[0.0, ex[0] * a, ex[1] - ex[0] * a * sy0],
                     [ey[0] * b, 0.0, ey[1] - ey[0] * b * sx0]])


def nearest_candidates(f, limit):
    """Rounded index and the neighbour that counts when f lies at a rounding boundary."""
    g = f + 0.5
    i0 = np.floor(g)
    frac = g - i0
    alt = np.where(frac < 1e-6, i0 - 1, np.where(frac > 1 - 1e-6, i0 + 1, i0))
    clip = lambda v: np.clip(v, 0, limit).astype(np.int64)
    return clip(i0), clip(alt)


def check_case(case):
    got = np.array(Image.open(case["bitmap"]).convert("RGB")).astype(np.int64)
    bh, bw = got.shape[:2]
    src = load_source(case["source"])
    lh, lw = src.shape[:2]
    c, d = case["region"], case["dest"]
    t = case["table"]
    expected = np.zeros_like(got)
    inner = [d[0], d[1], min(d[2], bw), min(d[3], bh)]
    mask = np.zeros((bh, bw), bool)
    ok = np.ones((bh, bw), bool)
    if inner[2] > inner[0] and inner[3] > inner[1] and c[2] > c[0] and c[3] > c[1]:
        m = display_map(c, d, int(case["rotation"]) % 4, bool(case["hflip"]), bool(case["vflip"]))
        inv = np.linalg.inv(np.vstack([m, [0.0, 0.0, 1.0]]))
        ys, xs = np.mgrid[inner[1]:inner[3], inner[0]:inner[2]].astype(np.float64)
        u = inv[0, 0] * xs + inv[0, 1] * ys + inv[0, 2]
        v = inv[1, 0] * xs + inv[1, 1] * ys + inv[1, 2]
        iu = nearest_candidates(u, lw - 1)
        iv = nearest_candidates(v, lh - 1)
        if t["kind"] == "grey":
            table = grey_table(t)
            offset = (1 << (int(t["bits"]) - 1)) if t["signed"] else 0
            look = lambda s: np.repeat(table[np.clip(s + offset, 0, len(table) - 1)][..., None], 3, axis=2)
        else:
            table = colour_table(t)
            look = lambda s: table[s[..., [2, 1, 0]].astype(np.int64)]
        region = got[inner[1]:inner[3], inner[0]:inner[2]]
        best = None
        for cu in iu:
            for cv in iv:
                e = look(src[cv, cu])
                diff = np.abs(region - e).max(axis=2)
                if best is None:
                    best, first = diff, e
                best = np.minimum(best, diff)
        expected[inner[1]:inner[3], inner[0]:inner[2]] = first
        mask[inner[1]:inner[3], inner[0]:inner[2]] = True
        ok[inner[1]:inner[3], inner[0]:inner[2]] = best == 0
        worst_inside = best
    outside = np.where(mask, 0, got.max(axis=2))
    ok &= outside == 0
    diff = np.where(mask, 0, outside)
    if mask.any():
        diff[mask] = worst_inside.ravel()
    ring = int(case.get("border", 0))
    if ring > 0:
        for a in (ok, diff):
            a[:ring, :] = a[-ring:, :] = a[:, :ring] = a[:, -ring:] = (a is ok)
    y, x = np.unravel_index(np.argmax(diff), diff.shape)
    name = case.get("name", case["bitmap"])
    status = "ok" if ok.all() else "FAIL"
    print("%s %s: worst %d at (%d, %d): expected %s, got %s; %d bad of %d" %
          (status, name, diff[y, x], x, y, expected[y, x].tolist(), got[y, x].tolist(),
           int((~ok).sum()), ok.size))
    return ok.all()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    with open(sys.argv[1]) as f:
        desc = json.load(f)
    cases = desc["cases"] if isinstance(desc, dict) and "cases" in desc else [desc]
    results = [check_case(c) for c in cases]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
