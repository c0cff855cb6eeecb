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
#include "tests/codec/support/transcoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

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

void transcode(rvd_codestream& in, rvd_codestream& out, memory_target& t, int64_t budget)
{
    in.set_persistent();
    std::vector<int64_t> sizes;
    codec_test::transcode_open(in, out, &t, budget, sizes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    install_quiet_sinks();
    static bool tables = [] {
        rv_init_mq_tables();
        rv_init_context_tables();
        return true;
    }();
    (void)tables;
    if (size < 2)
        return 0;
    const int64_t budget = int64_t(data[0]) * 64;
    fuzz_memory_source src(data + 1, size - 1);
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
        fuzz_memory_source again(t.bytes.data(), t.bytes.size());
        rvd_codestream back;
        try {
            back.create(&again);
        } catch (const fuzz_codec_error&) {
        }
        back.destroy();
    }
    return 0;
}
