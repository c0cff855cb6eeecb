"""Test-side JPP-stream reader, codestream walker and rebuilder.

Written for the tests alone: it shares nothing with the server it checks.
"""
import struct


def _vbas(data, i):
    value = 0
    while True:
        if i >= len(data):
            raise EOFError("VBAS runs past the body")
        b = data[i]
        i += 1
        value = value * 128 + (b & 0x7F)
        if b < 0x80:
            return value, i


def read_messages(body):
    """Messages of a body: dicts with kind data/eor and, for data, the header form used."""
    out, i = [], 0
    cls, cs = 0, 0
    while i < len(body):
        b = body[i]
        if b == 0:
            reason = body[i + 1]
            n, i = _vbas(body, i + 2)
            out.append({"kind": "eor", "reason": reason, "body": body[i:i + n]})
            i += n
            continue
        form = (b >> 5) & 3
        if form == 0:
            raise ValueError("bad header form")
        final = bool(b & 0x10)
        ident = b & 0x0F
        i += 1
        last = b
        while last & 0x80:
            last = body[i]
            i += 1
            ident = ident * 128 + (last & 0x7F)
        if form >= 2:
            cls, i = _vbas(body, i)
        if form == 3:
            cs, i = _vbas(body, i)
        offset, i = _vbas(body, i)
        length, i = _vbas(body, i)
        if cls & 1:
            _, i = _vbas(body, i)
        if i + length > len(body):
            raise EOFError("message data runs past the body")
        out.append({"kind": "data", "form": form, "class": cls, "cs": cs, "id": ident,
                    "offset": offset, "data": body[i:i + length], "final": final})
        i += length
    return out


class Bins:
    """Assembled data-bins, keyed by (cache class, codestream, id); tracks duplicates."""

    def __init__(self):
        self.data = {}
        self.final = set()
        self.overlaps = 0

    def add_body(self, body):
        msgs = read_messages(body)
        for m in msgs:
            if m["kind"] != "data":
                continue
            key = (m["class"] // 2, m["cs"], m["id"])
            buf = self.data.setdefault(key, bytearray())
            got = self.data.setdefault(("cover",) + key, bytearray())
            end = m["offset"] + len(m["data"])
            if len(buf) < end:
                buf.extend(bytes(end - len(buf)))
                got.extend(bytes(end - len(got)))
            if any(got[m["offset"]:end]):
                self.overlaps += 1
            buf[m["offset"]:end] = m["data"]
            got[m["offset"]:end] = b"\x01" * len(m["data"])
            if m["final"]:
                self.final.add(key)
        return msgs

    def get(self, cls, ident, cs=0):
        key = (cls, cs, ident)
        if key not in self.data:
            return None
        assert all(self.data[("cover",) + key]), "bin %r has a gap" % (key,)
        return bytes(self.data[key])

    def keys(self, cls):
        return sorted(k[2] for k in self.data if k[0] == cls and k[1] == 0 and len(k) == 3)


# Codestream walking ---------------------------------------------------------------

def segments(data, start, stop_at):
    """(marker, bytes) of marker segments from start until a marker in stop_at."""
    out, i = [], start
    while True:
        m = struct.unpack(">H", data[i:i + 2])[0]
        if m in stop_at:
            return out, i
        n = struct.unpack(">H", data[i + 2:i + 4])[0]
        out.append((m, data[i:i + 2 + n]))
        i += 2 + n


def split_file(data):
    """main header segments, tile parts: (tile, header segments, body) and the SOT offset."""
    assert data[:2] == b"\xff\x4f"
    main, i = segments(data, 2, {0xFF90})
    parts = []
    while struct.unpack(">H", data[i:i + 2])[0] == 0xFF90:
        isot, psot = struct.unpack(">HI", data[i + 4:i + 10])
        segs, j = segments(data, i + 12, {0xFF93})
        end = i + psot if psot else len(data) - 2
        parts.append((isot, segs, data[j + 2:end]))
        i = end
    return main, parts


class Geometry:
    """Tile, resolution and precinct layout read from a main header and tile headers."""

    def __init__(self, main, tile_headers):
        segs, _ = segments(main + b"\xff\x90", 2, {0xFF90})
        siz = [s for m, s in segs if m == 0xFF51][0]
        (self.X, self.Y, self.XO, self.YO, self.XT, self.YT, self.XTO, self.YTO) = \
            struct.unpack(">8I", siz[6:38])
        self.C = struct.unpack(">H", siz[38:40])[0]
        self.sub = [(siz[41 + 3 * c], siz[42 + 3 * c]) for c in range(self.C)]
        self.ntx = -(-(self.X - self.XTO) // self.XT)
        self.nty = -(-(self.Y - self.YTO) // self.YT)
        self.T = self.ntx * self.nty
        self.main_style = self._styles(segs, None)
        self.styles = [self._styles(self._tile_segs(tile_headers.get(t, b"")), self.main_style)
                       for t in range(self.T)]

    @staticmethod
    def _tile_segs(th):
        out, i = [], 0
        while i < len(th):
            n = struct.unpack(">H", th[i + 2:i + 4])[0]
            out.append((struct.unpack(">H", th[i:i + 2])[0], th[i:i + 2 + n]))
            i += 2 + n
        return out

    def _styles(self, segs, base):
        cod = None
        coc = {}
        for m, s in segs:
            if m == 0xFF52:
                cod = self._spcod(s[4] & 1, s[9:], s[6:8])
            elif m == 0xFF53:
                w = 2 if self.C >= 257 else 1
                c = int.from_bytes(s[4:4 + w], "big")
                coc[c] = self._spcod(s[4 + w] & 1, s[5 + w:], None)
        out = []
        for c in range(self.C):
            if c in coc:
                st = dict(coc[c])
                st["layers"] = (cod or base[c])["layers"]
            elif cod:
                st = cod
            else:
                st = base[c]
            out.append(st)
        return out

    @staticmethod
    def _spcod(user, sp, layers):
        nl = sp[0]
        pp = [(sp[5 + r] & 15, sp[5 + r] >> 4) for r in range(nl + 1)] if user else [(15, 15)] * (nl + 1)
        st = {"levels": nl, "pp": pp}
        if layers is not None:
            st["layers"] = struct.unpack(">H", layers)[0]
        return st

    def tile_rect(self, t):
        p, q = t % self.ntx, t // self.ntx
        return (max(self.XTO + p * self.XT, self.XO), max(self.YTO + q * self.YT, self.YO),
                min(self.XTO + (p + 1) * self.XT, self.X), min(self.YTO + (q + 1) * self.YT, self.Y))

    def precincts(self, t, c):
        """(s, r, k, corner x, corner y) of every precinct of tile-component (t, c)."""
        x0, y0, x1, y1 = self.tile_rect(t)
        dx, dy = self.sub[c]
        st = self.styles[t][c]
        out, s = [], 0
        cx0, cy0, cx1, cy1 = -(-x0 // dx), -(-y0 // dy), -(-x1 // dx), -(-y1 // dy)
        for r in range(st["levels"] + 1):
            f = 1 << (st["levels"] - r)
            rx0, ry0, rx1, ry1 = -(-cx0 // f), -(-cy0 // f), -(-cx1 // f), -(-cy1 // f)
            px, py = st["pp"][r]
            nx = (-(-rx1 // (1 << px)) - (rx0 >> px)) if rx1 > rx0 else 0
            ny = (-(-ry1 // (1 << py)) - (ry0 >> py)) if ry1 > ry0 else 0
            for k in range(nx * ny):
                kx, ky = (rx0 >> px) + k % nx, (ry0 >> py) + k // nx
                out.append((s, r, k, max(x0, (kx << px) * f * dx), max(y0, (ky << py) * f * dy)))
                s += 1
        return out

    def bin_id(self, t, c, s):
        return t + (c + s * self.C) * self.T


def _rewrite(segs):
    out = b""
    for m, s in segs:
        if m in (0xFF5F, 0xFF55, 0xFF57, 0xFF58):     # POC, TLM, PLM, PLT
            continue
        if m == 0xFF52:
            s = s[:5] + b"\x04" + s[6:]                # progression: CPRL
        out += s
    return out


def rebuild(bins):
    """A codestream with one CPRL tile-part per tile from the bins received.

    A missing precinct is one empty packet per layer; a tile whose header never came
    has an empty one."""
    main = bins.get(3, 0)
    theads = {t: bins.get(1, t) for t in bins.keys(1)}
    g = Geometry(main, theads)
    msegs, _ = segments(main + b"\xff\x90", 2, {0xFF90})
    out = main[:2] + _rewrite(msegs)
    for t in range(g.T):
        head = _rewrite(Geometry._tile_segs(theads.get(t) or b""))
        body = b""
        for c in range(g.C):
            layers = g.styles[t][c]["layers"]
            for s, r, k, x, y in sorted(g.precincts(t, c), key=lambda p: (p[4], p[3], p[1])):
                data = bins.get(0, g.bin_id(t, c, s))
                body += data if data is not None else b"\x00" * layers
        psot = 12 + len(head) + 2 + len(body)
        out += struct.pack(">HHHIBB", 0xFF90, 10, t, psot, 0, 1) + head + b"\xff\x93" + body
    return out + b"\xff\xd9"


def pgx_samples(path):
    with open(path, "rb") as f:
        data = f.read()
    return data[data.index(b"\n") + 1:]
