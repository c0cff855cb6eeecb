#include "tools/decode/decode_options.h"

#include "tools/decode/decode_error.h"

#include <boost/lexical_cast.hpp>

const char* const decode_usage =
    "usage: j2k_decode [--reduce R] [--region x0,y0,x1,y1] [--layers L] [--precise|--fastest]\n"
    "                  [--source memory|seekable|sequential] [--resilient|--fussy]\n"
    "                  [--threads N [--double-buffer] [--stripe S]] [--repeat N] IN OUT\n"
    "writes OUT_0.pgx, OUT_1.pgx, ... (one per component); the region is on the\n"
    "full-resolution canvas with x1 and y1 exclusive\n";

namespace {

int to_int(const std::string& text, const std::string& option, int min_value)
{
    int v;
    try {
        v = boost::lexical_cast<int>(text);
    } catch (const boost::bad_lexical_cast&) {
        throw decode_error(option + " needs a whole number, not \"" + text + "\"");
    }
    if (v < min_value)
        throw decode_error(option + " must be at least " + std::to_string(min_value));
    return v;
}

rvd_dims to_region(const std::string& text)
{
    int v[4];
    size_t start = 0;
    for (int i = 0; i < 4; i++) {
        size_t end = text.find(',', start);
        if ((i < 3) != (end != std::string::npos))
            throw decode_error("--region needs x0,y0,x1,y1");
        v[i] = to_int(text.substr(start, end == std::string::npos ? end : end - start), "--region", 0);
        start = end + 1;
    }
    if (v[2] <= v[0] || v[3] <= v[1])
        throw decode_error("--region needs x1 > x0 and y1 > y0");
    return rvd_dims(rvd_coords(v[1], v[0]), rvd_coords(v[3] - v[1], v[2] - v[0]));
}

} // namespace

decode_command parse_decode_command(const std::vector<std::string>& args)
{
    decode_command cmd;
    std::vector<std::string> files;
    bool mode_given = false;
    bool stripe_given = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw decode_error(a + " needs a value");
            return args[++i];
        };
        if (a == "--reduce") {
            cmd.settings.reduce = to_int(value(), a, 0);
            if (cmd.settings.reduce > 32)
                throw decode_error("--reduce must be at most 32");
        } else if (a == "--region") {
            cmd.settings.region = to_region(value());
            cmd.settings.has_region = true;
        } else if (a == "--layers") {
            cmd.settings.layers = to_int(value(), a, 1);
        } else if (a == "--precise" || a == "--fastest") {
            if (cmd.settings.precise || cmd.settings.fastest)
                throw decode_error("--precise and --fastest exclude each other");
            (a == "--precise" ? cmd.settings.precise : cmd.settings.fastest) = true;
        } else if (a == "--source") {
            const std::string& v = value();
            if (v == "memory")
                cmd.source = decode_source_kind::memory;
            else if (v == "seekable")
                cmd.source = decode_source_kind::seekable;
            else if (v == "sequential")
                cmd.source = decode_source_kind::sequential;
            else
                throw decode_error("--source takes memory, seekable or sequential");
        } else if (a == "--resilient" || a == "--fussy") {
            if (mode_given)
                throw decode_error("--resilient and --fussy exclude each other");
            mode_given = true;
            cmd.settings.mode = a == "--resilient" ? decode_parse_mode::resilient : decode_parse_mode::fussy;
        } else if (a == "--threads") {
            cmd.settings.threads = to_int(value(), a, 1);
            if (cmd.settings.threads > 64)
                throw decode_error("--threads must be at most 64");
        } else if (a == "--double-buffer") {
            cmd.settings.double_buffer = true;
        } else if (a == "--stripe") {
            cmd.settings.stripe = to_int(value(), a, 1);
            stripe_given = true;
        } else if (a == "--repeat") {
            cmd.repeat = to_int(value(), a, 1);
        } else if (a.size() > 1 && a[0] == '-') {
            throw decode_error("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    // A job per row would cost more in hand-overs than the row's synthesis: with
    // --double-buffer and no --stripe, each tile's width decides.
    if (cmd.settings.double_buffer && !stripe_given)
        cmd.settings.stripe = 0;
    if (files.size() != 2)
        throw decode_error("expected IN and OUT");
    cmd.input = files[0];
    cmd.output = files[1];
    return cmd;
}

std::string component_file_name(const std::string& output, int component)
{
    std::string stem = output;
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".pgx") == 0)
        stem.resize(stem.size() - 4);
    return stem + "_" + std::to_string(component) + ".pgx";
}
