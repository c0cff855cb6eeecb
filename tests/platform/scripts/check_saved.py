#!/usr/bin/python3
"""Reads a saved BMP and PNG with the standard library (and the PNG with Pillow too, when it
is installed) and compares both with a raw dump (width, height as 32-bit little-endian,
then B, G, R, 0 rows top-down)."""
import struct
import sys
import zlib


def read_raw(path):
    data = open(path, "rb").read()
    w, h = struct.unpack_from("<II", data, 0)
    px = data[8:]
    return w, h, [[tuple(px[(y * w + x) * 4 + 2 - k] for k in range(3)) for x in range(w)] for y in range(h)]


def read_bmp(path):
    data = open(path, "rb").read()
    assert data[:2] == b"BM"
    off = struct.unpack_from("<I", data, 10)[0]
    size, w, h, planes, bpp = struct.unpack_from("<IiiHH", data, 14)
    assert size == 40 and planes == 1 and bpp == 32
    rows = []
    for y in range(abs(h)):
        stored = abs(h) - 1 - y if h > 0 else y
        base = off + stored * w * 4
        rows.append([(data[base + 4 * x + 2], data[base + 4 * x + 1], data[base + 4 * x]) for x in range(w)])
    return w, abs(h), rows


def read_png(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        n = struct.unpack_from(">I", data, pos)[0]
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + n]
        crc = struct.unpack_from(">I", data, pos + 8 + n)[0]
        assert zlib.crc32(kind + body) == crc, "bad CRC"
        if kind == b"IHDR":
            w, h, depth, colour = struct.unpack_from(">IIBB", body, 0)
            assert depth == 8 and colour == 2
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw = zlib.decompress(idat)  # checks the Adler-32
    rows = []
    stride = w * 3 + 1
    assert len(raw) == h * stride
    prior = bytes(w * 3)
    for y in range(h):
        kind, line = raw[y * stride], bytearray(raw[y * stride + 1:(y + 1) * stride])
        assert kind <= 4, "unknown filter %d" % kind
        for i in range(len(line)):
            a = line[i - 3] if i >= 3 else 0
            b, c = prior[i], prior[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[3 * x:3 + 3 * x]) for x in range(w)])
        prior = bytes(line)
    return w, h, rows


def read_png_pillow(path):
    from PIL import Image
    with Image.open(path) as image:
        w, h = image.size
        px = image.convert("RGB").tobytes()
    return w, h, [[tuple(px[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]


def main():
    raw = read_raw(sys.argv[1])
    read = [("bmp", read_bmp(sys.argv[2])), ("png", read_png(sys.argv[3]))]
    try:
        read.append(("png by Pillow", read_png_pillow(sys.argv[3])))
    except ImportError:
        pass
    for name, got in read:
        if got != raw:
            print(name, "differs")
            return 1
    print("same")
    return 0


if __name__ == "__main__":
    sys.exit(main())
