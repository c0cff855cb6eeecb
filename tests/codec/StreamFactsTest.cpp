// SIZ, RGN, POC and CRG segments of the conformance set and of opj_compress streams,
// checked against the independent scanner's facts and opj_dump, and regenerated.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/param_tree.h"
#include "tests/codec/support/stream_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace codec_test;

namespace {
int64_t ceil_div(int64_t a, int64_t b)
{
    return (a + b - 1) / b;
}

std::unique_ptr<siz_params> tree_for(const param_facts& f)
{
    int64_t tiles = ceil_div(f.siz[1] - f.siz[7], f.siz[5]) * ceil_div(f.siz[2] - f.siz[8], f.siz[6]);
    return make_param_tree(static_cast<int>(tiles), static_cast<int>(f.siz[9]), true);
}

bool translate(rvd_params* root, const segment_fact* s, int tile = -1)
{
    return root->translate_marker_segment(s->code, static_cast<int>(s->body.size()), s->body.data(), tile, 0);
}

// The segments of the given code in a generated header, each as (code, length, body).
std::vector<std::vector<uint8_t>> segments_of(const std::vector<uint8_t>& bytes, uint16_t code)
{
    std::vector<std::vector<uint8_t>> out;
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        size_t len = (size_t(bytes[pos + 2]) << 8) | bytes[pos + 3];
        uint16_t c = static_cast<uint16_t>((bytes[pos] << 8) | bytes[pos + 1]);
        if (c == code)
            out.emplace_back(bytes.begin() + long(pos) + 4, bytes.begin() + long(pos + 2 + len));
        pos += 2 + len;
    }
    return out;
}

std::vector<uint8_t> generate(rvd_params* root, int tile)
{
    vector_output out;
    root->generate_marker_segments(&out, tile, 0);
    return out.finish();
}

template <class F>
std::string error_text_or_empty(F&& f)
{
    try {
        f();
    } catch (const codec_error& e) {
        return e.what();
    }
    return std::string();
}

// Independent decoding of POC records from a body: 7 or 9 bytes each.
std::vector<std::vector<int>> poc_records(const std::vector<uint8_t>& b, bool wide)
{
    std::vector<std::vector<int>> out;
    size_t step = wide ? 9 : 7;
    for (size_t p = 0; p + step <= b.size(); p += step) {
        if (wide)
            out.push_back({b[p], (b[p + 1] << 8) | b[p + 2], (b[p + 3] << 8) | b[p + 4], b[p + 5],
                           (b[p + 6] << 8) | b[p + 7], b[p + 8]});
        else
            out.push_back({b[p], b[p + 1], (b[p + 2] << 8) | b[p + 3], b[p + 4], b[p + 5] ? b[p + 5] : 256, b[p + 6]});
    }
    return out;
}

std::vector<std::vector<int>> porder_records(rvd_params* poc)
{
    std::vector<std::vector<int>> out;
    int v = 0;
    for (int r = 0; poc != nullptr && poc->get("Porder", r, 0, v, false, false); r++) {
        std::vector<int> rec(6);
        for (int f = 0; f < 6; f++)
            poc->get("Porder", r, f, rec[size_t(f)], false, false);
        out.push_back(rec);
    }
    return out;
}

void check_siz_values(rvd_params* root, const param_facts& f)
{
    int v = 0;
    const char* pairs[4] = {"Ssize", "Sorigin", "Stiles", "Stile_origin"};
    for (int k = 0; k < 4; k++) {
        ASSERT_TRUE(root->get(pairs[k], 0, 1, v));
        EXPECT_EQ(f.siz[size_t(1 + 2 * k)], v) << f.name << " " << pairs[k];
        ASSERT_TRUE(root->get(pairs[k], 0, 0, v));
        EXPECT_EQ(f.siz[size_t(2 + 2 * k)], v) << f.name << " " << pairs[k];
    }
    ASSERT_EQ(f.dump_image.size(), 5u) << f.name;
    EXPECT_EQ(f.dump_image[4], [&] { root->get("Scomponents", 0, 0, v); return v; }());
    for (size_t c = 0; c < f.dump_comps.size(); c++) {
        const std::vector<int>& d = f.dump_comps[c];
        bool sgn = false;
        int prec = 0, dy = 0, dx = 0;
        root->get("Sprecision", int(c), 0, prec);
        root->get("Ssigned", int(c), 0, sgn);
        root->get("Ssampling", int(c), 0, dy);
        root->get("Ssampling", int(c), 1, dx);
        EXPECT_EQ((std::vector<int>{d[0], d[1], d[2], d[3]}), (std::vector<int>{dx, dy, prec, sgn ? 1 : 0}))
            << f.name << " component " << c;
    }
    if (f.dump_tiles.size() == 6) {
        EXPECT_EQ(f.dump_tiles[0], [&] { root->get("Stile_origin", 0, 1, v); return v; }());
        EXPECT_EQ(f.dump_tiles[3], [&] { root->get("Stiles", 0, 0, v); return v; }());
    }
}
} // namespace

TEST(ConformanceMarkers, SizCrgRgnRegenerateAndPocRecordsMatchTheFacts)
{
    std::vector<std::string> names = param_conformance_names();
    ASSERT_EQ(22u, names.size());
    int rgn_seen = 0, crg_seen = 0, poc_seen = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        param_facts f;
        ASSERT_TRUE(load_param_facts(name, f)) << name;
        ASSERT_EQ(10u, f.siz.size()) << name;
        std::unique_ptr<siz_params> root = tree_for(f);
        bool wide = f.siz[9] > 256;
        for (uint16_t code : {0xFF51, 0xFF63, 0xFF5E, 0xFF52, 0xFF53, 0xFF5C, 0xFF5D})
            for (const segment_fact* s : f.find(code))
                ASSERT_TRUE(translate(root.get(), s)) << name;
        root->finalize_all(true);
        check_siz_values(root.get(), f);
        root->clear_marks();
        std::vector<uint8_t> header;
        std::string failure = error_text_or_empty([&] { header = generate(root.get(), -1); });
        ASSERT_EQ("", failure);
        for (uint16_t code : {0xFF51, 0xFF63, 0xFF5E, 0xFF52, 0xFF53, 0xFF5C, 0xFF5D}) {
            std::vector<std::vector<uint8_t>> want;
            for (const segment_fact* s : f.find(code))
                want.push_back(s->body);
            EXPECT_EQ(want, segments_of(header, code)) << name << " code " << std::hex << code;
            if (code == 0xFF5E)
                rgn_seen += int(want.size());
            if (code == 0xFF63)
                crg_seen += int(want.size());
        }
        // POC: records as read (the sequencer clips what does not fit).
        std::unique_ptr<siz_params> poc_tree = tree_for(f);
        for (const segment_fact* s : f.find(0xFF51))
            translate(poc_tree.get(), s);
        for (const segment_fact* s : f.find(0xFF5F)) {
            ASSERT_TRUE(translate(poc_tree.get(), s)) << name;
            EXPECT_EQ(poc_records(s->body, wide), porder_records(poc_tree->access_cluster("POC")))
                << name;
            poc_seen++;
        }
    }
    EXPECT_GE(rgn_seen, 2);
    EXPECT_GE(crg_seen, 2);
    EXPECT_GE(poc_seen, 2);

    // Known values named by hand.
    param_facts p13;
    ASSERT_TRUE(load_param_facts("conf_p0_13", p13));
    std::unique_ptr<siz_params> t = tree_for(p13);
    for (uint16_t code : {0xFF51, 0xFF5E, 0xFF5F})
        for (const segment_fact* s : p13.find(code))
            translate(t.get(), s);
    int v = 0;
    EXPECT_TRUE(t->get("Scomponents", 0, 0, v));
    EXPECT_EQ(257, v);
    EXPECT_TRUE(t->access_cluster("RGN")->access_relation(-1, 3, 0, true)->get("Rshift", 0, 0, v));
    EXPECT_EQ(11, v);
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 0, 1, 33, 128, 1}, {0, 128, 1, 33, 257, 4}}),
              porder_records(t->access_cluster("POC")));
}

TEST(GeneratedStreamMarkers, SizValuesEqualTheToolsAndRegenerate)
{
    for (const char* name : {"tiles32", "res11x13", "tiled_origin", "sub2x2", "raw_sub", "raw12s",
                             "raw16u", "roi", "poc"}) {
        param_facts f;
        ASSERT_TRUE(load_param_facts(name, f)) << name;
        std::unique_ptr<siz_params> root = tree_for(f);
        const std::vector<const segment_fact*> siz = f.find(0xFF51);
        ASSERT_EQ(1u, siz.size());
        ASSERT_TRUE(translate(root.get(), siz[0]));
        for (uint16_t code : {0xFF5E, 0xFF52, 0xFF53, 0xFF5C, 0xFF5D})
            for (const segment_fact* s : f.find(code))
                ASSERT_TRUE(translate(root.get(), s));
        root->finalize_all(true);
        check_siz_values(root.get(), f);
        root->clear_marks();
        std::vector<uint8_t> header = generate(root.get(), -1);
        EXPECT_EQ((std::vector<std::vector<uint8_t>>{siz[0]->body}), segments_of(header, 0xFF51)) << name;
        for (uint16_t code : {0xFF5E, 0xFF52, 0xFF53, 0xFF5C, 0xFF5D}) {
            std::vector<std::vector<uint8_t>> want;
            for (const segment_fact* s : f.find(code))
                want.push_back(s->body);
            EXPECT_EQ(want, segments_of(header, code)) << name << " code " << std::hex << code;
        }
    }
    param_facts roi;
    ASSERT_TRUE(load_param_facts("roi", roi));
    std::unique_ptr<siz_params> r = tree_for(roi);
    for (uint16_t code : {0xFF51, 0xFF5E})
        for (const segment_fact* s : roi.find(code))
            translate(r.get(), s);
    int shift = 0;
    ASSERT_TRUE(r->access_cluster("RGN")->access_relation(-1, 0, 0, true)->get("Rshift", 0, 0, shift));
    EXPECT_EQ(20, shift);

    // The POC of tile 1 (1-based on the command line) sits in the first tile-part header.
    param_facts poc;
    ASSERT_TRUE(load_param_facts("poc", poc));
    std::unique_ptr<siz_params> p = tree_for(poc);
    translate(p.get(), poc.find(0xFF51)[0]);
    for (uint16_t code : {0xFF52, 0xFF53, 0xFF5C, 0xFF5D})
        for (const segment_fact* s : poc.find(code))
            translate(p.get(), s);
    p->finalize_all(true);
    std::vector<const segment_fact*> seg = poc.find(0xFF5F, 0);
    ASSERT_EQ(1u, seg.size());
    ASSERT_TRUE(translate(p.get(), seg[0], 0));
    rvd_params* obj = p->access_cluster("POC")->access_unique(0, -1, 0);
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 0, 1, 3, 3, 4}, {3, 0, 1, 6, 3, 0}}), porder_records(obj));
    p->clear_marks();
    std::vector<std::vector<uint8_t>> again = segments_of(generate(p.get(), 0), 0xFF5F);
    ASSERT_EQ(1u, again.size());
    std::vector<uint8_t> expect = seg[0]->body;
    expect[5] = 0; // CEpoc equal to the component count is written as 0
    expect[12] = 0;
    EXPECT_EQ(expect, again[0]);
}

TEST(GeneratedStreamMarkers, CodingStyleAndQuantisationEqualTheToolsAndRegenerate)
{
    std::vector<std::string> names = {"blk16x32", "blk64x16", "blk4x1024", "precincts",
                                      "irreversible", "sop_eph", "mct0", "mct1"};
    for (int n = 1; n <= 8; n++)
        names.push_back("levels" + std::to_string(n));
    for (int m : {1, 2, 4, 8, 16, 32, 38, 63})
        names.push_back("modes" + std::to_string(m));
    for (const char* p : {"LRCP", "RLCP", "RPCL", "PCRL", "CPRL"})
        names.push_back(std::string("order_") + p);
    for (const std::string& name : param_conformance_names())
        names.push_back(name);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        param_facts f;
        ASSERT_TRUE(load_param_facts(name, f));
        ASSERT_EQ(4u, f.dump_cod.size());
        std::unique_ptr<siz_params> root = tree_for(f);
        for (uint16_t code : {0xFF51, 0xFF52, 0xFF53, 0xFF5C, 0xFF5D})
            for (const segment_fact* s : f.find(code))
                ASSERT_TRUE(translate(root.get(), s));
        root->finalize_all(true);
        rvd_params* cod = root->access_cluster("COD");
        rvd_params* qcd = root->access_cluster("QCD");
        int v = 0;
        bool b = false;
        cod->get("Corder", 0, 0, v);
        EXPECT_EQ(f.dump_cod[1], v);
        cod->get("Clayers", 0, 0, v);
        EXPECT_EQ(f.dump_cod[2], v);
        cod->get("Cycc", 0, 0, b);
        EXPECT_EQ(f.dump_cod[3], b ? 1 : 0);
        int csty = 0;
        cod->get("Cuse_precincts", 0, 0, b);
        csty |= b ? 1 : 0;
        cod->get("Cuse_sop", 0, 0, b);
        csty |= b ? 2 : 0;
        cod->get("Cuse_eph", 0, 0, b);
        csty |= b ? 4 : 0;
        EXPECT_EQ(f.dump_cod[0], csty);
        for (size_t c = 0; c < f.dump_tccp.size() && c < 4; c++) {
            const param_facts::tccp& t = f.dump_tccp[c];
            rvd_params* cc = cod->access_relation(-1, int(c), 0, true);
            rvd_params* qc = qcd->access_relation(-1, int(c), 0, true);
            int levels = 0, blk = 0, modes = 0, kernels = 0, guard = 0;
            bool rev = false, derived = false, precincts = false;
            cc->get("Clevels", 0, 0, levels);
            EXPECT_EQ(t.numresolutions, levels + 1) << c;
            cc->get("Cblk", 0, 1, blk);
            EXPECT_EQ(1 << t.cblkw, blk) << c;
            cc->get("Cblk", 0, 0, blk);
            EXPECT_EQ(1 << t.cblkh, blk) << c;
            cc->get("Cmodes", 0, 0, modes);
            EXPECT_EQ(t.cblksty, modes) << c;
            cc->get("Creversible", 0, 0, rev);
            cc->get("Ckernels", 0, 0, kernels);
            EXPECT_EQ(t.qmfbid, rev ? 1 : 0) << c;
            EXPECT_EQ(t.qmfbid, kernels) << c;
            cc->get("Cuse_precincts", 0, 0, precincts);
            EXPECT_EQ(t.csty & 1, precincts ? 1 : 0) << c;
            if (precincts)
                for (int r = 0; r <= levels && size_t(2 * r + 1) < t.prec.size(); r++) {
                    int p[2];
                    cc->get("Cprecincts", levels - r, 1, p[0]);
                    cc->get("Cprecincts", levels - r, 0, p[1]);
                    EXPECT_EQ(1 << t.prec[size_t(2 * r)], p[0]) << c << " r" << r;
                    EXPECT_EQ(1 << t.prec[size_t(2 * r + 1)], p[1]) << c << " r" << r;
                }
            qc->get("Qguard", 0, 0, guard);
            EXPECT_EQ(t.numgbits, guard) << c;
            bool ranges = qc->get("Qabs_ranges", 0, 0, v);
            if (!ranges)
                qc->get("Qderived", 0, 0, derived);
            EXPECT_EQ(t.qntsty, ranges ? 0 : (derived ? 1 : 2)) << c;
            for (size_t i = 0; 2 * i + 1 < t.steps.size(); i++) {
                if (ranges) {
                    ASSERT_TRUE(qc->get("Qabs_ranges", int(i), 0, v)) << c << " band " << i;
                    EXPECT_EQ(t.steps[2 * i + 1], v) << c << " band " << i;
                } else {
                    float step = 0;
                    ASSERT_TRUE(qc->get("Qabs_steps", int(i), 0, step)) << c << " band " << i;
                    int word = qcd_params::encode_step(step);
                    EXPECT_EQ(t.steps[2 * i], word & 0x7FF) << c << " band " << i;
                    EXPECT_EQ(t.steps[2 * i + 1], word >> 11) << c << " band " << i;
                }
            }
        }
        root->clear_marks();
        std::vector<uint8_t> header;
        ASSERT_EQ("", error_text_or_empty([&] { header = generate(root.get(), -1); }));
        for (uint16_t code : {0xFF52, 0xFF53, 0xFF5C, 0xFF5D}) {
            std::vector<std::vector<uint8_t>> want;
            for (const segment_fact* s : f.find(code))
                want.push_back(s->body);
            EXPECT_EQ(want, segments_of(header, code)) << std::hex << code;
        }
    }
}

TEST(ConformanceMarkers, TilePartHeaderStylesRegenerate)
{
    int tiles_checked = 0;
    for (const std::string& name : param_conformance_names()) {
        SCOPED_TRACE(name);
        param_facts f;
        ASSERT_TRUE(load_param_facts(name, f));
        std::unique_ptr<siz_params> root = tree_for(f);
        const std::vector<uint16_t> codes = {0xFF52, 0xFF53, 0xFF5C, 0xFF5D, 0xFF5E};
        translate(root.get(), f.find(0xFF51)[0]);
        for (uint16_t code : codes)
            for (const segment_fact* s : f.find(code))
                translate(root.get(), s);
        std::set<int> tiles;
        for (const segment_fact& s : f.segments)
            if (!s.main && s.tpart == 0 && std::find(codes.begin(), codes.end(), s.code) != codes.end()) {
                ASSERT_TRUE(translate(root.get(), &s, s.tile));
                tiles.insert(s.tile);
            }
        root->finalize_all(true);
        root->clear_marks();
        generate(root.get(), -1); // the main header's segments are in force
        for (int t : tiles) {
            std::vector<uint8_t> header;
            ASSERT_EQ("", error_text_or_empty([&] { header = generate(root.get(), t); }));
            for (uint16_t code : codes) {
                std::vector<std::vector<uint8_t>> want;
                for (const segment_fact* s : f.find(code, t))
                    want.push_back(s->body);
                EXPECT_EQ(want, segments_of(header, code)) << "tile " << t << " code " << std::hex << code;
            }
            tiles_checked++;
        }
    }
    EXPECT_GT(tiles_checked, 0);
}
