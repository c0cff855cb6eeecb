#include "tools/decode/pgx_image.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_space(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Cursor over the header; every step checks that bytes remain.
struct header_reader {
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;

    void skip_spaces()
    {
        while (pos < bytes.size() && is_space(bytes[pos]))
            pos++;
    }
    bool take(char c)
    {
        if (pos < bytes.size() && bytes[pos] == uint8_t(c)) {
            pos++;
            return true;
        }
        return false;
    }
    int64_t number(const char* what)
    {
        size_t start = pos;
        int64_t v = 0;
        while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9') {
            v = v * 10 + (bytes[pos] - '0');
            if (v > std::numeric_limits<int32_t>::max())
                throw pgx_error(std::string("PGX ") + what + " is too large");
            pos++;
        }
        if (pos == start)
            throw pgx_error(std::string("PGX header has no ") + what);
        return v;
    }
};

} // namespace

pgx_image parse_pgx(const std::vector<uint8_t>& bytes)
{
    header_reader in{bytes};
    if (!in.take('P') || !in.take('G'))
        throw pgx_error("not a PGX file (no \"PG\")");
    in.skip_spaces();
    bool big_endian;
    if (in.take('M') && in.take('L'))
        big_endian = true;
    else if (in.take('L') && in.take('M'))
        big_endian = false;
    else
        throw pgx_error("PGX byte order is neither ML nor LM");
    in.skip_spaces();
    pgx_image img;
    if (in.take('-'))
        img.is_signed = true;
    else
        in.take('+');
    in.skip_spaces();
    int64_t depth = in.number("depth");
    in.skip_spaces();
    int64_t width = in.number("width");
    in.skip_spaces();
    int64_t height = in.number("height");
    // Exactly one white-space byte ends the header; the samples follow.
    if (in.pos >= bytes.size() || !is_space(bytes[in.pos]))
        throw pgx_error("PGX header does not end in white space");
    in.pos++;
    if (depth < 1 || depth > 32)
        throw pgx_error("PGX depth must lie in 1..32");
    const int nbytes = pgx_image::bytes_per_sample(int(depth));
    const uint64_t count = uint64_t(width) * uint64_t(height);
    if (count > (bytes.size() - in.pos) / uint64_t(nbytes))
        throw pgx_error("PGX file holds fewer samples than its header states");
    img.width = int(width);
    img.height = int(height);
    img.depth = int(depth);
    img.samples.resize(size_t(count));
    const uint8_t* p = bytes.data() + in.pos;
    for (uint64_t i = 0; i < count; i++, p += nbytes) {
        uint32_t v = 0;
        for (int b = 0; b < nbytes; b++) {
            int shift = big_endian ? 8 * (nbytes - 1 - b) : 8 * b;
            v |= uint32_t(p[b]) << shift;
        }
        int32_t s;
        if (img.is_signed && nbytes < 4 && (v & (1u << (8 * nbytes - 1))))
            s = int32_t(int64_t(v) - (int64_t(1) << (8 * nbytes)));
        else
            s = int32_t(v);
        img.samples[size_t(i)] = s;
    }
    return img;
}

pgx_image read_pgx(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw pgx_error("cannot open " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parse_pgx(bytes);
}

namespace {

std::string pgx_header(const pgx_image& image)
{
    if (image.depth < 1 || image.depth > 32 || image.width < 0 || image.height < 0)
        throw pgx_error("inconsistent image given to the PGX writer");
    char head[64];
    int n = std::snprintf(head, sizeof(head), "PG ML %c%d %d %d\n", image.is_signed ? '-' : '+',
                          image.depth, image.width, image.height);
    return std::string(head, size_t(n));
}

// `count` samples as big-endian words of `nbytes` bytes (the low bytes of each sample).
void put_big_endian(const int32_t* samples, size_t count, int nbytes, uint8_t* out)
{
    if (nbytes == 1) {
        for (size_t i = 0; i < count; i++)
            out[i] = uint8_t(samples[i]);
    } else if (nbytes == 2) {
        for (size_t i = 0; i < count; i++) {
            uint32_t v = uint32_t(samples[i]);
            out[2 * i] = uint8_t(v >> 8);
            out[2 * i + 1] = uint8_t(v);
        }
    } else {
        for (size_t i = 0; i < count; i++) {
            uint32_t v = uint32_t(samples[i]);
            out[4 * i] = uint8_t(v >> 24);
            out[4 * i + 1] = uint8_t(v >> 16);
            out[4 * i + 2] = uint8_t(v >> 8);
            out[4 * i + 3] = uint8_t(v);
        }
    }
}

} // namespace

std::vector<uint8_t> format_pgx(const pgx_image& image)
{
    if (image.samples.size() != size_t(image.width) * size_t(image.height))
        throw pgx_error("inconsistent image given to the PGX writer");
    const std::string head = pgx_header(image);
    const int nbytes = pgx_image::bytes_per_sample(image.depth);
    std::vector<uint8_t> out(head.size() + image.samples.size() * size_t(nbytes));
    std::copy(head.begin(), head.end(), out.begin());
    put_big_endian(image.samples.data(), image.samples.size(), nbytes, out.data() + head.size());
    return out;
}

pgx_row_writer::pgx_row_writer(const std::string& path, const pgx_image& shape)
    : path(path), width(shape.width), height(shape.height), nbytes(pgx_image::bytes_per_sample(shape.depth))
{
    const std::string head = pgx_header(shape);
    // An existing file is written over in place and cut to length at the end: truncating
    // it first would free its pages only to allocate them again row by row.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        file = std::fopen(path.c_str(), "r+b");
        in_place = file != nullptr;
    }
    if (file == nullptr)
        file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw pgx_error("cannot create " + path);
    size = int64_t(head.size()) + int64_t(width) * height * nbytes;
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    bytes.resize(size_t(width) * size_t(nbytes));
    if (std::fwrite(head.data(), 1, head.size(), file) != head.size())
        throw pgx_error("cannot write " + path);
}

pgx_row_writer::~pgx_row_writer()
{
    if (file != nullptr) {
        std::fclose(file);
        std::remove(path.c_str());
    }
}

void pgx_row_writer::put(const int32_t* samples)
{
    format(samples, bytes.data());
    put_bytes(bytes.data(), 1);
}

void pgx_row_writer::format(const int32_t* samples, uint8_t* row) const
{
    put_big_endian(samples, size_t(width), nbytes, row);
}

void pgx_row_writer::put_bytes(const uint8_t* rows, int count)
{
    if (file == nullptr || count < 0 || count > height - rows_written)
        throw pgx_error("more rows than the PGX header announces for " + path);
    const size_t n = size_t(count) * row_bytes();
    if (std::fwrite(rows, 1, n, file) != n)
        throw pgx_error("cannot write " + path);
    rows_written += count;
}

void pgx_row_writer::finish()
{
    if (file == nullptr)
        return;
    if (rows_written != height)
        throw pgx_error("fewer rows than the PGX header announces for " + path);
    std::FILE* f = file;
    file = nullptr;
    bool cut = !in_place || (std::fflush(f) == 0 && ::ftruncate(::fileno(f), off_t(size)) == 0);
    if (std::fclose(f) != 0 || !cut) {
        std::remove(path.c_str());
        throw pgx_error("cannot write " + path);
    }
}

void write_pgx(const std::string& path, const pgx_image& image)
{
    std::vector<uint8_t> bytes = format_pgx(image);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw pgx_error("cannot create " + path);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.flush())
        throw pgx_error("cannot write " + path);
}
