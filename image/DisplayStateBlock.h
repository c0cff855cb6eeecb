// An image's display state as it leaves the image: window or colour values, inversion and
// the view record. This is the in-memory part; the byte form is written elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// 64 bytes in the byte form: not-mirrored flag, quarter turns, four reals, six words.
struct ImageViewRecord {
    int32_t notMirrored = 1;
    int32_t quarterTurns = 0;
    double values[4] = {1.0, 1.0, 1.0, 1.0};
    int32_t words[6] = {0, 0, 0, 0, 1, 1};
};

struct DisplayStateBlock {
    int32_t writtenMarker = 0;
    int32_t spareWord = 0;
    int32_t inverted = 0;
    double firstValue = 0.0;  // window width (grey) or brightness (colour)
    double secondValue = 0.0; // window centre (grey) or contrast (colour)
    int32_t kindWord = 1;
    std::string name;
    int32_t carriedWords[3] = {-1, -1, -1};
    int32_t spare = 0;
    ImageViewRecord viewRecord;
    std::vector<std::array<uint8_t, 24>> entries;

    void Reset() { *this = DisplayStateBlock(); }
};
