// A parameter tree with every real marker class, the multi-component transform classes
// included, linked in codestream-creation order. Header-only so the fuzz target can share it.
#pragma once

#include "codec/core/mcc_params.h"
#include "codec/core/mco_params.h"
#include "codec/core/mct_params.h"
#include "tests/codec/support/param_tree.h"

namespace codec_test {

inline std::unique_ptr<siz_params> make_mct_tree(int num_tiles, int num_comps)
{
    std::unique_ptr<siz_params> root(new siz_params);
    for (int n = 1; n < num_cluster_specs; n++) {
        const cluster_spec& spec = cluster_specs()[n];
        std::string name = spec.name;
        std::unique_ptr<rvd_params> head;
        if (name == "MCT")
            head.reset(new mct_params);
        else if (name == "MCC")
            head.reset(new mcc_params);
        else if (name == "MCO")
            head.reset(new mco_params);
        else if (name == "ATK")
            head.reset(new atk_params);
        else if (name == "COD")
            head.reset(new cod_params);
        else if (name == "DFS")
            head.reset(new dfs_params);
        else if (name == "ADS")
            head.reset(new ads_params);
        else if (name == "QCD")
            head.reset(new qcd_params);
        else if (name == "RGN")
            head.reset(new rgn_params);
        else if (name == "POC")
            head.reset(new poc_params);
        else if (name == "ORG")
            head.reset(new org_params);
        else
            head.reset(new crg_params);
        head->link(root.get(), -1, -1, spec.tiles ? num_tiles : 0, spec.comps ? num_comps : 0);
        head.release();
    }
    return root;
}

// Splits a run of marker segments into (code, body) pairs.
inline std::vector<std::pair<uint16_t, std::vector<uint8_t>>>
split_segments(const std::vector<uint8_t>& bytes)
{
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> out;
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        uint16_t code = static_cast<uint16_t>((bytes[pos] << 8) | bytes[pos + 1]);
        size_t len = size_t((bytes[pos + 2] << 8) | bytes[pos + 3]);
        if (len < 2 || pos + 2 + len > bytes.size())
            break;
        out.emplace_back(code, std::vector<uint8_t>(bytes.begin() + long(pos + 4),
                                                    bytes.begin() + long(pos + 2 + len)));
        pos += 2 + len;
    }
    return out;
}

} // namespace codec_test
