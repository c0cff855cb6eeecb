#include "image/DisplayStateBlock.h"

#include <cstring>

namespace {

void PutI32(uint8_t* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(u >> (8 * i));
}

void PutF64(uint8_t* p, double v)
{
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetI32(const uint8_t* p)
{
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(u);
}

double GetF64(const uint8_t* p)
{
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u |= static_cast<uint64_t>(p[i]) << (8 * i);
    double v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

void PutViewRecord(uint8_t* p, const ImageViewRecord& r)
{
    PutI32(p, r.notMirrored);
    PutI32(p + 4, r.quarterTurns);
    for (int i = 0; i < 4; ++i)
        PutF64(p + 8 + 8 * i, r.values[i]);
    for (int i = 0; i < 6; ++i)
        PutI32(p + 40 + 4 * i, r.words[i]);
}

void GetViewRecord(const uint8_t* p, ImageViewRecord& r)
{
    r.notMirrored = GetI32(p);
    r.quarterTurns = GetI32(p + 4);
    for (int i = 0; i < 4; ++i)
        r.values[i] = GetF64(p + 8 + 8 * i);
    for (int i = 0; i < 6; ++i)
        r.words[i] = GetI32(p + 40 + 4 * i);
}

} // namespace

size_t DisplayStateBlock::Write(uint8_t* dst, size_t room) const
{
    const size_t n = entries.size();
    const size_t needed = kHeaderBytes + kEntryBytes * n + kViewRecordBytes;
    if (!dst)
        return needed;
    // Each header field is written only when the room reaches its end.
    struct Word {
        size_t end;
        int32_t value;
    };
    const Word words[] = {{4, inverted}, {8, writtenMarker}, {12, spareWord}, {32, carriedWords[0]},
                          {36, carriedWords[1]}, {40, carriedWords[2]}, {44, static_cast<int32_t>(n)}};
    for (const Word& w : words)
        if (room >= w.end)
            PutI32(dst + w.end - 4, w.value);
    if (room >= 20)
        PutF64(dst + 12, secondValue);
    if (room >= 28)
        PutF64(dst + 20, firstValue);
    size_t at = kHeaderBytes;
    for (const auto& e : entries) {
        if (room >= at + kEntryBytes)
            std::memcpy(dst + at, e.data(), kEntryBytes);
        at += kEntryBytes;
    }
    if (room >= at + kViewRecordBytes)
        PutViewRecord(dst + at, viewRecord);
    return needed;
}

size_t DisplayStateBlock::Read(const uint8_t* src, size_t length)
{
    if (!src || length < kHeaderBytes + kViewRecordBytes)
        return 0;
    const int32_t count = GetI32(src + 40);
    if (count < 0 || static_cast<size_t>(count) > (length - kHeaderBytes - kViewRecordBytes) / kEntryBytes)
        return 0;
    inverted = GetI32(src);
    writtenMarker = GetI32(src + 4);
    spareWord = GetI32(src + 8);
    secondValue = GetF64(src + 12);
    firstValue = GetF64(src + 20);
    for (int i = 0; i < 3; ++i)
        carriedWords[i] = GetI32(src + 28 + 4 * i);
    entries.assign(static_cast<size_t>(count), {});
    size_t at = kHeaderBytes;
    for (auto& e : entries) {
        std::memcpy(e.data(), src + at, kEntryBytes);
        at += kEntryBytes;
    }
    GetViewRecord(src + at, viewRecord);
    return at + kViewRecordBytes;
}

void OrientationFromBlock(const DisplayStateBlock& block, bool& horizontalFlip, bool& verticalFlip, int& rotation)
{
    const bool mirrored = block.viewRecord.notMirrored == 0;
    rotation = block.viewRecord.quarterTurns;
    horizontalFlip = verticalFlip = false;
    const int q = ((rotation % 4) + 4) % 4;
    if (q % 2 == 0)
        horizontalFlip = mirrored;
    else
        verticalFlip = mirrored;
}
