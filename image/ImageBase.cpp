#include "image/ImageBase.h"

#include "diagnostics/Logging.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

ORBEL_SOURCE_NAME(".\\image\\ImageBase")

// Window values may come from stored display-state text: never let a non-finite or
// out-of-range value reach a float or integer conversion.
float NarrowToFloat(double v)
{
    if (!std::isfinite(v))
        return 0.0f;
    return static_cast<float>(std::max(-static_cast<double>(FLT_MAX), std::min(v, static_cast<double>(FLT_MAX))));
}

namespace {

double FiniteOr(double v, double fallback) { return std::isfinite(v) ? v : fallback; }

int64_t RoundToInt64(double v)
{
    const double limit = 1099511627776.0; // 2^40, far beyond any table index
    if (std::isnan(v))
        return 0;
    v = std::max(-limit, std::min(v, limit));
    return static_cast<int64_t>(std::llround(v));
}

int TruncSample(double v) { return TruncToInt(v); }

uint16_t* Words(std::vector<uint8_t>& v) { return reinterpret_cast<uint16_t*>(v.data()); }

const char* Opposite(const std::string& letter)
{
    if (letter == "L")
        return "R";
    if (letter == "R")
        return "L";
    if (letter == "A")
        return "P";
    if (letter == "P")
        return "A";
    if (letter == "H")
        return "F";
    if (letter == "F")
        return "H";
    return "";
}

const char* LetterFor(int x, int y, int z)
{
    if (x == 1)
        return "R";
    if (x == -1)
        return "L";
    if (y == 1)
        return "A";
    if (y == -1)
        return "P";
    if (z == 1)
        return "F";
    if (z == -1)
        return "H";
    return "";
}

template <typename T>
T ReadSample(const std::vector<uint8_t>& buffer, size_t index)
{
    T v;
    std::memcpy(&v, buffer.data() + index * sizeof(T), sizeof(T));
    return v;
}

std::string Format(const char* format, int a, int b)
{
    char text[100];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

void WindowDrag::GetPendingDelta(float& x, float& y)
{
    if (greyScaling) {
        const float factor = bitsStored > 12 ? 4.0f : 3.0f;
        scaledPendingX = pendingX * factor;
        scaledPendingY = pendingY * factor;
        x = scaledPendingX;
        y = scaledPendingY;
    } else {
        x = pendingX;
        y = pendingY;
    }
}

uint32_t PowerOfTwo(int n)
{
    if (n <= 0)
        return 1;
    if (n >= 32)
        return 0;
    return 1u << n;
}

template <typename T>
static void ScanMinMax(const T* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum)
{
    if (!samples || y0 >= y1 || x0 >= x1)
        return;
    for (int y = y0; y < y1; ++y) {
        const T* row = samples + static_cast<ptrdiff_t>(y) * stride;
        for (int x = x0; x < x1; ++x) {
            const int v = row[x];
            maximum = std::max(maximum, v);
            minimum = std::min(minimum, v);
        }
    }
}

void ScanMinMaxS16(const int16_t* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum)
{
    ScanMinMax(samples, stride, x0, y0, x1, y1, maximum, minimum);
}

void ScanMinMaxU16(const uint16_t* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum)
{
    ScanMinMax(samples, stride, x0, y0, x1, y1, maximum, minimum);
}

void ScanMinMaxU8(const uint8_t* samples, int stride, int x0, int y0, int x1, int y1, int& maximum, int& minimum)
{
    ScanMinMax(samples, stride, x0, y0, x1, y1, maximum, minimum);
}

static void BiasRegion16(uint16_t* samples, int width, int height, int left, int top, int right, int bottom,
                         uint16_t value, int growth, bool add)
{
    if (!samples || width < 1 || height < 1)
        return;
    const int64_t g = std::max(growth, 0);
    const int64_t l = std::max<int64_t>(left - g, 0);
    const int64_t t = std::max<int64_t>(top - g, 0);
    const int64_t r = std::min<int64_t>(int64_t(right) - 1 + g, width - 1);
    const int64_t b = std::min<int64_t>(int64_t(bottom) - 1 + g, height - 1);
    for (int64_t y = t; y <= b; ++y) {
        uint16_t* row = samples + y * width;
        for (int64_t x = l; x <= r; ++x)
            row[x] = static_cast<uint16_t>(add ? row[x] + value : row[x] - value);
    }
}

void AddToRegion16(uint16_t* samples, int width, int height, int left, int top, int right, int bottom,
                   uint16_t value, int growth)
{
    BiasRegion16(samples, width, height, left, top, right, bottom, value, growth, true);
}

void SubtractFromRegion16(uint16_t* samples, int width, int height, int left, int top, int right, int bottom,
                          uint16_t value, int growth)
{
    BiasRegion16(samples, width, height, left, top, right, bottom, value, growth, false);
}

void ReinterpretSigned16(uint16_t* samples, int width, int left, int top, int right, int bottom, int bits,
                         bool toSigned)
{
    if (!samples || width < 1 || bits < 1 || bits > 16)
        return;
    const uint32_t range = PowerOfTwo(bits), mask = range - 1, half = range / 2;
    left = std::max(left, 0);
    right = std::min(right, width);
    for (int64_t y = std::max(top, 0); y < bottom; ++y) {
        uint16_t* row = samples + y * width;
        for (int x = left; x < right; ++x) {
            const uint32_t stored = row[x] & mask;
            // Signed values are held as int16: bits above the stored ones copy its sign.
            row[x] = static_cast<uint16_t>(toSigned && stored >= half ? stored - range : stored);
        }
    }
}

CImageBase::CImageBase() : transform_(new CImageTransform())
{
    colourTable_.limit = VoiLutEntry::kDefaultLimit;
    ResetDisplayState();
}

CImageBase::~CImageBase() = default;

void CImageBase::ResetDisplayState()
{
    magnifierRect_ = RECT{0, 0, 0, 0};
    magnifierDestRect_ = RECT{0, 0, 0, 0};
    magnifierSamples_.clear();
    magnifierSamples_.shrink_to_fit();
    magnifierBits_.clear();
    magnifierBits_.shrink_to_fit();
    magnifierValid_ = false;
    magnifierBitmapSize_ = 0;
    magnifierRowBytes_ = 0;
}

uint8_t* CImageBase::GetPixelBuffer(size_t& sizeBytes)
{
    sizeBytes = sourcePixels_.size();
    return sourcePixels_.empty() ? nullptr : sourcePixels_.data();
}

void CImageBase::FoldPendingDrag(bool clear)
{
    if (!drag_.IsPending())
        return;
    float dx, dy;
    drag_.GetPendingDelta(dx, dy);
    if (grey_) {
        windowWidth_ += dx;
        windowCentre_ += dy;
    } else {
        brightness_ += dx;
        contrast_ += dy;
    }
    if (clear)
        drag_.pendingX = drag_.pendingY = 0.0f;
}

double CImageBase::SafeWidth() const
{
    const double w = windowWidth_;
    return w >= 1.0 ? w : 1.0; // also catches NaN
}

void CImageBase::BuildGreyLutFromWindow()
{
    const double width = SafeWidth();
    const double centre = FiniteOr(windowCentre_, 0.0);
    BuildGreyLut(255.0 / width, 127.5 - centre * 255.0 / width, inverted_);
}

void CImageBase::RebuildGreyLut() { BuildGreyLutFromWindow(); }

void CImageBase::BuildGreyLut(double a, double b, bool invert)
{
    if (!grey_)
        return;
    const int32_t n = std::min<int64_t>(std::max(greyTable_.entryCount, 0), static_cast<int64_t>(greyTable_.data.size()));
    const bool voi = voiEnabled_ && activeVoiLut_.HasData();
    if (voi) {
        int32_t mn, mx;
        activeVoiLut_.GetRange(mn, mx);
        double span = static_cast<double>(mx) - mn;
        if (span == 0.0)
            span = 1.0;
        a = 255.0 / span;
        b = 127.5 - 255.0 * (mn + span * 0.5) / span;
    }
    const bool signedData = signedSamples_;
    const bool modality = modalityLutEnabled_ && modalityLut_.HasData();
    const bool monochrome1 = dicom_.photometricInterpretation == "MONOCHROME1";
    const double range = range_;
    const double slope = slope_, intercept = intercept_;
    for (int32_t i = 0; i < n; ++i) {
        const double centred = i - range * 0.5;
        const int64_t s = signedData ? static_cast<int64_t>(TruncToInt(centred)) : i;
        double m;
        if (modality)
            m = modalityLut_.Lookup(s);
        else
            m = (signedData ? centred : static_cast<double>(i)) * slope + intercept;
        // The VOI LUT maps the modality output, not the stored value.
        if (voi)
            m = activeVoiLut_.Lookup(RoundToInt64(m));
        double v = m * a + b;
        if (std::isnan(v))
            v = 0.0;
        if (v < 0.0)
            v = 0.0;
        if (v > 255.0)
            v = 255.0;
        if (monochrome1)
            v = 255.0 - v;
        if (invert)
            v = 255.0 - v;
        greyTable_.data[static_cast<size_t>(i)] = static_cast<int32_t>(v);
    }
}

void CImageBase::RebuildColourTable()
{
    brightness_ = NarrowToFloat(FiniteOr(brightness_, 0.0));
    contrast_ = std::isfinite(contrast_) ? contrast_ : 1.0f;
    brightness_ = std::max(-1000.0f, std::min(brightness_, 1000.0f));
    contrast_ = std::max(-1000.0f, std::min(contrast_, 1000.0f));
    const int shift = static_cast<int>(std::floor(brightness_ * 0.001 * 255));
    const int32_t n = std::min<int64_t>(std::max(colourTable_.entryCount, 0), static_cast<int64_t>(colourTable_.data.size()));
    for (int32_t i = 0; i < n; ++i) {
        int v = (i % 256) + shift;
        if (inverted_)
            v = 255 - v;
        colourTable_.data[static_cast<size_t>(i)] = std::max(0, std::min(v, 255));
    }
}

void CImageBase::InitImage(int height, int width, int levelCount, int bitsStored, bool grey, bool signedSamples)
{
    if (height <= 0 || width <= 0 || bitsStored < 1 || bitsStored > 16)
        return;
    ResetDisplayState();
    grey_ = grey;
    bitsStored_ = bitsStored;
    imageWidth_ = width;
    imageHeight_ = height;
    // Colour is decoded as packed 32-bit pixels: never signed.
    codestreamSigned_ = grey && signedSamples;
    signedSamples_ = WantSigned();
    initialised_ = true;
    renderFlag_ = false;
    drag_.greyScaling = grey;
    drag_.bitsStored = bitsStored;

    if (!transform_)
        transform_.reset(new CImageTransform());
    // Geometry given before the image was initialised stays in force.
    CImageTransform& t = *transform_;
    const CImageTransform kept = t;
    t.Init(height, width, levelCount);
    t.viewRect = kept.viewRect;
    t.viewWidth = kept.viewWidth;
    t.viewHeight = kept.viewHeight;
    t.viewHalfWidth = kept.viewHalfWidth;
    t.viewHalfHeight = kept.viewHalfHeight;
    t.rotation = kept.rotation;
    t.horizontalFlip = kept.horizontalFlip;
    t.verticalFlip = kept.verticalFlip;
    t.panX = kept.panX;
    t.panY = kept.panY;
    t.fitType = 2;
    t.ApplyFit();
    t.fitType = kept.fitType;
    levelCount_ = t.levelCount;
    levelWidth_ = t.levelWidth;
    levelHeight_ = t.levelHeight;
    // A new source: its buffer is made at the first level the view asks for.
    sourcePixels_.clear();
    sourcePixels_.shrink_to_fit();
    heldLevel_ = -1;
    knownGood_ = lastDecoded_ = decodedRect_ = RECT{0, 0, 0, 0};
    firstRequest_ = true;
    for (int i = 0; i < 7; ++i)
        currentRegion_[i] = pendingRegion_[i] = 0;

    range_ = static_cast<float>(PowerOfTwo(bitsStored));
    halfRange_ = static_cast<uint16_t>(PowerOfTwo(bitsStored - 1));

    if (grey_) {
        greyTable_.Resize(static_cast<int32_t>(range_));
        if (windowFromDisplayState_) {
            windowWidth_ = NarrowToFloat(block_.firstValue);
            windowCentre_ = NarrowToFloat(block_.secondValue);
        } else if (!dicomWindowInUse_) {
            windowWidth_ = range_;
            windowCentre_ = range_ / 2.0f;
        }
        // The first render must not fold the same drag again.
        if (drag_.IsPending())
            drag_.resetRequest = true;
        FoldPendingDrag(false);
        BuildGreyLutFromWindow();
    } else {
        colourTable_.Resize(256);
        colourTable_.bitsPerEntry = 8;
        if (windowFromDisplayState_) {
            brightness_ = NarrowToFloat(block_.firstValue);
            contrast_ = NarrowToFloat(block_.secondValue);
        }
        if (drag_.IsPending())
            drag_.resetRequest = true;
        FoldPendingDrag(false);
        RebuildColourTable();
    }

    if (!grey_)
        pixelFormat_ = PixelFormat{4, 4, 0, false};
    else if (signedSamples_)
        pixelFormat_ = PixelFormat{2, 1, 0, true};
    else if (bitsStored_ > 8)
        pixelFormat_ = PixelFormat{2, 1, 0, false};
    else
        pixelFormat_ = PixelFormat{1, 1, 0, false};
    bytesPerPixel_ = pixelFormat_.bytesPerPixel;

    if (!windowFromDisplayState_ && dicomWindowInUse_ && drag_.IsPending())
        drag_.pendingX = drag_.pendingY = 0.0f;
}

void CImageBase::EnableModalityLut(bool enabled)
{
    modalityLutEnabled_ = enabled;
    BuildGreyLutFromWindow();
}

void CImageBase::SelectVoiLut(int32_t index)
{
    voiIndex_ = index;
    if (index <= 0) {
        voiEnabled_ = false;
    } else {
        voiEnabled_ = true;
        const VoiLutEntry& entry = voiLuts_[index - 1];
        activeVoiLut_.bitsPerEntry = entry.bitsPerEntry;
        activeVoiLut_.firstValueMapped = entry.firstValueMapped;
        activeVoiLut_.entryCount = entry.entryCount;
        activeVoiLut_.data = entry.data;
    }
    if (!dicomWindowInUse_ && !userAdjusted_ && !windowFromDisplayState_) {
        windowWidth_ = range_;
        windowCentre_ = range_ / 2.0f;
        AutoWindow();
    }
    BuildGreyLutFromWindow();
}

void CImageBase::WarnReplaced(const char* what, double value)
{
    char key[96];
    std::snprintf(key, sizeof key, "%s=%.17g", what, value);
    if (!warned_.insert(key).second)
        return;
    ORBEL_LOG(WARNING) << "Image " << imageWidth_ << "x" << imageHeight_ << " at " << static_cast<const void*>(this)
                       << ": " << what << " " << value << " replaced";
}

void CImageBase::SanitiseRescale()
{
    // A zero or non-finite rescale would turn every value into the intercept: no rescale.
    const float slope = dicom_.rescaleSlope, intercept = dicom_.rescaleIntercept;
    if (slope == 0.0f || !std::isfinite(slope) || !std::isfinite(intercept)) {
        WarnReplaced(slope == 0.0f || !std::isfinite(slope) ? "rescale slope" : "rescale intercept",
                     slope == 0.0f || !std::isfinite(slope) ? slope : intercept);
        dicom_.rescaleSlope = 1.0f;
        dicom_.rescaleIntercept = 0.0f;
    }
}

bool CImageBase::WantSigned()
{
    const int32_t representation = dicom_.pixelRepresentation;
    if (!grey_ || (representation != 0 && representation != 1))
        return codestreamSigned_;
    const bool wanted = representation == 1;
    // Up to 8 bits unsigned samples are held in bytes, signed ones in 16 bits: the holding
    // would have to change under the decoder, so the codestream decides there.
    if (wanted != codestreamSigned_ && bitsStored_ <= 8) {
        WarnReplaced("pixel representation", representation);
        return codestreamSigned_;
    }
    return wanted;
}

void CImageBase::SyncSignedness()
{
    if (!initialised_ || !grey_)
        return;
    const bool wanted = WantSigned();
    if (wanted == signedSamples_)
        return;
    signedSamples_ = wanted;
    pixelFormat_.isSigned = wanted;
    // Everything held was converted the other way.
    ReinterpretSigned16(Words(sourcePixels_), levelWidth_, 0, 0, levelWidth_,
                        static_cast<int>(sourcePixels_.size() / 2 / std::max(levelWidth_, 1)), bitsStored_, wanted);
    ReinterpretSigned16(Words(viewSamples_), viewWidth_, 0, 0, viewWidth_,
                        static_cast<int>(viewSamples_.size() / 2 / std::max(viewWidth_, 1)), bitsStored_, wanted);
    // The zoomed image holds signed samples moved up by half the range: a move by half the
    // range, modulo the range, turns a held sample either way.
    const uint32_t mask = PowerOfTwo(bitsStored_) - 1;
    uint16_t* zoomed = Words(zoomedImage_);
    for (size_t i = 0, n = zoomedPresent_ ? zoomedImage_.size() / 2 : 0; i < n; ++i)
        zoomed[i] = static_cast<uint16_t>((zoomed[i] + halfRange_) & mask);
    fullRecopy_ = true;
    ++viewSamplesGeneration_;
    // An automatic window measured the other signedness: start from the full range again,
    // as a new image does (the caller tries the automatic window next).
    if (!dicomWindowInUse_ && !userAdjusted_ && !windowFromDisplayState_) {
        windowWidth_ = range_;
        windowCentre_ = range_ / 2.0f;
    }
    BuildGreyLutFromWindow();
}

void CImageBase::AdoptDecodedSamples(int x0, int y0, int x1, int y1)
{
    if (signedSamples_ == codestreamSigned_ || bytesPerPixel_ != 2 || levelWidth_ < 1)
        return;
    const int rows = static_cast<int>(sourcePixels_.size() / 2 / static_cast<size_t>(levelWidth_));
    ReinterpretSigned16(Words(sourcePixels_), levelWidth_, x0, y0, x1, std::min(y1, rows), bitsStored_,
                        signedSamples_);
}

void CImageBase::ApplyDicomWindow()
{
    SyncSignedness();
    if (!std::isfinite(dicom_.windowWidth) || !std::isfinite(dicom_.windowCentre)) {
        WarnReplaced("DICOM window", std::isfinite(dicom_.windowWidth) ? dicom_.windowCentre : dicom_.windowWidth);
        dicom_.windowWidth = -1.0f;
        dicom_.windowCentre = 0.0f;
    }
    if (dicom_.windowWidth != -1.0f) {
        if (dicom_.windowWidth != lastDicomWidth_ || dicom_.windowCentre != lastDicomCentre_) {
            // The user's window and a stored display state outrank the DICOM window.
            if (!userAdjusted_ && !windowFromDisplayState_) {
                windowWidth_ = dicom_.windowWidth;
                windowCentre_ = dicom_.windowCentre;
                if (initialised_)
                    FoldPendingDrag(true);
            }
        }
        dicomWindowInUse_ = true;
        lastDicomWidth_ = dicom_.windowWidth;
        lastDicomCentre_ = dicom_.windowCentre;
    }
    SanitiseRescale();
    if (dicom_.rescaleSlope != 1.0f || dicom_.rescaleIntercept != 0.0f) {
        slope_ = dicom_.rescaleSlope;
        intercept_ = dicom_.rescaleIntercept;
    }
    if (!userAdjusted_) {
        AutoWindow();
        BuildGreyLutFromWindow();
    }
}

void CImageBase::AutoWindow()
{
    if (!signedSamples_ || dicomWindowInUse_ || windowFromDisplayState_ || sourcePixels_.empty())
        return;
    const size_t count = static_cast<size_t>(std::max(levelWidth_, 0)) * static_cast<size_t>(std::max(levelHeight_, 0));
    if (count == 0 || sourcePixels_.size() < count * 2)
        return;
    // Signed samples are 16-bit whatever their bit depth.
    int minimum = static_cast<int>(PowerOfTwo(bitsStored_ - 1)) - 1;
    int maximum = -static_cast<int>(PowerOfTwo(bitsStored_ - 1));
    ScanMinMaxS16(reinterpret_cast<const int16_t*>(sourcePixels_.data()), levelWidth_, 0, 0, levelWidth_,
                  levelHeight_, maximum, minimum);
    const double slope = slope_, intercept = intercept_;
    const double lo = minimum * slope + intercept;
    const double hi = maximum * slope + intercept;
    const double width = hi - lo + 1.0;
    windowWidth_ = NarrowToFloat(width);
    windowCentre_ = NarrowToFloat(lo + width / 2.0);
    FoldPendingDrag(false);
    BuildGreyLutFromWindow();
}

void CImageBase::SetWindowFromRegion(int x0, int y0, int x1, int y1)
{
    if (!grey_ || x0 >= x1 || y0 >= y1 || viewSamples_.empty())
        return;
    const RECT& d = transform_->destRect;
    if (!(d.left <= x0 && d.top <= y0 && d.right >= x1 && d.bottom >= y1))
        return;
    if (x0 < 0 || y0 < 0 || x1 > viewWidth_ || y1 > viewHeight_)
        return;
    const size_t bytes = signedSamples_ || bitsStored_ > 8 ? 2 : 1;
    if (viewSamples_.size() < static_cast<size_t>(viewWidth_) * static_cast<size_t>(viewHeight_) * bytes)
        return;
    double width, centre;
    if (signedSamples_) {
        int minimum = static_cast<int>(PowerOfTwo(bitsStored_ - 1)) - 1;
        int maximum = -static_cast<int>(PowerOfTwo(bitsStored_ - 1));
        ScanMinMaxS16(reinterpret_cast<const int16_t*>(viewSamples_.data()), viewWidth_, x0, y0, x1, y1, maximum,
                      minimum);
        // The grey table rescales signed samples too: so must their window.
        const double lo = minimum * static_cast<double>(slope_) + intercept_;
        const double hi = maximum * static_cast<double>(slope_) + intercept_;
        width = hi - lo + 1;
        centre = lo + width / 2;
    } else if (bitsStored_ > 8) {
        int minimum = static_cast<int>(PowerOfTwo(bitsStored_)) - 1;
        int maximum = 0;
        ScanMinMaxU16(reinterpret_cast<const uint16_t*>(viewSamples_.data()), viewWidth_, x0, y0, x1, y1, maximum,
                      minimum);
        const double lo = minimum * static_cast<double>(slope_) + intercept_;
        const double hi = maximum * static_cast<double>(slope_) + intercept_;
        width = hi - lo + 1;
        centre = lo + width / 2;
    } else {
        int minimum = static_cast<int>(PowerOfTwo(bitsStored_)) - 1;
        int maximum = 0;
        ScanMinMaxU8(viewSamples_.data(), viewWidth_, x0, y0, x1, y1, maximum, minimum);
        width = static_cast<double>(maximum) - minimum + 1;
        centre = minimum + width / 2;
    }
    windowWidth_ = NarrowToFloat(width);
    windowCentre_ = NarrowToFloat(centre);
    BuildGreyLutFromWindow();
    userAdjusted_ = true;
}

PixelReadout& CImageBase::GetPixelReadout(PixelReadout& out, int x, int y, std::string modality)
{
    out = PixelReadout();
    const RECT& d = transform_->destRect;
    const bool inside = x >= d.left && x <= d.right && y >= d.top && y <= d.bottom;
    if (!inside || levelWidth_ < 1 || levelHeight_ < 1) {
        out.position.clear();
        out.value.clear();
        return out;
    }
    float p[2];
    transform_->ViewToImage(static_cast<float>(x), static_cast<float>(y), p);
    // The mapped point may reach the level's far edge: keep it on the image.
    const int c = std::max(0, std::min(TruncToInt(p[0]), levelWidth_ - 1));
    const int r = std::max(0, std::min(TruncToInt(p[1]), levelHeight_ - 1));
    const size_t index = static_cast<size_t>(r) * static_cast<size_t>(levelWidth_) + static_cast<size_t>(c);
    const POINT full = FullResolutionPoint(x, y, c, r);
    const size_t bytes = !grey_ ? 4 : (signedSamples_ || bitsStored_ > 8) ? 2 : 1;
    if (sourcePixels_.empty() || (index + 1) * bytes > sourcePixels_.size()) {
        out.position.clear();
        out.value.clear();
        return out;
    }
    if (!grey_) {
        const uint32_t px = ReadSample<uint32_t>(sourcePixels_, index);
        char text[100];
        std::snprintf(text, sizeof text, "X=%d, Y=%d,RGB=%d,%d,%d", int(full.x), int(full.y),
                      static_cast<int>((px >> 16) & 0xFF),
                      static_cast<int>((px >> 8) & 0xFF), static_cast<int>(px & 0xFF));
        out.value = text;
        return out;
    }
    double raw;
    if (signedSamples_)
        raw = ReadSample<int16_t>(sourcePixels_, index);
    else if (bitsStored_ > 8)
        raw = ReadSample<uint16_t>(sourcePixels_, index);
    else
        raw = sourcePixels_[index];
    SanitiseRescale();
    const int shown = TruncSample(raw * static_cast<double>(dicom_.rescaleSlope) + dicom_.rescaleIntercept);
    if (!modality.empty() && bitsStored_ > 8 && modality == "CT") {
        char text[100];
        std::snprintf(text, sizeof text, "X=%d, Y=%d, Hounsfield= %d", int(full.x), int(full.y), shown);
        out.value = text;
        return out;
    }
    out.position = Format("X=%d, Y=%d", int(full.x), int(full.y));
    char text[32];
    std::snprintf(text, sizeof text, "%d", shown);
    out.value = text;
    out.plainValue = true;
    return out;
}

// Readouts name full-resolution pixels at any level: the view point mapped onto the full
// image, kept within the full pixels that level pixel (c, r) stands for, so the position
// and the value shown always belong together.
POINT CImageBase::FullResolutionPoint(int x, int y, int c, int r) const
{
    const CImageTransform& t = *transform_;
    float p[2];
    t.ViewToFullImage(static_cast<float>(x), static_cast<float>(y), p);
    const int f = 1 << std::max(0, std::min(heldLevel_, 15));
    auto within = [f](float v, int at, int size) {
        const int lo = at * f, hi = std::min(lo + f, size) - 1;
        return std::max(lo, std::min(TruncToInt(v), std::max(lo, hi)));
    };
    return POINT{within(p[0], c, t.fullWidth), within(p[1], r, t.fullHeight)};
}

std::string& CImageBase::GetWindowLevelText(std::string& out)
{
    const double range = range_;
    double level = dicom_.photometricInterpretation == "MONOCHROME1" ? range - windowCentre_ : windowCentre_;
    if (std::fabs(range) < 1e-10 && std::fabs(block_.firstValue) > 1e-10)
        level = block_.firstValue - windowCentre_;
    char text[100];
    if (grey_)
        std::snprintf(text, sizeof text, "W : %.f, L : %.f", static_cast<double>(windowWidth_), level);
    else
        std::snprintf(text, sizeof text, "C : %.f, B : %.f", static_cast<double>(contrast_),
                      static_cast<double>(brightness_));
    out = text;
    return out;
}

OrientationMarkers& CImageBase::GetOrientationMarkers(OrientationMarkers& out, const std::vector<float>& cosines)
{
    out.left.clear();
    out.top.clear();
    if (cosines.size() < 6)
        return out;
    int d[6];
    for (int i = 0; i < 6; ++i) {
        const double v = cosines[static_cast<size_t>(i)];
        d[i] = v > 0 ? TruncToInt(v + 0.5) : v < 0 ? TruncToInt(v - 0.5) : 0;
    }
    out.left = LetterFor(d[0], d[1], d[2]);
    out.top = LetterFor(d[3], d[4], d[5]);
    const int turns = ((transform_->rotation % 4) + 4) % 4;
    for (int i = 0; i < turns; ++i) {
        const std::string oldLeft = out.left;
        out.left = Opposite(out.top);
        out.top = oldLeft;
    }
    // Flips act in view axes after the rotation.
    if (transform_->horizontalFlip)
        out.left = Opposite(out.left);
    if (transform_->verticalFlip)
        out.top = Opposite(out.top);
    return out;
}
