// Resampler of the display: rectangles of one pixel buffer into another, through the affine
// warp or through plain nearest-neighbour scaling loops. One job at a time.
#pragma once

class CImageInterpolation {
public:
    CImageInterpolation() = default;
    virtual ~CImageInterpolation() = default;

    // Forward matrix c0..c5 (X = c0 x + c1 y + c2, Y = c3 x + c4 y + c5); mode 0 nearest,
    // 1 linear, 2 cubic. Rectangles are left, top, right, bottom (right and bottom
    // exclusive); the destination rectangle is clipped to the destination buffer. Returns
    // the warp's status, 1 when nothing ran. With zeroRest the whole destination buffer
    // ends as if zeroed before the warp, though only the pixels the warp leaves are zeroed.
    int Warp(const double* matrix, int mode, const void* src, int srcWidth, int srcHeight, int bytesPerPixel,
             int channels, int srcLeft, int srcTop, int srcRight, int srcBottom, void* dst, int dstWidth,
             int dstHeight, int dstLeft, int dstTop, int dstRight, int dstBottom, bool zeroRest = false);
    int WarpNearest();
    int WarpLinear();
    int WarpCubic();

    // Nearest-neighbour scaling of one rectangle onto another. sampleSize 1 or 4 runs the
    // 8-bit loops, 2 the 16-bit ones; row lengths are in pixels, stride in samples.
    // Nothing happens when a rectangle is empty or leaves its buffer.
    void ResampleNearest(int sampleSize, const void* src, int srcRowLength, int srcHeight, int srcLeft, int srcTop,
                         int srcRight, int srcBottom, void* dst, int dstRowLength, int dstHeight, int dstLeft,
                         int dstTop, int dstRight, int dstBottom, int stride, bool grey);
    void ResampleNearest8(const void* src, int srcRowLength, int srcHeight, int srcLeft, int srcTop, int srcRight,
                          int srcBottom, void* dst, int dstRowLength, int dstHeight, int dstLeft, int dstTop,
                          int dstRight, int dstBottom, int stride, bool grey);
    void ResampleNearest16(const void* src, int srcRowLength, int srcHeight, int srcLeft, int srcTop, int srcRight,
                           int srcBottom, void* dst, int dstRowLength, int dstHeight, int dstLeft, int dstTop,
                           int dstRight, int dstBottom, int stride, bool grey);

    int GetStatus() const { return status_; }

private:
    void Start(const double* matrix, int mode, const void* src, int srcWidth, int srcHeight, int bytesPerPixel,
               int channels, int srcLeft, int srcTop, int srcRight, int srcBottom, void* dst, int dstWidth,
               int dstHeight, int dstLeft, int dstTop, int dstRight, int dstBottom);
    int Run(int interpolation);
    void ZeroDestination();

    const void* srcPixels_ = nullptr;
    void* dstPixels_ = nullptr;
    int channels_ = 0;
    int bytesPerPixel_ = 0;
    int srcWidth_ = 0;
    int srcHeight_ = 0;
    int srcRect_[4] = {};
    int dstRect_[4] = {};
    int dstWidth_ = 0;
    int dstHeight_ = 0;
    double matrix_[6] = {};
    int status_ = 1;
    bool zeroRest_ = false; // the destination still awaits zeroing outside what is written
};

// The resampler instance all images share; created at module load (or first use), torn
// down at unload. User-interface thread only.
CImageInterpolation& ImageResampler();
