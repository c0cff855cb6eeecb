// One lookup table: the modality LUT, a VOI LUT, the grey table or the colour table.
#pragma once

#include <cstdint>
#include <vector>

struct VoiLutEntry {
    // A 65536-entry table is legal (16-bit data), so that is the limit.
    static const int32_t kDefaultLimit = 65536;

    int32_t bitsPerEntry = 0;
    int32_t firstValueMapped = 0;
    int32_t entryCount = 0;
    std::vector<int32_t> data;
    int32_t limit = kDefaultLimit;

    bool HasData() const;
    // Entry for value s: index s - first value, held to the table's real data (below 0 the
    // first entry, past the end the last); 0 without data.
    int32_t Lookup(int64_t s) const;
    // Minimum and maximum of the data; both 0 without data.
    void GetRange(int32_t& minimum, int32_t& maximum) const;
    // Sets count and limit to n and the data to n zeros.
    void Resize(int32_t n);
};
