#include "imagelib/RxImageWBMP.h"

#include "imagelib/RxAllocation.h"

#include <vector>

namespace {

struct WbmpError {
    const char* text;
};

// A multi-byte integer of at most 4 bytes.
DWORD ReadInt(RxFile* f)
{
    DWORD value = 0;
    for (int i = 0; i < 4; ++i) {
        const long b = f->GetC();
        if (b < 0)
            throw WbmpError{"Not a WBMP"};
        value = (value << 7) | DWORD(b & 0x7F);
        if (!(b & 0x80))
            return value;
    }
    throw WbmpError{"Corrupted WBMP"};
}

void PutInt(std::vector<BYTE>& out, DWORD v)
{
    BYTE groups[5];
    int n = 0;
    do {
        groups[n++] = BYTE(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n-- > 0)
        out.push_back(BYTE(groups[n] | (n ? 0x80 : 0)));
}

} // namespace

bool RxImageWBMP::Decode(RxFile* f)
{
    if (!f)
        return false;
    try {
        BYTE head2[2];
        if (f->Read(head2, 1, 2) != 2)
            throw WbmpError{"Not a WBMP"};
        if (head2[0] != 0)
            throw WbmpError{"Unsupported WBMP type"};
        const DWORD width = ReadInt(f), height = ReadInt(f);
        if (width == 0 || height == 0)
            throw WbmpError{"Corrupted WBMP"};
        const size_t rowBytes = (size_t(width) + 7) / 8;
        // A header of a few bytes may declare gigabytes; a file that holds one row decodes.
        const long left = f->BytesLeft();
        if (left >= 0 && size_t(left) < rowBytes)
            throw WbmpError{"Corrupted WBMP: shorter than one row"};
        if (left >= 0 && !RxMayDecodeDeclared(uint64_t(rowBytes) * height, uint64_t(left)))
            throw WbmpError{"Corrupted WBMP: the file cannot hold the declared pixels"};
        if (!Create(width, height, 1, RXIMAGE_FORMAT_WBMP))
            throw WbmpError{"WBMP Create failed"};
        SetGrayPalette();
        for (DWORD r = 0; r < height; ++r)
            if (f->Read(GetBits(height - 1 - r), 1, rowBytes) != rowBytes)
                break; // what the file does not hold stays 0
        return true;
    } catch (const WbmpError& e) {
        SetLastError(e.text);
        Destroy();
        return false;
    }
}

bool RxImageWBMP::Encode(RxFile* f)
{
    if (CheckEncodeTarget(f))
        return false;
    if (GetBpp() != 1 || GetWidth() > 255 || GetHeight() > 255) {
        SetLastError("Can't save this image as WBMP");
        return false;
    }
    std::vector<BYTE> out{0, 0};
    PutInt(out, GetWidth());
    PutInt(out, GetHeight());
    const size_t rowBytes = (size_t(GetWidth()) + 7) / 8;
    for (DWORD r = GetHeight(); r-- > 0;)
        out.insert(out.end(), GetBits(r), GetBits(r) + rowBytes);
    if (f->Write(out.data(), 1, out.size()) != out.size()) {
        SetLastError("Write Error in WBMP file");
        return false;
    }
    return true;
}
