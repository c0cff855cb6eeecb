// Opens the decode tool's input as a compressed-data source of the kind asked for,
// through the codestream locator, so that JP2-family files decode too.
#pragma once

#include "codec/core/rvd_compressed_source.h"
#include "tools/decode/decode_options.h"

#include <memory>
#include <string>

class decode_input {
public:
    // Throws decode_error when the file cannot be read or holds no codestream. A large
    // codestream held in memory is read by up to `readers` threads at once.
    decode_input(const std::string& path, decode_source_kind kind, int readers = 1);
    // A fresh source positioned at the codestream's first byte.
    std::unique_ptr<rvd_compressed_source> open_source() const;

private:
    bool read_parts(uint8_t* to, int parts) const;

    std::string path;
    decode_source_kind kind;
    int64_t offset = 0;
    int64_t length = 0;
    // The codestream, for memory sources: pages mapped in one call before the read fills
    // them (huge pages for large files), as faulting small pages in one at a time costs
    // more than the read.
    struct unmap {
        size_t size;
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, unmap> bytes{nullptr, unmap{0}};
};
