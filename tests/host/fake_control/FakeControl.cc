// A control for the host program's tests: the module entry points on OleControlBase with
// a CLSID of its own, methods taking each argument kind, a property, an event raiser, a
// call that holds the host for a while, a known painted pattern, every input message
// reported as an event, a two-item menu on right click and VK_F2 consumed before dispatch.
#include "platform/ModuleStartup.h"
#include "platform/OleControl.h"

#include <chrono>
#include <string>
#include <thread>

namespace {

const CLSID kFakeClsid = {0x5A1F0C3E, 0x2B7D, 0x4C11, {0x9E, 0x20, 0x61, 0x7A, 0x3D, 0x44, 0x0B, 0x19}};
const IID kFakeIid = {0x5A1F0C3F, 0x2B7D, 0x4C11, {0x9E, 0x20, 0x61, 0x7A, 0x3D, 0x44, 0x0B, 0x19}};
// The viewer's event interface, which the host advises.
const IID kEvents = {0x4E7B4DC2, 0x1FE9, 0x4057, {0x8E, 0x63, 0x34, 0x92, 0xAC, 0x0D, 0xF7, 0x1B}};
const DISPID kInputEvent = 100;
const DISPID kHoldEvent = 101;

std::u16string utf16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class FakeControl : public OleControlBase {
public:
    FakeControl() : OleControlBase(kEvents, kFakeIid)
    {
        using Args = std::vector<platform::Variant>;
        addStockProperties(table_);
        table_.method(u"Describe", 1, {VT_I4, VT_BOOL, VT_BSTR}, [](Args& a, VARIANT* r) {
            std::u16string text = utf16("long=" + std::to_string(a[0].lVal) + " bool=" +
                                        std::to_string(a[1].boolVal) + " string=") +
                                  (a[2].bstrVal ? std::u16string(a[2].bstrVal, SysStringLen(a[2].bstrVal))
                                                : std::u16string());
            if (r) {
                r->vt = VT_BSTR;
                r->bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
            }
            return S_OK;
        });
        table_.method(u"Raise", 2, {VT_I4, VT_I4, VT_BOOL}, [this](Args& a, VARIANT*) {
            eventPoint().fire(5, {platform::Variant::fromLong(a[0].lVal), platform::Variant::fromLong(a[1].lVal)});
            platform::Variant b;
            b.vt = VT_BOOL;
            b.boolVal = a[2].boolVal ? 1 : 0;
            eventPoint().fire(13, {b});
            return S_OK;
        });
        table_.method(u"Fail", 3, {}, [](Args&, VARIANT*) { return E_FAIL; });
        // A call that takes its time (ms), announced by event 101 as it starts, so a test
        // knows the host is inside it, away from any point where it could stop.
        table_.method(u"Hold", 5, {VT_I4}, [this](Args& a, VARIANT*) {
            eventPoint().fire(kHoldEvent, {platform::Variant::fromLong(a[0].lVal)});
            std::this_thread::sleep_for(std::chrono::milliseconds(a[0].lVal));
            return S_OK;
        });
        table_.property(
            u"Value", 4, VT_I4,
            [this](Args&, VARIANT* r) {
                if (r) {
                    r->vt = VT_I4;
                    r->lVal = value_;
                }
                return S_OK;
            },
            [this](Args& a, VARIANT*) {
                value_ = a[0].lVal;
                return S_OK;
            });
    }

protected:
    const platform::DispatchTable& dispatchTable() const override { return table_; }
    ITypeInfo* typeInfo() override { return nullptr; }
    std::u16string windowClassName() const override { return u"FakeControl"; }
    const CLSID& classId() const override { return kFakeClsid; }

    void OnDraw(const OleDrawInfo& di) override
    {
        const int w = di.bounds.right, h = di.bounds.bottom;
        if (w <= 0 || h <= 0)
            return;
        std::vector<uint32_t> pixels(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[size_t(y) * size_t(w) + size_t(x)] =
                    uint32_t(x & 255) << 16 | uint32_t(y & 255) << 8 | uint32_t((x ^ y) & 255);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        SetDIBitsToDevice(di.hdc, 0, 0, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), pixels.data(), &bi, DIB_RGB_COLORS);
    }

    bool PreTranslateAccelerator(MSG* msg) override
    {
        return (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) && msg->wParam == VK_F1 + 1;
    }

    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override
    {
        static const std::pair<UINT, const char*> reported[] = {
            {WM_MOUSEMOVE, "WM_MOUSEMOVE"},       {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
            {WM_LBUTTONUP, "WM_LBUTTONUP"},       {WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK"},
            {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"},   {WM_RBUTTONUP, "WM_RBUTTONUP"},
            {WM_RBUTTONDBLCLK, "WM_RBUTTONDBLCLK"}, {WM_MOUSEWHEEL, "WM_MOUSEWHEEL"},
            {WM_KEYDOWN, "WM_KEYDOWN"},           {WM_KEYUP, "WM_KEYUP"},
            {WM_CHAR, "WM_CHAR"},                 {WM_COMMAND, "WM_COMMAND"},
            {WM_SIZE, "WM_SIZE"},
        };
        for (const auto& r : reported)
            if (r.first == msg)
                eventPoint().fire(kInputEvent,
                                  {platform::Variant::fromString(utf16(r.second)), platform::Variant::fromLong(LONG(wParam)),
                                   platform::Variant::fromLong(SHORT(LOWORD(lParam))),
                                   platform::Variant::fromLong(SHORT(HIWORD(lParam)))});
        if (msg == WM_RBUTTONUP) {
            HMENU menu = CreatePopupMenu();
            AppendMenuW(menu, MF_STRING, 201, u"First");
            AppendMenuW(menu, MF_STRING | MF_CHECKED, 202, u"Second");
            POINT pt = {SHORT(LOWORD(lParam)), SHORT(HIWORD(lParam))};
            ClientToScreen(hwnd, &pt);
            TrackPopupMenu(menu, 0, pt.x, pt.y, 0, hwnd, nullptr);
            DestroyMenu(menu);
        }
        return OleControlBase::ProcessWindowMessage(hwnd, msg, wParam, lParam, handled);
    }

private:
    ~FakeControl() override = default;
    platform::DispatchTable table_;
    LONG value_ = 0;
};

} // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleInstance(instance);
        return ModuleLoad();
    }
    if (reason == DLL_PROCESS_DETACH) {
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
    if (!(clsid == kFakeClsid))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new platform::ClassFactory([](REFIID iid, void** out) {
        auto* control = new FakeControl();
        HRESULT hr = control->QueryInterface(iid, out);
        control->Release();
        return hr;
    });
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
}
