#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_header_in.h"
#include "codec/core/rv_pp_markers.h"
#include "codec/core/rv_pph_input.h"
#include "codec/core/rv_precinct_pointer_server.h"
#include "codec/core/rv_tpart_pointer_server.h"
#include "codec/core/rvd_params.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace codec_test;

namespace {

// A marker segment read back through rv_marker from its bytes.
rv_marker make_marker(uint16_t code, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> bytes{uint8_t(code >> 8), uint8_t(code), uint8_t((body.size() + 2) >> 8),
                               uint8_t(body.size() + 2)};
    bytes.insert(bytes.end(), body.begin(), body.end());
    memory_source src(bytes);
    rv_compressed_input in(&src);
    rv_marker m(&in);
    EXPECT_TRUE(m.read());
    return rv_marker(m);
}

uint32_t be(const std::vector<uint8_t>& b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | b[at + size_t(i)];
    return v;
}

int num_tiles(const stream_facts& f)
{
    for (const fact_marker& m : f.markers)
        if (m.code == RV_SIZ) {
            uint32_t xs = be(m.body, 2, 4), ys = be(m.body, 6, 4);
            uint32_t xt = be(m.body, 18, 4), yt = be(m.body, 22, 4);
            uint32_t xto = be(m.body, 26, 4), yto = be(m.body, 30, 4);
            return int(((xs - xto + xt - 1) / xt) * ((ys - yto + yt - 1) / yt));
        }
    return 0;
}

// Markers of the tile-part header that starts at the given SOT.
std::vector<const fact_marker*> tpart_markers(const stream_facts& f, int64_t sot, uint16_t code)
{
    std::vector<const fact_marker*> out;
    bool in_tpart = false;
    for (const fact_marker& m : f.markers) {
        if (m.code == RV_SOT)
            in_tpart = (m.offset == sot);
        else if (m.code == RV_SOD)
            in_tpart = false;
        else if (in_tpart && m.code == code)
            out.push_back(&m);
    }
    return out;
}

// Packet lengths of PLT bodies, decoded here from their 7-bit groups.
std::vector<int64_t> plt_lengths(const std::vector<const fact_marker*>& plts)
{
    std::vector<int64_t> out;
    for (const fact_marker* m : plts) {
        int64_t v = 0;
        for (size_t i = 1; i < m->body.size(); i++) {
            v = (v << 7) | (m->body[i] & 0x7F);
            if (!(m->body[i] & 0x80)) {
                out.push_back(v);
                v = 0;
            }
        }
    }
    return out;
}

TEST(PrecinctIndex, PltGivesPrecinctAddresses)
{
    struct stream {
        const char* name;
        rv_tile_sequencing seq;
        bool usable;
    };
    std::string dir = stream_dir("input");
    for (const stream& s : {stream{"plt_rpcl", {3, 2, false}, true},
                            stream{"plt_cprl", {3, 4, false}, true},
                            stream{"plt_lrcp1", {1, 0, false}, true},
                            stream{"plt_lrcp", {3, 0, false}, false}}) {
        stream_facts f = load_facts(dir + "/" + s.name + ".facts");
        rv_buffer_server srv;
        std::vector<std::unique_ptr<rv_precinct_pointer_server>> index;
        for (int t = 0; t < num_tiles(f); t++) {
            index.push_back(std::make_unique<rv_precinct_pointer_server>());
            index.back()->init(&srv);
        }
        ASSERT_EQ(f.sots.size(), f.sods.size());
        for (size_t i = 0; i < f.sots.size(); i++) {
            const fact_sot& sot = f.sots[i];
            rv_precinct_pointer_server& idx = *index.at(size_t(sot.isot));
            std::vector<const fact_marker*> plts = tpart_markers(f, sot.offset, RV_PLT);
            ASSERT_FALSE(plts.empty()) << s.name;
            for (const fact_marker* m : plts)
                idx.add_plt_marker(make_marker(RV_PLT, m->body), s.seq);
            int64_t body = f.sods[i] + 2;
            int64_t body_len = sot.psot - (body - sot.offset);
            idx.start_tpart_body(body, body_len, s.seq, false, false);
            std::vector<int64_t> lens = plt_lengths(plts);
            int64_t total = 0;
            for (int64_t l : lens)
                total += l;
            EXPECT_EQ(total, body_len) << s.name;
            int64_t expect = body;
            size_t k = 0;
            int precincts = 0;
            for (;;) {
                int64_t a = idx.get_precinct_address();
                if (!s.usable) {
                    EXPECT_EQ(a, -1) << s.name;
                    break;
                }
                if (a == -1)
                    break;
                ASSERT_EQ(a, expect) << s.name << " tile-part " << i << " precinct " << precincts;
                for (int l = 0; l < s.seq.layers; l++)
                    expect += lens.at(k++);
                precincts++;
            }
            if (s.usable) {
                EXPECT_EQ(k, lens.size());
                EXPECT_EQ(expect, body + body_len);
                EXPECT_GT(precincts, 1);
            }
        }
        index.clear();
        EXPECT_EQ(srv.get_full_groups(), 0) << s.name; // every buffer went back
    }
}

// Stand-ins for the marker classes whose attributes the index reads.
class standin_params : public rvd_params {
public:
    standin_params(const char* name, bool tiles, bool comps, bool insts)
        : rvd_params(name, tiles, comps, insts)
    {
        if (std::string(name) == "COD") {
            define_attribute("Clayers", "Number of quality layers.", "I", RVD_ALL_COMPONENTS);
            define_attribute("Corder", "Default progression order.",
                             "(LRCP=0,RLCP=1,RPCL=2,PCRL=3,CPRL=4)", RVD_ALL_COMPONENTS);
        } else if (std::string(name) == "POC") {
            define_attribute("Porder", "Progression order changes.",
                             "IIIII(LRCP=0,RLCP=1,RPCL=2,PCRL=3,CPRL=4)", RVD_MULTI_RECORD);
        }
    }
    rvd_params* new_object() override
    {
        return new standin_params(get_cluster_name(), allow_tiles, allow_comps, allow_insts);
    }
    void copy_with_xforms(rvd_params*, int, int, bool, bool, bool) override {}
    bool check_marker_segment(uint16_t, int, const uint8_t*, int&) override { return false; }
    bool read_marker_segment(uint16_t, int, const uint8_t*, int) override { return false; }
};

} // namespace
