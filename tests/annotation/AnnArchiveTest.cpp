// The archive's byte layout through its text, worked out by hand, and texts that are
// damaged or hostile.
#include "AnnTestSupport.h"

#include "imagelib/RxImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace anntest;

namespace {

std::string Text(const std::function<void(COrbelArchive&)>& write)
{
    COrbelArchive ar(0);
    write(ar);
    std::string text;
    return COrbelArchive::ToHex(ar, text);
}

COrbelArchive Reading(const std::string& text)
{
    COrbelArchive ar(1);
    EXPECT_TRUE(COrbelArchive::FromHex(text, ar)) << ar.Error();
    return ar;
}

} // namespace

TEST(AnnArchive, PrimitiveTextsAndReadBack)
{
    EXPECT_EQ(Text([](COrbelArchive& ar) { ar << 1 << 2; }), "0000000200000001");
    EXPECT_EQ(Text([](COrbelArchive& ar) { ar << CString(u"AB"); }), "0042004100000004");
    EXPECT_EQ(Text([](COrbelArchive& ar) { ar << CString(); }), "00000000");
    EXPECT_EQ(Text([](COrbelArchive& ar) { ar << 1.0; }), "3ff0000000000000");
    COrbelAnnContainer empty;
    EXPECT_EQ(Store(empty), "00000000000003f9");

    // Odd last digit dropped; upper case and surrounding blanks accepted.
    for (const char* text : {"00000002000000017", " \t0000000200000001\r\n"}) {
        COrbelArchive ar = Reading(text);
        int a = 0, b = 0;
        ar >> a >> b;
        EXPECT_TRUE(a == 1 && b == 2 && !ar.Underflow()) << text;
    }
    COrbelArchive upper = Reading("0042004100000004000000003FF0000000000000");
    double d = 0;
    CString ab, none = u"x";
    upper >> d >> none >> ab;
    EXPECT_TRUE(d == 1.0 && none.empty() && ab == u"AB" && upper.IsEmpty());
}

TEST(AnnArchive, BitmapTravelsAsReversedBmp)
{
    RxImage image(2, 2, 24);
    const COLORREF colours[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(12, 34, 56)};
    for (int i = 0; i < 4; ++i)
        image.SetPixelColor(i % 2, i / 2, colours[i]);
    const std::string text = Text([&](COrbelArchive& ar) { ar << image << 7; });
    // Last written first: 7, then the file reversed ("BM", 42 4d, at its end), then
    // n = 70 (14 + 40 header bytes, two rows of 6 pixels padded to 8).
    ASSERT_EQ(text.size(), 2u * (4 + 4 + 70));
    EXPECT_EQ(text.substr(0, 8), "00000007");
    EXPECT_EQ(text.substr(text.size() - 12), "4d42" "00000046");

    COrbelArchive ar = Reading(text);
    RxImage back;
    int seven = 0;
    ar >> back >> seven;
    EXPECT_EQ(seven, 7);
    ASSERT_TRUE(back.IsValid());
    ASSERT_EQ(back.GetWidth(), 2u);
    for (int i = 0; i < 4; ++i) {
        RGBQUAD q = back.GetPixelColor(i % 2, i / 2);
        EXPECT_EQ(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue), colours[i]) << i;
    }
}

TEST(AnnArchive, HostileLengthsAndCounts)
{
    // Ten bytes of data under a string length that is far too long, or negative.
    for (int n : {0x7FFFFFFF, -8}) {
        COrbelArchive ar = Reading(Text([&](COrbelArchive& w) {
            w << n;
            for (int i = 0; i < 10; ++i)
                w << BYTE('a' + i);
        }));
        CString s;
        ar >> s;
        // Ten bytes make five units, low byte first.
        const CString units{0x6261, 0x6463, 0x6665, 0x6867, 0x6a69};
        EXPECT_EQ(s, n > 0 ? units : CString()) << n;
    }
    // A bitmap said to be longer than what follows decodes nothing.
    RxImage image(2, 2, 24);
    COrbelArchive cut = Reading(Text([&](COrbelArchive& w) { w << image; }).substr(20));
    RxImage back;
    cut >> back;
    EXPECT_FALSE(back.IsValid());
    EXPECT_TRUE(cut.Underflow());
    // A huge count over nothing returns at once.
    COrbelAnnContainer c;
    EXPECT_NE(Load("7fffffff000003f9", c), "");
    EXPECT_EQ(c.Count(), 0);
}

// A text's bytes in the order they were written: its digit pairs back to front.
std::string Written(const std::string& text)
{
    std::string out;
    for (size_t i = text.size(); i >= 2; i -= 2)
        out += text.substr(i - 2, 2);
    return out;
}

class AnnDamagedText : public ::testing::Test {
protected:
    void SetUp() override
    {
        Hold(held);
        heldText = Store(held);
        COrbelAnnContainer mixed;
        FillMixed(mixed);
        full = Store(mixed);
    }
    static void Hold(COrbelAnnContainer& c)
    {
        c.Add(Line(1, 2, 3, 4, 1, 0, 0));
        c.Add(Line(5, 6, 7, 8, 1, 0, 1));
    }
    COrbelAnnContainer held;
    std::string heldText, full;
};

TEST_F(AnnDamagedText, RefusedTextsLeaveTheContainerAlone)
{
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"g" + full.substr(1), "character 'g' at position 0 is not hexadecimal"},
        {full.substr(0, 17) + "x" + full.substr(18), "character 'x' at position 17 is not hexadecimal"},
        {full.substr(0, full.size() - 1) + "-", "is not hexadecimal"},
        {full.substr(0, full.size() - 1) + "8", "version 1016"},
        {full.substr(0, full.size() - 2), "version"},
        {full.substr(0, full.size() - 8), "version"},
        {"", ""},
        {" \n", ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text.substr(0, 40));
        const std::string error = Load(k.text, held);
        EXPECT_NE(error.find(k.error), std::string::npos) << error;
        EXPECT_EQ(error.empty(), k.error.empty());
        EXPECT_EQ(Store(held), heldText);
    }
}

TEST_F(AnnDamagedText, CutTextsKeepTheWholeRecords)
{
    const size_t ends[] = {8, 8 + 55, 8 + 55 + 65, 8 + 55 + 65 + 202, 8 + 55 + 65 + 202 + 251};
    ASSERT_EQ(full.size(), 2 * ends[4]);
    // The last-written bytes stand first in the text: dropping leading pairs cuts the
    // last records.
    for (size_t cut = 1; cut <= ends[4] - 8; ++cut) {
        SCOPED_TRACE(cut);
        COrbelAnnContainer c;
        Hold(c);
        const std::string error = Load(full.substr(2 * cut), c);
        EXPECT_FALSE(error.empty());
        const int whole = int(std::count_if(ends + 1, ends + 5, [&](size_t e) { return e <= ends[4] - cut; }));
        ASSERT_EQ(c.Count(), 2 + whole);
        COrbelArchive count(0);
        count << 2 + whole;
        std::string countText;
        COrbelArchive::ToHex(count, countText);
        const std::string expected = Written(full).substr(0, 8) + Written(countText) +
                                     Written(heldText).substr(16) +
                                     Written(full).substr(16, 2 * (ends[whole] - 8));
        EXPECT_EQ(Written(Store(c)), expected);
    }
}

TEST_F(AnnDamagedText, UnknownClassNameStopsLoading)
{
    COrbelArchive ar(0);
    ar << 1017 << 3;
    COrbelAnnLine line;
    line.Serialize(ar);
    ar << CString(u"COrbelAnnLinf") << 1 << 0 << BYTE(0) << 1 << 2 << 3 << 4;
    line.Serialize(ar);
    std::string text;
    const std::string error = Load(COrbelArchive::ToHex(ar, text), held);
    EXPECT_NE(error.find("\"COrbelAnnLinf\""), std::string::npos) << error;
    EXPECT_EQ(held.Count(), 3);

    // A stored type id does not make an arrow mark pass for another class.
    COrbelAnnContainer foreign, back;
    foreign.Add(new COrbelAnnArrowMark());
    foreign.At(0)->type = kAnnTypeTextMark;
    EXPECT_EQ(Load(Store(foreign), back), "");
    EXPECT_EQ(back.At(0)->type, kAnnTypeArrowMark);
}
