#!/usr/bin/env python3
"""WBMP, TGA, PCX and ICO test files. Exit status 3: a tool is missing.

  fixtures DIR   other writers' files X.wbmp / X.tga / X.pcx with the pixels two independent
                 readers agree on (or the only one) in X.ppm (icons: with their opacity, 255 or
                 0, in X.pgm); names in DIR/fixtures.txt
  read DIR       for every DIR/*.tga, *.pcx and *.ico: Pillow's and netpbm's pixels
                 (*.pil.ppm, *.nb.ppm); for every DIR/*.wbmp: wbmptopbm's (*.nb.ppm)
Files are written under temporary names and renamed: parallel test processes share DIR.
"""
import os, random, shutil, struct, subprocess, sys, tempfile


def put(path, data):
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp_")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def run(cmd):
    r = subprocess.run(cmd + " 2>/dev/null", shell=True, capture_output=True)
    return r.stdout if r.returncode == 0 else None


def pillow_rgb(path):
    from PIL import Image
    im = Image.open(path).convert("RGB")
    return b"P6\n%d %d\n255\n" % im.size + im.tobytes()


def make(out, tmp, rnd):
    from PIL import Image
    refs = {}
    for w, h in ((1, 1), (7, 3), (127, 2), (128, 3), (300, 200)):
        pbm = os.path.join(tmp, "src.pbm")
        row = (w + 7) // 8
        with open(pbm, "wb") as f:
            f.write(b"P4\n%d %d\n" % (w, h) + bytes(rnd.randrange(256) for _ in range(row * h)))
        for name, cmd in (("wbmp_%dx%d" % (w, h), "pbmtowbmp " + pbm),
                          ("im_wbmp_%dx%d" % (w, h), "convert-im6.q16 %s WBMP:-" % pbm)):
            path = os.path.join(tmp, name + ".wbmp")
            with open(path, "wb") as f:
                f.write(run(cmd) or b"")
            refs[name + ".wbmp"] = (open(path, "rb").read(), run("wbmptopbm %s | ppmtoppm" % path))
    src = Image.frombytes("RGB", (13, 7), bytes(rnd.randrange(256) for _ in range(13 * 7 * 3)))
    flat = Image.frombytes("RGB", (13, 7), bytes(v for i in range(13 * 7) for v in [(i // 5) * 40 % 256] * 3))
    ppm = os.path.join(tmp, "src.ppm")
    flat.save(ppm)
    rgba = src.convert("RGBA")
    rgba.putalpha(255)
    for name, im, kw in (("pil_rgb", src, {}), ("pil_rgb_rle", src, {"compression": "tga_rle"}),
                         ("pil_rgba", rgba, {"compression": "tga_rle"}), ("pil_l", flat.convert("L"), {}),
                         ("pil_p", flat.convert("P", palette=Image.ADAPTIVE, colors=16), {"compression": "tga_rle"})):
        path = os.path.join(tmp, name + ".tga")
        im.save(path, **kw)
        refs[name + ".tga"] = (open(path, "rb").read(), pillow_rgb(path))
    for name, opt in (("pam_cmap", "-cmap"), ("pam_mono", "-mono"), ("pam_rgb", "-rgb"), ("pam_norle", "-rgb -norle")):
        data = run("pamtotga %s %s" % (opt, ppm))
        path = os.path.join(tmp, name + ".tga")
        with open(path, "wb") as f:
            f.write(data)
        refs[name + ".tga"] = (data, run("tgatoppm " + path))
    data = run("convert-im6.q16 %s -compress RLE TGA:-" % ppm)
    path = os.path.join(tmp, "im_rle.tga")
    with open(path, "wb") as f:
        f.write(data)
    refs["im_rle.tga"] = (data, pillow_rgb(path))
    # Hand-made: 16-bit pixels, right-to-left and top-down, a 16-bit colour map.
    words = [0x7FFF, 0x001F, 0x03E0, 0x7C00, 0x4210, 0x0000]
    five = lambda v: (v << 3) | (v >> 2)  # the 5 bits repeated downward: 31 is 255
    pix = lambda w: (five((w >> 10) & 31), five((w >> 5) & 31), five(w & 31))
    hand = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 3, 2, 16, 0x30) + struct.pack("<6H", *words)
    # Descriptor 0x30: right-to-left and top-down: file row 0 is the top, columns reversed.
    rows = [words[0:3][::-1], words[3:6][::-1]]
    refs["hand_16_flipped.tga"] = (hand, b"P6\n3 2\n255\n" + bytes(c for r in rows for w in r for c in pix(w)))
    cmap = struct.pack("<BBBHHBHHHHBB", 0, 1, 1, 2, 3, 16, 0, 0, 3, 1, 8, 0x20) + struct.pack("<3H", 0x7C00, 0x03E0, 0x001F) + bytes([2, 3, 4])
    refs["hand_map16.tga"] = (cmap, b"P6\n3 1\n255\n" + bytes(c for w in (0x7C00, 0x03E0, 0x001F) for c in pix(w)))
    # PCX: Pillow's modes and ppmtopcx's layouts, referenced where pcxtoppm and Pillow agree.
    for name, im in (("pil_1", src.convert("1")), ("pil_l", flat.convert("L")), ("pil_rgb", src),
                     ("pil_p", flat.convert("P", palette=Image.ADAPTIVE, colors=16))):
        path = os.path.join(tmp, name + "_pcx.pcx")
        im.save(path)
        refs[name + "_pcx.pcx"] = (open(path, "rb").read(), agreed(path))
    for colours, opts in ((256, ["-24bit", "-8bit"]), (2, ["-planes=1"]), (16, ["-planes=4", "-packed"])):
        pal = [bytes(rnd.randrange(256) for _ in range(3)) for _ in range(colours)]
        src_pcx = os.path.join(tmp, "pcx%d.ppm" % colours)
        with open(src_pcx, "wb") as f:
            f.write(b"P6\n11 5\n255\n" + b"".join(rnd.choice(pal) for _ in range(55)))
        for opt in opts:
            name = "ppmtopcx%s.pcx" % opt.replace("=", "")
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(run("ppmtopcx %s %s" % (opt, src_pcx)))
            refs[name] = (open(path, "rb").read(), agreed(path))
    # Icons: Pillow's BMP entries of several modes, pamtowinicon, ImageMagick.
    for mode, size in (("RGBA", 16), ("P", 32), ("RGB", 20), ("L", 16)):  # Pillow cuts 1-bit masks short
        im = Image.frombytes("RGBA", (size, size), bytes(rnd.randrange(256) for _ in range(size * size * 4)))
        im = im.point(lambda v: 0 if v < 64 else v) if mode == "RGBA" else im.convert("RGB").convert(mode)
        path = os.path.join(tmp, "pil_%s.ico" % mode)
        im.save(path, bitmap_format="bmp", sizes=[(size, size)])
        refs["pil_%s.ico" % mode] = (open(path, "rb").read(), icon_reference(path))
    for name, cmd in (("pam_icon.ico", "pamtowinicon %s" % ppm), ("im_icon.ico", "convert-im6.q16 %s ICO:-" % ppm)):
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(run(cmd))
        refs[name] = (open(path, "rb").read(), icon_reference(path))
    return refs


def icon_reference(path):
    """Colours where Pillow and winicontopam -andmasks agree; opacity from winicontopam
    (Pillow reads transparency out of the short masks it writes itself), or from the pixels'
    own alpha in 32-bit entries."""
    from PIL import Image
    im = Image.open(path).convert("RGBA")
    w, h = im.size
    pam = run("winicontopam -andmasks " + path)
    data = pam[pam.index(b"ENDHDR\n") + 7:]
    depth = len(data) // (w * h)
    raw = open(path, "rb").read()
    offset = struct.unpack("<I", raw[18:22])[0]
    if raw[offset + 14] == 32:  # alpha in the pixels, the mask may be missing
        alpha = bytes(255 if a else 0 for a in im.getdata(3))
    else:
        alpha = bytes(255 if data[i * depth + depth - 1] else 0 for i in range(w * h))
    for i, (r, g, b, a) in enumerate(im.getdata()):
        if alpha[i] and a == 255 and tuple(data[i * depth:i * depth + 3]) != (r, g, b):
            raise SystemExit("winicontopam and Pillow differ on " + path)
    return (b"P6\n%d %d\n255\n" % (w, h) + im.convert("RGB").tobytes(), b"P5\n%d %d\n255\n" % (w, h) + alpha)


def agreed(path):
    """pcxtoppm colours 1-bit files from the header palette, Pillow (and the library) in
    black and white: there Pillow's reading stands."""
    nb = run("pcxtoppm %s | ppmtoppm" % path)
    try:
        pil = pillow_rgb(path)
    except OSError:  # Pillow reads no 1-bit plane sets
        return nb
    head = open(path, "rb").read(66)
    if nb and nb != pil and not (head[3] == 1 and head[65] == 1):
        raise SystemExit("pcxtoppm and Pillow differ on " + path)
    return pil


def main():
    if sys.argv[1] == "read":
        d = sys.argv[2]
        for n in sorted(os.listdir(d)):
            p = os.path.join(d, n)
            if n.endswith(".ico"):
                put(p[:-4] + ".pil.ppm", icon_reference(p)[0])
            elif n.endswith(".tga") or n.endswith(".pcx"):
                try:
                    put(p[:-4] + ".pil.ppm", pillow_rgb(p))
                except OSError:
                    pass
                put(p[:-4] + ".nb.ppm", run(("tgatoppm %s" if n.endswith(".tga") else "pcxtoppm %s | ppmtoppm") % p) or b"")
            elif n.endswith(".wbmp"):
                put(p[:-5] + ".nb.ppm", run("wbmptopbm %s | ppmtoppm" % p) or b"")
        return
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    if os.path.exists(os.path.join(out, "fixtures.txt")):
        return
    try:
        import PIL  # noqa: F401
    except ImportError:
        sys.exit(3)
    if any(shutil.which(t) is None for t in ("pbmtowbmp", "wbmptopbm", "pamtotga", "tgatoppm", "ppmtopcx", "pcxtoppm", "pamtowinicon", "winicontopam",
                                          "convert-im6.q16")):
        sys.exit(3)
    with tempfile.TemporaryDirectory(dir=out) as tmp:
        refs = make(out, tmp, random.Random(46))
    for name, (data, ref) in refs.items():
        if not data or not ref:
            raise SystemExit("no file or reference for " + name)
        put(os.path.join(out, name), data)
        if isinstance(ref, tuple):
            put(os.path.join(out, name.rsplit(".", 1)[0] + ".pgm"), ref[1])
            ref = ref[0]
        put(os.path.join(out, name.rsplit(".", 1)[0] + ".ppm"), ref)
    put(os.path.join(out, "fixtures.txt"), "\n".join(refs).encode() + b"\n")


if __name__ == "__main__":
    main()
