// Shared by the codec's fuzz targets: an error sink that ends the raising code by
// throwing (never while another exception unwinds), and a cached source serving a
// main-header bin, a few tile-header bins and empty precinct bins.
#pragma once

#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"

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
