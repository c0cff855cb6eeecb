#!/usr/bin/python3
"""Writes a generated PSSI document (Root/Patient/Study/Series/Image) to standard output.

UIDs are "1.p", "1.p.s", "1.p.s.r" and "1.p.s.r.i" (counting from 1); each image's
ObjectFile is "p_s_r_i.jp2". Every Patient, Study, Series and Image carries
hanging="False" and annotated="False", except the series numbered by --unmarked-series
(counting from 0 over the whole document), which has neither. Each series holds the
modality Tag (0008,0060) "CT"; each image holds its window centre and width first, then
filler Tags up to --tags in all.

--object-base B makes each ObjectFile the server target B + "p_s_r_i" (served as
"p_s_r_i_1.jp2"); --annotated marks every element annotated="True", so that showing an
image sends no annotation request.
"""
import argparse
import sys


def tag(group, element, value):
    return '<Tag group="0x%04X" element="0x%04X" vr="LO">%s</Tag>' % (group, element, value)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--patients", type=int, default=2)
    ap.add_argument("--studies", type=int, default=2)
    ap.add_argument("--series", type=int, default=2)
    ap.add_argument("--images", type=int, default=3)
    ap.add_argument("--tags", type=int, default=4)
    ap.add_argument("--unmarked-series", type=int, default=-1)
    ap.add_argument("--object-base")
    ap.add_argument("--annotated", action="store_true")
    args = ap.parse_args()

    out = ['<?xml version="1.0" encoding="UTF-8"?>', "<Root>"]
    marks = ' hanging="False" annotated="%s"' % ("True" if args.annotated else "False")
    series_number = 0
    for p in range(1, args.patients + 1):
        out.append('<Patient%s><PatientUID>1.%d</PatientUID>' % (marks, p))
        out.append(tag(0x0010, 0x0010, "Patient^%d" % p))
        for s in range(1, args.studies + 1):
            out.append('<Study%s><StudyUID>1.%d.%d</StudyUID>' % (marks, p, s))
            for r in range(1, args.series + 1):
                series_marks = "" if series_number == args.unmarked_series else marks
                series_number += 1
                out.append('<Series%s><SeriesUID>1.%d.%d.%d</SeriesUID>' % (series_marks, p, s, r))
                out.append(tag(0x0008, 0x0060, "CT"))
                for i in range(1, args.images + 1):
                    out.append('<Image%s><ImageUID>1.%d.%d.%d.%d</ImageUID>' % (marks, p, s, r, i))
                    name = "%d_%d_%d_%d" % (p, s, r, i)
                    target = args.object_base + name if args.object_base else name + ".jp2"
                    out.append('<ObjectFile>%s</ObjectFile>' % target)
                    out.append('<InstanceUID>1.%d.%d.%d.%d</InstanceUID>' % (p, s, r, i))
                    tags = [tag(0x0028, 0x1050, str(40 + i)), tag(0x0028, 0x1051, "400")]
                    tags += [tag(0x0009, 0x1000 + k, "v%d" % k) for k in range(max(0, args.tags - 2))]
                    out.extend(tags[: args.tags])
                    out.append("</Image>")
                out.append("</Series>")
            out.append("</Study>")
        out.append("</Patient>")
    out.append("</Root>")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
