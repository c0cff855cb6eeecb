// Protractors, Cobb angles and blades as objects: the values, arcs and feet worked out by
// hand, the drags after creation, and their records read by the independent script.
#include "AnnTestSupport.h"
#include "AnnWindowSupport.h"

#include "annotation/OrbelAnnBlade.h"
#include "annotation/OrbelAnnCobbAngle.h"

#include <memory>

using namespace anntest;

namespace {

struct AnnAngle : ::testing::Test {
    AnnViewMapping m;
    void SetUp() override
    {
        annShared.currentWindow = nullptr;
        m.mirror = 0;
    }
    // Each click a move there, a press and a release, as the document sends them.
    template <class T>
    T* Clicked(T* o, std::initializer_list<POINT> clicks)
    {
        o->SetGeometry(&m);
        for (const POINT& p : clicks) {
            o->DragTo(p.x, p.y);
            o->BeginCreate(p.x, p.y);
            o->EndCreate(p.x, p.y);
        }
        return o;
    }
    template <class T>
    static void Drag(T& o, POINT from, POINT to)
    {
        ASSERT_EQ(o.HitTest(from.x, from.y), &o);
        o.DragTo(to.x, to.y);
        o.EndCreate(to.x, to.y);
    }
};

// The lines' view end points, start then end of each.
std::vector<int> Ends(std::initializer_list<const COrbelAnnLine*> lines)
{
    std::vector<int> out;
    for (const COrbelAnnLine* l : lines)
        out.insert(out.end(), {int(l->viewStart.x), int(l->viewStart.y), int(l->viewEnd.x), int(l->viewEnd.y)});
    return out;
}

POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

} // namespace

TEST_F(AnnAngle, ProtractorValuesArcsAndSteps)
{
    struct Row {
        POINT a, b;
        const char16_t* text;
        POINT arcStart, arcEnd;
    } rows[] = {
        {{200, 100}, {100, 0}, u"90.0°", {115, 100}, {100, 85}},
        {{100, 0}, {200, 100}, u"90.0°", {115, 100}, {100, 85}}, // the other click order
        {{200, 100}, {0, 100}, u"180.0°", {115, 100}, {85, 100}},
        {{200, 100}, {200, 100}, u"0.0°", {115, 100}, {115, 100}},
    };
    for (const Row& r : rows) {
        COrbelAnnProtractor p;
        for (const POINT& click : {POINT{100, 100}, r.a}) {
            Clicked(&p, {click});
            EXPECT_FALSE(p.IsComplete());
        }
        Clicked(&p, {r.b});
        EXPECT_TRUE(p.IsComplete());
        EXPECT_EQ(p.label.text.GetText(), r.text);
        EXPECT_EQ((std::vector<int>{p.arcStart.view.x, p.arcStart.view.y, p.arcEnd.view.x, p.arcEnd.view.y,
                                    p.arcBoxMin.view.x, p.arcBoxMin.view.y, p.arcBoxMax.view.x, p.arcBoxMax.view.y}),
                  (std::vector<int>{r.arcStart.x, r.arcStart.y, r.arcEnd.x, r.arcEnd.y, 85, 85, 115, 115}));
        COrbelAnnLabel placed;
        placed.SetText(r.text);
        placed.PlaceAt(135, 65, 100, 100);
        EXPECT_TRUE(EqualRect(&placed.text.viewRect, &p.label.text.viewRect));
        EXPECT_EQ(Ends({&p.label.arrow.shaft}), Ends({&placed.arrow.shaft}));
    }
    // An arm of no length: no arc at all.
    COrbelAnnProtractor zero;
    Clicked(&zero, {{50, 50}, {50, 50}, {90, 20}});
    Canvas canvas(120, 120, 3);
    zero.creating = 1;
    zero.Draw(canvas.dc);
    const std::vector<uint8_t> withoutArc = canvas.Pixels();
    zero.creating = 0;
    zero.Draw(canvas.dc);
    EXPECT_EQ(canvas.Pixels(), withoutArc);
}

TEST_F(AnnAngle, ProtractorDrags)
{
    struct Row {
        POINT from, to;
        std::vector<int> arms;
        const char16_t* text;
    } rows[] = {
        {{100, 100}, {110, 110}, {110, 110, 200, 100, 110, 110, 100, 0}, u"88.9°"}, // the vertex
        {{150, 100}, {160, 120}, {110, 120, 210, 120, 110, 120, 110, 20}, u"90.0°"}, // arm1 as a whole
    };
    for (const Row& r : rows) {
        std::unique_ptr<COrbelAnnProtractor> p(Clicked(new COrbelAnnProtractor(), {{100, 100}, {200, 100}, {100, 0}}));
        Drag(*p, r.from, r.to);
        EXPECT_EQ(Ends({&p->arm1, &p->arm2}), r.arms);
        EXPECT_EQ(p->label.text.GetText(), r.text);
        EXPECT_FALSE(p->arm1.creating || p->arm2.creating);
        const RECT box = p->label.text.viewRect;
        Drag(*p, Centre(box), {Centre(box).x + 15, Centre(box).y + 5});
        EXPECT_EQ(p->label.text.viewRect.left, box.left + 15);
        EXPECT_EQ(p->label.text.GetText(), r.text);
    }
}

TEST_F(AnnAngle, CobbAngleCases)
{
    struct Row {
        POINT s1, e1, p1, s2, e2, p2;
        const char16_t* text; // null: the perpendiculars do not cross
        POINT foot2;
    } rows[] = {
        {{100, 300}, {300, 300}, {200, 150}, {100, 100}, {273, 200}, {180, 262}, u"30.0°", {229, 175}},
        {{300, 300}, {100, 300}, {200, 150}, {273, 200}, {100, 100}, {180, 262}, u"30.0°", {231, 176}},
        {{100, 300}, {300, 300}, {200, 150}, {300, 100}, {127, 200}, {220, 262}, u"30.0°", {171, 175}},
        {{100, 300}, {300, 300}, {200, 150}, {100, 100}, {273, 200}, {300, 100}, nullptr, {249, 186}},
        {{100, 300}, {300, 300}, {200, 150}, {100, 100}, {300, 100}, {200, 250}, nullptr, {200, 100}}, // one line
    };
    for (const Row& r : rows) {
        COrbelAnnCobbAngle c;
        Clicked(&c, {r.s1, r.e1, {301, 150}}); // foot a pixel beyond line1's end
        EXPECT_EQ(c.step, 2);
        Clicked(&c, {r.p1, r.s2, r.e2, r.p2});
        ASSERT_TRUE(c.IsComplete());
        EXPECT_EQ(Ends({&c.perp1, &c.perp2}), (std::vector<int>{r.p1.x, r.p1.y, 200, 300, r.p2.x, r.p2.y, r.foot2.x,
                                                                 r.foot2.y}));
        EXPECT_EQ(c.gaugeShown, r.text != nullptr);
        EXPECT_EQ(c.angleValid, r.text != nullptr);
        EXPECT_EQ(c.gauge.label.text.GetText(), r.text ? r.text : u"");
    }
    COrbelAnnCobbAngle c;
    Clicked(&c, {{100, 300}, {300, 300}, {200, 150}, {100, 100}, {273, 200}, {180, 262}});
    ExpectPoint(c.gauge.arm1.viewStart, 200, 226);
    // A drag hides the gauge until the release.
    ASSERT_EQ(c.HitTest(200, 200), &c);
    c.DragTo(200, 190);
    EXPECT_FALSE(c.gaugeShown);
    c.EndCreate(200, 190);
    EXPECT_TRUE(c.gaugeShown);
    // A drag taking line1 from under perp1's foot is undone; the gauge's label moves alone.
    const std::vector<int> lines = Ends({&c.line1, &c.perp1, &c.line2, &c.perp2});
    ASSERT_EQ(c.HitTest(100, 300), &c);
    c.DragTo(250, 300);
    EXPECT_EQ(Ends({&c.line1, &c.perp1, &c.line2, &c.perp2}), lines);
    c.EndCreate(250, 300);
    const RECT box = c.gauge.label.text.viewRect;
    Drag(c, Centre(box), {Centre(box).x + 20, Centre(box).y + 10});
    EXPECT_EQ(c.gauge.label.text.viewRect.top, box.top + 10);
    EXPECT_EQ(Ends({&c.line1, &c.perp1, &c.line2, &c.perp2}), lines);
}

TEST_F(AnnAngle, BladeKeepsItsOutlineClosed)
{
    struct Row {
        POINT from, to;
        std::vector<int> sides;
    } rows[] = {
        {{0, 0}, {0, 0}, {0, 0, 100, 0, 100, 0, 100, 50, 100, 50, 0, 50, 0, 50, 0, 0, 0, 0, 0, 0}},
        {{100, 0}, {120, 10}, {0, 0, 120, 10, 120, 10, 100, 50, 100, 50, 0, 50, 0, 50, 0, 0, 0, 0, 0, 0}},
        {{100, 25}, {110, 25}, {0, 0, 110, 0, 110, 0, 110, 50, 110, 50, 0, 50, 0, 50, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        COrbelAnnBlade b;
        Clicked(&b, {{0, 0}, {100, 0}, {100, 50}, {0, 50}});
        ASSERT_TRUE(b.IsComplete());
        if (r.from.x)
            Drag(b, r.from, r.to);
        EXPECT_EQ(Ends({&b.sides[0], &b.sides[1], &b.sides[2], &b.sides[3], &b.closing}), r.sides);
        b.SetSelected(true);
        EXPECT_TRUE(b.IsSelected() && !b.sides[0].selected && !b.sides[3].selected);
    }
}

TEST_F(AnnAngle, RecordsSizesAndRoundTrips)
{
    COrbelAnnContainer one;
    one.Add(Clicked(new COrbelAnnProtractor(), {{100, 100}, {200, 100}, {100, 0}}));
    EXPECT_EQ(Store(one).size(), 1068u);

    COrbelAnnContainer c;
    auto* p = Clicked(new COrbelAnnProtractor(), {{100, 300}, {400, 100}, {200, 300}});
    auto* cobb = Clicked(new COrbelAnnCobbAngle(), {{100, 300}, {300, 300}, {200, 150}, {100, 100}, {273, 200}, {180, 262}});
    const size_t n = cobb->gauge.label.text.GetText().size() + p->label.text.GetText().size();
    c.Add(p);
    c.Add(cobb);
    c.Add(Clicked(new COrbelAnnBlade(), {{0, 0}, {100, 0}, {100, 50}, {0, 50}}));
    const std::string first = Store(c);
    EXPECT_EQ(first.size(), 2 * (8 + 516 + 791 + 319 + 2 * n));
    COrbelAnnContainer loaded, again;
    ASSERT_EQ(Load(first, loaded), "");
    const std::string second = Store(loaded);
    ASSERT_EQ(Load(second, again), "");
    EXPECT_EQ(Store(again), second);
    EXPECT_EQ(static_cast<COrbelAnnProtractor*>(again.At(0))->angle, p->angle);

    const std::string listing = RunScript("decode", second);
    for (const char* record : {"COrbelAnnProtractor type=9 complete=1 creating=0 selected=0 hideArms=0 step=3 "
                               "angle=33.69007159742446 ",
                               "COrbelAnnCobbAngle type=14 complete=1 gaugeShown=1 step=6 labelPlaced=1 selected=0\n",
                               "creating=0 selected=0 hideArms=1 step=3 ", "COrbelAnnBlade type=0 complete=1 visible=0\n"})
        EXPECT_NE(listing.find(record), std::string::npos) << record << "\n" << listing;
    EXPECT_EQ(RunScript("encode", listing), second + "\n");
}

namespace {

// The angle a label shows, in degrees.
double Shown(const COrbelAnnLabel& label)
{
    const std::u16string text = label.text.GetText();
    return std::stod(std::string(text.begin(), text.end() - (text.empty() ? 0 : 1)));
}

// Runs tests/annotation/scripts/angle_oracle.py on the cases; one angle a case.
std::vector<double> OracleAngles(const std::string& cases)
{
    const std::string path = std::string(ORBEL_BINARY_DIR) + "/angle_oracle_" + std::to_string(getpid()) + ".in";
    std::ofstream(path) << cases;
    const std::string cmd =
        OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tests/annotation/scripts/angle_oracle.py") + " < '" + path + "'";
    std::vector<double> out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        for (double v; fscanf(p, "%lf", &v) == 1;)
            out.push_back(v);
        EXPECT_EQ(0, pclose(p)) << cmd;
    }
    std::remove(path.c_str());
    return out;
}

} // namespace

// Angles on the patient: with 0.25 mm between columns and 0.5 mm between rows (a Pixel
// Spacing of 0.5\0.25, rows first) the protractor and the Cobb angle agree with numpy's in
// plain, zoomed, turned and mirrored views; with square pixels they show what the screen
// shows, as without a spacing.
TEST_F(AnnAngle, AnglesMeasuredInMillimetres)
{
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    struct View {
        int turns, mirror;
        double zoom;
    } views[] = {{0, 0, 1.0}, {0, 0, 2.0}, {1, 0, 1.0}, {1, 1, 3.0}, {2, 0, 2.0}, {3, 1, 1.0}};
    // Image pixels: vertex and arm ends; line ends and perpendicular points (s1 e1 p1 s2 e2 p2).
    const std::vector<std::vector<POINT>> protractors = {
        {{100, 100}, {180, 140}, {130, 30}}, {{50, 200}, {250, 120}, {90, 60}}, {{200, 200}, {300, 200}, {200, 100}}};
    const std::vector<std::vector<POINT>> cobbs = {
        {{100, 300}, {300, 300}, {200, 150}, {100, 100}, {273, 200}, {180, 262}},
        {{80, 320}, {320, 280}, {200, 150}, {100, 60}, {260, 220}, {150, 260}}};
    const auto inView = [](const AnnViewMapping& m, const std::vector<POINT>& image) {
        std::vector<POINT> out;
        for (const POINT& p : image)
            out.push_back(MapImageToView(m, p.x, p.y));
        return out;
    };
    const auto measure = [&](const AnnViewMapping& geometry, std::vector<double>& shown) {
        m = geometry;
        for (const auto& image : protractors) {
            const std::vector<POINT> v = inView(m, image);
            COrbelAnnProtractor p;
            Clicked(&p, {v[0], v[1], v[2]});
            shown.push_back(Shown(p.label));
        }
        for (const auto& image : cobbs) {
            const std::vector<POINT> v = inView(m, image);
            COrbelAnnCobbAngle c;
            Clicked(&c, {v[0], v[1], v[2], v[3], v[4], v[5]});
            EXPECT_TRUE(c.gaugeShown);
            shown.push_back(Shown(c.gauge.label));
        }
    };
    std::string cases;
    for (const auto& p : protractors)
        cases += "protractor 0.25 0.5 " + std::to_string(p[0].x) + " " + std::to_string(p[0].y) + " " +
                 std::to_string(p[1].x) + " " + std::to_string(p[1].y) + " " + std::to_string(p[2].x) + " " +
                 std::to_string(p[2].y) + "\n";
    for (const auto& c : cobbs)
        cases += "cobb 0.25 0.5 " + std::to_string(c[0].x) + " " + std::to_string(c[0].y) + " " +
                 std::to_string(c[1].x) + " " + std::to_string(c[1].y) + " " + std::to_string(c[3].x) + " " +
                 std::to_string(c[3].y) + " " + std::to_string(c[4].x) + " " + std::to_string(c[4].y) + "\n";
    const std::vector<double> expected = OracleAngles(cases);
    ASSERT_EQ(expected.size(), protractors.size() + cobbs.size());
    for (const View& view : views) {
        SCOPED_TRACE("turns " + std::to_string(view.turns) + " mirror " + std::to_string(view.mirror) + " zoom " +
                     std::to_string(view.zoom));
        AnnViewMapping g;
        g.mirror = view.mirror;
        g.quarterTurns = view.turns;
        g.zoomX = g.zoomY = view.zoom;
        g.extentX = g.extentY = 400;
        g.scaleA = 0.25; // columns
        g.scaleB = 0.5;  // rows
        std::vector<double> mm, square, unknown;
        measure(g, mm);
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(mm[i], expected[i], 0.05 + 1e-9) << "case " << i;
        g.scaleA = g.scaleB = 0.4;
        measure(g, square);
        g.scaleA = g.scaleB = -1;
        measure(g, unknown);
        EXPECT_EQ(square, unknown);
        EXPECT_NE(mm, unknown);
    }
}
