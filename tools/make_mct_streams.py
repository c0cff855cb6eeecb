"""Multi-component transform test streams ("mct" group of make_test_streams.py).

opj_compress cannot write these transforms, so each stream starts as an opj_compress
codestream made with -mct 0, into whose main header the CBD, MCT, MCC and MCO segments
are inserted here byte by byte (Rsiz becomes 0x8100, COD's multi-component byte is set).
For every case <name> two files are written:
  mct_<name>.j2k   the codestream
  mct_<name>.exp   the output components a decoder must give: a line "N W H TOL", then
                   one line of W*H decimal samples per output component, row by row;
                   TOL is the largest difference allowed.
Reversible cases run the transform forward here, as the exact inverse of the synthesis
rules, so that decoding gives the original image back; irreversible matrix cases take
the codestream samples from opj_decompress's decode of the unmodified stream.
"""
import math
import os
import random
import struct
import subprocess
import tempfile

W, H = 40, 32


def atomic_write(path, data):
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp_")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def image(comps, seed, lo=0, hi=255):
    """Smooth gradients plus a little noise, per component."""
    rng = random.Random(seed)
    out = []
    for c in range(comps):
        plane = []
        for y in range(H):
            for x in range(W):
                v = lo + ((x * (5 + c) + y * (3 + 2 * c) + (x * y) // (7 + c)) % (hi - lo + 1))
                v = min(hi, max(lo, v + rng.randrange(-6, 7)))
                plane.append(v)
        out.append(plane)
    return out


def opj_encode(planes, bits, signed, extra):
    """Lossless opj_compress codestream of raw planes (planar, big-endian)."""
    nbytes = 1 if bits <= 8 else 2
    data = b"".join(v.to_bytes(nbytes, "big", signed=signed) for p in planes for v in p)
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.raw")
        dst = os.path.join(tmp, "out.j2k")
        with open(src, "wb") as f:
            f.write(data)
        fmt = "%d,%d,%d,%d,%s" % (W, H, len(planes), bits, "s" if signed else "u")
        subprocess.run(["opj_compress", "-i", src, "-o", dst, "-F", fmt, "-mct", "0",
                        "-n", "3"] + extra, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        with open(dst, "rb") as f:
            return f.read()


def read_pgx(path):
    with open(path, "rb") as f:
        data = f.read()
    end = data.index(b"\n")
    head = data[:end].split()
    signed = head[2] == b"-"
    bits, w, h = int(head[-3]), int(head[-2]), int(head[-1])
    nbytes = 1 if bits <= 8 else (2 if bits <= 16 else 4)
    body = data[end + 1:]
    order = "big" if head[1] == b"ML" else "little"
    return [int.from_bytes(body[i:i + nbytes], order, signed=signed)
            for i in range(0, w * h * nbytes, nbytes)]


def opj_decode(stream, comps):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.j2k")
        with open(src, "wb") as f:
            f.write(stream)
        subprocess.run(["opj_decompress", "-i", src, "-o", os.path.join(tmp, "out.pgx")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return [read_pgx(os.path.join(tmp, "out_%d.pgx" % c)) for c in range(comps)]


# ---------------------------------------------------------------------------------------
# Segments, field by field.

def segment(code, body):
    return struct.pack(">HH", code, len(body) + 2) + body


def cbd(outputs):
    """outputs: (precision, signed) per output component."""
    return segment(0xFF78, struct.pack(">H", len(outputs)) +
                   bytes((0x80 if s else 0) | (p - 1) for p, s in outputs))


def mct(index, kind, values, floats):
    """kind 0 triangle, 1 matrix, 2 offsets; 32-bit integers or 32-bit floats."""
    elem = 2 if floats else 1
    body = struct.pack(">HHH", 0, index | (kind << 8) | (elem << 10), 0)
    body += b"".join(struct.pack(">f" if floats else ">i", v) for v in values)
    return segment(0xFF74, body)


def mcc(index, collections):
    """collections: dicts with kind (0 dependency, 1 matrix, 3 DWT), inputs, outputs,
    coeff, offset, reversible, levels, origin."""
    body = struct.pack(">HBHH", 0, index, 0, len(collections))
    for c in collections:
        body += bytes([c["kind"]])
        for key in ("inputs", "outputs"):
            body += struct.pack(">H", len(c[key])) + bytes(c[key])
        top = c.get("levels", 0) if c["kind"] == 3 else (1 if c.get("reversible") else 0)
        body += bytes([top, c.get("offset", 0), c.get("coeff", 0)])
        if c["kind"] == 3:
            body += struct.pack(">I", c.get("origin", 0))
    return segment(0xFF75, body)


def mco(stages):
    return segment(0xFF77, bytes([len(stages)] + list(stages)))


def insert(stream, segments, cod_byte):
    """Rsiz 0x8100, COD's multi-component byte, and the segments ahead of the first SOT."""
    data = bytearray(stream)
    assert data[2:4] == b"\xff\x51"
    data[6:8] = b"\x81\x00"
    pos = 2
    while True:
        code = (data[pos] << 8) | data[pos + 1]
        if code == 0xFF90:
            break
        length = (data[pos + 2] << 8) | data[pos + 3]
        if code == 0xFF52:
            data[pos + 8] = cod_byte  # Scod, progression, layers, then the byte
        pos += 2 + length
    return bytes(data[:pos]) + b"".join(segments) + bytes(data[pos:])


def insert_in_tile(stream, tile, segments):
    """The segments at the head of the tile's first tile-part header, Psot grown."""
    data = bytearray(stream)
    pos = 2
    while (data[pos] << 8) | data[pos + 1] != 0xFF90:
        pos += 2 + ((data[pos + 2] << 8) | data[pos + 3])
    while (data[pos] << 8) | data[pos + 1] == 0xFF90:
        isot = (data[pos + 4] << 8) | data[pos + 5]
        psot = int.from_bytes(data[pos + 6:pos + 10], "big")
        if isot == tile and data[pos + 10] == 0:
            extra = b"".join(segments)
            data[pos + 6:pos + 10] = (psot + len(extra)).to_bytes(4, "big")
            return bytes(data[:pos + 12]) + extra + bytes(data[pos + 12:])
        pos += psot
    raise ValueError("no tile-part 0 of tile %d" % tile)


# ---------------------------------------------------------------------------------------
# Forward transforms: exact inverses of the synthesis rules.

def floor_shift(v, k):
    return v >> k  # Python's shift floors negative values too


def log2_exact(v):
    k = 0
    while (1 << k) < v:
        k += 1
    assert (1 << k) == v
    return k


def rxform_forward(c, lines):
    """c: N x (N+1) by line; synthesis runs steps 0..N, so analysis undoes N..0."""
    n = len(lines)
    x = [list(p) for p in lines]
    for s in range(n, -1, -1):
        t = n - 1 - s % n
        v = c[t][s]
        neg = s == n and v < 0
        k = log2_exact(-v if neg else v)
        for j in range(len(x[0])):
            acc = (abs(v) // 2) + sum(c[i][s] * x[i][j] for i in range(n) if i != t)
            u = floor_shift(acc, k)
            x[t][j] = u - x[t][j] if neg else x[t][j] + u
    return x


def dependency_forward(rows, offsets, lines):
    """rows[r] for r >= 1: r predictors then the divisor. Synthesis: line r = in r +
    offset r + ((v/2 + sum c(r, k) line k) >> log2 v)."""
    n = len(lines)
    out = []
    for r in range(n):
        plane = []
        for j in range(len(lines[0])):
            pred = 0
            if r > 0:
                v = rows[r][r]
                acc = v // 2 + sum(rows[r][k] * lines[k][j] for k in range(r))
                pred = floor_shift(acc, log2_exact(v))
            plane.append(lines[r][j] - offsets[r] - pred)
        out.append(plane)
    return out


def dwt53_forward(lines, levels, origin):
    """Across components: canvas indices origin .. origin + N - 1, low-pass at even
    indices; returns the coarsest low-pass values, then the high-pass values of each
    level from the coarsest to the finest."""
    cur = [list(p) for p in lines]
    lo_idx = origin
    highs = []
    for _ in range(levels):
        n = len(cur)
        hi_idx = lo_idx + n

        def at(i):  # whole-sample symmetric extension over [lo_idx, hi_idx)
            while i < lo_idx or i >= hi_idx:
                i = 2 * lo_idx - i if i < lo_idx else 2 * hi_idx - i - 2
            return i - lo_idx

        if n == 1:
            if lo_idx % 2:  # a lone odd sample is high-pass: doubled
                highs.append([[2 * v for v in cur[0]]])
                cur = []
            break
        d = {}
        for i in range(lo_idx, hi_idx):
            if i % 2:
                d[i] = [cur[at(i)][j] - floor_shift(cur[at(i - 1)][j] + cur[at(i + 1)][j], 1)
                        for j in range(len(cur[0]))]

        def dv(i, j):
            return d[at(i) + lo_idx][j]

        s = []
        for i in range(lo_idx, hi_idx):
            if i % 2 == 0:
                s.append([cur[at(i)][j] + floor_shift(dv(i - 1, j) + dv(i + 1, j) + 2, 2)
                          for j in range(len(cur[0]))])
        highs.append([d[i] for i in sorted(d)])
        cur = s
        lo_idx = (lo_idx + 1) // 2
    out = cur
    for h in reversed(highs):
        out = out + h
    return out


ALPHA, BETA = -1.586134342059924, -0.052980118572961
GAMMA, DELTA, K97 = 0.882911075530934, 0.443506852043971, 1.230174104914001


def dwt97_forward(lines, levels, origin):
    """As dwt53_forward with the 9/7 lifting steps in floating point; low-pass values
    are then scaled by 1/K and high-pass values by K."""
    cur = [[float(v) for v in p] for p in lines]
    lo_idx = origin
    highs = []
    for _ in range(levels):
        n = len(cur)
        if n == 1:
            break
        hi_idx = lo_idx + n

        def at(i):
            while i < lo_idx or i >= hi_idx:
                i = 2 * lo_idx - i if i < lo_idx else 2 * hi_idx - i - 2
            return i - lo_idx

        x = cur
        for coeff, parity in ((ALPHA, 1), (BETA, 0), (GAMMA, 1), (DELTA, 0)):
            x = [[x[i - lo_idx][j] + coeff * (x[at(i - 1)][j] + x[at(i + 1)][j])
                  if i % 2 == parity else x[i - lo_idx][j] for j in range(len(x[0]))]
                 for i in range(lo_idx, hi_idx)]
        highs.append([[v * K97 for v in x[i - lo_idx]] for i in range(lo_idx, hi_idx) if i % 2])
        cur = [[v / K97 for v in x[i - lo_idx]] for i in range(lo_idx, hi_idx) if i % 2 == 0]
        lo_idx = (lo_idx + 1) // 2
    out = cur
    for h in reversed(highs):
        out = out + h
    return out


def write_case(out_dir, name, stream, expected, tol):
    atomic_write(os.path.join(out_dir, "mct_%s.j2k" % name), stream)
    text = ["%d %d %d %d" % (len(expected), W, H, tol)]
    text += [" ".join(str(v) for v in p) for p in expected]
    atomic_write(os.path.join(out_dir, "mct_%s.exp" % name), ("\n".join(text) + "\n").encode())


def clip(v, bits, signed):
    lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    return min(hi, max(lo, v))


def make_matrix_cases(out_dir):
    plain = opj_encode(image(3, 1), 8, False, [])
    x = [[v - 128 for v in p] for p in opj_decode(plain, 3)]
    cases = {
        "matrix3": ([[0.5, 0.25, 0.125], [1.0, -0.5, 0.25], [-0.25, 0.75, 0.5]],
                    [128.0, 100.0, 60.5], [(8, False)] * 3),
        "matrix34": ([[0.299, 0.587, 0.114], [-0.5, 0.25, 0.25], [0.0, 1.5, -0.75],
                      [0.125, 0.125, 0.125]],
                     [120.0, 3.25, -40.0, 500.0], [(8, False), (9, True), (8, True),
                                                   (10, False)]),
    }
    for name, (m, off, outs) in cases.items():
        segs = [cbd(outs), mct(1, 1, [v for row in m for v in row], True),
                mct(2, 2, off, True),
                mcc(1, [{"kind": 1, "inputs": [0, 1, 2], "outputs": list(range(len(m))),
                         "coeff": 1, "offset": 2}]), mco([1])]
        exp = []
        for o, row in enumerate(m):
            p, s = outs[o]
            exp.append([clip(int(round(sum(row[i] * x[i][j] for i in range(3)) + off[o])), p, s)
                        for j in range(W * H)])
        write_case(out_dir, name, insert(plain, segs, 2), exp, 1)


RX = [[1, 2, 1, 3], [3, 2, 1, 1], [4, 1, 2, -8]]


def make_rxform_cases(out_dir):
    orig = image(3, 2)
    offsets = [7, -5, 11]
    x = rxform_forward(RX, [[v - offsets[c] for v in p] for c, p in enumerate(orig)])
    plain = opj_encode(x, 12, True, [])
    n = 3
    new_layout = [RX[t][s] for s in range(n + 1) for t in range(n)]
    old_layout = [RX[t][s] for t in range(n) for s in range(n + 1)]
    for name, coeffs, cod_byte in (("rxform", new_layout, 2), ("rxform_old", old_layout, 0)):
        segs = [cbd([(8, False)] * 3), mct(3, 1, coeffs, False), mct(4, 2, offsets, False),
                mcc(0, [{"kind": 1, "inputs": [0, 1, 2], "outputs": [0, 1, 2], "coeff": 3,
                         "offset": 4, "reversible": True}]), mco([0])]
        write_case(out_dir, name, insert(plain, segs, cod_byte), orig, 0)


def make_dependency_case(out_dir):
    orig = image(3, 3)
    rows = [[], [-1, 2], [1, -1, 4]]
    offsets = [5, -3, 7]
    x = dependency_forward(rows, offsets, orig)
    plain = opj_encode(x, 12, True, [])
    segs = [cbd([(8, False)] * 3), mct(1, 0, [-1, 2, 1, -1, 4], False),
            mct(2, 2, offsets, False),
            mcc(1, [{"kind": 0, "inputs": [0, 1, 2], "outputs": [0, 1, 2], "coeff": 1,
                     "offset": 2, "reversible": True}]), mco([1])]
    write_case(out_dir, "dependency", insert(plain, segs, 2), orig, 0)


def make_dwt_cases(out_dir):
    orig = image(5, 4)
    for levels in (1, 2):
        for origin in (0, 1):
            x = dwt53_forward(orig, levels, origin)
            plain = opj_encode(x, 12, True, [])
            segs = [cbd([(8, False)] * 5),
                    mcc(2, [{"kind": 3, "inputs": list(range(5)), "outputs": list(range(5)),
                             "coeff": 1, "levels": levels, "origin": origin}]), mco([2])]
            write_case(out_dir, "dwt53_l%d_o%d" % (levels, origin),
                       insert(plain, segs, 4), orig, 0)
    # The 9/7 kernel: codestream samples are the rounded analysis values.
    for levels, origin in ((1, 0), (2, 1)):
        x = [[int(math.floor(v + 0.5)) for v in p] for p in dwt97_forward(orig, levels, origin)]
        plain = opj_encode(x, 12, True, [])
        segs = [cbd([(8, False)] * 5),
                mcc(2, [{"kind": 3, "inputs": list(range(5)), "outputs": list(range(5)),
                         "coeff": 0, "levels": levels, "origin": origin}]), mco([2])]
        write_case(out_dir, "dwt97_l%d_o%d" % (levels, origin), insert(plain, segs, 4), orig, 1)


def make_null_case(out_dir):
    """A matrix collection without coefficients from 3 components to 5 outputs: the
    first three pass with their offsets, the last two are constant offsets."""
    plain = opj_encode(image(3, 5), 8, False, [])
    x = [[v - 128 for v in p] for p in opj_decode(plain, 3)]
    offsets = [128, 100, -20, 77, 300]
    outs = [(8, False)] * 4 + [(10, False)]
    segs = [cbd(outs), mct(2, 2, offsets, False),
            mcc(1, [{"kind": 1, "inputs": [0, 1, 2], "outputs": [0, 1, 2, 3, 4], "coeff": 0,
                     "offset": 2}]), mco([1])]
    exp = [[clip(x[o][j] + offsets[o], *outs[o]) for j in range(W * H)] for o in range(3)]
    exp += [[offsets[o]] * (W * H) for o in (3, 4)]
    write_case(out_dir, "null", insert(plain, segs, 2), exp, 0)

    # The same in two tiles, the right one's header turning the transform off: there the
    # outputs are the codestream components, and nothing feeds outputs 3 and 4.
    orig = image(3, 5)
    tiled = opj_encode(orig, 8, False, ["-t", "%d,%d" % (W // 2, H)])
    stream = insert_in_tile(insert(tiled, segs, 2), 1, [mco([])])
    for o in range(5):
        for j in range(W * H):
            if j % W >= W // 2:
                exp[o][j] = orig[o][j] if o < 3 else 0
    write_case(out_dir, "tiles_null", stream, exp, 0)


VERSION = b"3\n"  # raised whenever a case changes, so that old build trees remake them


def make(out_dir):
    done = os.path.join(out_dir, "mct.done")
    if os.path.exists(done):
        with open(done, "rb") as f:
            if f.read() == VERSION:
                return
    make_matrix_cases(out_dir)
    make_rxform_cases(out_dir)
    make_dependency_case(out_dir)
    make_dwt_cases(out_dir)
    make_null_case(out_dir)
    atomic_write(done, VERSION)
