// The encode tool's image readers on untrusted bytes, and every image they accept of at
// most 4096 samples compressed losslessly and decoded again to the same samples. Input:
// one option byte (bit 0: raw samples, laid out by the next five bytes: width, height,
// components, bits and signedness, each reduced to a small range; bit 1: no levels), then
// the file's bytes.
#include "tools/decode/codec_message_sinks.h"
#include "tools/decode/decode_sources.h"
#include "tools/decode/image_decoder.h"
#include "tools/encode/image_readers.h"

#include <cstdlib>
#include <new>

namespace {

throwing_codec_sink error_sink;
printing_codec_sink quiet_sink(nullptr);

class vector_target : public rvd_compressed_target {
public:
    bool write(const uint8_t* buf, int n) override
    {
        bytes.insert(bytes.end(), buf, buf + n);
        return true;
    }
    std::vector<uint8_t> bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rvd_customize_errors(&error_sink);
    rvd_customize_warnings(&quiet_sink);
    if (size < 1)
        return 0;
    const uint8_t opt = data[0];
    size_t p = 1;
    raw_layout raw;
    if (opt & 1) {
        if (size < 6)
            return 0;
        raw.width = 1 + data[1] % 40;
        raw.height = 1 + data[2] % 40;
        raw.comps = 1 + data[3] % 4;
        raw.depth = 1 + data[4] % 16;
        raw.is_signed = (data[5] & 1) != 0;
        p = 6;
    }
    std::vector<encode_component> image;
    try {
        image = parse_image(std::vector<uint8_t>(data + p, data + size), (opt & 1) ? &raw : nullptr);
    } catch (const encode_error&) {
        return 0;
    }
    uint64_t samples = 0;
    for (const encode_component& c : image)
        samples += uint64_t(c.width) * uint64_t(c.height);
    if (samples > 4096)
        return 0;
    encode_settings s;
    if (opt & 2)
        s.attributes.push_back("Clevels=0");
    vector_target t;
    encode_components(image, s, &t); // a failure here is a fault: no catch
    decode_memory_source src(t.bytes.data(), int64_t(t.bytes.size()));
    const std::vector<pgx_image> back = decode_components(&src, decode_settings());
    if (back.size() != image.size())
        std::abort();
    for (size_t c = 0; c < image.size(); c++)
        if (back[c].samples != image[c].samples)
            std::abort();
    return 0;
}
