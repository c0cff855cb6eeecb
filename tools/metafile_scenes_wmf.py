"""Corpus files in placeable WMF form (registered on import)."""

from metafile_corpus import *  # noqa: F401,F403


# --- WMF scenes --------------------------------------------------------------------------

@scene('wmf_shapes.wmf', 'WMF: rectangle, rounded rectangles, polygon, polyline, MoveTo/LineTo, SetPixel')
def wmf_shapes():
    w, u = wmf_page()
    pen = w.pen(PS_SOLID, u(2), rgb(0, 0, 0))
    w.select(pen)
    for i, corner in enumerate((0, 30, 100)):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        x = u(20 + 120 * i)
        if corner:
            w.round_rect(x, u(20), x + u(100), u(120), u(corner), u(corner * 2 // 3))
        else:
            w.rectangle(x, u(20), x + u(100), u(120))
        w.delete(b)
    b = w.brush(BS_SOLID, COLOURS[3])
    w.select(b)
    w.polygon([(u(x), u(y)) for x, y in ((30, 260), (90, 150), (150, 260), (90, 220))])
    w.polyline([(u(x), u(y)) for x, y in ((180, 160), (220, 260), (260, 160), (300, 260), (360, 170))])
    w.move_to(u(180), u(140))
    w.line_to(u(370), u(140))
    for i in range(20):
        w.set_pixel(u(190 + 8 * i), u(275), COLOURS[i % 6])
    return w.bytes()


@scene('wmf_pen_styles.wmf', 'WMF: cosmetic pen styles (solid, dash, dot, dash-dot, dash-dot-dot, null, inside-frame), widths 1-8')
def wmf_pen_styles():
    w, u = wmf_page()
    styles = [PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME]
    for i, style in enumerate(styles):
        p = w.pen(style, 0, COLOURS[i])
        w.select(p)
        w.move_to(u(20), u(20 + 14 * i))
        w.line_to(u(360), u(20 + 14 * i))
        w.select(w.black)  # the page's pen back before deleting
        w.delete(p)
    for i, width in enumerate((2, 3, 5, 8)):
        p = w.pen(PS_SOLID, u(width), COLOURS[i])
        w.select(p)
        w.move_to(u(20), u(130 + 18 * i))
        w.line_to(u(200), u(130 + 18 * i))
        w.line_to(u(200 + 20 * i), u(270))
        w.select(w.black)
        w.delete(p)
    return w.bytes()


@checked('wmf_hatches.wmf', 'WMF (hand-checked): the six hatched brushes over an opaque background of two colours',
         'the formats leave the row of a hatch line in its 8-pixel cell to the drawing system, and wmf2gd draws it four rows off: the shares of line and background colour and the line directions are checked instead')
def wmf_hatches():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    w.set_bk_mode(OPAQUE)
    checks = []
    for row, bk in enumerate(((255, 255, 180), (0, 0, 0))):
        w.set_bk_color(rgb(*bk))
        for i in range(6):
            b = w.brush(BS_HATCHED, COLOURS[i], i)
            w.select(b)
            x, y = 15 + 60 * i, 20 + 130 * row
            w.rectangle(x, y, x + 56, y + 110)
            w.select(w.white)
            w.delete(b)
            box = (x + 4, y + 6, x + 52, y + 102)        # 48 x 96: whole cells
            c = channels(COLOURS[i])
            checks += [share(box, c, 0.10, 0.28), share(box, bk, 0.72, 0.90)]
            if i == HS_HORIZONTAL:
                checks.append(share((x + 10, y + 6, x + 11, y + 102), c, 0.10, 0.15))
            if i == HS_VERTICAL:
                checks.append(share((x + 4, y + 50, x + 52, y + 51), c, 0.10, 0.15))
    return w.bytes(), checks


@scene('wmf_arcs.wmf', 'WMF: Arc and Pie in all quadrants, outlined and filled')
def wmf_arcs():
    w, u = wmf_page()
    pen = w.pen(PS_SOLID, u(2), rgb(0, 0, 0))
    w.select(pen)
    for i, (xs, ys, xe, ye) in enumerate(((100, 0, 0, 0), (0, 0, 100, 100), (0, 100, 100, 50), (50, 0, 50, 100))):
        x = 15 + 92 * i
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.arc(u(x), u(15), u(x + 80), u(105), u(x + xs * 80 // 100), u(15 + ys * 90 // 100),
              u(x + xe * 80 // 100), u(15 + ye * 90 // 100))
        w.pie(u(x), u(130), u(x + 80), u(260), u(x + xs * 80 // 100), u(130 + ys * 130 // 100),
              u(x + xe * 80 // 100), u(130 + ye * 130 // 100))
        w.delete(b)
    return w.bytes()


@scene('wmf_polypolygon.wmf', 'WMF: PolyPolygon and a self-crossing polygon under the alternate fill mode')
def wmf_polypolygon():
    w, u = wmf_page()
    b = w.brush(BS_SOLID, rgb(40, 90, 200))
    w.select(b)
    w.set_poly_fill_mode(ALTERNATE)
    for i in range(2):
        cx = 95 + 190 * i
        w.polygon([(u(x), u(y)) for x, y in star(cx, 80, 65, 7 if i else 5, 3 if i else 2)])
        outer = [(u(x), u(y)) for x, y in ((cx - 75, 160), (cx + 75, 160), (cx + 75, 275), (cx - 75, 275))]
        inner = [(u(x), u(y)) for x, y in ((cx - 40, 185), (cx - 40, 250), (cx + 40, 250), (cx + 40, 185))]
        same = [(u(x), u(y)) for x, y in ((cx - 20, 200), (cx + 60, 200), (cx + 60, 265), (cx - 20, 265))]
        w.poly_polygon([outer, inner, same] if i else [outer, inner])
    return w.bytes()


@checked('wmf_rop2.wmf', 'WMF (hand-checked): the sixteen binary raster operations of a fill over coloured bands',
         'wmf2gd draws every binary raster operation as R2_COPYPEN')
def wmf_rop2():
    w, u = wmf_page(upi=96)
    bands = [COLOURS[i] for i in range(4)]
    w.select(w.null)
    for i, c in enumerate(bands):
        b = w.brush(BS_SOLID, c)
        w.select(b)
        w.rectangle(0, 20 + 60 * i, 385, 80 + 60 * i)
        w.select(w.white)
        w.delete(b)
    pen_colour = rgb(60, 200, 120)
    b = w.brush(BS_SOLID, pen_colour)
    w.select(b)
    checks = []
    for code in range(1, 17):
        w.set_rop2(code)
        x = 10 + 23 * (code - 1)
        w.rectangle(x, 10, x + 18, 270)
        for j, c in enumerate(bands):
            checks.append(pixel(x + 9, 50 + 60 * j, rop2(code, channels(pen_colour), channels(c))))
        checks.append(pixel(x + 9, 14, rop2(code, channels(pen_colour), WHITE)))
    w.set_rop2(R2_COPYPEN)
    checks.append(pixel(380, 50, channels(bands[0])))
    return w.bytes(), checks


@scene('wmf_window_org.wmf', 'WMF: SetWindowOrg and OffsetWindowOrg between figures')
def wmf_window_org():
    w, u = wmf_page(upi=96)
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(10, 10, 110, 80)
    w.offset_window_org(-130, 0)           # later shapes move right by 130
    w.round_rect(10, 10, 110, 80, 20, 20)
    w.set_window_org(-50, -150)
    b2 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b2)
    w.polygon([(250, 20), (320, 120), (180, 120)])
    w.offset_window_org(-100, 0)
    w.rectangle(10, 10, 60, 60)             # device (160, 160)-(210, 210)
    return w.bytes()


@checked('wmf_window_ext.wmf', 'WMF (hand-checked): SetWindowExt and ScaleWindowExt between figures, a negative extent (y up)',
         'wmf2gd keeps the first window extent for the whole file and draws nothing under a negative one')
def wmf_window_ext():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    red, green, blue, yellow = (channels(COLOURS[i]) for i in range(4))
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(10, 10, 110, 80)                # device (10, 10)-(110, 80)
    w.set_window_ext(768, 576)                  # twice the window: half the size
    b2 = w.brush(BS_SOLID, COLOURS[1])
    w.select(b2)
    w.rectangle(300, 20, 500, 120)              # device (150, 10)-(250, 60)
    w.scale_window_ext(1, 2, 1, 2)              # back to one unit a pixel
    b3 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b3)
    w.rectangle(300, 150, 360, 200)             # device (300, 150)-(360, 200)
    w.set_window_org(0, 288)
    w.set_window_ext(384, -288)                 # y up from the bottom edge
    b4 = w.brush(BS_SOLID, COLOURS[3])
    w.select(b4)
    w.rectangle(20, 20, 120, 80)                # device (20, 208)-(120, 268)
    checks = [pixel(60, 45, red), pixel(200, 35, green), pixel(245, 55, green), pixel(330, 175, blue),
              pixel(70, 238, yellow), pixel(25, 264, yellow), pixel(200, 100, WHITE), pixel(70, 120, WHITE),
              pixel(300, 270, WHITE), pixel(280, 40, WHITE)]
    return w.bytes(), checks


@checked('wmf_viewport.wmf', 'WMF (hand-checked): MM_ANISOTROPIC with SetViewportOrg/Ext, OffsetViewportOrg and ScaleViewportExt in picture pixels',
         'wmf2gd sizes the picture by what is drawn and draws a changed viewport elsewhere')
def wmf_viewport():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    w.set_map_mode(MM_ANISOTROPIC)
    w.set_window_org(0, 0)
    w.set_window_ext(1000, 1000)
    w.set_viewport_org(0, 0)
    w.set_viewport_ext(384, 288)            # the whole picture: 0.384 and 0.288 pixels a unit
    red, green, blue = (channels(COLOURS[i]) for i in range(3))
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(50, 50, 450, 450)           # (19, 14)-(173, 130)
    w.offset_viewport_org(192, 0)
    b2 = w.brush(BS_SOLID, COLOURS[1])
    w.select(b2)
    w.rectangle(50, 50, 450, 450)           # (211, 14)-(365, 130)
    w.scale_viewport_ext(1, 2, 1, 2)        # (192, 144)
    w.offset_viewport_org(-192, 144)        # origin (0, 144)
    b3 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b3)
    w.rectangle(100, 100, 900, 900)         # (19, 158)-(173, 274)
    checks = [pixel(96, 72, red), pixel(22, 17, red), pixel(170, 127, red), pixel(288, 72, green),
              pixel(362, 127, green), pixel(192, 72, WHITE), pixel(96, 216, blue), pixel(22, 161, blue),
              pixel(170, 271, blue), pixel(288, 216, WHITE), pixel(96, 144, WHITE)]
    return w.bytes(), checks


@checked('wmf_save_restore.wmf', 'WMF (hand-checked): SaveDC/RestoreDC of brushes, window origin and clipping, nested, restored two levels at once',
         'wmf2gd restores nothing when RestoreDC counts back more than one level')
def wmf_save_restore():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    red = w.brush(BS_SOLID, COLOURS[0])
    w.select(red)
    w.save_dc()
    green = w.brush(BS_SOLID, COLOURS[1])
    w.select(green)
    w.set_window_org(-200, 0)
    w.intersect_clip(0, 0, 60, 300)            # device (200, 0)-(260, 300)
    w.save_dc()
    w.set_window_org(-200, -150)
    w.rectangle(10, 10, 150, 100)              # device (210, 160)-(350, 250), clipped at 260
    w.restore_dc(-2)                           # red, origin 0, no clip
    w.rectangle(10, 10, 150, 100)
    w.rectangle(10, 160, 150, 250)
    r, g = channels(COLOURS[0]), channels(COLOURS[1])
    checks = [pixel(235, 200, g), pixel(300, 200, WHITE), pixel(230, 100, WHITE), pixel(80, 55, r),
              pixel(80, 205, r), pixel(140, 95, r)]
    return w.bytes(), checks


@checked('wmf_clip_rects.wmf', 'WMF (hand-checked): IntersectClipRect, ExcludeClipRect and OffsetClipRgn over filled shapes, the clip dropped by RestoreDC',
         'wmf2gd moves the clip region of OffsetClipRgn to the wrong place')
def wmf_clip_rects():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    b = w.brush(BS_SOLID, COLOURS[2])
    w.select(b)
    w.save_dc()
    w.intersect_clip(20, 20, 170, 130)
    w.exclude_clip(60, 50, 120, 100)
    w.polygon([(0, 0), (190, 10), (150, 150), (10, 140)])
    w.offset_clip(190, 130)                    # (210, 150)-(360, 260) less (250, 180)-(310, 230)
    b2 = w.brush(BS_SOLID, COLOURS[0])
    w.select(b2)
    w.rectangle(150, 100, 385, 289)
    w.restore_dc(-1)
    w.rectangle(20, 200, 100, 270)
    blue, red = channels(COLOURS[2]), channels(COLOURS[0])
    checks = [pixel(40, 40, blue), pixel(150, 100, blue), pixel(90, 75, WHITE), pixel(180, 60, WHITE),
              pixel(220, 160, red), pixel(355, 255, red), pixel(280, 205, WHITE), pixel(365, 200, WHITE),
              pixel(205, 200, WHITE), pixel(60, 235, blue)]
    return w.bytes(), checks


@checked('wmf_regions.wmf', 'WMF (hand-checked): CreateRegion with FillRegion, FrameRegion, PaintRegion, InvertRegion, SelectClipRegion',
         'wmf2gd frames regions in black, paints InvertRegion with the brush and ignores SelectClipRegion')
def wmf_regions():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    stripes = w.brush(BS_SOLID, COLOURS[3])
    w.select(stripes)
    w.rectangle(0, 200, 385, 289)
    r1 = w.region([(20, 20, 120, 60), (40, 60, 100, 120)])
    brush = w.brush(BS_SOLID, COLOURS[0])
    w.fill_region(r1, brush)
    r2 = w.region([(150, 20, 250, 120)])
    edge = w.brush(BS_SOLID, COLOURS[2])
    w.frame_region(r2, edge, 6, 4)
    r3 = w.region([(280, 20, 370, 120)])
    fill = w.brush(BS_SOLID, COLOURS[1])
    w.select(fill)
    w.paint_region(r3)
    r4 = w.region([(20, 180, 200, 260)])
    w.invert_region(r4)
    r5 = w.region([(240, 150, 300, 280), (300, 200, 370, 240)])
    w.select_clip_region(r5)
    blue = w.brush(BS_SOLID, COLOURS[4])
    w.select(blue)
    w.rectangle(220, 140, 380, 289)
    red, green, blue_, yellow, purple = (channels(COLOURS[i]) for i in range(5))
    inverted_yellow = tuple(255 - v for v in yellow)
    checks = [pixel(70, 40, red), pixel(70, 100, red), pixel(30, 100, WHITE), pixel(152, 70, blue_),
              pixel(200, 21, blue_), pixel(200, 70, WHITE), pixel(325, 70, green), pixel(100, 190, (0, 0, 0)),
              pixel(100, 240, inverted_yellow), pixel(270, 160, purple), pixel(330, 220, purple),
              pixel(330, 170, WHITE), pixel(330, 260, yellow), pixel(230, 260, yellow)]
    return w.bytes(), checks


@scene('wmf_text_fonts.wmf', 'WMF: TextOut in Arial, Times New Roman and Courier New, several sizes, bold, italic')
def wmf_text_fonts():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    y = 12
    for face, family in (('Arial', FF_SWISS), ('Times New Roman', FF_ROMAN), ('Courier New', FF_MODERN | FIXED_PITCH)):
        for size, weight, italic in ((14, FW_NORMAL, 0), (20, FW_BOLD, 0), (26, FW_NORMAL, 1)):
            f = w.font(-u(size), face, weight, italic, pitch_family=family)
            w.select(f)
            w.set_text_color(COLOURS[(y // 10) % 8])
            w.text_out(u(10), u(y), '%s %d Fox' % (face.split()[0], size))
            w.delete(f)
            y += size + 6
    return w.bytes()


@checked('wmf_text_align.wmf', 'WMF (hand-checked): ExtTextOut alignments (left/centre/right x top/baseline/bottom), clipping and opaque rectangles, underline and strike-out',
         'wmf2gd ignores horizontal text alignment, the clipping rectangle, an opaque rectangle in transparent mode, underline and strike-out')
def wmf_text_align():
    w, u = wmf_page(upi=96)
    ink = (0, 0, 0)
    f = w.font(-20, 'Arial')
    w.select(f)
    w.set_bk_mode(TRANSPARENT)
    checks = []

    def ink_in(box):
        return share(box, ink, 0.05, 1.0)

    def clear(box):
        return share(box, WHITE, 1.0, 1.0)
    for i, h in enumerate((TA_LEFT, TA_CENTER, TA_RIGHT)):
        for j, v in enumerate((TA_TOP, TA_BASELINE, TA_BOTTOM)):
            x, y = 70 + 120 * i, 30 + 40 * j
            w.set_text_align(h | v)
            w.ext_text_out(x, y, 'HHH')               # about 43 pixels wide, caps 14 high
            left = (x - 40, y - 18, x - 4, y + 18)
            right = (x + 4, y - 18, x + 40, y + 18)
            checks += [ink_in(right) if h != TA_RIGHT else clear(right), ink_in(left) if h != TA_LEFT else clear(left)]
            band = (x - 60, y - 2, x + 60, y + 2)
            above, below = (x - 60, y - 16, x + 60, y - 4), (x - 60, y + 4, x + 60, y + 16)
            if v == TA_TOP:
                checks += [clear(above), ink_in(below)]
            elif v == TA_BASELINE:
                checks += [ink_in(above), clear(below), ink_in((x - 60, y - 4, x + 60, y))]
            else:
                checks += [ink_in(above), clear(below)]
            del band
    w.set_text_align(TA_LEFT | TA_TOP)
    bk = (255, 230, 150)
    w.set_bk_color(rgb(*bk))
    w.set_bk_mode(OPAQUE)
    w.ext_text_out(20, 160, 'Clipped text here', ETO_CLIPPED, (20, 160, 90, 175))
    checks += [clear((92, 150, 200, 190)), clear((20, 176, 90, 190)), ink_in((20, 160, 90, 175))]
    w.set_bk_mode(TRANSPARENT)
    w.ext_text_out(220, 160, 'Both', ETO_OPAQUE | ETO_CLIPPED, (215, 155, 360, 185), [30] * 4)
    checks += [pixel(355, 180, bk), pixel(217, 157, bk), pixel(365, 180, WHITE)]
    # Underline below the baseline and strike-out through the middle run across the gaps of wide advances.
    lined = w.font(-30, 'Arial', underline=1, strike=1)
    w.select(lined)
    w.set_text_align(TA_LEFT | TA_BASELINE)
    w.ext_text_out(20, 250, 'IIII', 0, None, [50] * 4)
    for k in range(3):
        gap = 20 + 50 * k + 20
        checks += [ink_in((gap, 251, gap + 20, 258)), ink_in((gap, 236, gap + 20, 248)),
                   clear((gap, 220, gap + 20, 232))]
    return w.bytes(), checks


@scene('wmf_text_escapement.wmf', 'WMF: text at escapements 0, 45, 90, 180, 270 and 30 degrees')
def wmf_text_escapement():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    for i, (angle, x, y) in enumerate(((0, 20, 30), (450, 40, 200), (900, 180, 260), (1800, 360, 250), (2700, 360, 40),
                                       (300, 150, 150))):
        f = w.font(-u(18), 'Arial' if i % 2 else 'Times New Roman', escapement=angle)
        w.select(f)
        w.set_text_color(COLOURS[i])
        w.text_out(u(x), u(y), 'Turned %d' % (angle // 10))
        w.delete(f)
    return w.bytes()


@scene('wmf_dib_blits.wmf', 'WMF: DIBBitBlt, DIBStretchBlt and StretchDIB of 24-bit and 8-bit pictures, whole and in part')
def wmf_dib_blits():
    w, u = wmf_page(upi=96)
    h24, b24 = picture(24, 96, 72)
    h8, b8 = picture(8, 96, 72)
    w.dib_bit_blt(10, 10, 96, 72, 0, 0, SRCCOPY, h24, b24)
    w.dib_bit_blt(130, 10, 60, 40, 20, 16, SRCCOPY, h24, b24)           # a part, from (20, 16)
    w.dib_stretch_blt(220, 10, 96, 72, 0, 0, 96, 72, SRCCOPY, h8, b8)
    w.stretch_dib(10, 130, 96, 72, 0, 0, 96, 72, SRCCOPY, h8, b8)
    w.stretch_dib(200, 130, 48, 48, 24, 12, 48, 48, SRCCOPY, h24, b24)  # a part, from (24, 12)
    return w.bytes()


@scene('wmf_dib_depths.wmf', 'WMF: StretchDIB of bottom-up pictures at 1, 4, 8, 16 and 24 bits a pixel')
def wmf_dib_depths():
    w, u = wmf_page(upi=96)
    for i, bits in enumerate((1, 4, 8, 16, 24)):
        h, b = picture(bits, 96, 72)
        x, y = 10 + 125 * (i % 3), 15 + 135 * (i // 3)
        w.stretch_dib(x, y, 96, 72, 0, 0, 96, 72, SRCCOPY, h, b)
    return w.bytes()

@checked('wmf_dib_topdown.wmf', 'WMF (hand-checked): StretchDIB and DIBStretchBlt of top-down and 32-bit pictures',
         'wmf2gd leaves out top-down and 32-bit pictures')
def wmf_dib_topdown():
    w, u = wmf_page(upi=96)
    checks = []
    for i, (bits, top_down) in enumerate(((24, True), (32, False), (32, True), (8, True))):
        h, b = quadrants(bits, top_down=top_down) if bits != 8 else \
            dib(16, 16, 8, lambda x, y: (y // 8) * 2 + x // 8, palette=list(QUADRANTS), top_down=True)
        x, y = 20 + 180 * (i % 2), 20 + 140 * (i // 2)
        if i % 2:
            w.dib_stretch_blt(x, y, 160, 120, 0, 0, 16, 16, SRCCOPY, h, b)
        else:
            w.stretch_dib(x, y, 160, 120, 0, 0, 16, 16, SRCCOPY, h, b)
        checks += quadrant_checks(x, y, 160, 120)
    return w.bytes(), checks


@scene('wmf_set_dib_to_dev.wmf', 'WMF: SetDIBitsToDevice of 24, 4 and 1-bit pictures, whole and from a source offset')
def wmf_set_dib_to_dev():
    w, u = wmf_page(upi=96)
    h, b = picture(24, 64, 48)
    w.set_dib_to_dev(20, 20, 64, 48, 0, 0, 0, 48, h, b)
    w.set_dib_to_dev(120, 20, 40, 30, 10, 10, 0, 48, h, b)
    h4, b4 = picture(4, 64, 48)
    w.set_dib_to_dev(200, 120, 64, 48, 0, 0, 0, 48, h4, b4)
    h1, b1 = picture(1, 64, 48)
    w.set_dib_to_dev(40, 180, 64, 48, 0, 0, 0, 48, h1, b1)
    return w.bytes()


@checked('wmf_dib_rops.wmf', 'WMF (hand-checked): StretchDIB and DIBBitBlt raster operations (AND, OR, XOR, inverted source, erase, merge) and PatBlt',
         'wmf2gd copies every source as SRCCOPY and draws every PatBlt as PATCOPY')
def wmf_dib_rops():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    bands = [COLOURS[i] for i in range(3)]
    for i, c in enumerate(bands):
        b = w.brush(BS_SOLID, c)
        w.select(b)
        w.rectangle(0, 96 * i, 385, 96 * i + 96)
        w.select(w.white)
        w.delete(b)
    source = (40, 170, 230)
    h, b = dib(16, 16, 24, lambda x, y: source)
    pattern = rgb(255, 200, 0)
    pat = w.brush(BS_SOLID, pattern)
    w.select(pat)
    rops = (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
            PATINVERT, DSTINVERT)
    checks = []
    for i, rop in enumerate(rops):
        x, y = 8 + 94 * (i % 4), 8 + 96 * (i // 4)
        if rop in (PATCOPY, PATINVERT, DSTINVERT):
            w.pat_blt(x, y, 80, 80, rop)
        elif i % 2:
            w.dib_bit_blt(x, y, 16, 16, 0, 0, rop, h, b)
            w.stretch_dib(x, y + 30, 80, 50, 0, 0, 16, 16, rop, h, b)
            checks.append(pixel(x + 8, y + 8, rop3(rop, channels(pattern), source, channels(bands[i // 4]))))
        else:
            w.stretch_dib(x, y, 80, 80, 0, 0, 16, 16, rop, h, b)
        checks.append(pixel(x + 40, y + 60, rop3(rop, channels(pattern), source, channels(bands[i // 4]))))
    checks.append(pixel(380, 40, channels(bands[0])))
    return w.bytes(), checks


@checked('wmf_pattern_brush.wmf', 'WMF (hand-checked): DIB pattern brushes (1-bit and 24-bit) tiled from the device origin over three shapes',
         'wmf2gd starts the pattern elsewhere than the device origin')
def wmf_pattern_brush():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    red, sand, blue = (200, 30, 30), (240, 220, 100), (30, 60, 200)

    def stripes(x, y):
        return 1 if (x + 2 * y) % 8 < 3 else 0

    def checker(x, y):
        return blue if (x // 4 + y // 4) % 2 else sand
    h1, b1 = dib(8, 8, 1, stripes, palette=[WHITE, red])
    p1 = w.dib_brush(h1, b1)
    w.select(p1)
    w.rectangle(20, 20, 180, 140)
    h24, b24 = dib(8, 8, 24, checker)
    p2 = w.dib_brush(h24, b24)
    w.select(p2)
    w.round_rect(200, 20, 370, 140, 50, 50)
    w.polygon([(20, 270), (190, 160), (360, 270)])
    # Pattern pixel (x mod 8, y mod 8), rows counted from the pattern's top, at device (x, y).
    checks = [pixel(x, y, red if stripes(x % 8, y % 8) else WHITE, 0) for x, y in
              ((40, 40), (41, 40), (42, 40), (43, 40), (44, 41), (45, 41), (100, 77), (101, 77), (102, 77))]
    checks += [pixel(x, y, checker(x % 8, y % 8), 0) for x, y in
               ((250, 60), (251, 60), (252, 60), (253, 60), (254, 60), (250, 64), (254, 64), (190, 250), (194, 250))]
    return w.bytes(), checks


@checked('wmf_hatch_transparent.wmf', 'WMF (hand-checked): hatched brushes in transparent background mode leave the page between their lines',
         'wmf2gd paints the background colour between hatch lines in transparent mode too')
def wmf_hatch_transparent():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    bk = (0, 0, 0)
    w.set_bk_color(rgb(*bk))
    w.set_bk_mode(TRANSPARENT)
    checks = []
    for i in range(6):
        b = w.brush(BS_HATCHED, COLOURS[i], i)
        w.select(b)
        x = 15 + 60 * i
        w.rectangle(x, 20, x + 56, 270)
        box = (x + 4, 28, x + 52, 260)
        checks += [share(box, bk, 0.0, 0.0), share(box, WHITE, 0.70, 0.92), share(box, channels(COLOURS[i]), 0.08, 0.30)]
        w.select(w.white)
        w.delete(b)
    return w.bytes(), checks


@checked('wmf_fills.wmf', 'WMF (hand-checked): filled ellipse and chord, polygons and PolyPolygon under the winding fill mode, an inside-frame pen',
         'wmf2gd draws ellipses and chords without their fill, fills every polygon by the alternate rule and centres inside-frame pens on the outline')
def wmf_fills():
    w, u = wmf_page(upi=96)
    red, green, blue = (channels(COLOURS[i]) for i in range(3))
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.ellipse(20, 20, 180, 140)
    b2 = w.brush(BS_SOLID, COLOURS[1])
    w.select(b2)
    w.chord(200, 20, 360, 140, 360, 80, 200, 80)      # the upper half
    b3 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b3)
    w.set_poly_fill_mode(WINDING)
    w.polygon(star(90, 215, 65))
    outer = [(210, 160), (300, 160), (300, 275), (210, 275)]
    inner = [(235, 190), (275, 190), (275, 245), (235, 245)]   # the same way round: no hole
    w.poly_polygon([outer, inner])
    checks = [pixel(100, 80, red), pixel(30, 30, WHITE), pixel(280, 50, green), pixel(280, 110, WHITE),
              pixel(90, 215, blue), pixel(90, 160, blue), pixel(255, 215, blue), pixel(215, 165, blue),
              pixel(288, 215, blue)]
    # An inside-frame pen keeps the whole width of its line inside the figure.
    frame = w.pen(PS_INSIDEFRAME, 10, COLOURS[4])
    w.select(frame)
    w.select(w.white)
    w.rectangle(310, 160, 380, 280)
    purple = channels(COLOURS[4])
    checks += [pixel(312, 220, purple), pixel(377, 220, purple), pixel(345, 162, purple), pixel(307, 220, WHITE),
               pixel(345, 220, WHITE)]
    return w.bytes(), checks


@checked('wmf_palette.wmf', 'WMF (hand-checked): CreatePalette, SelectPalette, RealizePalette, SetPaletteEntries and palette-index colours',
         'wmf2gd draws palette-index colours black')
def wmf_palette():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    entries = [(200, 30, 30), (30, 150, 40), (30, 60, 200), (230, 180, 20)]
    pal = w.palette(entries)
    w.select_palette(pal)
    w.realize_palette()
    for i in range(4):
        b = w.brush(BS_SOLID, 0x01000000 | i)
        w.select(b)
        w.rectangle(20 + 90 * i, 20, 100 + 90 * i, 130)
        w.select(w.white)
        w.delete(b)
    w.set_pal_entries(0, [(150, 40, 160)])
    b = w.brush(BS_SOLID, 0x01000000)
    w.select(b)
    w.rectangle(20, 160, 360, 260)
    checks = [pixel(60 + 90 * i, 75, entries[i]) for i in range(4)] + [pixel(190, 210, (150, 40, 160)),
                                                                       pixel(190, 145, WHITE)]
    return w.bytes(), checks


@scene('wmf_bk_text.wmf', 'WMF: background modes and colours under text, dashed pens and hatches; text colours; character extra')
def wmf_bk_text():
    w, u = wmf_page()
    f = w.font(-u(22), 'Arial', FW_BOLD)
    w.select(f)
    for i, (mode, bk, fg) in enumerate(((OPAQUE, rgb(255, 255, 0), rgb(0, 0, 160)), (TRANSPARENT, rgb(255, 0, 0), rgb(160, 0, 0)),
                                         (OPAQUE, rgb(180, 230, 255), rgb(0, 100, 0)))):
        w.set_bk_mode(mode)
        w.set_bk_color(bk)
        w.set_text_color(fg)
        w.text_out(u(20), u(20 + 40 * i), 'Background %d' % i)
    w.set_text_char_extra(u(4))
    w.text_out(u(20), u(140), 'Extra')
    w.set_text_char_extra(0)
    w.set_bk_mode(OPAQUE)
    w.set_bk_color(rgb(255, 220, 220))
    p = w.pen(PS_DASH, 0, rgb(0, 0, 200))
    w.select(p)
    w.move_to(u(20), u(190))
    w.line_to(u(360), u(190))
    hb = w.brush(BS_HATCHED, rgb(0, 120, 0), HS_DIAGCROSS)
    w.select(hb)
    w.rectangle(u(20), u(205), u(360), u(270))
    return w.bytes()


@scene('wmf_escape_unknown.wmf', 'WMF: escapes, an unknown record and object slots reused after deletion; drawing goes on')
def wmf_escape_unknown():
    w, u = wmf_page(upi=96)
    w.escape(15, b'comment text')          # MFCOMMENT
    w.rec(0x0999, b'\1\2\3\4')              # not a record kind
    for i in range(6):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.rectangle(20 + 58 * i, 30, 70 + 58 * i, 250)
        w.select(w.white)
        w.delete(b)
    return w.bytes()
