// The region-of-interest mask splitter of one wavelet level: it reads the mask rows of a
// node's region from a source node and derives one mask node per child band. A band
// sample is foreground when any source sample within the reach of its synthesis filter
// (the support bounds of rvd_node::get_kernel_info, brought inside the region as the
// kernel's extension does) is foreground, so that the foreground of every band holds all
// the coefficients the foreground samples are rebuilt from.
#pragma once

#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_node.h"
#include "codec/encode/rvd_roi_node.h"

#include <cstdint>
#include <vector>

struct rv_roi_shape {
    rvd_dims region;
    bool vert_split = false, hor_split = false;
    bool child_exists[4] = {false, false, false, false};
    bool symmetric_extension = true;
    // Reach of the low (0) and high (1) band filters around a band sample's centre.
    int vert_min[2] = {0, 0}, vert_max[2] = {0, 0};
    int hor_min[2] = {0, 0}, hor_max[2] = {0, 0};
};

rv_roi_shape rv_roi_shape_of(rvd_node node);

class rv_roi_level;

class rv_roi_level_node : public rvd_roi_node {
public:
    rv_roi_level_node(rv_roi_level* level, int band_idx, int width);
    // A node deleted by its consumer leaves the level, which counts it as released.
    ~rv_roi_level_node() override;
    void release() override;
    void pull(std::uint8_t* buf, int width) override;

private:
    friend class rv_roi_level;
    void queue_row(const std::uint8_t* row);

    rv_roi_level* level;
    int band_idx;
    bool active = true, released = false;
    int width;
    std::vector<std::vector<std::uint8_t>> rows; // circular queue of finished rows
    int first = 0, count = 0;
};

class rv_roi_level {
public:
    rv_roi_level() = default;
    rv_roi_level(const rv_roi_level&) = delete;
    rv_roi_level& operator=(const rv_roi_level&) = delete;
    ~rv_roi_level() { release_all(); }

    // Takes ownership of `source` (released when every child is done, then deleted).
    void init(rvd_node node, rvd_roi_node* source);
    void init(const rv_roi_shape& shape, rvd_roi_node* source);
    // Child `band_idx` (0-3) to hand to a band's engine, which then owns it; null when
    // the node has no such band or it was handed out already.
    rvd_roi_node* get_child(int band_idx);
    // Produces the next row of the node's region for the bands of its row parity.
    void advance();
    void release_all();
    bool source_released() const { return source == nullptr; }

private:
    friend class rv_roi_level_node;
    void child_done(rv_roi_level_node* child, bool detach);
    void release_source();
    const std::uint8_t* window_row(int y) const;

    rv_roi_shape shape;
    rvd_roi_node* source = nullptr;
    rv_roi_level_node* children[4] = {nullptr, nullptr, nullptr, nullptr};
    bool handed_out[4] = {false, false, false, false};
    int num_done = 0;
    int reach = 0; // largest vertical reach: the window holds 2 reach + 1 rows
    std::vector<std::vector<std::uint8_t>> window;
    std::vector<std::uint8_t> work, band_row;
    int next_source = 0; // next source row to pull (absolute)
    int next_out = 0;    // next row of the region to produce (absolute)
};
