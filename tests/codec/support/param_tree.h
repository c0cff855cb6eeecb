// A parameter tree linked in codestream-creation order with the real SIZ, RGN, POC,
// ORG and CRG classes and stand-ins (real names, flags and companions) for the others.
#pragma once

#include "codec/core/ads_params.h"
#include "codec/core/atk_params.h"
#include "codec/core/cod_params.h"
#include "codec/core/dfs_params.h"
#include "codec/core/crg_params.h"
#include "codec/core/org_params.h"
#include "codec/core/poc_params.h"
#include "codec/core/qcd_params.h"
#include "codec/core/rgn_params.h"
#include "codec/core/siz_params.h"
#include "tests/codec/support/test_clusters.h"

namespace codec_test {

// With `real_cod` the COD, QCD, ATK, ADS and DFS clusters are the real classes too.
inline std::unique_ptr<siz_params> make_param_tree(int num_tiles, int num_comps, bool real_cod = false)
{
    std::unique_ptr<siz_params> root(new siz_params);
    for (int n = 1; n < num_cluster_specs; n++) {
        const cluster_spec& spec = cluster_specs()[n];
        std::string name = spec.name;
        std::unique_ptr<rvd_params> head;
        if (name == "RGN")
            head.reset(new rgn_params);
        else if (name == "POC")
            head.reset(new poc_params);
        else if (name == "ORG")
            head.reset(new org_params);
        else if (name == "CRG")
            head.reset(new crg_params);
        else if (name == "COD" && real_cod)
            head.reset(new cod_params);
        else if (name == "QCD" && real_cod)
            head.reset(new qcd_params);
        else if (name == "ATK" && real_cod)
            head.reset(new atk_params);
        else if (name == "ADS" && real_cod)
            head.reset(new ads_params);
        else if (name == "DFS" && real_cod)
            head.reset(new dfs_params);
        else
            head.reset(new test_params(n));
        head->link(root.get(), -1, -1, spec.tiles ? num_tiles : 0, spec.comps ? num_comps : 0);
        head.release();
    }
    return root;
}

// Sets the canvas of a one-tile image with the given number of 8-bit components.
inline void set_simple_siz(rvd_params* root, int num_comps, int height = 48, int width = 64)
{
    root->set("Ssize", 0, 0, height);
    root->set("Ssize", 0, 1, width);
    root->set("Scomponents", 0, 0, num_comps);
    root->set("Sprecision", 0, 0, 8);
    root->set("Ssigned", 0, 0, false);
    root->set("Ssampling", 0, 0, 1);
    root->set("Ssampling", 0, 1, 1);
    root->finalize(false);
}

} // namespace codec_test
