// A whole codestream decoded through the decode tool's loop: every row of every output
// component pulled from each tile's multi-component network. Input: one option byte
// (bit 0 resilient, bit 1 32-bit lines, bits 2-3 levels discarded, bit 4 fastest), then
// the codestream bytes.
#include "tools/decode/codec_message_sinks.h"
#include "tools/decode/decode_error.h"
#include "tools/decode/decode_sources.h"
#include "tools/decode/image_decoder.h"

#include <new>

namespace {

throwing_codec_sink error_sink;
printing_codec_sink quiet_sink(nullptr);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rvd_customize_errors(&error_sink);
    rvd_customize_warnings(&quiet_sink);
    if (size < 1)
        return 0;
    decode_settings s;
    s.mode = (data[0] & 1) ? decode_parse_mode::resilient : decode_parse_mode::fast;
    s.precise = (data[0] & 2) != 0;
    s.reduce = (data[0] >> 2) & 3;
    s.fastest = (data[0] & 16) != 0;
    // Header-stated sizes are not bounded by the input; keep the images small (256 x 256 in
    // all: larger ones cost most of the run under the sanitizer and reach no other code).
    s.max_samples = int64_t(1) << 16;
    decode_memory_source source(data + 1, int64_t(size - 1));
    try {
        decode_components(&source, s);
    } catch (const codec_failure&) {
    } catch (const decode_error&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
