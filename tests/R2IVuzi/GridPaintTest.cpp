// What a grid paints, read back from the window's surface.
#include "R2IVuzi/J2KImage.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"

#include <gtest/gtest.h>

using gridtest::GridHarness;
using gridtest::pixelAt;

namespace {

// An image whose display model is set up without any data having arrived.
boost::shared_ptr<CJ2KImage> openedBlankImage()
{
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage("blank", "1.2", nullptr));
    image->getImageBase().InitImage(384, 512, 5, 8, true, false);
    image->setOpened(true);
    return image;
}

} // namespace

TEST(GridPaint, EmptyCellIsBlackWithTheSelectionBorder)
{
    GridHarness h;
    HWND w = h.frame->m_hWnd;
    for (bool selected : {false, true}) {
        h.grid->setSelected(selected);
        h.paint();
        const COLORREF border = selected ? RGB(255, 255, 0) : RGB(15, 15, 15);
        for (POINT p : {POINT{0, 0}, POINT{239, 0}, POINT{0, 179}, POINT{239, 179}, POINT{120, 0}, POINT{0, 90}})
            EXPECT_EQ(pixelAt(w, p.x, p.y), border) << selected << " at " << p.x << "," << p.y;
        EXPECT_EQ(pixelAt(w, 120, 90), RGB(0, 0, 0));
        EXPECT_EQ(pixelAt(w, 1, 1), RGB(0, 0, 0));
    }
}

TEST(GridPaint, StatusBitmapsFailureAndAnimationFrames)
{
    GridHarness h;
    HWND w = h.frame->m_hWnd;
    // An element whose target was emptied: no image, the failure mark.
    h.grid->setImageElement(h.images[0]);
    h.paint();
    const int top = 180 - gridtest::readBitmap(229).height - 2;
    EXPECT_TRUE(gridtest::showsBitmap(w, 229, 2, top));
    h.grid->startAnimation();
    for (int k = 0; k < 9; ++k) {
        h.paint();
        EXPECT_TRUE(gridtest::showsBitmap(w, 240 + k % 8, 2, top)) << "paint " << k;
    }
    h.grid->stopTimers();
    EXPECT_EQ(h.grid->getAnimationTimer(), 0u);
}

TEST(GridPaint, AnnotationToolsOutlineTheImageTwoPixelsInside)
{
    GridHarness h;
    HWND w = h.frame->m_hWnd;
    h.grid->setImage(openedBlankImage());
    h.grid->layout();
    int32_t r[4];
    h.grid->getImage()->getImageBase().GetImageRectInView(r);
    const int mid = (r[0] + r[2]) / 2;
    const COLORREF grey = RGB(100, 100, 100);
    for (int tool : {10, 11, 18}) {
        h.frame->setWorkingTool(tool);
        h.paint();
        int onLine = 0, outside = 0;
        for (int x = mid - 8; x < mid + 8; ++x) {
            onLine += pixelAt(w, x, r[1] + 2) == grey;
            outside += pixelAt(w, x, r[1] + 1) == grey || pixelAt(w, x, r[1] + 3) == grey;
        }
        EXPECT_EQ(onLine > 0, tool != 10) << "tool " << tool;
        EXPECT_EQ(outside, 0) << "tool " << tool;
        // Dotted, not solid.
        EXPECT_LT(onLine, 16) << "tool " << tool;
    }
}

TEST(GridPaint, RepeatedAndEmptyPaintsLeakNoGdiObjects)
{
    GridHarness h;
    h.grid->setImage(openedBlankImage());
    h.grid->setImageElement(h.images[0]);
    h.frame->setWorkingTool(12);
    h.grid->layout();
    h.paint();
    const int live = platform::LiveGdiObjects();
    for (int i = 0; i < 100; ++i)
        h.paint();
    EXPECT_EQ(platform::LiveGdiObjects(), live);
    SetWindowPos(h.grid->m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER);
    h.grid->layout();
    h.paint();
    EXPECT_EQ(h.grid->getViewRect().right, 0);
    EXPECT_EQ(platform::LiveGdiObjects(), live);
}
