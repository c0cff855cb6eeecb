// Transcoding streams that claim thousands of layers under a budget: the layers kept, and
// budgets too small for anything refused.
#include "codec/core/rvd_block.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/siz_params.h"
#include "codec/encode/rvd_block_encoder.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/memory_target.h"
#include "tests/codec/support/opened_codestream.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/transcoder.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

const int many_layers = 16384;
const int num_tiles = 7;          // 8x8 tiles in a row, no levels: one packet per layer each
const int passes_per_block = 16;  // six magnitude planes
const int layer_step = 1024;      // pass z goes to layer z * layer_step

void parse_into(siz_params& p, const std::string& text)
{
    std::istringstream in(text);
    for (std::string a; in >> a;)
        if (!p.parse_string(a.c_str()))
            throw std::runtime_error("not taken: " + a);
}

// Only headers and one byte of packet data per tile (every packet empty, the rest missing),
// as fuzzed streams claim their layers.
std::vector<uint8_t> empty_layers_stream(int layers)
{
    siz_geometry g;
    g.xsiz = 8 * num_tiles;
    g.ysiz = g.xtsiz = g.ytsiz = 8;
    std::vector<uint8_t> cod = cod_segment(0);
    cod[6] = uint8_t(layers >> 8); // Layers field of SGcod
    cod[7] = uint8_t(layers);
    std::vector<uint8_t> v = build_stream(g, {cod, qcd_segment(0)}, false);
    for (int t = 0; t < num_tiles; t++) {
        std::vector<uint8_t> sot = sot_segment(t);
        sot[6] = 0; // Psot: SOT, SOD and one byte
        sot[7] = 0;
        sot[8] = 0;
        sot[9] = 15;
        v.insert(v.end(), sot.begin(), sot.end());
        v.insert(v.end(), {0xFF, 0x93, 0x00});
    }
    v.insert(v.end(), {0xFF, 0xD9});
    return v;
}

// Random samples of six magnitude planes, coded; pass z is the only one of layer
// z * layer_step, the layers between carry nothing.
void fill_spread_block(rvd_block* blk, uint32_t seed)
{
    std::mt19937 rng(seed);
    const int K = blk->magnitude_planes;
    const int n = blk->size.y * blk->size.x;
    if (blk->max_samples < n)
        blk->set_max_samples(n);
    for (int k = 0; k < n; k++) {
        const uint32_t mag = uint32_t(k == 0 ? 63 : rng() % 64) << (31 - K);
        blk->sample_buffer[k] = int32_t(mag | ((rng() & 1) ? 0x80000000u : 0u));
    }
    blk->missing_msbs = K - 6;
    blk->num_passes = passes_per_block;
    static rvd_block_encoder encoder;
    encoder.encode(blk, true, 1.0, 0);
    for (int z = 0; z < blk->num_passes; z++)
        blk->pass_slopes[z] = uint16_t(0xFFFF - z * layer_step);
}

// The spread passes written with one threshold per layer.
std::vector<uint8_t> spread_layers_stream()
{
    init_block_coding_tables();
    siz_params siz;
    parse_into(siz, "Ssize={8," + std::to_string(8 * num_tiles) +
                        "} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no Stiles={8,8}");
    memory_target target;
    rvd_codestream cs;
    cs.create(&siz, &target, nullptr);
    try {
        parse_into(*cs.access_siz(), "Clevels=0 Clayers=" + std::to_string(many_layers) +
                                         " Creversible=yes");
        cs.access_siz()->finalize_all();
        visit_blocks(cs, [](const block_place& at, const rvd_subband&, rvd_block* blk) {
            fill_spread_block(blk, uint32_t(at.tile + 1));
        });
        std::vector<uint16_t> thresholds;
        for (int l = 0; l < many_layers; l++)
            thresholds.push_back(uint16_t(65534 - l));
        cs.flush(nullptr, many_layers, thresholds.data(), true, false);
    } catch (...) {
        cs.destroy();
        throw;
    }
    cs.destroy();
    return target.bytes;
}

// Passes each block of a codestream carries.
std::vector<int> passes_read(const std::vector<uint8_t>& bytes)
{
    opened o(bytes);
    std::vector<int> out;
    visit_blocks(o.cs, [&](const block_place&, const rvd_subband&, rvd_block* blk) {
        out.push_back(blk->num_passes);
    });
    return out;
}

} // namespace

// Budgets below and between the layers of a stream claiming 16384 layers: the most layers
// that fit are kept (the ones after them written as empty packets), and a budget that no
// layer fits is refused.
TEST(TransOutLayers, ManyLayersUnderBudgets)
{
    const std::string too_low = "You have set the byte limit too low.";
    {
        SCOPED_TRACE("empty packets, 64-byte budget");
        memory_target t;
        EXPECT_NE(std::string::npos,
                  error_text([&] { transcode(empty_layers_stream(many_layers), &t, 64); }).find(too_low));
    }
    const std::vector<uint8_t> input = spread_layers_stream();
    memory_target full_target;
    const transcode_result full = transcode(input, &full_target, 0);
    ASSERT_EQ(many_layers, full.layers);
    ASSERT_EQ(size_t(many_layers), full.layer_bytes.size());
    // L layers written: their bytes as in the full stream, one byte for each empty packet of
    // the other layers, and EOC.
    auto bytes_of = [&](int L) {
        return full.layer_bytes[size_t(L - 1)] + int64_t(num_tiles) * (many_layers - L) + 2;
    };
    struct budget_case {
        const char* name;
        int64_t budget;
        int layers; // 0: refused
    };
    const int half = many_layers / 2; // layer `half` is the first after it to carry a pass
    const budget_case cases[] = {
        {"64 bytes", 64, 0},
        {"one byte short of one layer", bytes_of(1) - 1, 0},
        {"one layer", bytes_of(1), layer_step},
        {"half the layers", bytes_of(half), half},
        {"one byte short of the next pass", bytes_of(half + 1) - 1, half},
        {"one byte short of half", bytes_of(half) - 1, half - layer_step},
        {"all but the last pass", bytes_of(many_layers) - 1, (passes_per_block - 1) * layer_step},
    };
    for (const budget_case& c : cases) {
        SCOPED_TRACE(c.name);
        memory_target t;
        if (c.layers == 0) {
            EXPECT_NE(std::string::npos, error_text([&] { transcode(input, &t, c.budget); }).find(too_low));
            continue;
        }
        const transcode_result r = transcode(input, &t, c.budget);
        EXPECT_EQ(c.layers, r.layers);
        EXPECT_EQ(bytes_of(c.layers), int64_t(t.bytes.size()));
        // Pass z sits in layer z * layer_step: the layers kept hold that many passes.
        const int kept = (c.layers - 1) / layer_step + 1;
        EXPECT_EQ(std::vector<int>(num_tiles, kept), passes_read(t.bytes));
    }
}
