// Stands in for the subband encoder until it joins the library (its file defines
// rv_create_subband_encoder and replaces this one).
#include "codec/encode/rvd_analysis.h"

#include "codec/core/rvd_params.h"

rvd_push_ifc_base* rv_create_subband_encoder(rvd_subband, rvd_sample_allocator*, bool, float,
                                             rvd_roi_node* roi, rvd_thread_env*,
                                             rvd_thread_queue*)
{
    if (roi != nullptr) {
        roi->release();
        delete roi;
    }
    rv_raise_core_error("No subband encoder is available in this build.");
}
