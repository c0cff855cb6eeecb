// The generated PSSI document the document benchmarks share: 2,000 images (4 patients x
// 5 studies x 4 series x 25 images) of 40 Tags each, from tools/make_pssi.py.
#pragma once

#include "tests/support/TestTools.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

inline std::string pssi2000Text()
{
    const std::string script = std::string(ORBEL_SOURCE_DIR) + "/tools/make_pssi.py";
    const std::string command =
        OrbelTest::pythonCommand(script) + " --patients 4 --studies 5 --series 4 --images 25 --tags 40";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    std::string text;
    char buffer[65536];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        text.append(buffer, n);
    return text;
}
