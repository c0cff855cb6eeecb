// Where a benchmark keeps what it makes (coded streams, input files, image folders): one
// temporary folder per run, under TMPDIR, removed when the program ends, so a run from
// any folder leaves nothing behind.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace benchscratch {

class Folder {
public:
    Folder()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orbel-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw std::runtime_error("cannot make a temporary folder from " + pattern);
        path = buf.data();
    }
    ~Folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string path;
};

// The run's folder, made on first use.
inline const std::string& folder()
{
    static const Folder f;
    return f.path;
}

// A path inside it.
inline std::string path(const std::string& name) { return folder() + "/" + name; }

} // namespace benchscratch
