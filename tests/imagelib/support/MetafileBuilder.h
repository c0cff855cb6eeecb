// Small WMF and EMF files built record by record for the metafile tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace rxtest {

using MetaBytes = std::vector<uint8_t>;

inline void Put16(MetaBytes& b, int v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(MetaBytes& b, int64_t v)
{
    Put16(b, int(v & 0xFFFF));
    Put16(b, int((v >> 16) & 0xFFFF));
}

// Records of 16-bit parameters; bytes() adds the 18-byte header (and the placeable one).
struct WmfBuilder {
    MetaBytes records;
    int objects = 0;
    WmfBuilder& rec(int function, std::initializer_list<int> params)
    {
        Put32(records, 3 + int64_t(params.size()));
        Put16(records, function);
        for (int p : params)
            Put16(records, p);
        return *this;
    }
    MetaBytes bytes(bool placeable = true, int left = 0, int top = 0, int right = 1000, int bottom = 500,
                    int unitsPerInch = 1000) const
    {
        MetaBytes out;
        if (placeable) {
            MetaBytes h;
            Put32(h, 0x9AC6CDD7);
            for (int w : {0, left, top, right, bottom, unitsPerInch, 0, 0})
                Put16(h, w);
            int check = 0;
            for (size_t i = 0; i < h.size(); i += 2)
                check ^= h[i] | h[i + 1] << 8;
            Put16(h, check);
            out = h;
        }
        const int64_t words = 9 + int64_t(records.size()) / 2 + 3;
        for (int w : {1, 9, 0x300})
            Put16(out, w);
        Put32(out, words);
        Put16(out, objects);
        Put32(out, 16);
        Put16(out, 0);
        out.insert(out.end(), records.begin(), records.end());
        Put32(out, 3);
        Put16(out, 0);
        return out;
    }
};

// Records of 32-bit parameters after a 108-byte header; bytes() adds the end record.
struct EmfBuilder {
    MetaBytes records;
    int handles = 1;
    EmfBuilder& rec(int type, std::initializer_list<int64_t> params)
    {
        Put32(records, type);
        Put32(records, 8 + 4 * int64_t(params.size()));
        for (int64_t p : params)
            Put32(records, p);
        return *this;
    }
    MetaBytes bytes(int left, int top, int right, int bottom, const std::vector<uint32_t>& palette = {}) const
    {
        MetaBytes tail = records;
        Put32(tail, 14);
        Put32(tail, 20 + 4 * int64_t(palette.size()));
        Put32(tail, int64_t(palette.size()));
        Put32(tail, 16);
        for (uint32_t p : palette)
            Put32(tail, p);
        Put32(tail, 20 + 4 * int64_t(palette.size()));
        MetaBytes out;
        for (int64_t v : std::initializer_list<int64_t>{1, 108, left, top, right, bottom, 0, 0, 0, 0, 0x464D4520, 0x10000})
            Put32(out, v);
        Put32(out, 108 + int64_t(tail.size()));
        Put32(out, 2);
        Put16(out, handles);
        Put16(out, 0);
        for (int64_t v : std::initializer_list<int64_t>{0, 0, int64_t(palette.size()), 1024, 768, 320, 240, 0, 0, 0, 320000, 240000})
            Put32(out, v);
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    }
};

} // namespace rxtest
