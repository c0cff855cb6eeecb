// The application's source of region-of-interest masks for a tile being compressed.
#pragma once

#include "codec/core/rvd_dims.h"
#include "codec/encode/rvd_roi_node.h"

class rvd_roi_image {
public:
    rvd_roi_image() = default;
    rvd_roi_image(const rvd_roi_image&) = delete;
    rvd_roi_image& operator=(const rvd_roi_image&) = delete;
    virtual ~rvd_roi_image() = default;
    // A new mask node over `dims` (the component's highest resolution, canvas
    // coordinates) of codestream component `comp_idx`, or null when the component has
    // no mask. The engine the node is handed to owns it: it calls release() when done,
    // then deletes it.
    virtual rvd_roi_node* acquire_node(int comp_idx, rvd_dims dims) = 0;
};
