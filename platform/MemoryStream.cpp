// The stand-in's in-memory stream: what a container hands a control to save into or to
// load from. Writing past the end grows it; reading past the end gives what is there.
#include "platform/Com.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

namespace {

class MemoryStream final : public IStream {
public:
    explicit MemoryStream(const std::vector<BYTE>& bytes) : bytes_(bytes) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG r = --refs_;
        if (r == 0)
            delete this;
        return r;
    }

    HRESULT Read(void* buffer, ULONG bytes, ULONG* read) override
    {
        if (!buffer && bytes)
            return STG_E_INVALIDFUNCTION;
        size_t n = pos_ < bytes_.size() ? std::min<size_t>(bytes, bytes_.size() - pos_) : 0;
        if (n)
            std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        if (read)
            *read = ULONG(n);
        return n == bytes ? S_OK : S_FALSE;
    }

    HRESULT Write(const void* buffer, ULONG bytes, ULONG* written) override
    {
        if (written)
            *written = 0;
        if (!buffer && bytes)
            return STG_E_INVALIDFUNCTION;
        if (bytes > kMaxSize - std::min(pos_, kMaxSize))
            return STG_E_MEDIUMFULL;
        try {
            if (bytes_.size() < pos_ + bytes)
                bytes_.resize(pos_ + bytes);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (bytes)
            std::memcpy(bytes_.data() + pos_, buffer, bytes);
        pos_ += bytes;
        if (written)
            *written = bytes;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        LONGLONG base = 0;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = LONGLONG(pos_); break;
        case STREAM_SEEK_END: base = LONGLONG(bytes_.size()); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        // Both operands are within the size limit's range, so the sum cannot overflow.
        if (move.QuadPart < -LONGLONG(kMaxSize) || move.QuadPart > LONGLONG(kMaxSize) ||
            base + move.QuadPart < 0 || base + move.QuadPart > LONGLONG(kMaxSize))
            return STG_E_SEEKERROR;
        pos_ = size_t(base + move.QuadPart);
        if (position)
            position->QuadPart = pos_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override
    {
        if (size.QuadPart > kMaxSize)
            return STG_E_MEDIUMFULL;
        try {
            bytes_.resize(size_t(size.QuadPart));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

private:
    // As a 32-bit process's memory would bound it.
    static constexpr size_t kMaxSize = std::numeric_limits<int32_t>::max();
    ~MemoryStream() = default;
    std::atomic<ULONG> refs_{1};
    std::vector<BYTE> bytes_;
    size_t pos_ = 0;
};

} // namespace

namespace platform {

HRESULT CreateMemoryStream(const std::vector<BYTE>& bytes, IStream** stream)
{
    if (!stream)
        return E_POINTER;
    *stream = nullptr;
    try {
        *stream = new MemoryStream(bytes);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT StreamBytes(IStream* stream, std::vector<BYTE>& bytes)
{
    if (!stream)
        return E_POINTER;
    ULARGE_INTEGER here{}, end{};
    HRESULT hr = stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &here);
    if (SUCCEEDED(hr))
        hr = stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_END, &end);
    if (FAILED(hr))
        return hr;
    if (end.QuadPart > std::numeric_limits<ULONG>::max())
        return E_OUTOFMEMORY;
    bytes.assign(size_t(end.QuadPart), 0);
    ULONG read = 0;
    hr = stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr))
        hr = stream->Read(bytes.data(), ULONG(bytes.size()), &read);
    stream->Seek(LARGE_INTEGER{LONGLONG(here.QuadPart)}, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;
    return read == bytes.size() ? S_OK : STG_E_READFAULT;
}

} // namespace platform
