#!/usr/bin/python3
"""Test data for rendering regions through the viewer's cache: codestreams and JP2 files
made with opj_compress (a palette file built here around an opj codestream), streamed by
the loopback server's offline mode, with opj_decompress's decodes to compare with (the
CMYK, e-sYCC, CIELab and ICC files get their colour boxes here, around opj codestreams).

  region_fixture.py OUTDIR   writes OUTDIR/<name>.(j2k|jp2), OUTDIR/<name>_<c>.pgx (opj's
                             decode of component c) and OUTDIR/<name>[_<len>]/reply-*.jpp
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "..", "tools", "jpip_test_server.py")
sys.dont_write_bytecode = True  # nothing is written beside the sources
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from refusal_sweep import short_counts  # noqa: E402


def box(kind, body):
    return struct.pack(">I4s", 8 + len(body), kind) + body


def boxes(data):
    i = 0
    while i < len(data):
        lbox, tbox = struct.unpack(">I4s", data[i:i + 8])
        lbox = len(data) - i if lbox == 0 else lbox
        yield tbox, data[i + 8:i + lbox]
        i += lbox


def png_rgba(path, w, h):
    rows = b"".join(b"\x00" + bytes(v for x in range(w) for v in ((x * 3) & 255, (y * 4) & 255,
                                                                   (x ^ y) & 255, (x * 2 + y) & 255))
                    for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def palette_jp2(grey_jp2, target):
    """A grey JP2 rewritten to index a 3-column palette of 256 entries through cmap."""
    with open(grey_jp2, "rb") as f:
        data = f.read()
    out = b""
    for kind, body in boxes(data):
        if kind == b"jp2h":
            ihdr = next(b for k, b in boxes(body) if k == b"ihdr")
            entries = b"".join(bytes(((e * 7) & 255, 255 - e, (e * 3 + 40) & 255)) for e in range(256))
            pclr = struct.pack(">HB", 256, 3) + bytes((7, 7, 7)) + entries
            cmap = b"".join(struct.pack(">HBB", 0, 1, col) for col in range(3))
            colr = bytes((1, 0, 0)) + struct.pack(">I", 16)
            body = box(b"ihdr", ihdr) + box(b"colr", colr) + box(b"pclr", pclr) + box(b"cmap", cmap)
        out += box(kind, body)
    with open(target, "wb") as f:
        f.write(out)


def with_colr(src, target, colr):
    """A JP2 file whose colour box body is replaced by colr."""
    with open(src, "rb") as f:
        data = f.read()
    out = b""
    for kind, body in boxes(data):
        if kind == b"jp2h":
            body = b"".join(box(k, colr if k == b"colr" else b) for k, b in boxes(body))
        out += box(kind, body)
    with open(target, "wb") as f:
        f.write(out)


def recoloured(src, target, space, extra=b""):
    """A JP2 file whose colour box is replaced by the enumerated space given (with the
    space's parameters in extra)."""
    with_colr(src, target, bytes((1, 0, 0)) + struct.pack(">I", space) + extra)


# Restricted ICC input profiles (matrix and tone curves, XYZ connection space), written
# field by field.
D50 = (0.9642, 1.0, 0.8249)
D65 = (0.3127, 0.3290)


def s15f16(v):
    return struct.pack(">i", int(round(v * 65536)))


def xyz_type(x, y, z):
    return b"XYZ " + bytes(4) + s15f16(x) + s15f16(y) + s15f16(z)


def curv_type(points):
    return b"curv" + bytes(4) + struct.pack(">I", len(points)) + b"".join(struct.pack(">H", p) for p in points)


def gamma_curve(g):
    return curv_type([int(round(g * 256))])


def icc_profile(space, tags):
    """Header, tag table and tag data of a version 2 input profile."""
    table = b""
    data = b""
    start = 132 + 12 * len(tags)
    for sig, body in tags:
        # Sizes exclude the padding that keeps each element 4-byte aligned.
        table += struct.pack(">4sII", sig, start + len(data), len(body))
        data += body + bytes(-len(body) % 4)
    size = start + len(data)
    header = (struct.pack(">I4sI4s4s4s", size, bytes(4), 0x02100000, b"scnr", space, b"XYZ ") + bytes(12)
              + b"acsp" + bytes(24) + struct.pack(">I", 0) + s15f16(D50[0]) + s15f16(D50[1]) + s15f16(D50[2])
              + bytes(48))
    assert len(header) == 128
    return header + struct.pack(">I", len(tags)) + table + data


def mat_mul(a, b):
    return [sum(a[3 * i + k] * b[3 * k + j] for k in range(3)) for i in range(3) for j in range(3)]


def mat_inv(m):
    a, b, c, d, e, f, g, h, i = m
    det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    return [(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det,
            (f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det,
            (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det]


def xyz_of(x, y):
    return [x / y, 1.0, (1 - x - y) / y]


def rgb_to_xyz(primaries, white):
    p = [0.0] * 9
    for c, (x, y) in enumerate(primaries):
        for r, v in enumerate(xyz_of(x, y)):
            p[3 * r + c] = v
    pi = mat_inv(p)
    w = xyz_of(*white)
    scale = [sum(pi[3 * c + k] * w[k] for k in range(3)) for c in range(3)]
    return [p[3 * r + c] * scale[c] for r in range(3) for c in range(3)]


def bradford(src, dst):
    """Chromatic adaptation between the XYZ whites given."""
    m = [0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296]
    s = [sum(m[3 * r + k] * src[k] for k in range(3)) for r in range(3)]
    d = [sum(m[3 * r + k] * dst[k] for k in range(3)) for r in range(3)]
    return mat_mul(mat_inv(m), mat_mul([d[0] / s[0], 0, 0, 0, d[1] / s[1], 0, 0, 0, d[2] / s[2]], m))


def icc_profiles():
    """A grey profile with gamma 1.8, and an RGB profile with wide-gamut colorants (D65
    adapted to D50), gamma 2.2 for red and blue and a 64-point square-law curve for green."""
    grey = icc_profile(b"GRAY", [(b"wtpt", xyz_type(*D50)), (b"kTRC", gamma_curve(1.8))])
    m = mat_mul(bradford(xyz_of(*D65), D50), rgb_to_xyz([(0.68, 0.32), (0.265, 0.69), (0.15, 0.06)], D65))
    green = [int(round(65535 * (i / 63.0) ** 2)) for i in range(64)]
    rgb = icc_profile(b"RGB ", [(b"wtpt", xyz_type(*D50)), (b"rXYZ", xyz_type(*m[0::3])),
                                (b"gXYZ", xyz_type(*m[1::3])), (b"bXYZ", xyz_type(*m[2::3])),
                                (b"rTRC", gamma_curve(2.2)), (b"gTRC", curv_type(green)),
                                (b"bTRC", gamma_curve(2.2))])
    return grey, rgb


def reference(out, name, path, comps):
    with tempfile.TemporaryDirectory(dir=out) as tmp:
        subprocess.run(["opj_decompress", "-i", path, "-o", os.path.join(tmp, "ref.pgx")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for c in range(comps):
            os.replace(os.path.join(tmp, "ref_%d.pgx" % c), os.path.join(out, "%s_%d.pgx" % (name, c)))


def stream(out, path, folder, length):
    subprocess.run([sys.executable, SERVER, "stream", path, "--out", os.path.join(out, folder),
                    "--len", str(length)], check=True)


def main(out):
    os.makedirs(out, exist_ok=True)
    w, h = 97, 61
    grey = bytes((x * 5 + y * 3 + (x * y) // 7) & 255 for y in range(h) for x in range(w))
    with open(os.path.join(out, "g8.raw"), "wb") as f:
        f.write(grey)
    lw, lh = 160, 120
    with open(os.path.join(out, "rgb.raw"), "wb") as f:
        for c in range(3):
            f.write(bytes((x * (c + 2) + y * (3 - c) + (x * y) // 11) & 255 for y in range(lh) for x in range(lw)))
    cw, ch = (w + 1) // 2, (h + 1) // 2
    with open(os.path.join(out, "yuv.raw"), "wb") as f:
        f.write(grey + bytes((96 + (i * 5) % 64) for i in range(cw * ch))
                + bytes((100 + (i * 3) % 56) for i in range(cw * ch)))
    png_rgba(os.path.join(out, "rgba.png"), w, h)
    with open(os.path.join(out, "lab.raw"), "wb") as f:
        f.write(bytes((x * 2 + y) & 255 for y in range(h) for x in range(w)))
        f.write(bytes(96 + (x * 3 + y) % 64 for y in range(h) for x in range(w)))
        f.write(bytes(100 + (x + y * 3) % 56 for y in range(h) for x in range(w)))
    with open(os.path.join(out, "cmyk.raw"), "wb") as f:
        for c in range(4):
            f.write(bytes((x * (c + 3) + y * (5 - c)) & 255 for y in range(h) for x in range(w)))
    tiles = ["-t", "40,40", "-n", "3", "-r", "8,2,1", "-PLT"]
    jobs = [
        ("grey8", "j2k", ["-i", "g8.raw", "-F", "%d,%d,1,8,u" % (w, h)] + tiles, 1),
        ("rgba", "jp2", ["-i", "rgba.png"] + tiles, 4),
        ("sycc", "jp2", ["-i", "yuv.raw", "-F", "%d,%d,3,8,u@1x1:2x2:2x2" % (w, h)] + tiles, 3),
        ("greyp", "jp2", ["-i", "g8.raw", "-F", "%d,%d,1,8,u" % (w, h)] + tiles, 0),
        ("four", "jp2", ["-i", "cmyk.raw", "-F", "%d,%d,4,8,u" % (w, h)] + tiles, 0),
        ("three", "jp2", ["-i", "cmyk.raw", "-F", "%d,%d,3,8,u" % (w, h), "-mct", "0"] + tiles, 0),
        ("labsrc", "jp2", ["-i", "lab.raw", "-F", "%d,%d,3,8,u" % (w, h), "-mct", "0"] + tiles, 0),
        ("layers", "j2k", ["-i", "rgb.raw", "-F", "%d,%d,3,8,u" % (lw, lh), "-t", "64,64",
                           "-r", "20,10,1", "-PLT"], 3),
        ("tparts", "j2k", ["-i", "rgb.raw", "-F", "%d,%d,3,8,u" % (lw, lh), "-t", "64,48",
                           "-n", "4", "-r", "20,10,1", "-TP", "R"], 3),
    ]
    for name, ext, args, comps in jobs:
        target = os.path.join(out, name + "." + ext)
        subprocess.run(["opj_compress"] + args + ["-o", target], cwd=out, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if comps:
            reference(out, name, target, comps)
    palette_jp2(os.path.join(out, "greyp.jp2"), os.path.join(out, "palette.jp2"))
    reference(out, "palette", os.path.join(out, "palette.jp2"), 3)
    # Colour spaces that opj_decompress converts to RGB itself; CIELab with the default
    # 8-bit ranges and offsets under D50 (opj writes 16-bit samples for it).
    lab = struct.pack(">7I", 100, 0, 170, 128, 200, 96, 0x00443530)
    for name, src, space, extra in (("cmyk", "four", 12, b""), ("esycc", "three", 24, b""),
                                    ("lab", "labsrc", 14, lab)):
        recoloured(os.path.join(out, src + ".jp2"), os.path.join(out, name + ".jp2"), space, extra)
        reference(out, name, os.path.join(out, name + ".jp2"), 3)
    # opj_decompress applies these through its colour-management library (grey comes out
    # as three equal components).
    grey_icc, rgb_icc = icc_profiles()
    for name, src, profile in (("iccgrey", "greyp", grey_icc), ("iccrgb", "three", rgb_icc)):
        with_colr(os.path.join(out, src + ".jp2"), os.path.join(out, name + ".jp2"), bytes((2, 0, 0)) + profile)
        reference(out, name, os.path.join(out, name + ".jp2"), 3)
    for name in ("grey8.j2k", "rgba.jp2", "sycc.jp2", "palette.jp2", "cmyk.jp2", "esycc.jp2",
                 "lab.jp2", "iccgrey.jp2", "iccrgb.jp2"):
        stream(out, os.path.join(out, name), name.split(".")[0], 4000)
    # Every SOT announcing one tile-part fewer than the tile has, as some encoders write.
    short_counts(os.path.join(out, "tparts.j2k"), os.path.join(out, "shortcount.j2k"))
    stream(out, os.path.join(out, "shortcount.j2k"), "shortcount", 4000)
    for length in (512, 10240):
        stream(out, os.path.join(out, "layers.j2k"), "layers_%d" % length, length)


if __name__ == "__main__":
    main(sys.argv[1])
