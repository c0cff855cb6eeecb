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

std::vector<uint8_t> tlm_body(int z, int stlm, const std::vector<uint32_t>& entries, int st, int sp)
{
    std::vector<uint8_t> b{uint8_t(z), uint8_t(stlm)};
    for (size_t i = 0; i < entries.size(); i += 2) {
        for (int k = st - 1; k >= 0; k--)
            b.push_back(uint8_t(entries[i] >> (8 * k)));
        for (int k = (sp ? 3 : 1); k >= 0; k--)
            b.push_back(uint8_t(entries[i + 1] >> (8 * k)));
    }
    return b;
}

std::vector<int64_t> addresses(const rv_tile_ref& r)
{
    std::vector<int64_t> out;
    for (rv_tpart_addr* a = r.tpart_head; a != nullptr; a = a->next)
        out.push_back(a->address);
    return out;
}

TEST(TileParts, TlmCasesAndErrors)
{
    {
        // No tile numbers, 16-bit lengths; segments given out of index order.
        rv_tpart_pointer_server s;
        s.add_tlm_marker(make_marker(RV_TLM, tlm_body(1, 0x00, {0, 300, 0, 400}, 0, 0)));
        s.add_tlm_marker(make_marker(RV_TLM, tlm_body(0, 0x00, {0, 100, 0, 200}, 0, 0)));
        std::vector<rv_tile_ref> refs(4);
        s.translate_markers(1000, 4, refs.data());
        EXPECT_EQ(addresses(refs[0]), std::vector<int64_t>{1000});
        EXPECT_EQ(addresses(refs[1]), std::vector<int64_t>{1100});
        EXPECT_EQ(addresses(refs[2]), std::vector<int64_t>{1300});
        EXPECT_EQ(addresses(refs[3]), std::vector<int64_t>{1600});
    }
    {
        // A length below 14 stops the translation; later tiles collect addresses.
        clear_captured_warnings();
        rv_tpart_pointer_server s;
        s.add_tlm_marker(make_marker(RV_TLM, tlm_body(0, 0x50, {0, 100, 1, 13, 2, 50}, 1, 1)));
        std::vector<rv_tile_ref> refs(3);
        s.translate_markers(10, 3, refs.data());
        EXPECT_EQ(warning_count("TLM marker segments contain one or more illegal lengths (< 14 "
                                 "bytes).  Proceeding with incomplete tile-part length "
                                 "information."),
                  1);
        EXPECT_EQ(addresses(refs[1]), std::vector<int64_t>{110});
        EXPECT_TRUE(addresses(refs[2]).empty());
        s.add_address(&refs[2], 500);
        s.add_address(&refs[2], 700);
        s.add_address(&refs[1], 900);
        EXPECT_EQ(addresses(refs[2]), (std::vector<int64_t>{500, 700}));
        EXPECT_EQ(addresses(refs[1]), std::vector<int64_t>{110});
        // Pool blocks of 32 are chained as needed.
        for (int i = 0; i < 100; i++)
            s.add_address(&refs[2], i);
        EXPECT_EQ(addresses(refs[2]).size(), 102u);
    }
    rv_tpart_pointer_server s;
    std::vector<rv_tile_ref> refs(2);
    expect_error([&] { s.add_tlm_marker(make_marker(RV_TLM, {0, 0, 0})); },
                 "TLM marker segments must be at least 6 bytes long!");
    s.add_tlm_marker(make_marker(RV_TLM, {3, 0x00, 0, 20}));
    expect_error([&] { s.add_tlm_marker(make_marker(RV_TLM, {3, 0x00, 0, 30})); },
                 "Found multiple TLM marker segments with identical Ztlm indices within the main "
                 "header!");
    rv_tpart_pointer_server st3;
    st3.add_tlm_marker(make_marker(RV_TLM, {0, 0x30, 0, 0, 0, 0, 0}));
    expect_error([&] { st3.translate_markers(0, 2, refs.data()); },
                 "Illegal Stlm field encountered in TLM marker segment!");
    rv_tpart_pointer_server odd;
    odd.add_tlm_marker(make_marker(RV_TLM, {0, 0x10, 0, 0, 20, 1}));
    expect_error([&] { odd.translate_markers(0, 2, refs.data()); },
                 "Malformed TLM marker segment encountered in main header.  Segment length is "
                 "inconsistent with the number of bytes used to represent pointer info for each "
                 "tile-part.");
    rv_tpart_pointer_server big;
    big.add_tlm_marker(make_marker(RV_TLM, {0, 0x10, 5, 0, 20}));
    expect_error([&] { big.translate_markers(0, 2, refs.data()); },
                 "Illegal TLM marker segment data encountered in main header.  An illegal tile "
                 "number has been identified");
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

TEST(PrecinctIndex, LengthCodingAndErrors)
{
    rv_buffer_server srv;
    rv_tile_sequencing one{1, 2, false};
    {
        rv_precinct_pointer_server idx;
        idx.init(&srv);
        idx.add_plt_marker(make_marker(RV_PLT, {0, 0x81, 0x00, 0x05}), one);
        idx.start_tpart_body(50, 133, one, false, false);
        EXPECT_EQ(idx.get_precinct_address(), 50);
        EXPECT_EQ(idx.get_precinct_address(), 178);
        EXPECT_EQ(idx.get_precinct_address(), -1);
    }
    {
        // Many precincts spill over several chain buffers.
        rv_precinct_pointer_server idx;
        idx.init(&srv);
        std::vector<uint8_t> body{0};
        for (int i = 0; i < 200; i++) {
            body.push_back(0x82);
            body.push_back(uint8_t(i & 0x7F));
        }
        idx.add_plt_marker(make_marker(RV_PLT, body), one);
        int64_t total = 0;
        for (int i = 0; i < 200; i++)
            total += 256 + (i & 0x7F);
        idx.start_tpart_body(0, total, one, false, false);
        int64_t a = 0;
        for (int i = 0; i < 200; i++) {
            ASSERT_EQ(idx.get_precinct_address(), a);
            a += 256 + (i & 0x7F);
        }
        EXPECT_EQ(idx.get_precinct_address(), -1);
    }
    EXPECT_EQ(srv.get_full_groups(), 0);
    const std::string cut = "Malformed PLT marker segment encountered in tile-part header.  Segment "
                            "terminates part of the way through a multi-byte packet length "
                            "specification!";
    rv_precinct_pointer_server idx;
    idx.init(&srv);
    expect_error([&] { idx.add_plt_marker(make_marker(RV_PLT, {0, 0x05, 0x81}), one); }, cut);
    std::vector<uint8_t> huge{1};
    huge.insert(huge.end(), 12, 0xFF);
    huge.push_back(0x7F);
    expect_error([&] { idx.add_plt_marker(make_marker(RV_PLT, huge), one); }, cut);
    expect_error([&] { idx.add_plt_marker(make_marker(RV_PLT, {5, 0x05}), one); },
                 "PLT marker segments appear out of order");
    {
        rv_precinct_pointer_server short_idx;
        short_idx.init(&srv);
        short_idx.add_plt_marker(make_marker(RV_PLT, {0, 0x10}), one);
        short_idx.start_tpart_body(0, 40, one, false, false);
        EXPECT_EQ(short_idx.get_precinct_address(), 0);
        expect_error([&] { short_idx.get_precinct_address(); },
                     "Unexpectedly ran out of packet length information");
        rv_precinct_pointer_server split;
        split.init(&srv);
        split.add_plt_marker(make_marker(RV_PLT, {0, 0x10}), one);
        split.start_tpart_body(0, 8, one, false, false);
        expect_error([&] { split.get_precinct_address(); },
                     "Tile-part holds some but not all the packets of a precinct");
    }
    {
        rv_precinct_pointer_server disabled;
        EXPECT_EQ(disabled.get_precinct_address(), 0);
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

TEST(PrecinctIndex, SequencingComesFromTileParameters)
{
    standin_params siz("SIZ", false, false, false);
    auto* cod = new standin_params("COD", true, true, false);
    cod->link(&siz, -1, -1, 3, 1);
    auto* poc = new standin_params("POC", true, false, true);
    poc->link(&siz, -1, -1, 3, 0);
    cod->set("Clayers", 0, 0, 2);
    cod->set("Corder", 0, 0, 4);
    rvd_params* t1 = cod->access_relation(1, -1, 0, false);
    t1->set("Corder", 0, 0, 1); // RLCP in tile 1
    rvd_params* p2 = poc->access_relation(2, -1, 0, false);
    for (int f = 0; f < 6; f++)
        p2->set("Porder", 0, f, f == 2 ? 2 : (f == 5 ? 4 : 0));
    rv_tile_sequencing s0 = rv_get_tile_sequencing(&siz, 0);
    rv_tile_sequencing s1 = rv_get_tile_sequencing(t1, 1);
    rv_tile_sequencing s2 = rv_get_tile_sequencing(poc, 2);
    EXPECT_EQ(s0.layers, 2);
    EXPECT_EQ(s0.order, 4);
    EXPECT_FALSE(s0.has_porder);
    EXPECT_TRUE(s0.allows_index());
    EXPECT_EQ(s1.order, 1);
    EXPECT_FALSE(s1.allows_index());
    EXPECT_TRUE(s2.has_porder);
    EXPECT_FALSE(s2.allows_index());

    rv_buffer_server srv;
    for (int t = 0; t < 3; t++) {
        rv_precinct_pointer_server idx;
        idx.init(&srv);
        idx.add_plt_marker(make_marker(RV_PLT, {0, 10, 20}), &siz, t);
        idx.start_tpart_body(100, 30, &siz, t, false, false);
        EXPECT_EQ(idx.get_precinct_address(), t == 0 ? 100 : -1) << t;
    }
}

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

TEST(PackedHeaders, PpmCases)
{
    rv_buffer_server srv;
    expect_error([&] { rv_pp_markers l; l.add_marker(make_marker(RV_PPM, {})); },
                 "PPM/PPT marker segments must be at least 3 bytes long!");
    {
        // Index 1 arrives first; an index-only segment is fine; Nppm 0 moves nothing.
        rv_pp_markers l;
        l.add_marker(make_marker(RV_PPM, {1, 0, 0, 0, 2, 0xBB, 0xCC}));
        l.add_marker(make_marker(RV_PPM, {2}));
        l.add_marker(make_marker(RV_PPM, {0, 0, 0, 0, 1, 0xAA, 0, 0, 0, 0}));
        rv_pph_input a(&srv), b(&srv), c(&srv);
        l.transfer_tpart(&a);
        l.transfer_tpart(&b);
        l.transfer_tpart(&c);
        EXPECT_EQ(drain(a), std::vector<uint8_t>{0xAA});
        EXPECT_TRUE(drain(b).empty());
        EXPECT_EQ(drain(c), (std::vector<uint8_t>{0xBB, 0xCC}));
        expect_error([&] { l.transfer_tpart(&c); },
                     "Insufficient packet header data in PPM marker segments!");
    }
    expect_error(
        [&] {
            rv_pp_markers l;
            l.add_marker(make_marker(RV_PPM, {4, 1}));
            l.add_marker(make_marker(RV_PPM, {4, 2}));
        },
        "Found multiple PPM/PPT marker segments with identical Zppt/Zppm indices within the same "
        "header scope (main or tile-part header)!");
    expect_error(
        [&] {
            rv_pp_markers l;
            l.add_marker(make_marker(RV_PPM, {0, 0, 0, 0, 9, 1, 2}));
            rv_pph_input in(&srv);
            l.transfer_tpart(&in);
        },
        "Insufficient packet header data in PPM marker segments, or else Nppm values must be "
        "incorrect!");
    // Nppm straddling two segments: both walks gather it.
    for (int ignore_first = 0; ignore_first < 2; ignore_first++) {
        rv_pp_markers l;
        l.add_marker(make_marker(RV_PPM, {0, 0, 0, 0, 1, 0x11, 0, 0}));
        l.add_marker(make_marker(RV_PPM, {1, 0, 2, 0x22, 0x33}));
        rv_pph_input first(&srv), second(&srv);
        if (ignore_first)
            l.ignore_tpart();
        else {
            l.transfer_tpart(&first);
            EXPECT_EQ(drain(first), std::vector<uint8_t>{0x11});
        }
        l.transfer_tpart(&second);
        EXPECT_EQ(drain(second), (std::vector<uint8_t>{0x22, 0x33}));
    }
    EXPECT_EQ(srv.get_full_groups(), 0);
}

TEST(HeaderBits, BitsStuffingAndEnd)
{
    rv_buffer_server srv;
    rv_pph_input in(&srv);
    const uint8_t bytes[] = {0xA5, 0xFF, 0x7F, 0x80};
    in.add_bytes(bytes, 4);
    rv_header_in h(&in);
    EXPECT_EQ(h.get_bits(8), 0xA5u);
    EXPECT_EQ(h.get_bits(8), 0xFFu);
    EXPECT_EQ(h.get_bits(7), 0x7Fu); // only 7 bits after 0xFF
    EXPECT_EQ(h.get_bit(), 1);
    EXPECT_EQ(h.get_bits(7), 0u);
    try {
        h.get_bit();
        FAIL() << "no end signalled";
    } catch (rv_header_in* p) {
        EXPECT_EQ(p, &h);
    }
    // A header ending on 0xFF: finish consumes the stuffed byte.
    rv_pph_input in2(&srv);
    const uint8_t b2[] = {0xFF, 0x00, 0x42};
    in2.add_bytes(b2, 3);
    rv_header_in h2(&in2);
    EXPECT_EQ(h2.get_bits(8), 0xFFu);
    h2.finish();
    uint8_t next;
    ASSERT_TRUE(in2.get(next));
    EXPECT_EQ(next, 0x42);
    // Finishing mid-byte or after an ordinary byte reads nothing.
    rv_pph_input in3(&srv);
    const uint8_t b3[] = {0x12, 0x34};
    in3.add_bytes(b3, 2);
    rv_header_in h3(&in3);
    h3.get_bits(8);
    h3.finish();
    ASSERT_TRUE(in3.get(next));
    EXPECT_EQ(next, 0x34);
    rv_pph_input in4(&srv);
    in4.add_bytes(b2, 1);
    rv_header_in h4(&in4);
    h4.get_bits(8);
    EXPECT_THROW(h4.finish(), rv_header_in*);
}

} // namespace
