// The view mapping against the test's own affine matrices, the hit-test geometry, the
// factories and the container's selection rules.
#include "AnnTestSupport.h"

#include "annotation/AnnObjectFactory.h"
#include "annotation/AnnShared.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>

using namespace anntest;

namespace {

using Affine = std::array<double, 6>; // x' = a x + b y + c, y' = d x + e y + f

Affine Then(const Affine& second, const Affine& first)
{
    return {second[0] * first[0] + second[1] * first[3], second[0] * first[1] + second[1] * first[4],
            second[0] * first[2] + second[1] * first[5] + second[2],
            second[3] * first[0] + second[4] * first[3], second[3] * first[1] + second[4] * first[4],
            second[3] * first[2] + second[4] * first[5] + second[5]};
}

// Image to view: reflect about the width, turn clockwise a quarter at a time about the
// current extent (which swaps it), zoom, shift to the origin.
Affine ImageToViewMatrix(int mirror, int turns, double zoom, int ox, int oy, int w, int h)
{
    Affine m = mirror ? Affine{-1, 0, double(w), 0, 1, 0} : Affine{1, 0, 0, 0, 1, 0};
    for (int i = 0; i < turns; ++i) {
        m = Then(Affine{0, -1, double(h), 1, 0, 0}, m);
        std::swap(w, h);
    }
    return Then(Affine{zoom, 0, double(ox), 0, zoom, double(oy)}, m);
}

AnnViewMapping Mapping(int mirror, int turns, double zoom, int ox, int oy, int w, int h)
{
    AnnViewMapping m;
    m.mirror = mirror;
    m.quarterTurns = turns;
    m.zoomX = m.zoomY = zoom;
    m.originX = ox;
    m.originY = oy;
    m.extentX = w;
    m.extentY = h;
    return m;
}

} // namespace

TEST(AnnMapping, WorkedValuesAndTurnIndex)
{
    const AnnViewMapping m = Mapping(0, 0, 2.0, 10, 20, 100, 80);
    ExpectPoint(MapViewToImage(m, 30, 40), 10, 10);
    ExpectPoint(MapImageToView(m, 10, 10), 30, 40);
    for (auto [turns, same] : {std::pair{-1, 3}, {5, 1}}) {
        const POINT a = MapImageToView(Mapping(1, turns, 1.0, 3, 4, 50, 40), 7, 9);
        const POINT b = MapImageToView(Mapping(1, same, 1.0, 3, 4, 50, 40), 7, 9);
        ExpectPoint(a, b.x, b.y);
    }
    // A zoom that no view has counts as 1:1.
    AnnViewMapping odd = Mapping(0, 0, 0.0, 10, 20, 100, 80);
    odd.zoomY = std::numeric_limits<double>::quiet_NaN();
    ExpectPoint(MapImageToView(odd, 5, 6), 15, 26);
    ExpectPoint(MapViewToImage(odd, 15, 26), 5, 6);
}

TEST(AnnMapping, EveryOrientationAgainstMatrixAndBack)
{
    const int w = 50, h = 40;
    for (int mirror : {0, 1})
        for (int turns = 0; turns < 4; ++turns)
            for (double zoom : {1.0, 2.0}) {
                SCOPED_TRACE(::testing::Message() << "mirror " << mirror << " turns " << turns << " zoom " << zoom);
                const AnnViewMapping m = Mapping(mirror, turns, zoom, 7, 11, w, h);
                const Affine a = ImageToViewMatrix(mirror, turns, zoom, 7, 11, w, h);
                int wrong = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const POINT v = MapImageToView(m, x, y);
                        const POINT back = MapViewToImage(m, v.x, v.y);
                        wrong += v.x != int(a[0] * x + a[1] * y + a[2]) || v.y != int(a[3] * x + a[4] * y + a[5]) ||
                                 back.x != x || back.y != y;
                    }
                EXPECT_EQ(wrong, 0);
            }
}

TEST(AnnMapping, ExtremeCoordinatesClamp)
{
    const int lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    for (int orientation = 0; orientation < 8; ++orientation) {
        const AnnViewMapping m = Mapping(orientation / 4, orientation, 10.0, hi, lo, lo, hi);
        for (const POINT p : {MapImageToView(m, lo, hi), MapImageToView(m, hi, lo), MapViewToImage(m, lo, hi)})
            EXPECT_TRUE(std::abs(double(p.x)) <= kAnnCoordinateLimit && std::abs(double(p.y)) <= kAnnCoordinateLimit);
    }
    const POINT p = MapImageToView(Mapping(0, 0, 10.0, 0, 0, 0, 0), hi, lo);
    EXPECT_TRUE(p.x == kAnnCoordinateLimit && p.y == -kAnnCoordinateLimit);
    EXPECT_EQ(AnnToInt(-5.0 + 0.5), -4);
}

TEST(AnnGeometry, NearSegmentAndDirection)
{
    const POINT p{20, 30};
    EXPECT_FALSE(IsNearPoint(p, POINT{22, 30}));
    EXPECT_TRUE(IsNearPoint(p, POINT{18, 30}));
    EXPECT_TRUE(IsNearPoint(p, POINT{21, 28}));
    EXPECT_TRUE(IsOnSegment(POINT{0, 0}, POINT{100, 0}, POINT{37, 0}));
    EXPECT_TRUE(IsOnSegment(POINT{0, 0}, POINT{100, 0}, POINT{50, 1}));  // detour 0.02
    EXPECT_FALSE(IsOnSegment(POINT{0, 0}, POINT{100, 0}, POINT{50, 3})); // detour 0.18
    EXPECT_FALSE(IsOnSegment(POINT{0, 0}, POINT{100, 0}, POINT{101, 0}));
    EXPECT_EQ(DirectionSine(p, p), 0.0);
    EXPECT_EQ(DirectionCosine(p, p), 0.0);
    EXPECT_DOUBLE_EQ(DirectionSine(POINT{1, 1}, POINT{4, 5}), 0.8);
    EXPECT_DOUBLE_EQ(DirectionCosine(POINT{1, 1}, POINT{4, 5}), 0.6);
}

TEST(AnnFactory, NamesAndTools)
{
    auto name = [](const char16_t* n) { return std::unique_ptr<COrbelAnnObject>(CreateAnnObjectByName(n)); };
    EXPECT_TRUE(dynamic_cast<COrbelAnnLine*>(name(u"COrbelAnnLine").get()));
    EXPECT_TRUE(dynamic_cast<COrbelAnnRectangle*>(name(u"COrbelAnnRectangle").get()));
    EXPECT_TRUE(dynamic_cast<COrbelAnnArrow*>(name(u"COrbelAnnArrow").get()));
    EXPECT_TRUE(dynamic_cast<COrbelAnnArrowMark*>(name(u"COrbelAnnArrowMark").get()));
    for (const char16_t* bad : {u"COrbelAnnContainer", u"corbelannline", u"", u"COrbelAnnLine "})
        EXPECT_EQ(name(bad), nullptr);

    AnnViewMapping m;
    const int saved = annShared.currentTool;
    annShared.currentTool = 10;
    std::unique_ptr<COrbelAnnObject> mark(CreateAnnObjectForTool(&m));
    ASSERT_TRUE(dynamic_cast<COrbelAnnArrowMark*>(mark.get()));
    EXPECT_EQ(mark->mapping, &m);
    EXPECT_EQ(mark->type, 10);
    for (int tool : {1, 99}) {
        annShared.currentTool = tool;
        EXPECT_EQ(CreateAnnObjectForTool(&m), nullptr);
    }
    annShared.currentTool = saved;
}

namespace {

// Stands for a text mark: type 7, selectable, with or without an open editor.
struct FakeTextMark : COrbelAnnArrowMark {
    explicit FakeTextMark(HWND editor) : editor(editor) { type = kAnnTypeTextMark; }
    HWND GetEditWindow() override { return editor; }
    HWND editor;
};

} // namespace

TEST(AnnContainer, HitSelectionAndDeletion)
{
    COrbelAnnContainer c;
    AnnViewMapping m;
    c.Add(Drawn(new COrbelAnnArrowMark(), 10, 10, 60, 10));
    c.Add(Drawn(new COrbelAnnArrowMark(), 30, 10, 90, 10));
    c.SetGeometry(&m);
    EXPECT_EQ(c.At(1)->mapping, &m);
    c.At(1)->SetSelected(true);
    EXPECT_EQ(c.HitTest(40, 10), c.At(0));
    EXPECT_TRUE(c.At(0)->IsSelected() && !c.At(1)->IsSelected());
    c.SelectAll();
    EXPECT_EQ(c.HitTest(40, 200), nullptr);
    EXPECT_FALSE(c.At(0)->IsSelected() || c.At(1)->IsSelected());

    HWND editor = reinterpret_cast<HWND>(uintptr_t(0x1234));
    c.Add(new FakeTextMark(editor));
    c.Add(new FakeTextMark(nullptr));
    c.SelectAll();
    c.At(1)->SetSelected(false);
    c.DeleteSelected();
    ASSERT_EQ(c.Count(), 2);
    EXPECT_EQ(c.At(1)->GetEditWindow(), editor);
}
