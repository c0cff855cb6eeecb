// Tiles over a cached source: a tile whose header bin is missing is built from the main
// header, read again once the bin arrives, and a bad bin raises its error texts.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/tile_cache_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace codec_test;

namespace {

// Main-header bin (SOC up to the first SOT) of a 64x48 single-tile stream, 2 levels.
void load_main_header(fake_cache_source& src)
{
    siz_geometry g;
    std::vector<uint8_t> bytes = build_stream(g, {cod_segment(2), qcd_segment(2)}, false);
    src.main_header.bytes = bytes;
    src.main_header.complete = true;
}

// A tile COD with 16x16 code-blocks instead of 64x64.
std::vector<uint8_t> small_block_cod()
{
    return segment(0xFF52, {0, 0, 0, 1, 0, 2, 2, 2, 0, 1});
}

rvd_coords nominal_block(rvd_tile t)
{
    rvd_coords nominal, first;
    t.access_component(0).access_resolution(2).access_subband(3).get_block_size(nominal, first);
    return nominal;
}

} // namespace

TEST(TileTreeCache, MissingTileHeaderIsReadOnceItArrives)
{
    fake_cache_source src;
    load_main_header(src);
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    ASSERT_TRUE(t.exists());
    EXPECT_EQ(nominal_block(t), rvd_coords(64, 64)); // main-header parameters
    EXPECT_TRUE(t.get_state()->needs_reinitialization);
    t.close();

    // Still missing: opened again with the same parameters.
    t = cs.open_tile(rvd_coords(0, 0));
    EXPECT_EQ(nominal_block(t), rvd_coords(64, 64));
    t.close();

    src.tile_headers[0].bytes = small_block_cod();
    src.tile_headers[0].complete = true;
    t = cs.open_tile(rvd_coords(0, 0));
    EXPECT_EQ(nominal_block(t), rvd_coords(16, 16));
    EXPECT_FALSE(t.get_state()->needs_reinitialization);
    t.close();
    cs.destroy();
}

TEST(TileTreeCache, BadTileHeaderBinsRaiseTheirTexts)
{
    struct c {
        std::vector<uint8_t> bin;
        const char* text;
    };
    std::vector<uint8_t> junk = small_block_cod();
    junk.push_back(0x12);
    junk.push_back(0x34);
    junk.push_back(0x56);
    junk.push_back(0x78);
    const c cases[] = {
        {junk, "Found non-marker code while parsing tile header marker segments.  Chances are "
               "that a marker segment length field is incorrect!"},
        {segment(0xFF61, {0, 1, 2, 3}),
         "You cannot use PPM or PPT marker segments (packed packet headers) with cached "
         "compressed data sources."},
    };
    for (const c& k : cases) {
        fake_cache_source src;
        load_main_header(src);
        src.tile_headers[0].bytes = k.bin;
        src.tile_headers[0].complete = true;
        rvd_codestream cs;
        cs.create(&src);
        for (int i = 0; i < 2; i++) // refused again when retried, and nothing leaks
            EXPECT_NE(error_text([&] { cs.open_tile(rvd_coords(0, 0)); }).find(k.text),
                      std::string::npos)
                << k.text;
        cs.destroy();
    }
}
