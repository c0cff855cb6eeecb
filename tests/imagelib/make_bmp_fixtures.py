#!/usr/bin/env python3
"""BMP test files for the raster library's tests.

  make_bmp_fixtures.py fixtures DIR     other writers' files and hand-made ones, each X.bmp with
                                        its reference pixels X.ppm; names listed in DIR/fixtures.txt
  make_bmp_fixtures.py read DIR         Pillow's reading of every DIR/*.bmp as *.pil.ppm
  make_bmp_fixtures.py apply LIST       for each line "OP IN OUT" of LIST, Pillow's OP (flip,
                                        mirror, negative) of IN, as P6 in OUT

Tool-made files get the pixels on which two of bmptopnm, Pillow and ImageMagick agree.
Hand-made files are built with struct and their pixels are worked out here. Every file is
written under a temporary name and renamed, so parallel test processes can share DIR.
Exit status 3: a tool is missing.
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile


def put(path, data):
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp_")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def ppm(width, height, rows):
    """rows: top-down lists of (r, g, b)."""
    return b"P6\n%d %d\n255\n" % (width, height) + bytes(c for row in rows for px in row for c in px)


def parse_ppm(data):
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:pos + 1 + w * h * 3]


# ---- hand-made files ----------------------------------------------------------------

def bmp(width, height, bpp, data, palette=(), compression=0, header_size=40, masks=b"",
        file_header=True, size_image=None, palette3=False):
    """data: the pixel bytes as stored (rows bottom-up unless height < 0)."""
    pal = b"".join(struct.pack("<BBB", b, g, r) if palette3 else struct.pack("<BBBB", b, g, r, 0)
                   for r, g, b in palette)
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bpp)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bpp, compression,
                           len(data) if size_image is None else size_image, 2835, 2835,
                           len(palette) if bpp <= 8 else 0, 0)
        info += bytes(header_size - 40)
    body = info + masks + pal
    if not file_header:
        return body + data
    offset = 14 + len(body)
    return struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + body + data


def pad_rows(rows):
    return b"".join(r + bytes(-len(r) % 4) for r in rows)


def rgb16(w, rmask, gmask, bmask):
    """The library's 16-bit rule: top bits of each field, shifts from the red width."""
    r, g, b = (bin(m & 0xFFFF).count("1") for m in (rmask, gmask, bmask))
    return (((w & rmask) >> (r + g + b - 8)) & 255, ((w & gmask) >> (r + g - 8)) & 255,
            ((w & bmask) << (8 - r)) & 255)


def hand_made(out):
    made = {}
    pal16 = [(i * 10, 255 - i * 10, i * 3) for i in range(16)]
    # RLE8: run, odd literal with its pad byte, end of line, delta, end of bitmap.
    rle8 = bytes([3, 1, 0, 3, 2, 3, 4, 0, 0, 0,  2, 5, 0, 2, 3, 1,  2, 6, 0, 0,
                  0, 4, 7, 8, 9, 10, 0, 1])
    idx = [[7, 8, 9, 10, 0, 0, 0, 0], [0, 0, 0, 0, 0, 6, 6, 0],
           [5, 5, 0, 0, 0, 0, 0, 0], [1, 1, 1, 2, 3, 4, 0, 0]]  # top-down
    made["hand_rle8"] = (bmp(8, 4, 8, rle8, pal16, compression=1), 8, 4, [[pal16[i] for i in r] for r in idx])
    # RLE4: run of alternating nibbles, absolute run of 3, end of line, delta, end of bitmap.
    rle4 = bytes([5, 0x12, 0, 0,  0, 3, 0x34, 0x50, 0, 0,  0, 2, 2, 0, 2, 0x77, 0, 1])
    idx = [[0, 0, 7, 7, 0, 0], [3, 4, 5, 0, 0, 0], [1, 2, 1, 2, 1, 0]]
    made["hand_rle4"] = (bmp(6, 3, 4, rle4, pal16, compression=2), 6, 3, [[pal16[i] for i in r] for r in idx])
    # Top-down 24-bit and its bottom-up twin.
    rnd = random.Random(45)
    px = [[tuple(rnd.randrange(256) for _ in range(3)) for _ in range(5)] for _ in range(3)]  # top-down
    rows = [bytes(c for p in row for c in (p[2], p[1], p[0])) for row in px]
    made["hand_topdown"] = (bmp(5, -3, 24, pad_rows(rows)), 5, 3, px)
    made["hand_bottomup"] = (bmp(5, 3, 24, pad_rows(rows[::-1])), 5, 3, px)
    # 16 bits: 5-5-5 without masks, 5-6-5 with masks.
    words = [[0x7FFF, 0x7C00, 0x03E0], [0x001F, 0x0000, 0x4210]]  # top-down
    rows = [struct.pack("<3H", *r) for r in words[::-1]]
    made["hand_555"] = (bmp(3, 2, 16, pad_rows(rows)), 3, 2,
                        [[rgb16(w, 0x7C00, 0x03E0, 0x001F) for w in r] for r in words])
    words = [[0xFFFF, 0xF800, 0x07E0], [0x001F, 0x1234, 0x8410]]
    rows = [struct.pack("<3H", *r) for r in words[::-1]]
    made["hand_565"] = (bmp(3, 2, 16, pad_rows(rows), compression=3,
                            masks=struct.pack("<3I", 0xF800, 0x07E0, 0x001F)), 3, 2,
                        [[rgb16(w, 0xF800, 0x07E0, 0x001F) for w in r] for r in words])
    # 32 bits, plain and with bit fields (whose masks are skipped, not applied).
    px = [[tuple(rnd.randrange(256) for _ in range(3)) for _ in range(3)] for _ in range(2)]
    rows = [bytes(c for p in row for c in (p[2], p[1], p[0], rnd.randrange(256))) for row in px[::-1]]
    made["hand_32"] = (bmp(3, 2, 32, b"".join(rows)), 3, 2, px)
    made["hand_32fields"] = (bmp(3, 2, 32, b"".join(rows), compression=3,
                                 masks=struct.pack("<3I", 0xFF0000, 0xFF00, 0xFF)), 3, 2, px)
    # A bare information header, pixels right after the palette.
    pal4 = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 99, 199)]
    idx = [[rnd.randrange(4) for _ in range(5)] for _ in range(3)]
    made["hand_headerless"] = (bmp(5, 3, 8, pad_rows([bytes(r) for r in idx[::-1]]), pal4, file_header=False),
                               5, 3, [[pal4[i] for i in r] for r in idx])
    # Longer headers: 64 bytes, and 108 bytes meeting the plain-layout conditions.
    px = [[tuple(rnd.randrange(256) for _ in range(3)) for _ in range(4)] for _ in range(3)]
    rows = pad_rows([bytes(c for p in row for c in (p[2], p[1], p[0])) for row in px[::-1]])
    made["hand_header64"] = (bmp(4, 3, 24, rows, header_size=64), 4, 3, px)
    made["hand_header108"] = (bmp(4, 3, 24, rows, header_size=108), 4, 3, px)
    for name, (data, w, h, rows) in made.items():
        put(os.path.join(out, name + ".ppm"), ppm(w, h, rows))
        put(os.path.join(out, name + ".bmp"), data)
    return list(made)


# ---- other writers' files -----------------------------------------------------------

def readers(path):
    """Each available reader's pixels of a file (None where it cannot read it)."""
    from PIL import Image
    got = {}
    r = subprocess.run("bmptopnm %s 2>/dev/null | ppmtoppm 2>/dev/null" % path, shell=True, capture_output=True)
    got["bmptopnm"] = parse_ppm(r.stdout) if r.returncode == 0 and r.stdout else None
    try:
        im = Image.open(path).convert("RGB")
        got["pillow"] = (im.width, im.height, im.tobytes())
    except Exception:
        got["pillow"] = None
    r = subprocess.run(["convert-im6.q16", path, "-depth", "8", "ppm:-"], capture_output=True)
    got["imagemagick"] = parse_ppm(r.stdout) if r.returncode == 0 and r.stdout else None
    return got


def agreed(path):
    got = [v for v in readers(path).values() if v]
    for i in range(len(got)):
        for j in range(i + 1, len(got)):
            if got[i] == got[j]:
                return got[i]
    raise SystemExit("no two readers agree on " + path)


def tool_made(out, tmp):
    from PIL import Image
    rnd = random.Random(37)

    def source(name, w, h, colours):
        cols = [tuple(rnd.randrange(256) for _ in range(3)) for _ in range(colours)]
        rows = [[rnd.choice(cols) for _ in range(w)] for _ in range(h)]
        path = os.path.join(tmp, name + ".ppm")
        with open(path, "wb") as f:
            f.write(ppm(w, h, rows))
        return path

    src = {1: source("p1", 9, 7, 2), 4: source("p4", 9, 7, 16), 8: source("p8", 11, 9, 200),
           24: source("p24", 11, 9, 4096)}
    jobs = {}
    for bpp in (1, 4, 8, 24):
        jobs["ppmtobmp_%d" % bpp] = "ppmtobmp -bpp %d %s" % (bpp, src[bpp])
    jobs["ppmtobmp_os2"] = "ppmtobmp -os2 -bpp 8 %s" % src[8]
    jobs["im_bmp3"] = "convert-im6.q16 %s -type Palette -compress None BMP3:-" % src[8]
    jobs["im_bmp3_24"] = "convert-im6.q16 %s -type TrueColor BMP3:-" % src[24]
    jobs["im_bmp3_rle"] = "convert-im6.q16 %s -type Palette -compress RLE BMP3:-" % src[8]
    names = []
    for name, cmd in jobs.items():
        r = subprocess.run(cmd + " 2>/dev/null", shell=True, capture_output=True)
        if r.returncode != 0 or not r.stdout:
            raise SystemExit("failed: " + cmd)
        path = os.path.join(tmp, name + ".bmp")
        with open(path, "wb") as f:
            f.write(r.stdout)
        names.append(name)
    base = Image.open(src[24])
    pil = {"pil_1": base.convert("1"), "pil_L": base.convert("L"),
           "pil_P": Image.open(src[8]).convert("P", palette=Image.ADAPTIVE, colors=256),
           "pil_RGB": base}
    rgba = base.convert("RGBA")
    rgba.putalpha(Image.frombytes("L", base.size, bytes(rnd.randrange(256) for _ in range(base.width * base.height))))
    pil["pil_RGBA"] = rgba
    for name, im in pil.items():
        im.save(os.path.join(tmp, name + ".bmp"), "BMP")
        names.append(name)
    for name in names:
        path = os.path.join(tmp, name + ".bmp")
        w, h, data = agreed(path)
        put(os.path.join(out, name + ".ppm"), b"P6\n%d %d\n255\n" % (w, h) + data)
        shutil.copyfile(path, os.path.join(tmp, name + ".copy"))
        os.replace(os.path.join(tmp, name + ".copy"), os.path.join(out, name + ".bmp"))
    return names


def need_tools():
    try:
        import PIL  # noqa: F401
    except ImportError:
        sys.exit(3)
    for tool in ("bmptopnm", "ppmtoppm", "ppmtobmp", "convert-im6.q16"):
        if shutil.which(tool) is None:
            sys.exit(3)


def fixtures(out):
    os.makedirs(out, exist_ok=True)
    manifest = os.path.join(out, "fixtures.txt")
    if os.path.exists(manifest):
        return
    need_tools()
    with tempfile.TemporaryDirectory(dir=out) as tmp:
        names = hand_made(out) + tool_made(out, tmp)
    put(manifest, ("\n".join(names) + "\n").encode())


def read(folder):
    from PIL import Image
    for name in sorted(os.listdir(folder)):
        if name.endswith(".bmp"):
            im = Image.open(os.path.join(folder, name)).convert("RGB")
            put(os.path.join(folder, name[:-4] + ".pil.ppm"), b"P6\n%d %d\n255\n" % im.size + im.tobytes())


def apply(listfile):
    from PIL import Image, ImageOps
    with open(listfile) as f:
        for line in f:
            op, src, dst = line.split()
            im = Image.open(src).convert("RGB")
            im = {"flip": lambda: im.transpose(Image.FLIP_TOP_BOTTOM),
                  "mirror": lambda: im.transpose(Image.FLIP_LEFT_RIGHT),
                  "negative": lambda: ImageOps.invert(im)}[op]()
            put(dst, b"P6\n%d %d\n255\n" % im.size + im.tobytes())


if __name__ == "__main__":
    if sys.argv[1] == "fixtures":
        fixtures(sys.argv[2])
    elif sys.argv[1] == "read":
        read(sys.argv[2])
    else:
        apply(sys.argv[2])
