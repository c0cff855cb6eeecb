#!/usr/bin/env python3
"""A CT image with the PSSI document that presents it, and what presentation must show.

  presentation_fixture.py OUTDIR

Reads pydicom's CT_small.dcm and writes into OUTDIR:
  ct_1.jp2          its pixels, coded lossless by opj_compress (3 levels, PLT markers)
  ct_r0.pgx         opj_decompress's decode of ct_1.jp2
  config.xml        resource texts for the six orientation letters
  pssi.xml          the image's PSSI document: its DICOM values, a stored display state
                    (a quarter turn clockwise, inverted, window left alone), a stored
                    annotation and a CT overlay over the nine anchors of the cell.
                    "@OBJECT@" stands for the served target and "@ANNOTATED@" for the
                    image's annotated mark; the document is also the annotation reply
                    that adds nothing
  ctu_1.jp2         the same CT as signed values (below zero too) in 13 bits, coded by
                    opj_compress as an unsigned codestream, as some encoders write
                    signed DICOM data
  reply_window.xml  the same reply with window 50/350
  not_xml.txt       an annotation reply that is not XML
  expected.json     each overlay item's text and every pixel's Hounsfield value, from this
                    script's own reading of the DICOM file and the overlay rules; for
                    ctu_1.jp2 its stored-value shift and intercept
  seeds/            the documents as they reach the overlay fuzzer
"""
import json
import os
import struct
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.data import get_testdata_file

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from grid_fixture import make_once  # noqa: E402

QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
HERE = os.path.dirname(os.path.abspath(__file__))
UID = "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322"
LETTERS = {"L": "Le", "R": "Ri", "A": "An", "P": "Po", "H": "He", "F": "Fo"}
WINDOW = ("40\\60", "400\\1500")
REPLY_WINDOW = ("50", "350")
# ctu_1.jp2 holds the CT's values minus SIGNED_SHIFT (so some lie below zero) as 13-bit two's
# complement; SIGNED_INTERCEPT brings them back to the same Hounsfield values.
SIGNED_BITS = 13
SIGNED_SHIFT = 1000
SIGNED_INTERCEPT = -24
QUARTER_TURNS = 1
# One line of annotation near the image centre, in the archive's text form.
ANNOTATION = ("COrbelAnnContainer version=1017 count=1\n"
              "COrbelAnnLine complete=1 creating=0 selected=0 imageStart.x=60 imageStart.y=62 "
              "imageEnd.x=66 imageEnd.y=62\n")


def tag(group, element, value, vr=""):
    vr_attr = ' vr="%s"' % vr if vr else ""
    return '<Tag group="0x%04X" element="0x%04X"%s>%s</Tag>' % (group, element, vr_attr, value)


def ds(value):
    """A DS or IS value as the file holds it."""
    return str(value)


def multi(values):
    return "\\".join(ds(v) for v in values)


def status_text(inverted, quarter_turns):
    """The display-state block: window width -1.0 leaves the window alone."""
    block = struct.pack("<iiii", 0x00CF33EE, inverted, 1, 0)
    block += struct.pack("<dd", 0.0, -1.0)          # centre, width
    block += struct.pack("<iii", -1, -1, -1)         # carried words
    block += struct.pack("<i", 0)                    # no entries
    # View record: not mirrored, turns, four values, six words (the first: fit type 1).
    block += struct.pack("<ii", 1, quarter_turns)
    block += struct.pack("<dddd", 1.0, 1.0, 1.0, 1.0)
    block += struct.pack("<iiiiii", 1, 0, 0, 0, 1, 1)
    assert len(block) == 112
    return block.hex()


def annotation_text():
    out = subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "tools", "ann_text.py"), "encode"],
                         input=ANNOTATION.encode(), capture_output=True, check=True)
    return out.stdout.decode().strip()


def letter(vector):
    """The patient direction a vector points to, by its largest component."""
    axis = int(np.argmax(np.abs(vector)))
    positive = vector[axis] > 0
    return [("L", "R"), ("P", "A"), ("H", "F")][axis][0 if positive else 1]


def view_letters(cosines, quarter_turns):
    """Left and top edge letters of the view turned clockwise by quarter_turns."""
    row = np.array(cosines[:3], dtype=float)      # towards increasing column
    col = np.array(cosines[3:6], dtype=float)     # towards increasing row
    right, down = row, col
    for _ in range(quarter_turns):
        # Turned clockwise, what pointed up now points right and what pointed right
        # now points down.
        right, down = -down, right
    return letter(-right), letter(-down)


def date_text(value):
    return "%s/%s/%s" % (value[0:4], value[4:6], value[6:8])


def time_text(value):
    return "%s:%s:%s" % (value[0:2], value[2:4], value[4:6])


def make(out):
    d = pydicom.dcmread(get_testdata_file("CT_small.dcm"))
    pixels = d.pixel_array.astype(np.int16)
    h, w = pixels.shape
    raw = os.path.join(out, "ct.raw")
    with open(raw, "wb") as f:
        f.write(pixels.astype(">i2").tobytes())
    j2k = os.path.join(out, "ct.j2k")
    subprocess.run(["opj_compress", "-i", raw, "-o", j2k, "-F", "%d,%d,1,16,s" % (w, h), "-n", "3", "-PLT"],
                   check=True, **QUIET)
    os.replace(j2k, os.path.join(out, "ct_1.jp2"))
    os.remove(raw)
    # opj_decompress names a PGX after its component.
    subprocess.run(["opj_decompress", "-i", os.path.join(out, "ct_1.jp2"), "-o", os.path.join(out, "ct_r0.pgx")],
                   check=True, **QUIET)
    os.replace(os.path.join(out, "ct_r0_0.pgx"), os.path.join(out, "ct_r0.pgx"))

    signed = pixels.astype(np.int32) - SIGNED_SHIFT
    assert signed.min() < 0 and signed.max() < 1 << (SIGNED_BITS - 1)
    raw = os.path.join(out, "ctu.raw")
    with open(raw, "wb") as f:
        f.write((signed & ((1 << SIGNED_BITS) - 1)).astype(">u2").tobytes())
    subprocess.run(["opj_compress", "-i", raw, "-o", j2k, "-F", "%d,%d,1,%d,u" % (w, h, SIGNED_BITS), "-n", "3",
                    "-PLT"], check=True, **QUIET)
    os.replace(j2k, os.path.join(out, "ctu_1.jp2"))
    os.remove(raw)

    cosines = [float(v) for v in d.ImageOrientationPatient]
    orientation = multi(d.ImageOrientationPatient)
    status = status_text(1, QUARTER_TURNS)
    annotation = annotation_text()
    window_centre, window_width = WINDOW

    def image_tags(centre, width):
        voi = ('<Tag group="0x0028" element="0x3010">'
               '<Tag group="0xFFFE" element="0xE000">%s%s</Tag>'
               '<Tag group="0xFFFE" element="0xE000">%s%s</Tag></Tag>'
               % (tag(0x0028, 0x3002, "4\\0\\16"), tag(0x0028, 0x3006, "0\\100\\200\\300"),
                  tag(0x0028, 0x3002, "2\\10\\16"), tag(0x0028, 0x3006, "5\\6")))
        return "".join([
            tag(0x0018, 0x0050, ds(d.SliceThickness), "DS"),
            tag(0x0020, 0x0037, orientation, "DS"),
            tag(0x1901, 0x0006, orientation),
            tag(0x1901, 0x0007, orientation),
            tag(0x1901, 0x000D, ds(d.SliceLocation)),
            tag(0x0028, 0x0004, d.PhotometricInterpretation, "CS"),
            tag(0x0028, 0x0103, ds(d.PixelRepresentation), "US"),
            tag(0x0028, 0x1052, ds(d.RescaleIntercept), "DS"),
            tag(0x0028, 0x1053, ds(d.RescaleSlope), "DS"),
            tag(0x0028, 0x1050, centre, "DS"),
            tag(0x0028, 0x1051, width, "DS"),
            tag(0x0028, 0x0030, multi(d.PixelSpacing), "DS"),
            tag(0x1301, 0x0002, "Y"),
            tag(0x0011, 0x101B, status),
            tag(0x0011, 0x101D, annotation),
            voi,
        ])

    # (group, element, vr, gridx, gridy, offsetx, offsety, prefix, suffix, text shown).
    # Lines are laid out so that no two texts meet in a 128 x 128 cell. The reader trims
    # a text's outer spaces, so prefixes and suffixes have none.
    window_text = "W : %d, L : %d" % (int(window_width.split("\\")[0]), int(window_centre.split("\\")[0]))
    left, top = view_letters(cosines, QUARTER_TURNS)
    items = [
        (0x1901, 0x0007, "", 1, 0, 1, 1, "", "", LETTERS[top]),
        (0x0008, 0x0030, "TM", 2, 0, -1, 1, "", "", time_text(d.StudyTime)),
        (0x0010, 0x0010, "PN", 0, 0, 1, 2, "", "", str(d.PatientName)),
        (0x0008, 0x0060, "CS", 0, 0, 1, 3, "", "", d.Modality),
        (0x0008, 0x0020, "DA", 2, 0, -1, 3, "", "", date_text(d.StudyDate)),
        (0x1901, 0x0006, "", 0, 1, 1, 0, "", "", LETTERS[left]),
        (0x1301, 0x0002, "", 1, 1, 1, 0, "", "", None),
        (0x0018, 0x0050, "DS", 2, 1, -1, 2, "", "mm", ds(d.SliceThickness)),
        (0x1901, 0x000D, "", 2, 1, -1, 3, "Z:", "", str(int(float(d.SliceLocation)))),
        (0x0028, 0x0030, "DS", 0, 2, 1, -3, "", "", multi(d.PixelSpacing)),
        (0x0028, 0x1053, "DS", 0, 2, 1, -2, "x", "", ds(d.RescaleSlope)),
        (0x0028, 0x1052, "DS", 2, 2, -1, -2, "", "", ds(d.RescaleIntercept)),
        (0x1901, 0x0003, "", 0, 2, 1, -1, "", "", window_text),
        # The image fits the cell exactly.
        (0x1901, 0x0004, "", 2, 2, -1, -1, "", "", "1.00"),
    ]
    overlay = "".join(
        '<Tag group="0x%04X" element="0x%04X" vr="%s"><gridx>%d</gridx><gridy>%d</gridy><offsetx>%d</offsetx>'
        '<offsety>%d</offsety><prefix>%s</prefix><suffix>%s</suffix></Tag>'
        % (g, e, vr, gx, gy, ox, oy, pre, suf) for g, e, vr, gx, gy, ox, oy, pre, suf, _ in items)

    def document(centre, width):
        return ('<?xml version="1.0" encoding="UTF-8"?>\n<Root>'
                '<Patient hanging="False" annotated="False"><PatientUID>%s</PatientUID>%s'
                '<Study hanging="False" annotated="False"><StudyUID>%s</StudyUID>%s%s'
                '<Series hanging="False" annotated="False"><SeriesUID>%s</SeriesUID>%s'
                '<Image hanging="False" annotated="@ANNOTATED@"><ImageUID>%s</ImageUID>'
                '<ObjectFile>@OBJECT@</ObjectFile><InstanceUID>%s</InstanceUID>%s</Image>'
                '</Series></Study></Patient>'
                '<overlay><modality name="CT">%s</modality></overlay></Root>\n'
                % (d.PatientID or "P", tag(0x0010, 0x0010, str(d.PatientName), "PN"),
                   d.StudyInstanceUID, tag(0x0008, 0x0020, d.StudyDate, "DA"), tag(0x0008, 0x0030, d.StudyTime, "TM"),
                   d.SeriesInstanceUID, tag(0x0008, 0x0060, d.Modality, "CS"),
                   UID, UID, image_tags(centre, width), overlay))

    with open(os.path.join(out, "pssi.xml"), "w") as f:
        f.write(document(*WINDOW))
    with open(os.path.join(out, "reply_window.xml"), "w") as f:
        f.write(document(*REPLY_WINDOW))
    with open(os.path.join(out, "not_xml.txt"), "w") as f:
        f.write("no annotations here\n")
    with open(os.path.join(out, "config.xml"), "w") as f:
        f.write("<root><resource>%s</resource></root>\n"
                % "".join("<%s>%s</%s>" % (k, v, k) for k, v in LETTERS.items()))

    slope, intercept = float(d.RescaleSlope), float(d.RescaleIntercept)
    hounsfield = (pixels.astype(np.float64) * slope + intercept).astype(np.int64)
    expected = {
        "uid": UID,
        "width": w,
        "height": h,
        "status": status,
        "annotation": annotation,
        "window": window_text,
        "reply_window": "W : %s, L : %s" % (REPLY_WINDOW[1], REPLY_WINDOW[0]),
        "items": [{"group": "0x%04X" % g, "element": "0x%04X" % e, "gridx": gx, "gridy": gy, "offsetx": ox,
                   "offsety": oy, "prefix": pre, "suffix": suf, "text": text if text is not None else ""}
                  for g, e, vr, gx, gy, ox, oy, pre, suf, text in items],
        "hounsfield": hounsfield.reshape(-1).tolist(),
        "signed_shift": SIGNED_SHIFT,
        "signed_intercept": SIGNED_INTERCEPT,
    }
    with open(os.path.join(out, "expected.json"), "w") as f:
        json.dump(expected, f)
    # The overlay fuzzer reads the document with a CT overlay and an image of values.
    seeds = os.path.join(out, "seeds")
    os.makedirs(seeds, exist_ok=True)
    for name in ("pssi.xml", "reply_window.xml"):
        with open(os.path.join(out, name)) as src, open(os.path.join(seeds, "presentation_" + name), "w") as dst:
            dst.write(src.read().replace("@ANNOTATED@", "False").replace("@OBJECT@", "ct"))


def main():
    make_once(sys.argv[1], make)


if __name__ == "__main__":
    main()
