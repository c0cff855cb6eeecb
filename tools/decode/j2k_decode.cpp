// j2k_decode: decodes a codestream (or the first codestream of a JP2-family file) into
// one PGX file per component. Exit status 0 on success, 1 on any failure: every error,
// the codec's included, is caught here, so no input can abort the program.
#include "tools/decode/codec_message_sinks.h"
#include "tools/decode/decode_error.h"
#include "tools/decode/decode_input.h"
#include "tools/decode/image_decoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace {

throwing_codec_sink error_sink;
printing_codec_sink warning_sink(stderr);

int run(const decode_command& cmd)
{
    decode_input input(cmd.input, cmd.source);
    std::vector<pgx_image> images;
    std::vector<double> seconds;
    const int runs = std::max(1, cmd.repeat);
    for (int r = 0; r < runs; r++) {
        auto t0 = std::chrono::steady_clock::now();
        auto source = input.open_source();
        images = decode_components(source.get(), cmd.settings);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    if (cmd.repeat > 0) {
        double samples = 0;
        for (const pgx_image& img : images)
            samples += double(img.width) * img.height;
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2];
        std::printf("decode: %d runs, median %.3f ms, best %.3f ms, %.0f samples, %.2f MS/s\n",
                    runs, median * 1e3, sorted.front() * 1e3, samples,
                    median > 0 ? samples / median / 1e6 : 0.0);
    }
    for (size_t c = 0; c < images.size(); c++)
        write_pgx(component_file_name(cmd.output, int(c)), images[c]);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    rvd_customize_errors(&error_sink);
    rvd_customize_warnings(&warning_sink);
    try {
        decode_command cmd;
        try {
            cmd = parse_decode_command(std::vector<std::string>(argv + 1, argv + argc));
        } catch (const decode_error& e) {
            std::fprintf(stderr, "j2k_decode: %s\n%s", e.what(), decode_usage);
            return 1;
        }
        return run(cmd);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "j2k_decode: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "j2k_decode: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "j2k_decode: unknown failure\n");
    }
    return 1;
}
