// Samples whose codestream signedness differs from the DICOM pixel representation: held,
// shown and read out as the representation says (two's complement of the stored bits when
// signed), whether the representation comes before the samples or after them.
#include "tests/image/RenderTestSupport.h"
#include "tests/support/DicomWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

using render_test::Cell;

TEST(ImageSignedness, StoredBitsReinterpreted)
{
    // 13 bits: 0x1000 is -4096 signed, 0x1FFF is -1; the bits above are ignored.
    std::vector<uint16_t> v = {0, 1, 0x0FFF, 0x1000, 0x1FFF, 0xE005, 0x7123};
    std::vector<uint16_t> s = v;
    ReinterpretSigned16(s.data(), 7, 0, 0, 7, 1, 13, true);
    EXPECT_EQ(s, (std::vector<uint16_t>{0, 1, 0x0FFF, uint16_t(-4096), uint16_t(-1), 5, uint16_t(0x1123 - 8192)}));
    std::vector<uint16_t> u = s;
    ReinterpretSigned16(u.data(), 7, 0, 0, 7, 1, 13, false);
    EXPECT_EQ(u, (std::vector<uint16_t>{0, 1, 0x0FFF, 0x1000, 0x1FFF, 5, 0x1123}));
    // Only the rectangle changes; 16 bits signed is plain int16.
    std::vector<uint16_t> r = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    ReinterpretSigned16(r.data(), 2, 1, 0, 2, 2, 12, false);
    EXPECT_EQ(r, (std::vector<uint16_t>{0xFFFF, 0x0FFF, 0xFFFF, 0x0FFF}));
    std::vector<uint16_t> w = {0x8000, 0x7FFF};
    ReinterpretSigned16(w.data(), 2, 0, 0, 2, 1, 16, true);
    EXPECT_EQ(w, (std::vector<uint16_t>{0x8000, 0x7FFF}));
}

TEST(ImageSignedness, PictureAndReadoutFollowThePixelRepresentation)
{
    const int bits = 13, half = 1 << (bits - 1);
    // Stored values over the whole 13-bit range in 4 x 4 blocks, negative ones included.
    auto storedValue = [](int x, int y) { return ((x / 4) * 37 + (y / 4) * 301) % 8192 - 4096; };
    const struct {
        const char* name;
        bool codestreamSigned;
        int representation;
        bool representationFirst; // given before the samples arrive, else after
        bool expectSigned;
        bool documentWindow; // else the automatic window (signed) or the full range
    } cases[] = {
        {"unsigned codestream, signed document, before", false, 1, true, true, true},
        {"unsigned codestream, signed document, after", false, 1, false, true, true},
        {"signed codestream, unsigned document, before", true, 0, true, false, true},
        {"signed codestream, unsigned document, after", true, 0, false, false, true},
        {"signed codestream, no representation", true, -1, true, true, true},
        {"unsigned codestream, agreeing document", false, 0, false, false, true},
        {"unsigned codestream, signed document, after, no window", false, 1, false, true, false},
        {"signed codestream, unsigned document, after, no window", true, 0, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Cell cell(65, 65);
        CImageBase& im = cell.image;
        DicomRecord& d = im.GetPhotometricInterpretation();
        d.photometricInterpretation = "MONOCHROME2";
        d.rescaleSlope = 2.0f;
        d.rescaleIntercept = -100.0f;
        d.windowWidth = c.documentWindow ? 9000.0f : -1.0f;
        d.windowCentre = c.documentWindow ? 1000.0f : 0.0f;
        // The codestream writes the stored bits its own way: two's complement when signed.
        const bool cs = c.codestreamSigned;
        cell.Init(64, 64, 0, bits, true, cs, [&](int x, int y) {
            const int s = storedValue(x, y);
            return uint32_t(uint16_t(cs ? s : s & 0x1FFF));
        });
        d.pixelRepresentation = c.representationFirst ? c.representation : -1;
        if (c.representationFirst)
            im.ApplyDicomWindow();
        im.SetFitMode(1, true);
        im.Zoom(1.0f, true, true);
        cell.Render();
        auto value = [&](int x, int y) {
            const int s = storedValue(x, y);
            return (c.expectSigned ? s : s < 0 ? s + 2 * half : s) * 2 - 100;
        };
        double width = 9000, centre = 1000;
        if (!c.documentWindow && !c.expectSigned) {
            width = 2 * half;
            centre = half;
        } else if (!c.documentWindow) {
            int lo = INT32_MAX, hi = INT32_MIN;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    lo = std::min(lo, value(x, y));
                    hi = std::max(hi, value(x, y));
                }
            width = hi - lo + 1.0;
            centre = lo + width / 2;
        }
        // Every readout and every painted pixel (edges aside) against the window.
        auto check = [&](const char* stage) {
            SCOPED_TRACE(stage);
            cell.Draw();
            EXPECT_EQ(im.IsSigned(), c.expectSigned);
            EXPECT_EQ(im.WindowWidth(), float(width));
            EXPECT_EQ(im.WindowCentre(), float(centre));
            const std::vector<uint8_t> pixels = cell.Pixels();
            const RECT dest = cell.Dest();
            int wrong = 0, checked = 0, badReadouts = 0;
            for (int y = dest.top + 3; y < dest.bottom - 3; ++y)
                for (int x = dest.left + 3; x < dest.right - 3; ++x) {
                    PixelReadout r;
                    im.GetPixelReadout(r, x, y, "");
                    int ix = -1, iy = -1;
                    if (std::sscanf(r.position.c_str(), "X=%d, Y=%d", &ix, &iy) != 2) {
                        ++badReadouts;
                        continue;
                    }
                    badReadouts += r.value != std::to_string(value(ix, iy));
                    ++checked;
                    const double expected = OrbelTest::DicomLinearWindow(value(ix, iy), centre, width);
                    wrong += std::abs(cell.Grey(pixels, x, y) - expected) > 1.5;
                }
            EXPECT_GT(checked, 3000);
            EXPECT_EQ(badReadouts, 0);
            EXPECT_EQ(wrong, 0);
        };
        if (!c.representationFirst) {
            d.pixelRepresentation = c.representation;
            im.ApplyDicomWindow();
            // What the view holds is converted at once; the grid then asks for the view again.
            check("held samples converted");
            cell.Decode();
        }
        check("shown");
    }
}
