#!/usr/bin/env python3
"""The documents and images the input suites show.

  input_fixture.py OUTDIR

OUTDIR/images/<name>_1.jp2 for the JPIP test server; OUTDIR/pssi.xml (object base "@BASE@",
one series per cell of a 2 x 2 layout: three 256 x 256 CT images, an 8-bit RGB, an 8-bit ramp whose
value is its column; the fourth cell stays empty); config.xml, stamps.xml; and ct1_hu.raw,
pydicom's Hounsfield values of the first CT (little-endian int16, row by row).
"""
import fcntl
import os
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.pixel_data_handlers.util import apply_modality_lut
from pydicom.uid import ExplicitVRLittleEndian

QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


def compress(out, name, planes, bits, levels):
    h, w = planes[0].shape
    raw = os.path.join(out, name + ".raw")
    with open(raw, "wb") as f:
        for p in planes:
            f.write(p.astype(">u2" if bits > 8 else "u1").tobytes())
    fmt = "%d,%d,%d,%s" % (w, h, len(planes), ",".join(["%d,u@1x1" % bits] * len(planes)))
    subprocess.run(["opj_compress", "-i", raw, "-F", fmt, "-o", os.path.join(out, name + "_1.jp2"), "-n",
                    str(levels), "-PLT"], check=True, **QUIET)
    os.remove(raw)


def hounsfield(out, stored):
    """The CT through pydicom: written as DICOM, read back, its modality LUT applied."""
    meta = FileMetaDataset()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.2"
    meta.MediaStorageSOPInstanceUID = "1.9.1"
    ds = FileDataset(None, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.Modality, ds.PhotometricInterpretation, ds.SamplesPerPixel = "CT", "MONOCHROME2", 1
    ds.Rows, ds.Columns = stored.shape
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 0
    ds.RescaleIntercept, ds.RescaleSlope = -1024, 1
    ds.PixelData = stored.astype("<u2").tobytes()
    path = os.path.join(out, "ct1.dcm")
    ds.save_as(path, write_like_original=False)
    back = pydicom.dcmread(path)
    apply_modality_lut(back.pixel_array, back).astype("<i2").tofile(os.path.join(out, "ct1_hu.raw"))


def tag(group, element, text):
    return '<Tag group="0x%04X" element="0x%04X">%s</Tag>' % (group, element, text)


def luts(seq, count, entries):
    items = "".join(tag(0xFFFE, 0xE000, tag(0x28, 0x3002, "%d\\0\\16" % entries) +
                        tag(0x28, 0x3006, "\\".join(str(k * (i + 1) * 997 % 65536) for i in range(entries))))
                    for k in range(1, count + 1))
    return tag(0x28, seq, items)


def image(name, tags):
    return ('<Image hanging="False" annotated="True"><InstanceUID>1.9.%s</InstanceUID>'
            '<ObjectFile>@BASE@%s</ObjectFile>%s</Image>' % (name, name, "".join(tags)))


def series(uid, modality, images):
    return ('<Series hanging="False" annotated="True"><SeriesUID>1.9.%d</SeriesUID>%s%s</Series>'
            % (uid, tag(0x8, 0x60, modality), "".join(images)))


def make(out):
    images = os.path.join(out, "images")
    os.makedirs(images, exist_ok=True)
    rng = np.random.default_rng(40)
    y, x = np.mgrid[0:256, 0:256]
    for k in (1, 2, 3):
        ct = np.rint(np.clip(1024 + 600 * np.sin(x / (18.0 + 2 * k)) * np.cos(y / 26.0) + rng.normal(0, 30, x.shape),
                             0, 4095)).astype(np.uint16)
        compress(images, "ct%d" % k, [ct], 16, 6)
        if k == 1:
            hounsfield(out, ct)
    compress(images, "rgb", [(x + c * 40)[::2, ::2] % 256 for c in range(3)], 8, 4)
    compress(images, "ramp", [np.tile(np.arange(256), (64, 1))], 8, 4)
    ct_tags = [tag(0x28, 0x4, "MONOCHROME2"), tag(0x28, 0x103, "0"), tag(0x28, 0x1052, "-1024"),
               tag(0x28, 0x1053, "1"), tag(0x28, 0x1050, "40"), tag(0x28, 0x1051, "400"), luts(0x3010, 2, 4)]
    body = (series(1, "CT", [image("ct%d" % k, ct_tags) for k in (1, 2, 3)]) +
            series(2, "OT", [image("rgb", [tag(0x28, 0x4, "RGB")])]) +
            series(3, "OT", [image("ramp", [tag(0x28, 0x4, "MONOCHROME2"), tag(0x28, 0x103, "0"),
                                            luts(0x3000, 1, 256), luts(0x3010, 12, 4)])]))
    with open(os.path.join(out, "pssi.xml"), "w") as f:
        f.write('<Root><Patient hanging="False" annotated="True"><PatientUID>1.9</PatientUID>'
                '<Study hanging="False" annotated="True"><StudyUID>1.9.0</StudyUID>%s</Study></Patient></Root>'
                % body)
    with open(os.path.join(out, "config.xml"), "w") as f:
        f.write('<root><configuration><maxlayout>4</maxlayout><hangmode>2</hangmode><workingtool>0</workingtool>'
                '<anntool>-1</anntool><selectmode>0</selectmode></configuration>'
                '<resource><RawValue>Wert</RawValue></resource><menu>'
                '<item id="10000" text="Pointer" hotkey="P"/><item id="10001" text="Window" hotkey="A"/>'
                '<item id="10002" text="Zoom" hotkey="CTRL+S"/><item id="10018" text="Stamp" hotkey="CTRL+T"/>'
                '<item id="50001" text="Flip" hotkey="H"/><item id="60001" text="Overlay" hotkey="CTRL+O"/>'
                '</menu></root>')
    with open(os.path.join(out, "stamps.xml"), "w") as f:
        f.write('<root><stamps><item name="One" data="424d01"/><item name="Two" data="424d02"/></stamps></root>')


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    # Test processes run at once: the first makes the files under the lock.
    with open(out + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(out, "done")):
            make(out)
            open(os.path.join(out, "done"), "w").close()


if __name__ == "__main__":
    main()
