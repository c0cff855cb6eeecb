#include "tools/decode/codestream_locator.h"

#include "tools/decode/decode_error.h"

namespace {

const uint32_t box_jp2c = 0x6A703263; // 'jp2c'

uint64_t big_endian(const uint8_t* p, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

codestream_location locate_codestream(const read_at_fn& read_at, int64_t file_size)
{
    uint8_t head[16];
    if (file_size >= 2 && read_at(0, head, 2) == 2 && head[0] == 0xFF && head[1] == 0x4F)
        return codestream_location{0, file_size};
    int64_t pos = 0;
    while (pos < file_size) {
        if (file_size - pos < 8 || read_at(pos, head, 8) != 8)
            throw decode_error("truncated box header");
        uint64_t length = big_endian(head, 4);
        const uint32_t type = uint32_t(big_endian(head + 4, 4));
        int64_t header = 8;
        if (length == 1) {
            if (file_size - pos < 16 || read_at(pos + 8, head + 8, 8) != 8)
                throw decode_error("truncated box header");
            length = big_endian(head + 8, 8);
            header = 16;
        } else if (length == 0) {
            length = uint64_t(file_size - pos); // the box runs to the end of the file
        }
        if (length < uint64_t(header) || length > uint64_t(file_size - pos))
            throw decode_error("box length does not fit the file");
        if (type == box_jp2c)
            return codestream_location{pos + header, int64_t(length) - header};
        pos += int64_t(length);
    }
    throw decode_error("no contiguous-codestream box found");
}
