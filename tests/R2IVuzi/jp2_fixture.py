#!/usr/bin/python3
"""Makes the JP2 test files with opj_compress, streams each through the loopback server's
offline mode and describes each file with an independent box walker.

  jp2_fixture.py OUTDIR    writes OUTDIR/<name>.jp2, OUTDIR/<name>/reply-*.jpp and
                           OUTDIR/<name>.info ("key value" lines)
"""
import os
import re
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "..", "tools", "jpip_test_server.py")
W, H = 97, 61


def png_rgba(path):
    rows = b"".join(b"\x00" + bytes(v for x in range(W) for v in ((x * 3) & 255, (y * 4) & 255, (x ^ y) & 255, (x + y) & 255))
                    for y in range(H))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def boxes(data, start=0, end=None):
    end = len(data) if end is None else end
    i = start
    while i < end:
        lbox, tbox = struct.unpack(">I4s", data[i:i + 8])
        h = 8
        if lbox == 1:
            lbox = struct.unpack(">Q", data[i + 8:i + 16])[0]
            h = 16
        elif lbox == 0:
            lbox = end - i
        yield tbox.decode("latin-1"), data[i + h:i + lbox]
        i += lbox


def describe(path):
    with open(path, "rb") as f:
        data = f.read()
    info = {}
    for t, body in boxes(data):
        if t != "jp2h":
            continue
        for s, b in boxes(body):
            if s == "ihdr":
                h, w, nc, bpc = struct.unpack(">IIHB", b[:11])
                info.update(height=h, width=w, components=nc)
                depth = (bpc & 127) + 1
                info["depths"] = [(-depth if bpc & 128 else depth)] * nc
            elif s == "bpcc":
                info["depths"] = [(-((v & 127) + 1) if v & 128 else (v & 127) + 1) for v in b]
            elif s == "colr" and "space" not in info:
                info["space"] = struct.unpack(">I", b[3:7])[0] if b[0] == 1 else 0
            elif s == "cdef":
                n = struct.unpack(">H", b[:2])[0]
                info["cdef"] = [struct.unpack(">HHH", b[2 + 6 * k:8 + 6 * k]) for k in range(n)]
    dump = subprocess.run(["opj_dump", "-i", path], capture_output=True, text=True).stdout
    m = re.search(r"x1=(\d+), y1=(\d+)", dump)
    info["dump_width"], info["dump_height"] = int(m.group(1)), int(m.group(2))
    return info


def main(out):
    os.makedirs(out, exist_ok=True)
    grey = bytes((x * 5 + y * 3) & 255 for y in range(H) for x in range(W))
    with open(os.path.join(out, "g8.raw"), "wb") as f:
        f.write(grey)
    with open(os.path.join(out, "g16.raw"), "wb") as f:
        f.write(b"".join(struct.pack(">H", (x * 700 + y * 300) & 0xFFFF) for y in range(H) for x in range(W)))
    with open(os.path.join(out, "rgb.raw"), "wb") as f:
        f.write(bytes(v for i in range(W * H) for v in (grey[i], 255 - grey[i], grey[i] ^ 0x33)))
    cw, ch = (W + 1) // 2, (H + 1) // 2
    with open(os.path.join(out, "yuv.raw"), "wb") as f:
        f.write(grey + bytes(range(256)) * (cw * ch * 2 // 256 + 1))
    png_rgba(os.path.join(out, "rgba.png"))
    jobs = {
        "grey8": ["-i", "g8.raw", "-F", "%d,%d,1,8,u" % (W, H)],
        "grey16": ["-i", "g16.raw", "-F", "%d,%d,1,16,u" % (W, H)],
        "rgb8": ["-i", "rgb.raw", "-F", "%d,%d,3,8,u" % (W, H)],
        "sycc": ["-i", "yuv.raw", "-F", "%d,%d,3,8,u@1x1:2x2:2x2" % (W, H)],
        "rgba": ["-i", "rgba.png"],
    }
    with open(os.path.join(out, "yuv.raw"), "r+b") as f:
        f.truncate(W * H + 2 * cw * ch)
    for name, args in jobs.items():
        target = os.path.join(out, name + ".jp2")
        subprocess.run(["opj_compress"] + args + ["-o", target, "-t", "32,32", "-PLT", "-r", "8,2,1"],
                       cwd=out, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([sys.executable, SERVER, "stream", target, "--out", os.path.join(out, name), "--len", "4000"],
                       check=True)
        info = describe(target)
        with open(os.path.join(out, name + ".info"), "w") as f:
            for k, v in info.items():
                if isinstance(v, list):
                    v = " ".join(",".join(map(str, e)) if isinstance(e, tuple) else str(e) for e in v)
                f.write("%s %s\n" % (k, v))


if __name__ == "__main__":
    main(sys.argv[1])
