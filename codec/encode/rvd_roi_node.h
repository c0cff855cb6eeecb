// A source of region-of-interest mask rows for one tile-component or subband: one byte
// per sample, non-zero in the foreground.
#pragma once

#include <cstdint>

class rvd_roi_node {
public:
    rvd_roi_node() = default;
    rvd_roi_node(const rvd_roi_node&) = delete;
    rvd_roi_node& operator=(const rvd_roi_node&) = delete;
    virtual ~rvd_roi_node() = default;
    // The consumer needs no more rows. The engine that was handed the node calls this
    // exactly once and then deletes the node.
    virtual void release() {}
    // Fills `buf` with the next `width` mask bytes (rows from the top down).
    virtual void pull(std::uint8_t* buf, int width) = 0;
};
