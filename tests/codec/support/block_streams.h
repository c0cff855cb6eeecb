// Single code-block codestreams (one tile, component, resolution, code-block and layer;
// no SOP, no EPH) taken apart on the test side, so the block decoder can be fed the
// encoder's own segments and checked against the source image.
#pragma once

#include "codec/coding/rvd_block.h"
#include "codec/core/rvd_message.h"

#include <cstdint>
#include <string>
#include <vector>

namespace block_test {

struct extracted_block {
    int width = 0, height = 0;
    int depth = 0;
    bool is_signed = false;
    int modes = 0;
    int kmax = 0;            // magnitude bit-planes of the band
    int missing_msbs = 0;
    int num_passes = 0;
    std::vector<int32_t> pass_lengths; // segment length on its first pass, 0 on the others
    std::vector<int> segment_first;    // first pass of each segment
    std::vector<uint8_t> body;         // all segments, in order
    int header_bytes = 0;
    int packet_bytes = 0;              // bytes between SOD and the end of the tile-part
};

// Throws std::runtime_error when the stream does not have the expected shape.
extracted_block extract_block(const std::vector<uint8_t>& codestream);

// Fills a record for decoding the first `passes` passes of the block.
void fill_block(rvd_block& block, const extracted_block& eb, int passes, bool resilient = false,
                bool fussy = false);

// Source sample value of a decoded word: sign x (magnitude >> (31 - kmax)).
inline int word_value(int32_t word, int kmax)
{
    uint32_t w = static_cast<uint32_t>(word);
    int mag = static_cast<int>((w & 0x7FFFFFFF) >> (31 - kmax));
    return (w >> 31) ? -mag : mag;
}

// Whitespace-separated integers.
std::vector<int> read_samples(const std::string& path);

// The generated single-block streams, made on first use.
std::string block_stream_dir();

struct block_error {
    std::string text;
};

// Installs, for its lifetime, an error handler that throws block_error and a warning
// handler that records texts; puts back the handlers it found.
class scoped_handlers {
public:
    scoped_handlers();
    ~scoped_handlers();
    scoped_handlers(const scoped_handlers&) = delete;
    scoped_handlers& operator=(const scoped_handlers&) = delete;

    std::vector<std::string> warnings;

private:
    class error_sink : public rvd_message {
    public:
        void start_message() override { text.clear(); }
        void put_text(const char* t) override { text += t; }
        void flush(bool end) override
        {
            if (end)
                throw block_error{text};
        }
        std::string text;
    };
    class warning_sink : public rvd_message {
    public:
        explicit warning_sink(std::vector<std::string>& out) : out_(out) {}
        void start_message() override { text.clear(); }
        void put_text(const char* t) override { text += t; }
        void flush(bool end) override
        {
            if (end)
                out_.push_back(text);
        }
        std::string text;

    private:
        std::vector<std::string>& out_;
    };
    error_sink errors_;
    warning_sink warnings_{warnings};
    rvd_message* old_errors_;
    rvd_message* old_warnings_;
};

} // namespace block_test
