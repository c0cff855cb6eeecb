#include "imagelib/RxIOFile.h"

RxIOFile::RxIOFile(FILE* stream) : m_fp(stream), m_bCloseFile(stream == nullptr) {}

RxIOFile::RxIOFile(const RxIOFile& other) : RxFile(other), m_fp(other.m_fp), m_bCloseFile(false) {}

RxIOFile& RxIOFile::operator=(const RxIOFile& other)
{
    if (this != &other) {
        Close();
        m_fp = other.m_fp;
        m_bCloseFile = false; // the original keeps the duty of closing
    }
    return *this;
}

RxIOFile::~RxIOFile()
{
    Close();
}

bool RxIOFile::Open(const char* name, const char* mode)
{
    if (m_fp || !name || !mode)
        return false;
    m_fp = std::fopen(name, mode);
    if (!m_fp)
        return false;
    m_bCloseFile = true;
    return true;
}

bool RxIOFile::Close()
{
    if (!m_fp || !m_bCloseFile)
        return true;
    const int rc = std::fclose(m_fp);
    m_fp = nullptr;
    return rc == 0;
}

size_t RxIOFile::Read(void* buffer, size_t size, size_t count)
{
    return m_fp && buffer ? std::fread(buffer, size, count, m_fp) : 0;
}

size_t RxIOFile::Write(const void* buffer, size_t size, size_t count)
{
    return m_fp && buffer ? std::fwrite(buffer, size, count, m_fp) : 0;
}

bool RxIOFile::Seek(long offset, int origin)
{
    return m_fp && std::fseek(m_fp, offset, origin) == 0;
}

long RxIOFile::Tell()
{
    return m_fp ? std::ftell(m_fp) : 0;
}

long RxIOFile::Size()
{
    if (!m_fp)
        return -1;
    const long pos = std::ftell(m_fp);
    std::fseek(m_fp, 0, SEEK_END);
    const long size = std::ftell(m_fp);
    std::fseek(m_fp, pos, SEEK_SET);
    return size;
}

bool RxIOFile::Flush()
{
    return m_fp && std::fflush(m_fp) == 0;
}

bool RxIOFile::Eof()
{
    return !m_fp || std::feof(m_fp) != 0;
}

long RxIOFile::Error()
{
    return m_fp ? std::ferror(m_fp) : -1;
}

bool RxIOFile::PutC(unsigned char c)
{
    return m_fp && std::fputc(c, m_fp) == c;
}

long RxIOFile::GetC()
{
    return m_fp ? std::getc(m_fp) : -1;
}
