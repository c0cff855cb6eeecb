// Integer geometry of band splits and coding partitions (code-blocks, precincts).
#pragma once

#include "codec/core/rvd_dims.h"

// Region of the child band after one split. A branch of 0 (low-pass) or 1 (high-pass)
// splits that direction, 2 leaves it alone. The offsets are the low-pass lower/upper and
// high-pass lower/upper offsets of the decomposition; all 0 for the plain rule.
rvd_dims rv_get_child_dims(const rvd_dims& parent, int branch_x, int branch_y,
                           int low_lower = 0, int low_upper = 0, int high_lower = 0,
                           int high_upper = 0);

// Cell indices of a partition (origin in pos, cell size in size) that meet a region:
// pos is the first index, size the count, in each direction.
rvd_dims rv_get_partition_indices(const rvd_dims& partition, const rvd_dims& region);

bool rv_is_power_of_2(int val);

// Raises the codec error for an origin other than 0 or 1 or a size not a power of 2.
void rv_check_coding_partition(int origin_y, int origin_x, int size_y, int size_x);

// Signed difference of two packet sequence numbers of which only the low 16 bits count:
// the low 16 bits of a - b read as a value in -32768..32767.
int rv_sequence_difference(int a, int b);
