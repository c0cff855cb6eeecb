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
