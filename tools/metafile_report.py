#!/usr/bin/python3
"""Compares our metafile reader with the outside renderers over the corpus.

metafile_report.py [--build BUILD_DIR] [--corpus DIR] [--save DIR] [--only SUBSTRING ...] [FILE ...]

Each file is drawn by our reader (BUILD_DIR/tools/metafile_render/metafile_render, at the
reader's own size) and by wmf2gd (WMF) or emf2svg-conv + rsvg-convert (EMF) at that same
size. A pixel matches when a pixel of the other picture within one pixel of it is within
48 levels on every channel; a file's figure is the smaller share of the two directions.
Prints one line a file, then the median and the worst. Files the index marks as checked by
hand (an outside renderer departs from the formats there) are judged by the expectations of
expected.tsv instead, and their figure is shown for information only. --save writes, per
file, a PNG of our picture, theirs and the pixels that found no match (red: ours, blue: theirs).
Needs Debian's python3 with PIL and numpy.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

TOLERANCE = 48
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FONT_DIRS = ('/usr/share/fonts/truetype/liberation', '/usr/share/fonts/truetype/liberation2')
# wmf2gd loads the standard PostScript faces by name: the Liberation faces stand for them.
FONT_MAP = {
    'Times-Roman': 'LiberationSerif-Regular', 'Times-Italic': 'LiberationSerif-Italic',
    'Times-Bold': 'LiberationSerif-Bold', 'Times-BoldItalic': 'LiberationSerif-BoldItalic',
    'Helvetica': 'LiberationSans-Regular', 'Helvetica-Oblique': 'LiberationSans-Italic',
    'Helvetica-Bold': 'LiberationSans-Bold', 'Helvetica-BoldOblique': 'LiberationSans-BoldItalic',
    'Courier': 'LiberationMono-Regular', 'Courier-Oblique': 'LiberationMono-Italic',
    'Courier-Bold': 'LiberationMono-Bold', 'Courier-BoldOblique': 'LiberationMono-BoldItalic',
    'Symbol': 'LiberationSans-Regular',
}


def write_fontmap(path):
    folder = next((d for d in FONT_DIRS if os.path.isdir(d)), FONT_DIRS[0])
    with open(path, 'w') as f:
        for name, face in FONT_MAP.items():
            f.write('/%s (%s/%s.ttf) ;\n' % (name, folder, face))


def flatten(path):
    """An RGB array of a picture laid on white."""
    im = Image.open(path)
    if im.mode in ('RGBA', 'LA', 'P'):
        im = im.convert('RGBA')
        page = Image.new('RGBA', im.size, (255, 255, 255, 255))
        page.alpha_composite(im)
        im = page
    return np.asarray(im.convert('RGB'), dtype=np.int16)


def ours(render, path, work):
    out = os.path.join(work, 'ours.ppm')
    run = subprocess.run([render, path, out], capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError('our reader: ' + (run.stderr.strip() or 'exit %d' % run.returncode))
    return flatten(out)


def theirs(path, width, height, work):
    out = os.path.join(work, 'theirs.png')
    if path.lower().endswith('.wmf'):
        fontmap = os.path.join(work, 'Fontmap')
        write_fontmap(fontmap)
        cmd = [['wmf2gd', '--wmf-gs-fontmap=' + fontmap, '--maxwidth=%d' % width, '--maxheight=%d' % height,
                '--maxsize', '-t', 'png', '-o', out, path]]
    else:
        svg = os.path.join(work, 'theirs.svg')
        cmd = [['emf2svg-conv', '-i', path, '-o', svg],
               ['rsvg-convert', '-w', str(width), '-h', str(height), '-b', 'white', '-o', out, svg]]
    for c in cmd:
        run = subprocess.run(c, capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError('%s failed: %s' % (c[0], run.stderr.strip()[-300:]))
    if not os.path.exists(out):
        raise RuntimeError('%s wrote no picture' % cmd[-1][0])
    return flatten(out)


def unmatched(a, b):
    """True where no pixel of b within one pixel of a's pixel is within the tolerance."""
    h, w, _ = a.shape
    padded = np.pad(b, ((1, 1), (1, 1), (0, 0)), mode='edge')
    found = np.zeros((h, w), dtype=bool)
    for dy in (0, 1, 2):
        for dx in (0, 1, 2):
            near = padded[dy:dy + h, dx:dx + w]
            found |= (np.abs(a - near) <= TOLERANCE).all(axis=2)
    return ~found


def compare(a, b):
    if a.shape != b.shape:
        return 0.0, None, None
    miss_a, miss_b = unmatched(a, b), unmatched(b, a)
    n = a.shape[0] * a.shape[1]
    return min(1 - miss_a.sum() / n, 1 - miss_b.sum() / n), miss_a, miss_b


def save(folder, name, a, b, miss_a, miss_b):
    os.makedirs(folder, exist_ok=True)
    h, w, _ = a.shape
    canvas = np.full((h, w * 3 + 20, 3), 128, dtype=np.uint8)
    canvas[:, :w] = a
    canvas[:, w + 10:2 * w + 10] = b if b.shape == a.shape else 0
    diff = np.full((h, w, 3), 255, dtype=np.uint8)
    if miss_a is not None:
        diff[miss_a] = (230, 0, 0)
        diff[miss_b & ~miss_a] = (0, 0, 230)
    canvas[:, 2 * w + 20:] = diff
    Image.fromarray(canvas).save(os.path.join(folder, os.path.splitext(name)[0] + '.png'))


def read_index(corpus):
    """{file: reason} for the files checked by hand, and {file: [check fields]}."""
    hand, checks = {}, {}
    for line in open(os.path.join(corpus, 'index.tsv')):
        if line.startswith('#'):
            continue
        name, _, judge, _ = line.rstrip('\n').split('\t', 3)
        if judge.startswith('hand: '):
            hand[name] = judge[6:]
    for line in open(os.path.join(corpus, 'expected.tsv')):
        if not line.startswith('#'):
            fields = line.rstrip('\n').split('\t')
            checks.setdefault(fields[0], []).append(fields[1:])
    return hand, checks


def failed_checks(picture, checks):
    """The expectations a picture misses, as text."""
    failed = []
    h, w, _ = picture.shape
    for c in checks:
        kind, v = c[0], [float(x) for x in c[1:]]
        if kind == 'pixel':
            x, y, want, tol = int(v[0]), int(v[1]), np.array(v[2:5]), v[5]
            got = picture[y, x] if 0 <= x < w and 0 <= y < h else None
            if got is None or np.abs(got - want).max() > tol:
                failed.append('pixel (%d, %d) is %s, not %s' % (x, y, None if got is None else tuple(got), tuple(want.astype(int))))
        else:
            x0, y0, x1, y1 = (int(q) for q in v[:4])
            area = picture[y0:y1, x0:x1]
            near = (np.abs(area - np.array(v[4:7])) <= TOLERANCE).all(axis=2).mean() if area.size else -1
            if not v[7] - 1e-9 <= near <= v[8] + 1e-9:
                failed.append('share of %s in (%d, %d)-(%d, %d) is %.3f, not %.3f-%.3f' %
                              (tuple(int(q) for q in v[4:7]), x0, y0, x1, y1, near, v[7], v[8]))
    return failed


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--build', default=os.path.join(ROOT, 'build-plain'))
    p.add_argument('--corpus', default=os.path.join(ROOT, 'tests', 'data', 'metafiles'))
    p.add_argument('--save', help='folder for side-by-side pictures')
    p.add_argument('--only', action='append', default=[], help='files whose name holds this text')
    p.add_argument('--details', type=int, default=3, help='failed checks shown per hand-checked file')
    p.add_argument('files', nargs='*')
    args = p.parse_args()
    render = os.path.join(args.build, 'tools', 'metafile_render', 'metafile_render')
    if not os.access(render, os.X_OK):
        sys.exit('no %s: build the metafile_render target' % render)
    for tool in ('wmf2gd', 'emf2svg-conv', 'rsvg-convert'):
        if not shutil.which(tool):
            sys.exit('%s is missing (scripts/install-deps)' % tool)
    hand, checks = read_index(args.corpus)
    files = args.files or sorted(os.path.join(args.corpus, f) for f in os.listdir(args.corpus)
                                 if f.lower().endswith(('.wmf', '.emf')))
    if args.only:
        files = [f for f in files if any(o in os.path.basename(f) for o in args.only)]
    figures, hand_results = [], []
    print('%-32s %9s %8s %8s' % ('file', 'size', 'match', 'worse'))
    for path in files:
        name = os.path.basename(path)
        with tempfile.TemporaryDirectory(prefix='metafile_report.') as work:
            try:
                a = ours(render, path, work)
            except RuntimeError as e:
                print('%-32s %s' % (name, e))
                (hand_results if name in hand else figures).append((0.0, name))
                continue
            if name in hand:
                failed = failed_checks(a, checks.get(name, []))
                total = len(checks.get(name, []))
                hand_results.append(((total - len(failed)) / max(1, total), name))
                print('%-32s %4dx%-4d  by hand: %d of %d checks hold' % (name, a.shape[1], a.shape[0], total - len(failed), total))
                for f in failed[:args.details]:
                    print('    ' + f)
            try:
                b = theirs(path, a.shape[1], a.shape[0], work)
            except RuntimeError as e:
                if name not in hand:
                    print('%-32s %s' % (name, e))
                    figures.append((0.0, name))
                continue
            figure, miss_a, miss_b = compare(a, b)
            if name not in hand:
                worse = '' if miss_a is None else ('ours' if miss_a.sum() > miss_b.sum() else 'theirs')
                print('%-32s %4dx%-4d %7.2f%% %8s' % (name, a.shape[1], a.shape[0], 100 * figure, worse))
                figures.append((figure, name))
            if args.save:
                save(args.save, name, a.astype(np.uint8), b.astype(np.uint8), miss_a, miss_b)
    if figures:
        values = [f for f, _ in figures]
        worst = min(figures)
        print('\n%d files compared: median %.2f%%, worst %.2f%% (%s), %d under 95%%' %
              (len(values), 100 * statistics.median(values), 100 * worst[0], worst[1], sum(v < 0.95 for v in values)))
    if hand_results:
        print('%d files checked by hand: %d hold every check' %
              (len(hand_results), sum(1 for f, _ in hand_results if f == 1.0)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
