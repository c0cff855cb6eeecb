#include "imagelib/RxImageICO.h"

#include "imagelib/RxBytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool MaskBit(const BYTE* mask, size_t rowBytes, long x, long y)
{
    return (mask[size_t(y) * rowBytes + size_t(x) / 8] >> (7 - x % 8)) & 1;
}

} // namespace

bool RxImageICO::Decode(RxFile* f)
{
    if (!f)
        return false;
    const char* failure = DecodeEntry(f);
    if (!failure)
        return true;
    if (failure != GetLastError())
        SetLastError(failure);
    Destroy();
    return false;
}

// Reads the requested entry; the failure's text, or null.
const char* RxImageICO::DecodeEntry(RxFile* f)
{
    const long start = f->Tell();
    BYTE dir[6];
    if (f->Read(dir, 1, 6) != 6 || RxGet16(dir) != 0 || (RxGet16(dir + 2) != 1 && RxGet16(dir + 2) != 2))
        return "not an icon";
    const int count = RxGet16(dir + 4);
    info.nNumFrames = count;
    std::vector<BYTE> entries(size_t(count) * 16);
    if (f->Read(entries.data(), 1, entries.size()) != entries.size())
        return "not an icon";
    if (info.nFrame < 0 || info.nFrame >= count)
        return "bad frame number";
    const BYTE* entry = &entries[size_t(info.nFrame) * 16];
    const DWORD width = entry[0] ? entry[0] : 256, height = entry[1] ? entry[1] : 256; // 0 means 256
    BYTE bih[40];
    if (!f->Seek(start + long(RxGet32(entry + 12)), 0) || f->Read(bih, 1, 40) != 40)
        return "corrupted icon";
    if (std::memcmp(bih, "\x89PNG", 4) == 0)
        return "PNG icon entries not supported";
    const int bits = RxGet16(bih + 14);
    if (RxGet32(bih) != 40 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
        return "unsupported icon entry";
    DWORD colours = RxGet32(bih + 32);
    if (colours == 0 && bits <= 8)
        colours = 1u << bits;
    if (bits <= 8 && colours > (1u << bits))
        return "unsupported icon entry";
    if (!Create(width, height, DWORD(bits), RXIMAGE_FORMAT_ICO))
        return GetLastError(); // Create's text
    // Entries past the image's palette are skipped, not read: the count is the file's word.
    const DWORD kept = std::min<DWORD>(colours, 256);
    BYTE pal[256 * 4];
    if (f->Read(pal, 4, kept) != kept || (colours > kept && !f->Seek(long(colours - kept) * 4, 1)))
        return "corrupted icon";
    // The fourth byte is reserved, as in a bitmap: a stray value must not read as palette
    // alpha, which the encoder would turn into a mask over opaque pixels.
    for (DWORD i = 0; i < kept; ++i)
        pal[i * 4 + 3] = 0;
    SetPalette(reinterpret_cast<const RGBQUAD*>(pal), kept);
    bool ownAlpha = false;
    if (bits == 32) {
        std::vector<BYTE> px(size_t(width) * height * 4);
        if (f->Read(px.data(), 1, px.size()) != px.size() || !AlphaCreate())
            return "corrupted icon";
        for (DWORD y = 0; y < height; ++y)
            for (DWORD x = 0; x < width; ++x) {
                const BYTE* p = &px[(size_t(y) * width + x) * 4];
                std::memcpy(GetBits(y) + x * 3, p, 3);
                AlphaSet(long(x), long(y), p[3]);
                ownAlpha = ownAlpha || p[3] != 0;
            }
    } else if (f->Read(GetBits(), 1, head.biSizeImage) != head.biSizeImage) {
        return "corrupted icon";
    }
    if (ownAlpha)
        return nullptr; // its own alpha rules: the mask is for readers without alpha
    // Alpha 0 everywhere is no alpha (written by tools that leave the byte unset), not an
    // invisible icon: the entry is read as a 24-bit one, opaque but where its mask says.
    const int maskBits = bits == 32 ? 24 : bits;
    if (bits == 32)
        AlphaDelete();
    const size_t rowBytes = ((size_t(width) + 31) / 32) * 4;
    std::vector<BYTE> mask(rowBytes * height);
    if (f->Read(mask.data(), 1, mask.size()) != mask.size())
        return nullptr; // no mask: the image as read
    ApplyMask(mask.data(), rowBytes, maskBits);
    return nullptr;
}

void RxImageICO::ApplyMask(const BYTE* mask, size_t rowBytes, int fileBits)
{
    // A mask of all ones is a fully transparent icon, read as any other mask: inverting the
    // palette for it would invert again on every round trip, since the encoder writes such
    // a mask for a transparent icon whose width is a multiple of 32.
    const long w = long(GetWidth()), h = long(GetHeight());
    const bool hadAlpha = AlphaIsValid();
    AlphaCreate();
    bool anyMasked = false;
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
            if (MaskBit(mask, rowBytes, x, y)) {
                AlphaSet(x, y, 0);
                anyMasked = true;
            }
    if (!anyMasked) {
        if (!hadAlpha)
            AlphaDelete();
        return;
    }
    if (fileBits == 24) { // one colour under the whole mask becomes the transparent colour
        bool same = true, seen = false;
        RGBQUAD colour{};
        for (long y = 0; y < h && same; ++y)
            for (long x = 0; x < w && same; ++x)
                if (MaskBit(mask, rowBytes, x, y)) {
                    const RGBQUAD c = GetPixelColor(x, y, false);
                    same = !seen || std::memcmp(&c, &colour, 3) == 0;
                    colour = c, seen = true;
                }
        if (same) {
            SetTransColor(colour);
            info.nBkgndIndex = 0;
            AlphaDelete();
        }
        return;
    }
    if (GetBpp() > 8)
        return;
    const int index = BackgroundIndex(mask, rowBytes);
    if (index < 0)
        return; // every index is in use: the alpha plane stays
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
            if (MaskBit(mask, rowBytes, x, y))
                SetPixelIndex(x, y, BYTE(index));
    info.nBkgndIndex = index;
    AlphaDelete();
}

// The index masked pixels take: the one they all hold already when no opaque pixel holds
// it (so an icon this library wrote keeps its index and colour), else the first index no
// pixel holds; -1 when there is none.
int RxImageICO::BackgroundIndex(const BYTE* mask, size_t rowBytes) const
{
    const long w = long(GetWidth()), h = long(GetHeight());
    std::vector<bool> used(size_t(1) << GetBpp(), false), opaque(used.size(), false);
    int maskedIndex = -1; // the masked pixels' one index; -2 when they hold several
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
            const BYTE i = GetPixelIndex(x, y);
            used[i] = true;
            if (!MaskBit(mask, rowBytes, x, y))
                opaque[i] = true;
            else if (maskedIndex == -1 || maskedIndex == i)
                maskedIndex = i;
            else
                maskedIndex = -2;
        }
    if (maskedIndex >= 0 && !opaque[size_t(maskedIndex)])
        return maskedIndex;
    const auto unused = std::find(used.begin(), used.end(), false);
    return unused == used.end() ? -1 : int(unused - used.begin());
}

bool RxImageICO::Encode(RxFile* f)
{
    if (CheckEncodeTarget(f))
        return false;
    const DWORD w = GetWidth(), h = GetHeight();
    if (w > 255 || h > 255) {
        SetLastError("Can't save this image as icon");
        return false;
    }
    if (GetBpp() <= 8 && !GetPalette())
        return false;
    const bool alpha32 = GetBpp() == 24 && AlphaIsValid();
    const DWORD bits = alpha32 ? 32 : GetBpp();
    const DWORD pixelSize = alpha32 ? w * h * 4 : head.biSizeImage;
    const DWORD rowBytes = ((w + 31) / 32) * 4, maskSize = rowBytes * h;
    std::vector<BYTE> out;
    RxAppend16(out, 0), RxAppend16(out, 1), RxAppend16(out, 1);
    out.insert(out.end(), {BYTE(w), BYTE(h), BYTE(head.biClrUsed), 0});
    RxAppend16(out, 0), RxAppend16(out, bits);
    RxAppend32(out, pixelSize + GetPaletteSize() + 40 + maskSize);
    RxAppend32(out, 22);
    RxAppend32(out, 40), RxAppend32(out, w), RxAppend32(out, h * 2), RxAppend16(out, 1), RxAppend16(out, bits);
    RxAppend32(out, 0), RxAppend32(out, pixelSize);
    out.resize(out.size() + 16, 0);
    const BYTE* pal = reinterpret_cast<const BYTE*>(GetPalette());
    if (pal)
        out.insert(out.end(), pal, pal + GetPaletteSize());
    if (alpha32) {
        for (DWORD y = 0; y < h; ++y)
            for (DWORD x = 0; x < w; ++x) {
                const BYTE* p = GetBits(y) + x * 3;
                out.insert(out.end(), {p[0], p[1], p[2], AlphaGet(long(x), long(y))});
            }
    } else {
        out.insert(out.end(), GetBits(), GetBits() + head.biSizeImage);
    }
    std::vector<BYTE> mask(maskSize, 0);
    const bool paletteAlpha = IsPaletteAlpha();
    const RGBQUAD trans = GetTransColor();
    for (DWORD y = 0; y < h; ++y)
        for (DWORD x = 0; x < w; ++x) {
            // An indexed image's background is its index: another entry of the same colour
            // is opaque.
            const RGBQUAD c = GetPixelColor(long(x), long(y), false);
            const bool background =
                info.nBkgndIndex >= 0 && (IsIndexed() ? GetPixelIndex(long(x), long(y)) == info.nBkgndIndex
                                                      : std::memcmp(&c, &trans, 3) == 0);
            const bool masked = (AlphaIsValid() && AlphaGet(long(x), long(y)) == 0) ||
                                (paletteAlpha && GetPaletteColor(GetPixelIndex(long(x), long(y))).rgbReserved == 0) ||
                                background;
            if (masked)
                mask[y * rowBytes + x / 8] |= BYTE(0x80 >> (x % 8));
        }
    out.insert(out.end(), mask.begin(), mask.end());
    if (f->Write(out.data(), 1, out.size()) != out.size()) {
        SetLastError("Write Error in ICO file");
        return false;
    }
    return true;
}
