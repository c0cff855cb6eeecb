#include "tools/decode/decode_sources.h"

#include "tools/decode/decode_error.h"

#include <algorithm>
#include <cstring>

int decode_memory_source::read(uint8_t* buf, int num_bytes)
{
    if (num_bytes <= 0 || pos >= size)
        return 0;
    int64_t n = std::min<int64_t>(num_bytes, size - pos);
    std::memcpy(buf, data + pos, size_t(n));
    pos += n;
    return int(n);
}

bool decode_memory_source::seek(int64_t offset)
{
    pos = std::clamp<int64_t>(offset, 0, size);
    return true;
}

const uint8_t* decode_memory_source::access_memory(int64_t& p, const uint8_t*& lim)
{
    p = pos;
    lim = data + size;
    return data + pos;
}

decode_file_source::decode_file_source(const std::string& path, int64_t offset, int64_t length,
                                       bool seekable)
    : base(offset), length(length), seekable(seekable)
{
    fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        throw decode_error("cannot open " + path);
    if (std::fseek(fp, long(offset), SEEK_SET) != 0) {
        std::fclose(fp);
        throw decode_error("cannot seek in " + path);
    }
}

decode_file_source::~decode_file_source()
{
    std::fclose(fp);
}

int decode_file_source::read(uint8_t* buf, int num_bytes)
{
    if (num_bytes <= 0 || pos >= length)
        return 0;
    size_t want = size_t(std::min<int64_t>(num_bytes, length - pos));
    size_t got = std::fread(buf, 1, want, fp);
    pos += int64_t(got);
    return int(got);
}

bool decode_file_source::seek(int64_t offset)
{
    if (!seekable)
        return false;
    offset = std::clamp<int64_t>(offset, 0, length);
    if (std::fseek(fp, long(base + offset), SEEK_SET) != 0)
        return false;
    pos = offset;
    return true;
}
