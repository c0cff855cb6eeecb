// The end of a tile: its parameter objects deleted (and nothing else), its attributes
// textualised, its reference emptied or discarded; and tiles rebuilt after a codestream
// restart or a tile restart.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/param_tree.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace codec_test;

namespace {

// Collects everything written to it.
class text_sink : public rvd_message {
public:
    void put_text(const char* t) override { text += t; }
    void flush(bool) override { flushes++; }
    std::string text;
    int flushes = 0;
};

int count_of(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        n++;
    return n;
}

// Main header of a 128x96 image in two 64x96 tiles, 2 levels, 64x64 blocks.
void load_main_header(fake_cache_source& src)
{
    siz_geometry g;
    g.xsiz = 128;
    g.ysiz = g.ytsiz = 96;
    g.xtsiz = 64;
    src.main_header.bytes = build_stream(g, {cod_segment(2), qcd_segment(2)}, false);
    src.main_header.complete = true;
}

// A tile COD with blocks of 2^(e+2) samples.
std::vector<uint8_t> block_cod(int e) { return segment(0xFF52, {0, 0, 0, 1, 0, 2, uint8_t(e), uint8_t(e), 0, 1}); }

int block_width(rvd_codestream cs, int tile)
{
    rvd_tile t = cs.open_tile(rvd_coords(0, tile));
    rvd_coords nominal, first;
    t.access_component(0).access_resolution(2).access_subband(1).get_block_size(nominal, first);
    t.close();
    return nominal.x;
}

} // namespace

TEST(TileTreeRelease, RemovingATileDeletesExactlyItsObjects)
{
    std::unique_ptr<siz_params> root = make_param_tree(3, 2, true);
    set_simple_siz(root.get(), 2);
    rvd_params* cod = root->access_cluster("COD");
    rvd_params* poc = root->access_cluster("POC");
    cod->set("Clayers", 0, 0, 3);
    for (int t = 0; t < 3; t++) {
        cod->access_relation(t, -1, 0, false)->set("Clayers", 0, 0, 10 + t);
        cod->access_relation(t, 1, 0, false)->set("Clevels", 0, 0, 1 + t);
        // Two instances of a multi-instance cluster in each tile.
        poc->access_relation(t, -1, 0, false)->set("Porder", 0, 0, 0);
        rvd_params* second = poc->access_relation(t, -1, 0, false)->new_instance();
        ASSERT_NE(second, nullptr);
        second->set("Porder", 0, 0, 0);
    }
    root->remove_tile(1);
    int v = 0;
    for (int t : {0, 2}) {
        ASSERT_NE(cod->access_unique(t, -1, 0), nullptr);
        ASSERT_NE(cod->access_unique(t, 1, 0), nullptr);
        ASSERT_NE(poc->access_unique(t, -1, 1), nullptr);
        cod->access_relation(t, -1, 0, true)->get("Clayers", 0, 0, v);
        EXPECT_EQ(v, 10 + t);
    }
    EXPECT_EQ(cod->access_unique(1, -1, 0), nullptr);
    EXPECT_EQ(cod->access_unique(1, 1, 0), nullptr);
    EXPECT_EQ(cod->access_unique(1, 0, 0), nullptr);
    EXPECT_EQ(poc->access_unique(1, -1, 0), nullptr);
    EXPECT_EQ(root->access_cluster("QCD")->access_unique(1, -1, 0), nullptr);
    // The tile now sees the main header, and can have objects of its own again.
    cod->access_relation(1, -1, 0, true)->get("Clayers", 0, 0, v);
    EXPECT_EQ(v, 3);
    cod->access_relation(1, 1, 0, false)->set("Clevels", 0, 0, 7);
    cod->access_relation(1, 1, 0, true)->get("Clevels", 0, 0, v);
    EXPECT_EQ(v, 7);
    // Removing a tile without objects, or the main header, changes nothing.
    root->remove_tile(1);
    root->remove_tile(-1);
    cod->access_relation(-1, -1, 0, true)->get("Clayers", 0, 0, v);
    EXPECT_EQ(v, 3);
    cod->access_relation(0, 1, 0, true)->get("Clevels", 0, 0, v);
    EXPECT_EQ(v, 1);
}

TEST(TileTreeRelease, TilesWithHeadersAreTextualisedWhenTheyEnd)
{
    fake_cache_source src;
    load_main_header(src);
    src.tile_headers[1].bytes = block_cod(2);
    src.tile_headers[1].complete = true;
    src.tile_headers[0].complete = true; // an empty header: main-header parameters
    rvd_codestream cs;
    cs.create(&src);
    text_sink sink;
    cs.set_textualization(&sink);
    const std::string main_text = sink.text;
    EXPECT_EQ(block_width(cs, 0), 64);
    EXPECT_EQ(block_width(cs, 1), 16);
    EXPECT_EQ(sink.text, main_text); // nothing until the tiles end
    cs.destroy();
    const std::string tail = sink.text.substr(main_text.size());
    EXPECT_EQ(count_of(tail, "\n>> New attributes for tile 0:\n"), 1);
    const size_t at = tail.find("\n>> New attributes for tile 1:\n");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(tail.find("Cblk:T1={16,16}", at), std::string::npos) << tail;
}

TEST(TileTreeRelease, RestartRereadsTileHeadersFromTheNewSource)
{
    fake_cache_source src;
    load_main_header(src);
    src.tile_headers[1].bytes = block_cod(2);
    src.tile_headers[1].complete = true;
    rvd_codestream cs;
    cs.create(&src);
    cs.enable_restart();
    cs.set_persistent();
    EXPECT_EQ(block_width(cs, 1), 16);

    // Same main header, tile 1's header not yet in the cache: the tile's own objects went
    // with it, so it is built from the main header.
    fake_cache_source second;
    load_main_header(second);
    cs.restart(&second);
    EXPECT_EQ(block_width(cs, 1), 64);
    // Its header arrives with other values.
    second.tile_headers[1].bytes = block_cod(3);
    second.tile_headers[1].complete = true;
    EXPECT_EQ(block_width(cs, 1), 32);
    cs.destroy();
}

TEST(TileTreeRelease, UnloadedTilesKeepTheirObjectsRestartedTilesAreRebuilt)
{
    fake_cache_source src;
    load_main_header(src);
    src.tile_headers[0].bytes = block_cod(2);
    src.tile_headers[0].complete = true;
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    cs.set_tile_unloading_threshold(0);
    text_sink sink;
    cs.set_textualization(&sink);
    EXPECT_EQ(block_width(cs, 0), 16);
    rv_codestream* st = cs.get_state();
    EXPECT_EQ(st->tile_refs[0].tile, nullptr); // unloaded, may be built again
    EXPECT_NE(st->siz->access_cluster("COD")->access_unique(0, -1, 0), nullptr);
    EXPECT_EQ(count_of(sink.text, ">> New attributes for tile 0:"), 1);
    // Built again, its header is read afresh rather than refused as a repeat.
    EXPECT_EQ(block_width(cs, 0), 16);
    EXPECT_EQ(warning_count("Ignoring a repeated marker segment"), 0);

    // A restarted tile keeps its record and is built again when next opened.
    cs.set_tile_unloading_threshold(64);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rv_tile* rec = t.get_state();
    t.close();
    src.tile_headers[0].bytes = block_cod(3);
    rec->restart();
    EXPECT_TRUE(rec->needs_reinitialization);
    EXPECT_EQ(block_width(cs, 0), 32);
    EXPECT_EQ(st->tile_refs[0].tile, rec);
    cs.destroy();
}
