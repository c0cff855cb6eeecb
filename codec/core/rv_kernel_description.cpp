#include "codec/core/rv_kernel_description.h"

#include "codec/core/rvd_params.h"

#include <memory>
#include <vector>

namespace {
const float w9x7_taps[4] = {-1.5861343f, -0.052980117f, 0.8829111f, 0.44350687f};
}

void rv_create_kernel_description(int kernel_id, int atk_instance, rvd_params* root, int tile_idx,
                                  bool& is_reversible, bool& is_symmetric,
                                  bool& is_symmetric_extension, int& num_steps,
                                  rvd_kernel_step_info*& steps, float*& coefficients)
{
    is_reversible = is_symmetric = is_symmetric_extension = false;
    num_steps = 0;
    steps = nullptr;
    coefficients = nullptr;
    if (kernel_id != -1) {
        is_symmetric = is_symmetric_extension = true;
        is_reversible = (kernel_id == 1);
        if (kernel_id != 0 && kernel_id != 1)
            return;
        int n = (kernel_id == 1) ? 2 : 4;
        std::unique_ptr<rvd_kernel_step_info[]> s(new rvd_kernel_step_info[n]);
        std::unique_ptr<float[]> c(new float[2 * n]);
        for (int k = 0; k < n; k++) {
            s[k].support_length = 2;
            s[k].support_min = -(((k % 2) + 1) >> 1);
            float tap = (kernel_id == 1) ? ((k == 0) ? -0.5f : 0.25f) : w9x7_taps[k];
            c[2 * k] = c[2 * k + 1] = tap;
            if (kernel_id == 1) {
                s[k].downshift = (k == 0) ? 1 : 2;
                s[k].rounding_offset = (k == 0) ? 1 : 2;
            }
        }
        num_steps = n;
        steps = s.release();
        coefficients = c.release();
        return;
    }

    rvd_params* atk = (root != nullptr) ? root->access_cluster("ATK") : nullptr;
    rvd_params* obj = (atk != nullptr) ? atk->access_relation(tile_idx, -1, atk_instance, true)
                                       : nullptr;
    if (obj == nullptr)
        rv_raise_core_error("Unable to find ATK marker segment referenced from within an COD/COC "
                            "or MCC marker segment.");
    int ext = 0;
    if (obj->get("Ksymmetric", 0, 0, is_symmetric) && obj->get("Kextension", 0, 0, ext)) {
        obj->get("Kreversible", 0, 0, is_reversible);
        is_symmetric_extension = (ext == 1);
    }
    int n = 0, total = 0, length = 0;
    while (obj->get("Ksteps", n, 0, length, true, false)) {
        if (length < 0)
            length = 0; // a negative tap count takes no coefficients
        total += length;
        n++;
    }
    if (n == 0)
        return;
    std::unique_ptr<rvd_kernel_step_info[]> s(new rvd_kernel_step_info[n]);
    std::unique_ptr<float[]> c(new float[total > 0 ? total : 1]());
    int next = 0;
    for (int k = 0; k < n; k++) {
        rvd_kernel_step_info& st = s[k];
        if (obj->get("Ksteps", k, 0, st.support_length, true, false) &&
            obj->get("Ksteps", k, 1, st.support_min, true, false) &&
            obj->get("Ksteps", k, 2, st.downshift, true, false))
            obj->get("Ksteps", k, 3, st.rounding_offset, true, false);
        if (st.support_length < 0)
            st.support_length = 0;
        for (int t = 0; t < st.support_length; t++, next++)
            obj->get("Kcoeffs", next, 0, c[next], true, false);
    }
    num_steps = n;
    steps = s.release();
    coefficients = c.release();
}
