// One image component as PGX: a text header "PG ML|LM [+|-]depth width height" and the
// samples in 1, 2 or 4 bytes each. Used to write decoded components and to read the
// conformance references.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

class pgx_error : public std::runtime_error {
public:
    explicit pgx_error(const std::string& what) : std::runtime_error(what) {}
};

struct pgx_image {
    int width = 0;
    int height = 0;
    int depth = 0;          // bits per sample, 1..32
    bool is_signed = false;
    std::vector<int32_t> samples; // row by row, width * height
    // Position of the first sample on the component's grid (apparent geometry); not
    // stored in the file.
    int y0 = 0, x0 = 0;

    // Bytes each sample takes in the file.
    static int bytes_per_sample(int depth) { return depth <= 8 ? 1 : (depth <= 16 ? 2 : 4); }
};

// Parses a whole PGX file held in memory; throws pgx_error on anything malformed or
// short. Samples wider than the stated depth are kept as stored.
pgx_image parse_pgx(const std::vector<uint8_t>& bytes);
pgx_image read_pgx(const std::string& path);

// Big-endian ("ML") with the sign before the depth, as "PG ML +8 128 128".
std::vector<uint8_t> format_pgx(const pgx_image& image);
void write_pgx(const std::string& path, const pgx_image& image);

// Writes one PGX file row by row, in the format of format_pgx: the header from the
// image's shape (its samples are not used), then `height` rows of `width` samples.
// `finish` checks that every row came and everything reached the file; a writer
// destroyed unfinished removes its file.
class pgx_row_writer {
public:
    pgx_row_writer(const std::string& path, const pgx_image& shape);
    ~pgx_row_writer();
    pgx_row_writer(const pgx_row_writer&) = delete;
    pgx_row_writer& operator=(const pgx_row_writer&) = delete;

    void put(const int32_t* samples);
    // The same in two steps: `format` gives a row's bytes (from any thread), `put_bytes`
    // writes `count` formatted rows in order.
    size_t row_bytes() const { return size_t(width) * size_t(nbytes); }
    void format(const int32_t* samples, uint8_t* row) const;
    void put_bytes(const uint8_t* rows, int count);
    void finish();

private:
    std::string path;
    std::FILE* file = nullptr;
    int width, height, nbytes;
    int rows_written = 0;
    int64_t size = 0;      // of the whole file
    bool in_place = false; // written over an existing file, cut to `size` at the end
    std::vector<uint8_t> bytes;
};
