#include "host/script/HostPersist.h"

#include <fstream>
#include <iterator>

namespace hostscript {

namespace {
HRESULT persistence(IUnknown* control, platform::ComPtr<IPersistStreamInit>& out)
{
    return control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(out.out()));
}
} // namespace

HRESULT SaveProperties(IUnknown* control, const std::string& path, bool& fileOk)
{
    fileOk = true;
    platform::ComPtr<IPersistStreamInit> persist;
    HRESULT hr = persistence(control, persist);
    if (FAILED(hr))
        return hr;
    platform::ComPtr<IStream> stream;
    if (FAILED(hr = platform::CreateMemoryStream({}, stream.out())) || FAILED(hr = persist->Save(stream.get(), TRUE)))
        return hr;
    std::vector<BYTE> bytes;
    if (FAILED(hr = platform::StreamBytes(stream.get(), bytes)))
        return hr;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    f.close();
    fileOk = bool(f);
    return hr;
}

HRESULT LoadProperties(IUnknown* control, const std::string& path, bool& fileOk)
{
    std::ifstream f(path, std::ios::binary);
    fileOk = bool(f);
    if (!fileOk)
        return E_FAIL;
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    fileOk = !f.bad();
    if (!fileOk)
        return E_FAIL;
    platform::ComPtr<IPersistStreamInit> persist;
    HRESULT hr = persistence(control, persist);
    if (FAILED(hr))
        return hr;
    platform::ComPtr<IStream> stream;
    if (FAILED(hr = platform::CreateMemoryStream(bytes, stream.out())))
        return hr;
    return persist->Load(stream.get());
}

} // namespace hostscript
