// Conversion of view or magnifier samples into 32-bit display pixels through the grey or
// colour table, rows written bottom-up as device-independent bitmaps hold them. Shared by
// the cell and the magnifier, so both show a sample alike.
#pragma once

#include "image/VoiLutEntry.h"
#include "platform/WinTypes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace image_display {

struct SampleFormat {
    bool grey;
    bool isSigned; // 16-bit signed samples, looked up at sample + half range
    int bytes;     // 1, 2 or 4 per sample
    int halfRange;
};

// Entries that may be looked up: the count, held to the data.
inline int TableSize(const VoiLutEntry& t)
{
    return static_cast<int>(std::min<size_t>(t.data.size(), static_cast<size_t>(std::max(t.entryCount, 0))));
}

// Rows area.top..bottom-1 and columns area.left..right-1 of samples (stride in samples per
// row) become pixels of bits (rows x rowBytes, bottom-up); 0x00GGGGGG for grey.
template <typename T>
void GreyToDisplay(const uint8_t* samples, size_t stride, const RECT& area, int offset, const VoiLutEntry& table,
                   uint8_t* bits, size_t rowBytes, int rows)
{
    const int n = TableSize(table);
    const int32_t* t = table.data.data();
    if (n < 1)
        return;
    // When every sample lands inside the table, as with a full-range table, no clamp is needed.
    const bool inside = static_cast<int64_t>(std::numeric_limits<T>::min()) + offset >= 0 &&
                        static_cast<int64_t>(std::numeric_limits<T>::max()) + offset <= n - 1;
    for (int y = area.top; y < area.bottom; ++y) {
        const uint8_t* in = samples + static_cast<size_t>(y) * stride * sizeof(T);
        uint8_t* out = bits + static_cast<size_t>(rows - 1 - y) * rowBytes;
        if (inside) {
            const int32_t* to = t + offset;
            for (int x = area.left; x < area.right; ++x) {
                T s;
                std::memcpy(&s, in + static_cast<size_t>(x) * sizeof(T), sizeof(T));
                const uint32_t g = static_cast<uint32_t>(to[s]) & 0xFF;
                const uint32_t pixel = g * 0x010101u;
                std::memcpy(out + static_cast<size_t>(x) * 4, &pixel, 4);
            }
            continue;
        }
        for (int x = area.left; x < area.right; ++x) {
            T s;
            std::memcpy(&s, in + static_cast<size_t>(x) * sizeof(T), sizeof(T));
            const uint32_t g = static_cast<uint32_t>(t[std::min(std::max(static_cast<int>(s) + offset, 0), n - 1)]) & 0xFF;
            const uint32_t pixel = g | g << 8 | g << 16;
            std::memcpy(out + static_cast<size_t>(x) * 4, &pixel, 4);
        }
    }
}

// Colour samples (4 bytes): each of the first three bytes through the table into the same
// byte of the pixel; the fourth byte is 0.
inline void ColourToDisplay(const uint8_t* samples, size_t stride, const RECT& area, const VoiLutEntry& table,
                            uint8_t* bits, size_t rowBytes, int rows)
{
    const int n = TableSize(table);
    const int32_t* t = table.data.data();
    if (n < 1)
        return;
    for (int y = area.top; y < area.bottom; ++y) {
        const uint8_t* in = samples + static_cast<size_t>(y) * stride * 4;
        uint8_t* out = bits + static_cast<size_t>(rows - 1 - y) * rowBytes;
        if (n >= 256) {
            // Every byte indexes the table: a whole pixel is built and stored at once.
            for (int x = area.left; x < area.right; ++x) {
                const uint8_t* s = in + static_cast<size_t>(x) * 4;
                const uint32_t pixel = (static_cast<uint32_t>(t[s[0]]) & 0xFF) |
                                       (static_cast<uint32_t>(t[s[1]]) & 0xFF) << 8 |
                                       (static_cast<uint32_t>(t[s[2]]) & 0xFF) << 16;
                std::memcpy(out + static_cast<size_t>(x) * 4, &pixel, 4);
            }
            continue;
        }
        for (int x = area.left; x < area.right; ++x) {
            const uint8_t* s = in + static_cast<size_t>(x) * 4;
            uint8_t* p = out + static_cast<size_t>(x) * 4;
            for (int k = 0; k < 3; ++k)
                p[k] = static_cast<uint8_t>(t[std::min<int>(s[k], n - 1)]);
            p[3] = 0;
        }
    }
}

inline void SamplesToDisplay(const SampleFormat& f, const uint8_t* samples, size_t stride, const RECT& area,
                             const VoiLutEntry& grey, const VoiLutEntry& colour, uint8_t* bits, size_t rowBytes,
                             int rows)
{
    if (!f.grey)
        ColourToDisplay(samples, stride, area, colour, bits, rowBytes, rows);
    else if (f.isSigned)
        GreyToDisplay<int16_t>(samples, stride, area, f.halfRange, grey, bits, rowBytes, rows);
    else if (f.bytes == 2)
        GreyToDisplay<uint16_t>(samples, stride, area, 0, grey, bits, rowBytes, rows);
    else
        GreyToDisplay<uint8_t>(samples, stride, area, 0, grey, bits, rowBytes, rows);
}

} // namespace image_display
