#!/usr/bin/python3
"""Images and documents for the context-menu suite: menu_fixture.py OUTDIR

Images (48 x 40, served by a JPIP test server over OUTDIR as <name>_1.jp2): ct and ctb, 16-bit
with intercept -1024 and two and three VOI tables; ramp and ramq, the same 8-bit ramp with a
modality table and twelve VOI tables. pssi.xml hangs them as three series (ct with ctb, ramp,
ramq), ObjectFile "@BASE@<name>"; in 2 x 2 the cell (1, 1) stays empty. config.xml has a menu
item for every command, "Stamp" 10018 with the hotkey "CTRL+T".
"""
import os
import subprocess
import sys

import numpy as np

W, H = 48, 40


def jp2(out, name, plane, bits):
    raw = os.path.join(out, name + ".raw")
    plane.astype(">u2" if bits > 8 else "u1").tofile(raw)
    subprocess.run(["opj_compress", "-i", raw, "-F", "%d,%d,1,%d,u@1x1" % (W, H, bits), "-n", "3", "-PLT",
                    "-o", os.path.join(out, name + "_1.jp2")], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    os.remove(raw)


def tag(element, value, group=0x0028):
    return '<Tag group="0x%04X" element="0x%04X">%s</Tag>' % (group, element, value)


def luts(element, tables):
    return tag(element, "".join(tag(0xE000, tag(0x3002, d) + tag(0x3006, v), 0xFFFE) for d, v in tables))


def main():
    out = sys.argv[1]
    y, x = np.mgrid[0:H, 0:W]
    for name, plane, bits in [("ct", 1000 + 20 * x + 7 * y, 16), ("ctb", 1000 + 20 * x + 7 * y, 16),
                              ("ramp", (4 * x + 2 * y) % 256, 8), ("ramq", (4 * x + 2 * y) % 256, 8)]:
        jp2(out, name, plane, bits)
    grey = tag(0x0004, "MONOCHROME2") + tag(0x0103, "0")
    ct = grey + tag(0x1052, "-1024") + tag(0x1053, "1") + tag(0x1050, "40") + tag(0x1051, "400")
    ct_voi = [("4\\0\\8", "0\\80\\160\\240"), ("2\\10\\16", "5\\6"), ("2\\0\\8", "1\\2")]
    ramp = (grey + luts(0x3000, [("256\\0\\16", "\\".join(str(4 * v) for v in range(256)))]) +
            luts(0x3010, [("4\\0\\8", "\\".join(str(k * 10 + v) for v in range(4))) for k in range(12)]))
    series = [[("ct", ct + luts(0x3010, ct_voi[:2])), ("ctb", ct + luts(0x3010, ct_voi))],
              [("ramp", ramp)], [("ramq", ramp)]]
    marks = ' hanging="False" annotated="True"'
    doc = ["<Root><Patient%s><PatientUID>1</PatientUID><Study%s><StudyUID>1.1</StudyUID>" % (marks, marks)]
    for s, images in enumerate(series):
        doc.append("<Series%s><SeriesUID>1.1.%d</SeriesUID>%s" % (marks, s, tag(0x0060, "CT", 0x0008)))
        for name, tags in images:
            doc.append("<Image%s><ImageUID>%s</ImageUID><ObjectFile>@BASE@%s</ObjectFile><InstanceUID>%s"
                       "</InstanceUID>%s</Image>" % (marks, name, name, name, tags))
        doc.append("</Series>")
    with open(os.path.join(out, "pssi.xml"), "w") as f:
        f.write("".join(doc) + "</Study></Patient></Root>\n")
    ids = [10000, 10001, 10009, 10011, 10016, 10017] + list(range(20001, 20006)) + list(range(30001, 30005)) + \
        list(range(50001, 50007)) + [60001, 60002, 60003]
    items = "".join('<item id="%d" text="C%d" hotkey=""/>' % (i, i) for i in ids)
    with open(os.path.join(out, "config.xml"), "w") as f:
        f.write("<root><configuration><maxlayout>4</maxlayout><hangmode>2</hangmode><selectmode>1</selectmode>"
                "<workingtool>-1</workingtool><anntool>-1</anntool></configuration><menu>%s"
                '<item id="10018" text="Stamp" hotkey="CTRL+T"/></menu></root>\n' % items)


if __name__ == "__main__":
    main()
