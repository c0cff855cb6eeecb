// A memory stream that takes only the first `limit` bytes written and refuses the rest,
// as a full disk would: encoders must report the short write.
#pragma once

#include "imagelib/RxMemFile.h"

#include <algorithm>

class FailingFile : public RxMemFile {
public:
    explicit FailingFile(size_t limit) : limit(limit) { Open(); }

    size_t Write(const void* buffer, size_t size, size_t count) override
    {
        if (size == 0)
            return 0;
        const size_t room = (limit - std::min(limit, written)) / size;
        const size_t n = std::min(count, room);
        const size_t done = n ? RxMemFile::Write(buffer, size, n) : 0;
        written += done * size;
        return done;
    }
    bool PutC(unsigned char c) override { return Write(&c, 1, 1) == 1; }

private:
    size_t limit;
    size_t written = 0;
};
