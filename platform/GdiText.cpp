#include "platform/GdiInternal.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

using namespace platform::gdi;
using platform::Region;

#ifndef ORBEL_FONT_DIR_DEFAULT
#define ORBEL_FONT_DIR_DEFAULT "/usr/share/fonts/truetype/liberation"
#endif

namespace platform {
namespace gdi {

// One Liberation Sans file with the table values the metrics need.
struct Face {
    FT_Face ft = nullptr;
    int unitsPerEm = 2048;
    int winAscent = 0;
    int winDescent = 0;
};

struct Glyph {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> on; // one byte per pixel
};

struct Font {
    LOGFONTW lf{};
    int faceIndex = 0; // 0 regular, 1 bold, 2 italic, 3 bold italic
    int cell = 16;
    int em = 16;
    int ascent = 13;
    int descent = 3;
};

namespace {

struct FontSystem {
    boost::mutex lock;
    FT_Library library = nullptr;
    bool tried[4] = {};
    Face faces[4];
    std::map<std::tuple<int, int, FT_UInt>, Glyph> glyphs;
    std::map<std::tuple<int, int, FT_UInt>, int> advances; // pixels, by face, em and glyph
};

FontSystem& fonts()
{
    static FontSystem* f = new FontSystem();
    return *f;
}

const char* kFiles[4] = {"LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf", "LiberationSans-Italic.ttf",
                         "LiberationSans-BoldItalic.ttf"};

// Loads a face once; null when the font is not installed.
Face* faceLocked(int index)
{
    FontSystem& fs = fonts();
    if (!fs.tried[index]) {
        fs.tried[index] = true;
        if (!fs.library && FT_Init_FreeType(&fs.library) != 0)
            fs.library = nullptr;
        if (fs.library) {
            const char* env = std::getenv("ORBEL_FONT_DIR");
            std::string dir = (env && *env) ? env : ORBEL_FONT_DIR_DEFAULT;
            FT_Face ft = nullptr;
            if (FT_New_Face(fs.library, (dir + "/" + kFiles[index]).c_str(), 0, &ft) == 0) {
                auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
                if (os2 && ft->units_per_EM > 0 && os2->usWinAscent + os2->usWinDescent > 0) {
                    Face& f = fs.faces[index];
                    f.ft = ft;
                    f.unitsPerEm = ft->units_per_EM;
                    f.winAscent = os2->usWinAscent;
                    f.winDescent = os2->usWinDescent;
                    FT_Select_Charmap(ft, FT_ENCODING_UNICODE);
                } else {
                    FT_Done_Face(ft);
                }
            }
        }
    }
    return fs.faces[index].ft ? &fs.faces[index] : nullptr;
}

int roundHalfUp(double v) { return int(std::floor(v + 0.5)); }

void computeMetrics(Font& f, const Face* face)
{
    LONG h = f.lf.lfHeight;
    if (h == 0)
        h = 16;
    // Heights may come from documents: capped so no value can exhaust memory.
    h = std::max<LONG>(-2048, std::min<LONG>(h, 2048));
    int upm = face ? face->unitsPerEm : 2048;
    int asc = face ? face->winAscent : 1854;
    int desc = face ? face->winDescent : 434;
    if (h > 0) {
        f.cell = h;
        f.em = roundHalfUp(double(h) * upm / double(asc + desc));
        f.ascent = roundHalfUp(double(asc) * f.em / upm);
        f.descent = h - f.ascent;
    } else {
        f.em = -h;
        f.ascent = roundHalfUp(double(asc) * f.em / upm);
        f.descent = roundHalfUp(double(desc) * f.em / upm);
        f.cell = f.ascent + f.descent;
    }
}

std::shared_ptr<Object> makeFontObject(const LOGFONTW& lf)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Font;
    o->font = std::make_shared<Font>();
    o->font->lf = lf;
    o->font->faceIndex = (lf.lfWeight >= 600 ? 1 : 0) + (lf.lfItalic ? 2 : 0);
    Face* face;
    {
        boost::lock_guard<boost::mutex> g(fonts().lock);
        face = faceLocked(o->font->faceIndex);
    }
    computeMetrics(*o->font, face);
    return o;
}

std::vector<char32_t> codePoints(LPCWSTR text, int count)
{
    std::vector<char32_t> out;
    if (!text)
        return out;
    if (count < 0) {
        count = 0;
        while (text[count])
            ++count;
    }
    for (int i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out.push_back(c);
    }
    return out;
}

std::shared_ptr<Font> fontOf(const DC& d)
{
    auto o = object(d.font);
    return (o && o->kind == Kind::Font) ? o->font : nullptr;
}

// Where each glyph's pen position moves on: the glyph's advance as hinted at the font's
// size (the width its bitmap was fitted to), plus the kerning of the pair it starts,
// where the font has kerning. Each glyph's own rounded unhinted width drifted from its
// bitmap by up to half a pixel, which at 6 to 8 pixels made the gaps visibly uneven.
// False without the font.
bool advances(const Font& f, const std::vector<char32_t>& text, std::vector<int>& out)
{
    FontSystem& fs = fonts();
    boost::lock_guard<boost::mutex> g(fs.lock);
    Face* face = faceLocked(f.faceIndex);
    if (!face)
        return false;
    out.clear();
    const bool sized = f.em > 0 && FT_Set_Pixel_Sizes(face->ft, 0, FT_UInt(f.em)) == 0;
    FT_UInt previous = 0;
    for (char32_t c : text) {
        FT_UInt index = FT_Get_Char_Index(face->ft, FT_ULong(c));
        auto key = std::make_tuple(f.faceIndex, f.em, index);
        auto it = fs.advances.find(key);
        int pixels = 0;
        if (it != fs.advances.end()) {
            pixels = it->second;
        } else {
            if (sized && FT_Load_Glyph(face->ft, index, FT_LOAD_TARGET_MONO) == 0)
                pixels = int((face->ft->glyph->advance.x + 32) >> 6);
            fs.advances[key] = pixels;
        }
        FT_Vector kern{0, 0};
        if (sized && previous && index && FT_HAS_KERNING(face->ft) &&
            FT_Get_Kerning(face->ft, previous, index, FT_KERNING_DEFAULT, &kern) == 0)
            out.back() += int((kern.x + 32) >> 6);
        out.push_back(pixels);
        previous = index;
    }
    return true;
}

const Glyph* glyphLocked(const Font& f, char32_t c)
{
    FontSystem& fs = fonts();
    Face* face = faceLocked(f.faceIndex);
    if (!face)
        return nullptr;
    FT_UInt index = FT_Get_Char_Index(face->ft, FT_ULong(c));
    auto key = std::make_tuple(f.faceIndex, f.em, index);
    auto it = fs.glyphs.find(key);
    if (it != fs.glyphs.end())
        return &it->second;
    Glyph g;
    if (f.em > 0 && FT_Set_Pixel_Sizes(face->ft, 0, FT_UInt(f.em)) == 0 &&
        FT_Load_Glyph(face->ft, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) == 0) {
        FT_GlyphSlot slot = face->ft->glyph;
        const FT_Bitmap& bm = slot->bitmap;
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = int(bm.width);
        g.height = int(bm.rows);
        g.on.assign(size_t(g.width) * size_t(g.height), 0);
        for (int y = 0; y < g.height; ++y) {
            const unsigned char* row = bm.buffer + ptrdiff_t(y) * bm.pitch;
            for (int x = 0; x < g.width; ++x) {
                bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((row[x / 8] >> (7 - x % 8)) & 1) != 0 : row[x] >= 128;
                g.on[size_t(y) * size_t(g.width) + size_t(x)] = on ? 1 : 0;
            }
        }
    }
    return &fs.glyphs.emplace(key, std::move(g)).first->second;
}

// Quarter turns counter-clockwise from the escapement in tenths of a degree.
int quarterTurns(LONG escapement)
{
    long q = std::lround(double(escapement) / 900.0);
    return int(((q % 4) + 4) % 4);
}

// Places a pixel given by its unrotated offset (u, v) from the reference point.
struct Placer {
    int x0, y0, turns;
    POINT map(int u, int v) const
    {
        switch (turns) {
        case 1: // 900
            return POINT{x0 + v, y0 - 1 - u};
        case 2: // 1800
            return POINT{x0 - 1 - u, y0 - 1 - v};
        case 3: // 2700, that is -900
            return POINT{x0 - 1 - v, y0 + u};
        default:
            return POINT{x0 + u, y0 + v};
        }
    }
};

// Draws a run of text whose cell's top-left is at unrotated offset (u0, v0) from the
// reference point; fills the cell first when opaque.
bool drawRun(DC& d, const Font& f, const std::vector<char32_t>& text, const std::vector<int>& adv, const Placer& pl,
             int u0, int v0, bool opaque, const Region* clip)
{
    Target t;
    if (!resolve(d, t))
        return true;
    if (clip)
        t.allowed.intersect(*clip);
    int width = 0;
    for (int a : adv)
        width += a;
    if (opaque) {
        if (pl.turns == 0) {
            fillSolid(t, RECT{pl.x0 + u0, pl.y0 + v0, pl.x0 + u0 + width, pl.y0 + v0 + f.cell}, d.bkColor);
        } else {
            for (int v = 0; v < f.cell; ++v)
                for (int u = 0; u < width; ++u) {
                    POINT p = pl.map(u0 + u, v0 + v);
                    if (t.contains(p.x, p.y))
                        putPixel(t.at(p.x, p.y), d.bkColor, t.bpp);
                }
        }
    }
    FontSystem& fs = fonts();
    boost::lock_guard<boost::mutex> g(fs.lock);
    int pen = u0;
    int baseline = v0 + f.ascent;
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* gl = glyphLocked(f, text[i]);
        if (gl)
            for (int y = 0; y < gl->height; ++y)
                for (int x = 0; x < gl->width; ++x) {
                    if (!gl->on[size_t(y) * size_t(gl->width) + size_t(x)])
                        continue;
                    POINT p = pl.map(pen + gl->left + x, baseline - gl->top + y);
                    if (t.contains(p.x, p.y))
                        putPixel(t.at(p.x, p.y), d.textColor, t.bpp);
                }
        pen += adv[i];
    }
    return true;
}

} // namespace

std::shared_ptr<Object> makeSystemFont()
{
    LOGFONTW lf{};
    lf.lfHeight = 16;
    lf.lfWeight = FW_NORMAL;
    const char16_t name[] = u"System";
    std::memcpy(lf.lfFaceName, name, sizeof name);
    return makeFontObject(lf);
}

void fontLogFont(const Object& o, LOGFONTW& lf)
{
    if (o.font)
        lf = o.font->lf;
    else
        std::memset(&lf, 0, sizeof lf);
}

} // namespace gdi
} // namespace platform

HFONT CreateFontIndirectW(const LOGFONTW* lf)
{
    if (!lf)
        return nullptr;
    return reinterpret_cast<HFONT>(addObject(platform::gdi::makeFontObject(*lf)));
}

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR face)
{
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfEscapement = escapement;
    lf.lfOrientation = orientation;
    lf.lfWeight = weight;
    lf.lfItalic = BYTE(italic);
    lf.lfUnderline = BYTE(underline);
    lf.lfStrikeOut = BYTE(strikeOut);
    lf.lfCharSet = BYTE(charSet);
    lf.lfOutPrecision = BYTE(outPrecision);
    lf.lfClipPrecision = BYTE(clipPrecision);
    lf.lfQuality = BYTE(quality);
    lf.lfPitchAndFamily = BYTE(pitchAndFamily);
    for (int i = 0; face && face[i] && i < LF_FACESIZE - 1; ++i)
        lf.lfFaceName[i] = face[i];
    return CreateFontIndirectW(&lf);
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size)
{
    if (size)
        *size = SIZE{0, 0};
    auto d = dc(hdc);
    if (!d || !size || (count > 0 && !text) || count < 0)
        return FALSE;
    auto f = platform::gdi::fontOf(*d);
    std::vector<int> adv;
    if (!f || !platform::gdi::advances(*f, platform::gdi::codePoints(text, count), adv))
        return FALSE;
    int w = 0;
    for (int a : adv)
        w += a;
    *size = SIZE{w, f->cell};
    return TRUE;
}

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rc, LPCWSTR text, UINT count, const INT* dx)
{
    auto d = dc(hdc);
    const int far = 1 << 28; // beyond this no coordinate arithmetic is attempted
    if (!d || (count > 0 && !text) || count > (1u << 20) || x > far || x < -far || y > far || y < -far)
        return FALSE;
    if ((options & ETO_OPAQUE) && rc) {
        platform::gdi::Target t;
        if (resolve(*d, t))
            fillSolid(t, *rc, d->bkColor);
    }
    if (count == 0)
        return TRUE;
    auto f = platform::gdi::fontOf(*d);
    std::vector<char32_t> cps = platform::gdi::codePoints(text, int(count));
    std::vector<int> adv;
    if (!f || !platform::gdi::advances(*f, cps, adv))
        return FALSE;
    if (dx)
        for (size_t i = 0, unit = 0; i < cps.size(); ++i) {
            adv[i] = dx[unit];
            unit += cps[i] >= 0x10000 ? 2 : 1;
        }
    int width = 0;
    for (int a : adv)
        width += a;
    UINT align = d->textAlign;
    int u0 = 0, v0 = 0;
    if ((align & TA_CENTER) == TA_CENTER)
        u0 = -width / 2;
    else if (align & TA_RIGHT)
        u0 = -width;
    if ((align & TA_BASELINE) == TA_BASELINE)
        v0 = -f->ascent;
    else if (align & TA_BOTTOM)
        v0 = -f->cell;
    platform::gdi::Placer pl{x, y, platform::gdi::quarterTurns(f->lf.lfEscapement)};
    Region clip;
    if ((options & ETO_CLIPPED) && rc)
        clip = Region(*rc);
    return platform::gdi::drawRun(*d, *f, cps, adv, pl, u0, v0, d->bkMode == OPAQUE,
                                  (options & ETO_CLIPPED) && rc ? &clip : nullptr);
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count)
{
    if (count < 0)
        return FALSE;
    return ExtTextOutW(hdc, x, y, 0, nullptr, text, UINT(count), nullptr);
}

int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT* rc, UINT format)
{
    auto d = dc(hdc);
    const int far = 1 << 28;
    if (!d || !rc || (!text && count != 0) || count < -1 || count > (1 << 20))
        return 0;
    for (LONG v : {rc->left, rc->top, rc->right, rc->bottom})
        if (v > far || v < -far)
            return 0;
    auto f = platform::gdi::fontOf(*d);
    if (!f)
        return 0;
    std::vector<char32_t> all = platform::gdi::codePoints(text, count < 0 ? -1 : count);
    std::vector<std::vector<char32_t>> lines(1);
    for (size_t i = 0; i < all.size(); ++i) {
        char32_t c = all[i];
        if (!(format & DT_SINGLELINE) && (c == U'\r' || c == U'\n')) {
            if (c == U'\r' && i + 1 < all.size() && all[i + 1] == U'\n')
                ++i;
            lines.emplace_back();
            continue;
        }
        lines.back().push_back(c);
    }
    std::vector<std::vector<int>> adv(lines.size());
    int widest = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!platform::gdi::advances(*f, lines[i], adv[i]))
            return 0;
        int w = 0;
        for (int a : adv[i])
            w += a;
        widest = std::max(widest, w);
    }
    int height = int(lines.size()) * f->cell;
    if (format & DT_CALCRECT) {
        rc->right = rc->left + widest;
        rc->bottom = rc->top + height;
        return height;
    }
    int top = rc->top;
    if (format & DT_VCENTER)
        top = rc->top + (rc->bottom - rc->top - height) / 2;
    else if (format & DT_BOTTOM)
        top = rc->bottom - height;
    Region clip(*rc);
    for (size_t i = 0; i < lines.size(); ++i) {
        int w = 0;
        for (int a : adv[i])
            w += a;
        int left = rc->left;
        if (format & DT_CENTER)
            left = rc->left + (rc->right - rc->left - w) / 2;
        else if (format & DT_RIGHT)
            left = rc->right - w;
        platform::gdi::Placer pl{left, top + int(i) * f->cell, 0};
        platform::gdi::drawRun(*d, *f, lines[i], adv[i], pl, 0, 0, d->bkMode == OPAQUE,
                               (format & DT_NOCLIP) ? nullptr : &clip);
    }
    return height;
}

int GetTextCharset(HDC hdc)
{
    auto d = dc(hdc);
    if (!d)
        return -1;
    auto f = platform::gdi::fontOf(*d);
    return f ? f->lf.lfCharSet : ANSI_CHARSET;
}
