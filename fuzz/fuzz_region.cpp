// A whole codestream rendered through the region decompressor with the decode step's call
// pattern: the mapping configured from the codestream, process called until the region is
// done (at most a bounded number of calls), then finish. Input: one option byte (bits 0-1
// levels discarded, bit 2 increments of 1000 instead of 1000000, bit 3 expansion 2/1),
// then the codestream bytes.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "platform/ModuleStartup.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

throwing_handler error_handler;
rvd_message quiet_handler;

class bytes_source : public rvd_compressed_source {
public:
    bytes_source(const uint8_t* d, size_t n) : data(d), size(int64_t(n)) {}
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE; }
    int read(uint8_t* buf, int n) override
    {
        const int k = int(std::max<int64_t>(0, std::min<int64_t>(n, size - pos)));
        if (k > 0)
            std::memcpy(buf, data + pos, size_t(k));
        pos += k;
        return k;
    }
    bool seek(int64_t offset) override
    {
        pos = std::clamp<int64_t>(offset, 0, size);
        return true;
    }
    int64_t get_pos() override { return pos; }

private:
    const uint8_t* data;
    int64_t size;
    int64_t pos = 0;
};

void render(rvd_codestream cs, int discard, int increment, int expand)
{
    rvd_channel_mapping mapping;
    mapping.configure(cs);
    cs.apply_input_restrictions(0, 0, discard, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    rvd_dims dims;
    cs.get_dims(mapping.source_components[0], dims, true);
    // Header-stated sizes are not bounded by the input; keep the buffers small (and the
    // expanded region on the canvas).
    const int64_t py = int64_t(dims.pos.y) * expand, px = int64_t(dims.pos.x) * expand;
    const int64_t sy = int64_t(dims.size.y) * expand, sx = int64_t(dims.size.x) * expand;
    const int64_t lim = std::numeric_limits<int>::max();
    if (sy <= 0 || sx <= 0 || sy * sx > (int64_t(1) << 20) || py + sy > lim || px + sx > lim)
        return;
    const rvd_dims region(rvd_coords(static_cast<int>(py), static_cast<int>(px)),
                          rvd_coords(static_cast<int>(sy), static_cast<int>(sx)));
    const size_t n = size_t(region.size.y) * size_t(region.size.x);
    rvd_region_decompressor d;
    if (!d.start(cs, &mapping, -1, discard, 0, region, rvd_coords(expand, expand)))
        return;
    const int depth = cs.get_bit_depth(mapping.source_components[0], true);
    std::vector<uint32_t> packed(mapping.num_channels > 1 ? n : 0);
    std::vector<uint8_t> b8(mapping.num_channels == 1 && depth <= 8 ? n : 0);
    std::vector<uint16_t> b16(mapping.num_channels == 1 && depth > 8 ? n : 0);
    const int offsets[1] = {0};
    rvd_dims incomplete = region, fresh;
    for (int calls = 0; calls < 20000; ++calls) {
        bool more;
        if (!packed.empty())
            more = d.process(packed.data(), region.pos, region.size.x, increment, int(n), incomplete, fresh);
        else if (!b8.empty())
            more = d.process(b8.data(), offsets, 1, region.pos, region.size.x, increment, int(n),
                             incomplete, fresh, 0, true);
        else
            more = d.process(b16.data(), offsets, 1, region.pos, region.size.x, increment, int(n),
                             incomplete, fresh, 0, true);
        if (!more && incomplete.is_empty())
            break;
    }
    d.finish();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool tables = StartupRegistry::global().load();
    (void)tables;
    rvd_customize_errors(&error_handler);
    rvd_customize_warnings(&quiet_handler);
    if (size < 1)
        return 0;
    const int discard = data[0] & 3;
    const int increment = (data[0] & 4) ? 1000 : 1000000;
    const int expand = (data[0] & 8) ? 2 : 1;
    bytes_source source(data + 1, size - 1);
    rvd_codestream cs;
    try {
        cs.create(&source);
        cs.set_persistent();
        render(cs, discard, increment, expand);
    } catch (const fuzz_codec_error&) {
    } catch (const std::bad_alloc&) {
    }
    if (cs.exists()) {
        try {
            cs.destroy();
        } catch (const fuzz_codec_error&) {
        }
    }
    return 0;
}
