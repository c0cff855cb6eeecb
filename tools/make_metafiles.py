#!/usr/bin/env python3
"""Writes the metafile corpus: placeable WMF and EMF files, each on a white page that
covers the whole picture, with one or a few record kinds per file.

make_metafiles.py OUT_DIR          the corpus, its index.tsv (file, size, judge, what it covers)
                                   and expected.tsv (the worked expectations of hand-checked files)
make_metafiles.py --large FILE     a large EMF (4000 x 2828, thousands of records) for the benchmark
make_metafiles.py --seeds DIR      small files by groups of record kinds, seeds of fuzz_wmf

The files are made in metafile_scenes_wmf.py, metafile_scenes_emf.py and
metafile_scenes_documents.py, on the common ground of metafile_corpus.py.
"""
import os
import sys

sys.dont_write_bytecode = True  # tests and benchmarks run it: nothing is written beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from metafile_corpus import *  # noqa: E402,F401,F403
import metafile_scenes_wmf  # noqa: E402,F401  (the order of import is the order of the index)
import metafile_scenes_emf  # noqa: E402,F401
import metafile_scenes_documents  # noqa: E402,F401


# --- fuzzing seeds -----------------------------------------------------------------------

def seed_files():
    """Small files, one group of record kinds each, for fuzz_wmf: 4 x 4 pictures, few records."""
    tiny24 = dib(4, 4, 24, lambda x, y: (x * 60, y * 60, 90))
    tiny1 = dib(4, 4, 1, lambda x, y: (x + y) % 2, palette=[(0, 0, 0), (255, 255, 255)])
    tiny8 = dib(4, 4, 8, lambda x, y: x + 4 * y, palette=[(i * 16, 255 - i * 16, 0) for i in range(16)])
    tiny32 = dib(4, 4, 32, lambda x, y: (x * 60, 0, 0, x * 60))
    seeds = {}

    def emf(name, draw):
        e = Emf(64, 48)
        draw(e)
        seeds['emf_' + name + '.emf'] = e.bytes()

    def wmf(name, draw):
        w = Wmf((0, 0, 64, 48), 96)
        w.set_window_org(0, 0)
        w.set_window_ext(64, 48)
        draw(w)
        seeds['wmf_' + name + '.wmf'] = w.bytes()

    emf('mapping', lambda e: (e.set_map_mode(MM_ANISOTROPIC), e.set_window_ext(10, 10), e.set_viewport_ext(64, -48),
                              e.set_window_org(1, 1), e.set_viewport_org(0, 48), e.scale_viewport_ext(1, 2, 3, 4),
                              e.scale_window_ext(2, 1, 1, 2), e.rectangle(1, 1, 8, 8), e.set_map_mode(MM_TWIPS),
                              e.ellipse(0, 0, 500, -500)))
    emf('transform', lambda e: (e.save_dc(), e.set_world_transform((0.5, 0.5, -0.5, 0.5, 10.0, 0.0)),
                                e.modify_world_transform((1.0, 0.0, 0.3, 1.0, 0.0, 0.0), MWT_LEFTMULTIPLY),
                                e.rectangle(0, 0, 30, 20), e.restore_dc(-1), e.restore_dc(5)))
    emf('objects', lambda e: (e.select(e.ext_pen(PS_GEOMETRIC | PS_ENDCAP_SQUARE | PS_JOIN_MITER, 5, 255)),
                              e.select(e.brush(BS_HATCHED, 0xFF00, HS_DIAGCROSS)), e.set_rop2(R2_XORPEN),
                              e.set_bk_mode(OPAQUE), e.set_poly_fill_mode(WINDING), e.polygon(star(32, 24, 20)),
                              e.select(e.dib_brush(*tiny8)), e.select(e.dib_brush(*tiny1, mono=True)),
                              e.round_rect(2, 2, 60, 40, 9, 9), e.delete(2), e.stock(NULL_PEN), e.stock(DC_BRUSH)))
    emf('curves', lambda e: (e.arc(0, 0, 40, 30, 40, 0, 0, 30), e.chord(5, 5, 50, 40, 0, 0, 50, 40),
                             e.pie(10, 10, 60, 45, 60, 10, 10, 10), e.move_to(2, 40), e.arc_to(10, 10, 50, 40, 0, 0, 50, 0),
                             e.angle_arc(30, 20, 15, 30.0, -300.0), e.set_arc_direction(AD_CLOCKWISE),
                             e.polybezier([(0, 0), (20, 40), (40, 0), (60, 40)]), e.polybezier_to([(1, 1), (2, 2), (3, 3)]),
                             e.poly_draw([(5, 5), (20, 5), (30, 30), (40, 5), (50, 20)],
                                         [PT_MOVETO, PT_LINETO, PT_BEZIERTO, PT_BEZIERTO, PT_BEZIERTO | PT_CLOSEFIGURE])))
    emf('short_forms', lambda e: (e.polygon([(1, 1), (30, 2), (20, 30)], short=True),
                                  e.polyline([(1, 40), (60, 40)], short=True),
                                  e.poly_polygon([[(1, 1), (9, 1), (5, 9)], [(20, 20), (30, 20), (25, 30)]], short=True),
                                  e.poly_polyline([[(1, 1), (9, 9)], [(9, 1), (1, 9)]], short=True),
                                  e.polybezier([(0, 0), (10, 40), (50, 0), (60, 40)], short=True),
                                  e.polyline_to([(5, 5), (6, 30)], short=True),
                                  e.poly_draw([(1, 1), (30, 30)], [PT_MOVETO, PT_LINETO], short=True)))
    emf('paths', lambda e: (e.begin_path(), path_polygon(e, star(32, 24, 20)), path_ellipse(e, 4, 4, 30, 30),
                            e.end_path(), e.flatten_path(), e.widen_path(), e.stroke_and_fill_path(),
                            e.begin_path(), e.move_to(0, 0), e.line_to(60, 40), e.end_path(), e.select_clip_path(RGN_AND),
                            e.begin_path(), e.abort_path(), e.fill_path(), e.stroke_path()))
    emf('clipping', lambda e: (e.intersect_clip(2, 2, 60, 40), e.exclude_clip(10, 10, 20, 20), e.offset_clip(3, -2),
                               e.ext_select_clip_rgn([(0, 0, 30, 30), (30, 10, 60, 40)], RGN_XOR),
                               e.fill_rgn([(1, 1, 20, 20)], 0x80000004), e.frame_rgn([(5, 5, 40, 40)], 1, 2, 3),
                               e.paint_rgn([(2, 2, 9, 9)]), e.invert_rgn([(0, 0, 64, 48)]),
                               e.ext_select_clip_rgn([], RGN_COPY), e.rectangle(0, 0, 64, 48)))
    emf('text', lambda e: (e.select(e.font(-12, 'Times New Roman', FW_BOLD, 1, 1, 1, 450)), e.set_text_align(TA_CENTER | TA_BASELINE),
                           e.set_text_color(255), e.ext_text_out(30, 30, 'Ab', ETO_OPAQUE | ETO_CLIPPED, (0, 0, 40, 40), [7, 7]),
                           e.ext_text_out(2, 2, 'cd', 0, None, None, wide=False), e.set_text_align(TA_UPDATECP),
                           e.poly_text_out([(1, 1, 'x', 0, None, [5]), (9, 9, 'yz', ETO_OPAQUE, (8, 8, 20, 20), None)]),
                           e.small_text_out(4, 40, 'small'), e.select(e.font(20, 'Courier New', pitch_family=FIXED_PITCH)),
                           e.ext_text_out(0, 20, 'mono')))
    emf('bitmaps', lambda e: (e.stretch_dibits(0, 0, 30, -20, 1, 1, 3, 3, NOTSRCCOPY, tiny24),
                              e.set_dibits_to_device(30, 0, 4, 4, 0, 0, 0, 4, tiny8),
                              e.bit_blt(0, 20, 4, 4, SRCINVERT, tiny1), e.bit_blt(10, 20, 9, 9, PATINVERT),
                              e.stretch_blt(20, 20, 20, 20, 0, 0, 4, 4, MERGECOPY, tiny8),
                              e.mask_blt(40, 20, 4, 4, 0xAACC0020, tiny24, 0, 0, tiny1, 0, 0),
                              e.plg_blt([(40, 0), (60, 10), (30, 20)], 0, 0, 4, 4, tiny24),
                              e.alpha_blend(0, 30, 16, 16, 0, 0, 4, 4, tiny32, 200, per_pixel=True),
                              e.transparent_blt(20, 30, 16, 16, 0, 0, 4, 4, tiny24, 0)))
    emf('gradient_palette', lambda e: (e.gradient_fill([(0, 0, 255, 0, 0), (30, 20, 0, 0, 255)], [(0, 1)], GRADIENT_FILL_RECT_V),
                                       e.gradient_fill([(0, 40, 255, 0, 0), (30, 0, 0, 255, 0), (60, 40, 0, 0, 255)],
                                                       [(0, 1, 2)], GRADIENT_FILL_TRIANGLE),
                                       e.select_palette(e.palette([(1, 2, 3), (200, 100, 50)])), e.realize_palette(),
                                       e.set_pal_entries(2, 1, [(9, 9, 9)]), e.select(e.brush(BS_SOLID, 0x01000001)),
                                       e.rectangle(0, 0, 20, 20)))
    emf('skipped', lambda e: (e.comment(b'EMF+' + u32(0x4001) + u32(12) + u32(0)), e.set_icm_mode(2), e.set_layout(0),
                              e.set_mapper_flags(1), e.rec(0x7F0, b'\1\2\3\4'), e.set_miter_limit(4),
                              e.set_stretch_mode(STRETCH_HALFTONE), e.set_brush_org(3, 3), e.set_pixel(3, 3, 255)))
    wmf('mapping', lambda w: (w.set_map_mode(MM_ANISOTROPIC), w.set_viewport_org(5, 5), w.set_viewport_ext(32, 24),
                              w.offset_viewport_org(2, 2), w.scale_viewport_ext(2, 1, 2, 1), w.offset_window_org(-3, -3),
                              w.scale_window_ext(1, 2, 1, 2), w.save_dc(), w.set_window_ext(64, -48), w.restore_dc(-1),
                              w.rectangle(1, 1, 30, 30)))
    wmf('shapes', lambda w: (w.select(w.pen(PS_DASHDOT, 0, 0xFF)), w.select(w.brush(BS_HATCHED, 0xFF00, HS_CROSS)),
                             w.set_rop2(R2_NOTXORPEN), w.set_poly_fill_mode(WINDING), w.set_bk_color(0xFFFF),
                             w.round_rect(1, 1, 40, 30, 8, 8), w.ellipse(5, 5, 60, 40), w.arc(0, 0, 30, 30, 30, 0, 0, 30),
                             w.pie(0, 0, 40, 40, 40, 0, 0, 0), w.chord(10, 10, 60, 45, 0, 45, 60, 10),
                             w.poly_polygon([[(1, 1), (20, 1), (10, 20)], [(30, 30), (50, 30), (40, 45)]]),
                             w.polyline([(0, 47), (63, 0)]), w.set_pixel(3, 3, 0xFF), w.delete(0)))
    wmf('regions', lambda w: (w.select_clip_region(w.region([(0, 0, 30, 30), (10, 30, 50, 40)])), w.intersect_clip(1, 1, 60, 40),
                              w.exclude_clip(5, 5, 9, 9), w.offset_clip(2, 2), w.fill_region(0, w.brush(BS_SOLID, 255)),
                              w.frame_region(0, 1, 2, 2), w.paint_region(0), w.invert_region(0)))
    wmf('text', lambda w: (w.select(w.font(-12, 'Arial', FW_BOLD, 1, 1, 1, 900)), w.set_text_align(TA_RIGHT | TA_BOTTOM),
                           w.set_text_color(0xFF), w.set_text_char_extra(2), w.text_out(60, 40, 'Ab'),
                           w.ext_text_out(2, 2, 'cd', ETO_OPAQUE | ETO_CLIPPED, (0, 0, 30, 20), [6, 6])))
    wmf('bitmaps', lambda w: (w.dib_bit_blt(0, 0, 4, 4, 0, 0, SRCAND, *tiny24),
                              w.dib_stretch_blt(10, 0, 20, -20, 0, 0, 4, 4, SRCPAINT, *tiny8),
                              w.stretch_dib(30, 0, 20, 20, 1, 1, 2, 2, NOTSRCERASE, *tiny1),
                              w.set_dib_to_dev(0, 30, 4, 4, 0, 0, 0, 4, *tiny32),
                              w.select(w.dib_brush(*tiny1)), w.pat_blt(40, 30, 20, 15, PATINVERT),
                              w.select_palette(w.palette([(1, 2, 3), (4, 5, 6)])), w.realize_palette(),
                              w.set_pal_entries(0, [(7, 8, 9)]), w.escape(15, b'note'), w.rec(0x0999, b'')))
    return seeds


# --- the large file of the benchmark -----------------------------------------------------

def large_emf(width=4000, height=2828, cells=(40, 28)):
    e = emf_page(width, height)
    cw, ch = width // cells[0], height // cells[1]
    src24 = picture(24, 48, 36)
    src8 = picture(8, 48, 36)
    font = e.font(-16, 'Arial')
    e.select(font)
    e.set_bk_mode(TRANSPARENT)
    n = 0
    for j in range(cells[1]):
        for i in range(cells[0]):
            x, y = i * cw, j * ch
            k = (i + j * cells[0]) % 6
            b = e.brush(BS_SOLID, COLOURS[k]) if k != 5 else e.brush(BS_HATCHED, COLOURS[k], (i + j) % 6)
            p = e.pen(PS_SOLID, 1 + k % 3, COLOURS[(k + 2) % 8])
            e.select(b)
            e.select(p)
            if k == 0:
                e.ellipse(x + 4, y + 4, x + cw - 4, y + ch // 2)
            elif k == 1:
                e.polygon([(x + 4, y + ch // 2), (x + cw // 2, y + 4), (x + cw - 4, y + ch // 2)])
            elif k == 2:
                e.round_rect(x + 4, y + 4, x + cw - 4, y + ch // 2, 12, 12)
            elif k == 3:
                e.stretch_dibits(x + 4, y + 4, cw - 8, ch // 2 - 4, 0, 0, 48, 36, SRCCOPY, src24 if n % 2 else src8)
            elif k == 4:
                e.polybezier([(x + 4, y + ch // 2), (x + cw // 3, y), (x + 2 * cw // 3, y + ch), (x + cw - 4, y + 8)])
            else:
                e.pie(x + 4, y + 4, x + cw - 4, y + ch // 2, x + cw, y, x, y)
            e.set_text_color(COLOURS[(k + 4) % 8])
            e.ext_text_out(x + 6, y + ch // 2 + 6, 'Cell %d' % n)
            e.stock(BLACK_PEN)
            e.stock(WHITE_BRUSH)
            e.delete(b)
            e.delete(p)
            n += 1
    return e.bytes()


def main(argv):
    if len(argv) == 3 and argv[1] == '--seeds':
        os.makedirs(argv[2], exist_ok=True)
        for name, data in seed_files().items():
            with open(os.path.join(argv[2], name), 'wb') as f:
                f.write(data)
        return 0
    if len(argv) == 3 and argv[1] == '--large':
        with open(argv[2], 'wb') as f:
            f.write(large_emf())
        return 0
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    lines = ['# file\twidth x height\tchecked by\twhat it covers']
    expected = ['# file\tcheck\tvalues (pixel: x y r g b tolerance; share: x0 y0 x1 y1 r g b low high)']
    for name, what, fn, reason in SCENES:
        made = fn()
        data, checks = made if reason else (made, [])
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
        size = '%dx%d' % ((WMF_W, WMF_H) if name.endswith('.wmf') else (EMF_W, EMF_H))
        judge = ('hand: ' + reason) if reason else ('wmf2gd' if name.endswith('.wmf') else 'emf2svg-conv + rsvg-convert')
        lines.append('%s\t%s\t%s\t%s' % (name, size, judge, what))
        expected.extend('%s\t%s' % (name, c) for c in checks)
    with open(os.path.join(out, 'index.tsv'), 'w') as f:
        f.write('\n'.join(lines) + '\n')
    with open(os.path.join(out, 'expected.tsv'), 'w') as f:
        f.write('\n'.join(expected) + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
