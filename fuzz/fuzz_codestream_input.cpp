// Arbitrary bytes through the compressed-data input, the marker reader, the TLM, PLT,
// PPM and PPT collectors and walks, in-packet marker detection and header bits.
// Input: a mode byte, a chunk byte, then the codestream bytes.
#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_header_in.h"
#include "codec/core/rv_marker.h"
#include "codec/core/rv_pp_markers.h"
#include "codec/core/rv_pph_input.h"
#include "codec/core/rv_precinct_pointer_server.h"
#include "codec/core/rv_tpart_pointer_server.h"
#include "codec/core/rvd_message.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

class bytes_source : public rvd_compressed_source {
public:
    bytes_source(const uint8_t* d, size_t n, bool memory, int chunk)
        : data(d), size(n), in_memory(memory), max_chunk(chunk)
    {
    }
    int get_capabilities() override
    {
        return in_memory ? (RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY)
                         : RVD_SOURCE_CAP_SEQUENTIAL;
    }
    int read(uint8_t* buf, int n) override
    {
        size_t k = std::min<size_t>(size_t(n), size - pos);
        if (max_chunk > 0)
            k = std::min<size_t>(k, size_t(max_chunk));
        if (k > 0)
            std::memcpy(buf, data + pos, k);
        pos += k;
        return int(k);
    }
    bool seek(int64_t offset) override
    {
        if (!in_memory)
            return false;
        pos = size_t(std::clamp<int64_t>(offset, 0, int64_t(size)));
        return true;
    }
    const uint8_t* access_memory(int64_t& p, const uint8_t*& lim) override
    {
        if (!in_memory)
            return nullptr;
        p = int64_t(pos);
        lim = data + size;
        return data + pos;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool in_memory;
    int max_chunk;
};

void read_packet(rv_compressed_input& in, bool reject_all, int bits)
{
    in.enable_marker_throwing(reject_all);
    try {
        rv_header_in h(&in);
        for (int i = 0; i < bits; i++)
            h.get_bit();
        h.finish();
        uint8_t buf[64];
        in.read(buf, 40);
        in.ignore(100);
        uint8_t b;
        while (in.get(b)) {
        }
    } catch (const rv_marker_exception&) {
    } catch (rv_header_in*) {
    }
    in.disable_marker_throwing();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    install_quiet_sinks();
    if (size < 2)
        return 0;
    const int mode = data[0], chunk = data[1];
    bytes_source src(data + 2, size - 2, (mode & 1) != 0, chunk & 0x3F);
    rv_compressed_input in(&src);
    if (mode & 0x80)
        in.set_max_bytes(int64_t(chunk) * 37);
    rv_marker marker(&in);
    marker.set_resilient((mode & 2) != 0);
    const bool exclude = (mode & 4) != 0, skip = (mode & 8) != 0;
    rv_tile_sequencing seq;
    seq.layers = 1 + ((chunk >> 6) & 3);
    seq.order = (mode >> 5) & 3;

    rv_buffer_server server;
    rv_tpart_pointer_server tlm;
    rv_pp_markers ppm, ppt;
    rv_precinct_pointer_server plt;
    plt.init(&server);
    int64_t first_sot = -1;
    int markers = 0;
    try {
        while (markers++ < 4096 && marker.read(exclude, skip)) {
            switch (marker.get_code()) {
            case RV_TLM:
                tlm.add_tlm_marker(marker);
                break;
            case RV_PPM:
                ppm.add_marker(marker);
                break;
            case RV_PPT:
                ppt.add_marker(marker);
                break;
            case RV_PLT:
                plt.add_plt_marker(marker, seq);
                break;
            case RV_SOT:
                if (first_sot < 0)
                    first_sot = in.get_offset() - 12;
                break;
            case RV_SOD:
                read_packet(in, (mode & 16) != 0, chunk);
                in.set_suspend((markers & 1) != 0);
                break;
            default:
                break;
            }
        }
    } catch (const fuzz_codec_error&) {
    }
    in.set_suspend(false);
    in.get_bytes_read();
    in.get_suspended_bytes();

    try {
        std::vector<rv_tile_ref> refs(size_t(1 + (chunk & 0x3F)));
        tlm.translate_markers(std::max<int64_t>(first_sot, 0), int(refs.size()), refs.data());
        for (rv_tile_ref& r : refs)
            tlm.add_address(&r, 1);
    } catch (const fuzz_codec_error&) {
    }
    try {
        for (int i = 0; !ppm.empty(); i++) {
            rv_pph_input pph(&server);
            if (i & 1)
                ppm.ignore_tpart();
            else {
                ppm.transfer_tpart(&pph);
                rv_header_in h(&pph);
                try {
                    for (;;)
                        h.get_bit();
                } catch (rv_header_in*) {
                }
            }
        }
    } catch (const fuzz_codec_error&) {
    }
    try {
        rv_pph_input pph(&server);
        ppt.transfer_tpart(&pph);
        uint8_t b;
        while (pph.get(b)) {
        }
    } catch (const fuzz_codec_error&) {
    }
    try {
        plt.start_tpart_body(0, int64_t(size) * 8, seq, false, (mode & 64) != 0);
        for (int i = 0; i < 100000 && plt.get_precinct_address() >= 0; i++) {
        }
    } catch (const fuzz_codec_error&) {
    }
    return 0;
}
