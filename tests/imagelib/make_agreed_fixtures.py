#!/usr/bin/env python3
"""Hand-made BMP, GIF, PCX and ICO files that real files showed the decoders wrong on, with
the pixels outside decoders agree on. Exit status 3: a tool is missing.

  fixtures DIR   X.bmp / X.gif / X.pcx / X.ico, and for each frame N read X.N.ppm (colours)
                 and X.N.pgm (opacity 0-255); DIR/fixtures.txt lists "X.EXT N TOOLS", TOOLS
                 the decoders that agreed ("+"-joined). Pixels agree when their opacities are
                 equal and, where not fully transparent, their colours too. Each case names the
                 decoders that read it the standard way; at least two of them must agree, and
                 where the case also states its pixels, the tools must agree with those.
"""
import io, os, struct, subprocess, sys, tempfile

from fixture_files import put, require

# ---- reading with the outside decoders: RGBA rows, or None ------------------------------


def rgba_of(im):
    im = im.convert("RGBA")
    return im.size, list(im.getdata())


def pillow(path, frame):
    from PIL import Image
    im = Image.open(path)
    im.seek(frame)
    return rgba_of(im)


def magick(path, frame):
    from PIL import Image
    r = subprocess.run(["convert-im6.q16", path, "-coalesce", "PNG32:-"], capture_output=True)
    if r.returncode != 0 or not r.stdout:
        return None
    # Frames come out as PNGs one after the other.
    pngs = [b"\x89PNG" + p for p in r.stdout.split(b"\x89PNG")[1:]]
    return rgba_of(Image.open(io.BytesIO(pngs[frame]))) if frame < len(pngs) else None


NETPBM = {".bmp": "bmptopnm", ".gif": "giftopnm", ".pcx": "pcxtoppm", ".ico": "winicontopam -andmasks"}


def netpbm(path, frame):
    from PIL import Image
    ext = os.path.splitext(path)[1]
    cmd = NETPBM[ext] + (" -image=%d" % (frame + 1) if ext == ".gif" else "") + " " + path
    r = subprocess.run(cmd + " 2>/dev/null", shell=True, capture_output=True)
    if r.returncode != 0 or not r.stdout:
        return None
    if ext != ".ico":
        return rgba_of(Image.open(io.BytesIO(r.stdout)))
    # A PAM of red, green, blue, alpha and the AND mask (1 = opaque); the alpha stands for
    # the image's own.
    data = r.stdout
    head = data[:data.index(b"ENDHDR\n")].decode().split("\n")
    field = {line.split(" ", 1)[0]: line.split(" ", 1)[1] for line in head[1:] if " " in line}
    w, h, depth = int(field["WIDTH"]), int(field["HEIGHT"]), int(field["DEPTH"])
    px = data[data.index(b"ENDHDR\n") + 7:]
    return (w, h), [tuple(px[i * depth:i * depth + 4]) for i in range(w * h)]


READERS = {"pil": pillow, "im": magick, "nb": netpbm}


def same(a, b):
    if a is None or b is None or a[0] != b[0]:
        return False
    return all(p[3] == q[3] and (p[3] == 0 or p[:3] == q[:3]) for p, q in zip(a[1], b[1]))


def read(tool, path, frame):
    try:
        return READERS[tool](path, frame)
    except Exception:  # a reader that refuses the file
        return None


def agreed(path, frame, tools, expected):
    got = {t: read(t, path, frame) for t in tools}
    names = [t for t in tools if got[t] is not None]
    for i, a in enumerate(names):
        agree = [a] + [b for b in names[i + 1:] if same(got[a], got[b])]
        if len(agree) >= 2:
            if expected is not None and not same(got[a], expected):
                raise SystemExit("%s frame %d: %s read other pixels than the case states" % (path, frame, agree))
            return got[a], agree
    raise SystemExit("%s frame %d: no two of %s agree" % (path, frame, tools))


# ---- BMP ---------------------------------------------------------------------------------


def bmp(width, height, bpp, data, palette=(), compression=0, masks=b""):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, len(data), 2835, 2835, len(palette), 0)
    body = info + masks + b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(body)
    return struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + body + data


PAL16 = [(i * 16, 255 - i * 16, (i * 97) % 256) for i in range(16)]


def indexed(rows, pal=PAL16):
    """Stated pixels from rows of indices, top row first."""
    return (len(rows[0]), len(rows)), [pal[i] + (255,) for r in rows for i in r]


def bmp_cases():
    cases = {}
    # 4-bit runs and absolute blocks starting at odd columns: nibbles by the pixel's place
    # in its run, not by its column. Even block lengths: Pillow drops an odd one's last pixel.
    cases["rle4_odd_starts"] = (bmp(7, 3, 4, bytes([
        3, 0x12, 4, 0x34, 0, 0,             # bottom row: 1 2 1 | 3 4 3 4
        1, 0x50, 0, 4, 0x67, 0x89, 2, 0xAB, 0, 0,  # 5 | 6 7 8 9 | A B
        3, 0xCD, 0, 4, 0xEF, 0x12, 0, 0,    # C D C | E F 1 2
        0, 1]), PAL16, 2), ["pil", "im", "nb"],
        indexed([[12, 13, 12, 14, 15, 1, 2], [5, 6, 7, 8, 9, 10, 11], [1, 2, 1, 3, 4, 3, 4]]))
    # A delta moves by pixels (Pillow reads two bytes too many, netpbm takes no deltas).
    cases["rle4_delta"] = (bmp(7, 2, 4, bytes([
        2, 0x12, 0, 2, 3, 0, 2, 0x34, 0, 0,  # 1 2, three pixels on, 3 4
        3, 0x56, 0, 2, 1, 0, 3, 0x78, 0, 1]), PAL16, 2), ["im"],
        indexed([[5, 6, 5, 0, 7, 8, 7], [1, 2, 0, 0, 0, 3, 4]]))
    # 8-bit runs past the row end: the pixels past it are dropped and decoding goes on.
    cases["rle8_past_row"] = (bmp(6, 3, 8, bytes([9, 1, 0, 0, 6, 2, 0, 0, 3, 3, 3, 4, 0, 1]), PAL16, 1),
                              ["pil", "im", "nb"], indexed([[3, 3, 3, 4, 4, 4], [2] * 6, [1] * 6]))
    # 32-bit bit fields with red in the top byte: the masks, not the byte order, place the
    # channels (widths other than 8 bits are scaled by some readers, cut by others).
    px = [[(10, 20, 30), (200, 100, 50)], [(1, 2, 3), (255, 0, 128)]]
    data = b"".join(bytes([99, b, g, r]) for row in px[::-1] for r, g, b in row)
    cases["bitfields32"] = (bmp(2, 2, 32, data, (), 3, struct.pack("<3I", 0xFF000000, 0xFF0000, 0xFF00)),
                            ["pil", "im", "nb"], ((2, 2), [p + (255,) for row in px for p in row]))
    return {n + ".bmp": (d, [(0, tools, expected)]) for n, (d, tools, expected) in cases.items()}


# ---- GIF ---------------------------------------------------------------------------------


def lzw(indices, size, leading_clear=True):
    """Codes LSB first in sub-blocks, widths grown as a decoder grows them."""
    clear, table, nxt, w, codes = 1 << size, {(i,): i for i in range(1 << size)}, (1 << size) + 2, (), []
    for k in indices:
        if w + (k,) in table:
            w += (k,)
            continue
        codes.append(table[w])
        table[w + (k,)] = nxt
        nxt += 1
        w = (k,)
    codes += [table[w], clear + 1]
    if leading_clear:
        codes.insert(0, clear)
    bits, width, slot, first = [], size + 1, clear + 2, True
    for code in codes:
        bits += [(code >> i) & 1 for i in range(width)]
        if code == clear:
            width, slot, first = size + 1, clear + 2, True
            continue
        if not first:
            slot += 1
            if slot == 1 << width and width < 12:
                width += 1
        first = False
    data = bytes(sum(b << i for i, b in enumerate(bits[n:n + 8])) for n in range(0, len(bits), 8))
    return bytes([size]) + b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"


def table_bytes(pal):
    """The size code (2^(code + 1) entries) and the table, padded."""
    n = max(2, 1 << (len(pal) - 1).bit_length())
    return n.bit_length() - 2, b"".join(bytes(c) for c in pal) + bytes(3 * (n - len(pal)))


def gif(w, h, pal, blocks):
    code, table = table_bytes(pal)
    return b"GIF89a" + struct.pack("<HHBBB", w, h, 0x80 | code << 4 | code, 0, 0) + table + b"".join(blocks) + b";"


def frame(left, top, rows, local=None, leading_clear=True):
    flags, table = 0, b""
    if local:
        code, table = table_bytes(local)
        flags = 0x80 | code
    size = max(2, (max(max(r) for r in rows)).bit_length())
    return (b"," + struct.pack("<HHHHB", left, top, len(rows[0]), len(rows), flags) + table +
            lzw([i for r in rows for i in r], size, leading_clear))


def gce(disposal=0, transparent=None):
    return b"!\xf9\x04" + bytes([disposal << 2 | (transparent is not None), 0, 0, transparent or 0, 0])


def grid(w, h, f):
    return [[f(x, y) for x in range(w)] for y in range(h)]


def compose(screen, rows, left, top, pal, transparent=None):
    """Stated pixels: a frame laid on a copy of a screen of RGBA rows."""
    screen = [list(r) for r in screen]
    for y, r in enumerate(rows):
        for x, i in enumerate(r):
            if i != transparent:
                screen[top + y][left + x] = pal[i] + (255,)
    return screen


def stated(screen):
    return (len(screen[0]), len(screen)), [p for r in screen for p in r]


def gif_cases():
    g = [(i * 40 % 256, i * 90 % 256, 255 - i * 16) for i in range(16)]
    local = [(250 - i * 30, i * 20, i * 60 % 256) for i in range(8)]
    base = grid(12, 8, lambda x, y: (x * 3 + y * 5) % 16)
    cases = {}
    # The data starts without a clear code: its first code adds no table entry.
    rows = grid(12, 8, lambda x, y: (x // 3 + y) % 4)
    cases["no_leading_clear"] = (gif(12, 8, g, [frame(0, 0, rows, leading_clear=False)]), ["pil", "im", "nb"],
                                 [stated(compose(grid(12, 8, lambda x, y: None), rows, 0, 0, g))])
    # An extension with no data blocks: its first length is the terminator.
    cases["empty_comment"] = (gif(12, 8, g, [b"!\xfe\x00", frame(0, 0, base)]), ["pil", "im", "nb"],
                                 [stated(compose(grid(12, 8, lambda x, y: None), base, 0, 0, g))])
    # Frames with their own tables over earlier frames: colours, not indices, stay. The
    # second frame is transparent at index 0; the third uses the global table again.
    f1 = grid(5, 4, lambda x, y: (x + y) % 8)
    f2 = grid(4, 3, lambda x, y: (x * y + 7) % 16)
    s0 = compose(grid(12, 8, lambda x, y: None), base, 0, 0, g)
    s1 = compose(s0, f1, 2, 1, local, 0)
    s2 = compose(s1, f2, 7, 4, g)
    cases["local_tables"] = (gif(12, 8, g, [frame(0, 0, base), gce(1, 0), frame(2, 1, f1, local), frame(7, 4, f2)]),
                             ["pil", "im"], [stated(s0), stated(s1), stated(s2)])
    # Disposal 3: the frame after it sees the screen as it was before it.
    d1 = grid(6, 5, lambda x, y: (x + 2 * y) % 16)
    d2 = grid(3, 3, lambda x, y: (x + y + 9) % 16)
    t0 = compose(grid(12, 8, lambda x, y: None), base, 0, 0, g)
    t1 = compose(t0, d1, 1, 1, g)
    t2 = compose(t0, d2, 8, 4, g)
    cases["disposal_previous"] = (gif(12, 8, g, [gce(1), frame(0, 0, base), gce(3), frame(1, 1, d1), gce(1),
                                                 frame(8, 4, d2)]), ["pil", "im"], [stated(t0), stated(t1), stated(t2)])
    return {n + ".gif": (d, [(k, tools, e) for k, e in enumerate(frames)]) for n, (d, tools, frames) in cases.items()}


# ---- PCX and ICO -------------------------------------------------------------------------


def pcx(w, h, planes, rows):
    """1-bit planes, uncoded bytes (none has its two top bits set); rows of indices."""
    bpl = (w + 15) // 16 * 2
    head = bytearray(128)
    head[0:4] = bytes([10, 5, 1, 1])
    head[8:12] = struct.pack("<HH", w - 1, h - 1)
    head[12:16] = struct.pack("<HH", 72, 72)
    head[16:64] = b"".join(bytes(c) for c in PAL16)
    head[65] = planes
    head[66:68] = struct.pack("<H", bpl)
    data = b""
    for r in rows:
        for p in range(planes):
            line = bytearray(bpl)
            for x, i in enumerate(r):
                line[x // 8] |= ((i >> p) & 1) << (7 - x % 8)
            data += b"".join(bytes([0xC1, v]) if v >= 0xC0 else bytes([v]) for v in line)
    return bytes(head) + data


def ico32(w, h, pixels, mask_rows):
    """pixels: top-down rows of (r, g, b, a); mask_rows: top-down rows of 0/1."""
    xor = b"".join(bytes([b, g, r, a]) for row in pixels[::-1] for r, g, b, a in row)
    stride = (w + 31) // 32 * 4
    mask = b""
    for row in mask_rows[::-1]:
        line = bytearray(stride)
        for x, m in enumerate(row):
            line[x // 8] |= m << (7 - x % 8)
        mask += bytes(line)
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor), 0, 0, 0, 0)
    image = info + xor + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22) + image


def pcx_ico_cases():
    cases = {}
    for planes in (2, 3):
        rows = grid(13, 4, lambda x, y: (x + 3 * y) % (1 << planes))
        cases["planes%d.pcx" % planes] = (pcx(13, 4, planes, rows), [(0, ["pil", "im", "nb"], stated(
            [[PAL16[i] + (255,) for i in r] for r in rows]))])
    # 32-bit icon whose alpha shows pixels its AND mask marks: the alpha rules.
    px = grid(8, 6, lambda x, y: ((x * 30) % 256, (y * 40) % 256, 90, [0, 128, 255][(x + y) % 3]))
    mask = grid(8, 6, lambda x, y: int(x < 4))
    cases["alpha32.ico"] = (ico32(8, 6, px, mask), [(0, ["pil", "im", "nb"], stated(
        [[p if p[3] else (0, 0, 0, 0) for p in r] for r in px]))])
    # 32-bit icons whose alpha is 0 everywhere carry no alpha: opaque but where the mask is
    # set, under varied colours or one. Pillow and ImageMagick show them wholly transparent.
    for name, colour in (("zero_alpha32", lambda x, y: ((x * 30) % 256, (y * 40) % 256, 90)),
                         ("zero_alpha32_one_colour", lambda x, y: (200, 10, 10) if x < 3 else (x * 30, y * 40, 90))):
        px = grid(8, 6, lambda x, y: colour(x, y) + (0,))
        mask = grid(8, 6, lambda x, y: int(x < 3))
        cases[name + ".ico"] = (ico32(8, 6, px, mask), [(0, ["nb"], stated(
            [[(0, 0, 0, 0) if m else p[:3] + (255,) for p, m in zip(r, mr)] for r, mr in zip(px, mask)]))])
    return cases


# ---- output ------------------------------------------------------------------------------


def pnm(size, pixels):
    w, h = size
    return (b"P6\n%d %d\n255\n" % (w, h) + bytes(c for p in pixels for c in p[:3]),
            b"P5\n%d %d\n255\n" % (w, h) + bytes(p[3] for p in pixels))


def fixtures(out):
    os.makedirs(out, exist_ok=True)
    if os.path.exists(os.path.join(out, "fixtures.txt")):
        return
    require("convert-im6.q16", "bmptopnm", "giftopnm", "pcxtoppm", "winicontopam")
    lines = []
    with tempfile.TemporaryDirectory(dir=out) as tmp:
        for name, (data, frames) in {**bmp_cases(), **gif_cases(), **pcx_ico_cases()}.items():
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(data)
            for n, tools, expected in frames:
                ref, agree = agreed(path, n, tools, expected) if len(tools) > 1 else (expected, tools + ["stated"])
                if len(tools) == 1 and not same(read(tools[0], path, n), expected):
                    raise SystemExit("%s: %s reads other pixels than the case states" % (name, tools[0]))
                ppm, pgm = pnm(*ref)
                stem = os.path.join(out, "%s.%d" % (name.rsplit(".", 1)[0], n))
                put(stem + ".ppm", ppm)
                put(stem + ".pgm", pgm)
                lines.append("%s %d %s" % (name, n, "+".join(agree)))
            put(os.path.join(out, name), data)
    put(os.path.join(out, "fixtures.txt"), ("\n".join(lines) + "\n").encode())


if __name__ == "__main__":
    fixtures(sys.argv[2])
