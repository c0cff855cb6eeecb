// The display state leaving the image (geometry for the annotation layer, hexadecimal text
// for the status document) and coming back from the page.
#include "image/ImageBase.h"

#include <cfloat>
#include <cmath>

namespace {

const int32_t kMagic = 13579246;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Text from the page is untrusted: every digit must be hexadecimal; surrounding whitespace
// and an odd last digit are ignored.
bool DecodeHex(const std::string& text, std::vector<uint8_t>& out)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsAsciiSpace(text[begin]))
        ++begin;
    while (end > begin && IsAsciiSpace(text[end - 1]))
        --end;
    const size_t count = (end - begin) / 2;
    out.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const int hi = HexDigit(text[begin + 2 * i]);
        const int lo = HexDigit(text[begin + 2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

} // namespace

void CImageBase::GetDisplayState(ImageDisplayState& out)
{
    int mirrored = 0;
    int turns = ((rotation_ % 4) + 4) % 4;
    if (horizontalFlip_) {
        mirrored = 1;
        if (turns % 2 != 0)
            turns = (turns + 2) % 4;
    }
    if (verticalFlip_) {
        mirrored = !mirrored;
        if (turns % 2 == 0)
            turns = (turns + 2) % 4;
    }
    const CImageTransform& t = *transform_;
    out.mirrored = mirrored;
    out.quarterTurns = turns;
    out.zoomX = t.zoomX;
    out.zoomY = t.zoomY;
    out.panX = t.panX;
    out.panY = t.panY;
    out.placedImage = t.placedImage;
    out.imageWidth = imageWidth_;
    out.imageHeight = imageHeight_;
    out.spacingRow = NarrowToFloat(dicom_.pixelSpacingRow);
    out.spacingColumn = NarrowToFloat(dicom_.pixelSpacingColumn);
}

std::string& CImageBase::GetDisplayStateText(std::string& out)
{
    block_.writtenMarker = 1;
    block_.inverted = inverted_ ? 1 : 0;
    block_.firstValue = grey_ ? windowWidth_ : brightness_;
    block_.secondValue = grey_ ? windowCentre_ : contrast_;
    ImageDisplayState state;
    GetDisplayState(state);
    block_.viewRecord = imageViewRecord_;
    block_.viewRecord.notMirrored = state.mirrored == 0 ? 1 : 0;
    block_.viewRecord.quarterTurns = state.quarterTurns;
    block_.spareWord = 0;

    const size_t size = 4 + block_.Write(nullptr, 0);
    std::vector<uint8_t> bytes(size, 0);
    const uint32_t magic = static_cast<uint32_t>(kMagic);
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(magic >> (8 * i));
    block_.Write(bytes.data() + 4, size - 4);

    static const char kDigits[] = "0123456789abcdef";
    out.clear();
    out.reserve(size * 2);
    for (uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

void CImageBase::SetDisplayStateText(const std::string& text)
{
    std::vector<uint8_t> bytes;
    if (text.empty() || !DecodeHex(text, bytes) || bytes.size() < 4)
        return;
    DisplayStateBlock read;
    if (read.Read(bytes.data() + 4, bytes.size() - 4) == 0)
        return;
    // Keep the two fields that are not part of the byte form.
    read.kindWord = block_.kindWord;
    read.name = block_.name;
    block_ = read;
    imageViewRecord_ = block_.viewRecord;

    if (!userAdjusted_) {
        if (block_.firstValue != -1.0) {
            if (!std::isfinite(block_.firstValue) || std::fabs(block_.firstValue) > FLT_MAX)
                WarnReplaced("display-state first value", block_.firstValue);
            if (!std::isfinite(block_.secondValue) || std::fabs(block_.secondValue) > FLT_MAX)
                WarnReplaced("display-state second value", block_.secondValue);
            windowWidth_ = NarrowToFloat(block_.firstValue);
            windowCentre_ = NarrowToFloat(block_.secondValue);
            windowFromDisplayState_ = true;
            if (drag_.IsPending() && !drag_.resetRequest)
                FoldPendingDrag(true);
            brightness_ = NarrowToFloat(block_.firstValue);
            contrast_ = NarrowToFloat(block_.secondValue);
        }
        if (!inverted_ && block_.inverted != 0) {
            inverted_ = true;
            if (renderFlag_ || initialised_)
                RebuildCurrentTable();
        }
        RebuildGreyLut();
        RebuildColourTable();
    }

    bool h, v;
    int rotation;
    OrientationFromBlock(block_, h, v, rotation);
    if (rotation < 0 || rotation > 4) {
        // An unknown turn counts as none, and so does its choice of flip: a mirror then
        // lies along x, as every text written here has it for an even turn.
        h = h || v;
        v = false;
        rotation = 0;
    }
    rotation %= 4;
    CImageTransform& t = *transform_;
    if (!horizontalFlip_)
        horizontalFlip_ = h;
    if (!verticalFlip_)
        verticalFlip_ = v;
    if (rotation_ % 4 == 0)
        rotation_ = rotation;
    if (!t.horizontalFlip)
        t.horizontalFlip = h;
    if (!t.verticalFlip)
        t.verticalFlip = v;
    if (t.rotation % 4 == 0)
        t.rotation = rotation;
    t.Update();
    SetFitMode(2, renderFlag_);
}
