// Protractors and Cobb angles clicked through a document on every orientation of the
// view: their values against angles computed here from the image points, the arc found
// on the painted surface, rubber bands that leave no trace, and a stored blade that is
// kept, moved and deleted but never continued.
#include "AnnTestSupport.h"
#include "AnnWindowSupport.h"

#include "annotation/OrbelAnnBlade.h"
#include "annotation/OrbelAnnCobbAngle.h"

#include <cmath>
#include <cstring>
#include <random>

using namespace anntest;

namespace {

constexpr int kExtent = 400, kZoom = 2;
constexpr double kDegrees = 180 / 3.14159265358979323846;

// Image to view: mirror, then quarter turns clockwise on the screen, then the zoom.
POINT View(POINT p, int turns, int mirror)
{
    int x = mirror ? kExtent - p.x : p.x, y = p.y;
    for (int i = 0; i < turns; ++i) {
        const int t = x;
        x = kExtent - y;
        y = t;
    }
    return POINT{x * kZoom, y * kZoom};
}

double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

double AngleBetween(double ax, double ay, double bx, double by)
{
    return std::fabs(std::atan2(Cross(ax, ay, bx, by), ax * bx + ay * by)) * kDegrees;
}

double Shown(const COrbelAnnLabel& l) { return std::stod(Narrow(l.text.GetText())); }

// Distance from q to the ray from the origin along u.
double RayDistance(double qx, double qy, double ux, double uy)
{
    if (qx * ux + qy * uy <= 0)
        return std::hypot(qx, qy);
    return std::fabs(Cross(qx, qy, ux, uy)) / std::hypot(ux, uy);
}

// Every pixel the arc changed lies near the vertex, inside the smaller sector between the
// arms or within 2.5 pixels of it; returns how many changed.
int CheckArc(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, int width, POINT v, POINT a,
             POINT b)
{
    const double ux = a.x - v.x, uy = a.y - v.y, wx = b.x - v.x, wy = b.y - v.y, c = Cross(ux, uy, wx, wy);
    int changed = 0;
    const size_t row = size_t(width) * 4;
    for (size_t y = 0; y * row < before.size(); ++y) {
        if (!std::memcmp(&before[y * row], &after[y * row], row))
            continue;
        for (int x = 0; x < width; ++x) {
            if (!std::memcmp(&before[y * row + size_t(x) * 4], &after[y * row + size_t(x) * 4], 4))
                continue;
            ++changed;
            const double qx = x - v.x, qy = double(y) - v.y;
            const bool inside = Cross(ux, uy, qx, qy) * c >= 0 && Cross(qx, qy, wx, wy) * c >= 0;
            EXPECT_TRUE(std::hypot(qx, qy) <= 17 &&
                        (inside || RayDistance(qx, qy, ux, uy) <= 2.5 || RayDistance(qx, qy, wx, wy) <= 2.5))
                << "pixel " << x << "," << y << " vertex " << v.x << "," << v.y;
        }
    }
    return changed;
}

class AnnAngleView : public AnnWindowTest {
protected:
    static void Click(HWND h, POINT p)
    {
        Move(h, p.x, p.y);
        Press(h, p.x, p.y);
        Release(h, p.x, p.y);
    }
};

} // namespace

TEST_F(AnnAngleView, ProtractorsOnEveryOrientation)
{
    HWND h = Window(kExtent * kZoom, kExtent * kZoom), other = Window(kExtent * kZoom, kExtent * kZoom);
    std::mt19937 rng(43);
    std::uniform_real_distribution<double> turn(0, 360), opening(5, 175), length(10, 120);
    std::uniform_int_distribution<int> centre(130, 270);
    Canvas canvas(kExtent * kZoom, kExtent * kZoom, 9);
    HBRUSH grey = CreateSolidBrush(RGB(90, 90, 90));
    for (int o = 0; o < 8; ++o) {
        OrbelAnnWrapper w;
        w.Attach(h);
        w.SetViewGeometry(Geometry(o % 4, o / 4, kZoom, kExtent, kExtent, -1, -1));
        OrbelAnnWrapper::SetTool(9);
        for (int i = 0; i < 60; ++i) {
            const POINT v{centre(rng), centre(rng)};
            const double t1 = turn(rng) / kDegrees, t2 = t1 + opening(rng) / kDegrees, l1 = length(rng), l2 = length(rng);
            POINT a{int(std::lround(v.x + l1 * std::cos(t1))), int(std::lround(v.y + l1 * std::sin(t1)))};
            POINT b{int(std::lround(v.x + l2 * std::cos(t2))), int(std::lround(v.y + l2 * std::sin(t2)))};
            if (i % 2)
                std::swap(a, b);
            const POINT va = View(a, o % 4, o / 4), vb = View(b, o % 4, o / 4), vv = View(v, o % 4, o / 4);
            for (const POINT& p : {vv, va, vb})
                Click(h, p);
            COrbelAnnContainer& c = Doc(w)->container;
            ASSERT_EQ(c.Count(), i + 1);
            auto* p = dynamic_cast<COrbelAnnProtractor*>(c.At(i));
            ASSERT_TRUE(p);
            EXPECT_NEAR(Shown(p->label), AngleBetween(a.x - v.x, a.y - v.y, b.x - v.x, b.y - v.y), 0.1)
                << "orientation " << o << " protractor " << i;

            // A clean patch under the arc, so that earlier figures hide none of it.
            const RECT patch{vv.x - 24, vv.y - 24, vv.x + 25, vv.y + 25};
            FillRect(canvas.dc, &patch, grey);
            p->creating = 1;
            p->Draw(canvas.dc);
            const std::vector<uint8_t> withoutArc = canvas.Pixels();
            p->creating = 0;
            p->Draw(canvas.dc);
            // Below 10 degrees the arc's few pixels may all lie on the arms.
            const int changed = CheckArc(withoutArc, canvas.Pixels(), kExtent * kZoom, vv, va, vb);
            EXPECT_TRUE(changed >= 1 || Shown(p->label) < 10) << "orientation " << o << " protractor " << i;
        }
        // Loaded on another orientation: the texts stay, and the arc still opens
        // counter-clockwise on the screen from arm1 to arm2.
        OrbelAnnWrapper reloaded;
        reloaded.Attach(other);
        reloaded.SetViewGeometry(Geometry((o + 3) % 4, 1 - o / 4, kZoom, kExtent, kExtent, -1, -1));
        ASSERT_TRUE(reloaded.LoadAnnotationText(w.GetAnnotationText()));
        COrbelAnnContainer& c = Doc(w)->container;
        ASSERT_EQ(Doc(reloaded)->container.Count(), c.Count());
        for (int i = 0; i < c.Count(); ++i) {
            const auto* p = static_cast<COrbelAnnProtractor*>(Doc(reloaded)->container.At(i));
            EXPECT_EQ(p->label.text.GetText(), static_cast<COrbelAnnProtractor*>(c.At(i))->label.text.GetText());
            const POINT s = p->arm1.viewStart, e1 = p->arm1.viewEnd, e2 = p->arm2.viewEnd;
            EXPECT_LE(Cross(e1.x - s.x, e1.y - s.y, e2.x - s.x, e2.y - s.y), 0) << "protractor " << i;
        }
    }
    DeleteObject(grey);
}

TEST_F(AnnAngleView, CobbAnglesOnEveryOrientation)
{
    HWND h = Window(kExtent * kZoom, kExtent * kZoom);
    std::mt19937 rng(14);
    std::uniform_real_distribution<double> turn(0, 360), opening(5, 175), foot(20, 60), beyond(10, 40), half(30, 60);
    std::uniform_int_distribution<int> centre(150, 250);
    for (int o = 0; o < 8; ++o) {
        OrbelAnnWrapper w;
        w.Attach(h);
        w.SetViewGeometry(Geometry(o % 4, o / 4, kZoom, kExtent, kExtent, -1, -1));
        OrbelAnnWrapper::SetTool(14);
        for (int i = 0; i < 40; ++i) {
            // Each line runs through a foot some way from the crossing point X, and each
            // press lies beyond X, so that the perpendiculars cross near X.
            const double x = centre(rng), y = centre(rng);
            const double t1 = turn(rng) / kDegrees, t2 = t1 + opening(rng) / kDegrees;
            POINT ends[2][2], presses[2];
            for (int k = 0; k < 2; ++k) {
                const double t = k ? t2 : t1, nx = -std::sin(t), ny = std::cos(t), d = foot(rng), l = half(rng);
                const double fx = x + d * nx, fy = y + d * ny, e = beyond(rng);
                ends[k][0] = POINT{int(std::lround(fx - l * std::cos(t))), int(std::lround(fy - l * std::sin(t)))};
                ends[k][1] = POINT{int(std::lround(fx + l * std::cos(t))), int(std::lround(fy + l * std::sin(t)))};
                presses[k] = POINT{int(std::lround(x - e * nx)), int(std::lround(y - e * ny))};
            }
            const double expected =
                AngleBetween(ends[0][1].x - ends[0][0].x, ends[0][1].y - ends[0][0].y, ends[1][1].x - ends[1][0].x,
                             ends[1][1].y - ends[1][0].y);
            for (int directions = 0; directions < 4; ++directions) {
                for (int k = 0; k < 2; ++k) {
                    const bool reversed = directions >> k & 1;
                    Click(h, View(ends[k][reversed], o % 4, o / 4));
                    Click(h, View(ends[k][!reversed], o % 4, o / 4));
                    Click(h, View(presses[k], o % 4, o / 4));
                }
                COrbelAnnContainer& c = Doc(w)->container;
                ASSERT_EQ(c.Count(), 4 * i + directions + 1);
                auto* cobb = dynamic_cast<COrbelAnnCobbAngle*>(c.At(c.Count() - 1));
                ASSERT_TRUE(cobb);
                ASSERT_TRUE(cobb->angleValid) << "orientation " << o << " configuration " << i;
                EXPECT_NEAR(Shown(cobb->gauge.label), std::min(expected, 180 - expected), 0.1)
                    << "orientation " << o << " configuration " << i << " directions " << directions;
            }
        }
    }
}

TEST_F(AnnAngleView, RubberBandsLeaveNoTrace)
{
    struct Row {
        int tool;
        std::vector<POINT> clicks;
    } rows[] = {
        {9, {{100, 100}, {200, 100}, {100, 30}}},
        {14, {{40, 200}, {280, 200}, {150, 60}, {40, 40}, {250, 160}, {120, 180}}},
    };
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> rx(0, 319), ry(0, 239);
    for (const Row& r : rows) {
        HWND h = Window(320, 240);
        UpdateWindow(h);
        OrbelAnnWrapper w;
        w.Attach(h);
        w.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, -1, -1));
        OrbelAnnWrapper::SetTool(r.tool);
        const std::vector<uint8_t> before = Surface(h);
        for (const POINT& p : r.clicks) {
            for (int i = 0; i < 3; ++i)
                Move(h, rx(rng), ry(rng));
            Click(h, p);
        }
        ASSERT_EQ(Doc(w)->container.Count(), 1);
        Canvas expected(320, 240, 0);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                const uint8_t* p = &before[size_t(y * 320 + x) * 4];
                SetPixel(expected.dc, x, y, RGB(p[2], p[1], p[0]));
            }
        w.Draw(expected.dc);
        EXPECT_EQ(Surface(h), expected.Pixels()) << "tool " << r.tool;
        EXPECT_NE(Surface(h), before);
    }
}

TEST_F(AnnAngleView, StoredBladeIsMovedAndDeletedNeverContinued)
{
    AnnViewMapping m;
    m.mirror = 0;
    COrbelAnnContainer source;
    auto* made = new COrbelAnnBlade();
    made->SetGeometry(&m);
    for (const POINT& p : {POINT{50, 50}, POINT{150, 50}, POINT{150, 100}, POINT{50, 100}})
        made->BeginCreate(p.x, p.y);
    made->ViewToImage();
    source.Add(made);

    HWND h = Window(320, 240);
    OrbelAnnWrapper w;
    w.Attach(h);
    w.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, -1, -1));
    ASSERT_TRUE(w.LoadAnnotationText(Store(source)));
    COrbelAnnContainer& c = Doc(w)->container;
    ASSERT_EQ(c.Count(), 1);
    COrbelAnnObject* blade = c.At(0);
    EXPECT_FALSE(blade->IsComplete());
    Canvas canvas(320, 240, 5);
    const std::vector<uint8_t> blank = canvas.Pixels();
    blade->Draw(canvas.dc);
    EXPECT_EQ(canvas.Pixels(), blank);

    OrbelAnnWrapper::SetTool(1);
    Press(h, 100, 50);
    Move(h, 100, 60);
    Release(h, 100, 60);
    OrbelAnnWrapper::SetTool(8);
    Gesture(h, POINT{200, 150}, POINT{300, 200});
    ASSERT_EQ(c.Count(), 2);
    OrbelAnnWrapper::SetTool(1);
    Click(h, POINT{100, 50});
    SendMessageW(h, WM_KEYDOWN, VK_DELETE, 0);
    ASSERT_EQ(c.Count(), 1);
    EXPECT_EQ(c.At(0)->type, kAnnTypeRuler);
}
