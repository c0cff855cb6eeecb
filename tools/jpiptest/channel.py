"""Channels: the server's record of what each client holds, windows and reply bodies."""
import re
import threading

from . import codestream as cs_mod
from .codestream import ceil_div, CLS_META, CLS_MAIN_HEADER, CLS_TILE_HEADER, CLS_PRECINCT
from . import jpp


class BadRequest(Exception):
    """A malformed request field (answered with 400)."""


_UINT = re.compile(r"^[0-9]{1,10}$")


def parse_pair(text, name, positive=False):
    parts = text.split(",")
    if len(parts) != 2 or not all(_UINT.match(p) for p in parts):
        raise BadRequest("malformed %s" % name)
    a, b = int(parts[0]), int(parts[1])
    if a >= 1 << 31 or b >= 1 << 31 or (positive and (a == 0 or b == 0)):
        raise BadRequest("%s out of range" % name)
    return a, b


def parse_fsiz(text):
    parts = text.split(",")
    rounding = "round-down"
    if len(parts) == 3:
        rounding = parts.pop()
        if rounding not in ("closest", "round-down", "round-up"):
            raise BadRequest("bad fsiz rounding")
    return parse_pair(",".join(parts), "fsiz", positive=True) + (rounding,)


_MODEL_ENTRY = re.compile(r"^(Hm|H|P|T|M)([0-9]{0,19})(?::([0-9]{1,10}))?$")
_MODEL_QUAL = re.compile(r"^\[([0-9]{1,19})\]$")
MODEL_CLASS = {"Hm": CLS_MAIN_HEADER, "H": CLS_TILE_HEADER, "P": CLS_PRECINCT, "T": 4, "M": CLS_META}


def parse_model(text):
    """Returns (class, codestream, id, bytes or None for whole) entries."""
    out, codestream = [], 0
    if text == "":
        return out
    for item in text.split(","):
        m = _MODEL_QUAL.match(item)
        if m:
            codestream = int(m.group(1))
            if codestream >= 1 << 63:
                raise BadRequest("bad model codestream")
            continue
        m = _MODEL_ENTRY.match(item)
        if not m:
            raise BadRequest("bad model entry %r" % item)
        code, ident, nbytes = m.groups()
        if (code == "Hm") != (ident == ""):
            raise BadRequest("bad model entry %r" % item)
        ident = int(ident) if ident else 0
        if ident >= 1 << 63:
            raise BadRequest("bad model bin id")
        out.append((MODEL_CLASS[code], 0 if code == "M" else codestream, ident,
                    None if nbytes is None else int(nbytes)))
    return out


class Window:
    def __init__(self):
        self.d = 0
        self.region = None        # (x, y, w, h) in the frame at level d
        self.headers = {}         # extra reply headers
        self.canvas = None        # (X0, Y0, X1, Y1) on the full canvas


def choose_level(image, fw, fh, rounding):
    dmax = image.levels_min()
    frames = [(d,) + image.frame(d) for d in range(dmax + 1)]
    if rounding == "closest":
        return min(frames, key=lambda f: (abs(f[1] - fw) + abs(f[2] - fh), f[0]))[0]
    if rounding == "round-up":
        fits = [f for f in frames if f[1] >= fw and f[2] >= fh]
        return max(fits)[0] if fits else 0
    fits = [f for f in frames if f[1] <= fw and f[2] <= fh]
    return min(fits)[0] if fits else dmax


def make_window(image, query):
    """The window of a request, or None when it asks for no frame (headers only)."""
    roff = parse_pair(query["roff"], "roff") if "roff" in query else None
    rsiz = parse_pair(query["rsiz"], "rsiz") if "rsiz" in query else None
    if "fsiz" not in query:
        return None
    fw, fh, rounding = parse_fsiz(query["fsiz"])
    win = Window()
    win.d = choose_level(image, fw, fh, rounding)
    gw, gh = image.frame(win.d)
    x, y = roff if roff else (0, 0)
    w, h = rsiz if rsiz else (max(fw - x, 0), max(fh - y, 0))
    if (gw, gh) != (fw, fh):
        x1, y1 = ceil_div((x + w) * gw, fw), ceil_div((y + h) * gh, fh)
        x, y = x * gw // fw, y * gh // fh
        w, h = x1 - x, y1 - y
    x, y = min(x, gw), min(y, gh)
    w, h = min(w, gw - x), min(h, gh - y)
    if (gw, gh) != (fw, fh):
        win.headers = {"JPIP-fsiz": "%d,%d" % (gw, gh), "JPIP-roff": "%d,%d" % (x, y),
                       "JPIP-rsiz": "%d,%d" % (w, h)}
    win.region = (x, y, w, h)
    siz = image.siz
    ox, oy = ceil_div(siz["XOsiz"], 1 << win.d), ceil_div(siz["YOsiz"], 1 << win.d)
    win.canvas = (max((ox + x) << win.d, siz["XOsiz"]), max((oy + y) << win.d, siz["YOsiz"]),
                  min((ox + x + w) << win.d, siz["Xsiz"]), min((oy + y + h) << win.d, siz["Ysiz"]))
    return win


GROW = 16  # samples of a resolution covering the 5/3 and 9/7 supports


def window_bins(image, win):
    """Tile headers and (layer-ordered) packet ranges of the window, in sending order.

    A client repeats the same window many times while its data arrives: the answer is
    kept per image and window (the caller must not change the lists)."""
    cache = image.__dict__.setdefault("window_bins_cache", {})
    key = (win.d, win.canvas)
    found = cache.get(key)
    if found is None:
        found = cache[key] = _window_bins(image, win)
    return found


def _window_bins(image, win):
    X0, Y0, X1, Y1 = win.canvas
    if X1 <= X0 or Y1 <= Y0:
        return [], []
    tiles = [t for t in image.tiles if t.x0 < X1 and t.x1 > X0 and t.y0 < Y1 and t.y1 > Y0]
    tset = {t.index for t in tiles}
    chosen = []
    for p in image.precincts:
        if p.tile not in tset:
            continue
        style = image.tile_styles[p.tile][p.comp]
        if p.res > style.levels - win.d:
            continue
        _, dx, dy = image.siz["comps"][p.comp]
        sh = style.levels - p.res
        wx0, wx1 = ceil_div(ceil_div(X0, dx), 1 << sh), ceil_div(ceil_div(X1, dx), 1 << sh)
        wy0, wy1 = ceil_div(ceil_div(Y0, dy), 1 << sh), ceil_div(ceil_div(Y1, dy), 1 << sh)
        wx1, wy1 = max(wx1, wx0 + 1), max(wy1, wy0 + 1)
        ax0, ay0, ax1, ay1 = p.area
        if ax0 - GROW < wx1 and ax1 + GROW > wx0 and ay0 - GROW < wy1 and ay1 + GROW > wy0:
            chosen.append(p)
    packets = []
    for p in chosen:
        off = 0
        for layer, data in p.packets:
            packets.append(((layer, p.res, p.comp, p.tile, p.index), p.bin_id, off, off + len(data)))
            off += len(data)
    packets.sort(key=lambda e: e[0])
    return [t.index for t in tiles], packets


class BinRecord:
    __slots__ = ("ranges", "final")

    def __init__(self):
        self.ranges = []   # sorted, merged [start, end)
        self.final = False

    def add(self, a, b):
        if b <= a:
            return
        rs = self.ranges + [[a, b]]
        rs.sort()
        out = []
        for s, e in rs:
            if out and s <= out[-1][1]:
                out[-1][1] = max(out[-1][1], e)
            else:
                out.append([s, e])
        self.ranges = out

    def missing(self, a, b):
        out, pos = [], a
        for s, e in self.ranges:
            if e <= pos:
                continue
            if s >= b:
                break
            if s > pos:
                out.append((pos, s))
            pos = max(pos, e)
        if pos < b:
            out.append((pos, b))
        return out

    def complete(self, length):
        return self.final and self.missing(0, length) == []


class Channel:
    def __init__(self, token, path, name, image):
        self.token, self.path, self.name, self.image = token, path, name, image
        self.lock = threading.Lock()
        self.model = {}
        # Per window: how many leading bins of its plan the client holds whole. The model
        # only grows, so a bin held whole stays held and the next reply starts there.
        self.held = {}

    def record(self, key):
        rec = self.model.get(key)
        if rec is None:
            rec = self.model[key] = BinRecord()
        return rec

    def add_model(self, entries):
        for cls, codestream, ident, nbytes in entries:
            rec = self.record((cls, codestream, ident))
            actual = self.image.bins.get((cls, codestream, ident))
            if nbytes is None:
                if actual is not None:
                    rec.add(0, len(actual))
                rec.final = True
            else:
                rec.add(0, nbytes)

    def image_done(self):
        for key, data in self.image.bins.items():
            rec = self.model.get(key)
            if rec is None or not rec.complete(len(data)):
                return False
        return True

    def reply(self, win, limit, extended=False, no_eor=False):
        """Builds the body for a window; returns (body, eor reason or None, bins sent)."""
        img = self.image
        plan = [(CLS_META, 0, 0, None), (CLS_MAIN_HEADER, 0, 0, None)]
        packets = []
        if win is not None:
            tiles, packets = window_bins(img, win)
            plan += [(CLS_TILE_HEADER, 0, t, None) for t in tiles]
        plan += [(CLS_PRECINCT, 0, bin_id, (a, b)) for _, bin_id, a, b in packets]
        writer = jpp.Writer(extended)
        out, sent, used, stopped = [], [], 0, False
        plan_key = None if win is None else (win.d, win.canvas)
        start = self.held.get(plan_key, 0)
        held = start
        for i in range(start, len(plan)):
            cls, codestream, ident, rng = plan[i]
            data = img.bins[(cls, codestream, ident)]
            a, b = rng if rng else (0, len(data))
            rec = self.record((cls, codestream, ident))
            pieces = rec.missing(a, b)
            if b == len(data) and not rec.final and not pieces:
                pieces = [(b, b)]
            if not pieces and held == i:
                held = i + 1
            for s, e in pieces:
                final = e == len(data)
                hdr = writer.header(cls, codestream, ident, s, e - s, final)
                if used + len(hdr) + (e - s) > limit:
                    # Cut the message when its header and at least one byte fit.
                    n = e - s
                    while n > 0:
                        hdr = writer.header(cls, codestream, ident, s, n, False)
                        if used + len(hdr) + n <= limit:
                            break
                        n = min(n - 1, limit - used - len(hdr))
                    if n > 0:
                        out.append(writer.message(cls, codestream, ident, s, data[s:s + n], False))
                        used += len(out[-1])
                        rec.add(s, s + n)
                        sent.append((cls, codestream, ident, s, n, False))
                    stopped = True
                    break
                out.append(writer.message(cls, codestream, ident, s, data[s:e], final))
                used += len(out[-1])
                rec.add(s, e)
                if final:
                    rec.final = True
                sent.append((cls, codestream, ident, s, e - s, final))
            if stopped:
                break
        self.held[plan_key] = held
        if stopped:
            reason = 4
        elif self.image_done():
            reason = 1
        else:
            reason = 2
        if no_eor:
            return b"".join(out), None, sent
        out.append(jpp.eor(reason))
        return b"".join(out), reason, sent
