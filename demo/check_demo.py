#!/usr/bin/python3
"""Checks what the demo left in OUT (demo/run's output folder).

  check_demo.py OUT            one line per failed check, then a summary; exit 1 on failure
  check_demo.py --self-test OUT  checks the pixel oracle itself on frames made from it

- Events: OUT/events.txt equals demo/expected-events.txt, where a line ending in " ..."
  stands for any line that starts with the rest (the status text varies).
- status.xml parses, names only the PSSI's images, includes every image shown, and each
  "Status" is lower-case hexadecimal of even length; Quillon.Log holds "Init Done!" and
  "Parse Done!" and no FATAL record; every region the server was asked for lies in its frame.
- Pixels: each FRAMES row's cell holds its image as the DICOM standard's linear window
  shows it, within 2 grey levels (mean within 1), searched within 8 pixels of where it is
  centred; fit frames hold an image (at least 8 grey levels) in each grid's central half.
- Annotations, decoded with tools/ann_text.py from each step's status: the ruler dragged on
  CT_small (its end points, its length in mm from (0028,0030), its line white over a black
  shadow as plain, rotated and flipped views place it), the protractor clicked on MR_small
  (arms, angle, text, white arms) and the stamp clicked on CT_small (its pixels on screen
  and in the stored BMP equal stamp.bmp's; no other entry changed).
"""
import collections
import json
import math
import os
import struct
import re
import sys
import urllib.parse
import xml.etree.ElementTree as ET

import numpy as np
import pydicom
from PIL import Image
from pydicom.pixel_data_handlers.util import apply_modality_lut

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import ann_text  # noqa: E402  (the repository's own reader, beside this folder)

# Grids of the 2 x 2 layout in a 1024 x 768 host: origin by cell (column, row), and size.
GRIDS = {(0, 0): (2, 2), (1, 0): (513, 2), (0, 1): (2, 385), (1, 1): (513, 385)}
GRID_W, GRID_H = 493, 381
SEARCH = 8      # pixels around the predicted place
RING = 0        # pixels left out at the image's edge: none, the edges count too
MAX_DIFF = 2    # the viewer's 255/W around C, truncated, against the standard's: at most 1.7 here
MAX_MEAN = 1.0
MIN_LEVELS = 8

# One row per checked cell. window: (centre, width) in place of the image's own; mirror:
# "h" (left-right) or "v" (top-bottom) as the cell shows it.
Cell = collections.namedtuple("Cell", "frame cell image inverted window mirror", defaults=(False, None, None))
FRAMES = [
    Cell("exact-2x2.png", (0, 0), "CT_small"),
    Cell("exact-2x2.png", (1, 0), "MR_small"),
    Cell("exact-2x2.png", (0, 1), "CT5N_1"),
    Cell("exact-2x2.png", (1, 1), "MR700_1"),
    Cell("exact-inverted.png", (0, 0), "CT_small", True),
    Cell("exact-inverted.png", (1, 0), "MR_small", True),
    Cell("exact-inverted.png", (0, 1), "CT5N_1", True),
    Cell("exact-inverted.png", (1, 1), "MR700_1", True),
    Cell("exact-next.png", (0, 1), "CT5N_2"),
    Cell("exact-next.png", (1, 1), "MR700_2"),
    # CT_small's window dragged by (+30, -12): width 400 + 4 x 30, centre 40 - 4 x 12.
    Cell("exact-wl.png", (0, 0), "CT_small", window=(-8, 520)),
    Cell("exact-wl.png", (1, 0), "MR_small"),
    Cell("exact-wl.png", (0, 1), "CT5N_2"),
    Cell("exact-wl.png", (1, 1), "MR700_2"),
    Cell("exact-flip.png", (0, 0), "CT_small", window=(-8, 520)),
    Cell("exact-flip.png", (1, 0), "MR_small", mirror="h"),
    Cell("exact-flip.png", (0, 1), "CT5N_2"),
    Cell("exact-flip.png", (1, 1), "MR700_2"),
]
FIT_FRAMES = ["loaded-2x2.png", "final-2x2.png"]


class Report:
    def __init__(self):
        self.checks = self.failed = self.warned = 0

    def check(self, ok, what):
        self.checks += 1
        if not ok:
            self.failed += 1
            print("FAIL " + what)
        return ok

    def warn(self, what):
        self.warned += 1
        print("WARN " + what)


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "replace")


def load_images(out):
    with open(os.path.join(out, "demo-data.json"), encoding="utf-8") as f:
        return {im["name"]: im for im in json.load(f)["images"]}


def check_events(out, r):
    expected = read_text(os.path.join(HERE, "expected-events.txt")).splitlines()
    path = os.path.join(out, "events.txt")
    if not r.check(os.path.exists(path), "events: no %s" % path):
        return
    got = read_text(path).splitlines()
    for i in range(max(len(expected), len(got))):
        want = expected[i] if i < len(expected) else "(nothing)"
        have = got[i] if i < len(got) else "(nothing)"
        same = have.startswith(want[:-3]) if want.endswith(" ...") and i < len(got) else want == have
        if not r.check(same, "events line %d: expected %r, got %r" % (i + 1, want, have[:120])):
            return


def check_status(out, images, r):
    pssi = ET.parse(os.path.join(out, "BasePssi.xml")).getroot()
    known = {e.text for e in pssi.iter("InstanceUID")}
    path = os.path.join(out, "status.xml")
    try:
        status = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        r.check(False, "status.xml does not parse: %s" % e)
        return
    r.check(status.tag == "ImageList", "status.xml: root element %s, not ImageList" % status.tag)
    listed = set()
    for image in status.iter("Image"):
        uid = image.get("InstanceUID")
        listed.add(uid)
        r.check(uid in known, "status.xml: InstanceUID %r is not an image of BasePssi.xml" % uid)
        text = image.get("Status")
        if text is not None:
            r.check(re.fullmatch(r"(?:[0-9a-f]{2})+", text) is not None,
                    "status.xml: Status of %s is not even-length lower-case hex: %r" % (uid, text[:60]))
    for name in sorted({c.image for c in FRAMES}):
        r.check(images[name]["uid"] in listed, "status.xml: %s (%s), which was shown, is missing"
                % (name, images[name]["uid"]))


def check_log(out, r):
    path = os.path.join(out, "Quillon.Log")
    if not r.check(os.path.exists(path), "no log at %s" % path):
        return
    log = read_text(path)
    for text in ("Init Done!", "Parse Done!"):
        r.check(text in log, "Quillon.Log lacks %r" % text)
    fatal = [line for line in log.splitlines() if "FATAL" in line]
    r.check(not fatal, "Quillon.Log has a FATAL record: %s" % (fatal[:1] or [""])[0][:160])


def pair(text):
    a, b = text.split(",")[:2]
    return int(a), int(b)


def check_server_log(out, r):
    path = os.path.join(out, "server-log.jsonl")
    if not r.check(os.path.exists(path), "no server log at %s" % path):
        return 0
    regions = 0
    for line in read_text(path).splitlines():
        record = json.loads(line)
        if record.get("kind") not in ("cnew", "region"):
            continue
        query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(record["target"]).query))
        if "fsiz" not in query:
            continue
        regions += 1
        fw, fh = pair(query["fsiz"])
        x, y = pair(query["roff"]) if "roff" in query else (0, 0)
        w, h = pair(query["rsiz"]) if "rsiz" in query else (fw - x, fh - y)
        r.check(0 <= x and 0 <= y and x + w <= fw and y + h <= fh,
                "server log: request %s asks for %d,%d %dx%d outside its frame %dx%d"
                % (record.get("seq"), x, y, w, h, fw, fh))
    return regions


def grey_window(x, centre, width):
    """The standard's linear window: 0 to 255 over width - 1 around centre - 0.5."""
    c, w = centre - 0.5, width - 1.0
    y = ((x - c) / w + 0.5) * 255.0
    return np.where(x <= c - w / 2, 0.0, np.where(x > c + w / 2, 255.0, y))


def first_value(value):
    return float(value[0] if isinstance(value, pydicom.multival.MultiValue) else value)


def values_and_window(images, row):
    """The image's modality values and the window the row shows them with."""
    info = images[row.image]
    ds = pydicom.dcmread(info["file"])
    values = apply_modality_lut(ds.pixel_array, ds).astype(np.float64)
    if row.window:
        return values, row.window
    if "WindowCenter" in ds and "WindowWidth" in ds:
        return values, (first_value(ds.WindowCenter), first_value(ds.WindowWidth))
    return values, tuple(info["reply_window"])


def as_shown(grey, row):
    grey = 255.0 - grey if row.inverted else grey
    return grey[:, ::-1] if row.mirror == "h" else grey[::-1, :] if row.mirror == "v" else grey


def oracle(images, row):
    """The cell's expected grey levels, float, as the image lies in the cell."""
    values, (centre, width) = values_and_window(images, row)
    return as_shown(grey_window(values, centre, width), row)


def predicted(cell, w, h, mirror=None):
    """Where a centred w x h image starts; a mirrored one covers the same pixels."""
    ox, oy = GRIDS[cell]
    return ox + (GRID_W - w) // 2, oy + (GRID_H - h) // 2


def match_cell(frame, expected, cell, mirror=None):
    """(ok, message, offset): the best place within SEARCH pixels and how it compares."""
    h, w = expected.shape
    px, py = predicted(cell, w, h, mirror)
    inner = expected[RING:h - RING, RING:w - RING]
    best = None
    offsets = sorted(((dx, dy) for dx in range(-SEARCH, SEARCH + 1) for dy in range(-SEARCH, SEARCH + 1)),
                     key=lambda d: d[0] * d[0] + d[1] * d[1])
    for dx, dy in offsets:
        x, y = px + dx + RING, py + dy + RING
        if x < 0 or y < 0 or y + inner.shape[0] > frame.shape[0] or x + inner.shape[1] > frame.shape[1]:
            continue
        got = frame[y:y + inner.shape[0], x:x + inner.shape[1]].astype(np.float64)
        mean = np.abs(got - inner[:, :, None]).mean()
        if best is None or mean < best[0]:
            best = (mean, dx, dy, got)
    mean, dx, dy, got = best
    grey = (got[:, :, 0] == got[:, :, 1]).all() and (got[:, :, 1] == got[:, :, 2]).all()
    worst = np.abs(got[:, :, 0] - inner).max()
    ok = grey and worst <= MAX_DIFF and mean <= MAX_MEAN
    message = "at %+d,%+d from (%d, %d): mean difference %.2f, largest %.1f%s" % (
        dx, dy, px, py, mean, worst, "" if grey else ", not grey")
    return ok, message, (dx, dy)


def read_frame(path):
    return np.asarray(Image.open(path).convert("RGB")).astype(np.int16)


def check_pixels(out, images, r, frames=None, offsets=None):
    """Checks every FRAMES row; returns the rows that failed. offsets gets each image's
    offset from where it was predicted, as its first unmirrored row found it."""
    frames = frames or {}
    offsets = {} if offsets is None else offsets
    failed = []
    for row in FRAMES:
        path = os.path.join(out, row.frame)
        if row.frame not in frames:
            found = r.check(os.path.exists(path), "%s: no frame" % row.frame)
            frames[row.frame] = read_frame(path) if found else None
        if frames[row.frame] is None:
            failed.append(row)
            continue
        ok, message, offset = match_cell(frames[row.frame], oracle(images, row), row.cell, row.mirror)
        what = "%s cell %s %s%s" % (row.frame, row.cell, row.image, " inverted" if row.inverted else "")
        if ok and not row.mirror:
            offsets.setdefault(row.image, offset)
        if not r.check(ok, "%s: %s" % (what, message)):
            failed.append(row)
        elif offset != (0, 0):
            r.warn("%s: not where predicted, %s" % (what, message))
    return failed


def check_fit_frames(out, r):
    for name in FIT_FRAMES:
        path = os.path.join(out, name)
        if not r.check(os.path.exists(path), "%s: no frame" % name):
            continue
        frame = read_frame(path)
        for cell, (ox, oy) in sorted(GRIDS.items()):
            part = frame[oy + GRID_H // 4:oy + GRID_H - GRID_H // 4, ox + GRID_W // 4:ox + GRID_W - GRID_W // 4]
            grey = (part[:, :, 0] == part[:, :, 1]) & (part[:, :, 1] == part[:, :, 2])
            levels = len(np.unique(part[:, :, 0][grey]))
            r.check(levels >= MIN_LEVELS, "%s cell %s: %d grey levels in the grid's central half, an image has at "
                    "least %d" % (name, cell, levels, MIN_LEVELS))


def self_test(out):
    """Frames drawn as the viewer draws (255/W around C, truncated) pass, also shifted a few
    pixels; with a centre 10 off, a width 5% off, the other inversion or the images' two
    outermost rows and columns left black, every frame fails."""
    images = load_images(out)
    variants = [("as predicted", (0, 0), 0, 1.0, False, 0), ("shifted", (3, -2), 0, 1.0, False, 0),
                ("centre + 10", (0, 0), 10, 1.0, False, 0), ("centre - 10", (0, 0), -10, 1.0, False, 0),
                ("width + 5%", (0, 0), 0, 1.05, False, 0), ("width - 5%", (0, 0), 0, 0.95, False, 0),
                ("inversion swapped", (0, 0), 0, 1.0, True, 0), ("edges left black", (0, 0), 0, 1.0, False, 2)]
    wrong = 0
    for label, (sx, sy), dc, fw, swap, ring in variants:
        frames = {}
        for row in FRAMES:
            frame = frames.setdefault(row.frame, np.zeros((768, 1024, 3), np.int16))
            values, (c, w) = values_and_window(images, row)
            c, w = c + dc, w * fw
            v = np.clip(values * 255.0 / w + 127.5 - c * 255.0 / w, 0.0, 255.0)
            grey = np.trunc(as_shown(v, row._replace(inverted=row.inverted != swap)))
            if ring:
                inside = grey[ring:-ring, ring:-ring].copy()
                grey[:] = 0
                grey[ring:-ring, ring:-ring] = inside
            x, y = predicted(row.cell, grey.shape[1], grey.shape[0])
            frame[y + sy:y + sy + grey.shape[0], x + sx:x + sx + grey.shape[1]] = grey[:, :, None]
        stdout, sys.stdout = sys.stdout, open(os.devnull, "w")
        try:
            failed = check_pixels(out, images, Report(), frames)
        finally:
            sys.stdout.close()
            sys.stdout = stdout
        should_pass = (dc, fw, swap, ring) == (0, 1.0, False, 0)
        ok = not failed if should_pass else {row.frame for row in failed} == set(frames)
        wrong += not ok
        odd = failed if should_pass else [row for row in FRAMES if row not in failed]
        print("%-18s %2d of %d cells fail%s%s" % (label, len(failed), len(FRAMES), "" if ok else "  <- WRONG",
              "".join("; %s %s %s" % ("fails:" if should_pass else "passes:", row.frame, row.image) for row in odd)))
    print("self-test %s" % ("failed" if wrong else "passed"))
    return 1 if wrong else 0


def check_host(out, r):
    """The context menu the container was shown, and that its choice set no tool."""
    try:
        with open(os.path.join(out, "host.txt"), encoding="utf-8", errors="replace") as f:
            lines = [line.rstrip("\n") for line in f]
    except OSError as e:
        r.check(False, "host.txt: %s" % e)
        return
    shown = [i for i, line in enumerate(lines) if re.match(r"menu -?\d+ -?\d+$", line)]
    r.check(bool(shown), "host.txt shows a context menu")
    for i in shown:
        first = lines[i + 1] if i + 1 < len(lines) else ""
        r.check("Version " in first, "the context menu starts with \"Version\": %r" % first)
    chosen = [i for i, line in enumerate(lines) if line.startswith("menu choice 50001")]
    r.check(bool(chosen), "host.txt shows the menu choice 50001")
    for i in chosen:
        after = lines[i + 1] if i + 1 < len(lines) else ""
        r.check(not after.startswith("event OnSetWorkingTool"), "no tool event after the menu choice: %r" % after)


# The annotation steps (demo.script.in): host points, and the cells the images lie in.
RULER_DRAG = ((218, 192), (278, 192))
PROTRACTOR_CLICKS = ((737, 213), (782, 213), (757, 168))  # vertex, then the two arm ends
STAMP_CLICK = (190, 135)
CT_CELL, MR_CELL = (0, 0), (1, 0)
DEGREES = 57.29577791868205  # the viewer's own factor (not 180 / pi from the eighth digit)


def image_origin(images, name, cell, offsets):
    """Where the image's top-left corner lies at actual size: centred, moved by the offset
    the pixel check found for it."""
    info = images[name]
    x, y = predicted(cell, info["width"], info["height"])
    dx, dy = offsets.get(name, (0, 0))
    return x + dx, y + dy


def listing_tree(listing):
    """ann_text.py's listing as objects: {"class", "fields", "members": {role: object}}."""
    roots, stack = [], []
    for line in listing.splitlines()[1:]:
        depth, name, values = ann_text.parse_line(line)
        first = line.split()[0]
        node = {"class": name, "fields": values, "members": {}}
        del stack[depth:]
        if depth:
            stack[-1]["members"][first[:-1]] = node
        else:
            roots.append(node)
        stack.append(node)
    return roots


def point(obj, which):
    f = obj["fields"]
    return int(f[which + ".x"]), int(f[which + ".y"])


def text_of(obj):
    return obj["fields"]["text"].encode("ascii").decode("unicode_escape")


def read_annotations(out, name, r):
    """{InstanceUID: (attributes, objects or None)} of a status file; None when unreadable."""
    try:
        root = ET.parse(os.path.join(out, name)).getroot()
    except (OSError, ET.ParseError) as e:
        r.check(False, "%s does not parse: %s" % (name, e))
        return None
    found = {}
    for image in root.iter("Image"):
        text, objects = image.get("Annotation"), None
        if text is not None:
            try:
                objects = listing_tree(ann_text.decode(text))
            except (ValueError, KeyError, IndexError) as e:
                r.check(False, "%s: the annotation of %s does not decode: %s" % (name, image.get("InstanceUID"), e))
        found[image.get("InstanceUID")] = (dict(image.attrib), objects)
    return found


def only_annotated(status, uid, name, r):
    """The objects of uid, checking that no other entry carries an annotation."""
    others = [u for u, (attrs, _) in status.items() if u != uid and "Annotation" in attrs]
    r.check(not others, "%s: entries other than %s carry an annotation: %s" % (name, uid, others))
    attrs, objects = status.get(uid, ({}, None))
    r.check(objects is not None, "%s: %s carries no readable annotation" % (name, uid))
    return objects or []


def white(frame, x, y):
    return 0 <= y < frame.shape[0] and 0 <= x < frame.shape[1] and (frame[y, x] == 255).all()


def black(frame, x, y):
    return 0 <= y < frame.shape[0] and 0 <= x < frame.shape[1] and (frame[y, x] == 0).all()


def shows_segment(frame, a, b, what, r, shadow=False):
    """White pixels along a to b (within a pixel at each of 9 inner points); with shadow, an
    axis-aligned segment exactly: white on it and black one pixel right and below, leaving
    out two pixels at each end, where ticks and the leader cross."""
    if shadow:
        n = max(abs(b[0] - a[0]), abs(b[1] - a[1]))
        if not r.check((a[0] == b[0] or a[1] == b[1]) and n > 4, "%s: %s-%s is not a long axis-aligned line"
                       % (what, a, b)):
            return
        sx, sy = (b[0] - a[0]) // n, (b[1] - a[1]) // n
        inner = [(a[0] + sx * i, a[1] + sy * i) for i in range(2, n - 1)]
        bad = [p for p in inner if not (white(frame, *p) and black(frame, p[0] + 1, p[1] + 1))]
        r.check(not bad, "%s: line %s-%s is not white over a black shadow at %d of %d points, first %s"
                % (what, a, b, len(bad), len(inner), bad[:1]))
        return
    samples = [(a[0] + (b[0] - a[0]) * t / 10.0, a[1] + (b[1] - a[1]) * t / 10.0) for t in range(1, 10)]
    bad = [(round(x), round(y)) for x, y in samples
           if not any(white(frame, round(x) + dx, round(y) + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1))]
    r.check(not bad, "%s: no white pixel along %s-%s near %s" % (what, a, b, bad))


def ruler_views(ox, oy, w, h):
    """Image point to host point as each ruler frame shows CT_small: plain, turned a quarter
    clockwise, then flipped left to right as well (pixel corners, so no -1)."""
    return [("ruler.png", lambda x, y: (ox + x, oy + y)),
            ("ruler-rotated.png", lambda x, y: (ox + h - y, oy + x)),
            ("ruler-flipped.png", lambda x, y: (ox + y, oy + x))]


def check_ruler(out, images, offsets, r):
    status = read_annotations(out, "status-ruler.xml", r)
    if status is None:
        return
    info = images["CT_small"]
    objects = only_annotated(status, info["uid"], "status-ruler.xml", r)
    rulers = [o for o in objects if o["class"] == "COrbelAnnRuler"]
    if not r.check(len(objects) == 1 and len(rulers) == 1, "status-ruler.xml: CT_small holds %s, not one ruler"
                   % [o["class"] for o in objects]):
        return
    ruler = rulers[0]
    ox, oy = image_origin(images, "CT_small", CT_CELL, offsets)
    line = ruler["members"]["measured"]
    ends = [point(line, "imageStart"), point(line, "imageEnd")]
    want = [(x - ox, y - oy) for x, y in RULER_DRAG]
    r.check(ends == want, "ruler: image end points %s, the drag gives %s" % (ends, want))
    rows, columns = (float(v) for v in pydicom.dcmread(info["file"]).PixelSpacing)
    length = math.hypot((ends[1][0] - ends[0][0]) * columns, (ends[1][1] - ends[0][1]) * rows)
    label = ruler["members"]["label"]
    r.check(text_of(label["members"]["text"]) == "%.2fmm" % length, "ruler: text %r, its length is %.4f mm"
            % (text_of(label["members"]["text"]), length))
    leader = label["members"]["arrow"]["members"]["shaft"]
    for name, view in ruler_views(ox, oy, info["width"], info["height"]):
        path = os.path.join(out, name)
        if not r.check(os.path.exists(path), "%s: no frame" % name):
            continue
        frame = read_frame(path)
        shows_segment(frame, view(*ends[0]), view(*ends[1]), name + " ruler", r, shadow=True)
        shows_segment(frame, view(*point(leader, "imageStart")), view(*point(leader, "imageEnd")),
                      name + " leader", r)


def protractor_angle(v, a, b):
    """The angle at vertex v between the arms to a (arm1) and b (arm2), as the viewer
    computes it: each arm's direction by atan2 times its factor, then |180 - |a1 - a2||."""
    a1 = math.atan2(a[1] - v[1], v[0] - a[0]) * DEGREES
    a2 = math.atan2(v[1] - b[1], b[0] - v[0]) * DEGREES
    return abs(180.0 - abs(a1 - a2))


def check_protractor(out, images, offsets, r):
    status = read_annotations(out, "status-protractor.xml", r)
    if status is None:
        return
    objects = only_annotated(status, images["MR_small"]["uid"], "status-protractor.xml", r)
    if not r.check([o["class"] for o in objects] == ["COrbelAnnProtractor"],
                   "status-protractor.xml: MR_small holds %s, not one protractor" % [o["class"] for o in objects]):
        return
    p = objects[0]
    ox, oy = image_origin(images, "MR_small", MR_CELL, offsets)
    vertex, end1, end2 = [(x - ox, y - oy) for x, y in PROTRACTOR_CLICKS]
    arms = [p["members"][a] for a in ("arm1", "arm2")]
    got = sorted((point(a, "imageStart"), point(a, "imageEnd")) for a in arms)
    want = sorted([(vertex, end1), (vertex, end2)])
    r.check(got == want, "protractor: arms %s, the clicks give %s" % (got, want))
    angle = protractor_angle(vertex, point(arms[0], "imageEnd"), point(arms[1], "imageEnd"))
    stored = float(p["fields"]["angle"])
    r.check(abs(stored - angle) <= 1e-9, "protractor: stored angle %r, the clicks give %r" % (stored, angle))
    text = text_of(p["members"]["label"]["members"]["text"])
    r.check(text == "%.1f\u00b0" % angle, "protractor: text %r for %.4f degrees" % (text, angle))
    path = os.path.join(out, "protractor.png")
    if r.check(os.path.exists(path), "protractor.png: no frame"):
        frame = read_frame(path)
        for a, b in want:
            shows_segment(frame, (a[0] + ox, a[1] + oy), (b[0] + ox, b[1] + oy), "protractor.png arm", r)


def bmp_pixels(data):
    """A 24-bit uncompressed BMP's pixels as rows of (r, g, b), top row first."""
    offset, = struct.unpack_from("<I", data, 10)
    _, w, h, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits != 24 or compression != 0 or w <= 0 or h == 0:
        raise ValueError("not an uncompressed 24-bit BMP (%d bits, compression %d)" % (bits, compression))
    stride = (w * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(h)):
        at = offset + (abs(h) - 1 - y if h > 0 else y) * stride
        rows.append([tuple(data[at + 3 * x:at + 3 * x + 3][::-1]) for x in range(w)])
    return rows


def check_stamp(out, images, r):
    try:
        with open(os.path.join(out, "stamp.bmp"), "rb") as f:
            want = bmp_pixels(f.read())
    except (OSError, ValueError, struct.error) as e:
        r.check(False, "stamp.bmp: %s" % e)
        return
    path = os.path.join(out, "stamp.png")
    if r.check(os.path.exists(path), "stamp.png: no frame"):
        x, y = STAMP_CLICK
        shown = read_frame(path)[y:y + len(want), x:x + len(want[0])]
        wrong = int((shown != np.array(want, np.int16)).any(axis=2).sum())
        r.check(wrong == 0, "stamp.png: %d of the stamp's pixels from %s differ from stamp.bmp" % (wrong, STAMP_CLICK))
    status = read_annotations(out, "status-stamp.xml", r)
    if status is None:
        return
    uid = images["CT_small"]["uid"]
    changed = [u for u, (attrs, _) in status.items() if u != uid and ("Annotation" in attrs or "Status" in attrs)]
    r.check(not changed, "status-stamp.xml: entries other than CT_small changed: %s" % changed)
    objects = only_annotated(status, uid, "status-stamp.xml", r)
    stamps = [o for o in objects if o["class"] == "COrbelAnnStamp"]
    rulers = [o for o in objects if o["class"] == "COrbelAnnRuler"]
    if not r.check(len(stamps) == 1 and len(rulers) == 1 and len(objects) == 2,
                   "status-stamp.xml: CT_small holds %s, not the ruler and one stamp" % [o["class"] for o in objects]):
        return
    stamp = stamps[0]["fields"]
    r.check(stamp["stampName"] == "OK", "stamp: named %r, not 'OK'" % stamp["stampName"])
    try:
        stored = bmp_pixels(bytes.fromhex(stamp["sourceImage"]))
    except (ValueError, struct.error) as e:
        r.check(False, "stamp: its stored picture does not read: %s" % e)
        return
    r.check(stored == want, "stamp: its stored picture differs from stamp.bmp")


def main(argv):
    if len(argv) == 3 and argv[1] == "--self-test":
        return self_test(argv[2])
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = argv[1]
    r = Report()
    if not os.path.exists(os.path.join(out, "demo-data.json")):
        print("FAIL %s holds no demo data (demo/make_demo_data.py writes it)" % out)
        return 1
    images = load_images(out)
    check_events(out, r)
    check_status(out, images, r)
    check_log(out, r)
    regions = check_server_log(out, r)
    check_host(out, r)
    offsets = {}
    check_pixels(out, images, r, offsets=offsets)
    check_fit_frames(out, r)
    check_ruler(out, images, offsets, r)
    check_protractor(out, images, offsets, r)
    check_stamp(out, images, r)
    print("demo check: %d checks, %d failed, %d warnings; %d frames, %d cells, %d region requests"
          % (r.checks, r.failed, r.warned, len({c.frame for c in FRAMES}) + len(FIT_FRAMES), len(FRAMES), regions))
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
