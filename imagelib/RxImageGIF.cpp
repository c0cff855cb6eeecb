// Reading: the byte and code readers, extensions, the frame counter, the decoder and the
// composition of frames onto the screen; writing: the file structure around the codes.
#include "imagelib/RxImageGIF.h"

#include "imagelib/RxBytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The table size code of a packed byte: 2^(n + 1) entries.
int TableSize(BYTE packed)
{
    return 2 << (packed & 7);
}

// Twelve-bit codes yield at most 4096 pixels each, and shorter codes shorter strings: LZW data
// never comes near this many pixels per byte.
constexpr uint64_t kLzwMostPixelsPerByte = 8192;

int DepthFor(int colours)
{
    return colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
}

} // namespace

void RxImageGIF::SetComment(const char* text)
{
    std::strncpy(m_comment, text ? text : "", sizeof m_comment - 1);
    m_comment[sizeof m_comment - 1] = 0;
}

// ---- readers --------------------------------------------------------------------------

int RxImageGIF::GetByte(RxFile* f)
{
    DecodeState& d = m_decode;
    if (d.readPos >= kReadAhead) {
        d.readFill = long(f->Read(d.readAhead, 1, kReadAhead));
        if (d.readFill < kReadAhead)
            d.readAhead[d.readFill] = 255;
        d.readPos = 0;
    }
    if (d.readPos >= d.readFill)
        return -1;
    return d.readAhead[d.readPos++];
}

int RxImageGIF::GetNextCode(RxFile* f)
{
    DecodeState& d = m_decode;
    auto nextByte = [&]() -> int {
        if (d.blockLeft <= 0) {
            d.blockPos = d.block;
            d.blockLeft = GetByte(f);
            if (d.blockLeft <= 0) // a zero length ends the data: no stale bytes are used
                return d.blockLeft < 0 ? d.blockLeft : -1;
            for (int i = 0; i < d.blockLeft; ++i) {
                const int x = GetByte(f);
                if (x < 0)
                    return x;
                d.block[i] = BYTE(x);
            }
        }
        d.codeByte = *d.blockPos++;
        --d.blockLeft;
        return 0;
    };
    if (d.bitsLeft == 0) {
        if (const int r = nextByte(); r < 0)
            return r;
        d.bitsLeft = 8;
    }
    int ret = d.codeByte >> (8 - d.bitsLeft);
    while (d.codeSize > d.bitsLeft) {
        if (const int r = nextByte(); r < 0)
            return r;
        ret |= int(d.codeByte) << d.bitsLeft;
        d.bitsLeft += 8;
    }
    d.bitsLeft -= d.codeSize;
    return ret & ((1 << d.codeSize) - 1);
}

void RxImageGIF::StartInterlace(const Frame& frame)
{
    DecodeState& d = m_decode;
    d.interlaced = (frame.flags & 0x40) != 0;
    d.height = int(frame.height);
    d.pass = 0;
    d.rowPos = 0;
    d.rowStep = 8;
    d.outRow = frame.height - 1; // the top row: rows are stored bottom-up
    d.readPos = kReadAhead;      // the read-ahead starts afresh with every frame
    d.blockLeft = d.bitsLeft = 0;
}

int RxImageGIF::OutLine(RxImage* target, BYTE* pixels, long length)
{
    DecodeState& d = m_decode;
    if (!target || d.outRow < 0)
        return 0; // rows past the frame are ignored
    const int bpp = target->GetBpp();
    if (bpp < 8) { // pack in place; indices above the depth are masked
        const int perByte = 8 / bpp, mask = (1 << bpp) - 1;
        BYTE acc = 0;
        for (long x = 0; x < length; ++x) {
            acc |= BYTE((pixels[x] & mask) << (bpp * (perByte - 1 - x % perByte)));
            if (x % perByte == perByte - 1 || x == length - 1) {
                pixels[x / perByte] = acc;
                acc = 0;
            }
        }
    }
    const size_t bytes = std::min<size_t>((size_t(length) * size_t(bpp) + 7) / 8, target->GetEffWidth());
    std::memcpy(target->GetBits(DWORD(d.outRow)), pixels, bytes);
    if (!d.interlaced) {
        --d.outRow;
        return 0;
    }
    d.rowPos += d.rowStep;
    while (d.rowPos >= d.height) { // a pass starting at or past the height moves on
        switch (++d.pass) {
        case 1: d.rowPos = 4, d.rowStep = 8; break;
        case 2: d.rowPos = 2, d.rowStep = 4; break;
        case 3: d.rowPos = 1, d.rowStep = 2; break;
        default: d.outRow = -1; return 0; // after the fourth pass every row is ignored
        }
    }
    d.outRow = d.height - d.rowPos - 1;
    return 0;
}

bool RxImageGIF::DecodeExtension(RxFile* f)
{
    DecodeState& d = m_decode;
    BYTE label, count;
    if (f->Read(&label, 1, 1) != 1 || f->Read(&count, 1, 1) != 1)
        return Stop("Corrupted GIF: extension cut short");
    if (count == 0) // no data blocks: that was the terminator
        return true;
    BYTE data[256];
    const size_t got = f->Read(data, 1, count);
    if (label == kGraphicControlLabel && count == 4 && got == 4) {
        d.gce.flags = data[0];
        d.gce.delay = RxGet16(data + 1);
        d.gce.transparent = data[3];
        if (d.gce.flags & 1)
            info.nBkgndIndex = d.gce.transparent;
        info.dwFrameDelay = d.gce.delay;
        m_disposal = (d.gce.flags >> 2) & 7;
    } else if (label == kCommentLabel) {
        std::memcpy(m_comment, data, got);
        m_comment[got] = 0;
    } else if (label == kApplicationLabel) {
        if (count != 11)
            return Stop("Corrupted GIF: application extension block size not 11");
        if (got != 11 || f->Read(&count, 1, 1) != 1)
            return Stop("Corrupted GIF: extension cut short");
        if (count == 0)
            return true;
        const size_t n = f->Read(data, 1, count);
        if (n > 2)
            m_loops = long(data[2]) * 256 + data[1];
    }
    while (f->Read(&count, 1, 1) == 1 && count) // skip the remaining sub-blocks
        f->Seek(count, 1);
    return true;
}

bool RxImageGIF::ReadFrame(RxFile* f, Frame& frame, RGBQUAD* table, int& colours)
{
    BYTE d[9];
    if (f->Read(d, 1, 9) != 9)
        return Stop("Corrupted GIF: image descriptor cut short");
    frame = Frame{RxGet16(d), RxGet16(d + 2), RxGet16(d + 4), RxGet16(d + 6), d[8]};
    if (frame.flags & 0x80) {
        colours = TableSize(frame.flags);
        BYTE rgb[256 * 3] = {};
        f->Read(rgb, 3, size_t(colours));
        for (int i = 0; i < colours; ++i)
            table[i] = RGBQUAD{rgb[i * 3 + 2], rgb[i * 3 + 1], rgb[i * 3], 0};
    }
    return true;
}

void RxImageGIF::AfterFrame(RxFile* f, long dataStart, int badCodes)
{
    DecodeState& d = m_decode;
    if (!badCodes) {
        f->Seek(d.readPos - d.readFill + 1, 1); // one past the last byte consumed: the terminator
        return;
    }
    // Resynchronise at the next image separator that follows a zero byte.
    f->Seek(dataStart, 0);
    int previous = -1;
    BYTE c;
    while (f->Read(&c, 1, 1) == 1) {
        if (previous == 0 && c == kImageSeparator) {
            f->Seek(-1, 1);
            return;
        }
        previous = c;
    }
}

void RxImageGIF::SkipToZero(RxFile* f)
{
    BYTE c;
    while (f->Read(&c, 1, 1) == 1 && c != 0) {
    }
}

long RxImageGIF::CountFrames(RxFile* f, long screenW, long screenH)
{
    // Extensions are read on the way; what they set is read again by the decoder.
    const Info saved = info;
    const auto savedGce = m_decode.gce;
    const int savedDisposal = m_disposal;
    const long savedLoops = m_loops;
    char savedComment[sizeof m_comment];
    std::memcpy(savedComment, m_comment, sizeof m_comment);

    const long start = f->Tell();
    m_decode.stopped = nullptr;
    long count = 0;
    BYTE ch;
    while (f->Read(&ch, 1, 1) == 1) {
        if (ch == kExtensionIntroducer) {
            if (!DecodeExtension(f))
                break;
        } else if (ch == kTrailer) {
            break;
        } else if (ch == kImageSeparator) {
            Frame frame;
            RGBQUAD table[256];
            int colours = 0;
            if (!ReadFrame(f, frame, table, colours))
                break;
            if (frame.left + frame.width <= screenW && frame.top + frame.height <= screenH)
                ++count;
            const long dataStart = f->Tell();
            StartInterlace(frame);
            int bad = 0;
            DecodeLzw(f, nullptr, std::max(1L, frame.width), bad);
            AfterFrame(f, dataStart, bad);
        } else {
            SkipToZero(f);
        }
    }
    f->Seek(start, 0);
    info = saved;
    m_decode.gce = savedGce;
    m_disposal = savedDisposal;
    m_loops = savedLoops;
    std::memcpy(m_comment, savedComment, sizeof m_comment);
    return count;
}

// ---- decoder --------------------------------------------------------------------------

// A damaged block ends the walk through the stream; a walk that found no frame says why.
bool RxImageGIF::Stop(const char* why)
{
    m_decode.stopped = why;
    return false;
}

bool RxImageGIF::Refuse(const char* text)
{
    if (text != GetLastError())
        SetLastError(text);
    Destroy();
    return false;
}

bool RxImageGIF::Decode(RxFile* f)
{
    if (!f)
        return Refuse("null file handler");
    BYTE hdr[13];
    if (f->Read(hdr, 1, 13) != 13 || std::memcmp(hdr, "GIF8", 4) != 0)
        return Refuse("not a GIF");
    const long screenW = RxGet16(hdr + 6), screenH = RxGet16(hdr + 8);
    if (info.nEscape == -1) {
        head.biWidth = screenW;
        head.biHeight = screenH;
        return true;
    }
    RGBQUAD global[256] = {};
    int globalColours = 0;
    int mosaic = 0;
    if (hdr[10] & 0x80) {
        globalColours = TableSize(hdr[10]);
        BYTE rgb[256 * 3] = {};
        f->Read(rgb, 3, size_t(globalColours));
        for (int i = 0; i < globalColours; ++i)
            global[i] = RGBQUAD{rgb[i * 3 + 2], rgb[i * 3 + 1], rgb[i * 3], 0};
    } else {
        mosaic = 1;
    }
    // The screen is refused before anything is allocated when no data the file holds could
    // cover more than its first row.
    const long left = f->BytesLeft();
    if (left >= 0 && uint64_t(screenW) * uint64_t(screenH) > uint64_t(screenW) + kLzwMostPixelsPerByte * uint64_t(left))
        return Refuse("Corrupted GIF: a screen larger than its data can cover");
    const long frames = CountFrames(f, screenW, screenH);
    info.nNumFrames = frames;
    if (frames == 0)
        return Refuse(m_decode.stopped ? m_decode.stopped : "no frame inside the logical screen");
    if (info.nFrame < 0 || info.nFrame >= frames)
        return Refuse("bad frame number");

    RxImage mosaicImage;
    bool mosaicMode = false;
    Screen screen;
    screen.width = screenW, screen.height = screenH;
    long image = 0;
    int prevDisposal = 0;
    Frame prev{};
    BYTE ch;
    while (f->Read(&ch, 1, 1) == 1) {
        if (info.nEscape)
            return Refuse("Cancelled");
        if (ch == kExtensionIntroducer) {
            if (!DecodeExtension(f))
                break;
            continue;
        }
        if (ch == kTrailer)
            break;
        if (ch != kImageSeparator) {
            SkipToZero(f);
            continue;
        }
        Frame fr;
        RGBQUAD table[256];
        std::copy(global, global + 256, table);
        int colours = globalColours;
        if (!ReadFrame(f, fr, table, colours))
            break;
        const long dataStart = f->Tell();
        const bool inside = fr.left + fr.width <= screenW && fr.top + fr.height <= screenH;
        // A graphic control applies to the one image that follows it.
        const long frameTrans = (m_decode.gce.flags & 1) ? m_decode.gce.transparent : -1;
        const int frameDisposal = (m_decode.gce.flags >> 2) & 7;
        m_decode.gce.flags = 0;
        if (!inside) { // skipped: its data is read past
            StartInterlace(fr);
            int bad = 0;
            DecodeLzw(f, nullptr, std::max(1L, fr.width), bad);
            AfterFrame(f, dataStart, bad);
            continue;
        }
        if (image == 0 && StartsMosaic(fr, screenW, screenH))
            ++mosaic;
        mosaicMode = mosaic == 2 && frames > 1;
        const int depth = DepthFor(colours);
        RxImage frameImage;
        const bool haveFrame = frameImage.Create(DWORD(fr.width), DWORD(fr.height), DWORD(depth), RXIMAGE_FORMAT_GIF);
        if (haveFrame) {
            RGBQUAD pal[256];
            std::copy(table, table + 256, pal);
            const bool pad = info.nBkgndIndex >= 0 && colours < 256;
            for (int i = colours; pad && i < 256; ++i)
                pal[i] = RGBQUAD{255, 255, 255, 0};
            frameImage.SetPalette(pal, pad ? 256 : DWORD(colours));
        }
        if (image == 0) {
            if (!Create(DWORD(screenW), DWORD(screenH), DWORD(depth), RXIMAGE_FORMAT_GIF))
                return Refuse(GetLastError());
            screen.transparent = info.nBkgndIndex;
            screen.clearIndex = m_decode.gce.transparent;
            Clear(screen.clearIndex);
        } else if (!mosaicMode && !PrepareScreen(screen, prev, prevDisposal, table, colours, depth)) {
            return Refuse(GetLastError());
        }
        if (frameDisposal == 3 && !mosaicMode) // restore to previous: keep what it covers
            screen.saved.Copy(*this, true, false, false);
        StartInterlace(fr);
        int bad = 0;
        const int result = DecodeLzw(f, haveFrame ? &frameImage : nullptr, std::max(1L, fr.width), bad);
        if (info.nEscape)
            return Refuse("Cancelled");
        if (result == kBadCodeSize)
            return Refuse("bad LZW code size");
        if (haveFrame && mosaicMode) {
            info.nFrame = frames - 1;
            if (!mosaicImage.IsValid() && !mosaicImage.Create(DWORD(screenW), DWORD(screenH), 24, RXIMAGE_FORMAT_GIF))
                return Refuse(mosaicImage.GetLastError());
            for (long y = 0; y < fr.height; ++y)
                for (long x = 0; x < fr.width; ++x)
                    mosaicImage.SetPixelColor(fr.left + x, screenH - 1 - (fr.top + y),
                                              frameImage.GetPixelColor(x, fr.height - 1 - y, false));
        } else if (haveFrame) {
            Compose(frameImage, fr.left, fr.top, frameTrans, screenH);
            if (GetBpp() == 24) {
                info.nBkgndIndex = screen.transparent >= 0 ? 0 : -1; // the transparent colour stands
            } else {
                SetPalette(frameImage.GetPalette(), frameImage.GetPaletteSize() / 4);
                info.nBkgndIndex = screen.transparent;
            }
        }
        AfterFrame(f, dataStart, bad);
        prevDisposal = frameDisposal;
        prev = fr;
        if (image++ == info.nFrame)
            break;
    }
    if (image == 0)
        return Refuse("no frame inside the logical screen");
    if (mosaicMode && mosaicImage.IsValid()) {
        if (info.nBkgndIndex >= 0) {
            SetTransColor(GetPaletteColor(BYTE(info.nBkgndIndex)));
            info.nBkgndIndex = 0;
        }
        if (!Create(DWORD(screenW), DWORD(screenH), 24, RXIMAGE_FORMAT_GIF))
            return Refuse(GetLastError());
        std::memcpy(GetBits(), mosaicImage.GetBits(), head.biSizeImage);
    }
    return true;
}

// A first frame narrower and lower than the screen starts a mosaic (with no global table).
// So does the mosaic encoder's first tile when the picture is at most one tile wide or high:
// it differs from the screen in one side only, and read as one frame it would show one tile.
bool RxImageGIF::StartsMosaic(const Frame& first, long screenW, long screenH)
{
    if (first.width != screenW && first.height != screenH)
        return true;
    const bool tileShape = first.left == 0 && first.top == 0 && first.width == std::min<long>(kMosaicTileW, screenW) &&
                           first.height == std::min<long>(kMosaicTileH, screenH);
    return tileShape && (first.width != screenW || first.height != screenH);
}

// Before a later frame: the previous frame's disposal and a screen that can show the
// frame's colours. A table other than the screen's turns the screen to 24 bits, as a palette
// screen would repaint every earlier pixel through the newest table.
bool RxImageGIF::PrepareScreen(Screen& screen, const Frame& prev, int prevDisposal, const RGBQUAD* table, int colours,
                               int depth)
{
    if (prevDisposal == 3) // the saved screen has the depth it has now
        RestoreScreen(screen.saved);
    const BYTE fillIndex = BYTE(screen.transparent >= 0 ? screen.transparent : screen.clearIndex);
    bool same = GetBpp() != 24;
    for (int i = 0; i < colours && same; ++i) {
        const RGBQUAD c = GetPaletteColor(BYTE(i));
        same = c.rgbRed == table[i].rgbRed && c.rgbGreen == table[i].rgbGreen && c.rgbBlue == table[i].rgbBlue;
    }
    if (!same && GetBpp() != 24 && !ToTrueColour(screen, fillIndex))
        return false;
    if (same && depth > GetBpp() && !Deepen(depth))
        return false;
    if (prevDisposal == 2) // restore only what the previous frame covered
        FillRect(prev, fillIndex, screen);
    return true;
}

bool RxImageGIF::ToTrueColour(Screen& screen, BYTE fillIndex)
{
    const RxImage old(*this);
    screen.fill = GetPaletteColor(fillIndex);
    if (screen.transparent >= 0)
        SetTransColor(GetPaletteColor(BYTE(screen.transparent)));
    if (!Create(GetWidth(), GetHeight(), 24, RXIMAGE_FORMAT_GIF))
        return false;
    for (long y = 0; y < long(GetHeight()); ++y)
        for (long x = 0; x < long(GetWidth()); ++x)
            SetPixelColor(x, y, old.GetPixelColor(x, y, false));
    return true;
}

// The screen as saved before a frame that restores the previous picture; its depth is the
// screen's, as depths change only before the save.
void RxImageGIF::RestoreScreen(const RxImage& saved)
{
    if (!saved.IsValid() || saved.GetBpp() != GetBpp() || saved.GetWidth() != GetWidth() ||
        saved.GetHeight() != GetHeight())
        return;
    if (GetPalette())
        std::memcpy(GetPalette(), saved.GetPalette(), GetPaletteSize());
    std::memcpy(GetBits(), saved.GetBits(), head.biSizeImage);
}

// Lays the frame's non-transparent pixels onto the screen image at (left, top): by index
// on a palette screen, by colour on a 24-bit one.
void RxImageGIF::Compose(RxImage& frame, long left, long top, long frameTrans, long screenH)
{
    const long w = long(frame.GetWidth()), h = long(frame.GetHeight());
    if (frame.GetBpp() == 8 && GetBpp() == 8) { // the common case, row by row
        for (long y = 0; y < h; ++y) {
            const BYTE* src = frame.GetBits(DWORD(h - 1 - y));
            BYTE* dst = GetBits(DWORD(screenH - 1 - (top + y))) + left;
            if (frameTrans < 0) {
                std::memcpy(dst, src, size_t(w));
                continue;
            }
            for (long x = 0; x < w; ++x)
                if (src[x] != frameTrans)
                    dst[x] = src[x];
        }
        return;
    }
    const bool byColour = GetBpp() == 24;
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
            const BYTE idx = frame.GetPixelIndex(x, h - 1 - y);
            if (idx == frameTrans)
                continue;
            if (byColour)
                SetPixelColor(left + x, screenH - 1 - (top + y), frame.GetPaletteColor(idx));
            else
                SetPixelIndex(left + x, screenH - 1 - (top + y), idx);
        }
}

// A screen that cannot take the deeper depth fails the decode: Create has dropped its pixels.
bool RxImageGIF::Deepen(int depth)
{
    RxImage old(*this);
    if (!Create(GetWidth(), GetHeight(), DWORD(depth), RXIMAGE_FORMAT_GIF))
        return false;
    SetPalette(old.GetPalette(), old.GetPaletteSize() / 4);
    for (long y = 0; y < long(GetHeight()); ++y)
        for (long x = 0; x < long(GetWidth()); ++x)
            SetPixelIndex(x, y, old.GetPixelIndex(x, y));
    return true;
}

void RxImageGIF::FillRect(const Frame& fr, BYTE index, const Screen& screen)
{
    for (long y = 0; y < fr.height; ++y)
        for (long x = 0; x < fr.width; ++x) {
            const long sx = fr.left + x, sy = screen.height - 1 - (fr.top + y);
            if (GetBpp() == 24)
                SetPixelColor(sx, sy, screen.fill);
            else
                SetPixelIndex(sx, sy, index);
        }
}

// ---- writing the file structure -------------------------------------------------------

void RxImageGIF::Put(RxFile* f, const void* data, size_t size)
{
    if (size && f->Write(data, 1, size) != size)
        m_encode.writeFailed = true;
}

void RxImageGIF::Put16(RxFile* f, long value)
{
    BYTE b[2];
    RxPut16(b, WORD(value));
    Put(f, b, 2);
}

bool RxImageGIF::Encode(RxFile* f)
{
    if (CheckEncodeTarget(f))
        return false;
    if (GetWidth() > 65535 || GetHeight() > 65535) {
        SetLastError("Can't save this image as GIF"); // the format holds 16-bit sizes
        return false;
    }
    m_encode.writeFailed = false;
    if (GetBpp() == 24) {
        EncodeMosaic(f);
    } else {
        EncodeHeader(f, true);
        EncodeExtension(f);
        EncodeComment(f);
        EncodeBody(f, false);
        Put(f, &kTrailer, 1);
    }
    if (m_encode.writeFailed || f->Error() != 0) {
        SetLastError("Write Error in GIF file");
        return false;
    }
    return true;
}

void RxImageGIF::EncodeHeader(RxFile* f, bool globalTable)
{
    const int bpp = GetBpp();
    Put(f, "GIF89a", 6);
    Put16(f, long(GetWidth()));
    Put16(f, long(GetHeight()));
    const BYTE packed[3] = {BYTE(globalTable ? 0x80 | ((bpp - 1) & 3) << 5 | (bpp - 1) : 0x11), 0, 0};
    Put(f, packed, 3);
    if (globalTable)
        PutTable(f);
}

void RxImageGIF::PutTable(RxFile* f)
{
    BYTE rgb[256 * 3];
    const int n = 1 << GetBpp();
    for (int i = 0; i < n; ++i) {
        const RGBQUAD c = GetPaletteColor(BYTE(i));
        rgb[i * 3] = c.rgbRed, rgb[i * 3 + 1] = c.rgbGreen, rgb[i * 3 + 2] = c.rgbBlue;
    }
    Put(f, rgb, size_t(n) * 3);
}

void RxImageGIF::EncodeExtension(RxFile* f)
{
    const BYTE packed = BYTE((m_disposal & 7) << 2 | (info.nBkgndIndex >= 0 ? 1 : 0));
    BYTE gce[8] = {kExtensionIntroducer, kGraphicControlLabel, 4, packed, 0, 0, BYTE(info.nBkgndIndex), 0};
    RxPut16(gce + 4, WORD(info.dwFrameDelay));
    Put(f, gce, sizeof gce);
}

void RxImageGIF::EncodeComment(RxFile* f)
{
    const size_t n = std::min<size_t>(std::strlen(m_comment), 255);
    if (n == 0)
        return;
    const BYTE head[3] = {kExtensionIntroducer, kCommentLabel, BYTE(n)};
    Put(f, head, 3);
    Put(f, m_comment, n);
    Put(f, "", 1);
}

void RxImageGIF::EncodeBody(RxFile* f, bool localTable)
{
    EncodeState& e = m_encode;
    const int bpp = GetBpp();
    Put(f, &kImageSeparator, 1);
    Put16(f, info.xOffset);
    Put16(f, info.yOffset);
    Put16(f, long(GetWidth()));
    Put16(f, long(GetHeight()));
    const BYTE packed = BYTE(localTable ? (bpp - 1) | 0x80 : 0);
    Put(f, &packed, 1);
    if (localTable)
        PutTable(f);
    const int codeSize = std::max(2, bpp);
    const BYTE sizeByte = BYTE(codeSize);
    Put(f, &sizeByte, 1);
    e.column = 0;
    e.row = long(GetHeight()) - 1; // reading order: the top row first
    e.pixelsLeft = long(GetWidth()) * long(GetHeight());
    switch (GetCodecOption(RXIMAGE_FORMAT_GIF)) {
    case 1: CompressNone(codeSize + 1, f); break;
    case 2: CompressRle(codeSize + 1, f); break;
    default: Compress(codeSize + 1, f); break;
    }
    Put(f, "", 1);
}

