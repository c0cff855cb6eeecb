#include "tests/image/RenderTestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

using render_test::Cell;
using render_test::Noise;

namespace {

std::string Text(CImageBase& b)
{
    std::string t;
    return b.GetDisplayStateText(t);
}

std::string Hex(const void* p, size_t n)
{
    std::string text;
    char pair[3];
    for (size_t i = 0; i < n; ++i)
        text += (std::snprintf(pair, sizeof pair, "%02x", static_cast<const uint8_t*>(p)[i]), pair);
    return text;
}

// Replaces the little-endian bytes of value at a byte offset of the text.
template <typename T>
std::string Patched(std::string text, size_t offset, T value)
{
    return text.replace(2 * offset, 2 * sizeof(T), Hex(&value, sizeof(T)));
}

void Shown(Cell& cell)
{
    cell.Init(200, 150, 1, 12, true, false, [](int x, int y) { return Noise(11, x, y, 0, 4095); });
    cell.Render();
}

const size_t kWidthAt = 24, kCountAt = 44, kTurnsAt = 52;

} // namespace

TEST(DisplayStateText, FreshImageWritesKnownText)
{
    CImageBase b;
    EXPECT_EQ("ee33cf000000000001000000000000000000000000000000000000000000f03fffffffffffffffffffffffff0000000001"
              "00000000000000000000000000f03f000000000000f03f000000000000f03f000000000000f03f00000000000000000000"
              "0000000000000100000001000000",
              Text(b));
}

// A rendered image's text makes a fresh image of the same kind look the same.
TEST(DisplayStateText, RoundTripInAllOrientations)
{
    for (int o = 0; o < 16; ++o) {
        Cell a(257, 191), b(257, 191);
        Shown(a);
        for (int r = 0; r < o % 4; ++r)
            a.image.Rotate(true, true);
        if (o & 4)
            a.image.Flip(true, true);
        if (o & 8)
            a.image.Flip(false, true);
        a.image.AdjustWindowLevel(30 + o, -12, true, false);
        if (o % 3 == 0)
            a.image.InvertGrey(true);
        a.image.SetFitMode(2, true);
        a.Decode();
        Shown(b);
        b.image.SetDisplayStateText(Text(a.image));
        b.SetView(true);
        b.Decode();
        ImageDisplayState sa, sb;
        a.image.GetDisplayState(sa);
        b.image.GetDisplayState(sb);
        EXPECT_EQ(sa.mirrored, sb.mirrored) << o;
        EXPECT_EQ(sa.quarterTurns, sb.quarterTurns) << o;
        EXPECT_EQ(a.image.WindowWidth(), b.image.WindowWidth()) << o;
        EXPECT_EQ(a.image.WindowCentre(), b.image.WindowCentre()) << o;
        EXPECT_EQ(a.image.IsInverted(), b.image.IsInverted()) << o;
        EXPECT_TRUE(a.image.ViewSamples() == b.image.ViewSamples()) << o;
    }
}

TEST(DisplayStateText, WhatIsAppliedAndWhatIsKept)
{
    Cell source(257, 191);
    Shown(source);
    source.image.AdjustWindowLevel(40, 20, true, false);
    source.image.InvertGrey(true);
    source.image.Flip(false, true); // written as mirrored with two quarter turns
    const std::string text = Text(source.image);
    {   // Width -1 leaves the window but applies inversion and orientation.
        Cell b(257, 191);
        Shown(b);
        const float w = b.image.WindowWidth();
        b.image.SetDisplayStateText(Patched(text, kWidthAt, -1.0));
        EXPECT_EQ(w, b.image.WindowWidth());
        EXPECT_TRUE(b.image.IsInverted());
        EXPECT_EQ(2, b.image.Rotation());
        EXPECT_TRUE(b.image.HorizontalFlip());
    }
    {   // After a user drag neither window nor inversion change; an existing turn stays.
        Cell b(257, 191);
        Shown(b);
        b.image.AdjustWindowLevel(3, 3, true, false);
        b.image.Rotate(true, true);
        const float w = b.image.WindowWidth();
        b.image.SetDisplayStateText(text);
        EXPECT_EQ(w, b.image.WindowWidth());
        EXPECT_FALSE(b.image.IsInverted());
        EXPECT_EQ(1, b.image.Rotation());
    }
    {   // An existing flip stays and the other one may be added.
        Cell b(257, 191);
        Shown(b);
        b.image.Flip(true, true);
        b.image.SetDisplayStateText(Patched(text, kTurnsAt, int32_t(1)));
        EXPECT_TRUE(b.image.HorizontalFlip());
        EXPECT_TRUE(b.image.VerticalFlip());
        EXPECT_EQ(1, b.image.Rotation());
    }
    for (int32_t word : {4, 7, -1}) {
        CImageBase b;
        b.SetDisplayStateText(Patched(text, kTurnsAt, word));
        EXPECT_EQ(0, b.Rotation()) << word;
    }
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    CImageBase b;
    b.SetDisplayStateText(" \t" + upper + "\n");
    EXPECT_TRUE(b.IsInverted());
}

TEST(DisplayStateText, RejectedTextsChangeNothing)
{
    Cell source(257, 191);
    Shown(source);
    source.image.InvertGrey(true);
    const std::string text = Text(source.image);
    std::string zz = text;
    zz.replace(100, 2, "zz");
    const std::string rejected[] = {zz, text.substr(0, 223), Patched(text, kCountAt, int32_t(-1)),
                                    Patched(text, kCountAt, int32_t(1))};
    for (const std::string& r : rejected) {
        CImageBase b;
        const std::string before = Text(b);
        b.SetDisplayStateText(r);
        EXPECT_EQ(before, Text(b)) << r;
    }
}

// Carried words, entries and the view record's tail come back byte for byte.
TEST(DisplayStateText, UnknownFieldsWrittenBack)
{
    uint8_t bytes[112 + 48];
    for (size_t i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<uint8_t>(i * 37 + 5);
    const int32_t head[] = {13579246, 0, 1, 0}, carried[] = {7, -8, 9, 2}, orientation[] = {1, 0};
    const double window[] = {40.25, 300.5}; // centre, width
    std::memcpy(bytes, head, 16);
    std::memcpy(bytes + 16, window, 16);
    std::memcpy(bytes + 32, carried, 16);
    std::memcpy(bytes + 96, orientation, 8);
    CImageBase b;
    b.SetDisplayStateText(Hex(bytes, sizeof bytes));
    EXPECT_EQ(Hex(bytes, sizeof bytes), Text(b));
}
