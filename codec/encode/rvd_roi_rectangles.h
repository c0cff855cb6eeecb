// A mask source of rectangles: per codestream component, samples inside any of its
// rectangles (in the component's own sample coordinates, those of the dims handed to
// acquire_node) are foreground. Components without rectangles get no mask.
#pragma once

#include "codec/encode/rvd_roi_image.h"

#include <map>
#include <vector>

class rvd_roi_rectangles : public rvd_roi_image {
public:
    // Adds a foreground rectangle of component `comp_idx`; empty rectangles are ignored.
    void add_rectangle(int comp_idx, rvd_dims rect);
    rvd_roi_node* acquire_node(int comp_idx, rvd_dims dims) override;

private:
    std::map<int, std::vector<rvd_dims>> rects;
};
