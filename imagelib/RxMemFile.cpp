#include "imagelib/RxMemFile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

RxMemFile::RxMemFile(BYTE* buffer, DWORD size)
    : m_pBuffer(buffer), m_Size(long(size)), m_bFreeOnClose(buffer == nullptr), m_Position(0),
      m_Edge(long(size))
{
}

RxMemFile::RxMemFile(const RxMemFile& other) : RxFile(other)
{
    CopyFrom(other);
}

RxMemFile& RxMemFile::operator=(const RxMemFile& other)
{
    if (this != &other) {
        Close();
        CopyFrom(other);
    }
    return *this;
}

RxMemFile::~RxMemFile()
{
    Close();
}

void RxMemFile::CopyFrom(const RxMemFile& other)
{
    m_Size = other.m_Size;
    m_Position = other.m_Position;
    m_Edge = other.m_Edge;
    m_bFreeOnClose = other.m_bFreeOnClose;
    m_pBuffer = other.m_pBuffer;
    if (!other.m_pBuffer || !other.m_bFreeOnClose)
        return; // a caller's buffer stays shared and unowned
    m_pBuffer = static_cast<BYTE*>(std::malloc(size_t(other.m_Size > 0 ? other.m_Size : 1)));
    if (!m_pBuffer) {
        m_Size = m_Position = m_Edge = 0;
        return;
    }
    if (other.m_Size > 0)
        std::memcpy(m_pBuffer, other.m_pBuffer, size_t(other.m_Size));
    m_Edge = other.m_Size;
}

bool RxMemFile::Open()
{
    if (m_pBuffer)
        return false;
    m_Size = m_Edge = m_Position = 0;
    m_pBuffer = static_cast<BYTE*>(std::malloc(1));
    m_bFreeOnClose = true;
    return m_pBuffer != nullptr;
}

BYTE* RxMemFile::GetBuffer(bool detach)
{
    // Only detaching changes ownership: a look at a caller's buffer must not make the
    // stream free it.
    if (detach)
        m_bFreeOnClose = false;
    return m_pBuffer;
}

bool RxMemFile::Close()
{
    if (m_pBuffer && m_bFreeOnClose) {
        std::free(m_pBuffer);
        m_pBuffer = nullptr;
        m_Size = m_Edge = 0;
    }
    return true;
}

size_t RxMemFile::Read(void* buffer, size_t size, size_t count)
{
    if (!buffer || !m_pBuffer || m_Position >= m_Size || size == 0 || count == 0)
        return 0;
    size_t total;
    if (__builtin_mul_overflow(size, count, &total))
        return 0;
    const size_t n = std::min(total, size_t(m_Size - m_Position));
    std::memcpy(buffer, m_pBuffer + m_Position, n);
    m_Position += long(n);
    return n / size;
}

bool RxMemFile::Grow(long needed)
{
    if (needed <= m_Edge)
        return true;
    if (needed > LONG_MAX - 4096)
        return false;
    // Doubling keeps a long run of small writes linear: a fixed step copied the whole
    // buffer again every few kilobytes.
    long edge = (needed & ~4095L) + 4096;
    if (m_Edge <= LONG_MAX / 2 && edge < 2 * m_Edge)
        edge = 2 * m_Edge;
    BYTE* grown;
    if (!m_bFreeOnClose) {
        // Not ours to resize: move the valid bytes into a block we own.
        grown = static_cast<BYTE*>(std::malloc(size_t(edge)));
        if (grown && m_pBuffer && m_Size > 0)
            std::memcpy(grown, m_pBuffer, size_t(m_Size));
    } else {
        grown = static_cast<BYTE*>(m_pBuffer ? std::realloc(m_pBuffer, size_t(edge)) : std::malloc(size_t(edge)));
    }
    if (!grown)
        return false;
    m_pBuffer = grown;
    m_Edge = edge;
    m_bFreeOnClose = true;
    return true;
}

bool RxMemFile::Reserve(long total)
{
    long end;
    if (__builtin_add_overflow(m_Position, total, &end) || !Grow(end))
        return false;
    // Bytes skipped by a seek past the end would otherwise carry stale heap contents.
    if (m_Position > m_Size)
        std::memset(m_pBuffer + m_Size, 0, size_t(m_Position - m_Size));
    return true;
}

size_t RxMemFile::Write(const void* buffer, size_t size, size_t count)
{
    size_t total;
    if (!m_pBuffer || !buffer || __builtin_mul_overflow(size, count, &total) || total == 0 ||
        total > size_t(LONG_MAX) || !Reserve(long(total)))
        return 0;
    std::memcpy(m_pBuffer + m_Position, buffer, total);
    m_Position += long(total);
    if (m_Position > m_Size)
        m_Size = m_Position;
    return count;
}

bool RxMemFile::Seek(long offset, int origin)
{
    if (!m_pBuffer)
        return false;
    long base;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = m_Position; break;
    case 2: base = m_Size; break;
    default: return false;
    }
    long target;
    if (__builtin_add_overflow(base, offset, &target))
        return false;
    m_Position = target < 0 ? 0 : target;
    return true;
}

long RxMemFile::Tell()
{
    return m_pBuffer ? m_Position : -1;
}

long RxMemFile::Size()
{
    return m_pBuffer ? m_Size : -1;
}

bool RxMemFile::Flush()
{
    return m_pBuffer != nullptr;
}

bool RxMemFile::Eof()
{
    return !m_pBuffer || m_Position >= m_Size;
}

long RxMemFile::Error()
{
    if (!m_pBuffer)
        return -1;
    return m_Position > m_Size ? 1 : 0;
}

bool RxMemFile::PutC(unsigned char c)
{
    if (!m_pBuffer || !Reserve(1))
        return false;
    m_pBuffer[m_Position++] = c;
    if (m_Position > m_Size)
        m_Size = m_Position;
    return true;
}

long RxMemFile::GetC()
{
    if (Eof())
        return -1;
    return m_pBuffer[m_Position++];
}
