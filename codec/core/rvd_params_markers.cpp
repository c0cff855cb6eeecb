// Routing marker segments into the parameter tree and generating them from it.
#include "codec/core/rvd_params.h"

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_message.h"

#include <cstdlib>

bool rvd_params::translate_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                          int t, int tpart_idx)
{
    if (num_bytes < 0 || (num_bytes > 0 && bytes == nullptr))
        return false;
    rvd_params* h = root();
    int idx = -1;
    for (; h != nullptr; h = h->next_cluster) {
        if (h->head()->num_tiles <= t)
            continue;
        idx = -1;
        if (h->check_marker_segment(code, num_bytes, bytes, idx))
            break;
    }
    if (h == nullptr)
        return false;
    bool indexed = h->treat_instances_like_components;
    int c = indexed ? -1 : idx;
    int inst = indexed ? idx : 0;
    rvd_params* obj = h->access_relation(t, c, inst, false);
    if (obj == nullptr) {
        {
            rvd_error e("Ravade Core Error:\n");
            e << "Codestream contains a parameter marker segment with an invalid image "
                 "component or tile index: parameter type is \""
              << h->cluster_name << "\"; tile number is " << t
              << ((t >= 0) ? " (starting from 0)" : " [i.e., global]") << "; component index is "
              << c << ((c >= 0) ? " (starting from 0)" : " [i.e., global]") << ".";
        }
        std::abort();
    }
    if (h->allow_insts && !indexed) {
        while (obj != nullptr && obj->marked)
            obj = obj->next_inst;
        if (obj == nullptr)
            return false;
    } else if (obj->marked && !indexed) {
        // A second segment for the same object in one header would mix its records into
        // the first one's; the first wins. Instance-indexed classes (MCT, MCC, ...) carry
        // series of segments for one index, and their readers check the series themselves.
        rv_issue_core_warning("Ignoring a repeated marker segment for the same tile and "
                              "component within one header; the first one is kept.");
        return false;
    }
    try {
        if (!obj->read_marker_segment(code, num_bytes, bytes, tpart_idx))
            return false;
    } catch (const rv_short_body&) {
        rv_raise_core_error(std::string("Malformed ") + h->cluster_name +
                            " marker segment encountered. Marker segment is too small.");
    }
    obj->marked = true;
    if (h->allow_insts && !indexed)
        obj->new_instance();
    obj->empty = false;
    return true;
}

int rvd_params::generate_marker_segments(rvd_output* out, int t, int tpart_idx)
{
    int total = 0;
    for (rvd_params* h = root(); h != nullptr; h = h->next_cluster) {
        rvd_params* head_obj = h->head();
        if (head_obj->num_tiles <= t)
            continue;
        rvd_params* row = head_obj->governing(t, -1);
        int ncomps = head_obj->num_comps;
        for (int c = -1; c < ncomps; c++) {
            // A tile without an object of its own has no component objects either: every
            // slot of it inherits from the main header.
            if (c >= 0 && row->tile_idx != t)
                break;
            rvd_params* x = head_obj->governing(t, c);
            if (x->tile_idx != t && (row->tile_idx != t || !row->marked))
                continue;
            if (x->comp_idx != c) {
                if (!h->force_comps)
                    continue;
                x = head_obj->access_relation(t, c, 0, false);
                if (x == nullptr)
                    continue;
            }
            rvd_params* ref = nullptr;
            if (c >= 0 && row->tile_idx == t && row->marked) {
                ref = row;
            } else {
                rvd_params* main_c = head_obj->governing(-1, c);
                if (main_c->marked)
                    ref = main_c;
                else if (head_obj->marked)
                    ref = head_obj;
            }
            if (ref == x)
                ref = nullptr;
            for (rvd_params* xi = x; xi != nullptr; xi = xi->next_inst) {
                if (h->treat_instances_like_components) {
                    ref = nullptr;
                    if (xi->tile_idx >= 0) {
                        rvd_params* m = head_obj->access_unique(-1, xi->comp_idx, xi->inst_idx);
                        if (m != nullptr && m->marked)
                            ref = m;
                    }
                }
                // An object already written (or sized) since the last clear_marks is not
                // written again.
                if (!xi->marked) {
                    int n = xi->write_marker_segment(out, ref, tpart_idx);
                    if (n > 0) {
                        xi->marked = true;
                        total += n;
                    }
                }
                ref = xi->marked ? xi : nullptr;
            }
        }
    }
    return total;
}
