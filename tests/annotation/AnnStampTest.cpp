// The bitmap stamp: placement, quarter turns, handles, the stored record, and the stamp made
// through a document on a stand-in window.
#include "AnnTestSupport.h"
#include "AnnWindowSupport.h"

#include "annotation/AnnObjectFactory.h"
#include "annotation/CurrentStamp.h"
#include "annotation/OrbelAnnStamp.h"
#include "diagnostics/Logging.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

using namespace anntest;

namespace {

// A w x h 24-bit picture of seeded colours, as a BMP file image.
std::vector<unsigned char> Bmp(DWORD w, DWORD h, RxImage* picture = nullptr)
{
    RxImage im(w, h, 24);
    uint32_t seed = w * 7 + h;
    for (long y = 0; y < long(h); ++y)
        for (long x = 0; x < long(w); ++x) {
            seed = seed * 1664525u + 1013904223u;
            im.SetPixelColor(x, y, RGBQUAD{BYTE(seed >> 8), BYTE(seed >> 16), BYTE(seed >> 24), 0});
        }
    BYTE* buffer = nullptr;
    long size = 0;
    EXPECT_TRUE(im.Encode(buffer, size, RXIMAGE_FORMAT_BMP));
    std::vector<unsigned char> bytes(buffer, buffer + size);
    std::free(buffer);
    if (picture)
        *picture = im;
    return bytes;
}

bool SamePixels(const RxImage& a, const RxImage& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return false;
    for (long y = 0; y < long(a.GetHeight()); ++y)
        for (long x = 0; x < long(a.GetWidth()); ++x) {
            const RGBQUAD p = a.GetPixelColor(x, y, false), q = b.GetPixelColor(x, y, false);
            if (p.rgbBlue != q.rgbBlue || p.rgbGreen != q.rgbGreen || p.rgbRed != q.rgbRed)
                return false;
        }
    return true;
}

struct StampFixture : ::testing::Test {
    AnnViewMapping mapping;
    RxImage picture;
    void SetUp() override
    {
        mapping.mirror = 0;
        mapping.extentX = 320;
        mapping.extentY = 240;
        currentStampName = u"OK";
        currentStampBitmap = Bmp(32, 16, &picture);
        annShared.currentTool = kAnnTypeStamp;
    }
    void TearDown() override
    {
        currentStampName.clear();
        currentStampBitmap.clear();
    }
    std::unique_ptr<COrbelAnnStamp> Make(int turns = 0)
    {
        mapping.quarterTurns = turns;
        std::unique_ptr<COrbelAnnStamp> s(static_cast<COrbelAnnStamp*>(CreateAnnObjectForTool(&mapping)));
        EXPECT_TRUE(s);
        if (s)
            s->BeginCreate(100, 50);
        return s;
    }
};

TEST_F(StampFixture, PlacementTurnsAndHandles)
{
    auto s = Make();
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->viewRect.left == 100 && s->viewRect.top == 50 && s->viewRect.right == 132 && s->viewRect.bottom == 66);
    EXPECT_EQ(s->stampName, u"OK");
    EXPECT_TRUE(SamePixels(s->sourceImage, picture));

    struct Turn {
        int turns;
        float angle; // 0: unturned
        DWORD w, h;
    } turns[] = {{1, 90, 18, 34}, {2, 0, 32, 16}, {3, -90, 18, 34}, {1, 90, 18, 34}, {1, 90, 18, 34}, {0, 0, 32, 16}};
    for (const Turn& t : turns) {
        mapping.quarterTurns = t.turns;
        s->SetGeometry(&mapping);
        s->SyncCoordinates(false);
        RxImage expected(picture);
        if (t.angle != 0) {
            ASSERT_TRUE(expected.Rotate(t.angle));
        }
        EXPECT_EQ(s->shownImage.GetWidth(), t.w) << t.turns;
        EXPECT_EQ(s->shownImage.GetHeight(), t.h) << t.turns;
        EXPECT_TRUE(SamePixels(s->shownImage, expected)) << t.turns;
    }
    EXPECT_EQ(s->storedTurns, 0);

    // Handles: a press selects a mode; edges and inside move the whole stamp, corners resize.
    struct Press {
        int x, y, mode;
        RECT after; // after a drag by (+7, +3)
    } presses[] = {
        {101, 51, 5, {108, 54, 132, 66}}, {131, 65, 6, {100, 50, 138, 68}}, {132, 50, 7, {100, 53, 139, 66}},
        {100, 66, 8, {107, 50, 132, 69}}, {100, 58, 1, {107, 53, 139, 69}}, {132, 58, 2, {107, 53, 139, 69}},
        {116, 50, 3, {107, 53, 139, 69}}, {116, 66, 4, {107, 53, 139, 69}}, {116, 58, 9, {107, 53, 139, 69}},
    };
    for (const Press& p : presses) {
        auto t = Make();
        ASSERT_EQ(t->HitTest(p.x, p.y), t.get());
        EXPECT_EQ(t->dragMode, p.mode) << p.x << "," << p.y;
        t->DragTo(p.x + 7, p.y + 3);
        t->EndCreate(p.x + 7, p.y + 3);
        t->ImageToView();
        const RECT& v = t->viewRect;
        EXPECT_TRUE(v.left == p.after.left && v.top == p.after.top && v.right == p.after.right &&
                    v.bottom == p.after.bottom)
            << "mode " << p.mode << ": " << v.left << "," << v.top << "," << v.right << "," << v.bottom;
    }
    EXPECT_EQ(Make()->HitTest(200, 200), nullptr);
}

TEST_F(StampFixture, RecordRoundTripsThroughTextAndScript)
{
    COrbelAnnContainer c;
    auto s = Make(2);
    ASSERT_TRUE(s);
    mapping.quarterTurns = 0;
    s->SetGeometry(&mapping);
    EXPECT_EQ(s->storedTurns, 2);
    c.Add(s.release());
    const std::string text = Store(c);
    EXPECT_EQ(text.size(), 2u * 1676);

    COrbelAnnContainer back;
    ASSERT_EQ(Load(text, back), "");
    EXPECT_EQ(Store(back), text);
    auto* loaded = dynamic_cast<COrbelAnnStamp*>(back.At(0));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->storedTurns, 2);
    EXPECT_TRUE(SamePixels(loaded->sourceImage, picture));

    // Nothing is drawn until the next geometry update rebuilds the shown picture.
    Canvas canvas(320, 240, 3); // placed under a half turn: (100, 50) is image (220, 190)
    const auto before = canvas.Pixels();
    loaded->SetGeometry(&mapping);
    loaded->Draw(canvas.dc);
    EXPECT_EQ(canvas.Pixels(), before);
    loaded->SyncCoordinates(false);
    loaded->Draw(canvas.dc);
    EXPECT_NE(canvas.Pixels(), before);

    const std::string listing = RunScript("decode", text);
    EXPECT_EQ(listing.rfind("COrbelAnnContainer version=1017 count=1\nCOrbelAnnStamp stampName=OK sourceImage=424d", 0), 0u)
        << listing.substr(0, 120);
    EXPECT_NE(listing.find(" type=11 complete=1 creating=0 selected=0 imageCorner1.x=220 imageCorner1.y=190 "
                           "imageCorner2.x=188 imageCorner2.y=174 turnsCaptured=1 storedTurns=2\n"),
              std::string::npos)
        << listing.substr(listing.find(" type="));
    EXPECT_EQ(RunScript("encode", listing), text + "\n");
}

class AnnStampDocumentTest : public AnnWindowTest {
protected:
    void TearDown() override
    {
        currentStampName.clear();
        currentStampBitmap.clear();
        AnnWindowTest::TearDown();
    }
};

void CountCall(void* context) { ++*static_cast<int*>(context); }

TEST_F(AnnStampDocumentTest, PressPlacesTheStampOrNothing)
{
    HWND h = Window(320, 240);
    UpdateWindow(h);
    int calls = 0;
    OrbelAnnWrapper::SetObjectCreatedCallback(CountCall, &calls);
    OrbelAnnWrapper w;
    w.Attach(h);
    w.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, 0.5, 0.5));
    OrbelAnnWrapper::SetTool(kAnnTypeStamp);

    const std::string drive = std::string(ORBEL_BINARY_DIR) + "/ann_stamp_log";
    std::filesystem::create_directories(drive);
    setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
    initLogFile(u"C:\\Stamp.Log", 1, 1, 0);
    currentStampName = u"OK";
    for (const std::vector<unsigned char>& bad :
         {std::vector<unsigned char>{}, std::vector<unsigned char>{'n', 'o', 't', ' ', 'b', 'm', 'p'}, Bmp(4097, 1)}) {
        currentStampBitmap = bad;
        Press(h, 100, 50);
        Release(h, 100, 50);
    }
    closeLogFile();
    initLogFile(nullptr, 0, 1, 1);
    unsetenv("ORBEL_DRIVE_C");
    std::stringstream log;
    log << std::ifstream(drive + "/Stamp.Log").rdbuf();
    EXPECT_NE(log.str().find("4097 x 1"), std::string::npos) << log.str();
    EXPECT_EQ(Doc(w)->container.Count(), 0);
    EXPECT_EQ(calls, 0);

    RxImage picture;
    currentStampBitmap = Bmp(32, 16, &picture);
    Press(h, 100, 50);
    Release(h, 100, 50);
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(Doc(w)->container.Count(), 1);

    Canvas canvas(320, 240, 9);
    const auto before = canvas.Pixels();
    w.Draw(canvas.dc);
    const auto after = canvas.Pixels();
    int bad = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const size_t at = size_t(y * 320 + x) * 4;
            std::vector<uint8_t> want(before.begin() + long(at), before.begin() + long(at) + 4);
            if (x >= 100 && x < 132 && y >= 50 && y < 66) {
                const RGBQUAD c = picture.GetPixelColor(x - 100, 15 - (y - 50), false);
                want[0] = c.rgbBlue;
                want[1] = c.rgbGreen;
                want[2] = c.rgbRed;
            }
            bad += !std::equal(want.begin(), want.begin() + 3, after.begin() + long(at));
        }
    EXPECT_EQ(bad, 0);

    // While moved only the outline is drawn, by exclusive or: twice restores the surface.
    auto* stamp = static_cast<COrbelAnnStamp*>(Doc(w)->container.At(0));
    stamp->creating = 1;
    stamp->Draw(canvas.dc);
    const auto outlined = canvas.Pixels();
    EXPECT_NE(outlined, after);
    EXPECT_EQ(outlined[size_t(58 * 320 + 116) * 4], after[size_t(58 * 320 + 116) * 4]); // inside untouched
    stamp->Draw(canvas.dc);
    EXPECT_EQ(canvas.Pixels(), after);
}

} // namespace
