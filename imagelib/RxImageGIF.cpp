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

RxImageGIF::RxImageGIF() : RxImage(RXIMAGE_FORMAT_GIF)
{
    // Everything the codec adds starts cleared (the object is plain data past RxImage).
    std::memset(&gifgce, 0, sizeof gifgce);
    curx = cury = CountDown = 0;
    cur_accum = 0;
    cur_bits = 0;
    interlaced = iypos = istep = iheight = ipass = 0;
    outRow = -1;
    ibf = GIFBUFTAM;
    ibfmax = 0;
    std::memset(buf, 0, sizeof buf);
    curr_size = clear = ending = newcodes = top_slot = slot = navail_bytes = nbits_left = 0;
    b1 = 0;
    std::memset(byte_buff, 0, sizeof byte_buff);
    pbytes = byte_buff;
    std::memset(stack, 0, sizeof stack);
    std::memset(suffix, 0, sizeof suffix);
    std::memset(prefix, 0, sizeof prefix);
    std::memset(htab, 0, sizeof htab);
    std::memset(codetab, 0, sizeof codetab);
    n_bits = maxcode = free_ent = clear_flg = g_init_bits = 0;
    g_outfile = nullptr;
    ClearCode = EOFCode = a_count = 0;
    std::memset(accum, 0, sizeof accum);
    m_writeFailed = false;
    std::memset(m_comment, 0, sizeof m_comment);
    m_loops = 0;
    m_dispmeth = 0;
}

void RxImageGIF::SetComment(const char* text)
{
    std::strncpy(m_comment, text ? text : "", sizeof m_comment - 1);
    m_comment[sizeof m_comment - 1] = 0;
}

// ---- readers --------------------------------------------------------------------------

int RxImageGIF::GetByte(RxFile* f)
{
    if (ibf >= GIFBUFTAM) {
        ibfmax = long(f->Read(buf, 1, GIFBUFTAM));
        if (ibfmax < GIFBUFTAM)
            buf[ibfmax] = 255;
        ibf = 0;
    }
    if (ibf >= ibfmax)
        return -1;
    return buf[ibf++];
}

int RxImageGIF::GetNextCode(RxFile* f)
{
    auto nextByte = [&]() -> int {
        if (navail_bytes <= 0) {
            pbytes = byte_buff;
            navail_bytes = GetByte(f);
            if (navail_bytes <= 0) // a zero length ends the data: no stale bytes are used
                return navail_bytes < 0 ? navail_bytes : -1;
            for (int i = 0; i < navail_bytes; ++i) {
                const int x = GetByte(f);
                if (x < 0)
                    return x;
                byte_buff[i] = BYTE(x);
            }
        }
        b1 = *pbytes++;
        --navail_bytes;
        return 0;
    };
    if (nbits_left == 0) {
        if (const int r = nextByte(); r < 0)
            return r;
        nbits_left = 8;
    }
    int ret = b1 >> (8 - nbits_left);
    while (curr_size > nbits_left) {
        if (const int r = nextByte(); r < 0)
            return r;
        ret |= int(b1) << nbits_left;
        nbits_left += 8;
    }
    nbits_left -= curr_size;
    return ret & ((1 << curr_size) - 1);
}

void RxImageGIF::StartInterlace(const Frame& frame)
{
    interlaced = (frame.flags & 0x40) != 0;
    iheight = int(frame.height);
    ipass = 0;
    iypos = 0;
    istep = 8;
    outRow = frame.height - 1; // the top row: rows are stored bottom-up
    ibf = GIFBUFTAM;           // the read-ahead starts afresh with every frame
    navail_bytes = nbits_left = 0;
}

int RxImageGIF::OutLine(RxImage* target, BYTE* pixels, long length)
{
    if (!target || outRow < 0)
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
    std::memcpy(target->GetBits(DWORD(outRow)), pixels, bytes);
    if (!interlaced) {
        --outRow;
        return 0;
    }
    iypos += istep;
    while (iypos >= iheight) { // a pass starting at or past the height moves on
        switch (++ipass) {
        case 1: iypos = 4, istep = 8; break;
        case 2: iypos = 2, istep = 4; break;
        case 3: iypos = 1, istep = 2; break;
        default: outRow = -1; return 0; // after the fourth pass every row is ignored
        }
    }
    outRow = iheight - iypos - 1;
    return 0;
}

bool RxImageGIF::DecodeExtension(RxFile* f)
{
    BYTE label, count;
    if (f->Read(&label, 1, 1) != 1 || f->Read(&count, 1, 1) != 1)
        return false;
    if (count == 0) // no data blocks: that was the terminator
        return true;
    BYTE data[256];
    const size_t got = f->Read(data, 1, count);
    if (label == kGraphicControlLabel && count == 4 && got == 4) {
        gifgce.flags = data[0];
        gifgce.delaytime = RxGet16(data + 1);
        gifgce.transpcolindex = data[3];
        if (gifgce.flags & 1)
            info.nBkgndIndex = gifgce.transpcolindex;
        info.dwFrameDelay = gifgce.delaytime;
        m_dispmeth = (gifgce.flags >> 2) & 7;
    } else if (label == kCommentLabel) {
        std::memcpy(m_comment, data, got);
        m_comment[got] = 0;
    } else if (label == kApplicationLabel) {
        if (count != 11 || got != 11 || f->Read(&count, 1, 1) != 1)
            return false;
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
        return false;
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
    if (!badCodes) {
        f->Seek(ibf - ibfmax + 1, 1); // one past the last byte consumed: the terminator
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
    const auto savedGce = gifgce;
    const int savedDisposal = m_dispmeth;
    const long savedLoops = m_loops;
    char savedComment[sizeof m_comment];
    std::memcpy(savedComment, m_comment, sizeof m_comment);

    const long start = f->Tell();
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
    gifgce = savedGce;
    m_dispmeth = savedDisposal;
    m_loops = savedLoops;
    std::memcpy(m_comment, savedComment, sizeof m_comment);
    return count;
}

// ---- decoder --------------------------------------------------------------------------

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
        return false;
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
        return Refuse("no frame inside the logical screen");
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
        const long frameTrans = (gifgce.flags & 1) ? gifgce.transpcolindex : -1;
        const int frameDisposal = (gifgce.flags >> 2) & 7;
        gifgce.flags = 0;
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
            screen.clearIndex = gifgce.transpcolindex;
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
        if (result == GIF_BAD_CODE_SIZE)
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
    const bool tileShape = first.left == 0 && first.top == 0 && first.width == std::min<long>(MOSAIC_TILE_W, screenW) &&
                           first.height == std::min<long>(MOSAIC_TILE_H, screenH);
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
    if (same && depth > GetBpp())
        Deepen(depth);
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

void RxImageGIF::Deepen(int depth)
{
    RxImage old(*this);
    if (!Create(GetWidth(), GetHeight(), DWORD(depth), RXIMAGE_FORMAT_GIF))
        return;
    SetPalette(old.GetPalette(), old.GetPaletteSize() / 4);
    for (long y = 0; y < long(GetHeight()); ++y)
        for (long x = 0; x < long(GetWidth()); ++x)
            SetPixelIndex(x, y, old.GetPixelIndex(x, y));
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
        m_writeFailed = true;
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
    m_writeFailed = false;
    if (GetBpp() == 24) {
        EncodeMosaic(f);
    } else {
        EncodeHeader(f, true);
        EncodeExtension(f);
        EncodeComment(f);
        EncodeBody(f, false);
        Put(f, &kTrailer, 1);
    }
    if (m_writeFailed || f->Error() != 0) {
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
    const BYTE packed = BYTE((m_dispmeth & 7) << 2 | (info.nBkgndIndex >= 0 ? 1 : 0));
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
    curx = 0;
    cury = long(GetHeight()) - 1; // reading order: the top row first
    CountDown = long(GetWidth()) * long(GetHeight());
    switch (GetCodecOption(RXIMAGE_FORMAT_GIF)) {
    case 1: CompressNone(codeSize + 1, f); break;
    case 2: CompressRle(codeSize + 1, f); break;
    default: Compress(codeSize + 1, f); break;
    }
    Put(f, "", 1);
}

