// An image's display state as it leaves the image: window or colour values, inversion and
// the view record, in memory and in its little-endian byte form (after the 4-byte magic).
#pragma once

#include <array>
#include <cstddef>
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

    // Bytes of the header after the magic, and of the view record.
    static const size_t kHeaderBytes = 44;
    static const size_t kViewRecordBytes = 64;
    static const size_t kEntryBytes = 24;

    void Reset() { *this = DisplayStateBlock(); }
    // Writes what fits in room bytes (each field only when it fits whole); returns the
    // bytes the whole block needs, 108 + 24n.
    size_t Write(uint8_t* dst, size_t room) const;
    // Reads a block of length bytes; returns the bytes consumed, 108 + 24n, or 0 (block
    // unchanged) when the bytes are too few for the entry count they give.
    size_t Read(const uint8_t* src, size_t length);
};

// Flip flags and rotation that a block's view record stands for; the rotation is the word
// as stored.
void OrientationFromBlock(const DisplayStateBlock& block, bool& horizontalFlip, bool& verticalFlip, int& rotation);
