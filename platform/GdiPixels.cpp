#include "platform/GdiPixels.h"

namespace platform {
namespace gdi {

namespace {

const int64_t kMaxDibPixels = int64_t(1) << 28;
// RLE pictures are expanded whole, one byte a pixel: larger ones are refused.
const int64_t kMaxRlePixels = int64_t(1) << 26;

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// What a context without a selected palette resolves DIB_PAL_COLORS indices against.
const uint8_t kDefaultPalette[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

// A channel mask as shift and width; wider than 8 bits keeps its top 8.
bool splitMask(uint32_t mask, int& shift, int& width)
{
    if (mask == 0)
        return false;
    shift = __builtin_ctz(mask);
    width = 0;
    while (width < 32 - shift && ((mask >> (shift + width)) & 1u))
        ++width;
    if (width > 8) {
        shift += width - 8;
        width = 8;
    }
    return true;
}

// An n-bit channel widened to 8 bits by repeating its bits (5 bits: v << 3 | v >> 2).
uint8_t widen(uint32_t v, int width)
{
    uint32_t out = 0;
    for (int left = 8; left > 0; left -= width)
        out |= left >= width ? v << (left - width) : v >> (width - left);
    return uint8_t(out);
}

bool expandRle(DibImage& d, const uint8_t* p, size_t size)
{
    const int w = d.width, h = d.height;
    d.expanded.assign(size_t(w) * size_t(h), 0);
    const bool four = d.compression == BI_RLE4;
    int x = 0, y = 0; // y counts stored rows, from the bottom
    auto put = [&](int index) {
        if (x < w && y < h)
            d.expanded[size_t(h - 1 - y) * size_t(w) + size_t(x)] = uint8_t(index);
        ++x;
    };
    size_t i = 0;
    while (i + 1 < size && y < h) {
        const uint8_t count = p[i], value = p[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count && x < w; ++k)
                put(four ? ((k & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move right and up
            if (i + 1 >= size)
                break;
            x += p[i];
            y += p[i + 1];
            i += 2;
        } else { // a run of literal indices, padded to a 16-bit boundary
            const size_t bytes = four ? (size_t(value) + 1) / 2 : size_t(value);
            if (i + bytes > size)
                break;
            for (int k = 0; k < value; ++k)
                put(four ? ((k & 1) ? p[i + size_t(k / 2)] & 0x0F : p[i + size_t(k / 2)] >> 4) : p[i + size_t(k)]);
            i += (bytes + 1) & ~size_t(1);
        }
    }
    return true;
}

bool readMasks(DibImage& out, const uint8_t* h, uint32_t compression)
{
    uint32_t m[3];
    if (compression == BI_BITFIELDS) {
        for (int c = 0; c < 3; ++c)
            m[c] = le32(h + 40 + 4 * c);
    } else if (out.bpp == 16) {
        m[0] = 0x7C00;
        m[1] = 0x03E0;
        m[2] = 0x001F;
    } else {
        m[0] = 0xFF0000;
        m[1] = 0x00FF00;
        m[2] = 0x0000FF;
    }
    for (int c = 0; c < 3; ++c) {
        out.masks[c] = m[c];
        if (out.bpp == 16 && (m[c] >> 16))
            return false;
        if (!splitMask(m[c], out.shifts[c], out.widths[c]))
            return false;
    }
    return true;
}

bool readColorTable(DibImage& out, const uint8_t* table, UINT usage, const DC* dc, uint32_t clrUsed)
{
    const uint32_t most = 1u << out.bpp;
    if (clrUsed > most)
        return false;
    out.colors = int(clrUsed ? clrUsed : most);
    if (usage == DIB_RGB_COLORS) {
        for (int i = 0; i < out.colors; ++i)
            out.lut[i] = le32(table + 4 * size_t(i)) & 0x00FFFFFFu;
        return true;
    }
    std::shared_ptr<Object> pal = dc && dc->palette ? object(dc->palette) : nullptr;
    for (int i = 0; i < out.colors; ++i) {
        const size_t index = le16(table + 2 * size_t(i));
        uint8_t r = 0, g = 0, b = 0;
        if (pal && pal->kind == Kind::Palette && !pal->palette.empty()) {
            if (index < pal->palette.size()) {
                r = pal->palette[index].peRed;
                g = pal->palette[index].peGreen;
                b = pal->palette[index].peBlue;
            }
        } else if (index < 20) {
            r = kDefaultPalette[index][0];
            g = kDefaultPalette[index][1];
            b = kDefaultPalette[index][2];
        }
        out.lut[i] = uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16;
    }
    return true;
}

} // namespace

bool readDib(const BITMAPINFO* info, UINT usage, const DC* dc, const void* bits, DibImage& out)
{
    if (!info || !bits || (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS))
        return false;
    const auto* h = reinterpret_cast<const uint8_t*>(info);
    const uint32_t size = le32(h);
    const int32_t width = int32_t(le32(h + 4)), height = int32_t(le32(h + 8));
    const uint16_t planes = le16(h + 12), bpp = le16(h + 14);
    const uint32_t compression = le32(h + 16), sizeImage = le32(h + 20), clrUsed = le32(h + 32);
    if (size < 40 || planes != 1 || width <= 0 || height == 0 || height == INT32_MIN)
        return false;
    bool valid = false;
    switch (compression) {
    case BI_RGB:
        valid = bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
        break;
    case BI_RLE8:
        valid = bpp == 8 && height > 0;
        break;
    case BI_RLE4:
        valid = bpp == 4 && height > 0;
        break;
    case BI_BITFIELDS:
        valid = bpp == 16 || bpp == 32;
        break;
    default:
        break;
    }
    const int64_t absH = height < 0 ? -int64_t(height) : height;
    if (!valid || int64_t(width) * absH > kMaxDibPixels)
        return false;
    out.width = width;
    out.height = int(absH);
    out.topDown = height < 0;
    out.bpp = bpp;
    out.compression = compression;
    out.stride = int(((int64_t(width) * bpp + 31) / 32) * 4);
    out.bits = static_cast<const uint8_t*>(bits);
    out.firstStored = 0;
    out.bounds = RECT{0, 0, width, out.height};
    out.expanded.clear();
    if (bpp <= 8) {
        // With a 40-byte header, BI_BITFIELDS masks would sit before the table; not for these depths.
        if (!readColorTable(out, h + size, usage, dc, clrUsed))
            return false;
    } else if (bpp != 24 && !readMasks(out, h, compression)) {
        return false;
    }
    if (compression == BI_RLE8 || compression == BI_RLE4) {
        if (int64_t(width) * absH > kMaxRlePixels)
            return false;
        return expandRle(out, out.bits, sizeImage);
    }
    return true;
}

void DibImage::decode(const uint8_t* p, int x0, int n, uint32_t* out) const
{
    switch (bpp) {
    case 32:
        if (masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF) {
            p += size_t(x0) * 4u;
            for (int i = 0; i < n; ++i, p += 4)
                out[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
            return;
        }
        [[fallthrough]];
    case 16: {
        uint8_t tab[3][256];
        uint32_t lim[3];
        for (int c = 0; c < 3; ++c) {
            lim[c] = (1u << widths[c]) - 1u;
            for (uint32_t v = 0; v <= lim[c]; ++v)
                tab[c][v] = widen(v, widths[c]);
        }
        const int step = bpp / 8;
        p += size_t(x0) * size_t(step);
        for (int i = 0; i < n; ++i, p += step) {
            const uint32_t v = step == 2 ? le16(p) : le32(p);
            out[i] = uint32_t(tab[2][(v >> shifts[2]) & lim[2]]) | uint32_t(tab[1][(v >> shifts[1]) & lim[1]]) << 8 |
                     uint32_t(tab[0][(v >> shifts[0]) & lim[0]]) << 16;
        }
        return;
    }
    case 24:
        p += size_t(x0) * 3u;
        for (int i = 0; i < n; ++i, p += 3)
            out[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        return;
    default: {
        const int mask = (1 << bpp) - 1;
        for (int i = 0; i < n; ++i) {
            const int bit = (x0 + i) * bpp;
            const int v = (p[bit / 8] >> (8 - bpp - bit % 8)) & mask;
            out[i] = v < colors ? lut[v] : 0; // past the table: black
        }
        return;
    }
    }
}

void DibImage::row(int y, int x0, int n, uint32_t* out)
{
    if (!expanded.empty()) {
        const uint8_t* p = &expanded[size_t(y) * size_t(width) + size_t(x0)];
        for (int i = 0; i < n; ++i)
            out[i] = p[i] < colors ? lut[p[i]] : 0;
        return;
    }
    const int stored = (topDown ? y : height - 1 - y) - firstStored;
    decode(bits + size_t(stored) * size_t(stride), x0, n, out);
}

bool SurfaceSource::init(DC& d, const Target* destination, const RECT& wanted)
{
    // The source side reads its own bounds, never its clip region.
    const bool hadClip = d.hasClip;
    d.hasClip = false;
    const bool ok = resolve(d, t);
    d.hasClip = hadClip;
    if (!ok)
        return false;
    bounds = t.allowed.bounds();
    if (destination && destination->top == t.top) {
        copied = rectIntersect(bounds, wanted);
        const int w = copied.right - copied.left, h = copied.bottom - copied.top;
        if (int64_t(w) * h > kMaxDibPixels)
            return false;
        copy.resize(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
            const uint8_t* p = t.at(copied.left, copied.top + y);
            for (int x = 0; x < w; ++x, p += t.bpp / 8)
                copy[size_t(y) * size_t(w) + size_t(x)] = loadPixel(p) | (t.bpp == 32 ? uint32_t(p[3]) << 24 : 0u);
        }
        bounds = copied;
    }
    return true;
}

void SurfaceSource::row(int y, int x0, int n, uint32_t* out)
{
    if (!copy.empty()) {
        const uint32_t* p = &copy[size_t(y - copied.top) * size_t(copied.right - copied.left) + size_t(x0 - copied.left)];
        std::memcpy(out, p, size_t(n) * 4u);
        return;
    }
    const uint8_t* p = t.at(x0, y);
    if (t.bpp == 32) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(out, p, size_t(n) * 4u); // B, G, R, A in memory order is the word 0xAARRGGBB
#else
        for (int i = 0; i < n; ++i, p += 4)
            out[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
    } else {
        for (int i = 0; i < n; ++i, p += 3)
            out[i] = loadPixel(p);
    }
}

bool geometryFar(const BlitGeometry& g)
{
    for (int v : {g.x, g.y, g.w, g.h, g.xs, g.ys, g.ws, g.hs})
        if (farCoordinate(v))
            return true;
    return false;
}

// Bit i of the code is the result for pattern, source and destination bits (i >> 2, i >> 1 & 1, i & 1).
static inline uint32_t ropGeneric(uint8_t code, uint32_t p, uint32_t s, uint32_t d)
{
    uint32_t r = 0;
    for (int i = 0; i < 8; ++i)
        if ((code >> i) & 1)
            r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    return r & 0x00FFFFFFu;
}

void ropRun(uint8_t code, uint32_t pat, const uint32_t* rows, const uint32_t* s, uint32_t* d, int n)
{
    const uint32_t M = 0x00FFFFFFu;
    if (rows && ropUsesPattern(code)) {
        switch (code) {
        case 0xF0:
            for (int i = 0; i < n; ++i)
                d[i] = rows[i] & M;
            return;
        case 0x5A:
            for (int i = 0; i < n; ++i)
                d[i] = (rows[i] ^ d[i]) & M;
            return;
        default:
            for (int i = 0; i < n; ++i)
                d[i] = ropGeneric(code, rows[i], s ? s[i] : 0u, d[i]);
            return;
        }
    }
    switch (code) {
    case 0xCC: // source copy
        for (int i = 0; i < n; ++i)
            d[i] = s[i] & M;
        return;
    case 0x66: // source xor destination
        for (int i = 0; i < n; ++i)
            d[i] = (s[i] ^ d[i]) & M;
        return;
    case 0x88: // source and destination
        for (int i = 0; i < n; ++i)
            d[i] = s[i] & d[i] & M;
        return;
    case 0xEE: // source or destination
        for (int i = 0; i < n; ++i)
            d[i] = (s[i] | d[i]) & M;
        return;
    case 0x33: // not source
        for (int i = 0; i < n; ++i)
            d[i] = ~s[i] & M;
        return;
    case 0x55: // not destination
        for (int i = 0; i < n; ++i)
            d[i] = ~d[i] & M;
        return;
    case 0x00:
        std::fill(d, d + n, 0u);
        return;
    case 0xFF:
        std::fill(d, d + n, M);
        return;
    case 0xF0: // pattern copy
        std::fill(d, d + n, pat & M);
        return;
    case 0x5A: // pattern xor destination
        for (int i = 0; i < n; ++i)
            d[i] = (pat ^ d[i]) & M;
        return;
    case 0xAA: // destination kept
        return;
    case 0xB8: // where the source is set the destination, elsewhere the pattern
        for (int i = 0; i < n; ++i)
            d[i] = (((d[i] ^ pat) & s[i]) ^ pat) & M;
        return;
    case 0xE2: // where the source is set the pattern, elsewhere the destination
        for (int i = 0; i < n; ++i)
            d[i] = (((pat ^ d[i]) & s[i]) ^ d[i]) & M;
        return;
    default:
        for (int i = 0; i < n; ++i)
            d[i] = ropGeneric(code, pat, s ? s[i] : 0u, d[i]);
        return;
    }
}

namespace {

struct InstalledPatterns {
    boost::mutex lock;
    std::map<HDC, PatternRows> rows;
};

InstalledPatterns& installed()
{
    static InstalledPatterns* p = new InstalledPatterns();
    return *p;
}

} // namespace

PatternScope::PatternScope(HDC hdc, PatternRows rows) : hdc_(hdc)
{
    InstalledPatterns& p = installed();
    boost::lock_guard<boost::mutex> g(p.lock);
    PatternRows& slot = p.rows[hdc];
    previous_ = std::move(slot);
    slot = std::move(rows);
}

PatternScope::~PatternScope()
{
    InstalledPatterns& p = installed();
    boost::lock_guard<boost::mutex> g(p.lock);
    if (previous_)
        p.rows[hdc_] = std::move(previous_);
    else
        p.rows.erase(hdc_);
}

Pattern patternOf(HDC hdc, const DC& d)
{
    Pattern out;
    bool isNull = true;
    out.solid = toWord(platform::detail::brushColor(reinterpret_cast<HBRUSH>(d.brush), &isNull));
    InstalledPatterns& p = installed();
    boost::lock_guard<boost::mutex> g(p.lock);
    auto it = p.rows.find(hdc);
    if (it != p.rows.end())
        out.rows = it->second;
    return out;
}

} // namespace gdi
} // namespace platform
