#!/usr/bin/python3
"""Makes the codec's test codestreams and their facts.

make_test_streams.py OUT_DIR [GROUP ...]
make_test_streams.py --scan FILE    (prints FILE's facts lines)

Synthetic images are made here, encoded with opj_compress, and each codestream gets a
<name>.facts file from the scanner below. Groups: "input" (tile-part and packet-length
streams), "blocks" (single code-block streams for every block coding mode), "conformance"
(facts for the conformance codestreams under tests/data/conformance), "params"
(streams for the coding-parameter classes, and for them and every conformance codestream
a <name>.dump file: the SIZ fields decoded here and the values opj_dump -i reports),
"decode" (streams with opj_decompress's decodes to compare with, listed below),
"packets" (single-level packet-reading streams with their raw sources), "packet_matrix"
(the packet-reading option matrix, listed in packets.list, with the source samples of its
images in pm_<image>.samples), "packet_big" (pm_big: 2048x2048, 8 bits, in 16 tiles, for
memory bounds), "region" (grey and colour streams with opj_decompress's decodes, for the
region decompressor), "views" (multi-tile colour streams with precincts, layers and
packet lengths, for persistent codestreams whose view changes), "precincts" (precinct
partitions for region decodes, listed in precinct_streams.txt), "bypass" (bypass streams
with packet lengths, for the test-side packet locator). Every file is written under a temporary name and renamed, so parallel test processes can share
OUT_DIR.

Facts lines (offsets from the start of the codestream, values decimal, bodies hex):
  marker OFFSET CODE LENGTH BODY   CODE as 0xffnn; LENGTH excludes the two length bytes
  sot OFFSET ISOT PSOT TPSOT TNSOT
  sod OFFSET
  eoc OFFSET

packets.list lines (tab-separated): NAME IMAGE LEVELS OPTIONS (opj_compress options).
pm_<image>.samples: one line per component, "DX DY WIDTH HEIGHT DEPTH SIGNED" and then
the component's samples in raster order.

Dump lines (<name>.dump):
  siz RSIZ XSIZ YSIZ XOSIZ YOSIZ XTSIZ YTSIZ XTOSIZ YTOSIZ CSIZ
  sizc I SSIZ XRSIZ YRSIZ
  dump image X0 Y0 X1 Y1 NUMCOMPS
  dump comp I DX DY PREC SGND
  dump tiles TX0 TY0 TDX TDY TW TH
  dump cod CSTY PRG NUMLAYERS MCT                          (default tile)
  dump tccp COMP CSTY NUMRESOLUTIONS CBLKW_EXP CBLKH_EXP CBLKSTY QMFBID QNTSTY NUMGBITS
  dump prec COMP W_EXP H_EXP ...                           (lowest resolution first)
  dump steps COMP M E ...
"""
import fcntl
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CONFORMANCE = os.path.join(HERE, "..", "tests", "data", "conformance", "codestreams")

NO_SEGMENT = {0xFF4F, 0xFF93, 0xFFD9, 0xFF92}


def scan(data):
    """Lists markers, SOT fields and SOD positions of a codestream."""
    out = []
    pos = 0
    if data[0:2] != b"\xff\x4f":
        raise ValueError("no SOC")
    out.append("marker 0 0xff4f 0 -")
    pos = 2

    def segments(pos, stop_codes):
        while pos + 2 <= len(data):
            code = (data[pos] << 8) | data[pos + 1]
            if data[pos] != 0xFF:
                raise ValueError("no marker at %d" % pos)
            if 0xFF30 <= code <= 0xFF3F:
                out.append("marker %d 0x%04x 0 -" % (pos, code))
                pos += 2
                continue
            if code in stop_codes:
                return pos, code
            length = (data[pos + 2] << 8) | data[pos + 3]
            body = data[pos + 4: pos + 2 + length]
            out.append("marker %d 0x%04x %d %s" % (pos, code, length - 2, body.hex() or "-"))
            pos += 2 + length
        return pos, None

    pos, code = segments(pos, {0xFF90, 0xFFD9})
    while code == 0xFF90:
        sot = pos
        lsot = (data[pos + 2] << 8) | data[pos + 3]
        isot = (data[pos + 4] << 8) | data[pos + 5]
        psot = int.from_bytes(data[pos + 6: pos + 10], "big")
        tpsot, tnsot = data[pos + 10], data[pos + 11]
        out.append("marker %d 0xff90 %d %s" % (pos, lsot - 2, data[pos + 4: pos + 2 + lsot].hex()))
        out.append("sot %d %d %d %d %d" % (pos, isot, psot, tpsot, tnsot))
        pos, code = segments(pos + 2 + lsot, {0xFF93})
        if code != 0xFF93:
            raise ValueError("no SOD")
        out.append("marker %d 0xff93 0 -" % pos)
        out.append("sod %d" % pos)
        if psot == 0:
            end = len(data) - 2
        else:
            end = sot + psot
        pos = end
        if pos + 2 > len(data):
            break
        code = (data[pos] << 8) | data[pos + 1]
    if code == 0xFFD9:
        out.append("eoc %d" % pos)
    return out


def atomic_write(path, data):
    d = os.path.dirname(path)
    fd, tmp = tempfile.mkstemp(dir=d, prefix=".tmp_")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def write_facts(out_dir, name, data):
    atomic_write(os.path.join(out_dir, name + ".facts"), ("\n".join(scan(data)) + "\n").encode())


def pgm(width, height, maxval, samples):
    head = b"P5\n%d %d\n%d\n" % (width, height, maxval)
    if maxval < 256:
        return head + bytes(samples)
    return head + b"".join(s.to_bytes(2, "big") for s in samples)


def raw(samples, nbytes, signed):
    return b"".join(s.to_bytes(nbytes, "big", signed=signed) for s in samples)


def smooth_image(width, height, depth, seed, signed=False):
    """Gradients plus noise: blocks with many bit-planes and busy low planes."""
    rng = random.Random(seed)
    top = (1 << depth) - 1
    out = []
    for y in range(height):
        for x in range(width):
            v = (x * 7 + y * 13 + (x * y) // 5) % (top + 1)
            v = (v + rng.randrange(0, max(2, top // 8))) % (top + 1)
            out.append(v - (1 << (depth - 1)) if signed else v)
    return out


def encode(out_dir, name, image_name, image_bytes, args):
    target = os.path.join(out_dir, name + ".j2k")
    if os.path.exists(target) and os.path.exists(os.path.join(out_dir, name + ".facts")):
        return
    with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
        src = os.path.join(tmp, image_name)
        with open(src, "wb") as f:
            f.write(image_bytes)
        dst = os.path.join(tmp, "out.j2k")
        subprocess.run(["opj_compress", "-i", src, "-o", dst] + args, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(dst, "rb") as f:
            data = f.read()
    atomic_write(target, data)
    write_facts(out_dir, name, data)


def make_input_streams(out_dir):
    img = pgm(128, 128, 255, smooth_image(128, 128, 8, 1))
    encode(out_dir, "tlm_tp_r", "a.pgm", img, ["-t", "32,32", "-TLM", "-TP", "R"])
    plt = ["-PLT", "-t", "64,64", "-c", "[32,32]"]
    encode(out_dir, "plt_rpcl", "a.pgm", img, plt + ["-r", "20,10,1", "-p", "RPCL"])
    encode(out_dir, "plt_cprl", "a.pgm", img, plt + ["-r", "20,10,1", "-p", "CPRL"])
    encode(out_dir, "plt_lrcp1", "a.pgm", img, plt + ["-p", "LRCP"])
    encode(out_dir, "plt_lrcp", "a.pgm", img, plt + ["-r", "20,10,1", "-p", "LRCP"])
    # 8x8 precincts at the top level, halved below it: 256 precincts at each of four levels.
    many = ["-n", "4", "-r", "20,10,5", "-c", "[8,8]"]
    encode(out_dir, "many_precincts_lrcp", "a.pgm", img, many + ["-p", "LRCP"])
    encode(out_dir, "many_precincts_rlcp", "a.pgm", img, many + ["-p", "RLCP"])
    small = pgm(16, 16, 255, smooth_image(16, 16, 8, 2))
    encode(out_dir, "small_sop_eph", "s.pgm", small, ["-n", "2", "-SOP", "-EPH"])
    encode(out_dir, "small_tiles", "s.pgm", small, ["-n", "2", "-t", "8,8", "-TLM", "-PLT"])


def packet_raw(width, height, comps, depth, signed, seed, sub=None):
    """Planar raw samples (opj_compress -F), with per-component sub-sampling."""
    planes = []
    for c in range(comps):
        sy, sx = sub[c] if sub else (1, 1)
        w, h = (width + sx - 1) // sx, (height + sy - 1) // sy
        planes.append(smooth_image(w, h, depth, seed + c, signed))
    nbytes = 1 if depth <= 8 else 2
    return b"".join(raw(p, nbytes, signed) for p in planes)


# name, extra opj_compress arguments; all of 64x48x3 8-bit unsigned unless marked.
PACKET_STREAMS = [
    ("lrcp", ["-p", "LRCP"]), ("rlcp", ["-p", "RLCP"]), ("rpcl", ["-p", "RPCL"]),
    ("pcrl", ["-p", "PCRL"]), ("cprl", ["-p", "CPRL"]),
    ("prec", ["-c", "[32,32],[16,16]"]), ("b16", ["-b", "16,16"]), ("b8x16", ["-b", "8,16"]),
    ("tiles", ["-t", "40,30"]), ("offset", ["-t", "37,29", "-T", "11,13", "-d", "11,13"]),
    ("tpr", ["-TP", "R"]), ("tpl", ["-TP", "L", "-r", "20,10,1"]),
    ("tpc", ["-TP", "C"]), ("sop_eph", ["-SOP", "-EPH"]), ("plt_tlm", ["-PLT", "-TLM"]),
    ("layers", ["-r", "20,10,1"]), ("modes", ["-M", "63"]),
    ("poc", ["-r", "20,10,1", "-POC", "T1=0,0,3,1,2,CPRL/T1=0,2,3,1,3,LRCP"]),
]


def make_packet_streams(out_dir):
    """Single-level streams (-n 1) whose blocks equal the source samples, with the raw
    source beside each (<name>.raw, planar)."""
    def one(name, data, fmt, args):
        encode(out_dir, name, "a.raw", data, ["-F", fmt, "-n", "1", "-mct", "0"] + args)
        atomic_write(os.path.join(out_dir, name + ".raw"), data)
    rgb = packet_raw(64, 48, 3, 8, False, 5)
    for name, args in PACKET_STREAMS:
        one("pk_" + name, rgb, "64,48,3,8,u", args)
    sub = [(1, 1), (2, 2), (2, 2)]
    one("pk_sub", packet_raw(64, 48, 3, 8, False, 7, sub), "64,48,3,8,u@1x1:2x2:2x2",
        ["-t", "40,30"])
    one("pk_s12", packet_raw(64, 48, 1, 12, True, 9), "64,48,1,12,s", ["-SOP", "-EPH"])
    # With wavelet levels: packet lengths across tile-parts split by resolution.
    encode(out_dir, "pk_n3_plt_tpr", "a.raw", rgb,
           ["-F", "64,48,3,8,u", "-n", "3", "-PLT", "-TP", "R", "-p", "RPCL", "-c",
            "[16,16]", "-t", "40,30", "-r", "20,10,1"])


BLOCK_IMAGES = [
    # name, width, height, depth, signed, format
    ("u8_64x64", 64, 64, 8, False, "pgm"),
    ("u8_61x47", 61, 47, 8, False, "pgm"),
    ("s12_64x64", 64, 64, 12, True, "raw"),
    ("s12_61x47", 61, 47, 12, True, "raw"),
    ("u16_64x64", 64, 64, 16, False, "raw"),
    ("u16_61x47", 61, 47, 16, False, "raw"),
]


def block_image(spec, seed):
    name, w, h, depth, signed, fmt = spec
    samples = smooth_image(w, h, depth, seed, signed)
    if fmt == "pgm":
        return "img.pgm", pgm(w, h, (1 << depth) - 1, samples), [], samples
    nbytes = 1 if depth <= 8 else 2
    args = ["-F", "%d,%d,1,%d,%s" % (w, h, depth, "s" if signed else "u")]
    return "img.raw", raw(samples, nbytes, signed), args, samples


def make_block_streams(out_dir, modes):
    for idx, spec in enumerate(BLOCK_IMAGES):
        image_name, image_bytes, extra, samples = block_image(spec, 100 + idx)
        sample_file = os.path.join(out_dir, "blk_%s.samples" % spec[0])
        if not os.path.exists(sample_file):
            atomic_write(sample_file, (" ".join(str(s) for s in samples) + "\n").encode())
        for m in modes:
            encode(out_dir, "blk_%s_m%d" % (spec[0], m), image_name, image_bytes,
                   extra + ["-n", "1", "-b", "64,64", "-M", str(m)])


def make_noisy_block_streams(out_dir):
    rng = random.Random(7)
    samples = [rng.randrange(-2048, 2048) for _ in range(64 * 64)]
    for m in (0, 1, 4, 63):
        encode(out_dir, "noisy_s12_m%d" % m, "n.raw", raw(samples, 2, True),
               ["-F", "64,64,1,12,s", "-n", "1", "-b", "64,64", "-M", str(m)])
    # Sparse: one sample in 32 nonzero, the rest zero (long runs for the cleanup pass).
    sparse = [rng.randrange(-2048, 2048) if rng.randrange(32) == 0 else 0 for _ in range(64 * 64)]
    encode(out_dir, "sparse_s12_m0", "n.raw", raw(sparse, 2, True),
           ["-F", "64,64,1,12,s", "-n", "1", "-b", "64,64", "-M", "0"])


def make_conformance_facts(out_dir):
    for f in sorted(os.listdir(CONFORMANCE)):
        if not f.endswith(".j2k"):
            continue
        name = "conf_" + f[:-4]
        if os.path.exists(os.path.join(out_dir, name + ".facts")):
            continue
        with open(os.path.join(CONFORMANCE, f), "rb") as fh:
            write_facts(out_dir, name, fh.read())


# Coding-parameter streams: name -> (image kind, (width, height[, comps, bits, sign]),
# opj_compress options).
PARAM_MATRIX = {
    "tiles32": ("pgm", (64, 48), ["-t", "32,32"]),
    "res11x13": ("pgm", (64, 48), ["-d", "11,13"]),
    "tiled_origin": ("pgm", (64, 48), ["-T", "11,13", "-d", "11,13", "-t", "32,32"]),
    "sub2x2": ("ppm", (64, 48), ["-s", "2,2"]),
    "raw_sub": ("raw", (64, 48, 3, 8, "u"), ["-F", "64,48,3,8,u@1x1:2x2:2x2"]),
    "raw12s": ("raw", (61, 47, 1, 12, "s"), ["-F", "61,47,1,12,s"]),
    "raw2_sub": ("raw", (64, 48, 2, 8, "u"), ["-F", "64,48,2,8,u@1x1:2x2"]),
    "raw4_sub": ("raw", (64, 48, 4, 8, "u"), ["-F", "64,48,4,8,u@1x1:2x2:2x2:1x1"]),
    "grey_s2": ("pgm", (64, 48), ["-s", "2,2"]),
    "raw16u": ("raw", (61, 47, 1, 16, "u"), ["-F", "61,47,1,16,u"]),
    "roi": ("pgm", (64, 48), ["-ROI", "c=0,U=20"]),
    "poc": ("ppm", (64, 48), ["-POC", "T1=0,0,1,3,3,CPRL/T1=3,0,1,6,3,LRCP"]),
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
    PARAM_MATRIX["levels%d" % _n] = ("pgm", (256, 256), ["-n", str(_n)])
for _m in (1, 2, 4, 8, 16, 32, 38, 63):
    PARAM_MATRIX["modes%d" % _m] = ("pgm", (256, 256), ["-M", str(_m)])
for _p in ("LRCP", "RLCP", "RPCL", "PCRL", "CPRL"):
    PARAM_MATRIX["order_" + _p] = ("pgm", (256, 256), ["-p", _p])


def param_image(kind, args):
    if kind in ("pgm", "ppm"):
        w, h = args
        comps = 1 if kind == "pgm" else 3
        samples = smooth_image(w, h * comps, 8, 11)
        head = (b"P5" if comps == 1 else b"P6") + b"\n%d %d\n255\n" % (w, h)
        return "img." + kind, head + bytes(samples)
    w, h, comps, bits, sign = args
    samples = smooth_image(w, h * comps, bits, 12, sign == "s")
    return "img.raw", raw(samples, 1 if bits <= 8 else 2, sign == "s")


def siz_lines(data):
    """Decodes the SIZ segment that follows SOC."""
    if data[2:4] != b"\xff\x51":
        return []
    length = (data[4] << 8) | data[5]
    body = data[6:4 + length]
    vals = struct.unpack(">HIIIIIIIIH", body[:36])
    out = ["siz " + " ".join(str(v) for v in vals)]
    for i in range(vals[-1]):
        s, xr, yr = body[36 + 3 * i:39 + 3 * i]
        out.append("sizc %d %d %d %d" % (i, s, xr, yr))
    return out


def dump_lines(path):
    text = subprocess.run(["opj_dump", "-i", path], capture_output=True, text=True,
                          check=False).stdout
    out = []
    m = re.search(r"x0=(\d+), y0=(\d+)\s+x1=(\d+), y1=(\d+)\s+numcomps=(\d+)", text)
    if m:
        out.append("dump image " + " ".join(m.groups()))
    for i, m in enumerate(re.finditer(r"component \d+ \{\s+dx=(\d+), dy=(\d+)\s+prec=(\d+)\s+"
                                      r"sgnd=(\d+)", text)):
        out.append("dump comp %d %s" % (i, " ".join(m.groups())))
    m = re.search(r"tx0=(\d+), ty0=(\d+)\s+tdx=(\d+), tdy=(\d+)\s+tw=(\d+), th=(\d+)", text)
    if m:
        out.append("dump tiles " + " ".join(m.groups()))
    m = re.search(r"default tile \{\s+csty=(?:0x)?([0-9a-fA-F]+)\s+prg=(?:0x)?([0-9a-fA-F]+)\s+"
                  r"numlayers=(\d+)\s+mct=(\d+)", text)
    if m:
        out.append("dump cod %d %d %s %s" % (int(m.group(1), 16), int(m.group(2), 16),
                                              m.group(3), m.group(4)))
    for m in re.finditer(r"comp (\d+) \{\s+csty=(?:0x)?([0-9a-fA-F]+)\s+numresolutions=(\d+)\s+"
                         r"cblkw=2\^(\d+)\s+cblkh=2\^(\d+)\s+cblksty=(?:0x)?([0-9a-fA-F]+)\s+"
                         r"qmfbid=(\d+)\s+preccintsize \(w,h\)=((?:\(\d+,\d+\) )*)\s*"
                         r"qntsty=(\d+)\s+numgbits=(\d+)\s+stepsizes \(m,e\)=((?:\(\d+,\d+\) ?)*)",
                         text):
        comp = m.group(1)
        out.append("dump tccp %s %d %s %s %s %d %s %s %s" % (
            comp, int(m.group(2), 16), m.group(3), m.group(4), m.group(5), int(m.group(6), 16),
            m.group(7), m.group(9), m.group(10)))
        out.append("dump prec %s %s" % (comp, " ".join(re.findall(r"\d+", m.group(8)))))
        out.append("dump steps %s %s" % (comp, " ".join(re.findall(r"\d+", m.group(11)))))
    return out


def write_dump(out_dir, name, path):
    target = os.path.join(out_dir, name + ".dump")
    if os.path.exists(target):
        return
    with open(path, "rb") as f:
        data = f.read()
    atomic_write(target, ("\n".join(siz_lines(data) + dump_lines(path)) + "\n").encode())


def make_param_streams(out_dir):
    for name, (kind, args, options) in PARAM_MATRIX.items():
        image_name, image_bytes = param_image(kind, args)
        encode(out_dir, name, image_name, image_bytes, options)
        write_dump(out_dir, name, os.path.join(out_dir, name + ".j2k"))
    make_conformance_facts(out_dir)
    for f in sorted(os.listdir(CONFORMANCE)):
        if f.endswith(".j2k"):
            write_dump(out_dir, "conf_" + f[:-4], os.path.join(CONFORMANCE, f))


# Decode comparisons: images of every depth and sign, encoded with a sampled matrix of
# opj_compress options, and opj_decompress's own decodes of each at every discard level
# and over a few regions. decode_cases.txt lists them, one case a line:
#   KIND STREAM DEPTH REDUCE X0 Y0 X1 Y1 REFERENCE   (X0 = "-" for the whole image)
# KIND is "rev" (lossless), "irr" (-I) or "roi" (lossless with a region up-shift).
# Irreversible streams also get STREAM.samples, the source image.
DECODE_IMAGES = []
for _d in range(2, 17, 2):
    DECODE_IMAGES.append(("u%d" % _d, _d, False, "raw"))
    DECODE_IMAGES.append(("s%d" % _d, _d, True, "raw"))
for _d in (9, 11, 13, 15):
    DECODE_IMAGES.append(("p%d" % _d, _d, False, "pgm"))
DECODE_SIZES = [(61, 47), (33, 1), (1, 33), (127, 126), (256, 256)]
DECODE_OPTIONS = [["-n", str(_n)] for _n in range(1, 8)] + [
    ["-d", "11,13"],
    ["-t", "37,29", "-T", "11,13", "-d", "11,13"],
    ["-s", "2,2"],
    ["-c", "[32,32],[16,16]"],
    ["-b", "64,16"],
    ["-r", "20,10,1"],
    ["-M", "63"],
] + [["-p", _p] for _p in ("LRCP", "RLCP", "RPCL", "PCRL", "CPRL")]
# Irreversible: 8-, 12- and 16-bit images, odd offsets on tiny images for 1-wide and
# 1-tall nodes.
DECODE_IRREVERSIBLE = [
    ("u8", (61, 47), ["-d", "11,13"]),
    ("u8", (127, 126), []),
    ("s8", (256, 256), ["-n", "7"]),
    ("u8", (33, 1), ["-d", "11,13", "-n", "2"]),
    ("u8", (1, 33), ["-d", "13,11", "-n", "2"]),
    ("u8", (61, 47), ["-t", "37,29", "-T", "11,13", "-d", "11,13"]),
    ("u12", (61, 47), ["-d", "11,13"]),
    ("s12", (127, 126), ["-b", "64,16"]),
    ("u16", (61, 47), ["-d", "11,13"]),
    ("s16", (127, 126), []),
]


def decode_image(spec, size, seed, samples_file=None):
    name, depth, signed, fmt = spec
    w, h = size
    samples = smooth_image(w, h, depth, seed, signed)
    # Both ends of the range appear.
    samples[0] = -(1 << (depth - 1)) if signed else 0
    samples[-1] = (1 << (depth - 1)) - 1 if signed else (1 << depth) - 1
    if samples_file and not os.path.exists(samples_file):
        atomic_write(samples_file, (" ".join(str(v) for v in samples) + "\n").encode())
    if fmt == "pgm":
        return "img.pgm", pgm(w, h, (1 << depth) - 1, samples), []
    args = ["-F", "%d,%d,1,%d,%s" % (w, h, depth, "s" if signed else "u")]
    return "img.raw", raw(samples, 1 if depth <= 8 else 2, signed), args


def try_encode(out_dir, name, image_name, image_bytes, args):
    try:
        encode(out_dir, name, image_name, image_bytes, args)
        return True
    except subprocess.CalledProcessError:
        return False  # a level count or size that opj_compress refuses


def reference_decode(out_dir, stream, reduce, region):
    tag = "%s_r%d" % (stream, reduce)
    args = ["-r", str(reduce)]
    if region:
        tag += "_d%d_%d_%d_%d" % region
        args += ["-d", "%d,%d,%d,%d" % region]
    target = os.path.join(out_dir, tag + ".pgx")
    if not os.path.exists(target):
        with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
            done = subprocess.run(["opj_decompress", "-i", os.path.join(out_dir, stream + ".j2k"),
                                   "-o", os.path.join(tmp, "ref.pgx")] + args,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if done.returncode != 0:
                # opj_decompress refuses images and regions that are empty at the
                # reduced size.
                if region or reduce > 0:
                    return None
                raise RuntimeError("opj_decompress failed on " + stream)
            os.replace(os.path.join(tmp, "ref_0.pgx"), target)
    return tag + ".pgx"


def decode_levels(args):
    return int(args[args.index("-n") + 1]) - 1 if "-n" in args else 5


def decode_regions(size, args):
    """Regions on the canvas: one sample wide, one sample tall, and one across tiles."""
    w, h = size
    ox, oy = 0, 0
    if "-d" in args:
        ox, oy = (int(v) for v in args[args.index("-d") + 1].split(","))
    return [(ox + w // 3, oy, ox + w // 3 + 1, oy + h),
            (ox, oy + h // 2, ox + w, oy + h // 2 + 1),
            (ox + w // 4, oy + h // 5, ox + (3 * w) // 4 + 1, oy + (4 * h) // 5 + 1)]


def make_decode_streams(out_dir):
    manifest = os.path.join(out_dir, "decode_cases.txt")
    # Test processes start together: one makes the streams while the others wait.
    with open(os.path.join(out_dir, ".decode.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(manifest):
            make_decode_cases(out_dir, manifest)


def make_decode_cases(out_dir, manifest):
    cases = []

    def add_cases(kind, stream, depth, size, args, all_levels):
        levels = decode_levels(args)
        for r in (range(levels + 1) if all_levels else (0, levels)):
            ref = reference_decode(out_dir, stream, r, None)
            if ref:
                cases.append("%s %s %d %d - - - - %s" % (kind, stream, depth, r, ref))
        for i, region in enumerate(decode_regions(size, args)):
            r = min(i % 2, levels)
            ref = reference_decode(out_dir, stream, r, region)
            if ref:
                cases.append("%s %s %d %d %d %d %d %d %s" % ((kind, stream, depth, r) + region +
                                                             (ref,)))

    # Each option set meets two images and a size in turn, so that every depth, sign and
    # size is covered without the full product.
    n = 0
    for k, options in enumerate(DECODE_OPTIONS):
        for j in range(2):
            spec = DECODE_IMAGES[(2 * k + j) % len(DECODE_IMAGES)]
            size = DECODE_SIZES[(k + 3 * j) % len(DECODE_SIZES)]
            if options[0] == "-n":
                size = (256, 256) if int(options[1]) > 5 else (61, 47)
            elif min(size) == 1:
                # A line of samples takes one level at most; an odd offset makes its
                # nodes odd.
                options = options + ["-n", "2"] + ([] if "-d" in options else ["-d", "11,13"])
            image_name, image_bytes, extra = decode_image(spec, size, 300 + n)
            stream = "dec_%s_%dx%d_%d" % (spec[0], size[0], size[1], n)
            n += 1
            # Fewer levels where small tiles or sub-sampled images refuse the default.
            tries = [options] + [options + ["-n", str(k)] for k in range(5, 1, -1)
                                 if "-n" not in options]
            for opts in tries:
                if try_encode(out_dir, stream, image_name, image_bytes, extra + opts):
                    add_cases("rev", stream, spec[1], size, opts, True)
                    break
    specs = {s[0]: s for s in DECODE_IMAGES}
    for k, (img, size, options) in enumerate(DECODE_IRREVERSIBLE):
        spec = specs[img]
        stream = "irr_%s_%dx%d_%d" % (img, size[0], size[1], k)
        # The source samples, to tell which decoder is nearer where they differ.
        image_name, image_bytes, extra = decode_image(
            spec, size, 400 + k, os.path.join(out_dir, stream + ".samples"))
        if try_encode(out_dir, stream, image_name, image_bytes, extra + ["-I"] + options):
            add_cases("irr", stream, spec[1], size, options, False)
    for k, img in enumerate(("u8", "s4")):
        image_name, image_bytes, extra = decode_image(specs[img], (127, 126), 500 + k)
        stream = "roi_%s_%d" % (img, k)
        if try_encode(out_dir, stream, image_name, image_bytes, extra + ["-ROI", "c=0,U=20"]):
            add_cases("roi", stream, specs[img][1], (127, 126), [], False)
    atomic_write(manifest, ("\n".join(cases) + "\n").encode())


# Tiny and edge geometries for the inverse wavelet: images one sample wide or tall, 1x1 and
# 2x2, and short last tiles (1 to 3 samples) under many levels, with odd image and
# tile-grid offsets; 5/3 and 9/7. edge_cases.txt lists them in the format of
# decode_cases.txt, with opj_decompress's decodes at every level and over a few regions.
EDGE_STREAMS = [
    ("u8", (61, 1), ["-n", "1"]),
    ("u8", (61, 1), ["-d", "11,13", "-n", "2"]),
    ("s12", (1, 47), ["-d", "13,11", "-n", "2"]),
    ("u8", (1, 1), ["-n", "1"]),
    ("u8", (1, 1), ["-d", "1,1", "-n", "1"]),
    ("u8", (2, 2), ["-n", "2"]),
    ("u8", (2, 2), ["-d", "1,1", "-n", "2"]),
    ("u8", (100, 65), ["-t", "64,64", "-n", "6"]),
    ("u16", (65, 100), ["-t", "64,64", "-n", "6"]),
    ("u8", (100, 67), ["-t", "64,64", "-n", "7", "-d", "3,5", "-T", "3,5"]),
    ("s8", (67, 66), ["-t", "64,64", "-n", "7", "-d", "5,3", "-T", "5,3"]),
    ("u8", (130, 131), ["-t", "64,64", "-n", "7", "-d", "1,1", "-T", "1,1"]),
    ("u12", (35, 19), ["-t", "16,16", "-n", "4", "-d", "3,1", "-T", "3,1"]),
    ("u8", (19, 35), ["-t", "16,16", "-n", "5", "-d", "1,3", "-T", "1,3"]),
    ("u8", (50, 41), ["-t", "8,8", "-n", "3", "-d", "7,7", "-T", "7,7"]),
]
EDGE_IRREVERSIBLE = [
    ("u8", (61, 1), ["-d", "11,13", "-n", "2"]),
    ("u8", (1, 47), ["-d", "13,11", "-n", "2"]),
    ("u8", (100, 65), ["-t", "64,64", "-n", "6"]),
    ("u12", (65, 100), ["-t", "64,64", "-n", "6"]),
    ("u8", (130, 131), ["-t", "64,64", "-n", "7"]),
]


def pgx_values(path):
    with open(path, "rb") as f:
        data = f.read()
    end = data.index(b"\n")
    head = data[:end].decode().replace("+", " + ").replace("-", " - ").split()
    signed = "-" in head
    depth, w, h = (int(t) for t in [t for t in head[2:] if t not in ("+", "-")][:3])
    nbytes = 1 if depth <= 8 else (2 if depth <= 16 else 4)
    body = data[end + 1:]
    return [int.from_bytes(body[i * nbytes:(i + 1) * nbytes], "big", signed=signed)
            for i in range(w * h)]


def make_edge_streams(out_dir):
    manifest = os.path.join(out_dir, "edge_cases.txt")
    with open(os.path.join(out_dir, ".edge.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(manifest):
            make_edge_cases(out_dir, manifest)


def make_edge_cases(out_dir, manifest):
    specs = {s[0]: s for s in DECODE_IMAGES}
    cases = []
    for kind, table in (("rev", EDGE_STREAMS), ("irr", EDGE_IRREVERSIBLE)):
        for k, (img, size, options) in enumerate(table):
            spec = specs[img]
            stream = "edge_%s_%s_%dx%d_%d" % (kind, img, size[0], size[1], k)
            image_name, image_bytes, extra = decode_image(spec, size, 900 + k)
            args = extra + options + (["-I"] if kind == "irr" else [])
            if not try_encode(out_dir, stream, image_name, image_bytes, args):
                continue  # opj_compress fails on some of these with -I
            levels = decode_levels(options)
            kind_here = kind
            for r in range(levels + 1):
                ref = reference_decode(out_dir, stream, r, None)
                if r == 0 and kind == "rev":
                    samples = smooth_image(size[0], size[1], spec[1], 900 + k, spec[2])
                    samples[0] = -(1 << (spec[1] - 1)) if spec[2] else 0
                    samples[-1] = (1 << (spec[1] - 1)) - 1 if spec[2] else (1 << spec[1]) - 1
                    # "lost": opj_compress's lossless stream does not give its source
                    # back (lone odd columns of narrow tiles hold odd values there).
                    if pgx_values(os.path.join(out_dir, ref)) != samples:
                        kind_here = "lost"
                if ref:
                    cases.append("%s %s %d %d - - - - %s" % (kind_here, stream, spec[1], r, ref))
            w, h = size
            ox, oy = (int(v) for v in options[options.index("-d") + 1].split(",")) \
                if "-d" in options else (0, 0)
            # The last column and row, and a block across the lower right tiles.
            regions = [(ox + w - 1, oy, ox + w, oy + h), (ox, oy + h - 1, ox + w, oy + h),
                       (ox + w // 2, oy + h // 2, ox + w, oy + h)]
            for i, region in enumerate(regions):
                r = min(i % 2, levels)
                ref = reference_decode(out_dir, stream, r, region)
                if ref:
                    cases.append("%s %s %d %d %d %d %d %d %s" % ((kind_here, stream, spec[1], r) +
                                                                 region + (ref,)))
    atomic_write(manifest, ("\n".join(cases) + "\n").encode())



# Colour and multi-component cases for the multi-component network, each decoded by
# opj_decompress at every discard level and over regions. multi_cases.txt lines:
#   KIND STREAM REDUCE X0 Y0 X1 Y1 NCOMP REFERENCE   (X0 = "-" for the whole image)
# KIND is "rev" (lossless) or "irr" (-I). REFERENCE names <REFERENCE>_<c>.samples files:
# width and height, then the samples, all 32-bit little-endian.
MULTI_W, MULTI_H = 61, 47


def colour_planes(w, h, comps, depth, seed, subs=None):
    """Smooth, correlated colour planes (so the transforms see real colour)."""
    base = smooth_image(w, h, depth, seed)
    rng = random.Random(seed + 1)
    top = (1 << depth) - 1
    planes = []
    for c in range(comps):
        dx, dy = subs[c] if subs else (1, 1)
        cw, ch = (w + dx - 1) // dx, (h + dy - 1) // dy
        p = []
        for y in range(ch):
            for x in range(cw):
                v = base[(y * dy) * w + x * dx] + (c * 37 - 40) + rng.randrange(-top // 16, top // 16 + 1)
                p.append(min(top, max(0, v)))
        planes.append(p)
    planes[0][0] = 0
    planes[-1][-1] = top
    return planes


def pgx_to_samples(src, dst):
    with open(src, "rb") as f:
        data = f.read()
    end = data.index(b"\n")
    head = data[:end].decode().replace("+", " + ").replace("-", " - ").split()
    order = head[1]
    signed = "-" in head
    nums = [t for t in head[2:] if t not in ("+", "-")]
    depth, w, h = int(nums[0]), int(nums[1]), int(nums[2])
    nbytes = 1 if depth <= 8 else (2 if depth <= 16 else 4)
    body = data[end + 1:]
    out = [struct.pack("<ii", w, h)]
    for i in range(w * h):
        v = int.from_bytes(body[i * nbytes:(i + 1) * nbytes], "big" if order == "ML" else "little",
                           signed=signed)
        out.append(struct.pack("<i", v))
    atomic_write(dst, b"".join(out))


def multi_reference(out_dir, stream, ncomp, reduce, region):
    tag = "%s_r%d" % (stream, reduce)
    args = ["-r", str(reduce)]
    if region:
        tag += "_d%d_%d_%d_%d" % region
        args += ["-d", "%d,%d,%d,%d" % region]
    if os.path.exists(os.path.join(out_dir, "%s_%d.samples" % (tag, ncomp - 1))):
        return tag
    with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
        done = subprocess.run(["opj_decompress", "-i", os.path.join(out_dir, stream + ".j2k"),
                               "-o", os.path.join(tmp, "ref.pgx")] + args,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if done.returncode != 0:
            return None
        for c in range(ncomp):
            pgx_to_samples(os.path.join(tmp, "ref_%d.pgx" % c),
                           os.path.join(out_dir, "%s_%d.samples" % (tag, c)))
    return tag


def make_multi_streams(out_dir):
    manifest = os.path.join(out_dir, "multi_cases.txt")
    if os.path.exists(manifest):
        return
    w, h = MULTI_W, MULTI_H
    cases = []

    def add(kind, stream, ncomp, planes, depth, fmt, args, levels, subs=None):
        if fmt == "ppm":
            body = b"".join(bytes([planes[0][i], planes[1][i], planes[2][i]]) for i in range(w * h))
            image = ("img.ppm", b"P6\n%d %d\n255\n" % (w, h) + body, [])
        else:
            sub = "" if not subs else "@" + ":".join("%dx%d" % s for s in subs)
            image = ("img.raw", b"".join(raw(p, 1 if depth <= 8 else 2, False) for p in planes),
                     ["-F", "%d,%d,%d,%d,u%s" % (w, h, ncomp, depth, sub)])
        encode(out_dir, stream, image[0], image[1], image[2] + args)
        for r in range(levels + 1):
            tag = multi_reference(out_dir, stream, ncomp, r, None)
            if tag:
                cases.append("%s %s %d - - - - %d %s" % (kind, stream, r, ncomp, tag))
        ox, oy = 0, 0
        if "-d" in args:
            ox, oy = (int(v) for v in args[args.index("-d") + 1].split(","))
        regions = [(ox + w // 4, oy + h // 5, ox + (3 * w) // 4 + 1, oy + (4 * h) // 5 + 1),
                   (ox + 3, oy + h // 2, ox + w, oy + h // 2 + 2)]
        for i, region in enumerate(regions):
            tag = multi_reference(out_dir, stream, ncomp, i % 2, region)
            if tag:
                cases.append("%s %s %d %d %d %d %d %d %s" % ((kind, stream, i % 2) + region +
                                                             (ncomp, tag)))

    rgb8 = colour_planes(w, h, 3, 8, 601)
    add("rev", "mc_rgb8", 3, rgb8, 8, "ppm", [], 5)
    add("rev", "mc_rgb8_nomct", 3, rgb8, 8, "ppm", ["-mct", "0"], 5)
    add("rev", "mc_rgb12", 3, colour_planes(w, h, 3, 12, 602), 12, "raw", [], 5)
    subs = [(1, 1), (2, 2), (2, 2), (1, 1)]
    add("rev", "mc_four_sub", 4, colour_planes(w, h, 4, 8, 603, subs), 8, "raw", [], 4, subs)
    add("rev", "mc_four", 4, colour_planes(w, h, 4, 8, 604), 8, "raw", [], 5)
    add("rev", "mc_rgb8_s22", 3, rgb8, 8, "ppm", ["-s", "2,2"], 4)
    add("rev", "mc_rgb8_tiles", 3, rgb8, 8, "ppm",
        ["-t", "37,29", "-T", "11,13", "-d", "11,13", "-n", "4"], 3)
    add("irr", "mc_rgb8_ict", 3, rgb8, 8, "ppm", ["-I"], 5)
    atomic_write(manifest, ("\n".join(cases) + "\n").encode())
# Packet-reading matrix: three images, each option set at one level (exact whole-image
# reconstruction) and at a sampled level count from 2 to 7 (every packet read).
PACKET_IMAGES = {
    # name: (width, height, [(dx, dy), ...], depth, signed)
    "rgb": (64, 48, [(1, 1), (1, 1), (1, 1)], 8, False),
    "sub": (64, 48, [(1, 1), (2, 2), (2, 2)], 8, False),
    "s12": (67, 64, [(1, 1)], 12, True),
}

PACKET_OPTIONS = [
    # name, options, images (None: all), fixed level counts (None: 1 and a sampled one)
    ("lrcp", ["-p", "LRCP"], None, None),
    ("rlcp", ["-p", "RLCP"], None, None),
    ("rpcl", ["-p", "RPCL"], None, None),
    ("pcrl", ["-p", "PCRL"], None, None),
    ("cprl", ["-p", "CPRL"], None, None),
    ("prec", ["-c", "[32,32],[16,16]"], None, None),
    ("b16", ["-b", "16,16"], None, None),
    ("b8x16", ["-b", "8,16"], None, None),
    ("t40", ["-t", "40,30"], None, None),
    ("torg", ["-t", "37,29", "-T", "11,13", "-d", "11,13"], None, None),
    ("s22", ["-s", "2,2"], ("rgb", "s12"), None),
    ("tpr", ["-TP", "R"], None, None),
    ("tpl", ["-TP", "L", "-r", "20,10,1"], None, None),
    ("tpc", ["-TP", "C"], None, None),
    ("sopeph", ["-SOP", "-EPH"], None, None),
    ("sop", ["-SOP"], None, None),
    ("plttlm", ["-PLT", "-TLM"], None, None),
    ("layers", ["-r", "20,10,1"], None, None),
    ("m63", ["-M", "63"], None, None),
    ("ephplt", ["-EPH", "-PLT", "-r", "20,10,1", "-c", "[32,32],[16,16]"], None, None),
    ("sopephplt", ["-SOP", "-EPH", "-PLT", "-r", "20,10,1", "-p", "RPCL", "-t", "40,30"],
     None, None),
    ("ephplttp", ["-EPH", "-PLT", "-TP", "R", "-r", "20,10,1", "-p", "RLCP"], None, None),
    ("poc1", ["-r", "20,10,1", "-POC", "T1=0,0,3,2,3,CPRL/T1=2,0,3,3,3,LRCP"], ("rgb", "sub"),
     (3,)),
    ("poc2", ["-r", "20,10,1", "-POC", "T1=0,0,3,3,1,RPCL/T1=0,1,3,3,3,PCRL"], ("rgb", "sub"),
     (3,)),
    ("poc3", ["-r", "20,10,1", "-POC", "T1=0,0,3,1,2,CPRL/T1=0,2,3,1,3,LRCP"], ("rgb", "sub"),
     (1,)),
]


def packet_image(name):
    w, h, subs, depth, signed = PACKET_IMAGES[name]
    rng = random.Random(300 + sorted(PACKET_IMAGES).index(name))
    planes = []
    for c, (dx, dy) in enumerate(subs):
        cw, ch = (w + dx - 1) // dx, (h + dy - 1) // dy
        base = smooth_image(cw, ch, depth, rng.randrange(1 << 20), signed)
        planes.append((dx, dy, cw, ch, base))
    nbytes = 1 if depth <= 8 else 2
    data = b"".join(raw(p[4], nbytes, signed) for p in planes)
    fmt = "%d,%d,%d,%d,%s" % (w, h, len(subs), depth, "s" if signed else "u")
    if any(s != (1, 1) for s in subs):
        fmt += "@" + ":".join("%dx%d" % s for s in subs)
    lines = []
    for dx, dy, cw, ch, samples in planes:
        lines.append("%d %d %d %d %d %d" % (dx, dy, cw, ch, depth, 1 if signed else 0))
        lines.append(" ".join(str(v) for v in samples))
    return data, ["-F", fmt] + ([] if len(subs) < 3 else ["-mct", "0"]), "\n".join(lines) + "\n"


def max_levels(width, height, options):
    """Most levels opj_compress accepts: every tile side at least 2^(levels - 1)."""
    if "-t" in options:
        tw, th = (int(v) for v in options[options.index("-t") + 1].split(","))
        width, height = min(width, tw), min(height, th)
    if "-s" in options:
        width, height = width // 2, height // 2
    n = 1
    while (1 << n) <= min(width, height) and n < 7:
        n += 1
    if "-c" in options:
        # Precinct sizes halve from the last one given; below 2x2 above resolution 0 the
        # encoder writes streams that no decoder accepts.
        n = min(n, 6)
    return n


def make_packet_matrix(out_dir):
    listing = []
    sampled = 0
    for image in sorted(PACKET_IMAGES):
        data, image_args, sample_text = packet_image(image)
        sample_file = os.path.join(out_dir, "pm_%s.samples" % image)
        if not os.path.exists(sample_file):
            atomic_write(sample_file, sample_text.encode())
        w, h = PACKET_IMAGES[image][0], PACKET_IMAGES[image][1]
        for opt_name, options, images, levels in PACKET_OPTIONS:
            if images is not None and image not in images:
                continue
            if levels is None:
                top = max_levels(w, h, options)
                levels = (1, min(top, 2 + sampled % 6))
                sampled += 1
            for n in levels:
                name = "pm_%s_n%d_%s" % (image, n, opt_name)
                args = image_args + ["-n", str(n)] + options
                encode(out_dir, name, "img.raw", data, args)
                listing.append("\t".join([name, image, str(n), " ".join(options)]))
    target = os.path.join(out_dir, "packets.list")
    text = ("\n".join(listing) + "\n").encode()
    if not os.path.exists(target) or open(target, "rb").read() != text:
        atomic_write(target, text)


def make_big_packet_stream(out_dir):
    w = h = 2048
    rows = []
    for y in range(h):
        rows.append(bytes(((x * 7 + y * 13 + ((x ^ y) & 31)) & 255) for x in range(w)))
    encode(out_dir, "pm_big", "big.pgm", b"P5\n%d %d\n255\n" % (w, h) + b"".join(rows),
           ["-t", "512,512", "-n", "4", "-r", "8"])


def make_recycle_streams(out_dir):
    """200x150 images at offset (3,5) in 64x48 tiles anchored there, so that edge tiles are
    smaller: tile records recycled from tile to tile meet differing geometry. Packet
    lengths let tests split them into precinct bins."""
    tiles = ["-t", "64,48", "-T", "5,3", "-d", "5,3", "-PLT"]
    rgb = packet_raw(200, 150, 3, 8, False, 11)
    encode(out_dir, "rc_rev", "a.raw", rgb,
           ["-F", "200,150,3,8,u", "-n", "3", "-c", "[32,32],[16,16]", "-b", "16,16"] + tiles)
    sub = [(1, 1), (2, 2), (2, 2)]
    encode(out_dir, "rc_irr", "a.raw", packet_raw(200, 150, 3, 8, False, 13, sub),
           ["-F", "200,150,3,8,u@1x1:2x2:2x2", "-I", "-n", "2", "-mct", "0",
            "-r", "20,10,1"] + tiles)


# Colour streams for the region decompressor: NAME.j2k and NAME_c<i>.pgx, opj_decompress's
# full-resolution decode of component i.
REGION_STREAMS = [
    ("rgb8", 8, (61, 47), []),
    ("rgb8_tiles", 8, (127, 126), ["-t", "32,32", "-n", "3"]),
    ("rgb12", 12, (61, 47), ["-d", "11,13"]),
    ("rgb16", 16, (45, 37), ["-n", "4"]),
    ("rgb8_layers", 8, (160, 120), ["-t", "64,64", "-r", "20,10,1"]),
]


# Grey streams for the region decompressor, 251x197, every depth and sign the raw input
# takes, each with one option set in turn: NAME.j2k, NAME_r<R>.pgx (opj_decompress -r R,
# every R), and for streams without a tile-grid offset NAME_region.pgx, the decode of
# REGION_GREY_AREA at -r 1 (-r 0 without levels). region_grey.txt lists
# "NAME DEPTH SIGNED LEVELS".
REGION_GREY_OPTIONS = [
    ["-n", "1"],
    ["-d", "11,13", "-n", "2"],
    ["-t", "64,64", "-n", "3"],
    ["-T", "11,13", "-d", "11,13", "-t", "128,128", "-n", "4"],
    ["-c", "[32,32],[16,16]", "-n", "5"],
    ["-d", "11,13", "-n", "6"],
]
REGION_GREY_DEPTHS = [(2, False), (4, False), (4, True), (8, False), (8, True), (10, False),
                      (10, True), (12, False), (12, True), (16, False), (16, True), (2, True)]
REGION_GREY_AREA = (52, 44, 212, 164)


def make_region_grey_streams(out_dir):
    listing = os.path.join(out_dir, "region_grey.txt")
    if os.path.exists(listing):
        return
    lines = []
    for k, (depth, signed) in enumerate(REGION_GREY_DEPTHS):
        options = REGION_GREY_OPTIONS[k % len(REGION_GREY_OPTIONS)]
        name = "grey_%s%d_%d" % ("s" if signed else "u", depth, k)
        samples = smooth_image(251, 197, depth, 700 + k, signed)
        samples[0] = -(1 << (depth - 1)) if signed else 0
        samples[-1] = (1 << (depth - 1)) - 1 if signed else (1 << depth) - 1
        args = ["-F", "251,197,1,%d,%s" % (depth, "s" if signed else "u")] + options
        encode(out_dir, name, "img.raw", raw(samples, 1 if depth <= 8 else 2, signed), args)
        levels = int(options[options.index("-n") + 1]) - 1
        for r in range(levels + 1):
            region_reference(out_dir, name, ["-r", str(r)], "%s_r%d.pgx" % (name, r))
        if "-T" not in options:
            region_reference(out_dir, name, ["-r", str(min(1, levels)),
                                             "-d", "%d,%d,%d,%d" % REGION_GREY_AREA],
                             name + "_region.pgx")
        lines.append("%s %d %d %d" % (name, depth, 1 if signed else 0, levels))
    atomic_write(listing, ("\n".join(lines) + "\n").encode())


def region_reference(out_dir, name, args, target):
    target = os.path.join(out_dir, target)
    if os.path.exists(target):
        return
    with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
        subprocess.run(["opj_decompress", "-i", os.path.join(out_dir, name + ".j2k"),
                        "-o", os.path.join(tmp, "ref.pgx")] + args, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.replace(os.path.join(tmp, "ref_0.pgx"), target)


def make_region_streams(out_dir):
    make_region_grey_streams(out_dir)
    for k, (name, depth, (w, h), options) in enumerate(REGION_STREAMS):
        planes = []
        for c in range(3):
            samples = smooth_image(w, h, depth, 600 + 3 * k + c)
            samples[0], samples[-1] = 0, (1 << depth) - 1
            planes.append(raw(samples, 1 if depth <= 8 else 2, False))
        args = ["-F", "%d,%d,3,%d,u" % (w, h, depth)] + options
        encode(out_dir, name, "img.raw", b"".join(planes), args)
        if os.path.exists(os.path.join(out_dir, name + "_c2.pgx")):
            continue
        with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
            subprocess.run(["opj_decompress", "-i", os.path.join(out_dir, name + ".j2k"),
                            "-o", os.path.join(tmp, "ref.pgx")], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for c in range(3):
                os.replace(os.path.join(tmp, "ref_%d.pgx" % c),
                           os.path.join(out_dir, "%s_c%d.pgx" % (name, c)))


# Precinct partitions for region decodes: several precinct sizes per level, 1 to 5
# levels, odd image and tile offsets, 5/3 and 9/7. precinct_streams.txt lines:
# NAME X0 Y0 WIDTH HEIGHT LEVELS (the image area on the canvas).
PRECINCT_STREAMS = [
    ((64, 64), ["-c", "[16,16]", "-n", "2"]),
    ((64, 64), ["-c", "[16,16]", "-n", "2", "-I"]),
    ((61, 47), ["-c", "[32,32],[16,16]", "-n", "3", "-d", "11,13"]),
    ((96, 80), ["-c", "[16,16],[8,8]", "-n", "4", "-I"]),
    ((128, 96), ["-c", "[64,64],[32,32],[16,16],[8,8]", "-n", "6", "-d", "3,5"]),
    ((77, 69), ["-c", "[32,16]", "-b", "8,8", "-n", "3", "-d", "7,1"]),
    ((100, 90), ["-c", "[16,16]", "-t", "48,40", "-T", "5,3", "-d", "5,3", "-n", "3"]),
    ((50, 70), ["-c", "[16,32],[8,8]", "-n", "2", "-d", "1,2"]),
    ((90, 67), ["-c", "[32,32],[16,16]", "-b", "8,16", "-n", "4", "-d", "9,9", "-I"]),
]


def make_precinct_streams(out_dir):
    listing = os.path.join(out_dir, "precinct_streams.txt")
    with open(os.path.join(out_dir, ".precinct.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(listing):
            return
        lines = []
        for k, ((w, h), options) in enumerate(PRECINCT_STREAMS):
            name = "prec_%dx%d_%d" % (w, h, k)
            encode(out_dir, name, "img.pgm", pgm(w, h, 255, smooth_image(w, h, 8, 700 + k)),
                   options)
            x0, y0 = 0, 0
            if "-d" in options:
                x0, y0 = (int(v) for v in options[options.index("-d") + 1].split(","))
            lines.append("%s %d %d %d %d %d" % (name, x0, y0, w, h, decode_levels(options)))
        atomic_write(listing, ("\n".join(lines) + "\n").encode())


# name, opj_compress arguments: 3-component 96x80 8-bit images in tiles, with precincts
# and layers, read through persistent codestreams whose view changes between decodes.
VIEW_STREAMS = [
    ("pv_rpcl", ["-n", "3", "-t", "48,40", "-c", "[32,32],[16,16],[8,8]", "-r", "20,10,1",
                 "-p", "RPCL", "-PLT", "-TLM"], None),
    ("pv_pcrl_sub", ["-n", "3", "-t", "48,40", "-c", "[32,32],[16,16]", "-r", "20,10,1",
                     "-p", "PCRL", "-PLT", "-SOP", "-EPH"], [(1, 1), (2, 2), (2, 2)]),
    ("pv_lrcp_tp", ["-n", "3", "-t", "64,48", "-r", "20,10,1", "-p", "LRCP", "-TP", "L"], None),
]


def make_view_streams(out_dir):
    for name, args, sub in VIEW_STREAMS:
        fmt = "96,80,3,8,u" + ("@" + ":".join("%dx%d" % s for s in sub) if sub else "")
        data = packet_raw(96, 80, 3, 8, False, 900, sub)
        encode(out_dir, name, "img.raw", data, ["-F", fmt, "-mct", "0"] + args)


# Arithmetic-coding bypass without per-pass termination, with packet lengths: the
# packet locator's segment rule against the encoder's lengths.
BYPASS_STREAMS = [
    ("cc_bypass", ["-M", "1", "-PLT", "-r", "20,10,1"]),
    ("cc_bypass_prec", ["-M", "3", "-PLT", "-c", "[32,32],[16,16]", "-b", "16,16"]),
    ("cc_bypass_sop", ["-M", "1", "-PLT", "-SOP", "-EPH", "-p", "RPCL", "-t", "40,30", "-n", "3"]),
]


def make_bypass_streams(out_dir):
    for name, args in BYPASS_STREAMS:
        data = packet_raw(96, 80, 3, 8, False, 950, None)
        encode(out_dir, name, "img.raw", data, ["-F", "96,80,3,8,u", "-mct", "0"] + args)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--scan":
        with open(sys.argv[2], "rb") as f:
            print("\n".join(scan(f.read())))
        return
    out_dir = sys.argv[1]
    groups = sys.argv[2:] or ["input", "blocks", "conformance"]
    os.makedirs(out_dir, exist_ok=True)
    if "input" in groups:
        make_input_streams(out_dir)
    if "blocks" in groups:
        make_block_streams(out_dir, range(64))
        make_noisy_block_streams(out_dir)
    if "conformance" in groups:
        make_conformance_facts(out_dir)
    if "mct" in groups:  # multi-component transform streams, see make_mct_streams.py
        import make_mct_streams
        make_mct_streams.make(out_dir)
    if "params" in groups:
        make_param_streams(out_dir)
    if "multi" in groups:
        make_multi_streams(out_dir)
    if "packets" in groups:
        make_packet_streams(out_dir)
    if "decode" in groups:
        make_decode_streams(out_dir)
    if "packet_matrix" in groups:
        make_packet_matrix(out_dir)
    if "packet_big" in groups:
        make_big_packet_stream(out_dir)
    if "recycle" in groups:
        make_recycle_streams(out_dir)
    if "region" in groups:
        make_region_streams(out_dir)
    if "views" in groups:
        make_view_streams(out_dir)
    if "edges" in groups:
        make_edge_streams(out_dir)
    if "precincts" in groups:
        make_precinct_streams(out_dir)
    if "bypass" in groups:
        make_bypass_streams(out_dir)


if __name__ == "__main__":
    main()
