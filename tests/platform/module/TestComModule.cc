// A module for the module-loading tests: DllMain, a class factory and DllCanUnloadNow.
// Built as a shared object of its own, so it has its own module lock count.
#include "platform/Com.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int> g_attached{0};

class Thing : public IUnknown {
public:
    Thing() { platform::ModuleLock(); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
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

private:
    virtual ~Thing() { platform::ModuleUnlock(); }
    ULONG refs_ = 1;
};

} // namespace

extern "C" {

BOOL DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        if (std::getenv("ORBEL_TEST_MODULE_REFUSE"))
            return FALSE;
        ++g_attached;
    }
    return TRUE;
}

int TestModuleAttachCount() { return g_attached; }

HRESULT DllGetClassObject(REFCLSID, REFIID riid, void** ppv)
{
    auto* factory = new platform::ClassFactory([](REFIID iid, void** out) {
        auto* t = new Thing();
        HRESULT hr = t->QueryInterface(iid, out);
        t->Release();
        return hr;
    });
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT DllCanUnloadNow() { return platform::ModuleCanUnloadNow(); }
}
