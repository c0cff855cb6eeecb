#include "tests/codec/support/test_sources.h"

#include "tests/codec/support/codec_messages.h"


#include "tests/support/TestTools.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

namespace codec_test {

int memory_source::read(uint8_t* buf, int num_bytes)
{
    reads++;
    int64_t n = std::min<int64_t>(num_bytes, int64_t(data.size()) - pos);
    if (n <= 0)
        return 0;
    std::memcpy(buf, data.data() + pos, size_t(n));
    pos += n;
    return int(n);
}

bool memory_source::seek(int64_t offset)
{
    pos = std::clamp<int64_t>(offset, 0, int64_t(data.size()));
    return true;
}

const uint8_t* memory_source::access_memory(int64_t& p, const uint8_t*& lim)
{
    p = pos;
    lim = data.data() + data.size();
    return data.data() + pos;
}

file_source::file_source(const std::string& path) : fp(std::fopen(path.c_str(), "rb"))
{
    if (fp == nullptr)
        throw std::runtime_error("cannot open " + path);
}

file_source::~file_source()
{
    std::fclose(fp);
}

int file_source::read(uint8_t* buf, int num_bytes)
{
    return int(std::fread(buf, 1, size_t(num_bytes), fp));
}

bool file_source::seek(int64_t offset)
{
    return fseeko(fp, offset, SEEK_SET) == 0;
}

int64_t file_source::get_pos()
{
    return ftello(fp);
}

int sequential_source::read(uint8_t* buf, int num_bytes)
{
    size_t n = std::min<size_t>(size_t(std::max(num_bytes, 0)), data.size() - pos);
    if (max_chunk > 0)
        n = std::min<size_t>(n, size_t(max_chunk));
    std::memcpy(buf, data.data() + pos, n);
    pos += n;
    return int(n);
}

int fake_cache_source::read(uint8_t* buf, int num_bytes)
{
    int64_t n = std::min<int64_t>(num_bytes, int64_t(scope->bytes.size()) - pos);
    if (n <= 0)
        return 0;
    std::memcpy(buf, scope->bytes.data() + pos, size_t(n));
    pos += n;
    return int(n);
}

bool fake_cache_source::seek(int64_t offset)
{
    pos = std::clamp<int64_t>(offset, 0, int64_t(scope->bytes.size()));
    return true;
}

bool fake_cache_source::set_tileheader_scope(int tnum, int num_tiles)
{
    auto it = tile_headers.find(tnum);
    if (tnum < 0 || tnum >= num_tiles || it == tile_headers.end() || !it->second.complete)
        return false;
    scope = &it->second;
    pos = 0;
    return true;
}

bool fake_cache_source::set_precinct_scope(int64_t unique_id)
{
    auto it = precincts.find(unique_id);
    scope = (it == precincts.end()) ? &empty_bin : &it->second;
    pos = 0;
    return true;
}

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int warning_count(const std::string& fragment)
{
    int n = 0;
    for (const std::string& w : captured_warnings())
        if (w.find(fragment) != std::string::npos)
            n++;
    return n;
}

std::string stream_dir(const std::string& group)
{
    static boost::mutex mtx;
    static std::set<std::string> made;
    std::string dir = std::string(ORBEL_BINARY_DIR) + "/test_streams";
    boost::lock_guard<boost::mutex> lock(mtx);
    if (made.insert(group).second) {
        std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tools/make_test_streams.py") +
                          " '" + dir + "' " + group;
        if (std::system(cmd.c_str()) != 0)
            throw std::runtime_error("stream generator failed: " + cmd);
    }
    return dir;
}

std::string conformance_dir()
{
    return std::string(ORBEL_CONFORMANCE_DIR) + "/codestreams";
}

std::vector<std::string> conformance_names()
{
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(conformance_dir())) {
        std::string f = e.path().filename().string();
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".j2k") == 0)
            names.push_back(f.substr(0, f.size() - 4));
    }
    std::sort(names.begin(), names.end());
    return names;
}

stream_facts load_facts(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    stream_facts f;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string kind;
        ls >> kind;
        if (kind == "marker") {
            fact_marker m;
            std::string code, body;
            ls >> m.offset >> code >> m.length >> body;
            m.code = uint16_t(std::stoul(code, nullptr, 16));
            if (body != "-")
                for (size_t i = 0; i + 1 < body.size(); i += 2)
                    m.body.push_back(uint8_t(std::stoul(body.substr(i, 2), nullptr, 16)));
            f.markers.push_back(m);
        } else if (kind == "sot") {
            fact_sot s;
            ls >> s.offset >> s.isot >> s.psot >> s.tpsot >> s.tnsot;
            f.sots.push_back(s);
        } else if (kind == "sod") {
            int64_t o;
            ls >> o;
            f.sods.push_back(o);
        } else if (kind == "eoc") {
            ls >> f.eoc;
        }
    }
    return f;
}

} // namespace codec_test
