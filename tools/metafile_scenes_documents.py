"""Corpus files drawn as documents draw whole pictures: charts and clip art (registered on import)."""
import math

from metafile_corpus import *  # noqa: F401,F403


# --- whole pictures, as documents draw them ------------------------------------------------

@scene('emf_bar_chart.emf', 'EMF: a bar chart as an office program writes it: axes, grid, bars, legend, labels in two faces, a rotated title')
def emf_bar_chart():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    grid = e.pen(PS_SOLID, 0, rgb(200, 200, 200))
    axis = e.pen(PS_SOLID, 0, rgb(0, 0, 0))
    label = e.font(-12, 'Arial')
    title = e.font(-16, 'Times New Roman', FW_BOLD)
    e.select(grid)
    for i in range(6):
        y = 300 - 50 * i
        e.move_to(60, y)
        e.line_to(440, y)
    e.select(axis)
    e.move_to(60, 40)
    e.line_to(60, 300)
    e.line_to(440, 300)
    e.select(label)
    e.set_text_align(TA_RIGHT | TA_BASELINE)
    for i in range(6):
        e.ext_text_out(54, 304 - 50 * i, str(20 * i))
    e.set_text_align(TA_CENTER | TA_TOP)
    e.stock(NULL_PEN)   # bars without outlines: a one-pixel line on a whole coordinate is smoothed over two by one renderer
    values = [(140, 200), (230, 120), (170, 90), (250, 210), (90, 160), (200, 230)]
    for i, pair in enumerate(values):
        x = 80 + 60 * i
        for k, v in enumerate(pair):
            b = e.brush(BS_SOLID, COLOURS[k * 2])
            e.select(b)
            e.rectangle(x + 22 * k, 300 - v, x + 22 * k + 20, 301)
            e.stock(WHITE_BRUSH)
            e.delete(b)
        e.ext_text_out(x + 21, 306, 'Q%d' % (i + 1))
    e.set_text_align(TA_LEFT | TA_TOP)
    for k, name in enumerate(('Last year', 'This year')):
        b = e.brush(BS_SOLID, COLOURS[k * 2])
        e.select(b)
        e.rectangle(330 + 80 * (k % 2) - 80, 16, 340 + 80 * (k % 2) - 80, 26)
        e.ext_text_out(344 + 80 * (k % 2) - 80, 14, name)
    e.select(title)
    e.set_text_align(TA_CENTER | TA_BASELINE)
    e.ext_text_out(240, 345, 'Sales by quarter')
    side = e.font(-14, 'Arial', escapement=900)
    e.select(side)
    e.ext_text_out(22, 170, 'Units')
    return e.bytes()


@scene('wmf_pie_chart.wmf', 'WMF: a pie chart with a legend: pies, outlined boxes, text in twips')
def wmf_pie_chart():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    pen = w.pen(PS_SOLID, u(1), rgb(255, 255, 255))
    w.select(pen)
    cx, cy, r = u(130), u(150), u(110)
    shares = [0.32, 0.24, 0.18, 0.14, 0.12]
    start = 0.0
    for i, part in enumerate(shares):
        end = start + part * 2 * math.pi
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.pie(cx - r, cy - r, cx + r, cy + r, int(cx + r * math.cos(start)), int(cy - r * math.sin(start)),
              int(cx + r * math.cos(end)), int(cy - r * math.sin(end)))
        w.select(w.white)
        w.delete(b)
        start = end
    f = w.font(-u(13), 'Arial')
    w.select(f)
    w.select(w.black)
    for i, part in enumerate(shares):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        y = u(60 + 34 * i)
        w.rectangle(u(270), y, u(286), y + u(16))
        w.text_out(u(294), y, '%d%%' % int(part * 100))
        w.select(w.white)
        w.delete(b)
    big = w.font(-u(18), 'Times New Roman', FW_BOLD)
    w.select(big)
    w.text_out(u(250), u(20), 'Market share')
    return w.bytes()


@scene('emf_clipart.emf', 'EMF: clip art: a house, a tree and a sun of polygons, Bezier paths, pies, rounded rectangles and wide geometric pens')
def emf_clipart():
    e = emf_page()
    e.stock(NULL_PEN)
    sky = e.brush(BS_SOLID, rgb(170, 210, 250))
    e.select(sky)
    e.rectangle(0, 0, 481, 260)
    grass = e.brush(BS_SOLID, rgb(90, 170, 70))
    e.select(grass)
    e.rectangle(0, 260, 481, 361)
    sun = e.brush(BS_SOLID, rgb(250, 210, 40))
    e.select(sun)
    e.ellipse(380, 30, 450, 100)
    rays = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND, 4, rgb(250, 210, 40))
    e.select(rays)
    for k in range(8):
        a = k * math.pi / 4
        e.move_to(int(415 + 45 * math.cos(a)), int(65 + 45 * math.sin(a)))
        e.line_to(int(415 + 60 * math.cos(a)), int(65 + 60 * math.sin(a)))
    outline = e.pen(PS_SOLID, 0, rgb(60, 40, 30))
    e.select(outline)
    wall = e.brush(BS_SOLID, rgb(230, 200, 160))
    e.select(wall)
    e.rectangle(80, 170, 260, 300)
    roof = e.brush(BS_SOLID, rgb(180, 50, 40))
    e.select(roof)
    e.polygon([(60, 175), (170, 90), (280, 175)])
    door = e.brush(BS_SOLID, rgb(120, 80, 40))
    e.select(door)
    e.round_rect(150, 220, 190, 300, 12, 12)
    glass = e.brush(BS_SOLID, rgb(200, 230, 255))
    e.select(glass)
    e.rectangle(100, 195, 135, 230)
    e.rectangle(205, 195, 240, 230)
    trunk = e.brush(BS_SOLID, rgb(110, 70, 30))
    e.select(trunk)
    e.rectangle(345, 220, 365, 300)
    leaves = e.brush(BS_SOLID, rgb(40, 120, 50))
    e.select(leaves)
    e.set_poly_fill_mode(WINDING)
    e.begin_path()
    e.move_to(355, 120)
    e.polybezier_to([(420, 120), (430, 200), (400, 230), (370, 250), (330, 250), (310, 230),
                     (280, 200), (290, 120), (355, 120)])
    e.close_figure()
    e.end_path()
    e.stroke_and_fill_path()
    e.pie(20, 300, 80, 360, 80, 330, 20, 330)
    return e.bytes()


@scene('wmf_clipart.wmf', 'WMF: clip art: a boat on waves of polygons, polylines, pies, rounded rectangles and wide pens')
def wmf_clipart():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    sky = w.brush(BS_SOLID, rgb(200, 225, 250))
    w.select(sky)
    w.rectangle(0, 0, 385, 190)
    sea = w.brush(BS_SOLID, rgb(40, 90, 170))
    w.select(sea)
    w.rectangle(0, 190, 385, 289)
    hull = w.brush(BS_SOLID, rgb(140, 60, 30))
    w.select(hull)
    w.select(w.black)
    w.polygon([(90, 180), (300, 180), (270, 225), (120, 225)])
    sail = w.brush(BS_SOLID, rgb(250, 250, 240))
    w.select(sail)
    w.polygon([(200, 40), (200, 170), (110, 170)])
    w.polygon([(210, 60), (210, 170), (280, 170)])
    mast = w.pen(PS_SOLID, 4, rgb(80, 50, 20))
    w.select(mast)
    w.move_to(205, 30)
    w.line_to(205, 182)
    waves = w.pen(PS_SOLID, 3, rgb(230, 240, 255))
    w.select(waves)
    for row in range(3):
        y = 235 + 18 * row
        w.polyline([(x, y + (6 if (x // 24) % 2 else 0)) for x in range(0, 385, 24)])
    sun = w.brush(BS_SOLID, rgb(250, 200, 60))
    w.select(sun)
    w.select(w.null)
    w.pie(300, 20, 380, 100, 380, 60, 300, 60)
    w.pie(300, 20, 380, 100, 300, 60, 380, 60)
    flag = w.brush(BS_SOLID, rgb(200, 30, 30))
    w.select(flag)
    w.round_rect(205, 22, 235, 38, 6, 6)
    return w.bytes()
