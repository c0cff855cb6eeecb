#!/usr/bin/env python3
"""BMP test files. Exit status 3: a tool is missing.

  fixtures DIR     other writers' files and hand-made ones: X.bmp with its pixels X.ppm, names in
                   DIR/fixtures.txt; tool-made files get the pixels two of bmptopnm, Pillow and
                   ImageMagick agree on, hand-made ones those worked out here
  read DIR         Pillow's reading of every DIR/*.bmp, as *.pil.ppm
  apply LIST       for each line "OP IN OUT": Pillow's OP (flip, mirror, negative) of IN, in OUT
"""
import os, random, struct, subprocess, sys, tempfile

from fixture_files import put, require


def ppm(w, h, pixels):
    return b"P6\n%d %d\n255\n" % (w, h) + bytes(pixels)


def parse_ppm(data):
    head, pos = [], 0
    while len(head) < 4:  # the tools here write no comments
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        head.append(data[pos:end])
        pos = end
    w, h = int(head[1]), int(head[2])
    return w, h, data[pos + 1:pos + 1 + w * h * 3]


def bmp(width, height, bpp, data, palette=(), compression=0, header=40, masks=b"", file_header=True):
    """data: pixel bytes as stored; palette: (r, g, b) entries."""
    info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bpp, compression, len(data), 2835, 2835,
                       len(palette), 0) + bytes(header - 40)
    body = info + masks + b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(body)
    head = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) if file_header else b""
    return head + body + data


def rows_of(px, bottom_up=True):
    """24-bit rows padded to 4 bytes from top-down rows of (r, g, b)."""
    rows = [bytes(c for p in row for c in p[::-1]) for row in (px[::-1] if bottom_up else px)]
    return b"".join(r + bytes(-len(r) % 4) for r in rows)


def widen(w, mask):
    """The field under mask as 8 bits, its bits repeated downward (as ImageMagick reads BMP)."""
    low = (mask & -mask).bit_length() - 1
    bits = mask.bit_length() - low
    v = (w & mask) >> low
    if bits >= 8:
        return v >> (bits - 8)
    out = v << (8 - bits)
    for _ in range(8 // bits):
        out |= out >> bits
    return out & 255


def rgb16(w, rmask, gmask, bmask):
    return tuple(widen(w, m & 0xFFFF) for m in (rmask, gmask, bmask))


def hand_made(rnd):
    pal16 = [(i * 10, 255 - i * 10, i * 3) for i in range(16)]
    colour = lambda w, h: [[tuple(rnd.randrange(256) for _ in range(3)) for _ in range(w)] for _ in range(h)]
    made = {}
    # RLE8: run, odd literal with its pad, end of line, delta, run, end of line, literal, end.
    made["hand_rle8"] = (bmp(8, 4, 8, bytes([3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 2, 5, 0, 2, 3, 1, 2, 6, 0, 0,
                                             0, 4, 7, 8, 9, 10, 0, 1]), pal16, 1),
                         [[pal16[i] for i in r] for r in ([7, 8, 9, 10, 0, 0, 0, 0], [0, 0, 0, 0, 0, 6, 6, 0],
                                                          [5, 5, 0, 0, 0, 0, 0, 0], [1, 1, 1, 2, 3, 4, 0, 0])])
    # RLE4: run of alternating nibbles, absolute run of 3, end of line, delta, run, end.
    made["hand_rle4"] = (bmp(6, 3, 4, bytes([5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 2, 0, 2, 0x77, 0, 1]),
                             pal16, 2),
                         [[pal16[i] for i in r] for r in ([0, 0, 7, 7, 0, 0], [3, 4, 5, 0, 0, 0], [1, 2, 1, 2, 1, 0])])
    px = colour(5, 3)
    made["hand_topdown"] = (bmp(5, -3, 24, rows_of(px, False)), px)
    made["hand_bottomup"] = (bmp(5, 3, 24, rows_of(px)), px)
    for name, words, masks in (("hand_555", [[0x7FFF, 0x7C00, 0x03E0], [0x001F, 0x0000, 0x4210]], None),
                               ("hand_565", [[0xFFFF, 0xF800, 0x07E0], [0x001F, 0x1234, 0x8410]], (0xF800, 0x07E0, 0x1F))):
        data = b"".join(struct.pack("<3H", *r) + b"\0\0" for r in words[::-1])
        made[name] = (bmp(3, 2, 16, data, (), 3 if masks else 0, masks=struct.pack("<3I", *masks) if masks else b""),
                      [[rgb16(w, *(masks or (0x7C00, 0x03E0, 0x1F))) for w in r] for r in words])
    px = colour(3, 2)  # 32 bits: the fourth byte dropped, bit-field masks skipped
    data = b"".join(bytes(c for p in row for c in p[::-1] + (rnd.randrange(256),)) for row in px[::-1])
    made["hand_32"] = (bmp(3, 2, 32, data), px)
    made["hand_32fields"] = (bmp(3, 2, 32, data, (), 3, masks=struct.pack("<3I", 0xFF0000, 0xFF00, 0xFF)), px)
    pal4 = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 99, 199)]
    idx = [[rnd.randrange(4) for _ in range(5)] for _ in range(3)]
    made["hand_headerless"] = (bmp(5, 3, 8, b"".join(bytes(r) + bytes(3) for r in idx[::-1]), pal4, file_header=False),
                               [[pal4[i] for i in r] for r in idx])
    px = colour(4, 3)
    made["hand_header64"] = (bmp(4, 3, 24, rows_of(px), header=64), px)
    made["hand_header108"] = (bmp(4, 3, 24, rows_of(px), header=108), px)
    return {n: (d, ppm(len(p[0]), len(p), [c for row in p for q in row for c in q])) for n, (d, p) in made.items()}


def agreed(path):
    from PIL import Image
    got = []
    for cmd in ("bmptopnm %s 2>/dev/null | ppmtoppm" % path, "convert-im6.q16 %s -depth 8 ppm:-" % path):
        r = subprocess.run(cmd, shell=True, capture_output=True)
        got.append(parse_ppm(r.stdout) if r.returncode == 0 and r.stdout else None)
    try:
        im = Image.open(path).convert("RGB")
        got.append((im.width, im.height, im.tobytes()))
    except Exception:
        pass
    for i, a in enumerate(got):
        if a and a in got[i + 1:]:
            return ppm(*a)
    raise SystemExit("no two readers agree on " + path)


def tool_made(rnd, tmp):
    from PIL import Image
    src = {}
    for bpp, w, h, n in ((1, 9, 7, 2), (4, 9, 7, 16), (8, 11, 9, 200), (24, 11, 9, 4096)):
        cols = [[rnd.randrange(256) for _ in range(3)] for _ in range(n)]
        src[bpp] = os.path.join(tmp, "p%d.ppm" % bpp)
        with open(src[bpp], "wb") as f:
            f.write(ppm(w, h, [c for _ in range(w * h) for c in rnd.choice(cols)]))
    jobs = {"ppmtobmp_%d" % b: "ppmtobmp -bpp %d %s" % (b, src[b]) for b in (1, 4, 8, 24)}
    jobs["ppmtobmp_os2"] = "ppmtobmp -os2 -bpp 8 %s" % src[8]  # at least 6 x 6
    jobs["im_bmp3"] = "convert-im6.q16 %s -type Palette -compress None BMP3:-" % src[8]
    jobs["im_bmp3_24"] = "convert-im6.q16 %s -type TrueColor BMP3:-" % src[24]
    jobs["im_bmp3_rle"] = "convert-im6.q16 %s -type Palette -compress RLE BMP3:-" % src[8]
    made = {}
    for name, cmd in jobs.items():
        made[name] = subprocess.run(cmd + " 2>/dev/null", shell=True, capture_output=True, check=True).stdout
    base = Image.open(src[24])
    rgba = base.convert("RGBA")
    rgba.putalpha(base.convert("L"))
    for name, im in (("pil_1", base.convert("1")), ("pil_L", base.convert("L")), ("pil_RGB", base), ("pil_RGBA", rgba),
                     ("pil_P", Image.open(src[8]).convert("P", palette=Image.ADAPTIVE, colors=256))):
        path = os.path.join(tmp, name + ".bmp")
        im.save(path, "BMP")
        made[name] = open(path, "rb").read()
    out = {}
    for name, data in made.items():
        path = os.path.join(tmp, name + ".bmp")
        with open(path, "wb") as f:
            f.write(data)
        out[name] = (data, agreed(path))
    return out


def fixtures(out):
    os.makedirs(out, exist_ok=True)
    if os.path.exists(os.path.join(out, "fixtures.txt")):
        return
    require(*("bmptopnm", "ppmtoppm", "ppmtobmp", "convert-im6.q16"))
    rnd = random.Random(37)
    with tempfile.TemporaryDirectory(dir=out) as tmp:
        files = {**hand_made(rnd), **tool_made(rnd, tmp)}
    for name, (data, ref) in files.items():
        put(os.path.join(out, name + ".ppm"), ref)
        put(os.path.join(out, name + ".bmp"), data)
    put(os.path.join(out, "fixtures.txt"), "\n".join(files).encode() + b"\n")


def pillow(path, op=None):
    from PIL import Image, ImageOps
    im = Image.open(path).convert("RGB")
    im = {None: im, "negative": ImageOps.invert(im), "flip": im.transpose(Image.FLIP_TOP_BOTTOM),
          "mirror": im.transpose(Image.FLIP_LEFT_RIGHT)}[op]
    return b"P6\n%d %d\n255\n" % im.size + im.tobytes()


if __name__ == "__main__":
    if sys.argv[1] == "fixtures":
        fixtures(sys.argv[2])
    elif sys.argv[1] == "read":
        for n in sorted(f for f in os.listdir(sys.argv[2]) if f.endswith(".bmp")):
            put(os.path.join(sys.argv[2], n[:-4] + ".pil.ppm"), pillow(os.path.join(sys.argv[2], n)))
    else:
        for line in open(sys.argv[2]):
            op, src, dst = line.split()
            put(dst, pillow(src, op))
