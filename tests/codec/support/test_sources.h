// Compressed-data sources for codec tests: memory, seekable file, sequential and a fake
// data-bin cache; plus the generated test streams and their facts.
#pragma once

#include "codec/core/rvd_compressed_source.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace codec_test {

// Bytes in memory, read in place (capabilities seekable | memory).
class memory_source : public rvd_compressed_source {
public:
    explicit memory_source(std::vector<uint8_t> bytes) : data(std::move(bytes)) {}
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY; }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override { return pos; }
    const uint8_t* access_memory(int64_t& p, const uint8_t*& lim) override;

    std::vector<uint8_t> data;
    int64_t pos = 0;
    int reads = 0; // read calls made
};

// A file read through stdio (capability seekable).
class file_source : public rvd_compressed_source {
public:
    explicit file_source(const std::string& path);
    ~file_source() override;
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE; }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override;

private:
    std::FILE* fp;
};

// Bytes handed out in order only (capability sequential); max_chunk > 0 makes reads
// return at most that many bytes, as a pipe might.
class sequential_source : public rvd_compressed_source {
public:
    explicit sequential_source(std::vector<uint8_t> bytes, int chunk = 0)
        : data(std::move(bytes)), max_chunk(chunk)
    {
    }
    int read(uint8_t* buf, int num_bytes) override;

    std::vector<uint8_t> data;
    size_t pos = 0;
    int max_chunk;
};

// A data-bin cache (capabilities seekable | cached): a main-header bin, tile-header bins
// and precinct bins by id, each with a completeness flag. Reads give the contiguous bytes
// of the bin in scope; seeks are clamped to it.
class fake_cache_source : public rvd_compressed_source {
public:
    struct bin {
        std::vector<uint8_t> bytes;
        bool complete = false;
    };
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_CACHED; }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override { return pos; }
    bool set_tileheader_scope(int tnum, int num_tiles) override;
    bool set_precinct_scope(int64_t unique_id) override;

    bin main_header;
    std::map<int, bin> tile_headers;
    std::map<int64_t, bin> precincts;

private:
    const bin* scope = &main_header;
    bin empty_bin;
    int64_t pos = 0;
};

std::vector<uint8_t> read_file(const std::string& path);

// Captured warnings (since the test started) whose text holds the fragment.
int warning_count(const std::string& fragment);

// Folder of generated streams, made on first use by tools/make_test_streams.py.
std::string stream_dir(const std::string& group = "input");
std::string conformance_dir();
std::vector<std::string> conformance_names(); // "p0_01", ... (codestreams only)

// One line of a facts file.
struct fact_marker {
    int64_t offset;
    uint16_t code;
    int length;
    std::vector<uint8_t> body;
};
struct fact_sot {
    int64_t offset;
    int isot, psot, tpsot, tnsot;
};
struct stream_facts {
    std::vector<fact_marker> markers; // in stream order, tile-part headers included
    std::vector<fact_sot> sots;
    std::vector<int64_t> sods;
    int64_t eoc = -1;
};
stream_facts load_facts(const std::string& path);

} // namespace codec_test
