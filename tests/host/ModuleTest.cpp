// The viewer module as a container meets it: through LoadLibraryW and its exports only.
#include "platform/Com.h"
#include "platform/TextConv.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

namespace {

const CLSID kViewer = {0x34D6249F, 0xF98A, 0x4F07, {0x81, 0x6D, 0x87, 0xA1, 0x7A, 0x47, 0xD2, 0xD8}};

using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using NoArgs = HRESULT (*)();

struct Module {
    HMODULE handle = LoadLibraryW(Utf8ToUtf16(ORBEL_VIEWER_MODULE).c_str());
    ~Module()
    {
        if (handle)
            FreeLibrary(handle);
    }
    template <class F>
    F fn(const char* name) const
    {
        return reinterpret_cast<F>(GetProcAddress(handle, name));
    }
    platform::ComPtr<IClassFactory> factory(HRESULT* hr = nullptr, const CLSID& clsid = kViewer) const
    {
        platform::ComPtr<IClassFactory> f;
        HRESULT r = fn<GetClassObject>("DllGetClassObject")(clsid, IID_IClassFactory, reinterpret_cast<void**>(f.out()));
        if (hr)
            *hr = r;
        return f;
    }
};

std::u16string regText(const std::u16string& key, const char16_t* value = nullptr)
{
    HKEY k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return u"<absent>";
    WCHAR buf[1024];
    DWORD size = sizeof buf, type = 0;
    LONG r = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS ? std::u16string(buf) : u"<no value>";
}

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

HWND parentWindow()
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = plainProc;
    wc.lpszClassName = u"ModuleTestParent";
    RegisterClassExW(&wc);
    return CreateWindowExW(0, u"ModuleTestParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                           nullptr, nullptr);
}

} // namespace

// A second load must find nothing of the first one's code left in the shared stand-in.
TEST(ViewerModule, ActivatesAgainAfterUnloadAndReload)
{
    HWND parent = parentWindow();
    for (int round = 0; round < 2; ++round) {
        // Nothing the stand-in keeps may lead into an unloaded module's code.
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        EXPECT_FALSE(GetClassInfoExW(nullptr, u"OrbelViewer", &wc)) << round;
        Module m;
        ASSERT_NE(m.handle, nullptr);
        platform::ComPtr<IOleObject> ole;
        ASSERT_EQ(m.factory()->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(ole.out())), S_OK);
        RECT r = {0, 0, 200, 100};
        ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent, &r), S_OK) << round;
        platform::PumpPending();
        EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
        ole.reset();
        EXPECT_EQ(m.fn<NoArgs>("DllCanUnloadNow")(), S_OK);
    }
    DestroyWindow(parent);
}

TEST(ViewerModule, ClassObjectAndUnloadQuery)
{
    Module m;
    HRESULT hr = S_OK;
    EXPECT_FALSE(m.factory(&hr, IID_IDispatch));
    EXPECT_EQ(hr, CLASS_E_CLASSNOTAVAILABLE);
    auto factory = m.factory();
    void* p = nullptr;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.get()), IID_IUnknown, &p),
              CLASS_E_NOAGGREGATION);
    auto canUnload = m.fn<NoArgs>("DllCanUnloadNow");
    {
        platform::ComPtr<IDispatch> control;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(control.out())), S_OK);
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_OK);
}

TEST(ViewerModule, RegistersOnceAndUnregistersAllButTheAppIdRoot)
{
    platform::ResetRegistry();
    Module m;
    const std::u16string clsid = u"CLSID\\{34D6249F-F98A-4F07-816D-87A17A47D2D8}";
    const std::u16string appid = u"{9CB9CBFB-27D0-43BF-9C5D-BCE00EA8AFA5}";
    ASSERT_EQ(m.fn<NoArgs>("DllRegisterServer")(), S_OK);
    ASSERT_EQ(m.fn<NoArgs>("DllRegisterServer")(), S_OK);
    const std::pair<std::u16string, std::u16string> expected[] = {
        {clsid, u"OrbelViewer Class"},
        {clsid + u"\\ProgID", u"QuillonActiveX.OrbelViewer.1"},
        {clsid + u"\\VersionIndependentProgID", u"QuillonActiveX.OrbelViewer"},
        {clsid + u"\\InprocServer32", Utf8ToUtf16(ORBEL_VIEWER_MODULE)},
        {clsid + u"\\TypeLib", u"{A49A4EAC-1E4E-46AB-82FB-020FD51DC29F}"},
        {clsid + u"\\Version", u"1.0"},
        {u"QuillonActiveX.OrbelViewer\\CurVer", u"QuillonActiveX.OrbelViewer.1"},
        {u"QuillonActiveX.OrbelViewer.1\\CLSID", u"{34D6249F-F98A-4F07-816D-87A17A47D2D8}"},
        {u"AppID\\" + appid, u"QuillonActiveX"},
        {u"TypeLib\\{A49A4EAC-1E4E-46AB-82FB-020FD51DC29F}\\1.0\\0\\win32", Utf8ToUtf16(ORBEL_VIEWER_MODULE)},
        {u"Interface\\{AE8038CC-4190-4EF3-BE8F-FB64B0EDD749}", u"IOrbelViewer"},
        {u"Interface\\{4E7B4DC2-1FE9-4057-8E63-3492AC0DF71B}", u"_IOrbelViewerEvents"},
    };
    for (const auto& e : expected)
        EXPECT_EQ(regText(e.first), e.second) << Utf16ToUtf8(e.first);
    EXPECT_EQ(regText(clsid + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
    EXPECT_EQ(regText(clsid, u"AppID"), appid);
    EXPECT_EQ(regText(u"AppID\\QuillonActiveX.DLL", u"AppID"), appid);

    ASSERT_EQ(m.fn<NoArgs>("DllUnregisterServer")(), S_OK);
    for (const auto& e : expected)
        EXPECT_EQ(regText(e.first), u"<absent>") << Utf16ToUtf8(e.first);
    EXPECT_EQ(regText(u"AppID\\QuillonActiveX.DLL"), u"<absent>");
    EXPECT_NE(regText(u"AppID"), u"<absent>");
    platform::ResetRegistry();
}

TEST(ViewerModule, StringTableBesideTheModule)
{
    Module m;
    WCHAR buf[64];
    ASSERT_EQ(LoadStringW(m.handle, 100, buf, 64), 14);
    EXPECT_EQ(std::u16string(buf), u"QuillonActiveX");
}
