#include "imagelib/RxImageCodec.h"

#include "imagelib/RxImageBMP.h"
#include "imagelib/RxImageGIF.h"
#include "imagelib/RxImageICO.h"
#include "imagelib/RxImagePCX.h"
#include "imagelib/RxImageTGA.h"
#include "imagelib/RxImageWBMP.h"
#include "imagelib/RxImageWMF.h"
#include "imagelib/RxMemFile.h"

namespace {

template <class Codec> RxImage* CreateCodec()
{
    return new Codec;
}
template <class Codec> bool EncodeWith(RxImage& codec, RxFile* file)
{
    return static_cast<Codec&>(codec).Encode(file);
}
template <class Codec> bool DecodeWith(RxImage& codec, RxFile* file)
{
    return static_cast<Codec&>(codec).Decode(file);
}
template <class Codec> constexpr RxCodecEntry EntryOf()
{
    return RxCodecEntry{&CreateCodec<Codec>, &EncodeWith<Codec>, &DecodeWith<Codec>};
}

RxCodecEntry codecs[RXIMAGE_FORMATS] = {
    {},                   // 0: no format
    EntryOf<RxImageBMP>(), // 1
    EntryOf<RxImageGIF>(), // 2
    EntryOf<RxImageICO>(), // 3
    EntryOf<RxImageTGA>(), // 4
    EntryOf<RxImagePCX>(), // 5
    EntryOf<RxImageWBMP>(), // 6
    EntryOf<RxImageWMF>(), // 7
};

// The order in which type 0 probes the formats.
const DWORD probeOrder[] = {RXIMAGE_FORMAT_BMP, RXIMAGE_FORMAT_ICO, RXIMAGE_FORMAT_GIF, RXIMAGE_FORMAT_TGA,
                            RXIMAGE_FORMAT_PCX, RXIMAGE_FORMAT_WBMP, RXIMAGE_FORMAT_WMF};

bool Usable(const RxCodecEntry& e)
{
    return e.create && e.encode && e.decode;
}

} // namespace

RxCodecEntry RxCodecFor(DWORD type)
{
    return type >= 1 && type < RXIMAGE_FORMATS ? codecs[type] : RxCodecEntry{};
}

RxCodecEntry RxSwapCodecForTest(DWORD type, const RxCodecEntry& entry)
{
    if (type < 1 || type >= RXIMAGE_FORMATS)
        return RxCodecEntry{};
    const RxCodecEntry previous = codecs[type];
    codecs[type] = entry;
    return previous;
}

bool RxImage::Encode(RxFile* file, DWORD type)
{
    const RxCodecEntry entry = RxCodecFor(type);
    RxImage* codec = Usable(entry) ? entry.create() : nullptr;
    if (!codec) {
        SetLastError("Encode: Unknown format");
        return false;
    }
    codec->BorrowFrom(*this);
    const bool ok = entry.encode(*codec, file);
    if (!ok)
        SetLastError(codec->GetLastError());
    delete codec; // borrowing: frees nothing
    return ok;
}

bool RxImage::Decode(RxFile* file, DWORD type)
{
    if (type == RXIMAGE_FORMAT_UNKNOWN) {
        const long start = file ? file->Tell() : 0;
        for (DWORD t : probeOrder) {
            if (!Usable(RxCodecFor(t)))
                continue;
            if (Decode(file, t))
                return true;
            if (file)
                file->Seek(start, 0);
        }
        SetLastError("Decode: Unknown or wrong format");
        return false;
    }
    const RxCodecEntry entry = RxCodecFor(type);
    RxImage* codec = Usable(entry) ? entry.create() : nullptr;
    if (!codec) {
        SetLastError("Decode: Unknown or wrong format");
        return false;
    }
    codec->CopySettings(*this);
    codec->SetLastError(""); // a success leaves no failure of an earlier attempt behind
    bool ok = entry.decode(*codec, file);
    if (ok) {
        ok = TakeOver(*codec);
    } else {
        SetLastError(codec->GetLastError());
        if (type == RXIMAGE_FORMAT_GIF || type == RXIMAGE_FORMAT_ICO)
            info.nNumFrames = codec->GetNumFrames();
    }
    delete codec;
    return ok;
}

bool RxImage::Encode(BYTE*& buffer, long& size, DWORD type)
{
    if (buffer) {
        SetLastError("the buffer must be empty");
        return false;
    }
    RxMemFile file;
    if (!file.Open()) {
        SetLastError("Encode: can't allocate memory");
        return false;
    }
    if (!Encode(&file, type))
        return false; // the stream frees its memory
    size = file.Size();
    buffer = file.GetBuffer(true);
    return true;
}

bool RxImage::Decode(BYTE* buffer, DWORD size, DWORD type)
{
    RxMemFile file(buffer, size);
    return Decode(&file, type);
}
