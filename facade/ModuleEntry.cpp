// The module's exported entry points: load and unload, the class object, the unload
// query and (un)registration into the stand-in's registry.
#include "facade/OrbelViewer.h"
#include "facade/OrbelViewerIds.h"

#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"

#include <map>
#include <string>

namespace {

// The type library and interface entries that come with the class.
const char kTypeLibScript[] =
    "HKCR {\n"
    " NoRemove TypeLib { ForceRemove '" ORBEL_LIBID_TEXT "' {\n"
    "  '1.0' = s 'QuillonActiveX 1.0 Type Library' { '0' { win32 = s '%MODULE%' } FLAGS = s '0' } } }\n"
    " NoRemove Interface {\n"
    "  ForceRemove '" ORBEL_IID_TEXT "' = s 'IOrbelViewer' {\n"
    "   TypeLib = s '" ORBEL_LIBID_TEXT "' { val Version = s '1.0' } }\n"
    "  ForceRemove '" ORBEL_DIID_TEXT "' = s '_IOrbelViewerEvents' {\n"
    "   TypeLib = s '" ORBEL_LIBID_TEXT "' { val Version = s '1.0' } } }\n"
    "}\n";

bool resourceScript(int id, std::string& out)
{
    HMODULE module = ModuleInstance();
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), u"REGISTRY");
    if (!res)
        return false;
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, res)));
    if (!bytes)
        return false;
    out.assign(bytes, SizeofResource(module, res));
    return true;
}

HRESULT applyScripts(bool registering)
{
    WCHAR path[4096];
    DWORD n = GetModuleFileNameW(ModuleInstance(), path, 4096);
    if (n == 0 || n >= 4096)
        return E_FAIL;
    const std::map<std::string, std::string> replacements = {
        {"APPID", ORBEL_APPID_TEXT}, {"MODULE", Utf16ToUtf8(std::u16string(path, n))}};
    std::string appId, classes;
    if (!resourceScript(IDR_QUILLONACTIVEX, appId) || !resourceScript(IDR_ORBELVIEWER, classes))
        return SELFREG_E_CLASS;
    for (const std::string* script : {&appId, &classes}) {
        HRESULT hr = platform::RegistryScriptApply(*script, replacements, registering);
        if (FAILED(hr))
            return hr;
    }
    return platform::RegistryScriptApply(kTypeLibScript, replacements, registering);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleInstance(instance);
        return ModuleLoad() ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        // The shared stand-in outlives this module: nothing it keeps may point in here.
        platform::UnregisterClassesOfCode(reinterpret_cast<const void*>(&DllMain));
        ModuleUnload();
    }
    return TRUE;
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return platform::ModuleCanUnloadNow(); }

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!(clsid == CLSID_OrbelViewer))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new platform::ClassFactory(&COrbelViewer::CreateInstance);
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() { return applyScripts(true); }

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() { return applyScripts(false); }
}
