#!/usr/bin/python3
"""Loopback JPIP test server.

  serve --root DIR [--port N] [--lifetime S] [--exit-on-stdin-eof] [--log F] [--fault SPEC]...
        [--annotations DIR] [--annotation-default F] [--chunk-size N]
        [--class-style basic|extended]
  index FILE                      the data-bins as JSON (exit 2 when the file is refused)
  stream FILE --out DIR [--len N] [--fsiz w,h] [--roff x,y] [--rsiz w,h]
                                  the channel-open body and the region replies, offline
"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from jpiptest import codestream  # noqa: E402
from jpiptest.channel import BadRequest, Channel, make_window  # noqa: E402
from jpiptest.server import Fault, FaultError, fail, serve  # noqa: E402


def cmd_index(args):
    try:
        image = codestream.index_file(args.file)
    except (codestream.Refused, OSError) as e:
        print("refused: %s" % e, file=sys.stderr)
        return 2
    bins = []
    for (cls, cs, ident), data in sorted(image.bins.items()):
        bins.append({"class": cls, "codestream": cs, "id": ident, "length": len(data),
                     "data": data.hex()})
    precincts = [{"id": p.bin_id, "tile": p.tile, "component": p.comp, "resolution": p.res,
                  "index": p.index, "packets": [len(b) for _, b in p.packets]}
                 for p in image.precincts]
    json.dump({"kind": image.kind, "tiles": len(image.tiles), "bins": bins,
               "precincts": precincts}, sys.stdout)
    sys.stdout.write("\n")
    return 0


def cmd_stream(args):
    try:
        image = codestream.index_file(args.file)
        query = {}
        for key in ("fsiz", "roff", "rsiz"):
            value = getattr(args, key)
            if value is not None:
                query[key] = value
        if "fsiz" not in query:
            query["fsiz"] = "%d,%d" % image.frame(0)
        win = make_window(image, query)
    except (codestream.Refused, OSError, BadRequest) as e:
        print("refused: %s" % e, file=sys.stderr)
        return 2
    os.makedirs(args.out, exist_ok=True)
    ch = Channel("offline", "ch0", os.path.basename(args.file), image)
    body, reason, _ = ch.reply(None, args.len)
    n = 0
    with open(os.path.join(args.out, "reply-%03d.jpp" % n), "wb") as f:
        f.write(body)
    while True:
        n += 1
        body, reason, _ = ch.reply(win, args.len)
        with open(os.path.join(args.out, "reply-%03d.jpp" % n), "wb") as f:
            f.write(body)
        if reason in (1, 2):
            return 0


def positive(text):
    value = int(text)
    if value <= 0:
        raise argparse.ArgumentTypeError("must be positive")
    return value


def main(argv=None):
    p = argparse.ArgumentParser(prog="jpip_test_server.py", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--root", required=True)
    s.add_argument("--port", type=int, default=0)
    s.add_argument("--lifetime", type=float, default=300.0)
    s.add_argument("--exit-on-stdin-eof", action="store_true")
    s.add_argument("--log")
    s.add_argument("--fault", action="append")
    s.add_argument("--annotations")
    s.add_argument("--annotation-default")
    s.add_argument("--chunk-size", type=positive, default=1000)
    s.add_argument("--class-style", choices=("basic", "extended"), default="basic")
    i = sub.add_parser("index")
    i.add_argument("file")
    t = sub.add_parser("stream")
    t.add_argument("file")
    t.add_argument("--out", required=True)
    t.add_argument("--len", type=positive, default=10240)
    t.add_argument("--fsiz")
    t.add_argument("--roff")
    t.add_argument("--rsiz")
    args = p.parse_args(argv)
    if args.command == "index":
        return cmd_index(args)
    if args.command == "stream":
        return cmd_stream(args)
    if not 0 < args.lifetime <= 3600:
        p.error("--lifetime must be above 0 and at most 3600 seconds")
    if not 0 <= args.port <= 65535:
        p.error("--port out of range")
    try:
        for spec in args.fault or []:
            Fault(spec)
    except FaultError as e:
        p.error(str(e))
    if not os.path.isdir(args.root):
        return fail("--root %s is not a folder" % args.root)
    return serve(args)


if __name__ == "__main__":
    sys.exit(main())
