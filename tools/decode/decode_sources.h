// Compressed-data sources of the decode tool: bytes in memory, read in place; and a
// range of a file, read through stdio either seekably or strictly in order.
#pragma once

#include "codec/core/rvd_compressed_source.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Does not own the bytes.
class decode_memory_source : public rvd_compressed_source {
public:
    decode_memory_source(const uint8_t* bytes, int64_t size) : data(bytes), size(size) {}
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY; }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override { return pos; }
    const uint8_t* access_memory(int64_t& p, const uint8_t*& lim) override;

private:
    const uint8_t* data;
    int64_t size;
    int64_t pos = 0;
};

// Bytes offset .. offset + length - 1 of a file, seen as positions 0 .. length - 1.
class decode_file_source : public rvd_compressed_source {
public:
    // Throws decode_error when the file cannot be opened.
    decode_file_source(const std::string& path, int64_t offset, int64_t length, bool seekable);
    ~decode_file_source() override;
    decode_file_source(const decode_file_source&) = delete;
    decode_file_source& operator=(const decode_file_source&) = delete;
    int get_capabilities() override
    {
        return seekable ? RVD_SOURCE_CAP_SEEKABLE : RVD_SOURCE_CAP_SEQUENTIAL;
    }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override { return pos; }
    int64_t get_length() override { return length; }

private:
    std::FILE* fp = nullptr;
    int64_t base;
    int64_t length;
    int64_t pos = 0;
    bool seekable;
};
