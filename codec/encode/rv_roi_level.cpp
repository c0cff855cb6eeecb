#include "codec/encode/rv_roi_level.h"

#include "codec/coding/rv_lifting_step.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cstring>

namespace {

// Samples of the band of parity `high` among columns x0 .. x0 + width - 1.
int band_width(int x0, int width, int high)
{
    const int p = (x0 + high) & 1;
    return std::max(0, ((width - p - 1) >> 1) + 1);
}

} // namespace

rv_roi_shape rv_roi_shape_of(rvd_node node)
{
    rv_roi_shape s;
    node.get_dims(s.region);
    for (int c = 0; c < 4; c++)
        s.child_exists[c] = node.access_child(c).exists();
    s.hor_split = s.child_exists[1];
    s.vert_split = s.child_exists[2];
    for (int v = 0; v < 2; v++) {
        int num_steps = 0, lmin = 0, lmax = 0, hmin = 0, hmax = 0;
        float low_scale = 1.0f, high_scale = 1.0f;
        bool symmetric = true, symmetric_extension = true;
        node.get_kernel_info(num_steps, low_scale, high_scale, symmetric, symmetric_extension,
                             lmin, lmax, hmin, hmax, v != 0);
        int* mins = v ? s.vert_min : s.hor_min;
        int* maxs = v ? s.vert_max : s.hor_max;
        mins[0] = lmin;
        maxs[0] = lmax;
        mins[1] = hmin;
        maxs[1] = hmax;
        s.symmetric_extension = symmetric_extension;
    }
    return s;
}

// rv_roi_level_node ------------------------------------------------------------------------

rv_roi_level_node::rv_roi_level_node(rv_roi_level* level, int band_idx, int width)
    : level(level), band_idx(band_idx), width(width)
{
}

rv_roi_level_node::~rv_roi_level_node()
{
    if (level != nullptr)
        level->child_done(this, true);
}

void rv_roi_level_node::release()
{
    if (level != nullptr)
        level->child_done(this, false);
}

void rv_roi_level_node::queue_row(const std::uint8_t* row)
{
    if (count == int(rows.size())) {
        // Full: grow by two rows, keeping the queued rows in order.
        std::vector<std::vector<std::uint8_t>> grown(rows.size() + 2);
        for (int k = 0; k < count; k++)
            grown[size_t(k)].swap(rows[size_t((first + k) % int(rows.size()))]);
        rows.swap(grown);
        first = 0;
        for (std::vector<std::uint8_t>& r : rows)
            r.resize(size_t(width));
    }
    std::vector<std::uint8_t>& slot = rows[size_t((first + count) % int(rows.size()))];
    if (width > 0)
        std::memcpy(slot.data(), row, size_t(width));
    count++;
}

void rv_roi_level_node::pull(std::uint8_t* buf, int width)
{
    if (!active || level == nullptr)
        rv_raise_core_error("Mask rows pulled from a region-of-interest node that was "
                            "released.");
    while (count == 0)
        level->advance();
    const int n = std::max(0, std::min(width, this->width));
    if (n > 0)
        std::memcpy(buf, rows[size_t(first)].data(), size_t(n));
    if (width > n)
        std::memset(buf + n, 0, size_t(width - n));
    first = (first + 1) % int(rows.size());
    count--;
}

// rv_roi_level ------------------------------------------------------------------------------

void rv_roi_level::init(rvd_node node, rvd_roi_node* source)
{
    init(rv_roi_shape_of(node), source);
}

void rv_roi_level::init(const rv_roi_shape& s, rvd_roi_node* src)
{
    release_all();
    shape = s;
    source = src;
    num_done = 0;
    const rvd_dims& r = shape.region;
    const int w = std::max(0, r.size.x);
    for (int c = 0; c < 4; c++) {
        handed_out[c] = false;
        if (!shape.child_exists[c]) {
            num_done++; // a missing band counts as released from the start
            continue;
        }
        const int bw = shape.hor_split ? band_width(r.pos.x, w, c & 1) : w;
        children[c] = new rv_roi_level_node(this, c, bw);
    }
    reach = 0;
    if (shape.vert_split)
        for (int b = 0; b < 2; b++)
            reach = std::max({reach, std::abs(shape.vert_min[b]), std::abs(shape.vert_max[b])});
    window.assign(size_t(2 * reach + 1), std::vector<std::uint8_t>(size_t(w), 0));
    work.assign(size_t(w), 0);
    band_row.assign(size_t(w), 0);
    next_source = next_out = r.pos.y;
    if (num_done == 4)
        release_source();
}

rvd_roi_node* rv_roi_level::get_child(int band_idx)
{
    if (band_idx < 0 || band_idx > 3 || children[band_idx] == nullptr || handed_out[band_idx])
        return nullptr;
    handed_out[band_idx] = true;
    return children[band_idx];
}

void rv_roi_level::child_done(rv_roi_level_node* child, bool detach)
{
    if (!child->released) {
        child->released = true;
        child->active = false;
        num_done++;
    }
    if (detach) {
        children[child->band_idx] = nullptr;
        child->level = nullptr;
    }
    if (num_done == 4)
        release_source();
}

void rv_roi_level::release_source()
{
    if (source == nullptr)
        return;
    rvd_roi_node* s = source;
    source = nullptr;
    s->release();
    delete s;
}

void rv_roi_level::release_all()
{
    for (int c = 0; c < 4; c++) {
        rv_roi_level_node* child = children[c];
        children[c] = nullptr;
        if (child == nullptr)
            continue;
        child->level = nullptr;
        if (!handed_out[c])
            delete child;
    }
    window.clear();
    work.clear();
    band_row.clear();
    release_source();
}

const std::uint8_t* rv_roi_level::window_row(int y) const
{
    return window[size_t((y - shape.region.pos.y) % int(window.size()))].data();
}

void rv_roi_level::advance()
{
    const rvd_dims& r = shape.region;
    const int y0 = r.pos.y, y1 = r.pos.y + r.size.y - 1;
    const int x0 = r.pos.x, x1 = r.pos.x + r.size.x - 1;
    const int w = std::max(0, r.size.x);
    if (source == nullptr || next_out > y1)
        rv_raise_core_error("More region-of-interest mask rows were asked for than the "
                            "node has.");
    const int y = next_out;
    const int b = shape.vert_split ? (y & 1) : 0;
    const int lo = shape.vert_split ? shape.vert_min[b] : 0;
    const int hi = shape.vert_split ? shape.vert_max[b] : 0;
    const bool sym = shape.symmetric_extension;
    int last_needed = y;
    for (int x = y + lo; x <= y + hi; x++)
        last_needed = std::max(last_needed, rv_extend_index(x, y0, y1, sym));
    for (; next_source <= last_needed; next_source++)
        source->pull(window[size_t((next_source - y0) % int(window.size()))].data(), w);
    std::fill(work.begin(), work.end(), std::uint8_t(0));
    for (int x = y + lo; x <= y + hi; x++) {
        const std::uint8_t* src = window_row(rv_extend_index(x, y0, y1, sym));
        for (int k = 0; k < w; k++)
            work[size_t(k)] |= src[k];
    }
    for (int h = 0; h < 2; h++) {
        rv_roi_level_node* child = children[2 * b + h];
        if (child == nullptr || !child->active)
            continue;
        if (!shape.hor_split) {
            child->queue_row(work.data());
            continue;
        }
        const int p = (x0 + h) & 1;
        for (int k = 0; k < child->width; k++) {
            const int centre = x0 + 2 * k + p;
            std::uint8_t v = 0;
            for (int x = centre + shape.hor_min[h]; x <= centre + shape.hor_max[h]; x++)
                v |= work[size_t(rv_extend_index(x, x0, x1, sym) - x0)];
            band_row[size_t(k)] = v;
        }
        child->queue_row(band_row.data());
    }
    next_out++;
}
