// The displayed-image model of one grid cell: sizes, bit depth, DICOM values, modality and
// VOI tables, window or colour values and the tables every displayed pixel passes through,
// plus the readouts drawn over the cell. Rendering and view commands build on it.
#pragma once

#include "image/DisplayStateBlock.h"
#include "image/ImageDisplayState.h"
#include "image/ImageInterpolation.h"
#include "image/ImageTransform.h"
#include "image/VoiLutEntry.h"
#include "platform/Gdi.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
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
    // (0028,0103): 0 unsigned, 1 signed; any other value (-1: not given) leaves the
    // codestream's own signedness in force.
    int32_t pixelRepresentation = -1;
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

// The seven words of a region: source rectangle at the level, level width and height, level.
enum RegionWord { kRegionLeft, kRegionTop, kRegionRight, kRegionBottom, kRegionWidth, kRegionHeight, kRegionLevel };

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
    // Samples the decoder has just written at the level (columns x0..x1-1, rows y0..y1-1),
    // still in the codestream's signedness, are read as the DICOM attributes say.
    void AdoptDecodedSamples(int x0, int y0, int x1, int y1);

    // Grey table from scale a and offset b (a VOI LUT in use replaces both).
    void BuildGreyLut(double a, double b, bool invert);
    // Grey table from the window (width raised to at least 1.0).
    void RebuildGreyLut();
    void RebuildColourTable();

    PixelReadout& GetPixelReadout(PixelReadout& out, int x, int y, std::string modality);
    // The full-resolution pixel a readout names for view point (x, y) over level pixel (c, r).
    POINT FullResolutionPoint(int x, int y, int c, int r) const;
    std::string& GetWindowLevelText(std::string& out);
    OrientationMarkers& GetOrientationMarkers(OrientationMarkers& out, const std::vector<float>& cosines);

    // Rendering: view buffers, regions, drawing.
    // Top, left, bottom, right (inclusive); the window handle is not used.
    void SetViewRect(int top, int left, int bottom, int right, HWND window, bool render);
    void GetPendingRegion(int32_t out[7]);
    void GetTransformRegion(int32_t out[7]);
    void SetDecodedRegion(int x0, int y0, int x1, int y1, int level, bool valid);
    void OnRegionDecoded(int x0, int y0, int x1, int y1);
    // Acts only for a rectangle of the view's size less one pixel (the cell bitmap's size).
    void DrawToBitmap(HDC dc, HBITMAP bitmap, bool refresh, int left, int top, int right, int bottom);
    void BuildDisplayMatrix(int mode, int sx0, int sy0, int dx0, int dy0, int sw, int sh, int dw, int dh,
                            int mirrorHeight, int mirrorWidth, bool oriented);
    const double* DisplayMatrix() const { return displayMatrix_; }

    // View commands; the trailing render flag decides how much is brought up to date.
    void Zoom(float factor, bool render, bool actualSize);
    void SetFitMode(int mode, bool render);
    void Flip(bool horizontal, bool render);
    void InvertGrey(bool render);
    void Rotate(bool clockwise, bool render);
    void Pan(int dx, int dy, bool render);
    void AdjustWindowLevel(int dx, int dy, bool render, bool fine);
    void ZoomToRect(int x0, int y0, int x1, int y1);
    void ResetView(bool render);
    void GetImageRectInView(int32_t out[4]);
    void GetZoomFactors(double out[2]);

    // Magnifier over the view samples.
    void RenderMagnifier(int x, int y, int left, int top, int right, int bottom, int factor);
    bool DrawMagnifier(HDC dc);

    // Display state.
    void GetDisplayState(ImageDisplayState& out);
    std::string& GetDisplayStateText(std::string& out);
    void SetDisplayStateText(const std::string& text);

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
    bool IsInverted() const { return inverted_; }
    int Rotation() const { return rotation_; }
    bool HorizontalFlip() const { return horizontalFlip_; }
    bool VerticalFlip() const { return verticalFlip_; }
    int ViewWidth() const { return viewWidth_; }
    // The view samples: view width x view height resampled stored values.
    const std::vector<uint8_t>& ViewSamples() const { return viewSamples_; }
    int ViewHeight() const { return viewHeight_; }

private:
    friend class CImageBaseTestAccess;

    struct DeferredCommand {
        double zoom = 1.0;
        RECT view = {0, 0, 0, 0};
        int32_t kind = 2; // 0 zoom by the factor, 2 refit
    };

    void BuildGreyLutFromWindow();
    void FoldPendingDrag(bool clear);
    double SafeWidth() const;
    // One warning per image and value when a display value from outside is replaced.
    void WarnReplaced(const char* what, double value);
    void SanitiseRescale();
    // Signedness the samples are read with: the pixel representation where it is given,
    // else the codestream's.
    bool WantSigned();
    // Brings held samples and the tables to that signedness when the attributes change.
    void SyncSignedness();

    size_t SampleBytes() const;
    void RecordView(const RECT& r);
    bool ResizeViewBuffers(const RECT& r);
    void ReplayDeferred();
    void AdaptToLevel();
    void UpdateRegionRequest();
    void UpdateViewBuffers(bool actualSize);
    void RefreshRegionViewRect();
    void CopyDecodedToView();
    void CopyDirect();
    void CopyViaZoomedImage(const RECT& r);
    void CopyFromZoomedImage();
    void ConvertToDisplay(const RECT& area);
    void ClearOutside(const RECT& area, bool all);
    void RebuildCurrentTable();

    int32_t imageWidth_ = 0;
    int32_t imageHeight_ = 0;
    int32_t levelCount_ = 0;
    int32_t bytesPerPixel_ = 0;
    bool grey_ = true;
    bool inverted_ = false;
    bool signedSamples_ = false;   // as the samples are held and read
    bool codestreamSigned_ = false; // as the decoder writes them
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

    // View commands.
    double displayMatrix_[6] = {1, 0, 0, 0, 1, 0};
    bool actualSize_ = false;

    // Rendering.
    RECT viewRect_ = {0, 0, 0, 0};
    std::vector<uint8_t> displayBuffer_;
    int32_t displayRowBytes_ = 0;
    // What the display buffer was last converted from: a repaint of unchanged samples
    // through an unchanged table reuses it.
    struct DisplayInputs {
        uint64_t samples = 0;
        RECT area = {0, 0, 0, 0};
        bool grey = false, isSigned = false;
        int bytes = 0, halfRange = 0;
        int32_t width = 0, height = 0, rowBytes = 0;
        bool operator==(const DisplayInputs& o) const;
    };
    uint64_t viewSamplesGeneration_ = 0;
    bool displayConverted_ = false;
    DisplayInputs displayInputs_;
    VoiLutEntry displayTable_;
    int32_t allocWidth_ = 0;
    int32_t allocHeight_ = 0;
    int32_t currentRegion_[7] = {};
    int32_t pendingRegion_[7] = {};
    bool decodeNeeded_ = false;
    RECT knownGood_ = {0, 0, 0, 0};
    RECT lastDecoded_ = {0, 0, 0, 0};
    bool decodedValid_ = false;
    bool firstRequest_ = true;
    RECT decodedRect_ = {0, 0, 0, 0};
    RECT decodedViewRect_ = {0, 0, 0, 0};
    int32_t decodedExtentX_ = 0;
    int32_t decodedExtentY_ = 0;
    bool fullRecopy_ = false;
    // A copy into the view samples starts from zero: the first warp into them zeroes only
    // what it leaves; whatever remains pending is zeroed at the copy's end.
    bool viewZeroPending_ = false;
    std::vector<uint8_t> zoomedImage_;
    bool zoomedPresent_ = false;
    int32_t zoomedWidth_ = 0;
    int32_t zoomedHeight_ = 0;
    int32_t heldLevel_ = -1; // level of the source buffer; -1 before one exists
    int32_t displayMode_ = 2;
    std::vector<DeferredCommand> deferredQueue_;
    DeferredCommand deferredRecord_;
    bool recording_ = false;
    RECT lastRecordedRect_ = {0, 0, 0, 0};
    std::set<std::string> warned_;

    // Magnifier.
    RECT magnifierRect_ = {0, 0, 0, 0};
    RECT magnifierDestRect_ = {0, 0, 0, 0};
    std::vector<uint8_t> magnifierSamples_;
    std::vector<uint8_t> magnifierBits_;
    bool magnifierValid_ = false;
    int32_t magnifierBitmapSize_ = 0;
    int32_t magnifierRowBytes_ = 0;
    int32_t magnifierSamplesWidth_ = 0;  // box the samples were made for
    int32_t magnifierSamplesHeight_ = 0;
    int32_t magnifierBitsWidth_ = 0;     // box the bitmap bits were made for
    int32_t magnifierBitsHeight_ = 0;
    CImageInterpolation magnifierResampler_;
};

// Narrows a display value from outside to float: non-finite gives 0, the rest is held to
// +-FLT_MAX.
float NarrowToFloat(double v);

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

// Rewrites 16-bit samples of `bits` stored bits (columns left..right-1, rows top..bottom-1
// of a buffer `width` samples wide) from one signedness to the other: signed takes the
// two's complement of the stored bits, unsigned the stored bits themselves.
void ReinterpretSigned16(uint16_t* samples, int width, int left, int top, int right, int bottom, int bits,
                         bool toSigned);
