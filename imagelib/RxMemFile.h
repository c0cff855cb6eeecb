// A growable memory stream. Over a caller's buffer it reads and writes in place and never
// frees it; once it must grow, it moves the bytes into a block of its own. Opened or grown
// buffers are C-heap blocks that GetBuffer(true) hands to the caller (release with free).
#pragma once

#include "imagelib/RxFile.h"
#include "platform/WinTypes.h"

class RX_EXPORT RxMemFile : public RxFile {
public:
    explicit RxMemFile(BYTE* buffer = nullptr, DWORD size = 0);
    // Copies of an owning stream own a copy of its bytes; a caller's buffer stays shared.
    RxMemFile(const RxMemFile& other);
    RxMemFile& operator=(const RxMemFile& other);
    ~RxMemFile() override;

    bool Open();
    BYTE* GetBuffer(bool detach = true);

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
    bool Grow(long needed);
    // Makes room for total bytes at the position and zero-fills a gap left by a seek.
    bool Reserve(long total);
    void CopyFrom(const RxMemFile& other);

    BYTE* m_pBuffer;
    long m_Size;
    bool m_bFreeOnClose;
    long m_Position;
    long m_Edge; // bytes allocated

    friend struct RxTestAccess;
};
