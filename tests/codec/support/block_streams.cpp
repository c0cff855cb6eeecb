#include "tests/codec/support/block_streams.h"

#include "tests/codec/support/test_sources.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace block_test {
namespace {

uint32_t be(const std::vector<uint8_t>& d, size_t pos, int n)
{
    if (pos + static_cast<size_t>(n) > d.size())
        throw std::runtime_error("stream ends inside a field");
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | d[pos + static_cast<size_t>(i)];
    return v;
}

// Packet-header bits, most significant first; after 0xFF the next byte has 7 bits.
class header_bits {
public:
    header_bits(const std::vector<uint8_t>& d, size_t start) : data(d), pos(start) {}
    int bit()
    {
        if (left == 0) {
            if (pos >= data.size())
                throw std::runtime_error("packet header runs off the stream");
            current = data[pos++];
            left = last_ff ? 7 : 8;
            last_ff = current == 0xFF;
        }
        left--;
        return (current >> left) & 1;
    }
    int bits(int n)
    {
        int v = 0;
        while (n-- > 0)
            v = (v << 1) | bit();
        return v;
    }
    // First byte after the header: a final 0xFF is followed by a stuffed byte.
    size_t end() const { return last_ff ? pos + 1 : pos; }

private:
    const std::vector<uint8_t>& data;
    size_t pos;
    int left = 0;
    uint8_t current = 0;
    bool last_ff = false;
};

int floor_log2(int n)
{
    int k = 0;
    while (n > 1) {
        n >>= 1;
        k++;
    }
    return k;
}

} // namespace

extracted_block extract_block(const std::vector<uint8_t>& d)
{
    extracted_block eb;
    if (be(d, 0, 2) != 0xFF4F)
        throw std::runtime_error("no SOC");
    size_t pos = 2;
    int sqcd = -1, spqcd = -1;
    size_t sod = 0, tile_end = 0;
    while (true) {
        uint32_t code = be(d, pos, 2);
        if (code == 0xFF93) {
            sod = pos + 2;
            break;
        }
        uint32_t len = be(d, pos + 2, 2);
        size_t body = pos + 4;
        if (code == 0xFF51) {
            eb.width = static_cast<int>(be(d, body + 2, 4) - be(d, body + 10, 4));
            eb.height = static_cast<int>(be(d, body + 6, 4) - be(d, body + 14, 4));
            uint32_t ssiz = be(d, body + 36, 1);
            eb.is_signed = (ssiz & 0x80) != 0;
            eb.depth = static_cast<int>(ssiz & 0x7F) + 1;
        } else if (code == 0xFF52) {
            eb.modes = static_cast<int>(be(d, body + 8, 1));
        } else if (code == 0xFF5C) {
            sqcd = static_cast<int>(be(d, body, 1));
            spqcd = static_cast<int>(be(d, body + 1, 1));
        } else if (code == 0xFF90) {
            uint32_t psot = be(d, body + 2, 4);
            tile_end = psot == 0 ? d.size() - 2 : pos + psot;
        }
        pos += 2 + len;
    }
    if (sqcd < 0 || tile_end == 0 || tile_end > d.size())
        throw std::runtime_error("no QCD or tile-part");
    eb.kmax = (sqcd >> 5) + (spqcd >> 3) - 1;
    eb.packet_bytes = static_cast<int>(tile_end - sod);

    header_bits h(d, sod);
    if (h.bit() != 1 || h.bit() != 1)
        throw std::runtime_error("empty packet or block not included");
    while (h.bit() == 0)
        eb.missing_msbs++;
    int passes = 1;
    if (h.bit()) {
        passes = 2;
        if (h.bit()) {
            int v = h.bits(2);
            passes = 3 + v;
            if (v == 3) {
                v = h.bits(5);
                passes = 6 + v;
                if (v == 31)
                    passes = 37 + h.bits(7);
            }
        }
    }
    eb.num_passes = passes;
    int lblock = 3;
    while (h.bit())
        lblock++;
    std::vector<int> seg_passes;
    if (eb.modes & 0x04) {
        seg_passes.assign(static_cast<size_t>(passes), 1);
    } else if (eb.modes & 0x01) {
        int left = passes;
        int n = std::min(10, left);
        seg_passes.push_back(n);
        left -= n;
        bool two = true;
        while (left > 0) {
            n = std::min(two ? 2 : 1, left);
            seg_passes.push_back(n);
            left -= n;
            two = !two;
        }
    } else {
        seg_passes.push_back(passes);
    }
    int first = 0, total = 0;
    eb.pass_lengths.assign(static_cast<size_t>(passes), 0);
    for (int n : seg_passes) {
        int len = h.bits(lblock + floor_log2(n));
        eb.pass_lengths[static_cast<size_t>(first)] = len;
        eb.segment_first.push_back(first);
        first += n;
        total += len;
    }
    size_t body = h.end();
    eb.header_bytes = static_cast<int>(body - sod);
    if (body + static_cast<size_t>(total) > d.size())
        throw std::runtime_error("segments run off the stream");
    eb.body.assign(d.begin() + static_cast<long>(body), d.begin() + static_cast<long>(body + total));
    return eb;
}

void fill_block(rvd_block& block, const extracted_block& eb, int passes, bool resilient, bool fussy)
{
    block.size = rvd_coords(eb.height, eb.width);
    block.modes = eb.modes;
    block.orientation = 0;
    block.resilient = resilient;
    block.fussy = fussy;
    block.magnitude_planes = eb.kmax;
    block.missing_msbs = eb.missing_msbs;
    block.num_passes = passes;
    block.set_max_passes(std::max(passes, 1));
    block.set_max_bytes(static_cast<int>(eb.body.size()) + 2);
    int bytes = 0;
    for (int z = 0; z < passes; z++) {
        block.pass_lengths[z] = eb.pass_lengths[static_cast<size_t>(z)];
        bytes += eb.pass_lengths[static_cast<size_t>(z)];
    }
    std::copy(eb.body.begin(), eb.body.begin() + bytes, block.byte_buffer);
}

std::vector<int> read_samples(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::vector<int> out;
    int v;
    while (in >> v)
        out.push_back(v);
    return out;
}

std::string block_stream_dir() { return codec_test::stream_dir("blocks"); }

scoped_handlers::scoped_handlers()
    : old_errors_(rvd_customize_errors(&errors_)), old_warnings_(rvd_customize_warnings(&warnings_))
{
}

scoped_handlers::~scoped_handlers()
{
    rvd_customize_errors(old_errors_);
    rvd_customize_warnings(old_warnings_);
}

} // namespace block_test
