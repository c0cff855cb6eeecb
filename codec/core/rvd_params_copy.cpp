// Copying clusters between trees, and the test for tiles that change nothing the main
// header gives.
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cstring>
#include <set>

void rvd_params::copy_pair(rvd_params* src, rvd_params* tgt, int instance, int skip_components,
                           int discard_levels, bool transpose, bool vflip, bool hflip)
{
    int position = 0;
    for (rvd_params* si = src; si != nullptr; si = si->next_inst, position++) {
        if (instance >= 0 && si->inst_idx != instance)
            continue;
        rvd_params* ti = nullptr;
        if (treat_instances_like_components) {
            ti = access_relation(tgt->tile_idx, tgt->comp_idx, si->inst_idx, false);
        } else {
            ti = tgt;
            for (int n = 0; n < position && ti != nullptr; n++) {
                if (ti->next_inst == nullptr)
                    ti->new_instance();
                ti = ti->next_inst;
            }
        }
        if (ti == nullptr)
            break;
        if (ti->marked)
            rv_raise_core_error(
                "Illegal attempt to modify a `rvd_params' object which has already been marked!");
        if (ti->empty)
            ti->copy_with_xforms(si, skip_components, discard_levels, transpose, vflip, hflip);
        if (instance >= 0 || !allow_insts)
            break;
    }
}

// Copies one row: the row objects, then source component s + k into target component k.
void rvd_params::copy_row(rvd_params* source, rvd_params* src_row, rvd_params* tgt_row,
                          int source_tile, int target_tile, int instance, int skip_components,
                          int discard_levels, bool transpose, bool vflip, bool hflip)
{
    rv_param_table* st = source->refs;
    copy_pair(src_row, tgt_row, instance, skip_components, discard_levels, transpose, vflip,
              hflip);
    if (st == nullptr || refs == nullptr)
        return;
    // Only components with an object on either side can form a pair that is not skipped.
    std::set<int> candidates;
    for (int row : {source_tile, -1})
        for (auto it = st->owners.lower_bound(std::make_pair(row, 0));
             it != st->owners.end() && it->first.first == row; ++it)
            if (it->first.second >= skip_components)
                candidates.insert(it->first.second - skip_components);
    for (int row : {target_tile, -1})
        for (auto it = refs->owners.lower_bound(std::make_pair(row, 0));
             it != refs->owners.end() && it->first.first == row; ++it)
            candidates.insert(it->first.second);
    for (int k : candidates) {
        if (k + skip_components >= st->num_comps || k >= refs->num_comps)
            continue;
        rvd_params* s_obj = source->governing(source_tile, k + skip_components);
        rvd_params* t_obj = governing(target_tile, k);
        if (s_obj->comp_idx < 0 && t_obj->comp_idx < 0)
            continue;
        if (t_obj->comp_idx < 0)
            t_obj = access_relation(target_tile, k, 0, false);
        if (t_obj == nullptr)
            continue;
        copy_pair(s_obj, t_obj, instance, skip_components, discard_levels, transpose, vflip,
                  hflip);
    }
}

void rvd_params::copy_from(rvd_params* source, int source_tile, int target_tile, int instance,
                           int skip_components, int discard_levels, bool transpose, bool vflip,
                           bool hflip)
{
    if (source->cluster_name != cluster_name)
        rv_raise_core_error("Trying to use `rvd_params::copy_from' to copy an object to one "
                            "which has been derived differently.");
    if (source->tile_idx != -1 || source->comp_idx != -1 || source->head() != source ||
        tile_idx != -1 || comp_idx != -1 || head() != this)
        rv_raise_core_error("Trying to use `rvd_params::copy_from' to copy an object which is not "
                            "a cluster head, or to copy to another object which is not the head "
                            "of its cluster.");
    rvd_params* src_row = nullptr;
    rvd_params* tgt_row = nullptr;
    if (source_tile >= -1 && source_tile < source->num_tiles)
        src_row = source->governing(source_tile, -1);
    if (target_tile >= -1 && target_tile < num_tiles)
        tgt_row = governing(target_tile, -1);
    if (src_row != nullptr && tgt_row != nullptr && target_tile >= 0 && tgt_row->tile_idx == -1) {
        if (src_row->tile_idx == -1)
            tgt_row = nullptr; // nothing to copy
        else
            tgt_row = access_relation(target_tile, -1, 0, false);
    }
    if (src_row != nullptr && tgt_row != nullptr)
        copy_row(source, src_row, tgt_row, source_tile, target_tile, instance, skip_components,
                 discard_levels, transpose, vflip, hflip);
    if (source->first_cluster == source && first_cluster == this) {
        rvd_params* s = source->next_cluster;
        rvd_params* t = next_cluster;
        for (; s != nullptr && t != nullptr; s = s->next_cluster, t = t->next_cluster)
            t->copy_from(s, source_tile, target_tile, instance, skip_components, discard_levels,
                         transpose, vflip, hflip);
    }
}

void rvd_params::copy_all(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip)
{
    if (source->cluster_name != cluster_name)
        rv_raise_core_error("Trying to use `rvd_params::copy_all' to copy an object to one "
                            "which has been derived differently.");
    if (source->tile_idx != -1 || source->comp_idx != -1 || source->head() != source ||
        tile_idx != -1 || comp_idx != -1 || head() != this)
        rv_raise_core_error("Trying to use `rvd_params::copy_all' to copy an object which is not "
                            "a cluster head, or to copy to another object which is not the head "
                            "of its cluster.");
    copy_row(source, source, this, -1, -1, -1, skip_components, discard_levels, transpose, vflip,
             hflip);
    int tiles = std::min(source->num_tiles, num_tiles);
    // Only tiles with a tile object on either side need visiting.
    std::set<int> candidates;
    for (rv_param_table* tab : {source->refs, refs})
        if (tab != nullptr)
            for (auto& entry : tab->owners)
                if (entry.first.first >= 0 && entry.first.first < tiles &&
                    entry.first.second == -1)
                    candidates.insert(entry.first.first);
    for (int t : candidates) {
        rvd_params* src_row = source->governing(t, -1);
        rvd_params* tgt_row = governing(t, -1);
        if (tgt_row->tile_idx != t)
            tgt_row = access_relation(t, -1, 0, false);
        if (tgt_row == nullptr)
            continue;
        copy_row(source, src_row, tgt_row, t, t, -1, skip_components, discard_levels, transpose,
                 vflip, hflip);
    }
    if (source->first_cluster == source && first_cluster == this) {
        rvd_params* s = source->next_cluster;
        rvd_params* t = next_cluster;
        for (; s != nullptr && t != nullptr; s = s->next_cluster, t = t->next_cluster)
            t->copy_all(s, skip_components, discard_levels, transpose, vflip, hflip);
    }
}

namespace {
// Compares the records of one attribute: true when the tile side changes nothing.
bool same_as_main(const rv_attribute* tile_side, const rv_attribute* main_side)
{
    if (tile_side == nullptr || tile_side == main_side)
        return true;
    if (tile_side->num_fields > 1 || tile_side->num_records > 1)
        return false;
    if (main_side == nullptr || main_side->num_records != 1)
        return false;
    const rv_attribute_value& a = tile_side->values[0];
    const rv_attribute_value& b = main_side->values[0];
    if (!a.is_set || !b.is_set)
        return false;
    if (*a.pattern == 'F') {
        float fa, fb;
        std::memcpy(&fa, &a.bits, sizeof(fa));
        std::memcpy(&fb, &b.bits, sizeof(fb));
        return fa == fb;
    }
    return a.bits == b.bits;
}
} // namespace

bool rvd_params::tile_is_typical(int t)
{
    rvd_params* tile_obj = owner(t, -1);
    std::vector<std::pair<int, rvd_params*>> row;
    if (tile_obj != nullptr)
        row.emplace_back(-1, tile_obj);
    // Slots that only inherit the tile object compare as the tile object does.
    for (auto it = refs->owners.lower_bound(std::make_pair(t, 0));
         it != refs->owners.end() && it->first.first == t; ++it)
        row.emplace_back(it->first.second, it->second);
    for (auto& entry : row) {
        rvd_params* obj = entry.second;
        rvd_params* main_c = governing(-1, entry.first);
        rvd_params* main_obj = head();
        rv_attribute* a = obj->attributes.get();
        rv_attribute* tile_a = (tile_obj != nullptr) ? tile_obj->attributes.get() : nullptr;
        rv_attribute* m = main_c->attributes.get();
        rv_attribute* mm = main_obj->attributes.get();
        for (; a != nullptr; a = a->next.get(), m = m->next.get(), mm = mm->next.get()) {
            const rv_attribute* tile_side = (a->num_records > 0) ? a : nullptr;
            if (tile_side == nullptr && tile_a != nullptr && tile_a->num_records > 0)
                tile_side = tile_a;
            const rv_attribute* main_side = (m->num_records > 0) ? m : mm;
            if (!same_as_main(tile_side, main_side))
                return false;
            if (tile_a != nullptr)
                tile_a = tile_a->next.get();
        }
    }
    return true;
}

bool rvd_params::check_typical_tile(int t, const char* excluded)
{
    for (rvd_params* h = root(); h != nullptr; h = h->next_cluster) {
        rvd_params* head_obj = h->head();
        if (head_obj->num_tiles == 0)
            continue;
        if (excluded != nullptr) {
            bool skip = false;
            size_t len = std::strlen(h->cluster_name);
            for (const char* cp = excluded; *cp != '\0' && !skip;) {
                const char* end = std::strchr(cp, ':');
                size_t item = (end != nullptr) ? static_cast<size_t>(end - cp) : std::strlen(cp);
                skip = (item == len && std::strncmp(cp, h->cluster_name, len) == 0);
                cp += item;
                if (*cp == ':')
                    cp++;
            }
            if (skip)
                continue;
        }
        if (t < 0 || t >= head_obj->num_tiles)
            rv_raise_core_error(
                "Invalid `tile_idx' supplied to `rvd_params::check_typical_tile'.");
        if (!head_obj->tile_is_typical(t))
            return false;
    }
    return true;
}
