// The forward wavelet transform of one decomposition node: a tree of analysis engines
// mirroring the node tree, with subband encoders at the leaves, taking the node's lines
// from the top row down.
#pragma once

#include "codec/coding/rvd_push_ifc.h"
#include "codec/core/rvd_node.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/encode/rvd_roi_node.h"

#include <functional>

// Builds the engine that codes one leaf band. `roi` (may be null) passes to the new
// engine, which owns it from then on, also when it throws.
typedef std::function<rvd_push_ifc_base*(rvd_subband band, rvd_sample_allocator* allocator,
                                         bool use_shorts, float normalization,
                                         rvd_roi_node* roi, rvd_thread_env* env,
                                         rvd_thread_queue* env_queue)>
    rv_band_encoder_maker;

// The subband encoder of a leaf band; defined with the subband encoder.
rvd_push_ifc_base* rv_create_subband_encoder(rvd_subband band, rvd_sample_allocator* allocator,
                                             bool use_shorts, float normalization,
                                             rvd_roi_node* roi, rvd_thread_env* env,
                                             rvd_thread_queue* env_queue);

class rvd_analysis : public rvd_push_ifc {
public:
    rvd_analysis() = default;
    // Builds the engines of the node and everything below it, reserving their lines in
    // `allocator` (which must still be pre-creating; their storage is taken at the first
    // push, after the owner finalised it). Lines are 16-bit fixed point with
    // `use_shorts`, else 32-bit. `roi` (may be null) becomes the engine's: it is split
    // level by level for the band encoders, or released at once when the resolution
    // needs no masks below it. Leaf bands get rv_create_subband_encoder unless
    // `make_band` is given.
    rvd_analysis(rvd_node node, rvd_sample_allocator* allocator, bool use_shorts,
                 float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                 rvd_thread_queue* env_queue, const rv_band_encoder_maker& make_band = {});
    // The resolution's node.
    rvd_analysis(rvd_resolution resolution, rvd_sample_allocator* allocator, bool use_shorts,
                 float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                 rvd_thread_queue* env_queue, const rv_band_encoder_maker& make_band = {});
};
