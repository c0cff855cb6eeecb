#include "codec/encode/rvd_roi_rectangles.h"

#include <algorithm>
#include <cstring>

namespace {

class rect_node : public rvd_roi_node {
public:
    rect_node(rvd_dims dims, std::vector<rvd_dims> rects) : dims(dims), rects(std::move(rects))
    {
        next = dims.pos.y;
    }
    void pull(std::uint8_t* buf, int width) override
    {
        std::memset(buf, 0, size_t(std::max(0, width)));
        const int x0 = dims.pos.x;
        for (const rvd_dims& r : rects) {
            if (next < r.pos.y || next >= r.pos.y + r.size.y)
                continue;
            const int a = std::max(0, r.pos.x - x0);
            const int b = std::min(width, r.pos.x + r.size.x - x0);
            if (a < b)
                std::memset(buf + a, 1, size_t(b - a));
        }
        next++;
    }

private:
    rvd_dims dims;
    std::vector<rvd_dims> rects;
    int next;
};

} // namespace

void rvd_roi_rectangles::add_rectangle(int comp_idx, rvd_dims rect)
{
    if (!rect.is_empty())
        rects[comp_idx].push_back(rect);
}

rvd_roi_node* rvd_roi_rectangles::acquire_node(int comp_idx, rvd_dims dims)
{
    auto it = rects.find(comp_idx);
    if (it == rects.end())
        return nullptr;
    return new rect_node(dims, it->second);
}
