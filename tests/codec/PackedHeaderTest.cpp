#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_header_in.h"
#include "codec/core/rv_pp_markers.h"
#include "codec/core/rv_pph_input.h"
#include "codec/core/rv_precinct_pointer_server.h"
#include "codec/core/rv_tpart_pointer_server.h"
#include "codec/core/rvd_params.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

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

void expect_error(const std::function<void()>& f, const std::string& fragment)
{
    try {
        f();
        ADD_FAILURE() << "no error; expected: " << fragment;
    } catch (const codec_error& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
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

TEST(TileParts, TlmGivesEachTileItsSotOffsets)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    struct stream {
        std::string facts, name;
        int stlm;
    };
    std::string conf = stream_dir("conformance"), gen = stream_dir("input");
    for (const stream& s : {stream{conf + "/conf_p0_03.facts", "p0_03", 0x60},
                            stream{conf + "/conf_p0_15.facts", "p0_15", 0x60},
                            stream{conf + "/conf_p1_04.facts", "p1_04", 0x40},
                            stream{gen + "/tlm_tp_r.facts", "tlm_tp_r", 0x50}}) {
        stream_facts f = load_facts(s.facts);
        int tiles = num_tiles(f);
        ASSERT_GT(tiles, 0) << s.name;
        if (s.name == "p1_04") {
            EXPECT_EQ(tiles, 64);
        }
        rv_tpart_pointer_server server;
        for (const fact_marker& m : f.markers)
            if (m.code == RV_TLM) {
                EXPECT_EQ(m.body[1], s.stlm) << s.name;
                server.add_tlm_marker(make_marker(RV_TLM, m.body));
            }
        std::vector<rv_tile_ref> refs;
        refs.resize(size_t(tiles));
        server.translate_markers(f.sots.at(0).offset, tiles, refs.data());
        EXPECT_TRUE(server.is_translated());
        for (int t = 0; t < tiles; t++) {
            server.add_address(&refs[size_t(t)], 999999); // must not be appended
            std::vector<int64_t> want, got;
            for (const fact_sot& sot : f.sots)
                if (sot.isot == t)
                    want.push_back(sot.offset);
            for (rv_tpart_addr* a = refs[size_t(t)].tpart_head; a != nullptr; a = a->next)
                got.push_back(a->address);
            EXPECT_EQ(got, want) << s.name << " tile " << t;
        }
    }
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
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
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

// Nppm chunks of concatenated PPM bodies, split here.
std::vector<std::vector<uint8_t>> ppm_chunks(const stream_facts& f)
{
    std::vector<const fact_marker*> ppms;
    for (const fact_marker& m : f.markers)
        if (m.code == RV_PPM)
            ppms.push_back(&m);
    std::stable_sort(ppms.begin(), ppms.end(),
                     [](const fact_marker* a, const fact_marker* b) { return a->body[0] < b->body[0]; });
    std::vector<uint8_t> all;
    for (const fact_marker* m : ppms)
        all.insert(all.end(), m->body.begin() + 1, m->body.end());
    std::vector<std::vector<uint8_t>> out;
    for (size_t p = 0; p + 4 <= all.size();) {
        uint32_t n = be(all, p, 4);
        out.emplace_back(all.begin() + long(p + 4), all.begin() + long(p + 4 + n));
        p += 4 + n;
    }
    return out;
}

std::vector<uint8_t> drain(rv_pph_input& in)
{
    std::vector<uint8_t> out;
    uint8_t b;
    while (in.get(b))
        out.push_back(b);
    return out;
}

TEST(PackedHeaders, PpmTransfersOneTilePartEach)
{
    std::string dir = stream_dir("conformance");
    for (const char* n : {"p1_03", "p1_05"}) {
        stream_facts f = load_facts(dir + "/conf_" + std::string(n) + ".facts");
        std::vector<std::vector<uint8_t>> chunks = ppm_chunks(f);
        EXPECT_EQ(chunks.size(), f.sots.size()) << n;
        for (int alternate = 0; alternate < 2; alternate++) {
            rv_buffer_server srv;
            rv_pp_markers ppm;
            for (const fact_marker& m : f.markers)
                if (m.code == RV_PPM)
                    ppm.add_marker(make_marker(RV_PPM, m.body));
            EXPECT_TRUE(ppm.is_ppm());
            for (size_t i = 0; i < chunks.size(); i++) {
                if (alternate && (i % 2) == 1) {
                    ppm.ignore_tpart();
                    continue;
                }
                rv_pph_input in(&srv);
                ppm.transfer_tpart(&in);
                ASSERT_EQ(drain(in), chunks[i]) << n << " tile-part " << i;
            }
            EXPECT_TRUE(ppm.empty());
            expect_error([&] { ppm.ignore_tpart(); },
                         "Insufficient packet header data in PPM marker segments!");
        }
    }
}

TEST(PackedHeaders, PptBodiesTransferWhole)
{
    std::string dir = stream_dir("conformance");
    for (const char* n : {"p1_02", "p1_06"}) {
        stream_facts f = load_facts(dir + "/conf_" + std::string(n) + ".facts");
        rv_buffer_server srv;
        int with_ppt = 0;
        for (const fact_sot& sot : f.sots) {
            std::vector<const fact_marker*> ppts = tpart_markers(f, sot.offset, RV_PPT);
            if (ppts.empty())
                continue;
            with_ppt++;
            rv_pp_markers list;
            std::vector<uint8_t> want;
            for (const fact_marker* m : ppts) {
                list.add_marker(make_marker(RV_PPT, m->body));
                want.insert(want.end(), m->body.begin() + 1, m->body.end());
            }
            EXPECT_FALSE(list.is_ppm());
            rv_pph_input in(&srv);
            list.transfer_tpart(&in);
            EXPECT_EQ(drain(in), want) << n;
            EXPECT_TRUE(list.empty());
        }
        EXPECT_GT(with_ppt, 0) << n;
    }
}

} // namespace


namespace {

std::string list_error(const std::function<void()>& f)
{
    try {
        f();
    } catch (const codec_error& e) {
        return e.what();
    }
    return "(no error)";
}

const std::string core = "Ravade Core Error:\n";

} // namespace

// Bytes in, exact error out, for the main- and tile-part-header lists of TLM, PPM/PPT and
// PLT segments: each malformed body names its fault, and a well-formed one next to it
// passes, so an off-by-one in either direction shows.
TEST(PointerMarkerErrors, MalformedListsNameTheirFault)
{
    const std::string tlm_length = core + "Malformed TLM marker segment encountered in main header.  Segment "
        "length is inconsistent with the number of bytes used to represent pointer info for each tile-part.";
    const std::string tlm_tile = core + "Illegal TLM marker segment data encountered in main header.  An "
        "illegal tile number has been identified, either explicitly or implicitly (through the rule that "
        "missing tile identifiers are legal only when tiles appear in order with only one tile-part each).";
    struct tlm_case {
        const char* what;
        std::vector<std::vector<uint8_t>> bodies;
        std::string error;
    } tlm_cases[] = {
        {"Stlm ST=3", {{0, 0x30, 0, 0, 0, 20}}, core + "Illegal Stlm field encountered in TLM marker segment!"},
        {"entries of 3 bytes, 4 given", {{0, 0x10, 0, 0, 20, 1}}, tlm_length},
        {"shorter than a segment can be", {{0, 0x10}}, core + "TLM marker segments must be at least 6 bytes long!"},
        {"tile 2 of 2", {{0, 0x10, 0, 0, 20, 2, 0, 20}}, tlm_tile},
        {"implicit third tile of 2", {{0, 0x00, 0, 20, 0, 20, 0, 20}}, tlm_tile},
        {"same Ztlm twice", {{3, 0x00, 0, 20}, {3, 0x00, 0, 20}},
         core + "Found multiple TLM marker segments with identical Ztlm indices within the main header!"},
        {"two tiles, 16-bit indices, 32-bit lengths", {{0, 0x60, 0, 1, 0, 0, 0, 30, 0, 0, 0, 0, 0, 20}}, "(no error)"},
    };
    for (const tlm_case& c : tlm_cases) {
        SCOPED_TRACE(c.what);
        rv_tpart_pointer_server server;
        rv_tile_ref refs[2];
        EXPECT_EQ(c.error, list_error([&] {
                      for (const std::vector<uint8_t>& b : c.bodies)
                          server.add_tlm_marker(make_marker(RV_TLM, b));
                      server.translate_markers(100, 2, refs);
                  }));
    }

    // PPM and PPT: the Z indices order the segments and may not repeat.
    const std::string same_z = core + "Found multiple PPM/PPT marker segments with identical Zppt/Zppm indices "
        "within the same header scope (main or tile-part header)!";
    struct pp_case {
        uint16_t code;
        std::vector<std::vector<uint8_t>> bodies;
        std::string error;
    } pp_cases[] = {
        {RV_PPM, {{0, 0, 0, 0, 1, 9}, {0, 0, 0, 0, 1, 9}}, same_z},
        {RV_PPT, {{2, 7}, {1, 8}, {2, 9}}, same_z},
        {RV_PPT, {{2, 7}, {1, 8}, {3, 9}}, "(no error)"},
    };
    for (const pp_case& c : pp_cases) {
        rv_pp_markers list;
        EXPECT_EQ(c.error, list_error([&] {
                      for (const std::vector<uint8_t>& b : c.bodies)
                          list.add_marker(make_marker(c.code, b));
                  })) << c.bodies.size();
    }
    // A PPT scope hands its bodies over in Z order.
    {
        rv_buffer_server srv;
        rv_pp_markers list;
        for (const std::vector<uint8_t>& b : {std::vector<uint8_t>{2, 7}, {0, 5, 6}, {1, 8}})
            list.add_marker(make_marker(RV_PPT, b));
        rv_pph_input in(&srv);
        list.transfer_tpart(&in);
        std::vector<uint8_t> got;
        uint8_t b;
        while (in.get(b))
            got.push_back(b);
        EXPECT_EQ((std::vector<uint8_t>{5, 6, 8, 7}), got);
    }

    // PLT segments of a tile must come in Zplt order from 0.
    rv_buffer_server srv;
    rv_precinct_pointer_server index;
    index.init(&srv);
    const rv_tile_sequencing seq{1, 0, false};
    EXPECT_EQ("(no error)", list_error([&] { index.add_plt_marker(make_marker(RV_PLT, {0, 20}), seq); }));
    EXPECT_NE(std::string::npos,
              list_error([&] { index.add_plt_marker(make_marker(RV_PLT, {2, 20}), seq); })
                  .find("PLT marker segments appear out of order"));
}
