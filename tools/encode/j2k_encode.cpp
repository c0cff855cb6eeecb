// j2k_encode: compresses a PGM, PPM, PGX or raw image into a codestream. Exit status 0 on
// success, 1 on any failure: every error, the codec's included, is caught here, so no
// input can abort the program.
#include "tools/decode/tool_main.h"
#include "tools/encode/encode_options.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// Keeps the codestream in memory: the file is written only once it is whole.
class memory_sink : public rvd_compressed_target {
public:
    bool write(const uint8_t* buf, int n) override
    {
        if (pos < 0) {
            bytes.insert(bytes.end(), buf, buf + n);
        } else {
            if (size_t(pos) + size_t(n) > bytes.size())
                return false;
            std::copy(buf, buf + n, bytes.begin() + pos);
            pos += n;
        }
        return true;
    }
    bool start_rewrite(int64_t backtrack) override
    {
        if (pos >= 0 || backtrack < 0 || size_t(backtrack) > bytes.size())
            return false;
        pos = int64_t(bytes.size()) - backtrack;
        return true;
    }
    bool end_rewrite() override
    {
        pos = -1;
        return true;
    }
    std::vector<uint8_t> bytes;

private:
    int64_t pos = -1;
};

int run(encode_command& cmd)
{
    const std::vector<encode_component> image =
        read_image(cmd.input, cmd.has_raw ? &cmd.raw : nullptr);
    double samples = 0;
    for (const encode_component& c : image)
        samples += double(c.width) * c.height;
    for (double r : cmd.bpp)
        cmd.settings.layer_bytes.push_back(std::max<int64_t>(1, int64_t(r * samples / 8.0)));
    if (cmd.repeat > 0) {
        std::vector<double> seconds;
        for (int r = 0; r < cmd.repeat; r++) {
            memory_sink scratch;
            const auto t0 = std::chrono::steady_clock::now();
            encode_components(image, cmd.settings, &scratch);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        print_run_times("encode", seconds, samples);
    }
    memory_sink out;
    encode_components(image, cmd.settings, &out);
    std::FILE* f = std::fopen(cmd.output.c_str(), "wb");
    if (f == nullptr)
        throw encode_error("cannot create " + cmd.output);
    const bool ok = std::fwrite(out.bytes.data(), 1, out.bytes.size(), f) == out.bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        std::remove(cmd.output.c_str());
        throw encode_error("cannot write " + cmd.output);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return run_tool<encode_error>("j2k_encode", encode_usage, argc, argv, parse_encode_command, run);
}
