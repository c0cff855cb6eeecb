// The displayed-image model of one grid cell: sizes, bit depth, DICOM values, modality and
// VOI tables, window or colour values and the tables every displayed pixel passes through,
// plus the readouts drawn over the cell. Rendering and view commands build on it.
#pragma once

#include "image/DisplayStateBlock.h"
#include "image/ImageTransform.h"
#include "image/VoiLutEntry.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Pending window drag: mouse deltas gathered while rendering is off.
struct WindowDrag {
    float scaledPendingX = 0.0f;
    float scaledPendingY = 0.0f;
    float pendingX = 0.0f;
    float pendingY = 0.0f;
    bool resetRequest = false;
    bool spareFlag = false;
    bool greyScaling = false;
    int32_t bitsStored = 8;

    bool IsPending() const { return pendingX != 0.0f || pendingY != 0.0f; }
    // The pending deltas, scaled by 4 (more than 12 bits) or 3 for grey images.
    void GetPendingDelta(float& x, float& y);
};

// DICOM values of the image, filled by the viewer core.
struct DicomRecord {
    std::string photometricInterpretation = "MONOCHROME1";
    int32_t pixelRepresentation = 0; // 0 unsigned, 1 signed
    float rescaleSlope = 1.0f;
    float rescaleIntercept = 0.0f;
    float windowWidth = -1.0f; // -1: none
    float windowCentre = 0.0f;
    // (0028,0030) order: row spacing (y), then column spacing (x); 0 or less is unknown.
    double pixelSpacingRow = -1.0;
    double pixelSpacingColumn = -1.0;
};

struct PixelFormat {
    int32_t bytesPerPixel = 0;
    int32_t channels = 0;
    int32_t spare = 0;
    bool isSigned = false;
};

struct PixelReadout {
    bool plainValue = false;
    std::string position = "0";
    std::string value = "0";
};

// Letters for the left and top edges of the view: "L", "R", "A", "P", "H", "F" or empty.
struct OrientationMarkers {
    std::string left;
    std::string top;
};

struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 32;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};

class CImageBase {
public:
    CImageBase();
    virtual ~CImageBase();
    CImageBase(const CImageBase&) = delete;
    CImageBase& operator=(const CImageBase&) = delete;

    // Height first. Nothing happens for a non-positive side or bits outside 1..16.
    void InitImage(int height, int width, int levelCount, int bitsStored, bool grey, bool signedSamples);
    // The source pixel buffer and its real size in bytes (null and 0 before one exists).
    uint8_t* GetPixelBuffer(size_t& sizeBytes);
    // Clears the magnifier state only.
    void ResetDisplayState();

    DicomRecord& GetPhotometricInterpretation() { return dicom_; }
    VoiLutEntry& GetModalityLut() { return modalityLut_; }
    std::map<int32_t, VoiLutEntry>& GetVoiLuts() { return voiLuts_; }
    int32_t GetVoiLutIndex() const { return voiIndex_; }
    void SetVoiLutEnabled(bool enabled) { voiEnabled_ = enabled; }
    bool IsModalityLutEnabled() const { return modalityLutEnabled_; }
    void EnableModalityLut(bool enabled);
    void SelectVoiLut(int32_t index);
    void ApplyDicomWindow();
    void AutoWindow();
    void SetWindowFromRegion(int x0, int y0, int x1, int y1);

    // Grey table from scale a and offset b (a VOI LUT in use replaces both).
    void BuildGreyLut(double a, double b, bool invert);
    // Grey table from the window (width raised to at least 1.0).
    void RebuildGreyLut();
    void RebuildColourTable();

    PixelReadout& GetPixelReadout(PixelReadout& out, int x, int y, std::string modality);
    std::string& GetWindowLevelText(std::string& out);
    OrientationMarkers& GetOrientationMarkers(OrientationMarkers& out, const std::vector<float>& cosines);

    // Read access for the view code and tests.
    CImageTransform& Transform() { return *transform_; }
    const VoiLutEntry& GreyTable() const { return greyTable_; }
    const VoiLutEntry& ColourTable() const { return colourTable_; }
    const PixelFormat& GetPixelFormat() const { return pixelFormat_; }
    float WindowWidth() const { return windowWidth_; }
    float WindowCentre() const { return windowCentre_; }
    float Brightness() const { return brightness_; }
    float Contrast() const { return contrast_; }
    bool IsInitialised() const { return initialised_; }
    bool IsGrey() const { return grey_; }
    bool IsSigned() const { return signedSamples_; }
    bool IsVoiEnabled() const { return voiEnabled_; }
    bool IsDicomWindowInUse() const { return dicomWindowInUse_; }
    bool IsUserAdjusted() const { return userAdjusted_; }
    int LevelWidth() const { return levelWidth_; }
    int LevelHeight() const { return levelHeight_; }
    WindowDrag& Drag() { return drag_; }
    DisplayStateBlock& Block() { return block_; }

private:
    friend class CImageBaseTestAccess;

    void BuildGreyLutFromWindow();
    void FoldPendingDrag(bool clear);
    double SafeWidth() const;

    int32_t imageWidth_ = 0;
    int32_t imageHeight_ = 0;
    int32_t levelCount_ = 0;
    int32_t bytesPerPixel_ = 0;
    bool grey_ = true;
    bool inverted_ = false;
    bool signedSamples_ = false;
    int32_t bitsStored_ = 0;
    uint16_t halfRange_ = 0;
    float range_ = 0.0f;
    float windowWidth_ = 1.0f;
    float windowCentre_ = 0.0f;
    float brightness_ = 0.0f;
    float contrast_ = 1.0f;
    WindowDrag drag_;
    DisplayStateBlock block_;
    ImageViewRecord imageViewRecord_;
    bool horizontalFlip_ = false;
    bool verticalFlip_ = false;
    int32_t rotation_ = 0;
    std::unique_ptr<CImageTransform> transform_;
    std::vector<uint8_t> viewSamples_;
    std::vector<uint8_t> sourcePixels_;
    BitmapInfoHeader displayHeader_;
    BitmapInfoHeader drawingHeader_;
    PixelFormat pixelFormat_;
    bool initialised_ = false;
    bool renderFlag_ = false;
    int32_t levelWidth_ = 0;
    int32_t levelHeight_ = 0;
    double lastZoomX_ = 0.0;
    double lastZoomY_ = 0.0;
    VoiLutEntry modalityLut_;
    VoiLutEntry activeVoiLut_;
    VoiLutEntry greyTable_;
    VoiLutEntry colourTable_;
    std::map<int32_t, VoiLutEntry> voiLuts_;
    DicomRecord dicom_;
    bool voiEnabled_ = false;
    bool modalityLutEnabled_ = false;
    bool dicomWindowInUse_ = false;
    bool windowFromDisplayState_ = false;
    int32_t voiIndex_ = 0;
    float slope_ = 1.0f;
    float intercept_ = 0.0f;
    float lastDicomWidth_ = -2.0f;
    float lastDicomCentre_ = -2.0f;
    bool userAdjusted_ = false;

    // View buffer sizes (the view samples are view width x view height samples).
    int32_t viewWidth_ = 0;
    int32_t viewHeight_ = 0;

    // Magnifier.
    RECT magnifierRect_ = {0, 0, 0, 0};
    RECT magnifierDestRect_ = {0, 0, 0, 0};
    std::vector<uint8_t> magnifierSamples_;
    std::vector<uint8_t> magnifierBits_;
    bool magnifierValid_ = false;
    int32_t magnifierBitmapSize_ = 0;
    int32_t magnifierRowBytes_ = 0;
};

// 1 for n = 0, otherwise 2^n.
uint32_t PowerOfTwo(int n);

// Minimum and maximum over columns x0..x1-1 and rows y0..y1-1 of a buffer with a row stride
// in samples; the caller seeds both.
void ScanMinMaxS16(const int16_t* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum);
void ScanMinMaxU16(const uint16_t* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum);
void ScanMinMaxU8(const uint8_t* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum);

// Adds (subtracts) a constant, modulo 2^16, to every 16-bit sample of the rectangle
// (columns left..right-1, rows top..bottom-1) grown by `growth` on each side and clipped to
// the width x height buffer.
void AddToRegion16(uint16_t* samples, int width, int height, int left, int top, int right, int bottom,
                   uint16_t value, int growth = 1);
void SubtractFromRegion16(uint16_t* samples, int width, int height, int left, int top, int right, int bottom,
                          uint16_t value, int growth = 1);
