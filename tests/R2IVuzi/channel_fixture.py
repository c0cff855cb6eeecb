#!/usr/bin/env python3
"""Test data for the live JPIP channel and the streamed image: opj_compress images named
<name>_1.jp2 as the viewer asks for them, opj_decompress's decodes of each at levels 0
and 2, opj_dump's reading of their headers, the loopback server's index of their bins,
offline replies for opening, and hand-built JP2 headers.

  channel_fixture.py OUTDIR   writes OUTDIR/<name>_1.jp2, OUTDIR/<name>_r<L>_<c>.pgx,
                              OUTDIR/<name>.dump, OUTDIR/<name>.index.json and
                              OUTDIR/<name>_s<len>/reply-*.jpp
"""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from region_fixture import box, boxes  # noqa: E402

SERVER = os.path.join(HERE, "..", "..", "tools", "jpip_test_server.py")
QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


def plane(w, h, c):
    return bytes((x * (c + 2) + y * (3 - c) + (x * y) // 13 + c * 40) & 255 for y in range(h) for x in range(w))


def compress(out, name, raw, fmt, args, jp2):
    src = os.path.join(out, name + ".raw")
    with open(src, "wb") as f:
        f.write(raw)
    made = os.path.join(out, name + (".jp2" if jp2 else ".j2k"))
    subprocess.run(["opj_compress", "-i", src, "-F", fmt, "-o", made] + args, check=True, **QUIET)
    return made


def references(out, name, path, comps):
    for level in (0, 2):
        with tempfile.TemporaryDirectory(dir=out) as tmp:
            subprocess.run(["opj_decompress", "-i", path, "-o", os.path.join(tmp, "ref.pgx"), "-r", str(level)],
                           check=True, **QUIET)
            for c in range(comps):
                os.replace(os.path.join(tmp, "ref_%d.pgx" % c), os.path.join(out, "%s_r%d_%d.pgx" % (name, level, c)))


def rewrite_header(src, target, edit):
    """A JP2 file whose header box's sub-boxes pass through edit(list of (type, body))."""
    with open(src, "rb") as f:
        data = f.read()
    out = b""
    for kind, body in boxes(data):
        if kind == b"jp2h":
            body = b"".join(box(k, b) for k, b in edit(list(boxes(body))))
        out += box(kind, body)
    with open(target, "wb") as f:
        f.write(out)


def with_cdef(entries):
    cdef = struct.pack(">H", len(entries)) + b"".join(struct.pack(">HHH", *e) for e in entries)

    def edit(subs):
        return [s for s in srgb_over_grey(subs) if s[0] != b"cdef"] + [(b"cdef", cdef)]
    return edit


def srgb_over_grey(subs):
    out = []
    for kind, body in subs:
        if kind == b"colr":
            body = bytes((1, 0, 0)) + struct.pack(">I", 16)
        out.append((kind, body))
    return out


def three_over_one(subs):
    """sRGB, and a header claiming three components over a one-component codestream."""
    return [(k, b[:8] + struct.pack(">H", 3) + b[10:] if k == b"ihdr" else b) for k, b in srgb_over_grey(subs)]


def main(out):
    os.makedirs(out, exist_ok=True)
    common = ["-n", "5", "-t", "128,128", "-c", "[64,64]", "-r", "20,5,1", "-PLT"]
    w, h = 512, 384
    images = [
        ("grey", compress(out, "grey", plane(w, h, 0), "%d,%d,1,8,u" % (w, h), common, False), 1),
        ("rgb", compress(out, "rgb", b"".join(plane(w, h, c) for c in range(3)), "%d,%d,3,8,u" % (w, h), common,
                         True), 3),
        ("odd", compress(out, "odd", plane(251, 197, 1), "251,197,1,8,u",
                         ["-n", "5", "-t", "64,64", "-r", "20,5,1", "-PLT", "-d", "11,13"], False), 1),
        ("greyjp2", compress(out, "greyjp2", plane(97, 61, 2), "97,61,1,8,u", ["-n", "3", "-t", "40,40", "-PLT"], True), 1),
    ]
    for name, path, comps in images:
        references(out, name, path, comps)
        with open(os.path.join(out, name + ".dump"), "w") as f:
            subprocess.run(["opj_dump", "-i", path], check=True, stdout=f, stderr=subprocess.DEVNULL)
        with open(os.path.join(out, name + ".index.json"), "w") as f:
            subprocess.run([sys.executable, SERVER, "index", path], check=True, stdout=f)
        os.replace(path, os.path.join(out, name + "_1.jp2"))
    # Channel 0 on a subsampled component, and subsamplings that do not divide.
    cw, ch = 60, 40
    sub = lambda dx, dy: bytes(((i * 7) & 255) for i in range(((cw + dx - 1) // dx) * ((ch + dy - 1) // dy)))
    compress(out, "sub2", sub(1, 1) + sub(2, 2) + sub(2, 2), "%d,%d,3,8,u@1x1:2x2:2x2" % (cw, ch),
             ["-n", "2", "-mct", "0", "-PLT"], True)
    rewrite_header(os.path.join(out, "sub2.jp2"), os.path.join(out, "cdef2_1.jp2"),
                   with_cdef([(0, 0, 2), (1, 0, 1), (2, 0, 3)]))
    compress(out, "sub3", sub(3, 3) + sub(2, 2) + sub(3, 3), "%d,%d,3,8,u@3x3:2x2:3x3" % (cw, ch),
             ["-n", "2", "-mct", "0", "-PLT"], True)
    rewrite_header(os.path.join(out, "sub3.jp2"), os.path.join(out, "cdef3_1.jp2"),
                   with_cdef([(0, 0, 1), (1, 0, 2), (2, 0, 3)]))
    rewrite_header(os.path.join(out, "greyjp2_1.jp2"), os.path.join(out, "srgbgrey_1.jp2"), three_over_one)
    for name, length in (("grey", 100), ("rgb", 10240), ("greyjp2", 10240), ("cdef2", 10240), ("cdef3", 10240),
                         ("srgbgrey", 10240), ("odd", 10240)):
        subprocess.run([sys.executable, SERVER, "stream", os.path.join(out, name + "_1.jp2"), "--out",
                        os.path.join(out, "%s_s%d" % (name, length)), "--len", str(length)], check=True)


if __name__ == "__main__":
    main(sys.argv[1])
