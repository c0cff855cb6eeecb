// Attribute strings from arbitrary text: each input line is parsed (for all tiles and
// for one tile) and looked up against a tree of the test classes; the tree is then
// printed. Rejections must arrive through the codec's error sink as exceptions.
#include "codec/core/rvd_message.h"
#include "tests/codec/support/test_clusters.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace {
throwing_handler handler;
codec_test::string_message sink;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rvd_customize_errors(&handler);
    rvd_customize_warnings(nullptr);
    std::string text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<codec_test::test_params> root = codec_test::make_test_tree(4, 3);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.find('\0') != std::string::npos)
            line.resize(line.find('\0'));
        const char* name = nullptr;
        try {
            root->find_string(line.c_str(), name);
        } catch (const fuzz_codec_error&) {
        }
        try {
            root->parse_string(line.c_str());
        } catch (const fuzz_codec_error&) {
        }
        try {
            root->parse_string(line.c_str(), static_cast<int>(line.size() % 5) - 1);
        } catch (const fuzz_codec_error&) {
        }
    }
    try {
        sink.text.clear();
        root->finalize_all(false);
        root->textualize_attributes(sink, -1, 3, false);
    } catch (const fuzz_codec_error&) {
    }
    return 0;
}
