// Outside programs as test oracles: run a command and take its output, read the P6 images
// the tools print, and skip a test whose tool is missing (fail it when CI=true).
#pragma once

#include "imagelib/RxImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rxtest {

// 8-bit RGB (or grey, one byte a pixel, from P5), rows top-down.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    bool operator==(const RgbImage& o) const { return width == o.width && height == o.height && rgb == o.rgb; }
};

bool InCi();
const std::string& Python(); // Debian's interpreter (tests/support/TestTools.h)
// Runs a shell command; stdout goes to *out. Returns the exit status (-1 when not run).
int Run(const std::string& command, std::string* out = nullptr);
bool HaveTool(const std::string& name);
bool HaveImageMagick(); // convert-im6.q16, counted only when it says it is ImageMagick
bool HavePillow();
std::string Quote(const std::string& text);
bool ReadPpm(const std::string& bytes, RgbImage& out);
RgbImage ReadImage(const std::string& path); // a P5 or P6 file; empty when unreadable
bool ReadFile(const std::string& path, std::vector<uint8_t>& out);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
// What an image shows, through GetPixelColor.
RgbImage PixelsOf(const RxImage& image);
// A test script of this folder.
std::string Script(const std::string& name);
// A folder of this test program's own in the build tree.
std::string ScratchDir();

} // namespace rxtest

// Skips (or fails under CI) when a needed tool is missing.
#define RX_REQUIRE_TOOL(present, name)                                                     \
    do {                                                                                   \
        if (!(present)) {                                                                  \
            if (rxtest::InCi())                                                            \
                FAIL() << (name) << " is missing";                                         \
            GTEST_SKIP() << (name) << " is missing";                                       \
        }                                                                                  \
    } while (0)
