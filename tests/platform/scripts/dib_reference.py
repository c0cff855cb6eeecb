#!/usr/bin/python3
"""Device-independent bitmaps of every depth and compression, written byte by byte here as
BMP files into the folder named by the first argument, each with the picture Pillow decodes
from it (or numpy, for masks Pillow does not read) as raw RGB rows, top-down. Prints one
line a case: "name width height tolerance": tolerance is the largest channel difference
allowed, 1 where decoders may widen 5- and 6-bit channels by rounding instead of
repeating their bits."""
import io
import os
import random
import struct
import sys

import numpy as np
from PIL import Image

W, H = 13, 7


def bmp(bpp, height, compression, palette, pixel_bytes, masks=None, clr_used=0):
    header = struct.pack("<IiiHHIIiiII", 40, W, height, 1, bpp, compression, len(pixel_bytes), 2835, 2835,
                         clr_used, 0)
    extra = b"".join(struct.pack("<I", m) for m in masks) if masks else b""
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + len(header) + len(extra) + len(table)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixel_bytes), 0, 0, offset)
    return head + header + extra + table + pixel_bytes


def rows(stored, stride):
    out = b""
    for r in stored:
        out += r + b"\0" * (stride - len(r))
    return out


def packed(indices, bpp):
    """One row of palette indices packed most significant bits first."""
    out = bytearray((len(indices) * bpp + 7) // 8)
    for x, v in enumerate(indices):
        bit = x * bpp
        out[bit // 8] |= v << (8 - bpp - bit % 8)
    return bytes(out)


def indexed(rng, bpp, colours, top_down, clr_used=0):
    palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(colours)]
    img = [[rng.randrange(colours) for _ in range(W)] for _ in range(H)]
    stride = ((W * bpp + 31) // 32) * 4
    stored = img if top_down else img[::-1]
    return bmp(bpp, -H if top_down else H, 0, palette, rows([packed(r, bpp) for r in stored], stride),
               clr_used=clr_used)


def direct(rng, bpp, top_down, compression=0, masks=None):
    stride = ((W * bpp + 31) // 32) * 4
    stored = [bytes(rng.randrange(256) for _ in range(W * bpp // 8)) for _ in range(H)]
    return bmp(bpp, -H if top_down else H, compression, [], rows(stored, stride), masks=masks)


def rle(rng, four):
    """Runs, literal runs (odd lengths padded), line ends and the picture's end, encoded
    here. No moves, and no odd-length literal runs in 4-bit pictures: Pillow stops at the
    first move and loses its place after an odd 4-bit literal run, where the format's
    meaning is plain (the test works both out by hand)."""
    colours = 16 if four else 256
    palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(colours)]
    data = bytearray()
    for y in range(H):
        x = 0
        while x < W:
            n = min(W - x, rng.randrange(1, 6))
            if four and n % 2 and n >= 3:
                n -= 1
            if rng.random() < 0.5 or n < 3:
                v = rng.randrange(colours)
                data += bytes([n, (v << 4 | rng.randrange(16)) if four else v])
            else:
                vals = [rng.randrange(colours) for _ in range(n)]
                lit = packed(vals, 4) if four else bytes(vals)
                data += bytes([0, n]) + lit + (b"\0" if len(lit) % 2 else b"")
            x += n
        data += bytes([0, 0])
    data += bytes([0, 1])
    return bmp(4 if four else 8, H, 2 if four else 1, palette, bytes(data))


def by_masks(data, masks):
    """Channels of 32-bit pixels under arbitrary masks, each brought to its top 8 bits."""
    off = struct.unpack_from("<I", data, 10)[0]
    height = struct.unpack_from("<i", data, 22)[0]
    px = np.frombuffer(data[off:off + W * abs(height) * 4], dtype="<u4").reshape(abs(height), W)
    out = []
    for m in masks:
        shift = (m & -m).bit_length() - 1
        width = bin(m).count("1")
        v = (px & m) >> shift
        out.append((v >> max(0, width - 8)).astype(np.uint8))
    rgb = np.stack(out, axis=-1)
    return rgb if height < 0 else rgb[::-1]


def main():
    folder = sys.argv[1]
    rng = random.Random(77)
    cases = [
        ("bits1_bottom_up", indexed(rng, 1, 2, False), 0),
        ("bits1_top_down", indexed(rng, 1, 2, True), 0),
        ("bits4", indexed(rng, 4, 16, False), 0),
        ("bits4_five_colours", indexed(rng, 4, 5, False, clr_used=5), 0),
        ("bits8", indexed(rng, 8, 256, False), 0),
        ("bits8_top_down", indexed(rng, 8, 200, True, clr_used=200), 0),
        ("bits16_555", direct(rng, 16, False), 1),
        ("bits16_565", direct(rng, 16, True, 3, [0xF800, 0x07E0, 0x001F]), 1),
        ("bits24", direct(rng, 24, False), 0),
        ("bits24_top_down", direct(rng, 24, True), 0),
        ("bits32", direct(rng, 32, False), 0),
        ("bits32_fields", direct(rng, 32, True, 3, [0x00FF0000, 0x0000FF00, 0x000000FF]), 0),
        ("rle8", rle(rng, False), 0),
        ("rle4", rle(rng, True), 0),
    ]
    odd = [0x3FF00000, 0x000FFC00, 0x000003FF]
    ten_bit = direct(rng, 32, False, 3, odd)
    for name, data, tolerance in cases:
        with open(os.path.join(folder, name + ".bmp"), "wb") as f:
            f.write(data)
        rgb = np.asarray(Image.open(io.BytesIO(data)).convert("RGB"))
        with open(os.path.join(folder, name + ".rgb"), "wb") as f:
            f.write(rgb.tobytes())
        print(name, W, H, tolerance)
    with open(os.path.join(folder, "bits32_ten_bit.bmp"), "wb") as f:
        f.write(ten_bit)
    with open(os.path.join(folder, "bits32_ten_bit.rgb"), "wb") as f:
        f.write(by_masks(ten_bit, odd).tobytes())
    print("bits32_ten_bit", W, H, 0)


if __name__ == "__main__":
    main()
