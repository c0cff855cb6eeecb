// The byte stream every raster codec reads and writes through, so one codec serves files
// and memory. Origins of Seek are those of the C runtime (0 start, 1 current, 2 end).
// Failures are reported by the return values (false, 0 or -1); nothing throws.
#pragma once

#include "imagelib/RxExport.h"

#include <cstddef>

class RX_EXPORT RxFile {
public:
    RxFile() = default;
    RxFile(const RxFile&) = default;
    RxFile& operator=(const RxFile&) = default;
    virtual ~RxFile();

    virtual bool Close() = 0;
    virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
    virtual bool Seek(long offset, int origin) = 0;
    virtual long Tell() = 0;
    virtual long Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual long Error() = 0;
    virtual bool PutC(unsigned char c);
    virtual long GetC() = 0;

    // Bytes after the position, or -1 when the stream cannot tell: decoders weigh what a
    // header declares against what is really there before allocating for it.
    long BytesLeft();
};
