// Builds JP2 boxes field by field for tests: plain, extended-length and rubber boxes,
// and the placeholders a JPIP server puts in meta-data bins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jp2_test {

typedef std::vector<uint8_t> bytes;

inline void put16(bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

inline void put32(bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(uint8_t(v >> s));
}

inline void put64(bytes& b, uint64_t v)
{
    put32(b, uint32_t(v >> 32));
    put32(b, uint32_t(v));
}

inline uint32_t fourcc(const char* t)
{
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

inline bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A box with an ordinary length field.
inline bytes box(const char* type, const bytes& contents)
{
    bytes b;
    put32(b, uint32_t(8 + contents.size()));
    put32(b, fourcc(type));
    b.insert(b.end(), contents.begin(), contents.end());
    return b;
}

// A box with LBox 1 and the 64-bit length (stated, so tests can lie).
inline bytes long_box(const char* type, const bytes& contents, uint64_t stated = 0)
{
    bytes b;
    put32(b, 1);
    put32(b, fourcc(type));
    put64(b, stated ? stated : 16 + contents.size());
    b.insert(b.end(), contents.begin(), contents.end());
    return b;
}

// A box whose length runs to the end of its container.
inline bytes rubber_box(const char* type, const bytes& contents)
{
    bytes b;
    put32(b, 0);
    put32(b, fourcc(type));
    b.insert(b.end(), contents.begin(), contents.end());
    return b;
}

// A box header with an arbitrary LBox.
inline bytes header(uint32_t lbox, const char* type)
{
    bytes b;
    put32(b, lbox);
    put32(b, fourcc(type));
    return b;
}

// A placeholder: Flags, OrigID, the original box header, then (when an equivalent is
// offered) EquivID, its header, and for a codestream equivalent CSID and, with Flags 8, NCS.
inline bytes placeholder(uint32_t flags, uint64_t orig_id, const bytes& orig_header, uint64_t equiv_id = 0,
                         const bytes& equiv_header = bytes(8, 0), uint64_t csid = 0, uint32_t ncs = 0,
                         int stated_lbox = -1)
{
    bytes body;
    put32(body, flags);
    put64(body, orig_id);
    body.insert(body.end(), orig_header.begin(), orig_header.end());
    if (flags & 6) {
        put64(body, equiv_id);
        body.insert(body.end(), equiv_header.begin(), equiv_header.end());
    }
    if (flags & 4) {
        put64(body, csid);
        if (flags & 8)
            put32(body, ncs);
    }
    bytes b;
    put32(b, stated_lbox >= 0 ? uint32_t(stated_lbox) : uint32_t(8 + body.size()));
    put32(b, fourcc("phld"));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The loopback server's placeholder for a "jp2c" box: Flags 4, CSID 0, LBox 52.
inline bytes server_placeholder(uint32_t jp2c_length)
{
    return placeholder(4, 0, header(jp2c_length, "jp2c"));
}

} // namespace jp2_test
