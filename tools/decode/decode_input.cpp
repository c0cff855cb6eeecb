#include "tools/decode/decode_input.h"

#include "tools/decode/codestream_locator.h"
#include "tools/decode/decode_error.h"
#include "tools/decode/decode_sources.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <sys/mman.h>

decode_input::decode_input(const std::string& path, decode_source_kind kind, int readers)
    : path(path), kind(kind)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw decode_error("cannot open " + path);
    in.seekg(0, std::ios::end);
    const int64_t file_size = int64_t(in.tellg());
    if (file_size < 0)
        throw decode_error("cannot read " + path);
    auto read_at = [&in](int64_t pos, uint8_t* buf, int n) -> int {
        in.clear();
        in.seekg(pos);
        in.read(reinterpret_cast<char*>(buf), n);
        return int(in.gcount());
    };
    codestream_location loc = locate_codestream(read_at, file_size);
    offset = loc.offset;
    length = loc.length;
    if (kind == decode_source_kind::memory) {
        const size_t size = std::max<size_t>(size_t(length), 1);
        // Megabytes go on huge pages where the kernel has them: fewer faults to fill.
        const bool large = size >= (size_t(4) << 20);
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | (large ? 0 : MAP_POPULATE), -1, 0);
        if (p == MAP_FAILED)
            throw decode_error("cannot hold " + path + " in memory");
#ifdef MADV_HUGEPAGE
        if (large)
            madvise(p, size, MADV_HUGEPAGE);
#endif
        bytes = std::unique_ptr<uint8_t, unmap>(static_cast<uint8_t*>(p), unmap{size});
        if (!read_parts(bytes.get(), large ? readers : 1)) {
            in.clear();
            in.seekg(offset);
            in.read(reinterpret_cast<char*>(bytes.get()), std::streamsize(length));
            if (int64_t(in.gcount()) != length)
                throw decode_error("cannot read " + path);
        }
    }
}

// With worker threads asked for, a large codestream is read in as many parts at once
// (each part's pages filled by its own thread). False when it was not read this way.
bool decode_input::read_parts(uint8_t* to, int parts) const
{
    if (parts < 2)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int64_t part = ((length + parts - 1) / parts + 4095) & ~int64_t(4095);
    std::atomic<bool> ok{true};
    auto read_part = [&](int64_t first) {
        const int64_t end = std::min(length, first + part);
        for (int64_t at = first; at < end && ok;) {
            const ssize_t n = ::pread(fd, to + at, size_t(end - at), off_t(offset + at));
            if (n <= 0)
                ok = false;
            else
                at += n;
        }
    };
    std::vector<boost::thread> others;
    try {
        others.reserve(size_t(parts));
        for (int64_t first = part; first < length; first += part)
            others.emplace_back(read_part, first);
    } catch (...) {
        ok = false;
    }
    read_part(0);
    for (boost::thread& t : others)
        t.join();
    ::close(fd);
    if (!ok)
        throw decode_error("cannot read " + path);
    return true;
}

void decode_input::unmap::operator()(uint8_t* p) const
{
    munmap(p, size);
}

std::unique_ptr<rvd_compressed_source> decode_input::open_source() const
{
    if (kind == decode_source_kind::memory)
        return std::make_unique<decode_memory_source>(bytes.get(), length);
    return std::make_unique<decode_file_source>(path, offset, length,
                                                kind == decode_source_kind::seekable);
}
