// A thin stream over a C runtime FILE. A FILE handed in is used but never closed; one
// opened by Open is closed on Close and on destruction. Copies never close the stream.
#pragma once

#include "imagelib/RxFile.h"

#include <cstdio>

class RX_EXPORT RxIOFile : public RxFile {
public:
    explicit RxIOFile(FILE* stream = nullptr);
    RxIOFile(const RxIOFile& other);
    RxIOFile& operator=(const RxIOFile& other);
    ~RxIOFile() override;

    bool Open(const char* name, const char* mode);

    bool Close() override;
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(long offset, int origin) override;
    long Tell() override;
    long Size() override;
    bool Flush() override;
    bool Eof() override;
    long Error() override;
    bool PutC(unsigned char c) override;
    long GetC() override;

protected:
    FILE* m_fp;
    bool m_bCloseFile;
};
