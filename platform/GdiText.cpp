// Text output of the GDI stand-in: fonts by LOGFONTW on the Liberation faces (family by
// face name or pitch hints, bold and italic files, emboldening where a bold file is
// missing), FreeType glyphs cached per face, size, angle and quality, runs laid out in
// their own frame (u along the baseline, v down) and placed by alignment, escapement and
// the current position, with opaque boxes, clip rectangles, underline and strike-out.
#include "platform/GdiInternal.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cctype>
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

// Three Liberation families stand for the faces documents ask for: Sans for Arial and
// every face not known here (so overlay extents never depend on a face name), Serif and
// Mono for the serif and fixed-pitch faces. Each family comes in four styles.
enum Family { kSans = 0, kSerif = 1, kMono = 2 };
const int kStyles = 4; // regular, bold, italic, bold italic
const int kFaces = 3 * kStyles;

// One font file with the table values the metrics need.
struct Face {
    FT_Face ft = nullptr;
    int unitsPerEm = 2048;
    int winAscent = 0;
    int winDescent = 0;
    int avgWidth = 0;
    int underlinePosition = 0; // centre of the stroke, negative below the baseline
    int underlineThickness = 0;
    int strikePosition = 0; // top of the stroke above the baseline
    int strikeThickness = 0;
};

struct Glyph {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> on; // coverage, one byte per pixel: 0 or 255, grey levels when smooth
};

struct Font {
    LOGFONTW lf{};
    int faceIndex = 0; // family * kStyles + style
    bool embolden = false; // bold asked for where the family has no bold face
    bool smooth = false;   // anti-aliased or ClearType quality: grey edges blended into the picture
    bool symbol = false;   // the Symbol face: its single-byte codes stand for Greek and mathematical signs
    int cell = 16;
    int em = 16;
    int emX = 16; // horizontal pixel size: em unless lfWidth asks for narrower or wider glyphs
    int ascent = 13;
    int descent = 3;
    int angle = 0; // escapement in tenths of a degree, 0 to 3599
    int underlineTop = 0; // offsets below the baseline
    int underlineHeight = 1;
    int strikeTop = 0;
    int strikeHeight = 1;
};

namespace {

// What a glyph bitmap or advance depends on.
struct GlyphKey {
    int face, em, emX, angle;
    bool bold, smooth;
    FT_UInt index;
    bool operator<(const GlyphKey& o) const
    {
        return std::tie(face, em, emX, angle, bold, smooth, index) <
               std::tie(o.face, o.em, o.emX, o.angle, o.bold, o.smooth, o.index);
    }
};

struct FontSystem {
    boost::mutex lock;
    FT_Library library = nullptr;
    bool tried[kFaces] = {};
    Face faces[kFaces];
    std::map<GlyphKey, Glyph> glyphs;
    size_t glyphBytes = 0;
    std::map<GlyphKey, int> advances; // pixels
};

// Documents choose sizes and angles: the caches start afresh past these, so no run of
// fonts can grow them without bound.
const size_t kGlyphCacheBytes = size_t(64) << 20;
const size_t kAdvanceCacheEntries = size_t(1) << 20;

FontSystem& fonts()
{
    static FontSystem* f = new FontSystem();
    return *f;
}

const char* kFamilyFiles[3] = {"LiberationSans", "LiberationSerif", "LiberationMono"};
const char* kStyleFiles[kStyles] = {"-Regular.ttf", "-Bold.ttf", "-Italic.ttf", "-BoldItalic.ttf"};

// Loads a face once; null when the font is not installed.
Face* faceLocked(int index)
{
    FontSystem& fs = fonts();
    if (index < 0 || index >= kFaces)
        return nullptr;
    if (!fs.tried[index]) {
        fs.tried[index] = true;
        if (!fs.library && FT_Init_FreeType(&fs.library) != 0)
            fs.library = nullptr;
        if (fs.library) {
            const char* env = std::getenv("ORBEL_FONT_DIR");
            std::string dir = (env && *env) ? env : ORBEL_FONT_DIR_DEFAULT;
            std::string file = dir + "/" + kFamilyFiles[index / kStyles] + kStyleFiles[index % kStyles];
            FT_Face ft = nullptr;
            if (FT_New_Face(fs.library, file.c_str(), 0, &ft) == 0) {
                auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
                if (os2 && ft->units_per_EM > 0 && os2->usWinAscent + os2->usWinDescent > 0) {
                    Face& f = fs.faces[index];
                    f.ft = ft;
                    f.unitsPerEm = ft->units_per_EM;
                    f.winAscent = os2->usWinAscent;
                    f.winDescent = os2->usWinDescent;
                    f.avgWidth = os2->xAvgCharWidth;
                    f.underlinePosition = ft->underline_position;
                    f.underlineThickness = ft->underline_thickness;
                    f.strikePosition = os2->yStrikeoutPosition;
                    f.strikeThickness = os2->yStrikeoutSize;
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

// Face names compared without case; a name that only begins like a known one ("Arial
// Narrow", "Times New Roman PS") goes with it.
Family familyOf(const LOGFONTW& lf)
{
    std::string name;
    for (int i = 0; i < LF_FACESIZE && lf.lfFaceName[i]; ++i) {
        char16_t c = lf.lfFaceName[i];
        name.push_back(c < 128 ? char(std::tolower(int(c))) : '?');
    }
    static const char* const serif[] = {"times new roman", "times", "georgia", "cambria", "liberation serif", "symbol",
                                        "serif", "ms serif", "garamond", "book antiqua", "palatino",
                                        "bookman", "century schoolbook", "constantia", "tms rmn", "roman"};
    static const char* const mono[] = {"courier new", "courier", "consolas", "lucida console", "liberation mono",
                                       "monospace", "lucida sans typewriter", "andale mono", "fixedsys",
                                       "terminal", "dejavu sans mono", "ocr", "letter gothic"};
    static const char* const sans[] = {"arial", "helvetica", "tahoma", "verdana", "ms sans serif",
                                       "microsoft sans serif", "segoe ui", "calibri", "liberation sans",
                                       "sans-serif", "sans serif", "system", "trebuchet", "lucida sans", "candara",
                                       "corbel", "franklin gothic", "gill sans", "century gothic", "dejavu sans"};
    auto starts = [&](const char* known) {
        size_t n = std::strlen(known);
        return name.compare(0, n, known) == 0 && (name.size() == n || name[n] == ' ' || name[n] == ',');
    };
    // Longest names first within each list would matter only for "lucida sans" against
    // "lucida sans typewriter": mono is tried first.
    for (const char* k : mono)
        if (starts(k))
            return kMono;
    for (const char* k : sans)
        if (starts(k))
            return kSans;
    for (const char* k : serif)
        if (starts(k))
            return kSerif;
    // An unknown face: its pitch and family hints, else Sans.
    if ((lf.lfPitchAndFamily & 0x03) == FIXED_PITCH || (lf.lfPitchAndFamily & 0xF0) == FF_MODERN)
        return kMono;
    if ((lf.lfPitchAndFamily & 0xF0) == FF_ROMAN)
        return kSerif;
    return kSans;
}

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
    f.emX = f.em;
    LONG w = std::min<LONG>(std::abs(f.lf.lfWidth), 2048);
    if (w > 0 && face && face->avgWidth > 0)
        f.emX = std::max(1, std::min(4096, roundHalfUp(double(w) * upm / face->avgWidth)));
    const double scale = double(f.em) / upm;
    int ut = face ? std::max(1, roundHalfUp(face->underlineThickness * scale)) : 1;
    f.underlineHeight = ut;
    f.underlineTop = face ? roundHalfUp(-face->underlinePosition * scale - ut / 2.0) : 1;
    if (f.underlineTop < 1)
        f.underlineTop = 1;
    int st = face ? std::max(1, roundHalfUp(face->strikeThickness * scale)) : 1;
    f.strikeHeight = st;
    f.strikeTop = face ? -roundHalfUp(face->strikePosition * scale) : -f.ascent / 3;
    long a = long(f.lf.lfEscapement) % 3600;
    f.angle = int(a < 0 ? a + 3600 : a);
}

std::shared_ptr<Object> makeFontObject(const LOGFONTW& lf)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Font;
    o->font = std::make_shared<Font>();
    Font& f = *o->font;
    f.lf = lf;
    f.smooth = lf.lfQuality == ANTIALIASED_QUALITY || lf.lfQuality == CLEARTYPE_QUALITY;
    static const char16_t kSymbol[] = u"symbol";
    f.symbol = true;
    for (int i = 0; i < LF_FACESIZE && f.symbol; ++i) {
        const char16_t c = lf.lfFaceName[i];
        f.symbol = (c < 128 ? char16_t(std::tolower(int(c))) : c) == kSymbol[i];
        if (!c)
            break;
    }
    const bool bold = lf.lfWeight >= FW_SEMIBOLD, italic = lf.lfItalic != 0;
    const int family = familyOf(lf);
    const int style = (bold ? 1 : 0) + (italic ? 2 : 0);
    Face* face;
    {
        boost::lock_guard<boost::mutex> g(fonts().lock);
        // The family's own style, else the same family emboldened, else Sans the same way.
        const int tries[4][2] = {{family, style}, {family, style & 2}, {kSans, style}, {kSans, style & 2}};
        face = nullptr;
        for (const auto& t : tries) {
            face = faceLocked(t[0] * kStyles + t[1]);
            if (face) {
                f.faceIndex = t[0] * kStyles + t[1];
                f.embolden = bold && !(t[1] & 1);
                break;
            }
        }
        if (!face)
            f.faceIndex = style;
    }
    computeMetrics(f, face);
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

// The Symbol face's codes 0x20 to 0xFE (also as U+F020 to U+F0FE, as Unicode text
// carries them), as the Unicode characters the Liberation faces hold; 0 where none.
char32_t fromSymbol(char32_t c)
{
    static const char16_t low[0x5F] = {
        0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C,
        0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039,
        0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6,
        0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F, 0x03A0, 0x0398, 0x03A1, 0x03A3,
        0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D, 0x22A5, 0x005F, 0x203E,
        0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC,
        0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6,
        0x007B, 0x007C, 0x007D, 0x223C};
    static const char16_t high[0x5F] = {
        0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190,
        0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260,
        0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205,
        0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209, 0x2220, 0x2207, 0x00AE, 0x00A9,
        0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA,
        0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8,
        0x23A9, 0x23AA, 0x0000, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5,
        0x23A6, 0x23AB, 0x23AC, 0x23AD};
    static_assert(sizeof low / sizeof low[0] == 0x7F - 0x20, "codes 0x20 to 0x7E");
    static_assert(sizeof high / sizeof high[0] == 0xFF - 0xA0, "codes 0xA0 to 0xFE");
    if (c >= 0xF020 && c <= 0xF0FE)
        c -= 0xF000;
    if (c >= 0x20 && c < 0x7F)
        return low[c - 0x20];
    if (c >= 0xA0 && c < 0xFF)
        return high[c - 0xA0];
    return c;
}

// The characters a run shows in the font.
std::vector<char32_t> textIn(const Font& f, LPCWSTR text, int count)
{
    std::vector<char32_t> out = codePoints(text, count);
    if (f.symbol)
        for (char32_t& c : out)
            c = fromSymbol(c);
    return out;
}

std::shared_ptr<Font> fontOf(const DC& d)
{
    auto o = object(d.font);
    return (o && o->kind == Kind::Font) ? o->font : nullptr;
}

bool sizeFace(const Font& f, Face* face) { return f.em > 0 && FT_Set_Pixel_Sizes(face->ft, FT_UInt(f.emX), FT_UInt(f.em)) == 0; }

// Where each glyph's pen position moves on: the glyph's advance as hinted at the font's
// size (the width its bitmap was fitted to), plus the kerning of the pair it starts,
// where the font has kerning. Each glyph's own rounded unhinted width drifted from its
// bitmap by up to half a pixel, which at 6 to 8 pixels made the gaps visibly uneven.
// Smooth text takes the advances of its lightly hinted glyphs. False without the font.
bool advances(const Font& f, const std::vector<char32_t>& text, std::vector<int>& out)
{
    FontSystem& fs = fonts();
    boost::lock_guard<boost::mutex> g(fs.lock);
    Face* face = faceLocked(f.faceIndex);
    if (!face)
        return false;
    out.clear();
    const bool sized = sizeFace(f, face);
    FT_UInt previous = 0;
    for (char32_t c : text) {
        FT_UInt index = FT_Get_Char_Index(face->ft, FT_ULong(c));
        GlyphKey key{f.faceIndex, f.em, f.emX, 0, f.embolden, f.smooth, index};
        auto it = fs.advances.find(key);
        int pixels = 0;
        if (it != fs.advances.end()) {
            pixels = it->second;
        } else {
            const FT_Int32 load = f.smooth ? FT_LOAD_TARGET_LIGHT : FT_LOAD_TARGET_MONO;
            if (sized && FT_Load_Glyph(face->ft, index, load) == 0) {
                if (f.embolden)
                    FT_GlyphSlot_Embolden(face->ft->glyph);
                pixels = int((face->ft->glyph->advance.x + 32) >> 6);
            }
            if (fs.advances.size() >= kAdvanceCacheEntries)
                fs.advances.clear();
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

// A glyph's bitmap, upright or turned by an angle that is not a quarter turn (quarter
// turns place the upright bitmap's pixels exactly instead).
const Glyph* glyphLocked(const Font& f, char32_t c, int angle)
{
    FontSystem& fs = fonts();
    Face* face = faceLocked(f.faceIndex);
    if (!face)
        return nullptr;
    FT_UInt index = FT_Get_Char_Index(face->ft, FT_ULong(c));
    GlyphKey key{f.faceIndex, f.em, f.emX, angle, f.embolden, f.smooth, index};
    auto it = fs.glyphs.find(key);
    if (it != fs.glyphs.end())
        return &it->second;
    Glyph g;
    if (sizeFace(f, face)) {
        if (angle) {
            const double r = angle * M_PI / 1800.0;
            const FT_Fixed cs = FT_Fixed(std::lround(std::cos(r) * 65536.0)), sn = FT_Fixed(std::lround(std::sin(r) * 65536.0));
            FT_Matrix m{cs, -sn, sn, cs};
            FT_Set_Transform(face->ft, &m, nullptr);
        }
        // Smooth glyphs keep their outlines' shapes (light hinting); bilevel ones are hinted
        // for monochrome, as their advances are.
        const FT_Int32 target = f.smooth ? FT_LOAD_TARGET_LIGHT : FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME;
        const FT_Render_Mode mode = f.smooth ? FT_RENDER_MODE_LIGHT : FT_RENDER_MODE_MONO;
        bool ok;
        if (f.embolden) {
            ok = FT_Load_Glyph(face->ft, index, target) == 0;
            if (ok) {
                FT_GlyphSlot_Embolden(face->ft->glyph);
                ok = FT_Render_Glyph(face->ft->glyph, mode) == 0;
            }
        } else {
            ok = FT_Load_Glyph(face->ft, index, FT_LOAD_RENDER | target) == 0;
        }
        if (angle)
            FT_Set_Transform(face->ft, nullptr, nullptr);
        if (ok) {
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
                    uint8_t cover;
                    if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
                        cover = ((row[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
                    else if (f.smooth)
                        cover = row[x];
                    else
                        cover = row[x] >= 128 ? 255 : 0;
                    g.on[size_t(y) * size_t(g.width) + size_t(x)] = cover;
                }
            }
        }
    }
    if (fs.glyphBytes + g.on.size() > kGlyphCacheBytes) {
        fs.glyphs.clear(); // no glyph pointer is held across this call
        fs.glyphBytes = 0;
    }
    fs.glyphBytes += g.on.size();
    return &fs.glyphs.emplace(key, std::move(g)).first->second;
}

// Where text's own frame (u along the baseline, v down from it) lands on the device:
// quarter turns map pixels exactly, other angles turn about the reference point.
struct Placer {
    int x0, y0, turns;
    int angle = 0;    // tenths of a degree, when not a quarter turn
    double cs = 1, sn = 0;
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
    // The device point of text point (u, v), turned by an arbitrary angle.
    void turn(double u, double v, double& x, double& y) const
    {
        x = x0 + u * cs + v * sn;
        y = y0 - u * sn + v * cs;
    }
};

Placer placerFor(int x, int y, const Font& f)
{
    Placer pl{x, y, 0};
    if (f.angle % 900 == 0) {
        pl.turns = f.angle / 900;
    } else {
        pl.angle = f.angle;
        const double r = f.angle * M_PI / 1800.0;
        pl.cs = std::cos(r);
        pl.sn = std::sin(r);
    }
    return pl;
}

// Fills text-frame rectangle [u0, u1) x [v0, v1) with colour c.
void fillTextRect(const Target& t, const Placer& pl, int u0, int v0, int u1, int v1, COLORREF c)
{
    if (u1 <= u0 || v1 <= v0)
        return;
    if (!pl.angle) {
        POINT a = pl.map(u0, v0), b = pl.map(u1 - 1, v1 - 1);
        fillSolid(t, RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1}, c);
        return;
    }
    // Turned: the pixels whose centres fall inside, found by mapping each centre back.
    double xs[4], ys[4];
    pl.turn(u0, v0, xs[0], ys[0]);
    pl.turn(u1, v0, xs[1], ys[1]);
    pl.turn(u0, v1, xs[2], ys[2]);
    pl.turn(u1, v1, xs[3], ys[3]);
    RECT box{int(std::floor(*std::min_element(xs, xs + 4))), int(std::floor(*std::min_element(ys, ys + 4))),
             int(std::ceil(*std::max_element(xs, xs + 4))), int(std::ceil(*std::max_element(ys, ys + 4)))};
    Region area(box);
    area.intersect(t.allowed);
    for (const RECT& r : area.rects())
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const double dx = x + 0.5 - pl.x0, dy = y + 0.5 - pl.y0;
                const double u = dx * pl.cs - dy * pl.sn, v = dx * pl.sn + dy * pl.cs;
                if (u >= u0 && u < u1 && v >= v0 && v < v1)
                    putPixel(t.at(x, y), c, t.bpp);
            }
}

// Sets a pixel to colour c, or blends c over it by a glyph's partial coverage.
inline void cover(uint8_t* p, COLORREF c, uint8_t amount, int bpp)
{
    if (amount == 255) {
        putPixel(p, c, bpp);
        return;
    }
    const int a = amount;
    const int want[3] = {GetBValue(c), GetGValue(c), GetRValue(c)};
    for (int i = 0; i < 3; ++i)
        p[i] = uint8_t(p[i] + ((want[i] - p[i]) * a + (want[i] >= p[i] ? 127 : -127)) / 255);
    if (bpp == 32)
        p[3] = 0;
}

// Sets a glyph's pixels with the glyph's origin at device (ox, oy), upright bitmap.
void drawGlyph(const Target& t, const Glyph& gl, int ox, int oy, COLORREF c)
{
    const RECT box{ox + gl.left, oy - gl.top, ox + gl.left + gl.width, oy - gl.top + gl.height};
    if (rectEmpty(box))
        return;
    for (const RECT& r : t.allowed.rects()) {
        const RECT part = rectIntersect(r, box);
        if (rectEmpty(part))
            continue;
        for (int y = part.top; y < part.bottom; ++y) {
            const uint8_t* on = &gl.on[size_t(y - box.top) * size_t(gl.width)];
            for (int x = part.left; x < part.right; ++x)
                if (on[x - box.left])
                    cover(t.at(x, y), c, on[x - box.left], t.bpp);
        }
    }
}

// A run's layout in the text frame: the cell's top-left at (u0, v0), each glyph's pen
// position along the baseline and its vertical shift (ETO_PDY pairs).
struct Layout {
    int u0 = 0, v0 = 0;
    std::vector<int> pen, lift;
    int width = 0;
};

// Draws a run of text: the cell filled first when opaque, the glyphs, then underline and
// strike-out across the run.
bool drawRun(DC& d, const Font& f, const std::vector<char32_t>& text, const Layout& lay, const Placer& pl,
             bool opaque, const Region* clip)
{
    Target t;
    if (!resolve(d, t))
        return true;
    if (clip)
        t.allowed.intersect(*clip);
    if (t.allowed.empty())
        return true;
    if (opaque)
        fillTextRect(t, pl, lay.u0, lay.v0, lay.u0 + lay.width, lay.v0 + f.cell, d.bkColor);
    const int baseline = lay.v0 + f.ascent;
    {
        FontSystem& fs = fonts();
        boost::lock_guard<boost::mutex> g(fs.lock);
        for (size_t i = 0; i < text.size(); ++i) {
            const int u = lay.u0 + lay.pen[i], v = baseline + lay.lift[i];
            if (pl.angle) {
                const Glyph* gl = glyphLocked(f, text[i], pl.angle);
                double x, y;
                pl.turn(u, v, x, y);
                if (gl)
                    drawGlyph(t, *gl, int(std::floor(x + 0.5)), int(std::floor(y + 0.5)), d.textColor);
                continue;
            }
            const Glyph* gl = glyphLocked(f, text[i], 0);
            if (!gl)
                continue;
            if (pl.turns == 0) {
                drawGlyph(t, *gl, pl.x0 + u, pl.y0 + v, d.textColor);
                continue;
            }
            for (int y = 0; y < gl->height; ++y)
                for (int x = 0; x < gl->width; ++x) {
                    const uint8_t amount = gl->on[size_t(y) * size_t(gl->width) + size_t(x)];
                    if (!amount)
                        continue;
                    POINT p = pl.map(u + gl->left + x, v - gl->top + y);
                    if (t.contains(p.x, p.y))
                        cover(t.at(p.x, p.y), d.textColor, amount, t.bpp);
                }
        }
    }
    const int u1 = lay.u0 + lay.width;
    if (f.lf.lfUnderline)
        fillTextRect(t, pl, lay.u0, baseline + f.underlineTop, u1, baseline + f.underlineTop + f.underlineHeight,
                     d.textColor);
    if (f.lf.lfStrikeOut)
        fillTextRect(t, pl, lay.u0, baseline + f.strikeTop, u1, baseline + f.strikeTop + f.strikeHeight, d.textColor);
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
    if (!f || !platform::gdi::advances(*f, platform::gdi::textIn(*f, text, count), adv))
        return FALSE;
    int w = 0;
    for (int a : adv)
        w += a;
    *size = SIZE{w, f->cell};
    return TRUE;
}

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rc, LPCWSTR text, UINT count, const INT* dx)
{
    using namespace platform::gdi;
    auto d = dc(hdc);
    const int far = 1 << 28; // beyond this no coordinate arithmetic is attempted
    if (!d || (count > 0 && !text) || count > (1u << 20))
        return FALSE;
    const UINT align = d->textAlign;
    if (align & TA_UPDATECP) {
        x = d->pos.x;
        y = d->pos.y;
    }
    if (x > far || x < -far || y > far || y < -far)
        return FALSE;
    if ((options & ETO_OPAQUE) && rc) {
        Target t;
        if (resolve(*d, t))
            fillSolid(t, *rc, d->bkColor);
    }
    if (count == 0)
        return TRUE;
    auto f = fontOf(*d);
    if (!f)
        return FALSE;
    std::vector<char32_t> cps = textIn(*f, text, int(count));
    std::vector<int> adv;
    if (!advances(*f, cps, adv))
        return FALSE;
    Layout lay;
    lay.pen.resize(cps.size());
    lay.lift.assign(cps.size(), 0);
    // Caller advances replace the font's; with ETO_PDY each comes with a vertical step
    // (device pixels down the text's own vertical) that moves the glyphs after it.
    const size_t step = (options & ETO_PDY) ? 2 : 1;
    int lift = 0;
    for (size_t i = 0, unit = 0; i < cps.size(); ++i) {
        lay.lift[i] = lift;
        if (dx) {
            adv[i] = std::max(-far, std::min(far, dx[unit * step]));
            if (step == 2)
                lift = std::max(-far, std::min(far, lift + dx[unit * step + 1]));
        }
        unit += cps[i] >= 0x10000 ? 2 : 1;
    }
    int64_t width = 0;
    for (size_t i = 0; i < cps.size(); ++i) {
        lay.pen[i] = int(std::max<int64_t>(-far, std::min<int64_t>(far, width)));
        width += adv[i];
    }
    lay.width = int(std::max<int64_t>(-far, std::min<int64_t>(far, width)));
    if ((align & TA_CENTER) == TA_CENTER)
        lay.u0 = -lay.width / 2;
    else if (align & TA_RIGHT)
        lay.u0 = -lay.width;
    if ((align & TA_BASELINE) == TA_BASELINE)
        lay.v0 = -f->ascent;
    else if (align & TA_BOTTOM)
        lay.v0 = -f->cell;
    const Placer pl = placerFor(x, y, *f);
    Region clip;
    if ((options & ETO_CLIPPED) && rc)
        clip = Region(*rc);
    drawRun(*d, *f, cps, lay, pl, d->bkMode == OPAQUE, (options & ETO_CLIPPED) && rc ? &clip : nullptr);
    if (align & TA_UPDATECP) {
        // The current position moves to the far end of left-aligned text and the near end
        // of right-aligned text; centred text leaves it where it was.
        int along = 0;
        if ((align & TA_CENTER) == TA_CENTER)
            along = 0;
        else if (align & TA_RIGHT)
            along = -lay.width;
        else
            along = lay.width;
        const double r = f->angle * M_PI / 1800.0;
        d->pos.x = x + int(std::lround(along * std::cos(r) + lift * std::sin(r)));
        d->pos.y = y + int(std::lround(-along * std::sin(r) + lift * std::cos(r)));
    }
    return TRUE;
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count)
{
    if (count < 0)
        return FALSE;
    return ExtTextOutW(hdc, x, y, 0, nullptr, text, UINT(count), nullptr);
}

namespace {

// Code page 1252: Latin-1 but for the printable characters at 0x80 to 0x9F.
std::u16string fromCodePage1252(LPCSTR text, int count)
{
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string out;
    out.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out.push_back(c >= 0x80 && c < 0xA0 ? high[c - 0x80] : char16_t(c));
    }
    return out;
}

} // namespace

BOOL ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT* rc, LPCSTR text, UINT count, const INT* dx)
{
    if ((count > 0 && !text) || count > (1u << 20))
        return FALSE;
    const std::u16string wide = count ? fromCodePage1252(text, int(count)) : std::u16string();
    return ExtTextOutW(hdc, x, y, options, rc, wide.c_str(), count, dx);
}

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int count)
{
    if (count < 0)
        return FALSE;
    return ExtTextOutA(hdc, x, y, 0, nullptr, text, UINT(count), nullptr);
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR text, int count, SIZE* size)
{
    if (count < 0 || count > (1 << 20) || (count > 0 && !text)) {
        if (size)
            *size = SIZE{0, 0};
        return FALSE;
    }
    const std::u16string wide = count ? fromCodePage1252(text, count) : std::u16string();
    return GetTextExtentPoint32W(hdc, wide.c_str(), count, size);
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
    std::vector<char32_t> all = platform::gdi::textIn(*f, text, count < 0 ? -1 : count);
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
        platform::gdi::Layout lay;
        lay.lift.assign(lines[i].size(), 0);
        for (int a : adv[i]) {
            lay.pen.push_back(lay.width);
            lay.width += a;
        }
        platform::gdi::drawRun(*d, *f, lines[i], lay, pl, d->bkMode == OPAQUE, (format & DT_NOCLIP) ? nullptr : &clip);
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
