// A tile component's engine for lines given for compression: the forward transform when
// the component has levels, else the subband encoder itself. It lives with the engines it
// makes, so the multi-component code below the encoder does not depend on them.
#include "codec/coding/rv_multi_tile_source.h"

#include "codec/core/rvd_resolution.h"
#include "codec/encode/rvd_analysis.h"
#include "codec/encode/rvd_roi_image.h"

rvd_push_ifc rv_multi_tile_source::create_push_engine(int comp, rvd_sample_allocator* allocator,
                                                      bool use_shorts, rvd_roi_image* roi,
                                                      rvd_thread_env* env, rvd_thread_queue* queue)
{
    rvd_resolution res = component(comp).access_resolution();
    rvd_roi_node* node = nullptr;
    if (roi != nullptr) {
        rvd_dims dims;
        res.get_dims(dims);
        node = roi->acquire_node(comp, dims);
    }
    // Each engine owns the node from here, also when it fails.
    if (res.get_res_level() == 0)
        return rvd_push_ifc(rv_create_subband_encoder(res.access_subband(0), allocator, use_shorts,
                                                      1.0f, node, env, queue));
    rvd_analysis analysis(res, allocator, use_shorts, 1.0f, node, env, queue);
    return rvd_push_ifc(analysis.release());
}
