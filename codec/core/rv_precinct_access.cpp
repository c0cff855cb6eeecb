// Code-block and precinct access through the tile-tree handles.
#include "codec/core/rvd_precinct.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"

rvd_block* rvd_subband::open_block(rvd_coords, int*, rvd_thread_env*) const
{
    rv_raise_core_error("Code-block access is not available yet.");
}

void rvd_subband::close_block(rvd_block*, rvd_thread_env*) const {}

rvd_precinct rvd_resolution::open_precinct(rvd_coords) const
{
    rv_raise_core_error("Calls to `rvd_resolution::open_precinct' are permitted only with "
                        "interchange codestream objects (i.e., those which have neither a "
                        "compressed data source nor a compressed data target).");
}

int rvd_resolution::get_precinct_packets(rvd_coords, bool) const { return 0; }

int64_t rvd_precinct::get_unique_id() const { return 0; }
bool rvd_precinct::check_loaded() const { return true; }
bool rvd_precinct::get_valid_blocks(int, rvd_dims&) const { return false; }
rvd_block* rvd_precinct::open_block(int, rvd_coords, rvd_thread_env*) { return nullptr; }
void rvd_precinct::close_block(rvd_block*, rvd_thread_env*) {}
void rvd_precinct::close() { state = nullptr; }
