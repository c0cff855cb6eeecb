#include "image/ImageTransform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

bool IsEmpty(const RECT& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

TEST(ImageTransform, LevelChoiceAndClamping)
{
    CImageTransform t;
    t.Init(1000, 1000, 3);
    const double zooms[5] = {1.0, 0.5, 0.49, 0.2, 0.1};
    const int levels[5] = {0, 0, 1, 2, 3};
    for (int i = 0; i < 5; ++i) {
        t.zoomX = t.zoomY = zooms[i];
        t.ChooseLevel();
        EXPECT_EQ(levels[i], t.level) << zooms[i];
    }
    // Full-size zoom along x needs level 0 whatever y says.
    t.zoomX = 1.5;
    t.zoomY = 0.4;
    t.ChooseLevel();
    EXPECT_EQ(0, t.level);
    // Deep level counts stop where the level image would vanish; 2^level stays non-zero.
    t.Init(100, 100, 20);
    EXPECT_EQ(6, t.levelCount);
    t.Init(1 << 20, 1 << 20, 40);
    EXPECT_EQ(15, t.levelCount);
    t.SetView(0, 0, 9, 9);
    t.zoomX = t.zoomY = 1e-6;
    t.ChooseLevel();
    t.RefreshScale();
    EXPECT_EQ(15, t.level);
    EXPECT_EQ((1 << 20) >> 15, t.levelWidth);
    EXPECT_EQ(32768 * 1e-6, t.effectiveZoomX);
}

TEST(ImageTransform, FitPanFlip)
{
    CImageTransform t;
    t.Init(255, 511, 2);
    t.SetView(0, 0, 255, 255);
    t.ApplyFit();
    EXPECT_EQ(0.5, t.zoomX);
    EXPECT_EQ(0.5, t.zoomY);
    EXPECT_EQ(0, t.level);
    EXPECT_EQ(2, t.fitType);

    // A far pan stops at half of (view extent + scaled extent).
    const int sw = t.rotatedScaledRect.right, sh = t.rotatedScaledRect.bottom;
    t.Pan(100000, -100000);
    EXPECT_EQ(static_cast<int>((256 + sw) * 0.5), t.panX);
    EXPECT_EQ(-static_cast<int>((256 + sh) * 0.5), t.panY);
    EXPECT_EQ(0, t.fitType);
    // At the limit the image is wholly out of view.
    EXPECT_TRUE(IsEmpty(t.sourceRect));
    EXPECT_TRUE(IsEmpty(t.destRect));

    t.panX = t.panY = 0;
    t.Zoom(2.0f);
    t.Pan(30, 10);
    const RECT before = t.sourceRect;
    t.Flip(true);
    EXPECT_FALSE(SameRect(before, t.sourceRect));
    t.Flip(true);
    EXPECT_TRUE(SameRect(before, t.sourceRect));
    EXPECT_EQ(0, t.fitType);
}

// For every rotation, flip pair, zoom and pan, the destination corners and centre map
// back into the source rectangle, and the source rectangle stays in the level image.
TEST(ImageTransform, GeometrySweep)
{
    int cases = 0;
    for (int rotation = 0; rotation < 4; ++rotation)
        for (int flips = 0; flips < 4; ++flips)
            for (int zoom = 0; zoom < 3; ++zoom)
                for (int px : {0, 37, -37})
                    for (int py : {0, 37, -37}) {
                        SCOPED_TRACE(::testing::Message() << "rotation " << rotation << " flips " << flips << " zoom "
                                                          << zoom << " pan " << px << "," << py);
                        CImageTransform t;
                        t.Init(200, 300, 3);
                        t.SetView(0, 0, 256, 190);
                        t.rotation = rotation;
                        if (flips & 1)
                            t.Flip(true);
                        if (flips & 2)
                            t.Flip(false);
                        if (zoom == 0) {
                            t.fitType = 2;
                            t.ApplyFit();
                        } else {
                            t.Zoom(zoom == 1 ? 3.7f : 0.3f);
                        }
                        t.Pan(px, py);
                        const RECT s = t.sourceRect, d = t.destRect;
                        ASSERT_GE(s.left, 0);
                        ASSERT_GE(s.top, 0);
                        ASSERT_LE(s.right, t.levelWidth);
                        ASSERT_LE(s.bottom, t.levelHeight);
                        ASSERT_LT(s.left, s.right);
                        ASSERT_LT(s.top, s.bottom);
                        // The corner pixels of the destination rectangle.
                        const float corners[4][2] = {{float(d.left), float(d.top)},
                                                     {float(d.right - 1), float(d.top)},
                                                     {float(d.right - 1), float(d.bottom - 1)},
                                                     {float(d.left), float(d.bottom - 1)}};
                        for (const auto& c : corners) {
                            float p[2];
                            t.ViewToImage(c[0], c[1], p);
                            EXPECT_GE(p[0], s.left - 1.0f) << c[0] << "," << c[1];
                            EXPECT_LE(p[0], s.right + 1.0f) << c[0] << "," << c[1];
                            EXPECT_GE(p[1], s.top - 1.0f) << c[0] << "," << c[1];
                            EXPECT_LE(p[1], s.bottom + 1.0f) << c[0] << "," << c[1];
                        }
                        float p[2];
                        t.ViewToImage((d.left + d.right) * 0.5f, (d.top + d.bottom) * 0.5f, p);
                        EXPECT_NEAR((s.left + s.right) * 0.5, p[0], 1.0);
                        EXPECT_NEAR((s.top + s.bottom) * 0.5, p[1], 1.0);
                        ++cases;
                    }
    EXPECT_EQ(4 * 4 * 3 * 9, cases);
}
