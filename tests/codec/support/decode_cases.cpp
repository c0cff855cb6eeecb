#include "tests/codec/support/decode_cases.h"

#include "tests/codec/support/test_sources.h"
#include "tools/decode/decode_sources.h"
#include "tools/decode/image_decoder.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace codec_test {

std::vector<pgx_image> decode_file(const std::string& path, const decode_settings& settings)
{
    std::vector<uint8_t> bytes = read_file(path);
    decode_memory_source source(bytes.data(), int64_t(bytes.size()));
    return decode_components(&source, settings);
}

double image_diff::psnr(int depth) const
{
    const double top = std::ldexp(1.0, depth) - 1;
    return mse == 0 ? INFINITY : 10 * std::log10(top * top / mse);
}

image_diff compare_images(const pgx_image& reference, const pgx_image& decoded)
{
    image_diff d;
    d.same_size = reference.width == decoded.width && reference.height == decoded.height &&
                  reference.samples.size() == decoded.samples.size();
    if (!d.same_size)
        return d;
    double sum = 0;
    for (size_t i = 0; i < reference.samples.size(); i++) {
        int64_t e = int64_t(reference.samples[i]) - decoded.samples[i];
        d.peak = std::max(d.peak, e < 0 ? -e : e);
        sum += double(e) * double(e);
    }
    d.mse = reference.samples.empty() ? 0 : sum / double(reference.samples.size());
    return d;
}

std::string describe(const image_diff& d)
{
    if (!d.same_size)
        return "sizes differ";
    std::ostringstream out;
    out << "peak " << d.peak << ", MSE " << d.mse;
    return out.str();
}

std::string decode_case::name() const
{
    std::ostringstream out;
    out << stream.substr(stream.find_last_of('/') + 1) << " reduce " << reduce;
    if (has_region)
        out << " region x" << region.pos.x << " y" << region.pos.y << " w" << region.size.x
            << " h" << region.size.y;
    return out.str();
}

std::vector<decode_case> load_decode_cases()
{
    const std::string dir = stream_dir("decode");
    std::ifstream in(dir + "/decode_cases.txt");
    if (!in)
        throw std::runtime_error("no decode_cases.txt in " + dir);
    std::vector<decode_case> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::istringstream ls(line);
        decode_case c;
        std::string x0, y0, x1, y1;
        ls >> c.kind >> c.stream >> c.depth >> c.reduce >> x0 >> y0 >> x1 >> y1 >> c.reference;
        if (!ls)
            throw std::runtime_error("bad decode case: " + line);
        c.stream = dir + "/" + c.stream + ".j2k";
        c.reference = dir + "/" + c.reference;
        if (x0 != "-") {
            c.has_region = true;
            c.region = rvd_dims(rvd_coords(std::stoi(y0), std::stoi(x0)),
                                rvd_coords(std::stoi(y1) - std::stoi(y0), std::stoi(x1) - std::stoi(x0)));
        }
        cases.push_back(c);
    }
    return cases;
}

decode_settings settings_for(const decode_case& c, bool precise)
{
    decode_settings s;
    s.reduce = c.reduce;
    s.has_region = c.has_region;
    s.region = c.region;
    s.precise = precise;
    // The 16-bit lines of these cases: where the default took them before irreversible
    // data moved to 32-bit lines (up to 8 bits); deeper ones stay as the default has them.
    s.fastest = !precise && c.depth <= 8;
    return s;
}

} // namespace codec_test
