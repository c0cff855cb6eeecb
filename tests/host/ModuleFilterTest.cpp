// The process-wide exception filter as a host sees it across the viewer module's life:
// the module's own while it is loaded, the host's again once it is unloaded (its code is
// gone then).
#include "platform/Com.h"
#include "platform/Kernel.h"
#include "platform/TextConv.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

namespace {

const CLSID kViewer = {0x34D6249F, 0xF98A, 0x4F07, {0x81, 0x6D, 0x87, 0xA1, 0x7A, 0x47, 0xD2, 0xD8}};

LONG hostFilter(EXCEPTION_POINTERS*) { return 0; }
LONG laterHostFilter(EXCEPTION_POINTERS*) { return 0; }

// The filter in place now, read by putting it straight back.
LPTOP_LEVEL_EXCEPTION_FILTER currentFilter()
{
    const LPTOP_LEVEL_EXCEPTION_FILTER f = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(f);
    return f;
}

// Loads the module, makes and releases `controls` controls, and returns the filter seen
// while it was still loaded; `over` is set by the host on top while the module is loaded.
LPTOP_LEVEL_EXCEPTION_FILTER loadMakeUnload(int controls, LPTOP_LEVEL_EXCEPTION_FILTER over)
{
    HMODULE module = LoadLibraryW(Utf8ToUtf16(ORBEL_VIEWER_MODULE).c_str());
    EXPECT_NE(module, nullptr);
    if (!module)
        return nullptr;
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(module, "DllGetClassObject"));
    {
        platform::ComPtr<IClassFactory> factory;
        EXPECT_EQ(get(kViewer, IID_IClassFactory, reinterpret_cast<void**>(factory.out())), S_OK);
        for (int i = 0; factory && i < controls; ++i) {
            platform::ComPtr<IDispatch> control;
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(control.out())), S_OK);
        }
    }
    if (over)
        SetUnhandledExceptionFilter(over);
    const LPTOP_LEVEL_EXCEPTION_FILTER loaded = currentFilter();
    FreeLibrary(module);
    return loaded;
}

} // namespace

TEST(ViewerModuleFilter, UnloadGivesBackTheFilterItReplaced)
{
    const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(hostFilter);
    const struct {
        const char* name;
        int controls;
        LPTOP_LEVEL_EXCEPTION_FILTER over, afterwards;
    } cases[] = {
        {"one control", 1, nullptr, hostFilter},
        {"three controls", 3, nullptr, hostFilter},
        {"no control", 0, nullptr, hostFilter},
        // The host's later choice is its own and stays.
        {"host filter set over the module's", 2, laterHostFilter, laterHostFilter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUnhandledExceptionFilter(hostFilter);
        const LPTOP_LEVEL_EXCEPTION_FILTER loaded = loadMakeUnload(c.controls, c.over);
        if (c.over)
            EXPECT_EQ(loaded, c.over);
        else if (c.controls > 0)
            EXPECT_NE(loaded, hostFilter);
        else
            EXPECT_EQ(loaded, hostFilter);
        EXPECT_EQ(currentFilter(), c.afterwards);
    }
    // Loaded twice in turn: the second load installs and restores again.
    SetUnhandledExceptionFilter(hostFilter);
    EXPECT_NE(loadMakeUnload(1, nullptr), hostFilter);
    EXPECT_NE(loadMakeUnload(1, nullptr), hostFilter);
    EXPECT_EQ(currentFilter(), hostFilter);
    SetUnhandledExceptionFilter(before);
}
