#!/usr/bin/env python3
"""Reference resampler in numpy float32, vectorised over the sampling points.

Usage: sample_reference.py INPUT OUTPUT, or sample_reference.py --j1 VALUES
INPUT:  line 1 "W H palette alpha rb rg rr ra" (rb = -1: no replacement colour), then H rows of
        W*4 integers b g r a (a: alpha plane value, or the palette entry's fourth byte), then
        "N" and N lines "x y".
OUTPUT: for each point, method 1..16 and rule 1..6 one line "b g r a".
"""
import sys

import numpy as np

F = np.float32
PI = F(3.1415927410125732)
TWO_PI = F(6.2831854820251465)


def read(path):
    with open(path) as f:
        head = f.readline().split()
        w, h, pal, alpha = (int(v) for v in head[:4])
        rep = [int(v) for v in head[4:8]]
        rows = [[int(v) for v in f.readline().split()] for _ in range(h)]
        n = int(f.readline())
        pts = np.array([[float(v) for v in f.readline().split()] for _ in range(n)], dtype=F)
    img = np.array(rows, dtype=np.int64).reshape(h, w, 4)
    return img, bool(pal), bool(alpha), (None if rep[0] < 0 else np.array(rep, dtype=np.int64)), pts


class Image:
    def __init__(self, img, pal, alpha, rep):
        self.img, self.pal, self.alpha = img, pal, alpha
        self.h, self.w = img.shape[:2]
        self.rep = rep if rep is not None else np.array([255, 255, 255, 0], dtype=np.int64)

    def pixel(self, xs, ys):
        c = self.img[ys, xs].copy()
        if not self.pal and not self.alpha:
            c[..., 3] = 0
        return c

    def edged(self, xs, ys, rule):
        """Colour of whole-number points; outside ones answered by the rule (no background set)."""
        xs = np.asarray(xs, dtype=np.int64)
        ys = np.asarray(ys, dtype=np.int64)
        inside = (xs >= 0) & (xs < self.w) & (ys >= 0) & (ys < self.h)
        out = np.broadcast_to(self.rep, xs.shape + (4,)).copy()
        if rule == 3 and self.alpha:
            out[..., 3] = 0
        if rule in (4, 5, 6):
            mx, my = xs.copy(), ys.copy()
            if rule == 4:
                mx, my = np.mod(mx, self.w), np.mod(my, self.h)
            elif rule == 5:
                mx, my = np.clip(mx, 0, self.w - 1), np.clip(my, 0, self.h - 1)
            else:
                mx, my = mirror_int(mx, self.w), mirror_int(my, self.h)
            out = self.pixel(mx, my)
        cx, cy = np.clip(xs, 0, self.w - 1), np.clip(ys, 0, self.h - 1)
        return np.where(inside[..., None], self.pixel(cx, cy), out)


def mirror_int(c, size):
    return np.where(c < 0, np.mod(-c, size), np.where(c >= size, size - np.mod(c, size) - 1, c))


def move_real(c, size, rule):
    size = F(size)
    if rule == 4:
        m = np.fmod(c, size).astype(F)
        return np.where(m < 0, (m + size).astype(F), m)
    if rule == 5:
        return np.clip(c, F(0), size - F(1)).astype(F)
    if rule == 6:
        neg = np.fmod(-c, size).astype(F)
        big = (size - np.fmod(c, size) - F(1)).astype(F)
        return np.where(c < 0, neg, np.where(c >= size, big, c)).astype(F)
    return c


def whole(v):
    return np.trunc(v).astype(np.int64) - (v < 0)


def j1(x):
    p = [2701.1227108923235, -4695753.530642996, 3413234182.3017006, -1322983480332.1265,
         290879526383477.56, -35888175699101060.0, 2316433580634002432.0, -66721065689249161216.0,
         581199354001606115328.0]
    q = [1, 1606.9315734814877, 1501793.5949985855, 1013863514.358674, 524371026216.76495,
         208166122130760.75, 60920613989175216.0, 11857707121903210496.0, 1162398708003212230656.0]
    p1 = ([1.2571716929145342, 211.15291828539623, 4985.4832060594335, 31353.963110915956,
           62758.84524716128, 35224.66491336798],
          [1, 203.07751891347593, 4930.396490181089, 31240.406381904104, 62694.34695935605,
           35224.66491336798])
    q1 = ([0.03532840052740124, 4.568171629551227, 83.18989576738508, 425.98730116544425,
           721.0391804904475, 351.17519143035526],
          [1, 103.81875854621337, 1811.1867005523513, 9152.231701516992, 15414.177339265098,
           7491.737417180912])
    x = np.asarray(x, dtype=np.float64)
    s = np.abs(x)
    small = x * np.polyval(p, s * s) / np.polyval(q, s * s)
    with np.errstate(divide='ignore', invalid='ignore'):
        z = 8 / s
        u = z * z
        sn, cs = np.sin(s).astype(F).astype(np.float64), np.cos(s).astype(F).astype(np.float64)
        big = np.sqrt(2 / (np.pi * s)) * (np.polyval(p1[0], u) / np.polyval(p1[1], u) * (sn - cs)
                                          + z * np.polyval(q1[0], u) / np.polyval(q1[1], u) * (sn + cs))
        big = np.sign(x) * big / np.float64(F(np.sqrt(2)))
    return np.where(x == 0, 0, np.where(s < 8, small, big)).astype(F)


def kernel(method, d):
    d = d.astype(F)
    t = np.abs(d)
    one, two = F(1), F(2)
    with np.errstate(divide='ignore', invalid='ignore'):
        if method == 3:
            h = lambda u: np.where(u > 0, u * u * u, F(0))
            v = (h(d + two) - F(4) * h(d + one) + F(6) * h(d) - F(4) * h(d - one)) * F(0.1666666716337204)
            return np.where(d > 2, F(0), v).astype(F)
        if method in (4, 5):
            a = F(-1) if method == 4 else F(-0.5)
            near = (a + two) * t ** 3 - (a + F(3)) * t * t + one
            far = a * t ** 3 - F(5) * a * t * t + F(8) * a * t - F(4) * a
            return np.where(t < 1, near, np.where(t < 2, far, F(0))).astype(F)
        if method == 6:
            pd = (PI * d).astype(F)
            pdr = (pd / F(6)).astype(F)
            v = np.sin(pd) / pd * np.sin(pdr) / pdr
            return np.where(d == 0, one, np.where(t > 6, F(0), v)).astype(F)
        if method == 7:
            return np.where((d >= -0.5) & (d < 0.5), one, F(0))
        if method in (8, 9):
            scale = one if method == 8 else F(0.9200000166893005)
            return np.where((d >= -1) & (d < 1), (two * t - F(3)) * scale * d * d + one, F(0)).astype(F)
        if method == 10:
            pd = (PI * d).astype(F)
            return np.where(d == 0, one, np.sin(pd) / pd).astype(F)
        if method == 11:
            return (F(0.41999998688697815) + F(0.5) * np.cos(PI * d) + F(0.07999999821186066) * np.cos(TWO_PI * d)).astype(F)
        if method == 12:
            return np.where(d == 0, F(0.7853982), j1(PI * d) / (two * d)).astype(F)
        if method == 13:
            return (np.exp(F(-2) * d * d) * F(0.7978845834732056)).astype(F)
        if method == 14:
            return np.select([(d >= -1.5) & (d < -0.5), (d >= -0.5) & (d < 0.5), (d >= 0.5) & (d < 1.5)],
                             [F(0.5) * (d + F(1.5)) ** 2, F(0.75) - d * d, F(0.5) * (d - F(1.5)) ** 2], F(0)).astype(F)
        if method == 15:
            near = F(1.1666666269302368) * t ** 3 - two * t * t + F(0.8888888955116272)
            far = F(-0.3888888657093048) * t ** 3 + two * t * t - F(3.3333332538604736) * t + F(1.7777777910232544)
            return np.where(t < 1, near, np.where(t < 2, far, F(0))).astype(F)
        if method == 16:
            return np.select([(d >= -2) & (d < -1), (d >= -1) & (d < 0), (d >= 0) & (d < 1), (d >= 1) & (d < 2)],
                             [F(0.5) * (d ** 3 + F(5) * d * d + F(8) * d + F(4)), F(0.5) * (two - F(5) * d * d - F(3) * d ** 3),
                              F(0.5) * (F(3) * d ** 3 - F(5) * d * d + two), F(0.5) * (-d ** 3 + F(5) * d * d - F(8) * d + F(4))],
                             F(0)).astype(F)
    raise ValueError(method)


def to_byte(v):
    return np.clip(np.trunc(v), 0, 255).astype(np.int64)


def sample(im, x, y, method, rule):
    if method == 1:
        return im.edged(np.trunc(x + F(0.5)), np.trunc(y + F(0.5)), rule)
    before, after = (0, 1) if method == 2 else ((5, 6) if method == 6 else (1, 2))
    xi, yi = whole(x), whole(y)
    away = (xi + after < 0) | (xi - before >= im.w) | (yi + after < 0) | (yi - before >= im.h)
    if rule in (1, 2, 3):
        away_colour = im.edged(np.full(x.shape, -999), np.full(x.shape, -999), rule)
    else:
        x = np.where(away, move_real(x, im.w, rule), x).astype(F)
        y = np.where(away, move_real(y, im.h, rule), y).astype(F)
        xi, yi = whole(x), whole(y)
    taps = before + after + 1
    direct = (~np.asarray(im.pal)) & (xi - before >= 0) & (xi + after < im.w) & (yi - before >= 0) & (yi + after < im.h)
    if method == 2:
        fx, fy = (x - xi.astype(F)).astype(F), (y - yi.astype(F)).astype(F)
        ix, iy = np.trunc(fx * F(256)).astype(np.int64), np.trunc(fy * F(256)).astype(np.int64)
        ixy = (ix * iy) >> 8
        q = [im.edged(xi + a, yi + b, rule) for b in (0, 1) for a in (0, 1)]
        iw = [256 - (iy - ixy) - ix, ix - ixy, iy - ixy, ixy]
        exact = sum(iw[i][:, None] * q[i] for i in range(4)) >> 8
        fxy = (fx * fy).astype(F)
        fw = [(F(1) - fx - (fy - fxy)).astype(F), (fx - fxy).astype(F), (fy - fxy).astype(F), fxy]
        acc = np.zeros(x.shape + (4,), dtype=F)
        for i in range(4):
            acc = (acc + (fw[i][:, None] * q[i].astype(F)).astype(F)).astype(F)
        res = np.where(direct[:, None], exact, to_byte(acc))
    else:
        offs = np.arange(taps) - before
        wx = np.stack([kernel(method, ((xi + o).astype(F) - x).astype(F)) for o in offs], axis=1)
        wy = np.stack([kernel(method, ((yi + o).astype(F) - y).astype(F)) for o in offs], axis=1)
        acc = np.zeros(x.shape + (4,), dtype=F)
        for r in range(taps):
            for c in range(taps):
                w = (wx[:, c] * wy[:, r]).astype(F)
                acc = (acc + (w[:, None] * im.edged(xi + offs[c], yi + offs[r], rule).astype(F)).astype(F)).astype(F)
        res = to_byte(acc)
    if not im.alpha:
        res[:, 3] = 0
    if rule in (1, 2, 3):
        res = np.where(away[:, None], away_colour, res)
    return res


def main():
    img, pal, alpha, rep, pts = read(sys.argv[1])
    im = Image(img, pal, alpha, rep)
    x, y = pts[:, 0].astype(F), pts[:, 1].astype(F)
    results = [[sample(im, x, y, m, r) for r in range(1, 7)] for m in range(1, 17)]
    with open(sys.argv[2], 'w') as out:
        for i in range(len(pts)):
            for m in range(16):
                for r in range(6):
                    out.write(' '.join(str(int(v)) for v in results[m][r][i]) + '\n')


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == '--j1':
        # Lines "x J1(x)" from the library; prints the largest deviation from scipy's.
        from scipy.special import j1 as scipy_j1
        data = np.loadtxt(sys.argv[2], ndmin=2)
        print(float(np.max(np.abs(data[:, 1] - scipy_j1(data[:, 0])))))
    else:
        main()
