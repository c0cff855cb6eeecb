#!/usr/bin/env python3
"""GIF test files. Exit status 3: a tool is missing.

  fixtures DIR   other writers' files X.gif, listed in DIR/fixtures.txt as "X FRAMES KIND";
                 for every frame N, X.N.ppm (colours) and X.N.pgm (255 opaque, 0 transparent).
                 KIND nb: frames cover the screen without transparency, references from
                 giftopnm -image=N+1; KIND pil: Pillow's composed frame after seek(N).
  read DIR       for every DIR/*.gif: Pillow's indices and palette (*.idx), comment (*.txt) and
                 last frame (*.last.ppm), giftopnm's colours (*.nb.ppm)
"""
import os, random, subprocess, sys, tempfile

from fixture_files import put, require


def palette_image(rnd, w, h, colours, runs=False):
    from PIL import Image
    im = Image.new("P", (w, h))
    im.putpalette([rnd.randrange(256) for _ in range(3 * colours)] + [0] * (3 * (256 - colours)))
    px, v = [], 0
    for i in range(w * h):
        if not runs or rnd.randrange(6) == 0:
            v = rnd.randrange(colours)
        px.append(v)
    im.putdata(px)
    return im


def gifbuild_text(screen, frames, gmap=None):
    """frames: (left, top, rows of symbols, local map or None, extra text before the image)."""
    t = "screen width %d\nscreen height %d\nscreen colors 16\nscreen background 0\n\n" % screen
    if gmap:
        t += "screen map\n" + "".join("\trgb %03d %03d %03d is %s\n" % (r, g, b, "0123456789abcdef"[i])
                                      for i, (r, g, b) in enumerate(gmap)) + "end\n\n"
    for n, (left, top, rows, lmap, extra) in enumerate(frames):
        t += extra + "image # %d\nimage left %d\nimage top %d\n" % (n + 1, left, top)
        if lmap:
            t += "image map\n" + "".join("\trgb %03d %03d %03d is %s\n" % (r, g, b, "0123456789abcdef"[i])
                                         for i, (r, g, b) in enumerate(lmap)) + "end\n"
        t += "image bits %d by %d\n" % (len(rows[0]), len(rows)) + "".join(r + "\n" for r in rows) + "\n"
    return t


def make_all(tmp, rnd):
    """name -> (path, kind, expected frame count)."""
    from PIL import Image
    out = {}

    def pil(name, im, kind, frames=1, **kw):
        path = os.path.join(tmp, name + ".gif")
        im.save(path, "GIF", **kw)
        out[name] = (path, kind, frames)

    pil("pil_interlaced", palette_image(rnd, 37, 23, 200), "nb", interlace=True)
    pil("pil_wide", palette_image(rnd, 300, 7, 256, True), "nb", interlace=False)
    pil("pil_big", palette_image(rnd, 300, 150, 256), "nb", interlace=False)  # data past 16 KiB
    pil("pil_one", palette_image(rnd, 1, 1, 2), "nb")
    pil("pil_4bit", palette_image(rnd, 13, 9, 16, True), "nb")
    base = palette_image(rnd, 31, 17, 64, True)
    later = [base.copy() for _ in range(3)]
    for i, im in enumerate(later):  # partial changes: Pillow writes the changed box only
        for y in range(3 + i, 9 + i):
            for x in range(4 + 2 * i, 15 + i):
                im.putpixel((x, y), 5 + i)
    pil("pil_frames", base, "pil", 4, save_all=True, append_images=later, comment=b"frames", loop=3, optimize=False,
        duration=70)
    first = base.copy()
    first.info["transparency"] = 0
    pil("pil_disposal2", first, "pil", 4, save_all=True, append_images=later, disposal=2, transparency=0, optimize=False,
        background=0)
    for name, args in (("pam_interlace", "-interlace"), ("pam_comment", "-comment=hello"),
                       ("pam_transparent", None)):
        src = os.path.join(tmp, name + ".ppm")
        im = palette_image(rnd, 29, 11, 40, True).convert("RGB")
        im.save(src)
        if args is None:
            r, g, b = im.getpixel((0, 0))
            args = "-transparent=rgb:%02x/%02x/%02x" % (r, g, b)
        path = os.path.join(tmp, name + ".gif")
        subprocess.run("pamtogif %s %s > %s 2>/dev/null" % (args, src, path), shell=True, check=True)
        out[name] = (path, "pil" if name == "pam_transparent" else "nb", 1)
    gmap = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(16)]
    lmap = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(4)]
    rows = lambda w, h, k: ["".join("0123456789abcdef"[rnd.randrange(k)] for _ in range(w)) for _ in range(h)]
    ext = "comment\nabc\nend\n\nnetscape loop 2\n\n"
    gce = "graphics control\n\tdisposal mode %d\n\tuser input flag off\n\tdelay 0\n\ttransparent index %d\nend\n\n"
    builds = {
        # Local tables, full-screen frames: giftopnm's frames need no composition.
        "gb_local": ((9, 5), [(0, 0, rows(9, 5, 16), None, ext), (0, 0, rows(9, 5, 4), lmap, ""),
                              (0, 0, rows(9, 5, 16), gmap, "")], "nb", 3),
        # The second frame passes the screen: skipped, one frame counted.
        "gb_passing": ((8, 6), [(0, 0, rows(8, 6, 16), None, ""), (5, 3, rows(4, 4, 16), None, "")], "nb", 1),
        # Partial frames with disposal 2 and the screen's background as transparent index.
        "gb_disposal": ((10, 7), [(0, 0, rows(10, 7, 16), None, gce % (0, 0)), (2, 1, rows(4, 3, 16), None, gce % (2, 0)),
                                  (5, 3, rows(3, 3, 16), None, gce % (0, 0))], "pil", 3),
        # Offsets inside the screen, one global palette: Pillow composes.
        "gb_offsets": ((10, 7), [(0, 0, rows(10, 7, 16), None, ""), (3, 2, rows(4, 3, 16), None, ""),
                                 (9, 6, rows(1, 1, 16), None, "")], "pil", 3),
    }
    for name, (screen, frames, kind, count) in builds.items():
        path = os.path.join(tmp, name + ".gif")
        subprocess.run(["gifbuild"], input=gifbuild_text(screen, frames, gmap).encode(),
                       stdout=open(path, "wb"), check=True)
        out[name] = (path, kind, count)
    return out


def references(path, kind, frames):
    from PIL import Image
    refs = []
    im = Image.open(path)
    for n in range(frames):
        if kind == "nb":
            r = subprocess.run("giftopnm -image=%d %s | ppmtoppm" % (n + 1, path), shell=True,
                               capture_output=True, check=True)
            w, h = im.size
            refs.append((r.stdout, b"P5\n%d %d\n255\n" % (w, h) + b"\xff" * (w * h)))
        else:
            im.seek(n)
            rgba = im.convert("RGBA")
            refs.append((b"P6\n%d %d\n255\n" % rgba.size + rgba.convert("RGB").tobytes(),
                         b"P5\n%d %d\n255\n" % rgba.size + bytes(255 if a else 0 for a in rgba.getdata(3))))
    return refs


def fixtures(out):
    os.makedirs(out, exist_ok=True)
    if os.path.exists(os.path.join(out, "fixtures.txt")):
        return
    require(*("pamtogif", "giftopnm", "ppmtoppm", "gifbuild"))
    lines = []
    with tempfile.TemporaryDirectory(dir=out) as tmp:
        for name, (path, kind, frames) in make_all(tmp, random.Random(45)).items():
            for n, (ppm, pgm) in enumerate(references(path, kind, frames)):
                put(os.path.join(out, "%s.%d.ppm" % (name, n)), ppm)
                put(os.path.join(out, "%s.%d.pgm" % (name, n)), pgm)
            put(os.path.join(out, name + ".gif"), open(path, "rb").read())
            lines.append("%s %d %s" % (name, frames, kind))
    put(os.path.join(out, "fixtures.txt"), ("\n".join(lines) + "\n").encode())


def read(folder):
    from PIL import Image
    for n in sorted(f for f in os.listdir(folder) if f.endswith(".gif")):
        path = os.path.join(folder, n)
        im = Image.open(path)
        pal = im.getpalette() or []
        put(path[:-4] + ".idx", bytes(im.getdata()) + bytes(pal[:768]) + bytes(768 - len(pal[:768])))
        put(path[:-4] + ".txt", im.info.get("comment", b""))
        im.seek(im.n_frames - 1)
        put(path[:-4] + ".last.ppm", b"P6\n%d %d\n255\n" % im.size + im.convert("RGB").tobytes())
        r = subprocess.run("giftopnm %s | ppmtoppm" % path, shell=True, capture_output=True)
        put(path[:-4] + ".nb.ppm", r.stdout)


if __name__ == "__main__":
    fixtures(sys.argv[2]) if sys.argv[1] == "fixtures" else read(sys.argv[2])
