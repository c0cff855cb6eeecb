// The decomposition tree of one resolution level: inner nodes and subbands from the
// level's `Cdecomp` value, with the lifting gains each inner node needs.
#pragma once

#include <vector>

class rv_node;
class rv_resolution;
class rv_subband;
class rvd_kernels;

// Builds the nodes and subbands of resolution `res` (above level 0) below its own node,
// whose region must be set, from the level's decomposition code. `ll_child` is the
// next lower level's node. `kernels` gives the gains; `hor_levels` and `vert_levels`
// count the low-pass splits of the levels above. Bands get their regions, branches,
// descriptors, indices and transposition partners; `res.subbands` is sized here.
void rv_build_node_tree(rv_resolution& res, int decomp, rv_node* ll_child, rvd_kernels& kernels,
                        int hor_levels, int vert_levels);

// Bounded-input bounded-output gains of one direction of a split: entry 0 the gain of the
// split's input samples, entry k + 1 that of lifting step k's output, all relative to
// the tile-component's samples with each completed split's bands normalised. `levels`
// low-pass splits precede those of `extras` (true: high-pass), the first split first.
void rv_direction_bibo_gains(rvd_kernels& kernels, int levels, const std::vector<bool>& extras,
                             std::vector<double>& gains);

// Energy gain of a band's synthesis path: the product over both directions of the
// kernel's gain for the low-pass splits above the level followed by the band's own.
double rv_band_energy_gain(rvd_kernels& kernels, const rv_subband& band);
