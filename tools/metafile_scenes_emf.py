"""Corpus files in EMF form (registered on import)."""
import math

from metafile_corpus import *  # noqa: F401,F403


# --- EMF scenes --------------------------------------------------------------------------

def mapping_scene(mode, units_per_inch):
    """Y grows upwards in the metric modes: the drawing sits at negative y."""
    def make():
        e = emf_page()
        e.set_map_mode(mode)
        s = units_per_inch  # an inch
        pen = e.pen(PS_SOLID, s // 48, rgb(0, 0, 0))
        e.select(pen)
        emf_figures(e, s // 4, -s // 4, s, -1)
        emf_figures(e, s, -s * 2, s * 3 // 4, -1)
        return e.bytes()
    return make


for _mode, _name, _upi in ((MM_LOMETRIC, 'lometric', 254), (MM_HIMETRIC, 'himetric', 2540),
                           (MM_LOENGLISH, 'loenglish', 100), (MM_HIENGLISH, 'hienglish', 1000),
                           (MM_TWIPS, 'twips', 1440)):
    scene('emf_map_%s.emf' % _name, 'EMF: mapping mode %s (y up), an inch and three quarters of an inch' %
          _name.upper())(mapping_scene(_mode, _upi))


# Files whose meaning an outside renderer does not follow carry fixed pictures: blocks of
# one colour on the page, checked pixel by pixel against where the formats put them.

@checked('emf_map_origins.emf', 'EMF (hand-checked): window and viewport origins under MM_TEXT and MM_LOMETRIC',
         'emf2svg-conv leaves out window and viewport origins under MM_TEXT and the metric modes')
def emf_map_origins():
    e = emf_page()
    e.stock(NULL_PEN)
    red = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(red)
    e.set_window_org(-40, -30)             # logical (0, 0) lands at device (40, 30)
    e.rectangle(0, 0, 100, 80)             # device (40, 30)-(140, 110)
    e.set_window_org(0, 0)
    e.set_viewport_org(300, 200)
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.rectangle(0, 0, 120, 100)            # device (300, 200)-(420, 300)
    e.set_map_mode(MM_LOMETRIC)            # 254 units an inch, y up
    e.set_viewport_org(0, 360)
    e.set_window_org(-254, 0)              # an inch to the right
    blue = e.brush(BS_SOLID, rgb(30, 60, 200))
    e.select(blue)
    e.rectangle(0, 254, 254, 127)          # device (96, 264)-(192, 312)
    checks = [pixel(90, 70, (200, 30, 30)), pixel(45, 35, (200, 30, 30)), pixel(20, 15, WHITE),
              pixel(360, 250, (30, 150, 40)), pixel(415, 295, (30, 150, 40)), pixel(60, 50, (200, 30, 30)),
              pixel(144, 288, (30, 60, 200)), pixel(100, 268, (30, 60, 200)), pixel(144, 330, WHITE),
              pixel(200, 150, WHITE), pixel(10, 10, WHITE)]
    return e.bytes(), checks


@checked('emf_map_scale.emf', 'EMF (hand-checked): ScaleViewportExtEx and ScaleWindowExtEx under MM_ANISOTROPIC',
         'emf2svg-conv ignores ScaleViewportExtEx and ScaleWindowExtEx')
def emf_map_scale():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(100, 100)
    e.set_viewport_ext(100, 100)
    e.scale_viewport_ext(2, 1, 3, 2)        # viewport (200, 150): x * 2, y * 1.5
    red = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(red)
    e.rectangle(10, 10, 60, 50)            # device (20, 15)-(120, 75)
    e.scale_window_ext(1, 2, 1, 4)          # window (50, 25): x * 4, y * 6
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.rectangle(40, 25, 100, 50)           # device (160, 150)-(400, 300)
    checks = [pixel(70, 45, (200, 30, 30)), pixel(115, 70, (200, 30, 30)), pixel(15, 12, WHITE),
              pixel(280, 225, (30, 150, 40)), pixel(395, 295, (30, 150, 40)), pixel(150, 140, WHITE),
              pixel(90, 100, WHITE)]
    return e.bytes(), checks


@scene('emf_map_isotropic.emf', 'EMF: MM_ISOTROPIC, extents of different aspect (the taller viewport side shrinks to keep it)')
def emf_map_isotropic():
    e = emf_page()
    e.set_map_mode(MM_ISOTROPIC)
    e.set_window_ext(1000, 1000)
    e.set_viewport_ext(360, 480)
    e.set_viewport_org(240, 180)
    pen = e.pen(PS_SOLID, 10, 0)
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[2])
    e.select(b)
    e.ellipse(-450, -450, 450, 450)
    b2 = e.brush(BS_SOLID, COLOURS[3])
    e.select(b2)
    e.polygon([(0, -400), (300, 300), (-300, 300)])
    return e.bytes()


@checked('emf_map_flip.emf', 'EMF (hand-checked): negative viewport extents (y up) under MM_ANISOTROPIC and MM_ISOTROPIC, the isotropic scale taken from the narrower side',
         'emf2svg-conv draws nothing under a negative viewport extent')
def emf_map_flip():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(100, 100)
    e.set_viewport_ext(240, -180)          # y up from the viewport origin
    e.set_viewport_org(0, 180)
    red = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(red)
    e.rectangle(10, 10, 50, 90)            # device (24, 18)-(120, 162)
    e.set_map_mode(MM_ISOTROPIC)
    e.set_window_ext(1000, 1000)
    e.set_viewport_ext(480, -360)          # 0.36 both ways, y up
    e.set_viewport_org(240, 360)
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.polygon([(200, 100), (600, 100), (400, 450)])   # apex up at device (384, 198)
    checks = [pixel(72, 90, (200, 30, 30)), pixel(30, 25, (200, 30, 30)), pixel(115, 155, (200, 30, 30)),
              pixel(72, 250, WHITE), pixel(72, 170, WHITE), pixel(384, 300, (30, 150, 40)),
              pixel(384, 215, (30, 150, 40)), pixel(440, 318, (30, 150, 40)), pixel(384, 180, WHITE),
              pixel(470, 318, WHITE), pixel(300, 200, WHITE)]
    return e.bytes(), checks


@scene('emf_map_anisotropic.emf', 'EMF: MM_ANISOTROPIC with window and viewport extents and origins changed between figures')
def emf_map_anisotropic():
    e = emf_page()
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(100, 100)
    e.set_viewport_ext(240, 120)
    emf_figures(e, 5, 5, 60)
    e.set_viewport_ext(120, 180)
    e.set_viewport_org(0, 130)
    emf_figures(e, 5, 5, 60)
    e.set_window_ext(200, 200)
    e.set_window_org(-20, 0)
    e.set_viewport_org(300, 0)
    emf_figures(e, 5, 5, 40)
    return e.bytes()


@scene('emf_world_transform.emf', 'EMF: SetWorldTransform and ModifyWorldTransform (identity, left, right multiply, set): rotation, shear, scale')
def emf_world_transform():
    e = emf_page()
    pen = e.pen(PS_SOLID, 2, 0)
    e.select(pen)
    a = math.radians(30)
    e.set_world_transform((math.cos(a), math.sin(a), -math.sin(a), math.cos(a), 120.0, 30.0))
    emf_figures(e, 0, 0, 50)
    e.modify_world_transform(IDENTITY, MWT_IDENTITY)
    e.modify_world_transform((1.0, 0.0, 0.5, 1.0, 0.0, 0.0), MWT_SET)          # shear
    e.modify_world_transform((1.0, 0.0, 0.0, 1.0, 200.0, 150.0), MWT_RIGHTMULTIPLY)
    emf_figures(e, 0, 0, 40)
    e.modify_world_transform((0.5, 0.0, 0.0, 1.5, 0.0, 0.0), MWT_LEFTMULTIPLY)
    b = e.brush(BS_SOLID, COLOURS[4])
    e.select(b)
    e.rectangle(-300, 40, -100, 100)
    e.modify_world_transform(IDENTITY, MWT_IDENTITY)
    e.ellipse(400, 280, 470, 350)
    return e.bytes()


@checked('emf_save_restore.emf', 'EMF (hand-checked): SaveDC/RestoreDC nested over brushes, world transform, window origin and clipping',
         'emf2svg-conv keeps the clipping of a restored context')
def emf_save_restore():
    e = emf_page()
    e.stock(NULL_PEN)
    red = e.brush(BS_SOLID, COLOURS[0])
    e.select(red)
    e.save_dc()
    green = e.brush(BS_SOLID, COLOURS[1])
    e.select(green)
    e.intersect_clip(240, 0, 340, 360)
    e.set_world_transform((1.0, 0.0, 0.0, 1.0, 0.0, 40.0))
    e.save_dc()
    e.set_window_org(-100, 0)
    e.rectangle(150, 0, 400, 100)              # device (250, 40)-(500, 140), clipped at 340
    e.restore_dc(-1)
    e.rectangle(200, 200, 400, 300)            # device (200, 240)-(400, 340), clipped to 240-340
    e.restore_dc(-1)
    e.rectangle(20, 20, 120, 120)
    e.rectangle(360, 200, 460, 300)
    r, g = channels(COLOURS[0]), channels(COLOURS[1])
    checks = [pixel(300, 90, g), pixel(255, 45, g), pixel(245, 90, WHITE), pixel(400, 90, WHITE),
              pixel(300, 300, g), pixel(300, 220, WHITE), pixel(220, 300, WHITE), pixel(70, 70, r),
              pixel(410, 250, r), pixel(200, 170, WHITE)]
    return e.bytes(), checks


@scene('emf_pens.emf', 'EMF: CreatePen styles of one pixel, null pen, deleted and reselected pens, stock pens')
def emf_pens():
    e = emf_page()
    for i, style in enumerate((PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME)):
        p = e.pen(style, 1, COLOURS[i])
        e.select(p)
        e.move_to(20, 20 + 16 * i)
        e.line_to(460, 20 + 16 * i)
        e.stock(BLACK_PEN)
        e.delete(p)
    for i in range(4):
        p = e.pen(PS_SOLID, 0, COLOURS[i])
        e.select(p)
        e.polyline([(20 + 60 * i, 150), (60 + 60 * i, 330), (70 + 60 * i, 160)])
    e.stock(BLACK_PEN)
    e.stock(LTGRAY_BRUSH)
    e.rectangle(300, 150, 460, 230)
    e.stock(WHITE_PEN)
    e.stock(GRAY_BRUSH)
    e.rectangle(300, 250, 460, 340)
    return e.bytes()


@checked('emf_pen_widths.emf', 'EMF (hand-checked): CreatePen widths 1 to 12 and an inside-frame pen',
         'emf2svg-conv draws every CreatePen pen one pixel wide')
def emf_pen_widths():
    e = emf_page()
    checks = []
    for i, width in enumerate((1, 2, 4, 7, 12)):
        x = 40 + 60 * i
        p = e.pen(PS_SOLID, width, COLOURS[i])
        e.select(p)
        e.move_to(x, 30)
        e.line_to(x, 330)
        c = channels(COLOURS[i])
        checks += [pixel(x, 180, c), pixel(x - width // 2 - 3, 180, WHITE), pixel(x + width // 2 + 3, 180, WHITE)]
        if width >= 4:
            checks += [pixel(x - width // 2 + 1, 180, c), pixel(x + (width - 1) // 2 - 1, 180, c)]
        e.stock(BLACK_PEN)
        e.delete(p)
    frame = e.pen(PS_INSIDEFRAME, 14, COLOURS[4])
    e.select(frame)
    e.stock(LTGRAY_BRUSH)
    e.rectangle(340, 40, 460, 160)
    purple = channels(COLOURS[4])
    checks += [pixel(343, 100, purple), pixel(452, 100, purple), pixel(400, 43, purple), pixel(336, 100, WHITE),
               pixel(400, 100, (192, 192, 192)), pixel(400, 36, WHITE)]
    return e.bytes(), checks


@scene('emf_ext_pens.emf', 'EMF: ExtCreatePen geometric pens: round, square and flat caps with round, bevel and miter joins, miter limit')
def emf_ext_pens():
    e = emf_page()
    caps = (PS_ENDCAP_ROUND, PS_ENDCAP_SQUARE, PS_ENDCAP_FLAT)
    joins = (PS_JOIN_ROUND, PS_JOIN_BEVEL, PS_JOIN_MITER)
    e.set_miter_limit(10)
    for i, cap in enumerate(caps):
        for j, join in enumerate(joins):
            p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | cap | join, 14, COLOURS[(3 * i + j) % 8])
            e.select(p)
            x, y = 30 + 150 * j, 30 + 105 * i
            e.polyline([(x, y + 70), (x + 50, y), (x + 100, y + 70)])
            e.stock(BLACK_PEN)
            e.delete(p)
    return e.bytes()


@checked('emf_hatch_brushes.emf', 'EMF (hand-checked): the six hatched brushes (opaque and transparent), a DIB pattern brush and a monochrome pattern brush',
         'emf2svg-conv fills hatched and pattern brushes with one solid colour')
def emf_hatch_brushes():
    e = emf_page()
    e.stock(NULL_PEN)
    bk = (0, 0, 0)
    e.set_bk_color(rgb(*bk))
    checks = []
    for row, mode in enumerate((OPAQUE, TRANSPARENT)):
        e.set_bk_mode(mode)
        for i in range(6):
            b = e.brush(BS_HATCHED, COLOURS[i], i)
            e.select(b)
            x, y = 10 + 77 * i, 10 + 110 * row
            e.rectangle(x, y, x + 70, y + 100)
            e.stock(WHITE_BRUSH)
            e.delete(b)
            box = (x + 3, y + 6, x + 67, y + 94)    # 64 x 88: whole 8 x 8 cells
            c = channels(COLOURS[i])
            checks.append(share(box, c, 0.10, 0.28))
            checks.append(share(box, bk if mode == OPAQUE else WHITE, 0.72, 0.90))
            if i == HS_HORIZONTAL:
                checks.append(share((x + 10, y + 6, x + 11, y + 94), c, 0.10, 0.15))
            if i == HS_VERTICAL:
                checks.append(share((x + 3, y + 50, x + 67, y + 51), c, 0.10, 0.15))
    e.set_bk_mode(OPAQUE)
    hp, bp = dib(8, 8, 24, lambda x, y: (220, 60, 60) if (x + y) % 8 < 4 else (250, 250, 250))
    pb = e.dib_brush(hp, bp)
    e.select(pb)
    e.rectangle(10, 230, 230, 350)
    checks += [share((18, 238, 218, 342), (220, 60, 60), 0.45, 0.55)]
    hm, bm = dib(8, 8, 1, lambda x, y: 1 if x % 4 == 0 or y % 4 == 0 else 0, palette=[(0, 0, 0), (255, 255, 255)])
    mb = e.dib_brush(hm, bm, mono=True)
    text, back = (20, 20, 160), (255, 200, 60)
    e.set_text_color(rgb(*text))
    e.set_bk_color(rgb(*back))
    e.select(mb)
    e.rectangle(250, 230, 470, 350)
    # Bits of 0 take the text colour, bits of 1 the background colour.
    checks += [share((258, 238, 458, 342), back, 0.40, 0.48), share((258, 238, 458, 342), text, 0.52, 0.60)]
    return e.bytes(), checks


@checked('emf_rop2.emf', 'EMF (hand-checked): the sixteen binary raster operations of fills and of a wide pen over coloured bands',
         'emf2svg-conv draws every binary raster operation as R2_COPYPEN')
def emf_rop2():
    e = emf_page()
    e.stock(NULL_PEN)
    bands = [COLOURS[i] for i in range(4)]
    for i, c in enumerate(bands):
        b = e.brush(BS_SOLID, c)
        e.select(b)
        e.rectangle(0, 10 + 45 * i, 481, 55 + 45 * i)
    fill = rgb(60, 200, 120)
    g = e.brush(BS_SOLID, fill)
    e.select(g)
    pen = rgb(250, 120, 200)
    p = e.pen(PS_SOLID, 9, pen)
    checks = []
    for code in range(1, 17):
        e.set_rop2(code)
        x = 10 + 29 * (code - 1)
        e.stock(NULL_PEN)
        e.rectangle(x, 5, x + 23, 195)
        e.select(p)
        e.move_to(x + 11, 230)
        e.line_to(x + 11, 340)
        for j, c in enumerate(bands):
            checks.append(pixel(x + 11, 32 + 45 * j, rop2(code, channels(fill), channels(c))))
        checks.append(pixel(x + 11, 285, rop2(code, channels(pen), WHITE)))
    e.set_rop2(R2_COPYPEN)
    return e.bytes(), checks


@checked('emf_fill_modes.emf', 'EMF (hand-checked): alternate and winding fill of a star polygon, a PolyPolygon and a path',
         'emf2svg-conv fills polygons, poly-polygons and paths by the non-zero rule whatever the fill mode')
def emf_fill_modes():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[4])
    e.select(b)
    purple = channels(COLOURS[4])
    checks = []
    for i, mode in enumerate((ALTERNATE, WINDING)):
        e.set_poly_fill_mode(mode)
        cx = 80 + 160 * i
        e.polygon(star(cx, 90, 70))
        filled_middle = purple if mode == WINDING else WHITE
        checks += [pixel(cx, 90, filled_middle), pixel(cx, 35, purple), pixel(cx + 50, 73, purple)]
        outer = [(cx - 70, 190), (cx + 70, 190), (cx + 70, 340), (cx - 70, 340)]
        inner = [(cx - 35, 225), (cx + 35, 225), (cx + 35, 305), (cx - 35, 305)]
        e.poly_polygon([outer, inner])
        checks += [pixel(cx, 265, filled_middle), pixel(cx - 55, 265, purple)]
    e.set_poly_fill_mode(ALTERNATE)
    e.begin_path()
    path_polygon(e, star(410, 90, 60))
    e.end_path()
    e.fill_path()
    checks += [pixel(410, 90, WHITE), pixel(410, 40, purple)]
    e.set_poly_fill_mode(WINDING)
    e.begin_path()
    path_polygon(e, star(410, 260, 60))
    e.end_path()
    e.fill_path()
    checks += [pixel(410, 260, purple), pixel(410, 210, purple)]
    return e.bytes(), checks


@scene('emf_shapes.emf', 'EMF: Rectangle, RoundRect, Ellipse, Polygon, Polyline, PolyPolygon, PolyPolyline, PolylineTo, SetPixelV')
def emf_shapes():
    e = emf_page()
    pen = e.pen(PS_SOLID, 1, 0)
    e.select(pen)
    emf_figures(e, 20, 20, 90)
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.round_rect(330, 20, 460, 110, 40, 30)
    # The inner hexagon runs the other way round: a hole by either fill rule.
    e.poly_polygon([regular(80, 200, 60, 6), regular(80, 200, 30, 6)[::-1], regular(200, 200, 50, 3)])
    e.poly_polyline([[(280, 140), (460, 140), (370, 240)], [(280, 250), (460, 250)], [(280, 270), (300, 340), (320, 270)]])
    e.move_to(20, 340)
    e.polyline_to([(80, 280), (140, 340), (200, 280)])
    e.line_to(240, 340)
    for i in range(30):
        e.set_pixel(250 + 5 * i, 350, COLOURS[i % 6])
    return e.bytes()


@scene('emf_shapes16.emf', 'EMF: the 16-bit forms: Polygon16, Polyline16, PolyBezier16, PolyBezierTo16, PolylineTo16, PolyPolyline16, PolyPolygon16')
def emf_shapes16():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, COLOURS[7])
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[0])
    e.select(b)
    e.polygon([(20, 100), (70, 10), (120, 100)], short=True)
    e.polyline([(140, 100), (170, 10), (200, 100), (230, 10)], short=True)
    e.polybezier([(250, 100), (280, 0), (330, 150), (360, 20)], short=True)
    e.move_to(380, 100)
    e.polybezier_to([(400, 0), (440, 150), (460, 20)], short=True)
    e.move_to(20, 130)
    e.polyline_to([(60, 200), (100, 130), (140, 200)], short=True)
    e.poly_polyline([[(160, 130), (220, 200)], [(160, 200), (220, 130)]], short=True)
    b2 = e.brush(BS_SOLID, COLOURS[2])
    e.select(b2)
    e.poly_polygon([regular(300, 170, 40, 5), regular(400, 170, 40, 4, 0.3)], short=True)
    e.polygon(regular(240, 290, 60, 8), short=True)
    return e.bytes()


@scene('emf_arcs.emf', 'EMF: Arc, Chord and Pie counter-clockwise and clockwise (SetArcDirection)')
def emf_arcs():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, 0)
    e.select(pen)
    for row, direction in enumerate((AD_COUNTERCLOCKWISE, AD_CLOCKWISE)):
        e.set_arc_direction(direction)
        y = 20 + 170 * row
        b = e.brush(BS_SOLID, COLOURS[row])
        e.select(b)
        e.arc(10, y, 150, y + 140, 150, y, 10, y + 140)
        e.chord(170, y, 310, y + 140, 310, y + 70, 170, y)
        e.pie(330, y, 470, y + 140, 470, y + 30, 330, y + 30)
    return e.bytes()


@checked('emf_arcto_anglearc.emf', 'EMF (hand-checked): ArcTo and AngleArc joined to the current position and moving it',
         'emf2svg-conv neither joins ArcTo and AngleArc to the current position nor moves it')
def emf_arcto_anglearc():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, 0)
    e.select(pen)
    ink = (0, 0, 0)
    e.move_to(40, 100)
    e.arc_to(100, 40, 220, 160, 260, 100, 40, 100)   # the line to (220, 100), the upper half to (100, 100)
    e.line_to(160, 180)
    e.move_to(260, 300)
    e.angle_arc(360, 250, 50, 0.0, 270.0)             # the line to (410, 250), three quarters to (360, 300)
    e.line_to(460, 340)

    def ink_near(x, y):
        return share((x - 3, y - 3, x + 4, y + 4), ink, 0.08, 1.0)

    def blank(x, y):
        return share((x - 4, y - 4, x + 5, y + 5), WHITE, 1.0, 1.0)
    checks = [ink_near(60, 100), ink_near(200, 100), ink_near(160, 40), ink_near(130, 140), blank(160, 160),
              blank(100, 140), ink_near(335, 275), ink_near(360, 200), ink_near(310, 250), ink_near(410, 320),
              blank(395, 285), blank(340, 240)]
    return e.bytes(), checks


@scene('emf_beziers.emf', 'EMF: PolyBezier, PolyBezierTo and PolylineTo from the current position')
def emf_beziers():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, COLOURS[2])
    e.select(pen)
    e.polybezier([(20, 150), (80, 10), (160, 290), (220, 150), (260, 60), (300, 60), (340, 150)])
    e.move_to(20, 200)
    e.polybezier_to([(120, 360), (200, 180), (300, 300)])
    e.polyline_to([(360, 200), (460, 300)])
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.begin_path()
    e.move_to(360, 20)
    e.polybezier_to([(480, 20), (460, 160), (360, 120)])
    e.close_figure()
    e.end_path()
    e.stroke_and_fill_path()
    return e.bytes()


@checked('emf_polydraw.emf', 'EMF (hand-checked): PolyDraw and PolyDraw16: moves, lines, a Bezier and closed figures',
         'emf2svg-conv leaves out PolyDraw')
def emf_polydraw():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, 0)
    e.select(pen)
    ink = (0, 0, 0)
    pts = [(40, 40), (200, 40), (200, 140), (40, 40), (260, 40), (300, 140), (420, 140), (440, 40)]
    types = [PT_MOVETO, PT_LINETO, PT_LINETO | PT_CLOSEFIGURE, PT_MOVETO, PT_MOVETO, PT_BEZIERTO, PT_BEZIERTO,
             PT_BEZIERTO]
    e.poly_draw(pts, types)
    e.poly_draw([(40, 200), (200, 200), (200, 320), (260, 200), (440, 320)],
                [PT_MOVETO, PT_LINETO, PT_LINETO | PT_CLOSEFIGURE, PT_MOVETO, PT_LINETO], short=True)

    def ink_near(x, y):
        return share((x - 3, y - 3, x + 4, y + 4), ink, 0.08, 1.0)
    checks = [ink_near(120, 40), ink_near(200, 90), ink_near(120, 90), ink_near(357, 115), ink_near(120, 200),
              ink_near(200, 260), ink_near(120, 260), ink_near(350, 260),
              share((60, 110, 100, 130), WHITE, 1.0, 1.0), share((80, 280, 120, 310), WHITE, 1.0, 1.0)]
    return e.bytes(), checks


@scene('emf_paths_fill.emf', 'EMF: paths of lines, Beziers and arcs: BeginPath/EndPath, CloseFigure, FillPath, StrokeAndFillPath under the winding rule')
def emf_paths_fill():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, 0)
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[1])
    e.select(b)
    e.set_poly_fill_mode(WINDING)
    for i in range(2):
        x = 10 + 120 * i
        e.begin_path()
        path_polygon(e, star(x + 55, 70, 55))
        e.move_to(x, 130)
        e.line_to(x + 110, 130)
        e.polybezier_to([(x + 110, 200), (x, 160), (x, 230)])
        e.close_figure()
        e.end_path()
        if i == 0:
            e.fill_path()
        else:
            e.stroke_and_fill_path()
    e.begin_path()
    path_polygon(e, [(260, 20), (460, 20), (460, 120), (260, 120)])
    path_ellipse(e, 290, 40, 430, 100)
    e.end_path()
    e.stroke_and_fill_path()
    e.begin_path()
    e.move_to(260, 250)
    e.arc_to(260, 150, 460, 350, 460, 250, 260, 250)
    e.close_figure()
    e.end_path()
    e.fill_path()
    return e.bytes()


@checked('emf_abort_path.emf', 'EMF (hand-checked): AbortPath drops the path begun (its figure is never drawn), later shapes draw as usual',
         'emf2svg-conv writes a broken picture after AbortPath')
def emf_abort_path():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(b)
    e.begin_path()
    path_polygon(e, [(40, 40), (440, 40), (240, 320)])
    e.abort_path()
    e.fill_path()                  # no path: nothing to fill
    e.rectangle(160, 200, 320, 330)
    checks = [pixel(240, 265, (200, 30, 30)), pixel(240, 100, WHITE), pixel(100, 60, WHITE)]
    return e.bytes(), checks


@scene('emf_paths_stroke.emf', 'EMF: StrokePath of closed figures with wide geometric pens, FlattenPath then StrokePath')
def emf_paths_stroke():
    e = emf_page()
    p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 12, COLOURS[0])
    e.select(p)
    e.begin_path()
    e.move_to(30, 60)
    e.polybezier_to([(120, 0), (160, 180), (240, 80)])
    e.line_to(200, 160)
    e.close_figure()
    e.end_path()
    e.stroke_path()
    p2 = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER, 8, COLOURS[2])
    e.select(p2)
    e.begin_path()
    path_ellipse(e, 270, 20, 460, 150)
    e.end_path()
    e.flatten_path()
    e.stroke_path()
    p3 = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_BEVEL, 16, COLOURS[1])
    e.select(p3)
    e.begin_path()
    e.move_to(40, 220)
    e.line_to(200, 330)
    e.line_to(300, 220)
    e.line_to(440, 320)
    e.close_figure()
    e.end_path()
    e.stroke_path()
    return e.bytes()


@checked('emf_widen_path.emf', 'EMF (hand-checked): WidenPath with a 20-pixel pen, then FillPath; StrokePath of an open figure',
         'emf2svg-conv fills the path itself after WidenPath and closes open figures at StrokePath')
def emf_widen_path():
    e = emf_page()
    p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_ROUND, 20, 0)
    e.select(p)
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[1])
    e.select(b)
    e.select(p)
    e.begin_path()
    e.move_to(40, 100)
    e.line_to(240, 300)
    e.line_to(440, 100)
    e.end_path()
    e.widen_path()
    e.set_poly_fill_mode(WINDING)   # the outline of a stroke may cross itself at a join
    e.fill_path()
    g = channels(COLOURS[1])
    # Along each leg, its middle and 6 pixels to either side are inside the band of 20; 16 are out.
    checks = [pixel(140, 200, g), pixel(144, 196, g), pixel(136, 204, g), pixel(151, 189, WHITE),
              pixel(129, 211, WHITE), pixel(340, 200, g), pixel(336, 196, g), pixel(344, 204, g),
              pixel(329, 189, WHITE), pixel(240, 200, WHITE), pixel(240, 300, g)]
    # StrokePath leaves an open figure open.
    red = e.pen(PS_SOLID, 3, COLOURS[0])
    e.select(red)
    e.begin_path()
    e.move_to(40, 20)
    e.line_to(440, 20)
    e.line_to(440, 60)
    e.end_path()
    e.stroke_path()
    checks += [pixel(240, 20, channels(COLOURS[0])), pixel(440, 40, channels(COLOURS[0])),
               share((200, 34, 280, 46), WHITE, 1.0, 1.0)]
    return e.bytes(), checks


@scene('emf_clip_path.emf', 'EMF: SelectClipPath (RGN_COPY, winding rule) of curved and straight figures over stripes, inside SaveDC/RestoreDC')
def emf_clip_path():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_poly_fill_mode(WINDING)

    def stripes(x0, y0, w, h):
        for i in range(0, w, 12):
            b = e.brush(BS_SOLID, COLOURS[(i // 12) % 6])
            e.select(b)
            e.rectangle(x0 + i, y0, x0 + i + 12, y0 + h)
            e.stock(WHITE_BRUSH)
            e.delete(b)

    for i in range(4):
        x, y = 10 + 235 * (i % 2), 10 + 175 * (i // 2)
        e.save_dc()
        e.begin_path()
        if i in (0, 3):
            path_ellipse(e, x + 20, y + 10, x + 180, y + 150)
        if i in (1, 3):
            path_polygon(e, [(x, y + 160), (x + 100, y), (x + 200, y + 160)])
        if i == 2:
            path_polygon(e, star(x + 100, y + 85, 80))
        e.end_path()
        e.select_clip_path(RGN_COPY)
        stripes(x, y, 216, 160)
        e.restore_dc(-1)
    return e.bytes()


@checked('emf_clip_path_modes.emf', 'EMF (hand-checked): SelectClipPath combining with the clip rectangle by and, or, diff and copy',
         'emf2svg-conv takes every SelectClipPath mode for RGN_COPY')
def emf_clip_path_modes():
    e = emf_page()
    e.stock(NULL_PEN)
    checks = []
    for i, mode in enumerate((RGN_AND, RGN_OR, RGN_DIFF, RGN_COPY)):
        x, y = 10 + 235 * (i % 2), 10 + 175 * (i // 2)
        e.save_dc()
        e.intersect_clip(x + 10, y + 10, x + 190, y + 150)
        e.begin_path()
        path_polygon(e, [(x + 20, y + 140), (x + 100, y + 20), (x + 180, y + 140)])
        e.end_path()
        e.select_clip_path(mode)
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(x, y, x + 220, y + 165)
        e.restore_dc(-1)
        c = channels(COLOURS[i])
        inside, corner, outside = (x + 100, y + 110), (x + 20, y + 20), (x + 200, y + 80)
        expect = {RGN_AND: (c, WHITE, WHITE), RGN_OR: (c, c, WHITE), RGN_DIFF: (WHITE, c, WHITE),
                  RGN_COPY: (c, WHITE, WHITE)}[mode]
        checks += [pixel(px, py, want) for (px, py), want in zip((inside, corner, outside), expect)]
    return e.bytes(), checks


@checked('emf_clip_rects.emf', 'EMF (hand-checked): IntersectClipRect, ExcludeClipRect, OffsetClipRgn, the clip reset by ExtSelectClipRgn without a region',
         'emf2svg-conv treats ExcludeClipRect as IntersectClipRect and ignores OffsetClipRgn')
def emf_clip_rects():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[2])
    e.select(b)
    e.intersect_clip(20, 20, 220, 170)
    e.exclude_clip(70, 60, 170, 130)
    e.rectangle(0, 0, 240, 190)
    e.offset_clip(240, 170)                   # (260, 190)-(460, 340) less (310, 230)-(410, 300)
    b2 = e.brush(BS_SOLID, COLOURS[0])
    e.select(b2)
    e.rectangle(200, 150, 481, 361)
    e.ext_select_clip_rgn([], RGN_COPY)
    b3 = e.brush(BS_SOLID, COLOURS[3])
    e.select(b3)
    e.rectangle(20, 250, 150, 340)
    blue, red, yellow = channels(COLOURS[2]), channels(COLOURS[0]), channels(COLOURS[3])
    checks = [pixel(40, 40, blue), pixel(200, 150, blue), pixel(120, 95, WHITE), pixel(230, 100, WHITE),
              pixel(10, 10, WHITE), pixel(280, 210, red), pixel(440, 320, red), pixel(360, 265, WHITE),
              pixel(230, 200, WHITE), pixel(470, 350, WHITE), pixel(85, 295, yellow)]
    return e.bytes(), checks


@checked('emf_clip_regions.emf', 'EMF (hand-checked): ExtSelectClipRgn with copy, and, or, xor and diff of rectangle regions',
         'emf2svg-conv ignores ExtSelectClipRgn')
def emf_clip_regions():
    e = emf_page()
    e.stock(NULL_PEN)
    checks = []
    for i, mode in enumerate((RGN_COPY, RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF)):
        x = 10 + 93 * i
        e.ext_select_clip_rgn([(x, 20, x + 60, 200)], RGN_COPY)
        if mode != RGN_COPY:
            e.ext_select_clip_rgn([(x + 30, 100, x + 85, 300), (x + 5, 310, x + 50, 340)], mode)
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(0, 0, 481, 361)
        e.stock(WHITE_BRUSH)
        e.delete(b)
        c = channels(COLOURS[i])
        first_only, both, second_only, lower = (x + 15, 50), (x + 45, 150), (x + 70, 250), (x + 25, 325)
        expect = {RGN_COPY: (c, c, WHITE, WHITE), RGN_AND: (WHITE, c, WHITE, WHITE), RGN_OR: (c, c, c, c),
                  RGN_XOR: (c, WHITE, c, c), RGN_DIFF: (c, WHITE, WHITE, WHITE)}[mode]
        checks += [pixel(px, py, want) for (px, py), want in zip((first_only, both, second_only, lower), expect)]
    e.ext_select_clip_rgn([], RGN_COPY)
    return e.bytes(), checks


@checked('emf_region_paint.emf', 'EMF (hand-checked): FillRgn, FrameRgn, PaintRgn and InvertRgn of regions of several rectangles',
         'emf2svg-conv leaves out FillRgn, FrameRgn, PaintRgn and InvertRgn')
def emf_region_paint():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.rectangle(0, 200, 481, 361)
    fill = e.brush(BS_SOLID, COLOURS[0])
    e.fill_rgn([(20, 20, 140, 60), (50, 60, 110, 160)], fill)
    frame = e.brush(BS_SOLID, COLOURS[2])
    e.frame_rgn([(170, 20, 300, 160)], frame, 8, 5)
    paint = e.brush(BS_SOLID, COLOURS[1])
    e.select(paint)
    e.paint_rgn([(330, 20, 460, 90), (360, 90, 430, 160)])
    e.invert_rgn([(20, 180, 240, 340), (300, 250, 460, 320)])
    red, green, blue, yellow = (channels(COLOURS[i]) for i in range(4))
    inverted = tuple(255 - v for v in yellow)
    checks = [pixel(80, 40, red), pixel(80, 140, red), pixel(30, 140, WHITE), pixel(173, 90, blue),
              pixel(296, 90, blue), pixel(235, 22, blue), pixel(235, 157, blue), pixel(235, 90, WHITE),
              pixel(182, 90, WHITE), pixel(395, 50, green), pixel(395, 140, green), pixel(340, 140, WHITE),
              pixel(100, 190, (0, 0, 0)), pixel(100, 300, inverted), pixel(380, 285, inverted),
              pixel(270, 285, yellow)]
    return e.bytes(), checks


@scene('emf_text_fonts.emf', 'EMF: ExtTextOutW in Arial, Times New Roman and Courier New: sizes 12, 20 and 30, bold, italic, underline, strike-out')
def emf_text_fonts():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    y = 8
    for face, family in (('Arial', FF_SWISS), ('Times New Roman', FF_ROMAN), ('Courier New', FF_MODERN | FIXED_PITCH)):
        for size, weight, italic, underline, strike in ((12, FW_NORMAL, 0, 0, 0), (20, FW_BOLD, 0, 1, 0),
                                                        (30, FW_NORMAL, 1, 0, 1)):
            f = e.font(-size, face, weight, italic, underline, strike, pitch_family=family)
            e.select(f)
            e.set_text_color(COLOURS[(y // 10) % 8])
            e.ext_text_out(10, y, '%s %d Quick fox' % (face.split()[0], size))
            e.stock(DEVICE_DEFAULT_FONT)
            e.delete(f)
            y += size + 8
    return e.bytes()


@scene('emf_text_align.emf', 'EMF: text alignments (3 x 3), cell height (positive) and character height (negative) fonts, text colours')
def emf_text_align():
    e = emf_page()
    f = e.font(-18, 'Arial')
    e.select(f)
    e.set_bk_mode(TRANSPARENT)
    guide = e.pen(PS_SOLID, 1, rgb(190, 190, 190))
    e.select(guide)
    for i, h in enumerate((TA_LEFT, TA_CENTER, TA_RIGHT)):
        for j, v in enumerate((TA_TOP, TA_BASELINE, TA_BOTTOM)):
            x, y = 80 + 160 * i, 30 + 45 * j
            e.move_to(x - 6, y)
            e.line_to(x + 6, y)
            e.set_text_align(h | v)
            e.set_text_color(COLOURS[(3 * i + j) % 8])
            e.ext_text_out(x, y, 'Align')
    e.set_text_align(TA_LEFT | TA_TOP)
    cell = e.font(30, 'Times New Roman')
    e.select(cell)
    e.ext_text_out(20, 200, 'Cell height 30')
    char = e.font(-30, 'Times New Roman')
    e.select(char)
    e.ext_text_out(20, 260, 'Char height 30')
    return e.bytes()


@checked('emf_text_options.emf', 'EMF (hand-checked): ExtTextOutW/A with opaque and clipping rectangles and advances, PolyTextOutW, TA_UPDATECP, text under a clip',
         'emf2svg-conv leaves out opaque and clipping rectangles, advances, PolyTextOut and TA_UPDATECP')
def emf_text_options():
    e = emf_page()
    f = e.font(-20, 'Arial')
    e.select(f)
    bk, ink = (255, 230, 150), (20, 20, 140)
    e.set_bk_color(rgb(*bk))
    e.set_text_color(rgb(*ink))
    checks = []
    e.ext_text_out(20, 15, 'Opaque', ETO_OPAQUE, (10, 10, 200, 45))
    checks += [pixel(190, 40, bk), pixel(12, 12, bk), pixel(205, 40, WHITE), share((20, 15, 90, 40), ink, 0.05, 0.6)]
    e.ext_text_out(240, 15, 'Clipped at the box', ETO_CLIPPED, (240, 15, 330, 30))
    checks += [share((332, 5, 480, 45), WHITE, 1.0, 1.0), share((240, 31, 330, 45), WHITE, 1.0, 1.0),
               share((240, 15, 330, 30), ink, 0.04, 0.8)]
    # Advances of 40 put each H in its own cell with a clear gap after it.
    e.set_bk_mode(TRANSPARENT)
    e.ext_text_out(20, 60, 'HHHHH', 0, None, [40] * 5)
    for k in range(5):
        checks += [share((20 + 40 * k, 62, 36 + 40 * k, 80), ink, 0.15, 0.9),
                   share((40 + 40 * k, 56, 58 + 40 * k, 86), WHITE, 1.0, 1.0)]
    e.ext_text_out(240, 60, 'HHHH', 0, None, [30] * 4, wide=False)
    for k in range(4):
        checks += [share((240 + 30 * k, 62, 256 + 30 * k, 80), ink, 0.15, 0.9),
                   share((259 + 30 * k, 56, 268 + 30 * k, 86), WHITE, 1.0, 1.0)]
    e.set_bk_mode(OPAQUE)
    e.poly_text_out([(20, 110, 'Poly one', 0, None, None), (200, 110, 'Poly two', ETO_OPAQUE, (195, 105, 320, 140), None)])
    checks += [share((20, 110, 90, 135), ink, 0.05, 0.6), share((200, 110, 270, 135), ink, 0.05, 0.6),
               pixel(315, 137, bk)]
    e.set_bk_mode(TRANSPARENT)
    e.set_text_align(TA_UPDATECP | TA_TOP)
    e.move_to(20, 170)
    for i, word in enumerate(('Moving', 'current', 'point')):
        e.set_text_color(COLOURS[i])
        e.ext_text_out(0, 0, word)
    # The words follow one another: the last one starts where 'Movingcurrent' ends.
    checks += [share((20, 170, 80, 195), channels(COLOURS[0]), 0.04, 0.6),
               share((90, 170, 140, 195), channels(COLOURS[1]), 0.04, 0.6),
               share((150, 170, 230, 195), channels(COLOURS[2]), 0.04, 0.6),
               share((0, 0, 10, 10), WHITE, 1.0, 1.0)]
    e.set_text_align(TA_LEFT | TA_TOP)
    e.save_dc()
    e.intersect_clip(20, 250, 200, 270)
    big = e.font(-40, 'Arial', FW_BOLD)
    e.select(big)
    e.set_text_color(COLOURS[0])
    e.ext_text_out(20, 240, 'Clip region')
    e.restore_dc(-1)
    checks += [share((20, 240, 240, 250), WHITE, 1.0, 1.0), share((20, 271, 240, 290), WHITE, 1.0, 1.0),
               share((20, 250, 200, 270), channels(COLOURS[0]), 0.2, 1.0)]
    return e.bytes(), checks


@scene('emf_text_escapement.emf', 'EMF: text at escapements 0, 30, 45, 90, 180, 270 degrees, sans and serif')
def emf_text_escapement():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    for i, (angle, x, y) in enumerate(((0, 20, 20), (300, 40, 250), (450, 200, 330), (900, 440, 330), (1800, 460, 180),
                                       (2700, 40, 60))):
        f = e.font(-20, 'Arial' if i % 2 else 'Times New Roman', escapement=angle, weight=FW_BOLD if i > 3 else FW_NORMAL)
        e.select(f)
        e.set_text_color(COLOURS[i])
        e.ext_text_out(x, y, 'Turned %d' % (angle // 10))
        e.stock(DEVICE_DEFAULT_FONT)
        e.delete(f)
    return e.bytes()


@scene('emf_text_mapped.emf', 'EMF: text under MM_LOENGLISH and a world transform (scaled and rotated fonts)')
def emf_text_mapped():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    e.set_map_mode(MM_LOENGLISH)
    f = e.font(-25, 'Arial')
    e.select(f)
    e.ext_text_out(20, -20, 'A quarter inch high')
    f2 = e.font(-40, 'Courier New', FW_BOLD, pitch_family=FIXED_PITCH | FF_MODERN)
    e.select(f2)
    e.ext_text_out(20, -80, 'Mono')
    e.set_map_mode(MM_TEXT)
    a = math.radians(-20)
    e.set_world_transform((1.5 * math.cos(a), 1.5 * math.sin(a), -math.sin(a), math.cos(a), 120.0, 250.0))
    f3 = e.font(-20, 'Times New Roman')
    e.select(f3)
    e.set_text_color(COLOURS[2])
    e.ext_text_out(0, 0, 'Transformed text')
    return e.bytes()


# The outside renderers smooth stretched pictures, which the formats' stretch modes never
# do: the compared files draw pictures at their own size, stretching is checked by hand.

@scene('emf_stretchdibits.emf', 'EMF: StretchDIBits at 1, 4, 8, 16 (5-5-5), 24 and 32 bits (plain and bit fields), bottom-up and top-down')
def emf_stretchdibits():
    e = emf_page()
    cases = [dict(bits=1), dict(bits=4), dict(bits=8), dict(bits=16), dict(bits=24), dict(bits=24, top_down=True),
             dict(bits=32), dict(bits=32, bitfields=(0xFF0000, 0x00FF00, 0x0000FF)), dict(bits=1, top_down=True),
             dict(bits=4, top_down=True), dict(bits=8, top_down=True), dict(bits=16, top_down=True)]
    for i, c in enumerate(cases):
        src = picture(width=96, height=72, **c)
        x, y = 10 + 118 * (i % 4), 10 + 116 * (i // 4)
        e.stretch_dibits(x, y, 96, 72, 0, 0, 96, 72, SRCCOPY, src)
    return e.bytes()


@checked('emf_dib_transforms.emf', 'EMF (hand-checked): StretchDIBits mirrored (negative extents), from a source rectangle, and 5-6-5 bit fields',
         'emf2svg-conv ignores negative extents and source rectangles of StretchDIBits and misreads 5-6-5 bit fields')
def emf_dib_transforms():
    e = emf_page()
    src = quadrants()
    checks = []
    e.stretch_dibits(150, 20, -128, 96, 0, 0, 16, 16, SRCCOPY, src)      # (22, 20)-(150, 116), left for right
    checks += quadrant_checks(22, 20, 128, 96, mirror_x=True)
    e.stretch_dibits(180, 116, 128, -96, 0, 0, 16, 16, SRCCOPY, src)     # (180, 20)-(308, 116), upside down
    checks += quadrant_checks(180, 20, 128, 96, mirror_y=True)
    # A bottom-up picture's source rows count from its last row: (8, 8) is the top right quarter.
    e.stretch_dibits(340, 20, 120, 96, 8, 8, 8, 8, SRCCOPY, src)
    checks += [pixel(400, 68, QUADRANTS[1]), pixel(345, 25, QUADRANTS[1]), pixel(455, 110, QUADRANTS[1])]
    e.stretch_dibits(22, 150, 128, 96, 0, 0, 16, 16, SRCCOPY, quadrants(16, bitfields=(0xF800, 0x07E0, 0x001F)))
    checks += quadrant_checks(22, 150, 128, 96, tolerance=10)
    e.stretch_dibits(180, 150, 128, 96, 0, 0, 8, 8, SRCCOPY, quadrants(top_down=True))   # the top left quarter
    checks += [pixel(244, 198, QUADRANTS[0]), pixel(185, 155, QUADRANTS[0]), pixel(303, 240, QUADRANTS[0])]
    return e.bytes(), checks


@checked('emf_setdibits.emf', 'EMF (hand-checked): SetDIBitsToDevice whole and from a source offset, 24, 8 and 1 bits',
         'emf2svg-conv leaves out SetDIBitsToDevice')
def emf_setdibits():
    e = emf_page()
    checks = []
    e.set_dibits_to_device(20, 20, 64, 64, 0, 0, 0, 64, quadrants(size=64))
    checks += quadrant_checks(20, 20, 64, 64)
    e.set_dibits_to_device(120, 20, 32, 32, 32, 32, 0, 64, quadrants(size=64))    # the top right quarter
    checks += [pixel(136, 36, QUADRANTS[1]), pixel(122, 22, QUADRANTS[1]), pixel(150, 50, QUADRANTS[1])]
    pal = dib(64, 64, 8, lambda x, y: (y // 32) * 2 + x // 32, palette=list(QUADRANTS))
    e.set_dibits_to_device(200, 20, 64, 64, 0, 0, 0, 64, pal)
    checks += quadrant_checks(200, 20, 64, 64)
    mono = dib(64, 32, 1, lambda x, y: 1 if x >= 32 else 0, palette=[(20, 20, 120), (250, 230, 120)])
    e.set_dibits_to_device(300, 20, 64, 32, 0, 0, 0, 32, mono)
    checks += [pixel(316, 36, (20, 20, 120)), pixel(348, 36, (250, 230, 120)), pixel(370, 36, WHITE)]
    return e.bytes(), checks


@checked('emf_blt_rops.emf', 'EMF (hand-checked): BitBlt, StretchBlt and StretchDIBits with source, pattern and destination raster operations, BitBlt without a source',
         'emf2svg-conv copies every source as SRCCOPY and draws pattern-only operations as PATCOPY')
def emf_blt_rops():
    e = emf_page()
    e.stock(NULL_PEN)
    bands = [COLOURS[i] for i in range(3)]
    for i, c in enumerate(bands):
        b = e.brush(BS_SOLID, c)
        e.select(b)
        e.rectangle(0, 120 * i, 481, 120 * i + 120)
    pattern = rgb(255, 200, 0)
    pat = e.brush(BS_SOLID, pattern)
    e.select(pat)
    source = (40, 170, 230)
    src = dib(16, 16, 24, lambda x, y: source)
    rops = (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
            PATINVERT, DSTINVERT, BLACKNESS, WHITENESS, PATPAINT)
    checks = []
    for i, rop in enumerate(rops):
        x, y = 10 + 93 * (i % 5), 10 + 120 * (i // 5)
        want = rop3(rop, channels(pattern), source, channels(bands[i // 5]))
        if rop in (PATCOPY, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS):
            e.bit_blt(x, y, 80, 100, rop)
        elif i % 3 == 0:
            e.bit_blt(x, y, 16, 16, rop, src)
            e.stretch_blt(x, y + 30, 80, 70, 0, 0, 16, 16, rop, src)
            checks.append(pixel(x + 8, y + 8, want))
        elif i % 3 == 1:
            e.stretch_dibits(x, y, 80, 100, 0, 0, 16, 16, rop, src)
        else:
            e.stretch_blt(x, y, 80, 100, 0, 0, 16, 16, rop, src)
        checks.append(pixel(x + 40, y + 65, want))
    checks.append(pixel(475, 60, channels(bands[0])))
    return e.bytes(), checks


@checked('emf_mask_plg.emf', 'EMF (hand-checked): MaskBlt with a 1-bit mask (two raster operations) and PlgBlt into parallelograms',
         'emf2svg-conv leaves out MaskBlt and PlgBlt')
def emf_mask_plg():
    e = emf_page()
    light = (200, 220, 255)
    b = e.brush(BS_SOLID, rgb(*light))
    e.select(b)
    e.stock(NULL_PEN)
    e.rectangle(0, 0, 240, 361)
    red = (220, 30, 30)
    # MaskBlt does not stretch: source and mask are as big as the destination.
    solid = dib(64, 48, 24, lambda x, y: red)
    mask = dib(64, 48, 1, lambda x, y: 1 if x < 32 else 0, palette=[(0, 0, 0), (255, 255, 255)])
    # The mask's set bits take the foreground operation (the high byte's is the background's).
    e.mask_blt(40, 40, 64, 48, 0xAACC0020, solid, 0, 0, mask, 0, 0)     # source where set, else keep
    green = e.brush(BS_SOLID, COLOURS[1])
    e.select(green)
    e.mask_blt(40, 200, 64, 48, 0xF0CC0020, solid, 0, 0, mask, 0, 0)    # source where set, else the brush
    checks = [pixel(55, 64, red), pixel(90, 64, light), pixel(55, 224, red), pixel(90, 224, channels(COLOURS[1])),
              pixel(120, 64, light), pixel(120, 224, light)]
    src = quadrants(size=32)
    for p0, p1, p2 in (((300, 40), (440, 80), (260, 180)), ((300, 220), (460, 220), (300, 340))):
        e.plg_blt([p0, p1, p2], 0, 0, 32, 32, src)
        for qy in range(2):
            for qx in range(2):
                u, v = 0.25 + 0.5 * qx, 0.25 + 0.5 * qy
                px = p0[0] + u * (p1[0] - p0[0]) + v * (p2[0] - p0[0])
                py = p0[1] + u * (p1[1] - p0[1]) + v * (p2[1] - p0[1])
                checks.append(pixel(int(px), int(py), QUADRANTS[2 * qy + qx]))
    return e.bytes(), checks


@checked('emf_alpha.emf', 'EMF (hand-checked): AlphaBlend with per-pixel (premultiplied) alpha over two backgrounds',
         'emf2svg-conv takes premultiplied pixels for straight alpha')
def emf_alpha():
    e = emf_page()
    e.stock(NULL_PEN)
    blue = (30, 60, 200)
    b = e.brush(BS_SOLID, rgb(*blue))
    e.select(b)
    e.rectangle(0, 0, 481, 180)
    red = (220, 30, 30)

    def alpha(x):
        return x * 255 // 15

    def premultiplied(x, y):
        return tuple(c * alpha(x) // 255 for c in red) + (alpha(x),)
    fade = dib(16, 4, 32, premultiplied)
    checks = []
    for y0, page in ((40, blue), (220, WHITE)):
        e.alpha_blend(20, y0, 192, 96, 0, 0, 16, 4, fade, per_pixel=True)    # 12 x 24 pixels a source pixel
        for x in range(0, 16, 3):
            src = premultiplied(x, 0)
            want = tuple(int(s + d * (255 - src[3]) / 255 + 0.5) for s, d in zip(src[:3], page))
            checks.append(pixel(20 + 12 * x + 6, y0 + 48, want, 3))
    return e.bytes(), checks


@checked('emf_alpha_constant.emf', 'EMF (hand-checked): AlphaBlend with constant alpha (alone and with per-pixel alpha), TransparentBlt with a key colour',
         'emf2svg-conv draws AlphaBlend\'s constant alpha as opaque and leaves out TransparentBlt')
def emf_alpha_constant():
    e = emf_page()
    e.stock(NULL_PEN)
    blue = (30, 60, 200)
    b = e.brush(BS_SOLID, rgb(*blue))
    e.select(b)
    e.rectangle(0, 0, 481, 120)
    red = (220, 30, 30)
    solid = dib(8, 8, 32, lambda x, y: red + (0,))
    checks = []

    def mix(src, dst, a):
        return tuple(int(s * a / 255 + d * (255 - a) / 255 + 0.5) for s, d in zip(src, dst))
    for i, alpha in enumerate((128, 64)):
        x = 20 + 140 * i
        e.alpha_blend(x, 10, 120, 220, 0, 0, 8, 8, solid, constant_alpha=alpha)
        checks += [pixel(x + 60, 60, mix(red, blue, alpha), 6), pixel(x + 60, 180, mix(red, WHITE, alpha), 6)]
    half = dib(8, 8, 32, lambda x, y: (110, 15, 15, 128))          # red at alpha 128, premultiplied
    e.alpha_blend(300, 10, 160, 220, 0, 0, 8, 8, half, constant_alpha=128, per_pixel=True)
    # Constant and pixel alpha multiply: a quarter of the source, three quarters of the page.
    checks += [pixel(380, 60, tuple(int(s * 128 / 255 + d * (1 - 128 * 128 / 255 / 255) + 0.5)
                                    for s, d in zip((110, 15, 15), blue)), 8)]
    magenta = (255, 0, 255)
    key = dib(8, 8, 24, lambda x, y: red if 2 <= x < 6 and 2 <= y < 6 else magenta)
    e.transparent_blt(40, 250, 96, 96, 0, 0, 8, 8, key, rgb(*magenta))
    e.rectangle(200, 250, 300, 350)
    e.transparent_blt(180, 240, 96, 96, 0, 0, 8, 8, key, rgb(*magenta))
    checks += [pixel(88, 298, red), pixel(45, 255, WHITE), pixel(130, 340, WHITE), pixel(228, 288, red),
               pixel(260, 330, blue), pixel(190, 250, WHITE)]
    return e.bytes(), checks


@checked('emf_gradient.emf', 'EMF (hand-checked): GradientFill horizontal and vertical rectangles and triangles',
         'emf2svg-conv leaves out GradientFill')
def emf_gradient():
    e = emf_page()
    e.gradient_fill([(20, 20, 255, 0, 0), (220, 120, 0, 0, 255)], [(0, 1)], GRADIENT_FILL_RECT_H)
    e.gradient_fill([(260, 20, 255, 255, 0), (460, 120, 0, 160, 0)], [(0, 1)], GRADIENT_FILL_RECT_V)
    e.gradient_fill([(20, 340, 255, 0, 0), (240, 150, 0, 255, 0), (460, 340, 0, 0, 255), (240, 250, 255, 255, 255)],
                    [(0, 1, 3), (1, 2, 3)], GRADIENT_FILL_TRIANGLE)
    checks = [pixel(21, 70, (255, 0, 0), 8), pixel(120, 70, (128, 0, 128), 8), pixel(218, 70, (0, 0, 255), 8),
              pixel(360, 21, (255, 255, 0), 8), pixel(360, 70, (128, 208, 0), 8), pixel(360, 118, (0, 160, 0), 8),
              pixel(10, 70, WHITE), pixel(240, 70, WHITE),
              pixel(167, 247, (170, 170, 85), 10), pixel(313, 247, (85, 170, 170), 10), pixel(240, 280, WHITE, 10)]
    return e.bytes(), checks


@checked('emf_palette.emf', 'EMF (hand-checked): CreatePalette, SelectPalette, RealizePalette, SetPaletteEntries, palette-index colours, a DIB_PAL_COLORS bitmap, the EOF palette',
         'emf2svg-conv draws palette-index colours black and leaves out DIB_PAL_COLORS bitmaps')
def emf_palette():
    e = emf_page()
    entries = [(200, 30, 30), (30, 150, 40), (30, 60, 200), (230, 180, 20)]
    e.palette_entries = entries
    pal = e.palette(entries)
    e.select_palette(pal)
    e.realize_palette()
    e.stock(NULL_PEN)
    for i in range(4):
        b = e.brush(BS_SOLID, 0x01000000 | i)
        e.select(b)
        e.rectangle(20 + 110 * i, 20, 120 + 110 * i, 120)
    e.set_pal_entries(pal, 3, [(150, 40, 160)])
    b = e.brush(BS_SOLID, 0x01000000 | 3)
    e.select(b)
    e.rectangle(20, 140, 460, 200)
    header, bits = dib(16, 8, 8, lambda x, y: (x // 4) % 4, palette=[(0, 0, 0)] * 4)
    # With DIB_PAL_COLORS the colour table holds 16-bit indexes into the selected palette.
    header = header[:40] + b''.join(u16(i) for i in range(4))
    e.stretch_dibits(20, 220, 440, 120, 0, 0, 16, 8, SRCCOPY, (header, bits), usage=DIB_PAL_COLORS)
    now = entries[:3] + [(150, 40, 160)]
    checks = [pixel(70 + 110 * i, 70, entries[i]) for i in range(4)] + [pixel(240, 170, now[3])]
    checks += [pixel(75 + 110 * i, 280, now[i]) for i in range(4)]
    return e.bytes(), checks


@scene('emf_comments_skipped.emf', 'EMF: GDI comments, an EMF+ comment, ICM and mapper records and an unknown record are skipped; drawing goes on')
def emf_comments_skipped():
    e = emf_page()
    e.comment(b'GDIC' + u32(0x40000004) + u32(0))           # a public comment: begin group
    e.comment(b'EMF+' + b'\x01\x40\x01\x00' + u32(28) + u32(16) + u32(0xDBC01002) + u32(1) + u32(0))
    e.set_icm_mode(1)
    e.set_mapper_flags(0)
    e.rec(0x7F0, b'\x00' * 12)                               # not a record kind
    e.stock(NULL_PEN)
    for i in range(6):
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(20 + 75 * i, 40, 85 + 75 * i, 320)
        e.stock(WHITE_BRUSH)
        e.delete(b)
    return e.bytes()


@scene('emf_stock_objects.emf', 'EMF: stock pens and brushes selected by index (white, greys, black, null) over a coloured band')
def emf_stock_objects():
    e = emf_page()
    b = e.brush(BS_SOLID, rgb(40, 90, 160))
    e.select(b)
    e.rectangle(0, 0, 481, 120)
    for i, (pen, brush) in enumerate(((WHITE_PEN, BLACK_BRUSH), (BLACK_PEN, WHITE_BRUSH), (NULL_PEN, GRAY_BRUSH),
                                      (WHITE_PEN, NULL_BRUSH), (BLACK_PEN, DKGRAY_BRUSH), (BLACK_PEN, LTGRAY_BRUSH))):
        e.stock(pen)
        e.stock(brush)
        e.rectangle(15 + 77 * i, 20, 80 + 77 * i, 220)
    e.stock(NULL_BRUSH)
    e.stock(BLACK_PEN)
    e.ellipse(40, 240, 440, 340)
    return e.bytes()
