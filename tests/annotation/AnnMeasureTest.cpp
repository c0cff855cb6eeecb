// Rulers and area squares: their values against lengths and areas worked out here, on
// every orientation of the view, and the placement of their labels and ticks.
#include "AnnTestSupport.h"
#include "AnnWindowSupport.h"

#include "annotation/OrbelAnnSquare.h"

#include <cmath>
#include <cstdio>
#include <random>

using namespace anntest;

namespace {

std::string Value(double v, const char* unit)
{
    char b[64];
    std::snprintf(b, sizeof b, "%.2f%s", v, unit);
    return b;
}

// Image to view by mirroring, then turning a quarter clockwise at a time.
POINT ToView(POINT p, const AnnViewGeometry& g)
{
    int w = g.extentX, h = g.extentY, x = p.x, y = p.y;
    if (g.mirror)
        x = w - x;
    for (int i = 0; i < g.quarterTurns; ++i) {
        const int nx = h - y, ny = x;
        x = nx;
        y = ny;
        std::swap(w, h);
    }
    return POINT{int(x * g.zoomX) + g.originX, int(y * g.zoomY) + g.originY};
}

double Shoelace(const double (&x)[4], const double (&y)[4])
{
    double s = 0;
    for (int i = 0; i < 4; ++i)
        s += x[i] * y[(i + 1) % 4] - x[(i + 1) % 4] * y[i];
    return std::fabs(s) / 2;
}

class AnnMeasureTest : public AnnWindowTest {};

} // namespace

TEST_F(AnnMeasureTest, ValuesOnEveryOrientation)
{
    HWND h = Window(420, 420);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> ix(0, 149), iy(0, 119);
    for (int o = 0; o < 16; ++o) {
        const bool known = o % 3 != 2;
        const double sA = known ? 0.25 : (o % 2 ? 0.0 : 0.25), sB = known ? 0.5 : (o % 2 ? 0.5 : -1.0);
        AnnViewGeometry g = Geometry(o % 4, o / 4 % 2, o < 8 ? 1.0 : 2.0, 150, 120, sA, sB);
        g.originX = 30;
        g.originY = 20;
        OrbelAnnWrapper w;
        w.Attach(h);
        w.SetViewGeometry(g);
        for (int i = 0; i < 20; ++i) {
            const POINT a{ix(rng), iy(rng)}, b{ix(rng), iy(rng)};
            const double dx = (a.x - b.x) * (known ? sA : 1), dy = (a.y - b.y) * (known ? sB : 1);
            OrbelAnnWrapper::SetTool(8);
            Gesture(h, ToView(a, g), ToView(b, g));
            OrbelAnnWrapper::SetTool(2);
            Gesture(h, ToView(a, g), ToView(b, g));
            COrbelAnnContainer& c = Doc(w)->container;
            ASSERT_EQ(c.Count(), 2 * (i + 1));
            auto* ruler = dynamic_cast<COrbelAnnRuler*>(c.At(2 * i));
            auto* square = dynamic_cast<COrbelAnnSquare*>(c.At(2 * i + 1));
            ASSERT_TRUE(ruler && square);
            EXPECT_EQ(Narrow(ruler->label.text.GetText()), Value(std::sqrt(dx * dx + dy * dy), known ? "mm" : "pt"))
                << "orientation " << o << " pair " << i;
            const double cx[4] = {double(a.x), double(b.x), double(b.x), double(a.x)};
            const double cy[4] = {double(a.y), double(a.y), double(b.y), double(b.y)};
            double mx[4], my[4];
            for (int k = 0; k < 4; ++k) {
                mx[k] = cx[k] * (known ? sA : 1);
                my[k] = cy[k] * (known ? sB : 1);
            }
            EXPECT_EQ(Narrow(square->label.text.GetText()), Value(Shoelace(mx, my), known ? "mm2" : "pt2"))
                << "orientation " << o << " pair " << i;
        }
    }
}

namespace {

struct Identity : ::testing::Test {
    AnnViewMapping m;
    void SetUp() override
    {
        annShared.currentWindow = nullptr;
        m.mirror = 0;
        m.scaleA = m.scaleB = 0.5;
    }
    COrbelAnnRuler* Ruler(int x1, int y1, int x2, int y2)
    {
        auto* r = new COrbelAnnRuler();
        r->SetGeometry(&m);
        return Drawn(r, x1, y1, x2, y2);
    }
};

} // namespace

TEST_F(Identity, TextsByUnit)
{
    struct Row {
        double sA, sB;
        bool square;
        int x1, y1, x2, y2;
        const char* text;
    } rows[] = {
        {0.5, 0.5, false, 0, 0, 30, 40, "25.00mm"},     {-1, 0.5, false, 0, 0, 30, 40, "50.00pt"},
        {0, 0.5, false, 0, 0, 30, 40, "50.00pt"},       {0.5, 0.5, true, 10, 10, 30, 50, "200.00mm2"},
        {0.5, -0.5, true, 10, 10, 30, 50, "800.00pt2"},
    };
    for (const Row& r : rows) {
        m.scaleA = r.sA;
        m.scaleB = r.sB;
        std::unique_ptr<COrbelAnnRuler> ruler;
        std::unique_ptr<COrbelAnnSquare> square(r.square ? new COrbelAnnSquare() : nullptr);
        if (square) {
            square->SetGeometry(&m);
            Drawn(square.get(), r.x1, r.y1, r.x2, r.y2);
        } else {
            ruler.reset(Ruler(r.x1, r.y1, r.x2, r.y2));
        }
        EXPECT_EQ(Narrow((square ? square->label : ruler->label).text.GetText()), r.text);
    }
}

TEST_F(Identity, LabelAndTickPlacement)
{
    struct Row {
        int x1, y1, x2, y2, textX, textY, targetX, targetY;
    } rows[] = {{100, 100, 200, 120, 210, 130, 200, 120}, {200, 120, 100, 100, 210, 130, 200, 120},
                {50, 200, 50, 100, 60, 210, 50, 200}};
    for (const Row& r : rows) {
        std::unique_ptr<COrbelAnnRuler> ruler(Ruler(r.x1, r.y1, r.x2, r.y2));
        ExpectPoint(POINT{ruler->label.text.viewRect.left, ruler->label.text.viewRect.top}, r.textX, r.textY);
        ExpectPoint(ruler->label.arrow.shaft.viewEnd, r.targetX, r.targetY);
    }
    std::unique_ptr<COrbelAnnRuler> flat(Ruler(50, 50, 150, 50)), up(Ruler(0, 0, 0, -100));
    EXPECT_EQ(std::vector<int>(flat->tickEnds, flat->tickEnds + 8),
              (std::vector<int>{50, 45, 50, 55, 150, 55, 150, 45}));
    // -5.0 + 0.5 truncates to -4.
    EXPECT_EQ(std::vector<int>(up->tickEnds, up->tickEnds + 4), (std::vector<int>{-4, 0, 5, 0}));
}

TEST_F(Identity, OnlyEndPointDragsRecomputeAndLeaderRelinks)
{
    std::unique_ptr<COrbelAnnRuler> r(Ruler(100, 100, 200, 120));
    EXPECT_EQ(Narrow(r->label.text.GetText()), "50.99mm");
    m.scaleA = m.scaleB = 1.0; // a recomputed text would now differ
    ASSERT_EQ(r->HitTest(150, 110), r.get());
    r->DragTo(160, 120);
    r->EndCreate(160, 120);
    ExpectPoint(r->measured.viewStart, 110, 110);
    EXPECT_EQ(Narrow(r->label.text.GetText()), "50.99mm");

    const RECT box = r->label.text.viewRect;
    const int gx = box.right - 2, gy = box.bottom - 2; // clear of the line's end at the box's corner
    ASSERT_EQ(r->HitTest(gx, gy), r.get());
    r->DragTo(gx - 200, gy - 150);
    r->EndCreate(gx - 200, gy - 150);
    EXPECT_EQ(Narrow(r->label.text.GetText()), "50.99mm");
    // The box now lies up and left of the line: its bottom-right corner meets the start.
    const RECT moved = r->label.text.viewRect;
    EXPECT_EQ(moved.left, box.left - 200);
    ExpectPoint(r->label.arrow.shaft.viewStart, moved.right, moved.bottom);
    ExpectPoint(r->label.arrow.shaft.viewEnd, 110, 110);

    ASSERT_EQ(r->HitTest(110, 110), r.get());
    r->DragTo(10, 10);
    r->EndCreate(10, 10);
    EXPECT_EQ(Narrow(r->label.text.GetText()), "233.24mm");
}
