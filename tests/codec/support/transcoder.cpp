#include "tests/codec/support/transcoder.h"

#include "tests/codec/support/test_sources.h"

namespace codec_test {

transcode_result transcode(const std::vector<uint8_t>& input, rvd_compressed_target* target,
                           int64_t budget)
{
    memory_source source(input);
    rvd_codestream in;
    in.create(&source);
    rvd_codestream out;
    transcode_result res;
    try {
        in.set_fussy();
        in.set_persistent();
        res.layers = transcode_open(in, out, target, budget, res.layer_bytes);
    } catch (...) {
        out.destroy();
        in.destroy();
        throw;
    }
    out.destroy();
    in.destroy();
    return res;
}

} // namespace codec_test
