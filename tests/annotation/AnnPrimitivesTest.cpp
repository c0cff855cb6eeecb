// Line, rectangle, arrow and arrow mark: editing worked by hand, and drawing judged on
// the painted pixels of a memory bitmap.
#include "AnnTestSupport.h"

#include "annotation/AnnShared.h"
#include "platform/ModuleStartup.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using namespace anntest;

TEST(AnnPrimitives, LineShadowAndHit)
{
    struct {
        int x2, y2, dx, dy;
    } shadows[] = {{30, 15, 0, 1}, {12, 40, 1, 0}, {10, 40, 1, 0}, {-20, -40, 1, 0}, {-20, 10, 0, 1}};
    for (auto& s : shadows) {
        COrbelAnnLine line;
        Drawn(&line, 10, 10, s.x2, s.y2);
        EXPECT_TRUE(line.shadowDx == s.dx && line.shadowDy == s.dy) << s.x2 << "," << s.y2;
    }
    COrbelAnnLine shortLine;
    Drawn(&shortLine, 10, 10, 11, 10);
    EXPECT_EQ(shortLine.HitTest(11, 11), &shortLine);
    EXPECT_EQ(shortLine.dragPart, COrbelAnnLine::kDragStart);
    COrbelAnnLine line;
    Drawn(&line, 10, 10, 50, 10);
    EXPECT_EQ(line.HitTest(30, 10), &line);
    line.DragTo(35, 12);
    line.EndCreate(35, 12);
    ExpectPoint(line.viewStart, 15, 12);
    ExpectPoint(line.viewEnd, 55, 12);
    EXPECT_EQ(line.HitTest(30, 40), nullptr);
}

TEST(AnnPrimitives, ArrowHeads)
{
    COrbelAnnArrow arrow;
    Drawn(&arrow, 100, 100, 200, 100);
    ExpectPoint(arrow.wing1Tip, 190, 95);
    ExpectPoint(arrow.wing2Tip, 190, 105);
    ExpectPoint(arrow.wing1.viewStart, 200, 100);
    COrbelAnnArrow dot;
    Drawn(&dot, 50, 60, 50, 60);
    ExpectPoint(dot.wing1Tip, 50, 60);
    ExpectPoint(dot.wing2Tip, 50, 60);

    // Loaded arrows carry only image points; the head comes back at ImageToView.
    COrbelAnnContainer one, back;
    auto* source = new COrbelAnnArrow();
    source->shaft.imageStart = POINT{100, 100};
    source->shaft.imageEnd = POINT{200, 100};
    one.Add(source);
    ASSERT_EQ(Load(Store(one), back), "");
    AnnViewMapping m;
    m.mirror = 0;
    back.SetGeometry(&m);
    back.ImageToView();
    auto* loaded = dynamic_cast<COrbelAnnArrow*>(back.At(0));
    ASSERT_NE(loaded, nullptr);
    ExpectPoint(loaded->wing1Tip, 190, 95);
    ExpectPoint(loaded->wing2Tip, 190, 105);
}

TEST(AnnPrimitives, RectangleDragsAndSelectionAnswers)
{
    COrbelAnnRectangle r;
    Drawn(&r, 10, 10, 50, 40);
    EXPECT_EQ(r.HitTest(50, 10), &r); // corner (x2, y1)
    EXPECT_EQ(r.dragPart, COrbelAnnRectangle::kDragCorner21);
    r.DragTo(60, 5);
    r.EndCreate(60, 5);
    EXPECT_TRUE(r.viewRect.left == 10 && r.viewRect.top == 5 && r.viewRect.right == 60 && r.viewRect.bottom == 40);
    EXPECT_EQ(r.HitTest(10, 25), &r); // left edge
    r.DragTo(15, 30);
    r.EndCreate(15, 30);
    EXPECT_TRUE(r.viewRect.left == 15 && r.viewRect.top == 10 && r.viewRect.right == 65 && r.viewRect.bottom == 45);

    COrbelAnnLine line;
    COrbelAnnArrow arrow;
    COrbelAnnArrowMark mark;
    for (COrbelAnnObject* o : std::initializer_list<COrbelAnnObject*>{&line, &r, &arrow, &mark})
        o->SetSelected(true);
    EXPECT_FALSE(line.IsSelected() || r.IsSelected() || arrow.IsSelected());
    EXPECT_TRUE(mark.IsSelected());
    EXPECT_TRUE(mark.arrow.shaft.selected && mark.arrow.wing2.selected);
}

class AnnDrawing : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSharedPens();
        annShared.penStyle = PS_SOLID;
        annShared.penWidth = 1;
        CreateSharedPens();
    }
    void TearDown() override { DeleteSharedPens(); }

    // Draws through f and checks that the context comes back as it was.
    void Draw(Canvas& c, const std::function<void(HDC)>& f)
    {
        const int rop = GetROP2(c.dc);
        HGDIOBJ pen = GetCurrentObject(c.dc, OBJ_PEN);
        const int live = platform::LiveGdiObjects();
        f(c.dc);
        EXPECT_EQ(GetROP2(c.dc), rop);
        EXPECT_EQ(GetCurrentObject(c.dc, OBJ_PEN), pen);
        EXPECT_EQ(platform::LiveGdiObjects(), live);
    }
};

TEST_F(AnnDrawing, RubberBandsDrawnTwiceVanish)
{
    COrbelAnnLine line;
    COrbelAnnRectangle rect;
    COrbelAnnArrow arrow;
    COrbelAnnArrowMark mark;
    std::pair<const char*, COrbelAnnObject*> shapes[] = {{"line", &line}, {"rectangle", &rect}, {"arrow", &arrow},
                                                         {"arrow mark", &mark}};
    for (auto& [name, o] : shapes) {
        SCOPED_TRACE(name);
        o->BeginCreate(5, 7);
        o->DragTo(41, 29);
        Canvas c(48, 36, 11);
        const std::vector<uint8_t> before = c.Pixels();
        Draw(c, [&](HDC dc) { o->Draw(dc); });
        EXPECT_NE(c.Pixels(), before);
        Draw(c, [&](HDC dc) { o->Draw(dc); });
        EXPECT_EQ(c.Pixels(), before);
    }
}

TEST_F(AnnDrawing, CompleteShapesAreWhiteOverBlackShadow)
{
    const uint32_t white = 0xFFFFFF, black = 0;
    struct Case {
        const char* name;
        COrbelAnnObject* shape;
        std::set<std::pair<int, int>> outline; // white pixels
        int sx, sy;                            // the black copy's offset
    };
    std::set<std::pair<int, int>> row, column, box;
    for (int i = 10; i < 40; ++i)
        row.insert({i, 20}), column.insert({20, i});
    for (int i = 10; i <= 30; ++i)
        box.insert({i, 12}), box.insert({i, 25});
    for (int y = 12; y <= 25; ++y)
        box.insert({10, y}), box.insert({30, y});
    COrbelAnnLine h, v;
    COrbelAnnRectangle r;
    Case cases[] = {{"horizontal", Drawn(&h, 10, 20, 40, 20), row, 0, 1},
                    {"vertical", Drawn(&v, 20, 10, 20, 40), column, 1, 0},
                    {"rectangle", Drawn(&r, 30, 25, 10, 12), box, 1, 1}}; // drawn from the bottom right
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Canvas c(48, 48, 5);
        const std::vector<uint8_t> before = c.Pixels();
        Draw(c, [&](HDC dc) { k.shape->Draw(dc); });
        const std::vector<uint8_t> after = c.Pixels();
        int wrong = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const size_t at = 4 * size_t(y * c.w + x);
                const uint32_t px = after[at] << 16 | after[at + 1] << 8 | after[at + 2];
                const uint32_t was = before[at] << 16 | before[at + 1] << 8 | before[at + 2];
                const uint32_t want = k.outline.count({x, y})                   ? white
                                      : k.outline.count({x - k.sx, y - k.sy}) ? black
                                                                              : was;
                wrong += px != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(AnnDrawing, WithoutPensTheContextPenStays)
{
    DeleteSharedPens();
    Canvas c(48, 48, 9);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HGDIOBJ old = SelectObject(c.dc, red);
    COrbelAnnLine h;
    Drawn(&h, 10, 20, 40, 20);
    Draw(c, [&](HDC dc) { h.Draw(dc); });
    EXPECT_EQ(GetPixel(c.dc, 25, 20), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(c.dc, 25, 21), RGB(255, 0, 0));
    SelectObject(c.dc, old);
    DeleteObject(red);
}

TEST(AnnSharedPens, UnloadDeletesThePens)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(ModuleLoad());
        annShared.penStyle = PS_SOLID;
        CreateSharedPens();
        const int live = platform::LiveGdiObjects();
        ModuleUnload();
        EXPECT_EQ(platform::LiveGdiObjects(), live - 4);
        EXPECT_FALSE(annShared.pensCreated);
    }
}
