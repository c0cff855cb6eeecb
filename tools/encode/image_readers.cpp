#include "tools/encode/image_readers.h"

#include "tools/decode/pgx_image.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// Bits needed for values 0..maxval.
int bits_for(uint32_t maxval)
{
    int b = 1;
    while ((uint64_t(1) << b) <= maxval)
        b++;
    return b;
}

// A decimal header field of a PNM file after whitespace and comments.
uint32_t pnm_number(const std::vector<uint8_t>& b, size_t& p)
{
    for (;;) {
        while (p < b.size() && std::isspace(b[p]))
            p++;
        if (p < b.size() && b[p] == '#') {
            while (p < b.size() && b[p] != '\n' && b[p] != '\r')
                p++;
            continue;
        }
        break;
    }
    if (p >= b.size() || !std::isdigit(b[p]))
        throw encode_error("malformed PNM header");
    uint64_t v = 0;
    while (p < b.size() && std::isdigit(b[p])) {
        v = v * 10 + uint64_t(b[p++] - '0');
        if (v > 0x7FFFFFFF)
            throw encode_error("PNM header value out of range");
    }
    return uint32_t(v);
}

int positive(const std::string& s, int lo, int hi, const char* what)
{
    size_t used = 0;
    long v = 0;
    try {
        v = std::stol(s, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != s.size() || v < lo || v > hi)
        throw encode_error(std::string("bad ") + what + ": " + s);
    return int(v);
}

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep))
        out.push_back(part);
    if (!s.empty() && s.back() == sep)
        out.push_back("");
    return out;
}

} // namespace

std::vector<encode_component> parse_pnm(const std::vector<uint8_t>& b)
{
    if (b.size() < 2 || b[0] != 'P' || (b[1] != '5' && b[1] != '6'))
        throw encode_error("not a binary PGM or PPM file");
    const int comps = b[1] == '5' ? 1 : 3;
    size_t p = 2;
    const uint32_t w = pnm_number(b, p), h = pnm_number(b, p), maxval = pnm_number(b, p);
    if (p >= b.size() || !std::isspace(b[p]))
        throw encode_error("malformed PNM header");
    p++;
    if (w == 0 || h == 0 || maxval == 0 || maxval > 65535)
        throw encode_error("PNM size or maximum value out of range");
    const int bytes = maxval < 256 ? 1 : 2;
    const uint64_t need = uint64_t(w) * h * uint64_t(comps) * uint64_t(bytes);
    if (need > b.size() - p)
        throw encode_error("PNM file is truncated");
    std::vector<encode_component> image(static_cast<size_t>(comps));
    for (encode_component& c : image) {
        c.width = int(w);
        c.height = int(h);
        c.depth = bits_for(maxval);
        c.samples.resize(size_t(w) * h);
    }
    for (size_t k = 0; k < size_t(w) * h; k++)
        for (int c = 0; c < comps; c++) {
            uint32_t v = b[p++];
            if (bytes == 2)
                v = (v << 8) | b[p++];
            if (v > maxval)
                throw encode_error("PNM sample exceeds the maximum value");
            image[size_t(c)].samples[k] = int32_t(v);
        }
    return image;
}

raw_layout parse_raw_layout(const std::string& text)
{
    raw_layout r;
    const size_t at = text.find('@');
    const std::vector<std::string> f = split(text.substr(0, at), ',');
    if (f.size() != 5 || (f[4] != "s" && f[4] != "u"))
        throw encode_error("raw layout must be w,h,c,bits,s|u[@DYxDX:...]");
    r.width = positive(f[0], 1, 1 << 24, "raw width");
    r.height = positive(f[1], 1, 1 << 24, "raw height");
    r.comps = positive(f[2], 1, 16384, "raw component count");
    r.depth = positive(f[3], 1, 31, "raw bit depth");
    r.is_signed = f[4] == "s";
    if (at != std::string::npos) {
        for (const std::string& s : split(text.substr(at + 1), ':')) {
            const size_t x = s.find('x');
            if (x == std::string::npos)
                throw encode_error("bad raw sub-sampling: " + s);
            r.sampling.emplace_back(positive(s.substr(0, x), 1, 255, "sub-sampling"),
                                    positive(s.substr(x + 1), 1, 255, "sub-sampling"));
        }
        if (int(r.sampling.size()) != r.comps)
            throw encode_error("raw layout needs one sub-sampling per component");
    }
    return r;
}

std::vector<encode_component> parse_raw(const std::vector<uint8_t>& b, const raw_layout& r)
{
    const int bytes = r.depth <= 8 ? 1 : (r.depth <= 16 ? 2 : 4);
    std::vector<encode_component> image(static_cast<size_t>(r.comps));
    uint64_t need = 0;
    for (int c = 0; c < r.comps; c++) {
        encode_component& ec = image[size_t(c)];
        ec.dy = r.sampling.empty() ? 1 : r.sampling[size_t(c)].first;
        ec.dx = r.sampling.empty() ? 1 : r.sampling[size_t(c)].second;
        ec.width = (r.width + ec.dx - 1) / ec.dx;
        ec.height = (r.height + ec.dy - 1) / ec.dy;
        ec.depth = r.depth;
        ec.is_signed = r.is_signed;
        need += uint64_t(ec.width) * uint64_t(ec.height) * uint64_t(bytes);
    }
    if (need != b.size())
        throw encode_error("raw file holds " + std::to_string(b.size()) + " bytes, the layout " +
                           std::to_string(need));
    size_t p = 0;
    for (encode_component& ec : image) {
        ec.samples.resize(size_t(ec.width) * size_t(ec.height));
        for (int32_t& v : ec.samples) {
            uint32_t u = 0;
            for (int k = 0; k < bytes; k++)
                u = (u << 8) | b[p++];
            if (bytes < 4 && ec.is_signed && (u & (1u << (8 * bytes - 1))))
                u |= ~((1u << (8 * bytes)) - 1); // sign of the stored width
            v = int32_t(u);
            const int64_t lo = ec.is_signed ? -(int64_t(1) << (ec.depth - 1)) : 0;
            const int64_t hi = ec.is_signed ? (int64_t(1) << (ec.depth - 1)) - 1
                                            : (int64_t(1) << ec.depth) - 1;
            if (v < lo || v > hi)
                throw encode_error("raw sample outside its bit depth");
        }
    }
    return image;
}

std::vector<encode_component> parse_pgx_component(const std::vector<uint8_t>& bytes)
{
    pgx_image pgx;
    try {
        pgx = parse_pgx(bytes);
    } catch (const pgx_error& e) {
        throw encode_error(e.what());
    }
    if (pgx.depth > 31 || pgx.width < 1 || pgx.height < 1)
        throw encode_error("PGX shape out of range");
    encode_component c;
    c.width = pgx.width;
    c.height = pgx.height;
    c.depth = pgx.depth;
    c.is_signed = pgx.is_signed;
    const int64_t lo = c.is_signed ? -(int64_t(1) << (c.depth - 1)) : 0;
    const int64_t hi = c.is_signed ? (int64_t(1) << (c.depth - 1)) - 1 : (int64_t(1) << c.depth) - 1;
    for (int32_t v : pgx.samples)
        if (v < lo || v > hi)
            throw encode_error("PGX sample outside its bit depth");
    c.samples = std::move(pgx.samples);
    return {c};
}

std::vector<encode_component> parse_image(const std::vector<uint8_t>& bytes, const raw_layout* raw)
{
    if (raw != nullptr)
        return parse_raw(bytes, *raw);
    if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6'))
        return parse_pnm(bytes);
    if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] == 'G')
        return parse_pgx_component(bytes);
    throw encode_error("unknown image format (PGM, PPM, PGX or --raw)");
}

std::vector<encode_component> read_image(const std::string& path, const raw_layout* raw)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw encode_error("cannot open " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw encode_error("cannot read " + path);
    return parse_image(bytes, raw);
}
