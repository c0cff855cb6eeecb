#!/usr/bin/env python3
"""Reads and writes annotation texts without the viewer's code.

  ann_text.py decode < text     one line per object and member, every field named
  ann_text.py encode < listing  the text again

A text is the hexadecimal form of the annotation archive: the bytes from the last
written to the first written, two lower-case digits each. Written in order, the archive
holds the version (1017) and the object count as 32-bit little-endian ints, then one
record per object: its class name (a 32-bit byte count, then UTF-16LE units) and its
fields. A member record inside an object starts with its own class name too.

Listing form: a first line "COrbelAnnContainer version=V count=N", then each object as
"ClassName field=value ...", each member on its own line below its owner, indented two
spaces per level and headed "role: ClassName".
"""
import struct
import sys

# One entry per stored class: (field, kind); kind "i" int32, "b" byte, "d" double,
# "s" string, "m" bitmap (32-bit byte count, then a BMP file image; listed in hexadecimal),
# or a member role with the member's class name stored first.
CLASSES = {
    "COrbelAnnLine": [("complete", "i"), ("creating", "i"), ("selected", "b"),
                      ("imageStart.x", "i"), ("imageStart.y", "i"),
                      ("imageEnd.x", "i"), ("imageEnd.y", "i")],
    "COrbelAnnRectangle": [("complete", "i"), ("creating", "i"), ("selected", "b"),
                           ("x1", "i"), ("y1", "i"), ("x2", "i"), ("y2", "i")],
    "COrbelAnnArrow": [("complete", "i"), ("selected", "b"),
                       ("shaft", "member"), ("wing1", "member"), ("wing2", "member")],
    "COrbelAnnArrowMark": [("type", "i"), ("complete", "i"), ("selected", "b"),
                           ("arrow", "member")],
    "COrbelAnnText": [("complete", "i"), ("creating", "i"), ("selected", "b"),
                      ("imageCorner2.x", "i"), ("imageCorner2.y", "i"),
                      ("imageCorner1.x", "i"), ("imageCorner1.y", "i"),
                      ("text", "s"), ("turnsCaptured", "i"), ("storedTurns", "i")],
    "COrbelAnnTextMark": [("type", "i"), ("complete", "i"), ("pending", "i"), ("editing", "i"),
                          ("done", "i"), ("selected", "b"), ("text", "member")],
    "COrbelAnnLabel": [("complete", "i"), ("selected", "b"), ("arrow", "member"), ("text", "member")],
    "COrbelAnnRuler": [("type", "i"), ("complete", "i"), ("selected", "b"), ("measured", "member"),
                       ("tick1", "member"), ("tick2", "member"), ("label", "member")],
    "COrbelAnnProtractor": [("type", "i"), ("complete", "i"), ("creating", "i"), ("selected", "b"),
                            ("hideArms", "b"), ("step", "i"), ("angle", "d"),
                            ("arcStart.x", "i"), ("arcStart.y", "i"), ("arcEnd.x", "i"), ("arcEnd.y", "i"),
                            ("arcBoxMin.x", "i"), ("arcBoxMin.y", "i"), ("arcBoxMax.x", "i"),
                            ("arcBoxMax.y", "i"), ("arm1", "member"), ("arm2", "member"), ("label", "member")],
    "COrbelAnnCobbAngle": [("type", "i"), ("complete", "i"), ("gaugeShown", "b"), ("step", "i"),
                           ("labelPlaced", "b"), ("selected", "b"), ("line1", "member"), ("perp1", "member"),
                           ("line2", "member"), ("perp2", "member"), ("gauge", "member")],
    "COrbelAnnBlade": [("type", "i"), ("complete", "i"), ("visible", "i"), ("side1", "member"),
                       ("side2", "member"), ("side3", "member"), ("side4", "member"), ("closing", "member")],
    "COrbelAnnSquare": [("type", "i"), ("complete", "i"), ("selected", "b"), ("rect", "member"),
                        ("label", "member")],
    "COrbelAnnStamp": [("stampName", "s"), ("sourceImage", "m"), ("type", "i"), ("complete", "i"),
                       ("creating", "i"), ("selected", "b"), ("imageCorner1.x", "i"),
                       ("imageCorner1.y", "i"), ("imageCorner2.x", "i"), ("imageCorner2.y", "i"),
                       ("turnsCaptured", "b"), ("storedTurns", "i")],
}

VERSION = 1017


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise ValueError("text ends inside a record at byte %d" % self.pos)
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def int32(self):
        return struct.unpack("<i", self.take(4))[0]

    def byte(self):
        return self.take(1)[0]

    def double(self):
        return struct.unpack("<d", self.take(8))[0]

    def string(self):
        n = self.int32()
        return self.take(n).decode("utf-16-le")


def decode_object(reader, name, depth, role, out):
    if name not in CLASSES:
        raise ValueError("unknown class name %r" % name)
    fields, members = [], []
    for field, kind in CLASSES[name]:
        if kind == "i":
            fields.append("%s=%d" % (field, reader.int32()))
        elif kind == "b":
            fields.append("%s=%d" % (field, reader.byte()))
        elif kind == "d":
            fields.append("%s=%r" % (field, reader.double()))
        elif kind == "s":
            # Blanks are escaped too, so that a value stays one word of the listing.
            text = reader.string().encode("unicode_escape").decode("ascii")
            fields.append("%s=%s" % (field, text.replace(" ", "\\x20")))
        elif kind == "m":
            fields.append("%s=%s" % (field, reader.take(max(reader.int32(), 0)).hex()))
        else:
            members.append(field)
    head = "  " * depth + (role + ": " if role else "") + name
    out.append(" ".join([head] + fields))
    # Members follow the plain fields in every stored class.
    for member in members:
        decode_object(reader, reader.string(), depth + 1, member, out)


def decode(text):
    text = text.strip()
    data = bytes.fromhex(text[: len(text) // 2 * 2])[::-1]
    reader = Reader(data)
    version = reader.int32()
    count = reader.int32()
    out = ["COrbelAnnContainer version=%d count=%d" % (version, count)]
    for _ in range(count):
        decode_object(reader, reader.string(), 0, None, out)
    return "\n".join(out) + "\n"


class Writer:
    def __init__(self):
        self.data = bytearray()

    def int32(self, v):
        self.data += struct.pack("<i", v)

    def string(self, s):
        raw = s.encode("utf-16-le")
        self.int32(len(raw))
        self.data += raw


def parse_line(line):
    depth = (len(line) - len(line.lstrip(" "))) // 2
    words = line.split()
    if words[0].endswith(":"):
        words = words[1:]
    values = dict(w.split("=", 1) for w in words[1:])
    return depth, words[0], values


def encode_object(writer, lines, index, depth):
    _, name, values = parse_line(lines[index])
    writer.string(name)
    index += 1
    for field, kind in CLASSES[name]:
        if kind == "i":
            writer.int32(int(values[field], 0))
        elif kind == "b":
            writer.data.append(int(values[field], 0))
        elif kind == "d":
            writer.data += struct.pack("<d", float(values[field]))
        elif kind == "s":
            writer.string(values[field].encode("ascii").decode("unicode_escape"))
        elif kind == "m":
            raw = bytes.fromhex(values[field])
            writer.int32(len(raw))
            writer.data += raw
    for field, kind in CLASSES[name]:
        if kind == "member":
            index = encode_object(writer, lines, index, depth + 1)
    return index


def encode(listing):
    lines = [l for l in listing.splitlines() if l.strip()]
    _, _, header = parse_line(lines[0])
    writer = Writer()
    writer.int32(int(header.get("version", VERSION), 0))
    writer.int32(int(header["count"], 0))
    index = 1
    while index < len(lines):
        index = encode_object(writer, lines, index, 0)
    return bytes(writer.data[::-1]).hex()


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in ("decode", "encode"):
        sys.stderr.write(__doc__)
        return 2
    source = sys.stdin.read()
    try:
        sys.stdout.write(decode(source) if sys.argv[1] == "decode" else encode(source) + "\n")
    except (ValueError, KeyError, IndexError) as e:
        sys.stderr.write("ann_text.py: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
