#pragma once
// One lookup table read from the PSSI document (a modality LUT or one VOI LUT item).

#include <cstdint>
#include <vector>

struct VoiLutEntry {
    int32_t bitsPerEntry = 0;
    int32_t firstValueMapped = 0;
    int32_t entryCount = 0;
    std::vector<int32_t> data;
    int32_t limit = 65536;
};
