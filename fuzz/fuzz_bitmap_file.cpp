// Bitmap resource files: LoadBitmapW gives a bitmap or NULL, reading only what is there.
#include "platform/Gdi.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {
std::string& folder()
{
    static std::string d;
    return d;
}

// The resource folder goes when the run ends normally (a replay, or a fuzzing run's end).
void removeFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder(), ignored);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = [] {
        const std::string name = "orbel-fuzz-bitmap-" + std::to_string(getpid());
        std::string d = (std::filesystem::temp_directory_path() / name).string();
        std::error_code failed;
        std::filesystem::create_directories(d + "/bitmaps", failed);
        if (failed)
            std::abort();
        folder() = d;
        std::atexit(removeFolder);
        setenv("ORBEL_RESOURCES", d.c_str(), 1);
        return d;
    }();
    {
        std::ofstream f(dir + "/bitmaps/1.bmp", std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    if (HBITMAP bm = LoadBitmapW(nullptr, MAKEINTRESOURCEW(1))) {
        BITMAP info;
        GetObjectW(bm, sizeof info, &info);
        DeleteObject(bm);
    }
    return 0;
}
