#include "tests/codec/support/block_streams.h"

#include "tests/codec/support/test_sources.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace block_test {

std::vector<int> read_samples(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::vector<int> out;
    int v;
    while (in >> v)
        out.push_back(v);
    return out;
}

std::string block_stream_dir() { return codec_test::stream_dir("blocks"); }

scoped_handlers::scoped_handlers()
    : old_errors_(rvd_customize_errors(&errors_)), old_warnings_(rvd_customize_warnings(&warnings_))
{
}

scoped_handlers::~scoped_handlers()
{
    rvd_customize_errors(old_errors_);
    rvd_customize_warnings(old_warnings_);
}

} // namespace block_test
