// Transcoding fuzzed codestreams: every code-block of the input copied into an output
// codestream with the same parameters, written by trans_out under a budget, and the
// result read back. Errors must arrive through the error sink only.
// Input: a budget byte (0: no limit, else value x 64 bytes), then the codestream.
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/core/rvd_block.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_compressed_target.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_tile_comp.h"
#include "codec/core/siz_params.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

throwing_handler error_handler;
rvd_message quiet_handler;

class in_memory : public rvd_compressed_source {
public:
    in_memory(const uint8_t* d, size_t n) : data(d), size(n) {}
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY; }
    int read(uint8_t* buf, int n) override
    {
        const size_t k = std::min<size_t>(size_t(std::max(n, 0)), size - pos);
        if (k > 0)
            std::memcpy(buf, data + pos, k);
        pos += k;
        return int(k);
    }
    bool seek(int64_t offset) override
    {
        pos = size_t(std::clamp<int64_t>(offset, 0, int64_t(size)));
        return true;
    }
    int64_t get_pos() override { return int64_t(pos); }
    const uint8_t* access_memory(int64_t& p, const uint8_t*& lim) override
    {
        p = int64_t(pos);
        lim = data + size;
        return data + pos;
    }

private:
    const uint8_t* data;
    size_t size, pos = 0;
};

class memory_target : public rvd_compressed_target {
public:
    bool write(const uint8_t* buf, int n) override
    {
        if (rewrite_at >= 0) {
            std::memcpy(bytes.data() + rewrite_at, buf, size_t(n));
            rewrite_at += n;
        } else {
            bytes.insert(bytes.end(), buf, buf + n);
        }
        return true;
    }
    bool start_rewrite(int64_t back) override
    {
        if (back < 0 || back > int64_t(bytes.size()))
            return false;
        rewrite_at = int64_t(bytes.size()) - back;
        return true;
    }
    bool end_rewrite() override
    {
        rewrite_at = -1;
        return true;
    }
    std::vector<uint8_t> bytes;

private:
    int64_t rewrite_at = -1;
};

// Small enough to transcode quickly: area, components and tiles bounded.
bool small_enough(rvd_codestream& cs)
{
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    if (int64_t(tiles.size.y) * tiles.size.x > 64 || cs.get_num_components(true) > 4)
        return false;
    for (int c = 0; c < cs.get_num_components(true); c++) {
        rvd_dims d;
        cs.get_dims(c, d, true);
        if (int64_t(d.size.y) * d.size.x > (int64_t(1) << 18))
            return false;
    }
    return true;
}

void copy_tile(rvd_tile it, rvd_tile ot)
{
    for (int c = 0; c < it.get_num_components(); c++) {
        rvd_tile_comp ic = it.access_component(c), oc = ot.access_component(c);
        if (!ic.exists() || !oc.exists())
            continue;
        for (int r = 0; r < ic.get_num_resolutions(); r++) {
            rvd_resolution ir = ic.access_resolution(r), orr = oc.access_resolution(r);
            int min_b = 0;
            const int nb = ir.get_valid_band_indices(min_b);
            for (int b = min_b; b < min_b + nb; b++) {
                rvd_subband ib = ir.access_subband(b), ob = orr.access_subband(b);
                rvd_dims blocks;
                ib.get_valid_blocks(blocks);
                for (int y = blocks.pos.y; y < blocks.pos.y + blocks.size.y; y++)
                    for (int x = blocks.pos.x; x < blocks.pos.x + blocks.size.x; x++) {
                        rvd_block* src = ib.open_block(rvd_coords(y, x));
                        rvd_block* dst = ob.open_block(rvd_coords(y, x));
                        int bytes = 0;
                        for (int z = 0; z < src->num_passes; z++)
                            bytes += src->pass_lengths[z];
                        dst->set_max_passes(src->num_passes + 1);
                        dst->set_max_bytes(bytes + 1);
                        dst->missing_msbs = src->missing_msbs;
                        dst->num_passes = src->num_passes;
                        std::copy(src->pass_lengths, src->pass_lengths + src->num_passes,
                                  dst->pass_lengths);
                        std::copy(src->pass_slopes, src->pass_slopes + src->num_passes,
                                  dst->pass_slopes);
                        if (bytes > 0)
                            std::memcpy(dst->byte_buffer, src->byte_buffer, size_t(bytes));
                        ib.close_block(src);
                        ob.close_block(dst);
                    }
            }
        }
    }
}

void transcode(rvd_codestream& in, rvd_codestream& out, memory_target& t, int64_t budget)
{
    in.set_persistent();
    rvd_dims tiles;
    in.get_valid_tiles(tiles);
    for (int y = 0; y < tiles.size.y; y++)
        for (int x = 0; x < tiles.size.x; x++)
            in.open_tile(rvd_coords(tiles.pos.y + y, tiles.pos.x + x)).close();
    out.create(in.access_siz(), &t, nullptr);
    out.access_siz()->finalize_all();
    int layers = 1;
    for (int y = 0; y < tiles.size.y; y++)
        for (int x = 0; x < tiles.size.x; x++) {
            const rvd_coords idx(tiles.pos.y + y, tiles.pos.x + x);
            rvd_tile it = in.open_tile(idx);
            rvd_tile ot = out.open_tile(idx);
            layers = std::max(layers, it.get_num_layers());
            copy_tile(it, ot);
            it.close();
            ot.close();
        }
    std::vector<int64_t> sizes(size_t(layers), 0);
    out.trans_out(budget, sizes.data(), layers);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool installed = [] {
        rvd_customize_errors(&error_handler);
        rvd_customize_warnings(&quiet_handler);
        rv_init_mq_tables();
        rv_init_context_tables();
        return true;
    }();
    (void)installed;
    if (size < 2)
        return 0;
    const int64_t budget = int64_t(data[0]) * 64;
    in_memory src(data + 1, size - 1);
    rvd_codestream in, out;
    memory_target t;
    try {
        in.create(&src);
        if (small_enough(in))
            transcode(in, out, t, budget);
    } catch (const fuzz_codec_error&) {
    }
    // Whatever happened, both codestreams must come apart cleanly.
    out.destroy();
    in.destroy();
    if (t.bytes.size() > 2 && budget > 0 && int64_t(t.bytes.size()) > budget)
        __builtin_trap(); // the budget was not kept
    // What was written reads back.
    if (!t.bytes.empty()) {
        in_memory again(t.bytes.data(), t.bytes.size());
        rvd_codestream back;
        try {
            back.create(&again);
        } catch (const fuzz_codec_error&) {
        }
        back.destroy();
    }
    return 0;
}
