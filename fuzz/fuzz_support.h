// Shared by the codec's fuzz targets: an error sink that ends the raising code by
// throwing (never while another exception unwinds), a source over the input bytes, a
// cached source serving a main-header bin, a few tile-header bins and empty precinct bins,
// big-endian writers for made-up headers, and the reader of marker-segment records.
#pragma once

#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_params.h"
#include "tests/codec/support/codestream_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

struct fuzz_codec_error {};

class throwing_handler : public rvd_message {
public:
    void flush(bool end_of_message) override
    {
        if (end_of_message && std::uncaught_exceptions() == 0)
            throw fuzz_codec_error{};
    }
};

// Codec errors through a throwing_handler and warnings dropped, set once per process.
inline void install_quiet_sinks()
{
    static throwing_handler errors;
    static rvd_message quiet;
    static bool installed = [] {
        rvd_customize_errors(&errors);
        rvd_customize_warnings(&quiet);
        return true;
    }();
    (void)installed;
}

// Big-endian fields of made-up marker segments.
using codec_test::put16;
using codec_test::put32;

// The input bytes as a source: seekable and in memory, or, when `sequential`, read in order
// only (no seeking, no position, no direct access).
class fuzz_memory_source : public rvd_compressed_source {
public:
    fuzz_memory_source(const uint8_t* d, size_t n, bool sequential = false)
        : data(d), size(n), sequential(sequential)
    {
    }
    int get_capabilities() override
    {
        return sequential ? RVD_SOURCE_CAP_SEQUENTIAL : RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY;
    }
    int read(uint8_t* buf, int n) override
    {
        const size_t k = std::min<size_t>(size_t(std::max(n, 0)), size - pos);
        if (k > 0)
            std::memcpy(buf, data + pos, k);
        pos += k;
        return int(k);
    }
    bool seek(int64_t offset) override
    {
        if (sequential)
            return false;
        pos = size_t(std::clamp<int64_t>(offset, 0, int64_t(size)));
        return true;
    }
    int64_t get_pos() override { return sequential ? -1 : int64_t(pos); }
    const uint8_t* access_memory(int64_t& p, const uint8_t*& lim) override
    {
        if (sequential)
            return nullptr;
        p = int64_t(pos);
        lim = data + size;
        return data + pos;
    }

private:
    const uint8_t* data;
    size_t size, pos = 0;
    bool sequential;
};

// Translates the records from data[pos] on into `root`: code (2 bytes), tile (1 byte,
// 255 = main header, else taken modulo `tiles`), tile-part (1 byte), body length (2 bytes,
// cut to what is left) and the body. A rejected segment is passed over.
inline void translate_records(rvd_params* root, const uint8_t* data, size_t size, size_t pos,
                              int tiles)
{
    while (pos + 6 <= size) {
        uint16_t code = static_cast<uint16_t>((data[pos] << 8) | data[pos + 1]);
        int tile = (data[pos + 2] == 255) ? -1 : data[pos + 2] % tiles;
        int tpart = data[pos + 3];
        size_t len = (size_t(data[pos + 4]) << 8) | data[pos + 5];
        pos += 6;
        if (len > size - pos)
            len = size - pos;
        try {
            root->translate_marker_segment(code, static_cast<int>(len), data + pos, tile, tpart);
        } catch (const fuzz_codec_error&) {
        }
        pos += len;
    }
}

class fuzz_cache_source : public rvd_compressed_source {
public:
    explicit fuzz_cache_source(size_t num_bins) : bins(num_bins), present(num_bins, true) {}

    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_CACHED; }
    int read(uint8_t* buf, int n) override
    {
        const size_t k = std::min<size_t>(size_t(n), scope->size() - pos);
        if (k > 0)
            std::memcpy(buf, scope->data() + pos, k);
        pos += k;
        return int(k);
    }
    bool seek(int64_t offset) override
    {
        pos = size_t(std::clamp<int64_t>(offset, 0, int64_t(scope->size())));
        return true;
    }
    int64_t get_pos() override { return int64_t(pos); }
    bool set_tileheader_scope(int tnum, int num_tiles) override
    {
        if (tnum < 0 || tnum >= num_tiles || size_t(tnum) >= bins.size() || !present[size_t(tnum)])
            return false;
        scope = &bins[size_t(tnum)];
        pos = 0;
        return true;
    }
    bool set_precinct_scope(int64_t) override
    {
        scope = &empty;
        pos = 0;
        return true;
    }

    std::vector<uint8_t> header;
    std::vector<std::vector<uint8_t>> bins; // tile-header bins by tile number
    std::vector<bool> present;              // whether the cache holds each tile's bin

private:
    std::vector<uint8_t> empty;
    const std::vector<uint8_t>* scope = &header;
    size_t pos = 0;
};
