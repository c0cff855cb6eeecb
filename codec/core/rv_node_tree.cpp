// The decomposition tree of a resolution level and the gains of its inner nodes.
#include "codec/core/rv_node_tree.h"

#include "codec/core/rvd_kernels.h"
#include "codec/core/cod_params.h"
#include "codec/core/rv_partition_geometry.h"
#include "codec/core/rv_resolution.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

int code_at(int decomp, int group, int idx) { return (decomp >> (2 + 10 * group + 2 * idx)) & 3; }

// Splits within the level so far, per direction: count and branch bits (first split
// lowest), as in a band descriptor.
struct path {
    int hcount = 0, hidx = 0, vcount = 0, vidx = 0;
    std::vector<bool> hor() const
    {
        std::vector<bool> v;
        for (int i = 0; i < hcount; i++)
            v.push_back(((hidx >> i) & 1) != 0);
        return v;
    }
    std::vector<bool> vert() const
    {
        std::vector<bool> v;
        for (int i = 0; i < vcount; i++)
            v.push_back(((vidx >> i) & 1) != 0);
        return v;
    }
    int16_t descriptor() const
    {
        return int16_t(hcount | (hidx << 2) | (vcount << 8) | (vidx << 10));
    }
};

struct builder {
    rv_resolution& res;
    rvd_kernels& kernels;
    int hor_levels, vert_levels;
    int decomp;
    size_t next_band = 0;

    // Gains of an inner node that splits by `split` after the path `p`.
    void set_gains(rv_node& node, int split, const path& p)
    {
        std::vector<double> h, v;
        if (split & 1)
            rv_direction_bibo_gains(kernels, hor_levels, p.hor(), h);
        if (split & 2)
            rv_direction_bibo_gains(kernels, vert_levels, p.vert(), v);
        // Counts are bytes; a kernel has far fewer steps than that.
        node.num_hor_gains = uint8_t(std::min<size_t>(h.size(), 255));
        node.num_vert_gains = uint8_t(std::min<size_t>(v.size(), 255));
        // A trailing entry keeps a leaf's pointer (count 0) inside the array.
        node.bibo_gains.assign(size_t(node.num_hor_gains) + 2 + node.num_vert_gains, 0.0f);
        for (size_t i = 0; i < node.num_hor_gains; i++)
            node.bibo_gains[i] = float(h[i]);
        for (size_t i = 0; i < node.num_vert_gains; i++)
            node.bibo_gains[node.num_hor_gains + 1 + i] = float(v[i]);
    }

    // Splits `node` (path `p`) by `split`. The level's own node hands detail band k the
    // codes of group k; below that, `child_codes` (indexed by child) gives each child's
    // split, and without it the children are leaves.
    void split_node(rv_node& node, int split, const path& p, const int* child_codes)
    {
        set_gains(node, split, p);
        if (((split & 1) && p.hidx != 0) || ((split & 2) && p.vidx != 0))
            res.flip_compatible = false;
        const bool top = &node == &res.node;
        int group = 0;
        for (int c = top ? 1 : 0; c < 4; c++) {
            if ((c & ~split) != 0)
                continue;
            path cp = p;
            const int bx = (split & 1) ? (c & 1) : 2, by = (split & 2) ? (c >> 1) : 2;
            if (bx != 2)
                cp.hidx |= bx << cp.hcount++;
            if (by != 2)
                cp.vidx |= by << cp.vcount++;
            if (top) {
                const int first = code_at(decomp, group, 0);
                int grand[4] = {0, 0, 0, 0};
                for (int gc = 0, k = 1; gc < 4; gc++)
                    if (first != 0 && (gc & ~first) == 0)
                        grand[gc] = code_at(decomp, group, k++);
                node.children[c] = make_child(node, bx, by, cp, first, grand);
                group++;
            } else {
                node.children[c] = make_child(node, bx, by, cp,
                                              child_codes != nullptr ? child_codes[c] : 0,
                                              nullptr);
            }
        }
        for (int c = top ? 1 : 0; c < 4; c++) {
            const rv_node* ch = node.children[c];
            if (ch == nullptr)
                continue;
            if (ch->is_leaf) {
                node.num_descendant_subbands++;
            } else {
                node.num_descendant_nodes += 1 + ch->num_descendant_nodes;
                node.num_descendant_subbands += ch->num_descendant_subbands;
            }
        }
    }

    rv_node* make_child(rv_node& parent, int bx, int by, const path& p, int split,
                        const int* child_codes)
    {
        rv_node* n;
        if (split == 0) {
            if (next_band >= res.subbands.size())
                return nullptr; // cannot happen for a code the expansion counted
            rv_subband& b = res.subbands[next_band];
            b.band_idx = uint8_t(next_band);
            b.descriptor = p.descriptor();
            b.is_leaf = true;
            next_band++;
            n = &b;
        } else {
            res.inner_nodes.emplace_back();
            n = &res.inner_nodes.back();
        }
        n->parent = &parent;
        n->resolution = &res;
        n->branch_x = uint8_t(bx);
        n->branch_y = uint8_t(by);
        n->dims = n->region = rv_get_child_dims(parent.dims, bx, by);
        if (split != 0)
            split_node(*n, split, p, child_codes);
        return n;
    }
};

} // namespace

void rv_build_node_tree(rv_resolution& res, int decomp, rv_node* ll_child, rvd_kernels& kernels,
                        int hor_levels, int vert_levels)
{
    int16_t desc[64];
    const int n = cod_params::expand_decomp_bands(decomp, desc);
    res.inner_nodes.clear();
    res.subbands.assign(size_t(std::max(0, n - 1)), rv_subband());
    const int primary = decomp & 3;
    res.hor_split = (primary & 1) != 0;
    res.vert_split = (primary & 2) != 0;
    rv_node& top = res.node;
    top.is_leaf = false;
    top.resolution = &res;
    std::fill(top.children, top.children + 4, nullptr);
    top.num_descendant_nodes = top.num_descendant_subbands = 0;
    top.children[0] = ll_child;
    if (ll_child != nullptr) {
        ll_child->branch_x = uint8_t(res.hor_split ? 0 : 2);
        ll_child->branch_y = uint8_t(res.vert_split ? 0 : 2);
    }
    builder b{res, kernels, hor_levels, vert_levels, decomp};
    b.split_node(top, primary, path(), nullptr);

    // Partners under transposition: band b of the transposed decomposition is the real
    // band whose descriptor has the two directions exchanged.
    int16_t tdesc[64];
    const int tn = cod_params::expand_decomp_bands(cod_params::transpose_decomp(decomp), tdesc);
    for (size_t i = 0; i < res.subbands.size(); i++) {
        rv_subband& band = res.subbands[i];
        band.transpose_band_idx = uint8_t(i);
        if (int(i) + 1 >= tn)
            continue;
        const int d = uint16_t(tdesc[i + 1]);
        const int16_t swapped = int16_t(((d >> 8) & 0xFF) | ((d & 0xFF) << 8));
        for (size_t j = 0; j < res.subbands.size(); j++)
            if (res.subbands[j].descriptor == swapped)
                band.transpose_band_idx = uint8_t(j);
    }
}

void rv_direction_bibo_gains(rvd_kernels& kernels, int levels, const std::vector<bool>& extras,
                             std::vector<double>& gains)
{
    // Deeper low-pass paths are answered from the deepest one the kernel computes.
    levels = std::max(0, std::min(levels, 4));
    const int num_extra = int(std::min<size_t>(extras.size(), 60));
    bool flags[64] = {};
    for (int i = 0; i < num_extra; i++)
        flags[i] = extras[size_t(i)];
    const double ls = kernels.get_low_scale(), hs = kernels.get_high_scale();
    // The kernel tracks unnormalised lifting; every completed split scales its band.
    double scale = std::pow(ls, levels);
    for (int i = 0; i < num_extra; i++)
        scale *= flags[i] ? hs : ls;
    const int n = kernels.get_num_steps();
    double lo = 0.0, hi = 0.0;
    const double* steps = kernels.get_bibo_gains(levels, num_extra, flags, lo, hi);
    gains.assign(size_t(n) + 1, 1.0);
    for (int s = 0; s < n; s++)
        gains[size_t(s) + 1] = steps[s] * scale;
    if (levels + num_extra == 0)
        return;
    // The input is the output of the last completed split, whose own scale the kernel
    // has applied already.
    double last_scale;
    if (num_extra > 0) {
        kernels.get_bibo_gains(levels, num_extra - 1, flags, lo, hi);
        const bool high = flags[num_extra - 1];
        last_scale = high ? hs : ls;
        gains[0] = (high ? hi : lo) * scale / last_scale;
    } else {
        kernels.get_bibo_gains(levels - 1, 0, nullptr, lo, hi);
        last_scale = ls;
        gains[0] = lo * scale / last_scale;
    }
}

double rv_band_energy_gain(rvd_kernels& kernels, const rv_subband& band)
{
    const rv_resolution* res = band.resolution;
    bool h[8] = {}, v[8] = {};
    const int hc = band.descriptor & 3, vc = (band.descriptor >> 8) & 3;
    for (int i = 0; i < hc; i++)
        h[i] = ((band.descriptor >> (2 + i)) & 1) != 0;
    for (int i = 0; i < vc; i++)
        v[i] = ((band.descriptor >> (10 + i)) & 1) != 0;
    return kernels.get_energy_gain(res->hor_depth, hc, h) *
           kernels.get_energy_gain(res->vert_depth, vc, v);
}
