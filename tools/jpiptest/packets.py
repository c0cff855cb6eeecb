"""Packet lengths read from the packet headers, for tile-parts that carry no PLT.

A packet's length is its SOP segment (when present), its header, its EPH marker (when
present) and the code-block bytes the header announces. Reading a header needs the state
of earlier packets of the same precinct (inclusion and zero bit-plane tag trees, each
code-block's length indicator and pass count), so a tile's packets are read in their
progression order, one `PrecinctState` per precinct.
"""

SOP, EPH = 0xFF91, 0xFF92
BYPASS, TERMALL, HT = 0x01, 0x04, 0x40  # code-block style bits that change a header's shape
MAX_BITPLANES = 255                      # far above any real stream; bounds a run of 0 bits


class Refused(Exception):
    pass


def ceil_div(a, b):
    return -(-a // b)


class Bits:
    """Header bits, most significant first; after a 0xFF byte the next byte holds 7."""

    def __init__(self, data, pos, end):
        self.data, self.pos, self.end = data, pos, end
        self.byte = self.left = 0
        self.after_ff = False

    def bit(self):
        if self.left == 0:
            if self.pos >= self.end:
                raise Refused("packet header runs past its tile-part")
            self.byte = self.data[self.pos]
            self.pos += 1
            self.left = 7 if self.after_ff else 8
            self.after_ff = self.byte == 0xFF
        self.left -= 1
        return (self.byte >> self.left) & 1

    def bits(self, n):
        v = 0
        for _ in range(n):
            v = (v << 1) | self.bit()
        return v

    def finish(self):
        """Position after the header: a last 0xFF byte is followed by a stuffed one."""
        if self.after_ff:
            if self.pos >= self.end:
                raise Refused("packet header runs past its tile-part")
            self.pos += 1
        return self.pos


class TagTree:
    """A tag tree over w x h leaves, decoded lazily: each node keeps its lower bound."""

    def __init__(self, w, h):
        self.levels = []                 # leaf level first: (w, h, low list, known list)
        while True:
            self.levels.append((w, h, [0] * (w * h), [False] * (w * h)))
            if w <= 1 and h <= 1:
                break
            w, h = ceil_div(w, 2), ceil_div(h, 2)

    def decode(self, bits, x, y, threshold):
        """Reads until the leaf's value is known or reaches threshold; True if below it."""
        low = 0
        for level in reversed(range(len(self.levels))):
            w, _, lows, known = self.levels[level]
            i = (y >> level) * w + (x >> level)
            if lows[i] < low:
                lows[i] = low
            while not known[i] and lows[i] < threshold:
                if bits.bit():
                    known[i] = True
                else:
                    lows[i] += 1
                    if lows[i] > MAX_BITPLANES:
                        raise Refused("tag tree value out of range")
            low = lows[i]
        return low < threshold


class Block:
    __slots__ = ("included", "lblock", "passes")

    def __init__(self):
        self.included, self.lblock, self.passes = False, 3, 0


class BandState:
    def __init__(self, nx, ny):
        self.nx, self.ny = nx, ny
        self.inclusion = TagTree(nx, ny)
        self.zero_planes = TagTree(nx, ny)
        self.blocks = [Block() for _ in range(nx * ny)]


def precinct_bands(r, levels, tcx, tcy, kx, ky, ppx, ppy, xcb, ycb):
    """Code-block grid (nx, ny) of each subband of precinct (kx, ky) of resolution r.

    tcx, tcy: the tile-component's (x0, x1) and (y0, y1) on its own grid."""
    if r == 0:
        bands, nb, px, py = ((0, 0),), levels, ppx, ppy
    else:
        bands, nb, px, py = ((1, 0), (0, 1), (1, 1)), levels - r + 1, ppx - 1, ppy - 1
    cbx, cby = min(xcb, px), min(ycb, py)
    out = []
    for xob, yob in bands:
        off_x, off_y = (xob << nb) >> 1, (yob << nb) >> 1
        bx0, bx1 = ceil_div(tcx[0] - off_x, 1 << nb), ceil_div(tcx[1] - off_x, 1 << nb)
        by0, by1 = ceil_div(tcy[0] - off_y, 1 << nb), ceil_div(tcy[1] - off_y, 1 << nb)
        x0, x1 = max(bx0, kx << px), min(bx1, (kx + 1) << px)
        y0, y1 = max(by0, ky << py), min(by1, (ky + 1) << py)
        if x1 <= x0 or y1 <= y0:
            out.append((0, 0))
        else:
            out.append((ceil_div(x1, 1 << cbx) - (x0 >> cbx), ceil_div(y1, 1 << cby) - (y0 >> cby)))
    return out


class PrecinctState:
    def __init__(self, grids, style):
        if style & HT:
            raise Refused("HT code-blocks need PLT")
        self.bands = [BandState(nx, ny) for nx, ny in grids]
        self.style = style


def pass_count(bits):
    if not bits.bit():
        return 1
    if not bits.bit():
        return 2
    n = bits.bits(2)
    if n < 3:
        return 3 + n
    n = bits.bits(5)
    if n < 31:
        return 6 + n
    return 37 + bits.bits(7)


def segment_room(style, first):
    """How many passes the codeword segment holding pass `first` still takes."""
    if style & TERMALL:
        return 1
    if style & BYPASS:
        if first < 10:
            return 10 - first
        return 2 - (first - 10) % 3 if (first - 10) % 3 < 2 else 1
    return 1 << 30


def read_body_lengths(bits, state, layer):
    """Reads one packet header after its first bit; returns the code-block bytes announced."""
    total = 0
    for band in state.bands:
        for j in range(band.ny):
            for i in range(band.nx):
                block = band.blocks[j * band.nx + i]
                if block.included:
                    included = bits.bit() == 1
                else:
                    included = band.inclusion.decode(bits, i, j, layer + 1)
                if not included:
                    continue
                if not block.included:
                    band.zero_planes.decode(bits, i, j, MAX_BITPLANES + 2)
                    block.included = True
                passes = pass_count(bits)
                while bits.bit():
                    block.lblock += 1
                    if block.lblock > 32:
                        raise Refused("code-block length indicator out of range")
                while passes:
                    n = min(passes, segment_room(state.style, block.passes))
                    total += bits.bits(block.lblock + n.bit_length() - 1)
                    block.passes += n
                    passes -= n
    return total


def packet_length(data, pos, end, state, layer, sop, eph):
    """Length of the packet at pos, which must end by `end`."""
    start = pos
    if sop and end - pos >= 6 and data[pos] == 0xFF and data[pos + 1] == 0x91:
        pos += 6
    bits = Bits(data, pos, end)
    body = read_body_lengths(bits, state, layer) if bits.bit() else 0
    pos = bits.finish()
    if eph and end - pos >= 2 and data[pos] == 0xFF and data[pos + 1] == 0x92:
        pos += 2
    if pos + body > end:
        raise Refused("packet body runs past its tile-part")
    return pos + body - start
