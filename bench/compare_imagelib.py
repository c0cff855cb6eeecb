#!/usr/bin/env python3
"""Times the raster library's codecs beside Pillow on the same files in the same run.

compare_imagelib.py --build DIR [--work DIR] [--runs N]

Writes 2048x2048 files: BMP (24-bit and 8-bit by Pillow, RLE8 by ImageMagick) of a blocky
pattern with noise, an 8-bit GIF (Pillow) of a smooth field with noise and flat areas, and
TGA (24-bit raw and run-length, 32-bit) and PCX (8- and 24-bit) files by Pillow.
Times Pillow's in-process Image.open(...).load() on each and save() to memory (GIF: LZW),
median of N runs; runs DIR/bench/bench_bmp and bench_gif on the same files
(ORBEL_BENCH_IMAGES) and prints both medians in milliseconds and their ratio (Pillow's time
over ours: above 1, ours is faster). The GIF writers without a Pillow counterpart print
alone. Asserts nothing.
"""
import argparse
import io
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

SIZE = 2048


def make_files(work):
    from PIL import Image
    rnd = random.Random(37)
    noise = bytes(rnd.randrange(4) for _ in range(SIZE * SIZE))
    grey = Image.frombytes("L", (SIZE, SIZE), bytes(((x // 16 + y // 16) * 9 + noise[y * SIZE + x]) & 255
                                                      for y in range(SIZE) for x in range(SIZE)))
    rgb = Image.merge("RGB", (grey, grey.transpose(Image.FLIP_LEFT_RIGHT), grey.transpose(Image.FLIP_TOP_BOTTOM)))
    rgb.save(os.path.join(work, "bmp24.bmp"))
    pal = grey.convert("P", palette=Image.ADAPTIVE, colors=256)
    pal.save(os.path.join(work, "bmp8.bmp"))
    blocky = Image.frombytes("L", (SIZE, SIZE), bytes(((x // 16 + y // 16) * 9) & 255
                                                        for y in range(SIZE) for x in range(SIZE)))
    blocky.save(os.path.join(work, "blocky.png"))
    subprocess.run(["convert-im6.q16", os.path.join(work, "blocky.png"), "-type", "Palette", "-compress", "RLE",
                    "BMP3:" + os.path.join(work, "bmp_rle8.bmp")], check=True)
    field = Image.frombytes("L", (SIZE, SIZE), bytes(
        40 if (x // 256 + y // 256) % 3 == 0 else ((x + y) // 16 + noise[y * SIZE + x]) & 255
        for y in range(SIZE) for x in range(SIZE)))
    field.convert("P", palette=Image.ADAPTIVE, colors=256).save(os.path.join(work, "gif8.gif"), optimize=False)
    rgb.save(os.path.join(work, "tga24.tga"))
    rgb.save(os.path.join(work, "tga24_rle.tga"), compression="tga_rle")
    rgba = rgb.convert("RGBA")
    rgba.putalpha(grey)
    rgba.save(os.path.join(work, "tga32.tga"))
    pal.save(os.path.join(work, "pcx8.pcx"))
    rgb.save(os.path.join(work, "pcx24.pcx"))


def median_ms(fn, runs):
    fn()
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times)


def pillow_times(work, runs):
    from PIL import Image
    out = {}
    for name in ("bmp24", "bmp8", "bmp_rle8"):
        path = os.path.join(work, name + ".bmp")
        out["BM_Decode" + {"bmp24": "Bmp24", "bmp8": "Bmp8", "bmp_rle8": "BmpRle8"}[name]] = \
            median_ms(lambda: Image.open(path).load(), runs)
    for name, key in (("bmp24", "BM_EncodeBmp24"), ("bmp8", "BM_EncodeBmp8")):
        im = Image.open(os.path.join(work, name + ".bmp"))
        im.load()
        out[key] = median_ms(lambda: im.save(io.BytesIO(), "BMP"), runs)
    gif = os.path.join(work, "gif8.gif")
    out["BM_DecodeGif"] = median_ms(lambda: Image.open(gif).load(), runs)
    im = Image.open(gif)
    im.load()
    out["BM_EncodeGifLzw"] = median_ms(lambda: im.save(io.BytesIO(), "GIF", optimize=False), runs)
    out["BM_EncodeGifUncompressed"] = None
    out["BM_EncodeGifRunLength"] = None
    for name, ext, fmt in (("Tga24", "tga24.tga", "TGA"), ("Tga24Rle", "tga24_rle.tga", None),
                           ("Tga32", "tga32.tga", "TGA"), ("Pcx8", "pcx8.pcx", "PCX"), ("Pcx24", "pcx24.pcx", "PCX")):
        path = os.path.join(work, ext)
        out["BM_Decode" + name] = median_ms(lambda: Image.open(path).load(), runs)
        if fmt:
            im = Image.open(path)
            im.load()
            out["BM_Encode" + name] = median_ms(lambda: im.save(io.BytesIO(), fmt), runs)
    return out


def ours(build, work, runs):
    env = dict(os.environ, ORBEL_BENCH_IMAGES=work)
    out = {}
    for program in ("bench_bmp", "bench_gif", "bench_tga_pcx"):
        r = subprocess.run([os.path.join(build, "bench", program), "--benchmark_format=json",
                            "--benchmark_repetitions=%d" % runs, "--benchmark_report_aggregates_only=true"],
                           env=env, capture_output=True, text=True, check=True)
        for b in json.loads(r.stdout)["benchmarks"]:
            if b.get("aggregate_name") == "median":
                out[b["run_name"]] = b["real_time"]  # milliseconds, as the benchmarks state
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--work")
    ap.add_argument("--runs", type=int, default=9)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        work = args.work or tmp
        os.makedirs(work, exist_ok=True)
        make_files(work)
        pil = pillow_times(work, args.runs)
        mine = ours(args.build, work, args.runs)
    print("%-26s %10s %10s %8s" % ("case", "ours ms", "Pillow ms", "ratio"))
    for key, p in pil.items():
        m = mine.get(key)
        print("%-26s %10s %10s %8s" % (key, "%.2f" % m if m else "-", "%.2f" % p if p else "-",
                                       "%.2f" % (p / m) if m and p else "-"))


if __name__ == "__main__":
    sys.exit(main())
