// Bitmap resource files: LoadBitmapW gives a bitmap or NULL, reading only what is there.
#include "platform/Gdi.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = [] {
        std::string d = "/tmp/orbel-fuzz-bitmap-" + std::to_string(getpid());
        std::string cmd = "mkdir -p " + d + "/bitmaps";
        if (std::system(cmd.c_str()) != 0)
            std::abort();
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
