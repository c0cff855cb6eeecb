#include "codec/core/rv_partition_geometry.h"

#include "codec/core/rvd_message.h"

namespace {

void split_range(int32_t& pos, int32_t& size, int branch, int lower, int upper)
{
    int64_t a = pos, b = int64_t(pos) + size;
    int64_t c0 = (a - lower - branch + 1) >> 1;
    int64_t c1 = (b - upper - branch + 1) >> 1;
    pos = int32_t(c0);
    size = int32_t(c1 > c0 ? c1 - c0 : 0);
}

void cell_range(int32_t origin, int32_t cell, int32_t pos, int32_t size, int32_t& first,
                int32_t& count)
{
    int64_t a = int64_t(pos) - origin;
    first = int32_t(rvd_floor_ratio64(a, cell));
    if (size <= 0) {
        count = 0;
        return;
    }
    int64_t last1 = rvd_ceil_ratio64(a + size, cell);
    count = int32_t(last1 - first);
}

} // namespace

rvd_dims rv_get_child_dims(const rvd_dims& parent, int branch_x, int branch_y, int low_lower,
                           int low_upper, int high_lower, int high_upper)
{
    rvd_dims r = parent;
    if (branch_y < 2)
        split_range(r.pos.y, r.size.y, branch_y, branch_y ? high_lower : low_lower,
                    branch_y ? high_upper : low_upper);
    if (branch_x < 2)
        split_range(r.pos.x, r.size.x, branch_x, branch_x ? high_lower : low_lower,
                    branch_x ? high_upper : low_upper);
    return r;
}

rvd_dims rv_get_partition_indices(const rvd_dims& partition, const rvd_dims& region)
{
    rvd_dims r;
    cell_range(partition.pos.y, partition.size.y, region.pos.y, region.size.y, r.pos.y,
               r.size.y);
    cell_range(partition.pos.x, partition.size.x, region.pos.x, region.size.x, r.pos.x,
               r.size.x);
    return r;
}

bool rv_is_power_of_2(int val)
{
    return val > 0 && (val & (val - 1)) == 0;
}

void rv_check_coding_partition(int origin_y, int origin_x, int size_y, int size_x)
{
    if ((origin_y != 0 && origin_y != 1) || (origin_x != 0 && origin_x != 1)) {
        rvd_error e("Ravade Core Error:\n");
        e << "Coding partitions (code-blocks and precinct partitions) must have origin "
             "coordinates equal to 1 or 0 only!";
    }
    if (!rv_is_power_of_2(size_y) || !rv_is_power_of_2(size_x)) {
        rvd_error e("Ravade Core Error:\n");
        e << "Coding partitions (namely, code-blocks and precinct partitions) must have "
             "exact power-of-2 dimensions!";
    }
}

int rv_sequence_difference(int a, int b)
{
    uint32_t d = (uint32_t(a) - uint32_t(b)) & 0xFFFF;
    return d >= 0x8000 ? int(d) - 0x10000 : int(d);
}
