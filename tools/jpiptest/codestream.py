"""Splits a codestream (or a JP2 file) into JPP-stream data-bins.

Every length read from the file is checked against the bytes really there; anything the
index cannot serve faithfully is refused with a reason (IndexError is never let out).
"""
import struct

from . import packets

SOC, SOT, SOD, EOC = 0xFF4F, 0xFF90, 0xFF93, 0xFFD9
SIZ, COD, COC, POC = 0xFF51, 0xFF52, 0xFF53, 0xFF5F
TLM, PLM, PLT, PPM, PPT = 0xFF55, 0xFF57, 0xFF58, 0xFF60, 0xFF61

JP2_SIGNATURE = bytes.fromhex("0000000c6a5020200d0a870a")

# JPP-stream class identifiers (basic forms).
CLS_PRECINCT, CLS_TILE_HEADER, CLS_MAIN_HEADER, CLS_META = 0, 2, 6, 8
ORDERS = ("LRCP", "RLCP", "RPCL", "PCRL", "CPRL")


class Refused(Exception):
    """The file cannot be served; the message says why."""


def ceil_div(a, b):
    return -(-a // b)


class Reader:
    def __init__(self, data, start=0, end=None):
        self.data = data
        self.pos = start
        self.end = len(data) if end is None else end

    def take(self, n, what):
        if n < 0 or self.pos + n > self.end:
            raise Refused("truncated %s" % what)
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def u8(self, what):
        return self.take(1, what)[0]

    def u16(self, what):
        return struct.unpack(">H", self.take(2, what))[0]

    def u32(self, what):
        return struct.unpack(">I", self.take(4, what))[0]


def read_segment(data, pos, end):
    """Returns (marker, segment start, segment end) of the marker segment at pos."""
    r = Reader(data, pos, end)
    marker = r.u16("marker")
    if marker < 0xFF00:
        raise Refused("expected a marker at byte %d" % pos)
    if marker in (SOC, SOD, EOC) or 0xFF30 <= marker <= 0xFF3F:
        return marker, pos, pos + 2
    length = r.u16("marker segment length")
    if length < 2 or pos + 2 + length > end:
        raise Refused("marker segment 0x%04X at byte %d runs past the data" % (marker, pos))
    return marker, pos, pos + 2 + length


class CodingStyle:
    def __init__(self):
        self.order = 0
        self.layers = 1
        self.levels = 5
        self.precincts = None  # list of (ppx, ppy) per resolution, None for 15,15
        self.xcb = self.ycb = 4  # code-block size exponents
        self.cbstyle = 0
        self.sop = self.eph = False

    def copy(self):
        c = CodingStyle()
        c.order, c.layers, c.levels = self.order, self.layers, self.levels
        c.precincts = None if self.precincts is None else list(self.precincts)
        c.xcb, c.ycb, c.cbstyle, c.sop, c.eph = self.xcb, self.ycb, self.cbstyle, self.sop, self.eph
        return c

    def pp(self, r):
        return (15, 15) if self.precincts is None else self.precincts[r]


def parse_spcod(r, cs, user_precincts, what):
    cs.levels = r.u8(what)
    if cs.levels > 32:
        raise Refused("%s: %d decomposition levels" % (what, cs.levels))
    xcb, ycb, cs.cbstyle = r.u8(what) + 2, r.u8(what) + 2, r.u8(what)
    r.u8(what)  # wavelet transform
    if xcb > 10 or ycb > 10 or xcb + ycb > 12:
        raise Refused("%s: code-block size 2^%d x 2^%d" % (what, xcb, ycb))
    cs.xcb, cs.ycb = xcb, ycb
    if user_precincts:
        cs.precincts = []
        for _ in range(cs.levels + 1):
            b = r.u8(what)
            cs.precincts.append((b & 15, b >> 4))
    else:
        cs.precincts = None


class Header:
    """The coding parameters of the main header or of one tile's tile-part headers."""

    def __init__(self):
        self.cod = None            # (order, layers, CodingStyle)
        self.coc = {}              # component -> CodingStyle
        self.poc = []              # (rs, cs, lye, re, ce, order)


class Tile:
    def __init__(self, index):
        self.index = index
        self.parts = []            # (header segments without PLT, body start, body end)
        self.header = Header()
        self.plt = []              # packet lengths in order
        self.read_headers = False  # a tile-part without PLT: lengths from the packet headers
        self.x0 = self.y0 = self.x1 = self.y1 = 0


class Precinct:
    """One precinct of a tile-component: bin id, geometry and its packets' ranges."""

    def __init__(self, tile, comp, res, index, s):
        self.tile, self.comp, self.res, self.index, self.s = tile, comp, res, index, s
        self.packets = []          # (layer, bytes)
        self.area = None           # (x0, y0, x1, y1) on its resolution's grid
        self.bin_id = 0


class Image:
    def __init__(self):
        self.kind = "j2k"
        self.meta = b""            # meta-data bin 0
        self.main = b""            # main-header bin
        self.tiles = []
        self.siz = None
        self.bins = {}             # (class, codestream, id) -> bytes
        self.precincts = []        # every Precinct, tile by tile
        self.tile_styles = []      # per tile: list of per-component CodingStyle

    def levels_min(self):
        return min(cs.levels for styles in self.tile_styles for cs in styles)

    def frame(self, d):
        s = self.siz
        return (ceil_div(s["Xsiz"], 1 << d) - ceil_div(s["XOsiz"], 1 << d),
                ceil_div(s["Ysiz"], 1 << d) - ceil_div(s["YOsiz"], 1 << d))


def parse_siz(seg):
    r = Reader(seg, 4)
    s = {"Rsiz": r.u16("SIZ")}
    for k in ("Xsiz", "Ysiz", "XOsiz", "YOsiz", "XTsiz", "YTsiz", "XTOsiz", "YTOsiz"):
        s[k] = r.u32("SIZ")
    s["Csiz"] = r.u16("SIZ")
    if s["Csiz"] < 1 or s["Csiz"] > 16384:
        raise Refused("SIZ: %d components" % s["Csiz"])
    s["comps"] = []
    for _ in range(s["Csiz"]):
        depth, dx, dy = r.u8("SIZ"), r.u8("SIZ"), r.u8("SIZ")
        if dx == 0 or dy == 0:
            raise Refused("SIZ: zero subsampling")
        s["comps"].append((depth, dx, dy))
    if (s["XTsiz"] == 0 or s["YTsiz"] == 0 or s["Xsiz"] <= s["XOsiz"] or s["Ysiz"] <= s["YOsiz"]
            or s["XTOsiz"] > s["XOsiz"] or s["YTOsiz"] > s["YOsiz"]
            or s["XTOsiz"] + s["XTsiz"] <= s["XOsiz"] or s["YTOsiz"] + s["YTsiz"] <= s["YOsiz"]):
        raise Refused("SIZ: inconsistent image or tile geometry")
    s["tx"] = ceil_div(s["Xsiz"] - s["XTOsiz"], s["XTsiz"])
    s["ty"] = ceil_div(s["Ysiz"] - s["YTOsiz"], s["YTsiz"])
    if s["tx"] * s["ty"] > 65535:
        raise Refused("SIZ: too many tiles")
    return s


def apply_segment(header, marker, seg, csiz, base):
    """Records COD, COC and POC of a header; base gives the style a COC starts from."""
    r = Reader(seg, 4)
    if marker == COD:
        scod = r.u8("COD")
        cs = CodingStyle()
        cs.order = r.u8("COD")
        cs.layers = r.u16("COD")
        r.u8("COD")
        parse_spcod(r, cs, scod & 1, "COD")
        cs.sop, cs.eph = bool(scod & 2), bool(scod & 4)
        if cs.order > 4 or cs.layers == 0:
            raise Refused("COD: bad progression or layer count")
        header.cod = cs
    elif marker == COC:
        comp = r.u16("COC") if csiz >= 257 else r.u8("COC")
        if comp >= csiz:
            raise Refused("COC for component %d" % comp)
        scoc = r.u8("COC")
        cs = CodingStyle()
        parse_spcod(r, cs, scoc & 1, "COC")
        header.coc[comp] = cs
    elif marker == POC:
        wide = csiz >= 257
        while r.pos < r.end:
            rs = r.u8("POC")
            cs0 = r.u16("POC") if wide else r.u8("POC")
            lye = r.u16("POC")
            re_ = r.u8("POC")
            ce = r.u16("POC") if wide else r.u8("POC")
            if ce == 0:
                ce = 16384 if wide else 256
            order = r.u8("POC")
            if order > 4:
                raise Refused("POC: bad progression")
            header.poc.append((rs, cs0, lye, re_, ce, order))


def component_styles(main, tile, csiz):
    """Per component: tile COC > tile COD > main COC > main COD."""
    styles = []
    for c in range(csiz):
        if c in tile.coc:
            cs = tile.coc[c].copy()
        elif tile.cod is not None:
            cs = tile.cod.copy()
        elif c in main.coc:
            cs = main.coc[c].copy()
        else:
            cs = main.cod.copy()
        cod = tile.cod if tile.cod is not None else main.cod
        cs.order, cs.layers, cs.sop, cs.eph = cod.order, cod.layers, cod.sop, cod.eph
        styles.append(cs)
    return styles


def read_plt(seg):
    r = Reader(seg, 4)
    r.u8("PLT")
    out, value, pending = [], 0, False
    while r.pos < r.end:
        b = r.u8("PLT")
        value = (value << 7) | (b & 0x7F)
        pending = True
        if value >= 1 << 32:
            raise Refused("PLT: packet length too large")
        if not b & 0x80:
            out.append(value)
            value, pending = 0, False
    if pending:
        raise Refused("PLT: unfinished packet length")
    return out


def split_codestream(image, data):
    if data[:2] != b"\xff\x4f":
        raise Refused("neither a JP2 file nor a codestream")
    end = len(data)
    pos = 2
    main_segs = []
    image.siz = None
    main = Header()
    while True:
        if pos >= end:
            raise Refused("no tile-part in the codestream")
        marker, s, e = read_segment(data, pos, end)
        if marker == SOT:
            break
        if marker in (SOD, EOC, SOC):
            raise Refused("unexpected marker 0x%04X in the main header" % marker)
        if marker == SIZ and image.siz is None:
            if s != 2:
                raise Refused("SIZ must follow SOC")
            image.siz = parse_siz(data[s:e])
        elif image.siz is None:
            raise Refused("SIZ must follow SOC")
        if marker == PPM:
            raise Refused("packed packet headers (PPM) are not served")
        if marker in (COD, COC, POC):
            apply_segment(main, marker, data[s:e], image.siz["Csiz"], None)
        if marker not in (TLM, PLM):
            main_segs.append(data[s:e])
        pos = e
    if main.cod is None:
        raise Refused("no COD in the main header")
    image.main = data[:2] + b"".join(main_segs)
    siz = image.siz
    ntiles = siz["tx"] * siz["ty"]
    tiles = [Tile(t) for t in range(ntiles)]
    # Tile-parts.
    while True:
        if pos + 2 > end:
            raise Refused("codestream ends without EOC")
        marker, s, e = read_segment(data, pos, end)
        if marker == EOC:
            break
        if marker != SOT or e - s != 12:
            raise Refused("expected SOT at byte %d" % pos)
        r = Reader(data, s + 4, e)
        isot, psot = r.u16("SOT"), r.u32("SOT")
        if isot >= ntiles:
            raise Refused("SOT names tile %d of %d" % (isot, ntiles))
        part_end = pos + psot if psot else (end - 2 if data[end - 2:] == b"\xff\xd9" else end)
        if part_end > end or part_end < e:
            raise Refused("tile-part length runs past the data")
        tile = tiles[isot]
        segs, plt = [], []
        q = e
        while True:
            m, ss, se = read_segment(data, q, part_end)
            q = se
            if m == SOD:
                break
            if m in (SOT, EOC, SOC):
                raise Refused("unexpected marker in a tile-part header")
            if m == PPT:
                raise Refused("packed packet headers (PPT) are not served")
            if m == PLT:
                plt.extend(read_plt(data[ss:se]))
                continue
            if m in (COD, COC, POC):
                apply_segment(tile.header, m, data[ss:se], siz["Csiz"], None)
            segs.append(data[ss:se])
        body = part_end - q
        if body and not plt:
            tile.read_headers = True
        elif sum(plt) != body:
            raise Refused("PLT of tile %d does not match its tile-part body" % isot)
        tile.parts.append((b"".join(segs), q, part_end))
        tile.plt.extend(plt)
        pos = part_end
    image.tiles = tiles
    for t, tile in enumerate(tiles):
        p, q = t % siz["tx"], t // siz["tx"]
        tile.x0 = max(siz["XTOsiz"] + p * siz["XTsiz"], siz["XOsiz"])
        tile.y0 = max(siz["YTOsiz"] + q * siz["YTsiz"], siz["YOsiz"])
        tile.x1 = min(siz["XTOsiz"] + (p + 1) * siz["XTsiz"], siz["Xsiz"])
        tile.y1 = min(siz["YTOsiz"] + (q + 1) * siz["YTsiz"], siz["Ysiz"])
        styles = component_styles(main, tile.header, siz["Csiz"])
        image.tile_styles.append(styles)
        assign_packets(image, data, tile, styles, main)
    image.bins[(CLS_MAIN_HEADER, 0, 0)] = image.main
    for tile in tiles:
        image.bins[(CLS_TILE_HEADER, 0, tile.index)] = b"".join(p[0] for p in tile.parts)
    for prec in image.precincts:
        image.bins[(CLS_PRECINCT, 0, prec.bin_id)] = b"".join(b for _, b in prec.packets)


def resolution_geometry(image, tile, comp, cs, r):
    """(trx0, try0, trx1, try1, ppx, ppy, nprec_x, nprec_y) of resolution r."""
    _, dx, dy = image.siz["comps"][comp]
    tcx0, tcy0 = ceil_div(tile.x0, dx), ceil_div(tile.y0, dy)
    tcx1, tcy1 = ceil_div(tile.x1, dx), ceil_div(tile.y1, dy)
    sh = cs.levels - r
    trx0, try0 = ceil_div(tcx0, 1 << sh), ceil_div(tcy0, 1 << sh)
    trx1, try1 = ceil_div(tcx1, 1 << sh), ceil_div(tcy1, 1 << sh)
    ppx, ppy = cs.pp(r)
    nx = ceil_div(trx1, 1 << ppx) - (trx0 >> ppx) if trx1 > trx0 else 0
    ny = ceil_div(try1, 1 << ppy) - (try0 >> ppy) if try1 > try0 else 0
    return trx0, try0, trx1, try1, ppx, ppy, nx, ny


def assign_packets(image, data, tile, styles, main):
    siz = image.siz
    C, T = siz["Csiz"], siz["tx"] * siz["ty"]
    precs = {}           # (c, r, k) -> Precinct
    corner = {}          # (c, r, k) -> canvas (x, y) of the corner clipped to the tile
    grids = {}           # (c, r, k) -> code-block grid of each subband, for header reading
    for c, cs in enumerate(styles):
        s = 0
        _, dx, dy = siz["comps"][c]
        tcx = (ceil_div(tile.x0, dx), ceil_div(tile.x1, dx))
        tcy = (ceil_div(tile.y0, dy), ceil_div(tile.y1, dy))
        for r in range(cs.levels + 1):
            trx0, try0, trx1, try1, ppx, ppy, nx, ny = resolution_geometry(image, tile, c, cs, r)
            sh = cs.levels - r
            for k in range(nx * ny):
                i, j = k % nx, k // nx
                kx, ky = (trx0 >> ppx) + i, (try0 >> ppy) + j
                p = Precinct(tile.index, c, r, k, s)
                p.area = (max(trx0, kx << ppx), max(try0, ky << ppy),
                          min(trx1, (kx + 1) << ppx), min(try1, (ky + 1) << ppy))
                p.bin_id = tile.index + (c + s * C) * T
                if p.bin_id >= 1 << 63:
                    raise Refused("precinct id too large")
                precs[(c, r, k)] = p
                corner[(c, r, k)] = (max(tile.x0, (kx << (ppx + sh)) * dx),
                                     max(tile.y0, (ky << (ppy + sh)) * dy))
                if tile.read_headers:
                    grids[(c, r, k)] = packets.precinct_bands(r, cs.levels, tcx, tcy, kx, ky, ppx, ppy,
                                                              cs.xcb, cs.ycb)
                s += 1
    layers = styles[0].layers
    poc = tile.header.poc if tile.header.poc else main.poc
    if poc:
        volumes = [(rs, cs0, lye, re_, ce, order) for rs, cs0, lye, re_, ce, order in poc]
    else:
        volumes = [(0, 0, layers, 33, C, styles[0].order)]
    sequence = []
    done = set()
    for rs, c0, lye, re_, ce, order in volumes:
        lye = min(lye, layers)
        ce = min(ce, C)
        keys = [key for key in precs if c0 <= key[0] < ce and rs <= key[1] < re_]
        name = ORDERS[order]
        if name in ("LRCP", "RLCP"):
            if name == "LRCP":
                order_key = lambda kl: (kl[1], kl[0][1], kl[0][0], kl[0][2])
            else:
                order_key = lambda kl: (kl[0][1], kl[1], kl[0][0], kl[0][2])
        else:
            def order_key(kl, name=name):
                (c, r, k), l = kl
                x, y = corner[(c, r, k)]
                if name == "RPCL":
                    return (r, y, x, c, l)
                if name == "PCRL":
                    return (y, x, c, r, l)
                return (c, y, x, r, l)
        for kl in sorted(((key, l) for key in keys for l in range(lye)), key=order_key):
            if kl not in done:
                done.add(kl)
                sequence.append(kl)
    if tile.read_headers:
        tile.plt = header_lengths(data, tile, sequence, grids, styles)
    if len(sequence) != len(tile.plt) or len(done) != len(precs) * layers:
        raise Refused("tile %d: PLT lists %d packets, the coding parameters give %d"
                      % (tile.index, len(tile.plt), len(precs) * layers))
    # Walk the tile-part bodies packet by packet.
    bodies = [(s, e) for _, s, e in tile.parts]
    bi, pos = 0, bodies[0][0] if bodies else 0
    for (key, l), n in zip(sequence, tile.plt):
        while bi < len(bodies) and pos == bodies[bi][1] and n > 0:
            bi += 1
            pos = bodies[bi][0] if bi < len(bodies) else pos
        if bi >= len(bodies) or pos + n > bodies[bi][1]:
            raise Refused("tile %d: a packet crosses a tile-part boundary" % tile.index)
        precs[key].packets.append((l, data[pos:pos + n]))
        pos += n
    for c in range(C):
        image.precincts.extend(sorted((p for key, p in precs.items() if key[0] == c),
                                      key=lambda p: p.s))
    for p in precs.values():
        p.packets.sort(key=lambda lp: lp[0])


def header_lengths(data, tile, sequence, grids, styles):
    """Packet lengths of a tile read from its packet headers, in progression order."""
    states = {key: packets.PrecinctState(grid, styles[key[0]].cbstyle) for key, grid in grids.items()}
    bodies = [(s, e) for _, s, e in tile.parts]
    lengths, bi, pos = [], 0, bodies[0][0] if bodies else 0
    try:
        for key, layer in sequence:
            while bi < len(bodies) and pos == bodies[bi][1]:
                bi += 1
                pos = bodies[bi][0] if bi < len(bodies) else pos
            if bi >= len(bodies):
                raise packets.Refused("the tile-parts end before the last packet")
            cs = styles[key[0]]
            n = packets.packet_length(data, pos, bodies[bi][1], states[key], layer, cs.sop, cs.eph)
            lengths.append(n)
            pos += n
    except packets.Refused as e:
        raise Refused("tile %d without PLT: %s" % (tile.index, e))
    left = sum(e - s for s, e in bodies[bi + 1:]) + (bodies[bi][1] - pos if bi < len(bodies) else 0)
    if left:
        raise Refused("tile %d without PLT: bytes after its last packet" % tile.index)
    return lengths


def split_jp2(image, data):
    pos, end, boxes = 0, len(data), []
    codestream = None
    while pos < end:
        r = Reader(data, pos)
        lbox, tbox = r.u32("box header"), r.take(4, "box header")
        hlen = 8
        if lbox == 1:
            lbox = struct.unpack(">Q", r.take(8, "box header"))[0]
            hlen = 16
        elif lbox == 0:
            lbox = end - pos
        if lbox < hlen or pos + lbox > end:
            raise Refused("box %r at byte %d has a bad length" % (tbox, pos))
        if tbox == b"jp2c":
            if codestream is None:
                codestream = data[pos + hlen:pos + lbox]
                orig = data[pos:pos + hlen]
                box = (struct.pack(">I", 44 + hlen) + b"phld" + struct.pack(">I", 4)
                       + bytes(8) + orig + bytes(8) + bytes(8) + bytes(8))
                boxes.append(box)
            else:
                boxes.append(data[pos:pos + lbox])
        else:
            boxes.append(data[pos:pos + lbox])
        pos += lbox
    if codestream is None:
        raise Refused("JP2 file without a contiguous codestream box")
    image.kind = "jp2"
    split_codestream(image, codestream)
    image.meta = b"".join(boxes)


def index_bytes(data):
    image = Image()
    if data[:12] == JP2_SIGNATURE:
        split_jp2(image, data)
    elif data[:2] == b"\xff\x4f":
        split_codestream(image, data)
    else:
        raise Refused("neither a JP2 file nor a codestream")
    image.bins[(CLS_META, 0, 0)] = image.meta
    return image


def index_file(path):
    with open(path, "rb") as f:
        return index_bytes(f.read())
