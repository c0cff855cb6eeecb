#include "platform/Com.h"

#include "platform/TextConv.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IObjectSafety = {0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
const IID IID_IPropertyNotifySink = {0x9BFBBC02, 0xEFF1, 0x101A, {0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IOleObject = {0x00000112, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IOleInPlaceObject = {0x00000113, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IOleInPlaceActiveObject = {0x00000117, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IOleControl = {0xB196B288, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IPersistPropertyBag = {0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
const IID IID_IPropertyBag = {0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
const IID IID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersistStreamInit = {0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---- BSTR ------------------------------------------------------------------------------
// Layout: a 32-bit byte count, then the characters, then a NUL; the BSTR points at the
// characters.

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (length > (std::numeric_limits<uint32_t>::max() - 8) / sizeof(OLECHAR))
        return nullptr;
    size_t bytes = sizeof(uint32_t) + (size_t(length) + 1) * sizeof(OLECHAR);
    auto* block = static_cast<uint8_t*>(std::malloc(bytes));
    if (!block)
        return nullptr;
    uint32_t byteLen = uint32_t(length * sizeof(OLECHAR));
    std::memcpy(block, &byteLen, sizeof byteLen);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
    if (text)
        std::memcpy(chars, text, size_t(length) * sizeof(OLECHAR));
    else
        std::memset(chars, 0, size_t(length) * sizeof(OLECHAR));
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text)
        return nullptr;
    UINT n = 0;
    while (text[n])
        ++n;
    return SysAllocStringLen(text, n);
}

UINT SysStringByteLen(BSTR text)
{
    if (!text)
        return 0;
    uint32_t byteLen;
    std::memcpy(&byteLen, reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t), sizeof byteLen);
    return byteLen;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void SysFreeString(BSTR text)
{
    if (text)
        std::free(reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t));
}

// ---- VARIANT ---------------------------------------------------------------------------

void VariantInit(VARIANT* v)
{
    if (!v)
        return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    switch (v->vt) {
    case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
    case VT_DISPATCH:
        if (v->pdispVal)
            v->pdispVal->Release();
        break;
    case VT_UNKNOWN:
        if (v->punkVal)
            v->punkVal->Release();
        break;
    default:
        break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src)
{
    if (!dst || !src)
        return E_INVALIDARG;
    if (dst == src)
        return S_OK;
    VARIANT copy = *src;
    switch (src->vt) {
    case VT_BSTR:
        if (src->bstrVal) {
            copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        }
        break;
    case VT_DISPATCH:
        if (src->pdispVal)
            src->pdispVal->AddRef();
        break;
    case VT_UNKNOWN:
        if (src->punkVal)
            src->punkVal->AddRef();
        break;
    default:
        break;
    }
    VariantClear(dst);
    *dst = copy;
    return S_OK;
}

namespace {

// A whole decimal number, optionally signed and surrounded by blanks.
bool parseWhole(const std::u16string& s, int64_t& out)
{
    size_t i = 0, n = s.size();
    while (i < n && s[i] == u' ')
        ++i;
    bool neg = false;
    if (i < n && (s[i] == u'-' || s[i] == u'+'))
        neg = s[i++] == u'-';
    size_t digits = 0;
    int64_t v = 0;
    while (i < n && s[i] >= u'0' && s[i] <= u'9') {
        v = v * 10 + (s[i] - u'0');
        if (v > int64_t(1) << 40)
            return false;
        ++i;
        ++digits;
    }
    while (i < n && s[i] == u' ')
        ++i;
    if (digits == 0 || i != n)
        return false;
    out = neg ? -v : v;
    return true;
}

HRESULT toDouble(const VARIANT& v, double& out)
{
    switch (v.vt) {
    case VT_EMPTY:
        out = 0;
        return S_OK;
    case VT_I2:
        out = v.iVal;
        return S_OK;
    case VT_I4:
        out = v.lVal;
        return S_OK;
    case VT_R8:
        out = v.dblVal;
        return S_OK;
    case VT_BOOL:
        out = v.boolVal ? -1 : 0;
        return S_OK;
    case VT_BSTR: {
        std::string s = Utf16ToUtf8(v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"");
        char* end = nullptr;
        out = std::strtod(s.c_str(), &end);
        while (end && *end == ' ')
            ++end;
        if (s.empty() || !end || *end || !std::isfinite(out))
            return DISP_E_TYPEMISMATCH;
        return S_OK;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT toLong(const VARIANT& v, LONG& out)
{
    if (v.vt == VT_BSTR) {
        int64_t w;
        if (!parseWhole(v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"", w))
            return DISP_E_TYPEMISMATCH;
        if (w < std::numeric_limits<LONG>::min() || w > std::numeric_limits<LONG>::max())
            return DISP_E_OVERFLOW;
        out = LONG(w);
        return S_OK;
    }
    double d;
    HRESULT hr = toDouble(v, d);
    if (FAILED(hr))
        return hr;
    double r = std::nearbyint(d); // the default rounding mode rounds half to even
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        return DISP_E_OVERFLOW;
    out = LONG(r);
    return S_OK;
}

std::u16string formatDouble(double d)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return Utf8ToUtf16(buf);
}

} // namespace

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, WORD, VARTYPE vt)
{
    if (!dst || !src)
        return E_INVALIDARG;
    if (src->vt == vt)
        return VariantCopy(dst, src);
    VARIANT out;
    VariantInit(&out);
    out.vt = vt;
    HRESULT hr = S_OK;
    switch (vt) {
    case VT_I4:
        hr = toLong(*src, out.lVal);
        break;
    case VT_I2: {
        LONG l = 0;
        hr = toLong(*src, l);
        if (SUCCEEDED(hr) && (l < -32768 || l > 32767))
            hr = DISP_E_OVERFLOW;
        out.iVal = SHORT(l);
        break;
    }
    case VT_R8:
        hr = toDouble(*src, out.dblVal);
        break;
    case VT_BOOL: {
        double d = 0;
        hr = toDouble(*src, d);
        out.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    }
    case VT_BSTR: {
        std::u16string text;
        switch (src->vt) {
        case VT_EMPTY:
            break;
        case VT_I2:
            text = Utf8ToUtf16(std::to_string(src->iVal));
            break;
        case VT_I4:
            text = Utf8ToUtf16(std::to_string(src->lVal));
            break;
        case VT_R8:
            text = formatDouble(src->dblVal);
            break;
        case VT_BOOL:
            text = src->boolVal ? u"True" : u"False";
            break;
        default:
            hr = DISP_E_TYPEMISMATCH;
        }
        if (SUCCEEDED(hr)) {
            out.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
            if (!out.bstrVal)
                hr = E_OUTOFMEMORY;
        }
        break;
    }
    case VT_EMPTY:
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
            void* p = nullptr;
            hr = src->punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
            out.punkVal = static_cast<IUnknown*>(p);
            if (FAILED(hr))
                hr = DISP_E_TYPEMISMATCH;
        } else {
            hr = DISP_E_TYPEMISMATCH;
        }
        break;
    default:
        hr = DISP_E_BADVARTYPE;
    }
    if (FAILED(hr))
        return hr;
    VariantClear(dst);
    *dst = out;
    return S_OK;
}

namespace platform {
Variant Variant::fromLong(LONG v)
{
    Variant r;
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}
Variant Variant::fromBool(bool v)
{
    Variant r;
    r.vt = VT_BOOL;
    r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}
Variant Variant::fromDouble(double v)
{
    Variant r;
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
}
Variant Variant::fromString(const std::u16string& s)
{
    Variant r;
    r.vt = VT_BSTR;
    r.bstrVal = SysAllocStringLen(s.data(), UINT(s.size()));
    return r;
}
} // namespace platform

// ---- error information ------------------------------------------------------------------

namespace {

class ErrorInfo : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG r = --refs_;
        if (r == 0)
            delete this;
        return r;
    }
    HRESULT GetGUID(GUID* guid) override
    {
        if (!guid)
            return E_POINTER;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* s) override { return copyOut(source_, s); }
    HRESULT GetDescription(BSTR* s) override { return copyOut(description_, s); }
    HRESULT GetHelpFile(BSTR* s) override { return copyOut(helpFile_, s); }
    HRESULT GetHelpContext(DWORD* c) override
    {
        if (!c)
            return E_POINTER;
        *c = helpContext_;
        return S_OK;
    }
    HRESULT SetGUID(REFGUID guid) override
    {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR s) override { return copyIn(source_, s); }
    HRESULT SetDescription(LPOLESTR s) override { return copyIn(description_, s); }
    HRESULT SetHelpFile(LPOLESTR s) override { return copyIn(helpFile_, s); }
    HRESULT SetHelpContext(DWORD c) override
    {
        helpContext_ = c;
        return S_OK;
    }

private:
    virtual ~ErrorInfo() = default;
    static HRESULT copyOut(const std::u16string& v, BSTR* out)
    {
        if (!out)
            return E_POINTER;
        *out = SysAllocStringLen(v.data(), UINT(v.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT copyIn(std::u16string& v, LPOLESTR s)
    {
        v = s ? std::u16string(s) : std::u16string();
        return S_OK;
    }
    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    std::u16string source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

struct ThreadError {
    IErrorInfo* info = nullptr;
    ~ThreadError()
    {
        if (info)
            info->Release();
    }
};
thread_local ThreadError t_error;

} // namespace

HRESULT SetErrorInfo(ULONG, IErrorInfo* info)
{
    if (info)
        info->AddRef();
    if (t_error.info)
        t_error.info->Release();
    t_error.info = info;
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = t_error.info; // the caller takes the reference and the thread's slot empties
    t_error.info = nullptr;
    return *info ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = new (std::nothrow) ErrorInfo();
    return *info ? S_OK : E_OUTOFMEMORY;
}
