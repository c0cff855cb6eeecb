// Arbitrary bytes as meta-data bin 0 (complete when the first byte is odd), with a fixed
// valid main header; read_header runs until it succeeds, stalls twice or raises a codec
// error, then the four descriptions are read.
#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_source.h"
#include "codec/jp2/rvd_cache.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

struct CodecError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ThrowingSink : public rvd_message {
public:
    void flush(bool end) override
    {
        if (end)
            throw CodecError("codec error");
    }
};

const uint8_t kMainHeader[] = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00,
                               0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40,
                               0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                               0x07, 0x01, 0x01};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1 << 20))
        return 0;
    static ThrowingSink* sink = new ThrowingSink;
    rvd_message* old = rvd_customize_errors(sink);
    const bool complete = data[0] & 1;
    rvd_cache cache;
    cache.add_to_databin(4, 0, 0, data + 1, 0, int(size - 1), complete);
    cache.add_to_databin(3, 0, 0, kMainHeader, 0, int(sizeof kMainHeader), true);
    jp2_family_src family;
    family.open(&cache);
    {
        jp2_source source;
        try {
            int stalls = 0;
            bool done = false;
            while (!done && stalls < 2) {
                if (!source.is_open() && !source.open(&family, jp2_locator())) {
                    ++stalls;
                    continue;
                }
                done = source.read_header();
                stalls += !done;
            }
            if (done) {
                auto d = source.get_dimensions();
                for (int c = 0; c < d.get_num_components(); ++c)
                    (void)d.get_bit_depth(c);
                auto p = source.get_palette();
                for (int t = 0; t < p.get_num_luts(); ++t)
                    (void)p.get_lut(t);
                auto ch = source.get_channels();
                for (int c = 0; c < ch.get_num_colours(); ++c) {
                    int comp, lut, cs;
                    ch.get_colour_mapping(c, comp, lut, cs);
                    ch.get_opacity_mapping(c, comp, lut, cs);
                }
                auto colour = source.get_colour();
                float curve[256], m[9];
                for (int c = 0; c < 3; ++c)
                    colour.get_curve(c, 8, curve);
                colour.get_colorant_matrix(m);
            }
        } catch (const CodecError&) {
        }
    }
    rvd_customize_errors(old);
    return 0;
}
