"""JPP-stream message writer."""


def vbas(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def bin_id_bytes(bin_id):
    """The first header byte carries the top 4 bits of the id, later bytes 7 each."""
    n = 0
    while bin_id >> (4 + 7 * n):
        n += 1
    first = (bin_id >> (7 * n)) & 0x0F
    rest = []
    for i in range(n - 1, -1, -1):
        rest.append(((bin_id >> (7 * i)) & 0x7F) | (0x80 if i else 0))
    return first | (0x80 if n else 0), bytes(rest)


class Writer:
    """Writes the messages of one reply, choosing the shortest header form."""

    def __init__(self, extended=False):
        self.extended = extended
        self.prev = None   # (class identifier, codestream) of the previous message

    def class_id(self, cls):
        if self.extended and cls in (0, 8):
            return cls + 1
        return cls

    def header(self, cls, cs, bin_id, offset, length, final):
        cid = self.class_id(cls)
        first, rest = bin_id_bytes(bin_id)
        if self.prev == (cid, cs):
            form, extra = 1, b""
        elif self.prev is not None and self.prev[1] == cs:
            form, extra = 2, vbas(cid)
        else:
            form, extra = 3, vbas(cid) + vbas(cs)
        b = first | (form << 5) | (0x10 if final else 0)
        h = bytes([b]) + rest + extra + vbas(offset) + vbas(length)
        if cid & 1:
            h += vbas(0)
        return h

    def message(self, cls, cs, bin_id, offset, data, final):
        h = self.header(cls, cs, bin_id, offset, len(data), final)
        self.prev = (self.class_id(cls), cs)
        return h + data


def eor(reason):
    return bytes([0, reason, 0])
