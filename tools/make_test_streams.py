#!/usr/bin/env python3
"""Writes synthetic images, compresses them with opj_compress using a named matrix of
options, and writes beside every stream (and beside every conformance codestream) a
plain-text <name>.facts file found by an independent scanner, plus the values that
opj_dump -i reports.

Facts, one per line:
  marker <code> <offset> <length>        length of the segment (0 for SOC, SOD, EOC)
  seg main <code> <body-hex>             main-header segment bodies (after the length)
  seg tile <Isot> <TPsot> <code> <body-hex>
  sot <offset> <Isot> <Psot> <TPsot> <TNsot>
  siz <Rsiz> <Xsiz> <Ysiz> <XOsiz> <YOsiz> <XTsiz> <YTsiz> <XTOsiz> <YTOsiz> <Csiz>
  sizc <i> <Ssiz> <XRsiz> <YRsiz>
  dump image <x0> <y0> <x1> <y1> <numcomps>
  dump comp <i> <dx> <dy> <prec> <sgnd>
  dump tiles <tx0> <ty0> <tdx> <tdy> <tw> <th>
  dump cod <csty> <prg> <numlayers> <mct>                  (default tile)
  dump tccp <comp> <csty> <numresolutions> <cblkw exp> <cblkh exp> <cblksty> <qmfbid>
            <qntsty> <numgbits>
  dump prec <comp> <w exp> <h exp> ...                      (lowest resolution first)
  dump steps <comp> <m> <e> ...

Standard library only; never calls the code under test.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

NO_SEGMENT = {0xFF4F, 0xFF93, 0xFFD9}

# name -> (image kind, image args, opj_compress options)
MATRIX = {
    "tiles32": ("pgm", (64, 48), ["-t", "32,32"]),
    "res11x13": ("pgm", (64, 48), ["-d", "11,13"]),
    "tiled_origin": ("pgm", (64, 48), ["-T", "11,13", "-d", "11,13", "-t", "32,32"]),
    "sub2x2": ("ppm", (64, 48), ["-s", "2,2"]),
    "raw_sub": ("raw", (64, 48, 3, 8, "u"), ["-F", "64,48,3,8,u@1x1:2x2:2x2"]),
    "raw12s": ("raw", (61, 47, 1, 12, "s"), ["-F", "61,47,1,12,s"]),
    "raw16u": ("raw", (61, 47, 1, 16, "u"), ["-F", "61,47,1,16,u"]),
    "roi": ("pgm", (64, 48), ["-ROI", "c=0,U=20"]),
    "poc": ("ppm", (64, 48), ["-POC", "T1=0,0,1,3,3,CPRL/T1=3,0,1,6,3,LRCP"]),
    # Coding style and quantisation.
    "blk16x32": ("pgm", (256, 256), ["-b", "16,32"]),
    "blk64x16": ("pgm", (256, 256), ["-b", "64,16"]),
    "blk4x1024": ("pgm", (256, 256), ["-b", "4,1024"]),
    "precincts": ("pgm", (256, 256), ["-c", "[64,64],[32,32],[16,16]"]),
    "irreversible": ("pgm", (256, 256), ["-I"]),
    "sop_eph": ("pgm", (256, 256), ["-SOP", "-EPH"]),
    "mct0": ("ppm", (256, 256), ["-mct", "0"]),
    "mct1": ("ppm", (256, 256), ["-mct", "1"]),
}
for _n in range(1, 9):
    MATRIX["levels%d" % _n] = ("pgm", (256, 256), ["-n", str(_n)])
for _m in (1, 2, 4, 8, 16, 32, 38, 63):
    MATRIX["modes%d" % _m] = ("pgm", (256, 256), ["-M", str(_m)])
for _p in ("LRCP", "RLCP", "RPCL", "PCRL", "CPRL"):
    MATRIX["order_" + _p] = ("pgm", (256, 256), ["-p", _p])


def pattern(x, y, c, maxval):
    return ((x * 7 + y * 13 + c * 29) ^ (x * y)) % (maxval + 1)


def write_image(path, kind, args):
    if kind in ("pgm", "ppm"):
        w, h = args
        comps = 1 if kind == "pgm" else 3
        with open(path, "wb") as f:
            f.write(("P5" if comps == 1 else "P6").encode() + b"\n%d %d\n255\n" % (w, h))
            f.write(bytes(pattern(x, y, c, 255) for y in range(h) for x in range(w)
                          for c in range(comps)))
    else:
        w, h, comps, bits, sign = args
        nbytes = 1 if bits <= 8 else 2
        maxval = (1 << bits) - 1
        out = bytearray()
        for c in range(comps):
            for y in range(h):
                for x in range(w):
                    v = pattern(x, y, c, maxval)
                    if sign == "s":
                        v -= 1 << (bits - 1)
                        v &= (1 << (8 * nbytes)) - 1
                    out += v.to_bytes(nbytes, "big")
        with open(path, "wb") as f:
            f.write(out)


def scan(data):
    """Independent marker scanner: main header, then each tile-part header."""
    facts = []
    if data[:2] != b"\xff\x4f":
        return facts
    facts.append("marker ff4f 0 0")
    pos = 2
    where = "main"
    tile_end = None
    while pos + 2 <= len(data):
        code = struct.unpack(">H", data[pos:pos + 2])[0]
        if code == 0xFFD9:
            facts.append("marker ffd9 %d 0" % pos)
            break
        if code == 0xFF93:
            facts.append("marker ff93 %d 0" % pos)
            if tile_end is None or tile_end <= pos:
                break
            pos = tile_end
            continue
        if code < 0xFF00 or pos + 4 > len(data):
            break
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        body = data[pos + 4:pos + 2 + length]
        facts.append("marker %04x %d %d" % (code, pos, length))
        if code == 0xFF90:
            isot, psot, tpsot, tnsot = struct.unpack(">HIBB", body[:8])
            facts.append("sot %d %d %d %d %d" % (pos, isot, psot, tpsot, tnsot))
            where = "tile %d %d" % (isot, tpsot)
            tile_end = pos + psot if psot else len(data) - 2
        else:
            facts.append("seg %s %04x %s" % (where, code, body.hex()))
        if code == 0xFF51:
            vals = struct.unpack(">HIIIIIIIIH", body[:36])
            facts.append("siz " + " ".join(str(v) for v in vals))
            for i in range(vals[-1]):
                s, xr, yr = body[36 + 3 * i:39 + 3 * i]
                facts.append("sizc %d %d %d %d" % (i, s, xr, yr))
        pos += 2 + length
    return facts


def dump_facts(path):
    try:
        text = subprocess.run(["opj_dump", "-i", path], capture_output=True, text=True,
                              check=False).stdout
    except OSError:
        return []
    facts = []
    m = re.search(r"x0=(\d+), y0=(\d+)\s+x1=(\d+), y1=(\d+)\s+numcomps=(\d+)", text)
    if m:
        facts.append("dump image " + " ".join(m.groups()))
    for i, m in enumerate(re.finditer(r"component \d+ \{\s+dx=(\d+), dy=(\d+)\s+prec=(\d+)\s+"
                                      r"sgnd=(\d+)", text)):
        facts.append("dump comp %d %s" % (i, " ".join(m.groups())))
    m = re.search(r"tx0=(\d+), ty0=(\d+)\s+tdx=(\d+), tdy=(\d+)\s+tw=(\d+), th=(\d+)", text)
    if m:
        facts.append("dump tiles " + " ".join(m.groups()))
    m = re.search(r"default tile \{\s+csty=(?:0x)?([0-9a-fA-F]+)\s+prg=(?:0x)?([0-9a-fA-F]+)\s+"
                  r"numlayers=(\d+)\s+mct=(\d+)", text)
    if m:
        facts.append("dump cod %d %d %s %s" % (int(m.group(1), 16), int(m.group(2), 16),
                                                m.group(3), m.group(4)))
    for m in re.finditer(r"comp (\d+) \{\s+csty=(?:0x)?([0-9a-fA-F]+)\s+numresolutions=(\d+)\s+"
                         r"cblkw=2\^(\d+)\s+cblkh=2\^(\d+)\s+cblksty=(?:0x)?([0-9a-fA-F]+)\s+"
                         r"qmfbid=(\d+)\s+preccintsize \(w,h\)=((?:\(\d+,\d+\) )*)\s*"
                         r"qntsty=(\d+)\s+numgbits=(\d+)\s+stepsizes \(m,e\)=((?:\(\d+,\d+\) ?)*)",
                         text):
        comp = m.group(1)
        facts.append("dump tccp %s %d %s %s %s %d %s %s %s" % (
            comp, int(m.group(2), 16), m.group(3), m.group(4), m.group(5), int(m.group(6), 16),
            m.group(7), m.group(9), m.group(10)))
        facts.append("dump prec %s %s" % (comp, " ".join(re.findall(r"\d+", m.group(8)))))
        facts.append("dump steps %s %s" % (comp, " ".join(re.findall(r"\d+", m.group(11)))))
    return facts


def write_facts(stream, facts_path):
    with open(stream, "rb") as f:
        data = f.read()
    lines = ["source " + os.path.basename(stream)] + scan(data) + dump_facts(stream)
    with open(facts_path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--conformance", required=True)
    args = ap.parse_args()
    parent = os.path.dirname(os.path.abspath(args.out))
    os.makedirs(parent, exist_ok=True)
    work = tempfile.mkdtemp(dir=parent, prefix=".streams-")
    for name, (kind, img_args, options) in MATRIX.items():
        ext = {"pgm": ".pgm", "ppm": ".ppm", "raw": ".raw"}[kind]
        src = os.path.join(work, name + ext)
        write_image(src, kind, img_args)
        dst = os.path.join(work, name + ".j2k")
        r = subprocess.run(["opj_compress", "-i", src, "-o", dst] + options,
                           capture_output=True, text=True)
        if r.returncode != 0 or not os.path.exists(dst):
            sys.stderr.write("opj_compress failed for %s:\n%s\n" % (name, r.stdout + r.stderr))
            return 1
        write_facts(dst, os.path.join(work, name + ".facts"))
    cdir = os.path.join(args.conformance, "codestreams")
    for entry in sorted(os.listdir(cdir)):
        if entry.endswith(".j2k"):
            write_facts(os.path.join(cdir, entry),
                        os.path.join(work, "conf_" + entry[:-4] + ".facts"))
    # Publish the whole set at once so concurrent test processes never see half of it.
    try:
        os.rename(work, args.out)
    except OSError:
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
