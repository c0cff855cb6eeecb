#!/usr/bin/python3
"""Runs j2k_decode over codestreams that real encoders write and that the project holds,
beside opj_decompress, and counts what each of our refusals refused. A refusal of a stream
that opj_decompress decodes is listed by name: what peers read (with a warning) we read too.

  refusal_sweep.py --decoder build-release/tools/decode/j2k_decode [--work DIR]
                   [--also FILE_OR_DIR]... [--quick]

Streams made here: opj_compress and grk_compress (when installed) with every option that
shapes markers and tile-parts (-TP R/L/C, SOP, EPH, PLT, TLM, POC, many tiles, many
layers, precincts, cinema profiles), on an 8-bit colour picture and a 12-bit grey one,
each also with every SOT's TNsot one short, as some encoders in the field write.
Each stream is decoded whole, at reduce 1 and 2, and by a region. Exit status 1 when some
stream that opj_decompress decodes is refused.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# The refusals checked, by the first words of their messages.
REFUSALS = [
    ("tile-part index beyond 254", r"tile-part index \(TPsot\) \d+ of tile number \d+ is not below 255"),
    ("tile-part index at TNsot (removed)", r"is not below \d+, the tile-part count \(TNsot\)"),
    ("tile-parts out of sequence", r"Missing or out-of-sequence tile-parts"),
    ("different non-zero TNsot", r"identified by different non-zero values"),
    ("precinct identifiers beyond 62 bits", r"precinct identifiers can address at most"),
    ("precinct partition too small", r"Precinct partition dimensions too small"),
    ("oversized packet header", r"unreasonably large so that it exceeds the dynamic range"),
    ("more than 65535 tiles", r"Maximum number of allowable tiles"),
    ("rows larger than the machine", r"the image needs \d+ bytes to decode its rows"),
    ("PGX files larger than the disk", r"bytes of PGX files; \d+ are free"),
]

CODECS = (".j2k", ".j2c", ".jpc", ".jp2", ".jph", ".jhc")


def matrix(quick):
    """(name, options) of the encoder runs; the same options suit both encoders unless
    marked for one."""
    base = [
        ("plain", []),
        ("tp_r", ["-TP", "R", "-n", "6"]),
        ("tp_l", ["-TP", "L", "-r", "40,20,10,1"]),
        ("tp_c", ["-TP", "C"]),
        ("tp_r_tiles", ["-TP", "R", "-t", "64,48", "-n", "4"]),
        ("tp_l_tiles_lrcp", ["-TP", "L", "-t", "96,64", "-r", "20,5,1", "-p", "LRCP"]),
        ("tp_c_cprl", ["-TP", "C", "-p", "CPRL", "-t", "128,128"]),
        ("sop_eph", ["-SOP", "-EPH", "-r", "20,5,1"]),
        ("plt", ["-PLT", "-t", "64,64"]),
        ("plt_sop_eph_tp_r", ["-PLT", "-SOP", "-EPH", "-TP", "R", "-p", "RPCL", "-t", "80,80"]),
        ("many_tiles", ["-t", "16,16", "-n", "2"]),
        ("many_layers", ["-r", ",".join(str(v) for v in range(60, 0, -2))]),
        ("precincts", ["-c", "[64,64],[32,32],[16,16]", "-b", "16,16", "-p", "PCRL"]),
        ("small_blocks_tp_r", ["-b", "4,4", "-TP", "R", "-n", "3"]),
        ("irreversible_layers", ["-I", "-r", "50,20,5", "-TP", "L"]),
    ]
    opj_only = [
        ("plt_layers", ["-PLT", "-t", "64,64", "-r", "20,10,1"]),
        ("poc", ["-POC", "T1=0,0,1,4,3,CPRL/T1=4,0,1,6,3,CPRL", "-n", "6"]),
        ("poc_tp_r", ["-POC", "T1=0,0,1,4,3,CPRL/T1=4,0,1,6,3,CPRL", "-n", "6", "-TP", "R"]),
        ("tlm", ["-TLM", "-t", "64,64"]),
        ("tlm_tp_r", ["-TLM", "-TP", "R", "-t", "96,96", "-n", "5"]),
        ("tlm_plt_tp_l", ["-TLM", "-PLT", "-TP", "L", "-r", "20,5,1", "-t", "128,96"]),
    ]
    grk_only = [
        ("poc", ["-POC", "T0=0,0,1,4,3,CPRL/T0=4,0,1,6,3,LRCP", "-n", "6"]),
        ("poc_tp_r", ["-POC", "T0=0,0,1,4,3,CPRL/T0=4,0,1,6,3,LRCP", "-n", "6", "-TP", "R"]),
        ("cinema_2k", ["-w", "24", "-n", "6"]),
        ("mode_bypass_reset", ["-M", "3"]),
        ("mode_all_but_ht", ["-M", "63", "-TP", "R"]),
    ]
    if quick:
        base = [b for b in base if b[0] in ("plain", "tp_r_tiles", "plt_sop_eph_tp_r")]
        opj_only, grk_only = opj_only[1:2], grk_only[:1]
    return base, opj_only, grk_only


def sources(work):
    """An 8-bit RGB picture (PPM) and a 12-bit grey one (PGM) of odd sizes."""
    w, h = 257, 193
    rgb = bytes(v for y in range(h) for x in range(w)
                for v in ((x * 3 + y) & 255, (x * y // 7) & 255, (x + 2 * y + (x ^ y)) & 255))
    with open(os.path.join(work, "rgb.ppm"), "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + rgb)
    gw, gh = 300, 211
    grey = b"".join(struct.pack(">H", (x * 13 + y * 7 + (x * y) % 97) % 4096) for y in range(gh) for x in range(gw))
    with open(os.path.join(work, "grey12.pgm"), "wb") as f:
        f.write(b"P5\n%d %d\n4095\n" % (gw, gh) + grey)
    return ["rgb.ppm", "grey12.pgm"]


def run(cmd, cwd=None, timeout=120):
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return p.returncode, p.stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return -1, "timed out"


def sot_positions(data):
    p = 2
    while p + 4 <= len(data) and data[p:p + 2] != b"\xff\x90":
        p += 2 + struct.unpack(">H", data[p + 2:p + 4])[0]
    while p + 12 <= len(data) and data[p:p + 2] == b"\xff\x90":
        yield p
        psot = struct.unpack(">I", data[p + 6:p + 10])[0]
        if psot == 0:
            break
        p += psot


def short_counts(path, target):
    """A copy whose SOTs announce one tile-part fewer; False when no SOT has a count."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    changed = False
    for p in sot_positions(bytes(data)):
        if data[p + 11] > 1:
            data[p + 11] -= 1
            changed = True
    if changed:
        with open(target, "wb") as f:
            f.write(data)
    return changed


def make_streams(work, quick):
    made = []
    base, opj_only, grk_only = matrix(quick)
    encoders = [("opj", "opj_compress", base + opj_only)]
    if shutil.which("grk_compress"):
        encoders.append(("grk", "grk_compress", base + grk_only))
    for src in sources(work):
        stem = os.path.splitext(src)[0]
        for tag, program, runs in encoders:
            for name, opts in runs:
                if tag == "grk":  # its own names for the tile-part division
                    opts = ["-u" if o == "-TP" else o for o in opts]
                out = os.path.join(work, "%s_%s_%s.j2k" % (tag, stem, name))
                rc, text = run([program, "-i", src, "-o", out] + opts, cwd=work)
                if rc != 0 or not os.path.exists(out):
                    print("  %s could not write %s: %s" % (program, os.path.basename(out), text.strip()[-200:]))
                    continue
                made.append(out)
                short = out[:-4] + "_tnsot_short.j2k"
                if short_counts(out, short):
                    made.append(short)
    return made


def collected(paths):
    out = []
    for p in paths:
        if os.path.isdir(p):
            for root, _, files in os.walk(p):
                out += [os.path.join(root, f) for f in sorted(files) if f.lower().endswith(CODECS)]
        elif os.path.exists(p):
            out.append(p)
    return out


def first_error(text):
    lines = [l for l in text.splitlines() if l.strip() and "Warning" not in l]
    return " ".join(lines[-2:])[:300] if lines else ""


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--decoder", required=True)
    ap.add_argument("--work")
    ap.add_argument("--also", action="append", default=[])
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args(argv)
    decoder = os.path.abspath(args.decoder)
    own_work = args.work is None
    work = tempfile.mkdtemp(prefix="refusal-sweep-") if own_work else args.work
    os.makedirs(work, exist_ok=True)
    try:
        streams = make_streams(work, args.quick) + collected(args.also)
        print("%d streams" % len(streams))
        counts = {name: 0 for name, _ in REFUSALS}
        failures, peers_read, warned = [], 0, 0
        out = os.path.join(work, "out")
        for path in streams:
            peer_rc, _ = run(["opj_decompress", "-i", path, "-o", os.path.join(work, "peer.pgx")])
            peer_ok = peer_rc == 0
            peers_read += peer_ok
            for opts in ([], ["--reduce", "1"], ["--reduce", "2"], ["--region", "5,7,120,90"]):
                rc, text = run([decoder] + opts + [path, out])
                warned += "Warning" in text
                if rc == 0:
                    continue
                said = first_error(text)
                hit = False
                for name, pattern in REFUSALS:
                    if re.search(pattern, text):
                        counts[name] += 1
                        hit = True
                # A reduction or region the image cannot give is the tool's own refusal.
                if peer_ok and (hit or not opts):
                    failures.append((path, " ".join(opts) or "whole", said))
            for f in os.listdir(work):
                if f.startswith(("out_", "peer")) and f.endswith(".pgx"):
                    os.remove(os.path.join(work, f))
        print("opj_decompress decoded %d of %d; our decodes gave %d warnings" % (peers_read, len(streams), warned))
        for name, _ in REFUSALS:
            print("  %-40s refused %d" % (name, counts[name]))
        for path, how, said in failures:
            print("REFUSED what opj_decompress reads: %s (%s): %s" % (path, how, said))
        return 1 if failures else 0
    finally:
        if own_work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
