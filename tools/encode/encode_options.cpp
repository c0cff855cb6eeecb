#include "tools/encode/encode_options.h"

#include <cmath>
#include <sstream>

const char* const encode_usage =
    "usage: j2k_encode [ATTR=VALUE ...] [--rates B1,B2,...|--bpp R1,R2,...] [--slopes T1,...]\n"
    "                  [--threads N] [--double-buffer] [--stripe S] [--precise]\n"
    "                  [--roi c:x0,y0,x1,y1 ...] [--raw w,h,c,bits,s|u[@DYxDX:...]]\n"
    "                  [--repeat N] IN OUT.j2k\n"
    "  IN: PGM or PPM (8 or 16 bits), PGX, or big-endian raw samples with --raw.\n"
    "  --rates: cumulative layer sizes in bytes; --bpp: in bits per sample.\n";

namespace {

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep))
        out.push_back(part);
    if (s.empty() || s.back() == sep)
        out.push_back("");
    return out;
}

long long integer(const std::string& s, long long lo, long long hi, const std::string& what)
{
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(s, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != s.size() || v < lo || v > hi)
        throw encode_error("bad " + what + ": " + s);
    return v;
}

double real(const std::string& s, const std::string& what)
{
    size_t used = 0;
    double v = 0;
    try {
        v = std::stod(s, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != s.size() || !(v > 0) || !std::isfinite(v))
        throw encode_error("bad " + what + ": " + s);
    return v;
}

} // namespace

encode_command parse_encode_command(const std::vector<std::string>& args)
{
    encode_command cmd;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw encode_error(a + " needs a value");
            return args[++i];
        };
        if (a == "--rates") {
            for (const std::string& s : split(value(), ','))
                cmd.settings.layer_bytes.push_back(integer(s, 1, 1LL << 50, "rate"));
        } else if (a == "--bpp") {
            for (const std::string& s : split(value(), ','))
                cmd.bpp.push_back(real(s, "bits per sample"));
        } else if (a == "--slopes") {
            for (const std::string& s : split(value(), ','))
                cmd.settings.layer_slopes.push_back(uint16_t(integer(s, 0, 65535, "slope")));
        } else if (a == "--threads") {
            cmd.settings.threads = int(integer(value(), 0, 256, "thread count"));
        } else if (a == "--double-buffer") {
            cmd.settings.double_buffer = true;
        } else if (a == "--stripe") {
            cmd.settings.stripe = int(integer(value(), 1, 1 << 20, "stripe height"));
        } else if (a == "--precise") {
            cmd.settings.precise = true;
        } else if (a == "--roi") {
            const std::string& v = value();
            const size_t colon = v.find(':');
            const std::vector<std::string> f =
                split(colon == std::string::npos ? "" : v.substr(colon + 1), ',');
            if (colon == std::string::npos || f.size() != 4)
                throw encode_error("region must be c:x0,y0,x1,y1: " + v);
            encode_roi r;
            r.comp = int(integer(v.substr(0, colon), 0, 16383, "region component"));
            const int x0 = int(integer(f[0], 0, 1 << 30, "region")), y0 = int(integer(f[1], 0, 1 << 30, "region"));
            const int x1 = int(integer(f[2], x0, 1 << 30, "region")), y1 = int(integer(f[3], y0, 1 << 30, "region"));
            r.rect = rvd_dims(rvd_coords(y0, x0), rvd_coords(y1 - y0, x1 - x0));
            cmd.settings.rois.push_back(r);
        } else if (a == "--raw") {
            cmd.raw = parse_raw_layout(value());
            cmd.has_raw = true;
        } else if (a == "--repeat") {
            cmd.repeat = int(integer(value(), 1, 100000, "repeat count"));
        } else if (a.size() > 1 && a[0] == '-') {
            throw encode_error("unknown option " + a);
        } else if (a.find('=') != std::string::npos && files.empty()) {
            cmd.settings.attributes.push_back(a);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2)
        throw encode_error("an input and an output file are needed");
    if (!cmd.settings.layer_bytes.empty() && !cmd.bpp.empty())
        throw encode_error("give --rates or --bpp, not both");
    cmd.input = files[0];
    cmd.output = files[1];
    return cmd;
}
