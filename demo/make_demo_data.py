#!/usr/bin/python3
"""Writes the demo's data for a JPIP test server on 127.0.0.1:PORT.

  make_demo_data.py OUT PORT

OUT is the control's C: drive and the host script's folder. The images are pydicom's own
test files (read from data/test_files beside the installed package, so nothing is
downloaded): CT_small and MR_small, and Doe^Peter's series CT5N and MR700, each image coded
lossless with opj_compress into OUT/images/<name>_1.jp2. Written beside them:

  Config.xml            a copy of demo/Config.xml
  BasePssi.xml          the PSSI document: patients, studies, series, images, overlay
  annotations/<UID>.xml the annotation server's reply for CT_small (the only window it gets)
  annotation-default.xml the reply for every other image: <Root/>
  demo.script           demo/demo.script.in with the server's port
  demo-data.json        each image's name, file, UID, size and series, for check_demo.py
  stamp.bmp             the stamp "OK": 32 x 16, 24-bit, bottom-up, no grey pixel
  stamps.xml            the stamp document: item "OK" holds stamp.bmp in hexadecimal
"""
import json
import os
import shutil
import struct
import subprocess
import sys
from xml.sax.saxutils import escape, quoteattr

import pydicom

HERE = os.path.dirname(os.path.abspath(__file__))
TEST_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")

# Series name, then a file or a folder holding one series (relative to TEST_FILES).
SERIES = [
    ("CT_small", "CT_small.dcm"),
    ("MR_small", "MR_small.dcm"),
    ("CT5N", "dicomdirtests/98892001/CT5N"),
    ("MR700", "dicomdirtests/98892003/MR700"),
]
# opj_compress resolutions by image side: every level stays at least 8 samples wide.
RESOLUTIONS = {128: 5, 64: 4, 16: 2}
# CT_small's file has no window: the annotation reply alone gives it one, so a reply that
# is not merged, or not presented, shows in the pixels.
REPLY_WINDOW = {"CT_small": ("40", "400")}

PATIENT_TAGS = [(0x0010, 0x0010), (0x0010, 0x0020)]
STUDY_TAGS = [(0x0008, 0x0020), (0x0008, 0x0030)]
SERIES_TAGS = [(0x0008, 0x0060)]
IMAGE_TAGS = [(0x0020, 0x0013), (0x0028, 0x0004), (0x0028, 0x0103), (0x0028, 0x0030), (0x0018, 0x0050),
              (0x0020, 0x0037), (0x0028, 0x1050), (0x0028, 0x1051), (0x0028, 0x1052), (0x0028, 0x1053)]
ORIENTATION = (0x0020, 0x0037)
# The overlay reads the orientation letters from these private copies of (0020,0037).
ORIENTATION_COPIES = [(0x1901, 0x0006), (0x1901, 0x0007)]

# Overlay items for both modalities: tag, vr, gridx, gridy, offsetx, offsety, prefix. Items
# at the left edge need offsetx 1 or more to run rightwards into the cell; bottom items need
# offsety -1 or less (texts hang below their anchor). The XML parser trims blanks at the
# ends of a text, so a prefix ends in a no-break space. Nothing sits in a cell's central
# half, which check_demo.py reads for grey levels.
OVERLAY = [
    ((0x0010, 0x0010), "PN", 0, 0, 1, 0, ""),
    ((0x0008, 0x0020), "DA", 0, 0, 1, 2, ""),
    ((0x1901, 0x0006), "DS", 0, 1, 1, 0, ""),
    ((0x1901, 0x0007), "DS", 1, 0, 1, 0, ""),
    ((0x1901, 0x0003), "LO", 0, 2, 1, -2, ""),
    ((0x1901, 0x0004), "LO", 0, 2, 1, -1, "Zoom:\u00a0"),
]


def tag_attrs(tag, vr):
    return 'group="0x%04X" element="0x%04X" vr="%s"' % (tag[0], tag[1], vr)


def value_text(elem):
    value = elem.value
    if isinstance(value, (list, pydicom.multival.MultiValue)):
        return "\\".join(str(v) for v in value)
    return str(value)


def tags_of(ds, tags, extra=()):
    """(tag, vr, text) of each tag present in the file, then the extra ones."""
    out = [(t, ds[t].VR, value_text(ds[t])) for t in tags if t in ds and ds[t].value not in (None, "")]
    if ORIENTATION in [t for t, _, _ in out]:
        text = value_text(ds[ORIENTATION])
        out += [(t, "DS", text) for t in ORIENTATION_COPIES]
    return out + list(extra)


def tag_lines(tags, indent):
    return ["%s<Tag %s>%s</Tag>" % (indent, tag_attrs(t, vr), escape(text)) for t, vr, text in tags]


def read_images():
    """Images in document order: series by SERIES, images by InstanceNumber."""
    images = []
    for series, rel in SERIES:
        path = os.path.join(TEST_FILES, rel)
        if not os.path.exists(path):
            sys.exit("make_demo_data.py: pydicom's test file %s is missing (python3-pydicom ships it)" % path)
        files = [os.path.join(path, f) for f in sorted(os.listdir(path))] if os.path.isdir(path) else [path]
        found = sorted(((pydicom.dcmread(f), f) for f in files), key=lambda p: int(p[0].InstanceNumber))
        for k, (ds, f) in enumerate(found, 1):
            name = series if len(found) == 1 else "%s_%d" % (series, k)
            images.append({"name": name, "file": f, "series": series, "ds": ds})
    return images


def compress(image, folder):
    """The pixels as big-endian signed 16-bit RAW through opj_compress, lossless."""
    ds, name = image["ds"], image["name"]
    pixels = ds.pixel_array
    h, w = pixels.shape
    if ds.BitsAllocated != 16 or ds.PixelRepresentation != 1 or w != h or w not in RESOLUTIONS:
        sys.exit("make_demo_data.py: %s is not a square 16-bit signed image of a known size" % image["file"])
    raw = os.path.join(folder, name + ".raw")
    j2k = os.path.join(folder, name + ".j2k")
    with open(raw, "wb") as f:
        f.write(pixels.astype(">i2").tobytes())
    done = subprocess.run(["opj_compress", "-i", raw, "-o", j2k, "-F", "%d,%d,1,16,s" % (w, h),
                           "-n", str(RESOLUTIONS[w]), "-PLT"], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("make_demo_data.py: opj_compress failed on %s:\n%s%s" % (name, done.stdout, done.stderr))
    os.remove(raw)
    os.replace(j2k, os.path.join(folder, name + "_1.jp2"))
    image["width"], image["height"] = w, h


def tree(images):
    """Patients, studies and series in first-seen order: {patient: {study: {series: [images]}}}."""
    out = {}
    for im in images:
        ds = im["ds"]
        study = out.setdefault(ds.PatientID, {}).setdefault(ds.StudyInstanceUID, {})
        study.setdefault(ds.SeriesInstanceUID, []).append(im)
    return out


def document(images, image_body, marks, overlay=()):
    """Root/Patient/Study/Series/Image, each level's UID first, then its Tags."""
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<Root>"] + list(overlay)
    for patient, studies in tree(images).items():
        first = next(iter(next(iter(studies.values())).values()))[0]["ds"]
        lines.append("  <Patient%s>" % marks)
        lines.append("    <PatientUID>%s</PatientUID>" % escape(patient))
        lines += tag_lines(tags_of(first, PATIENT_TAGS), "    ")
        for study, series_map in studies.items():
            first = next(iter(series_map.values()))[0]["ds"]
            lines.append("    <Study%s>" % marks)
            lines.append("      <StudyUID>%s</StudyUID>" % escape(study))
            lines += tag_lines(tags_of(first, STUDY_TAGS), "      ")
            for series, members in series_map.items():
                lines.append("      <Series%s>" % marks)
                lines.append("        <SeriesUID>%s</SeriesUID>" % escape(series))
                lines += tag_lines(tags_of(members[0]["ds"], SERIES_TAGS), "        ")
                for im in members:
                    lines.append("        <Image%s>" % marks)
                    lines += image_body(im, "          ")
                    lines.append("        </Image>")
                lines.append("      </Series>")
            lines.append("    </Study>")
        lines.append("  </Patient>")
    return "\n".join(lines + ["</Root>", ""])


def overlay_lines():
    lines = ['  <overlay font="Arial" fontsize="2">']
    for modality in ("CT", "MR"):
        lines.append("    <modality name=%s>" % quoteattr(modality))
        for tag, vr, gx, gy, ox, oy, prefix in OVERLAY:
            lines.append("      <Tag %s><gridx>%d</gridx><gridy>%d</gridy><offsetx>%d</offsetx>"
                         "<offsety>%d</offsety><prefix>%s</prefix><suffix></suffix></Tag>"
                         % (tag_attrs(tag, vr), gx, gy, ox, oy, escape(prefix)))
        lines.append("    </modality>")
    return lines + ["  </overlay>"]


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def image_uid(im, indent):
    return ["%s<InstanceUID>%s</InstanceUID>" % (indent, escape(im["ds"].SOPInstanceUID))]


def write_pssi(out, images, port):
    def body(im, indent):
        target = "%s<ObjectFile>http://127.0.0.1:%d/jpip/%s</ObjectFile>" % (indent, port, im["name"])
        return image_uid(im, indent) + [target] + tag_lines(tags_of(im["ds"], IMAGE_TAGS), indent)

    marks = ' hanging="False" annotated="False"'
    write(os.path.join(out, "BasePssi.xml"), document(images, body, marks, overlay_lines()))


def write_reply(out, im, centre, width):
    """The reply for one image: every level's Tags as the PSSI has them, the window added."""
    window = [((0x0028, 0x1050), "DS", centre), ((0x0028, 0x1051), "DS", width)]

    def body(one, indent):
        return image_uid(one, indent) + tag_lines(tags_of(one["ds"], IMAGE_TAGS, window), indent)

    write(os.path.join(out, "annotations", im["ds"].SOPInstanceUID + ".xml"), document([im], body, ""))
    im["reply_window"] = [float(centre), float(width)]


STAMP_SIZE = (32, 16)


def stamp_pixel(x, y):
    """(r, g, b) of the stamp at (x, y), top row first: a gradient that is nowhere grey, so
    the image beneath never passes for it."""
    return 255 - 4 * x, 32 + 12 * y, 40 + 6 * x


def stamp_bmp():
    """The stamp as a BMP file: 24-bit, rows bottom-up, 96 bytes each (no padding)."""
    w, h = STAMP_SIZE
    rows = b"".join(bytes(c for x in range(w) for c in stamp_pixel(x, y)[::-1]) for y in reversed(range(h)))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return head + info + rows


def write_stamps(out):
    data = stamp_bmp()
    with open(os.path.join(out, "stamp.bmp"), "wb") as f:
        f.write(data)
    write(os.path.join(out, "stamps.xml"), '<?xml version="1.0" encoding="UTF-8"?>\n<root>\n  <stamps>\n'
          '    <item name="OK" data="%s"/>\n  </stamps>\n</root>\n' % data.hex())


def main():
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        sys.exit("usage: make_demo_data.py OUT PORT")
    out, port = sys.argv[1], int(sys.argv[2])
    folder = os.path.join(out, "images")
    os.makedirs(folder, exist_ok=True)
    os.makedirs(os.path.join(out, "annotations"), exist_ok=True)
    images = read_images()
    for im in images:
        compress(im, folder)
    write_pssi(out, images, port)
    for im in images:
        if im["name"] in REPLY_WINDOW:
            write_reply(out, im, *REPLY_WINDOW[im["name"]])
    write(os.path.join(out, "annotation-default.xml"), "<Root/>\n")
    write_stamps(out)
    shutil.copyfile(os.path.join(HERE, "Config.xml"), os.path.join(out, "Config.xml"))
    with open(os.path.join(HERE, "demo.script.in"), encoding="utf-8") as f:
        write(os.path.join(out, "demo.script"), f.read().replace("@PORT@", str(port)))
    listed = [dict({k: v for k, v in im.items() if k != "ds"}, uid=im["ds"].SOPInstanceUID) for im in images]
    write(os.path.join(out, "demo-data.json"), json.dumps({"port": port, "images": listed}, indent=1) + "\n")


if __name__ == "__main__":
    main()
