// Metafiles of the GDI stand-in: placeable-less WMF and enhanced-metafile bytes kept as
// handles, their headers, and playback (the records walked here, played by GdiPlayer).
// The data is untrusted: every record size is checked against the bytes before use.
#include "platform/GdiPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

using namespace platform::gdi;

namespace {

const size_t kWmfHeader = 18;
const size_t kEmfMinHeader = 88;


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

void platform::gdi::Player::play()
{
    Walker walk(m);
    Record r;
    while (walk.next(r)) {
        if (m.wmf)
            playWmfRecord(*this, r.type, r.data, r.size);
        else
            playEmfRecord(*this, r.type, r.data, r.size);
    }
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
