// Metafile player of the GDI stand-in: placeable-less WMF records and enhanced-metafile
// records played through the stand-in's pens, brushes and shapes. Only lines, rectangles,
// ellipses, polygons and polylines are drawn; every other record is skipped by its size.
// The data is untrusted: every record size, count and object index is checked against its
// record and the header before use.
#include "platform/GdiInternal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace platform {
namespace gdi {

struct Metafile {
    bool wmf = false;
    std::vector<uint8_t> bytes;
    ENHMETAHEADER header{};
    std::vector<PALETTEENTRY> palette; // from the end-of-file record
    unsigned objects = 0;              // size of the object table
};

} // namespace gdi
} // namespace platform

using namespace platform::gdi;

namespace {

const size_t kWmfHeader = 18;
const size_t kEmfMinHeader = 88;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
int16_t s16(const uint8_t* p) { return int16_t(le16(p)); }
int32_t s32(const uint8_t* p) { return int32_t(le32(p)); }

// A record: its function or type, and its bytes (parameters follow the record's head).
struct Record {
    unsigned type = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Walks the records; false at the end record or at a size too small or past the end.
class Walker {
public:
    Walker(const Metafile& m) : m_(m), pos_(m.wmf ? kWmfHeader : 0) {}
    bool next(Record& r)
    {
        const std::vector<uint8_t>& b = m_.bytes;
        if (m_.wmf) {
            if (b.size() - pos_ < 6)
                return false;
            const uint64_t words = le32(&b[pos_]);
            if (words < 3 || words * 2 > b.size() - pos_)
                return false;
            r = Record{le16(&b[pos_ + 4]), &b[pos_], size_t(words * 2)};
            if (r.type == 0)
                return false;
        } else {
            if (b.size() - pos_ < 8)
                return false;
            const uint32_t size = le32(&b[pos_ + 4]);
            if (size < 8 || size % 4 != 0 || size > b.size() - pos_)
                return false;
            r = Record{le32(&b[pos_]), &b[pos_], size};
            if (r.type == 14)
                return false;
        }
        pos_ += r.size;
        return true;
    }
    size_t position() const { return pos_; }

private:
    const Metafile& m_;
    size_t pos_;
};

std::shared_ptr<const Metafile> metafileOf(HENHMETAFILE h)
{
    auto o = object(reinterpret_cast<HGDIOBJ>(h));
    return o && o->kind == Kind::Metafile ? o->metafile : nullptr;
}

HENHMETAFILE addMetafile(std::shared_ptr<Metafile> m)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Metafile;
    o->metafile = std::move(m);
    return reinterpret_cast<HENHMETAFILE>(addObject(o));
}

// The window a WMF sets last (origin, extent); 'hasExtent' false when none is set.
void wmfWindow(const Metafile& m, int& l, int& t, int& w, int& h, bool& hasExtent)
{
    l = t = w = h = 0;
    hasExtent = false;
    Walker walk(m);
    Record r;
    while (walk.next(r)) {
        if ((r.type == 0x020B || r.type == 0x020C) && r.size >= 10) {
            const int y = s16(r.data + 6), x = s16(r.data + 8);
            if (r.type == 0x020B) {
                l = x;
                t = y;
            } else {
                w = x;
                h = y;
                hasExtent = true;
            }
        }
    }
}

// Object-creating WMF records other than pens and brushes: they take a slot too, so
// later indices keep pointing at the right objects.
bool wmfCreatesObject(unsigned fn)
{
    return fn == 0x02FB || fn == 0x00F7 || fn == 0x06FF || fn == 0x0142 || fn == 0x01F9;
}

class Player {
public:
    Player(HDC hdc, const Metafile& m, const RECT& rc) : hdc_(hdc), m_(m), rc_(rc), limit_(m.objects)
    {
        if (m.wmf) {
            // Window records are played as they come; without an extent a unit is a pixel.
            left_ = 0;
            top_ = 0;
            width_ = rc.right - rc.left;
            height_ = rc.bottom - rc.top;
        } else {
            const RECT& b = m.header.rclBounds;
            left_ = b.left;
            top_ = b.top;
            width_ = double(b.right) - b.left;
            height_ = double(b.bottom) - b.top;
        }
        oldPen_ = GetCurrentObject(hdc, OBJ_PEN);
        oldBrush_ = GetCurrentObject(hdc, OBJ_BRUSH);
        MoveToEx(hdc, 0, 0, &oldPos_);
    }

    ~Player()
    {
        SelectObject(hdc_, oldPen_);
        SelectObject(hdc_, oldBrush_);
        for (Slot& s : slots_)
            if (s.owned)
                DeleteObject(s.handle);
        MoveToEx(hdc_, oldPos_.x, oldPos_.y, nullptr);
    }

    void play()
    {
        Walker walk(m_);
        Record r;
        while (walk.next(r)) {
            if (m_.wmf)
                wmfRecord(r);
            else
                emfRecord(r);
        }
    }

private:
    struct Slot {
        bool used = false;
        bool owned = false;
        HGDIOBJ handle = nullptr;
    };

    int mapX(double x) const { return clamp(rc_.left + (x - left_) * (rc_.right - rc_.left) / width_); }
    int mapY(double y) const { return clamp(rc_.top + (y - top_) * (rc_.bottom - rc_.top) / height_); }
    static int clamp(double v)
    {
        const double limit = double(1 << 30);
        if (!(v > -limit)) // NaN too
            return -(1 << 30);
        return v >= limit ? (1 << 30) : int(std::floor(v + 0.5));
    }
    bool drawable() const { return width_ != 0 && height_ != 0; }

    // Pens wider than twice the picture draw nothing more; hostile widths would cost a
    // square of pixels at every step of a line.
    int widestPen() const
    {
        const int64_t side = std::max<int64_t>(int64_t(rc_.right) - rc_.left, int64_t(rc_.bottom) - rc_.top);
        return int(std::min<int64_t>(1024, std::max<int64_t>(1, 2 * side + 1)));
    }
    int penWidth(double w) const
    {
        const double scaled = std::fabs(w * (rc_.right - rc_.left) / width_);
        return scaled >= widestPen() ? widestPen() : std::max(1, int(scaled));
    }

    // A line from a to b (b's pixel excluded), clipped to the play rectangle widened by the
    // widest pen: hostile coordinates would otherwise walk far outside the picture.
    void segment(POINT a, POINT b)
    {
        const double m = widestPen() + 2.0;
        const double x0 = a.x, y0 = a.y, dx = double(b.x) - x0, dy = double(b.y) - y0;
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {x0 - (rc_.left - m), (rc_.right + m) - x0, y0 - (rc_.top - m), (rc_.bottom + m) - y0};
        double t0 = 0, t1 = 1;
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0)
                    return;
                continue;
            }
            const double t = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
        if (t0 > t1)
            return;
        if (t0 > 0)
            a = POINT{clamp(x0 + t0 * dx), clamp(y0 + t0 * dy)};
        if (t1 < 1)
            b = POINT{clamp(x0 + t1 * dx), clamp(y0 + t1 * dy)};
        MoveToEx(hdc_, a.x, a.y, nullptr);
        LineTo(hdc_, b.x, b.y);
    }

    void lineTo(POINT b)
    {
        segment(pos_, b);
        moveTo(b);
    }
    void moveTo(POINT b)
    {
        pos_ = b;
        MoveToEx(hdc_, b.x, b.y, nullptr);
    }

    void setWindowOrg(double x, double y)
    {
        left_ = x;
        top_ = y;
    }
    void setWindowExt(double w, double h)
    {
        width_ = w;
        height_ = h;
    }

    void place(size_t index, HGDIOBJ h, bool owned)
    {
        release(index);
        if (index >= slots_.size())
            slots_.resize(index + 1);
        slots_[index] = Slot{true, owned, h};
        if (index == unused_)
            ++unused_;
        released_.erase(index);
    }

    void release(size_t index)
    {
        if (index >= slots_.size())
            return;
        Slot& s = slots_[index];
        if (!s.used)
            return;
        if (s.handle && GetCurrentObject(hdc_, OBJ_PEN) == s.handle)
            SelectObject(hdc_, oldPen_);
        if (s.handle && GetCurrentObject(hdc_, OBJ_BRUSH) == s.handle)
            SelectObject(hdc_, oldBrush_);
        if (s.owned)
            DeleteObject(s.handle);
        s = Slot();
        released_.insert(index);
    }

    void select(HGDIOBJ h)
    {
        if (h)
            SelectObject(hdc_, h);
    }

    HGDIOBJ makePen(int style, double width, uint32_t colour) const
    {
        if (style == PS_NULL)
            return CreatePen(PS_NULL, 1, 0);
        return CreatePen(PS_SOLID, penWidth(width), colour & 0xFFFFFF);
    }

    static HGDIOBJ makeBrush(int style, uint32_t colour)
    {
        if (style == 1)
            return GetStockObject(NULL_BRUSH);
        return CreateSolidBrush(colour & 0xFFFFFF); // hatched brushes drawn solid
    }

    // WMF objects fill the table from the bottom, so every index from unused_ up is free.
    int freeSlot() const
    {
        if (!released_.empty())
            return int(*released_.begin());
        return unused_ < limit_ ? int(unused_) : -1;
    }
    HGDIOBJ handleAt(size_t index) const { return index < slots_.size() ? slots_[index].handle : nullptr; }

    void box(bool ellipse, double l, double t, double r, double b)
    {
        if (!drawable())
            return;
        if (ellipse)
            Ellipse(hdc_, mapX(l), mapY(t), mapX(r), mapY(b));
        else
            Rectangle(hdc_, mapX(l), mapY(t), mapX(r), mapY(b));
    }

    // count points of 'bytes' bytes each (16 or 32-bit x, y) at p.
    void poly(bool polygon, const uint8_t* p, size_t count, int bytes)
    {
        if (!drawable() || count == 0)
            return;
        std::vector<POINT> pts(count);
        for (size_t i = 0; i < count; ++i, p += 2 * bytes) {
            const double x = bytes == 2 ? s16(p) : s32(p);
            const double y = bytes == 2 ? s16(p + 2) : s32(p + 4);
            pts[i] = POINT{mapX(x), mapY(y)};
        }
        if (polygon) {
            // The fill here, the outline by clipped segments.
            const HGDIOBJ pen = SelectObject(hdc_, GetStockObject(NULL_PEN));
            Polygon(hdc_, pts.data(), int(count));
            SelectObject(hdc_, pen);
            for (size_t i = 0; count > 1 && i < count; ++i)
                segment(pts[i], pts[(i + 1) % count]);
        } else {
            for (size_t i = 1; i < count; ++i)
                segment(pts[i - 1], pts[i]);
        }
        MoveToEx(hdc_, pos_.x, pos_.y, nullptr);
    }

    void wmfRecord(const Record& r)
    {
        const uint8_t* p = r.data + 6;
        const size_t n = r.size - 6; // parameter bytes
        switch (r.type) {
        case 0x020B:
            if (n >= 4)
                setWindowOrg(s16(p + 2), s16(p));
            break;
        case 0x020C:
            if (n >= 4)
                setWindowExt(s16(p + 2), s16(p));
            break;
        case 0x0214:
            if (n >= 4 && drawable())
                moveTo(POINT{mapX(s16(p + 2)), mapY(s16(p))});
            break;
        case 0x0213:
            if (n >= 4 && drawable())
                lineTo(POINT{mapX(s16(p + 2)), mapY(s16(p))});
            break;
        case 0x041B:
        case 0x0418:
            if (n >= 8)
                box(r.type == 0x0418, s16(p + 6), s16(p + 4), s16(p + 2), s16(p));
            break;
        case 0x0324:
        case 0x0325:
            if (n >= 2) {
                const size_t count = le16(p);
                if (count * 4 <= n - 2)
                    poly(r.type == 0x0324, p + 2, count, 2);
            }
            break;
        case 0x02FA:
        case 0x02FC: {
            const int slot = freeSlot();
            if (slot < 0)
                break;
            if (r.type == 0x02FA && n >= 10) {
                const int style = le16(p) & 0x0F;
                place(size_t(slot), makePen(style == PS_NULL ? PS_NULL : PS_SOLID, s16(p + 2), le32(p + 6)), true);
            } else if (r.type == 0x02FC && n >= 8) {
                const int style = le16(p);
                place(size_t(slot), makeBrush(style, le32(p + 2)), style != 1);
            }
            break;
        }
        case 0x012D:
            if (n >= 2)
                select(handleAt(le16(p)));
            break;
        case 0x01F0:
            if (n >= 2)
                release(le16(p));
            break;
        default:
            if (wmfCreatesObject(r.type)) {
                const int slot = freeSlot();
                if (slot >= 0)
                    place(size_t(slot), nullptr, false);
            }
            break;
        }
    }

    void emfRecord(const Record& r)
    {
        const uint8_t* p = r.data;
        const size_t n = r.size;
        switch (r.type) {
        case 3:
        case 4:
        case 86:
        case 87:
            if (n >= 28) {
                const int bytes = r.type < 86 ? 4 : 2;
                const size_t count = le32(p + 24);
                if (count <= (n - 28) / (2 * size_t(bytes)))
                    poly(r.type == 3 || r.type == 86, p + 28, count, bytes);
            }
            break;
        case 9:
            if (n >= 16)
                setWindowExt(s32(p + 8), s32(p + 12));
            break;
        case 10:
            if (n >= 16)
                setWindowOrg(s32(p + 8), s32(p + 12));
            break;
        case 27:
            if (n >= 16 && drawable())
                moveTo(POINT{mapX(s32(p + 8)), mapY(s32(p + 12))});
            break;
        case 54:
            if (n >= 16 && drawable())
                lineTo(POINT{mapX(s32(p + 8)), mapY(s32(p + 12))});
            break;
        case 42:
        case 43:
            if (n >= 24)
                box(r.type == 42, s32(p + 8), s32(p + 12), s32(p + 16), s32(p + 20));
            break;
        case 38:
            if (n >= 28 && le32(p + 8) < limit_) {
                const int style = int(le32(p + 12) & 0x0F);
                place(le32(p + 8), makePen(style == PS_NULL ? PS_NULL : PS_SOLID, s32(p + 16), le32(p + 24)), true);
            }
            break;
        case 39:
            if (n >= 24 && le32(p + 8) < limit_) {
                const uint32_t style = le32(p + 12);
                place(le32(p + 8), makeBrush(style == 1 ? 1 : 0, le32(p + 16)), style != 1);
            }
            break;
        case 37:
        case 40:
            if (n >= 12) {
                const uint32_t index = le32(p + 8);
                if (index & 0x80000000u) {
                    const uint32_t stockIndex = index & 0x7FFFFFFFu;
                    if (r.type == 37 && (stockIndex == WHITE_BRUSH || (stockIndex >= BLACK_BRUSH && stockIndex <= NULL_PEN)))
                        select(GetStockObject(int(stockIndex)));
                } else {
                    if (r.type == 37)
                        select(handleAt(index));
                    else
                        release(index);
                }
            }
            break;
        default:
            break;
        }
    }

    HDC hdc_;
    const Metafile& m_;
    RECT rc_;
    size_t limit_;             // the header's table size
    std::vector<Slot> slots_;  // grown as objects are made
    std::set<size_t> released_; // freed again below unused_
    size_t unused_ = 0;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr;
    POINT oldPos_{0, 0};
    POINT pos_{0, 0}; // the metafile's current position, in device units
};

} // namespace

HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC, const METAFILEPICT* picture)
{
    if (!data || !picture || size < kWmfHeader || (picture->mm != MM_TEXT && picture->mm != MM_ANISOTROPIC))
        return nullptr;
    const uint16_t type = le16(data);
    if ((type != 1 && type != 2) || le16(data + 2) != 9)
        return nullptr;
    auto m = std::make_shared<Metafile>();
    m->wmf = true;
    m->bytes.assign(data, data + size);
    m->objects = le16(data + 10);
    int l, t, w, h;
    bool ext;
    wmfWindow(*m, l, t, w, h, ext);
    ENHMETAHEADER& hd = m->header;
    hd.iType = 1;
    hd.nSize = sizeof(ENHMETAHEADER);
    hd.rclBounds = ext ? RECT{l, t, int(int64_t(l) + w), int(int64_t(t) + h)} : RECT{l, t, l, t};
    hd.dSignature = ENHMETA_SIGNATURE;
    hd.nVersion = 0x10000;
    hd.nBytes = size;
    hd.nHandles = WORD(m->objects);
    return addMetafile(m);
}

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data)
{
    if (!data || size < kEmfMinHeader || le32(data) != 1)
        return nullptr;
    const uint32_t headerSize = le32(data + 4), total = le32(data + 48);
    if (headerSize < kEmfMinHeader || headerSize % 4 != 0 || headerSize > size || le32(data + 40) != ENHMETA_SIGNATURE ||
        total < headerSize || total > size)
        return nullptr;
    auto m = std::make_shared<Metafile>();
    m->bytes.assign(data, data + total);
    // The header field by field: older writers stop at 88 or 100 bytes.
    uint8_t raw[sizeof(ENHMETAHEADER)] = {};
    std::memcpy(raw, data, std::min<size_t>(headerSize, sizeof raw));
    ENHMETAHEADER& h = m->header;
    h.iType = le32(raw);
    h.nSize = le32(raw + 4);
    h.rclBounds = RECT{s32(raw + 8), s32(raw + 12), s32(raw + 16), s32(raw + 20)};
    h.rclFrame = RECT{s32(raw + 24), s32(raw + 28), s32(raw + 32), s32(raw + 36)};
    h.dSignature = le32(raw + 40);
    h.nVersion = le32(raw + 44);
    h.nBytes = le32(raw + 48);
    h.nRecords = le32(raw + 52);
    h.nHandles = le16(raw + 56);
    h.sReserved = le16(raw + 58);
    h.nDescription = le32(raw + 60);
    h.offDescription = le32(raw + 64);
    h.nPalEntries = le32(raw + 68);
    h.szlDevice = SIZE{s32(raw + 72), s32(raw + 76)};
    h.szlMillimeters = SIZE{s32(raw + 80), s32(raw + 84)};
    h.cbPixelFormat = le32(raw + 88);
    h.offPixelFormat = le32(raw + 92);
    h.bOpenGL = le32(raw + 96);
    h.szlMicrometers = SIZE{s32(raw + 100), s32(raw + 104)};
    m->objects = h.nHandles;
    // The palette lives in the end-of-file record: entries at their offset within it.
    Walker walk(*m);
    Record r;
    while (walk.next(r)) {
    }
    const size_t end = walk.position();
    if (m->bytes.size() - end >= 20 && le32(&m->bytes[end]) == 14) {
        const uint8_t* eof = &m->bytes[end];
        const uint64_t recSize = le32(eof + 4), count = le32(eof + 8), offset = le32(eof + 12);
        if (recSize <= m->bytes.size() - end && count > 0 && count <= 0xFFFF && offset >= 16 &&
            offset + count * 4 <= recSize)
            for (uint64_t i = 0; i < count; ++i) {
                const uint8_t* e = eof + offset + i * 4;
                m->palette.push_back(PALETTEENTRY{e[0], e[1], e[2], e[3]});
            }
    }
    return addMetafile(m);
}

UINT GetEnhMetaFileHeader(HENHMETAFILE metafile, UINT size, ENHMETAHEADER* header)
{
    auto m = metafileOf(metafile);
    if (!m)
        return 0;
    if (!header)
        return UINT(sizeof(ENHMETAHEADER));
    const UINT n = std::min<UINT>(size, UINT(sizeof(ENHMETAHEADER)));
    std::memcpy(header, &m->header, n);
    return n;
}

UINT GetEnhMetaFilePaletteEntries(HENHMETAFILE metafile, UINT count, PALETTEENTRY* entries)
{
    auto m = metafileOf(metafile);
    if (!m)
        return GDI_ERROR;
    if (!entries)
        return UINT(m->palette.size());
    const UINT n = std::min<UINT>(count, UINT(m->palette.size()));
    std::copy(m->palette.begin(), m->palette.begin() + n, entries);
    return n;
}

BOOL DeleteEnhMetaFile(HENHMETAFILE metafile)
{
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    auto it = g.objects.find(reinterpret_cast<HGDIOBJ>(metafile));
    if (it == g.objects.end() || it->second->kind != Kind::Metafile)
        return FALSE;
    g.objects.erase(it);
    --g.live;
    return TRUE;
}

BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE metafile, const RECT* rc)
{
    auto m = metafileOf(metafile);
    if (!m || !rc || !dc(hdc))
        return FALSE;
    Player(hdc, *m, *rc).play();
    return TRUE;
}
