#include "platform/PropertyStream.h"

#include <algorithm>
#include <new>

// Version 1, every number little-endian:
//   u32 version (1)
//   u32 count of properties
//   per property:
//     u32 name length in UTF-16 code units, then the name as UTF-16LE
//     u16 VARTYPE: VT_BOOL (11), VT_I4 (3) or VT_BSTR (8)
//     value: VT_BOOL a 16-bit VARIANT_BOOL (-1 or 0); VT_I4 a 32-bit signed number;
//            VT_BSTR a u32 length in code units, 0xFFFFFFFF for a null string, then the
//            text as UTF-16LE
// A reader skips properties whose names it does not know; their type says how long they are.

namespace platform {

namespace {

constexpr DWORD kNullText = 0xFFFFFFFF;
// Far above what a control keeps; they bound what a damaged stream can make us allocate.
constexpr DWORD kMaxProperties = 1024;
constexpr DWORD kMaxName = 256;
constexpr DWORD kMaxText = 1u << 24;
constexpr size_t kReadChunk = 1u << 16;

class Writer {
public:
    explicit Writer(IStream* s) : s_(s) {}
    void u16(uint16_t v) { bytes(BYTE(v), BYTE(v >> 8)); }
    void u32(uint32_t v) { bytes(BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)); }
    void text(const char16_t* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            u16(uint16_t(p[i]));
    }
    HRESULT flush()
    {
        if (FAILED(hr_) || buf_.empty())
            return hr_;
        ULONG written = 0;
        hr_ = s_->Write(buf_.data(), ULONG(buf_.size()), &written);
        if (SUCCEEDED(hr_) && written != buf_.size())
            hr_ = STG_E_MEDIUMFULL;
        buf_.clear();
        return hr_;
    }

private:
    template <class... B>
    void bytes(B... b)
    {
        buf_.insert(buf_.end(), {b...});
        if (buf_.size() >= kReadChunk)
            flush();
    }
    IStream* s_;
    std::vector<BYTE> buf_;
    HRESULT hr_ = S_OK;
};

class Reader {
public:
    explicit Reader(IStream* s) : s_(s) {}
    bool take(void* out, size_t n)
    {
        ULONG read = 0;
        HRESULT hr = s_->Read(out, ULONG(n), &read);
        if (FAILED(hr))
            hr_ = hr;
        else if (read != n)
            hr_ = STG_E_READFAULT;
        return SUCCEEDED(hr_);
    }
    bool u16(uint16_t& v)
    {
        BYTE b[2];
        if (!take(b, 2))
            return false;
        v = uint16_t(b[0] | b[1] << 8);
        return true;
    }
    bool u32(uint32_t& v)
    {
        BYTE b[4];
        if (!take(b, 4))
            return false;
        v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    }
    // In chunks, so a length the stream does not hold costs no more than the stream's bytes.
    bool text(std::u16string& out, uint32_t n)
    {
        out.clear();
        std::vector<BYTE> chunk;
        while (n > 0) {
            size_t units = std::min<size_t>(n, kReadChunk / 2);
            chunk.resize(units * 2);
            if (!take(chunk.data(), chunk.size()))
                return false;
            for (size_t i = 0; i < units; ++i)
                out.push_back(char16_t(chunk[2 * i] | chunk[2 * i + 1] << 8));
            n -= uint32_t(units);
        }
        return true;
    }
    bool fail(HRESULT hr)
    {
        hr_ = hr;
        return false;
    }
    HRESULT result() const { return hr_; }

private:
    IStream* s_;
    HRESULT hr_ = S_OK;
};

bool readValue(Reader& r, Variant& v)
{
    uint16_t type = 0;
    if (!r.u16(type))
        return false;
    VariantClear(&v);
    switch (type) {
    case VT_BOOL: {
        uint16_t b = 0;
        if (!r.u16(b))
            return false;
        v.vt = VT_BOOL;
        v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    }
    case VT_I4: {
        uint32_t l = 0;
        if (!r.u32(l))
            return false;
        v.vt = VT_I4;
        v.lVal = LONG(l);
        return true;
    }
    case VT_BSTR: {
        uint32_t n = 0;
        if (!r.u32(n))
            return false;
        v.vt = VT_BSTR;
        v.bstrVal = nullptr;
        if (n == kNullText)
            return true;
        if (n > kMaxText)
            return r.fail(STG_E_INVALIDHEADER);
        std::u16string text;
        if (!r.text(text, n))
            return false;
        v.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
        return v.bstrVal ? true : r.fail(E_OUTOFMEMORY);
    }
    default: return r.fail(STG_E_INVALIDHEADER);
    }
}

} // namespace

ULONGLONG PropertiesSize(const std::vector<StoredProperty>& properties)
{
    ULONGLONG n = 8;
    for (const StoredProperty& p : properties) {
        n += 4 + 2 * ULONGLONG(p.name.size()) + 2;
        switch (p.value.vt) {
        case VT_BOOL: n += 2; break;
        case VT_I4: n += 4; break;
        case VT_BSTR: n += 4 + 2 * ULONGLONG(SysStringLen(p.value.bstrVal)); break;
        default: break;
        }
    }
    return n;
}

HRESULT WriteProperties(IStream* stream, const std::vector<StoredProperty>& properties)
{
    if (!stream)
        return E_POINTER;
    for (const StoredProperty& p : properties)
        if ((p.value.vt != VT_BOOL && p.value.vt != VT_I4 && p.value.vt != VT_BSTR) || p.name.size() > kMaxName ||
            (p.value.vt == VT_BSTR && SysStringLen(p.value.bstrVal) > kMaxText))
            return E_INVALIDARG;
    if (properties.size() > kMaxProperties)
        return E_INVALIDARG;
    try {
        Writer w(stream);
        w.u32(kPropertyStreamVersion);
        w.u32(uint32_t(properties.size()));
        for (const StoredProperty& p : properties) {
            w.u32(uint32_t(p.name.size()));
            w.text(p.name.data(), p.name.size());
            w.u16(p.value.vt);
            if (p.value.vt == VT_BOOL) {
                w.u16(uint16_t(p.value.boolVal ? VARIANT_TRUE : VARIANT_FALSE));
            } else if (p.value.vt == VT_I4) {
                w.u32(uint32_t(p.value.lVal));
            } else if (!p.value.bstrVal) {
                w.u32(kNullText);
            } else {
                w.u32(SysStringLen(p.value.bstrVal));
                w.text(p.value.bstrVal, SysStringLen(p.value.bstrVal));
            }
        }
        return w.flush();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ReadProperties(IStream* stream, std::vector<StoredProperty>& properties)
{
    if (!stream)
        return E_POINTER;
    try {
        Reader r(stream);
        uint32_t version = 0, count = 0;
        if (!r.u32(version))
            return r.result();
        if (version != kPropertyStreamVersion)
            return STG_E_OLDFORMAT;
        if (!r.u32(count))
            return r.result();
        if (count > kMaxProperties)
            return STG_E_INVALIDHEADER;
        std::vector<StoredProperty> read;
        for (uint32_t i = 0; i < count; ++i) {
            StoredProperty p;
            uint32_t n = 0;
            if (!r.u32(n))
                return r.result();
            if (n > kMaxName)
                return STG_E_INVALIDHEADER;
            if (!r.text(p.name, n) || !readValue(r, p.value))
                return r.result();
            read.push_back(std::move(p));
        }
        properties = std::move(read);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace platform
