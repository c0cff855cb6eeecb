// j2k_decode: decodes a codestream (or the first codestream of a JP2-family file) into
// one PGX file per component. Exit status 0 on success, 1 on any failure: every error,
// the codec's included, is caught here, so no input can abort the program.
#include "tools/decode/decode_error.h"
#include "tools/decode/decode_input.h"
#include "tools/decode/image_decoder.h"
#include "tools/decode/tool_main.h"

#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <string>
#include <sys/statvfs.h>
#include <vector>

namespace {

// Streams each component's rows into its PGX file as they are decoded.
class pgx_files : public decoded_rows {
public:
    explicit pgx_files(const std::string& output) : output(output) {}
    void start(const std::vector<pgx_image>& shapes) override
    {
        refuse_beyond_free_space(shapes);
        for (size_t c = 0; c < shapes.size(); c++)
            writers.emplace_back(new pgx_row_writer(component_file_name(output, int(c)), shapes[c]));
    }
    void put(int c, int64_t, const int32_t* samples) override { writers[size_t(c)]->put(samples); }
    size_t formatted_row_bytes(int c) const override { return writers[size_t(c)]->row_bytes(); }
    void format(int c, const int32_t* samples, uint8_t* row) const override
    {
        writers[size_t(c)]->format(samples, row);
    }
    void put_bytes(int c, int64_t, int count, const uint8_t* rows) override
    {
        writers[size_t(c)]->put_bytes(rows, count);
    }
    void finish()
    {
        for (auto& w : writers)
            w->finish();
    }

private:
    // A header may claim an image of exabytes: say so before decoding row after row
    // of it into files that can never be complete.
    void refuse_beyond_free_space(const std::vector<pgx_image>& shapes) const
    {
        double need = 0;
        for (const pgx_image& img : shapes)
            need += double(img.width) * img.height * pgx_image::bytes_per_sample(img.depth);
        const std::string::size_type slash = output.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash + 1);
        struct statvfs fs;
        if (statvfs(folder.c_str(), &fs) != 0)
            return; // the files' own errors will tell
        const double free_bytes = double(fs.f_bavail) * double(fs.f_frsize);
        if (need > free_bytes) {
            char text[96];
            std::snprintf(text, sizeof text, "the image needs %.0f bytes of PGX files; %.0f are free in ",
                          need, free_bytes);
            throw decode_error(text + folder);
        }
    }

    std::string output;
    std::vector<std::unique_ptr<pgx_row_writer>> writers;
};

// Counts samples and keeps nothing: the timed runs of --repeat.
class counted_rows : public decoded_rows {
public:
    double samples = 0;
    void start(const std::vector<pgx_image>& shapes) override
    {
        samples = 0;
        for (const pgx_image& img : shapes)
            samples += double(img.width) * img.height;
    }
    void put(int, int64_t, const int32_t*) override {}
};

int run(const decode_command& cmd)
{
    decode_input input(cmd.input, cmd.source, cmd.settings.threads);
    if (cmd.repeat > 0) {
        std::vector<double> seconds;
        counted_rows counted;
        for (int r = 0; r < cmd.repeat; r++) {
            auto t0 = std::chrono::steady_clock::now();
            auto source = input.open_source();
            decode_components(source.get(), cmd.settings, counted);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        print_run_times("decode", seconds, counted.samples);
    }
    // Files are written while the image is decoded: no more than a tile row of it is held.
    pgx_files files(cmd.output);
    auto source = input.open_source();
    decode_components(source.get(), cmd.settings, files);
    files.finish();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // One decode per process: freed blocks stay in the heap for the next stripe or tile
    // instead of going back to the kernel and faulting in again (unmapping them also
    // interrupts every pool thread to flush its address translations).
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    return run_tool<decode_error>("j2k_decode", decode_usage, argc, argv, parse_decode_command, run);
}
