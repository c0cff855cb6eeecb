// Little-endian fields of the image file formats: read from a byte pointer, written at a
// byte pointer (returning the byte after) or appended to a byte buffer. Every codec of the
// library reads and writes its headers through these, field by field.
#pragma once

#include "platform/WinTypes.h"

#include <vector>

inline WORD RxGet16(const BYTE* p)
{
    return WORD(p[0] | p[1] << 8);
}

inline DWORD RxGet32(const BYTE* p)
{
    return DWORD(RxGet16(p)) | DWORD(RxGet16(p + 2)) << 16;
}

inline BYTE* RxPut16(BYTE* p, WORD v)
{
    p[0] = BYTE(v);
    p[1] = BYTE(v >> 8);
    return p + 2;
}

inline BYTE* RxPut32(BYTE* p, DWORD v)
{
    return RxPut16(RxPut16(p, WORD(v)), WORD(v >> 16));
}

inline void RxAppend16(std::vector<BYTE>& out, WORD v)
{
    BYTE b[2];
    RxPut16(b, v);
    out.insert(out.end(), b, b + 2);
}

inline void RxAppend32(std::vector<BYTE>& out, DWORD v)
{
    RxAppend16(out, WORD(v));
    RxAppend16(out, WORD(v >> 16));
}

// The field of `pixel` under `mask` (one run of set bits) as an 8-bit channel. A wider field
// keeps its top 8 bits; a narrower one repeats its bits downward, so that its largest value
// is 255 (31 in 5 bits is white, not 248) and 0 stays 0.
inline BYTE RxChannel(DWORD pixel, DWORD mask)
{
    if (mask == 0)
        return 0;
    const int low = __builtin_ctz(mask), bits = 32 - __builtin_clz(mask) - low;
    const DWORD v = (pixel & mask) >> low;
    if (bits >= 8)
        return BYTE(v >> (bits - 8));
    DWORD wide = v << (8 - bits);
    for (int filled = bits; filled < 8; filled += bits)
        wide |= wide >> bits;
    return BYTE(wide);
}
