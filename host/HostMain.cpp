// orbel-host: plays page and container for the control module. It loads the module,
// creates and activates the control in a top-level window at screen (0, 0), runs a
// script of calls, waits and injected input, prints what the control answers and raises,
// and saves what it painted.
#include "host/script/HostPersist.h"
#include "host/script/HostScript.h"

#include "platform/Com.h"
#include "platform/Gdi.h"
#include "platform/TextConv.h"
#include "platform/Win32.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <cerrno>
#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

#ifndef ORBEL_DEFAULT_MODULE
#define ORBEL_DEFAULT_MODULE "liborbelviewer.so"
#endif

namespace {

using hostscript::Command;

const CLSID kViewerClsid = {0x34D6249F, 0xF98A, 0x4F07, {0x81, 0x6D, 0x87, 0xA1, 0x7A, 0x47, 0xD2, 0xD8}};
const IID kViewerEvents = {0x4E7B4DC2, 0x1FE9, 0x4057, {0x8E, 0x63, 0x34, 0x92, 0xAC, 0x0D, 0xF7, 0x1B}};

std::string hresultName(HRESULT hr)
{
    static const std::map<HRESULT, const char*> names = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_ABORT, "E_ABORT"},
        {E_FAIL, "E_FAIL"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE"},
        {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"},
        {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND"},
        {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
        {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME"},
        {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS"},
        {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
        {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"},
        {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
        {DISP_E_BADINDEX, "DISP_E_BADINDEX"},
        {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
        {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
    };
    auto it = names.find(hr);
    if (it != names.end())
        return it->second;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", unsigned(hr));
    return buf;
}

std::string valueText(const VARIANT& v)
{
    switch (v.vt) {
    case VT_I4: return std::to_string(v.lVal);
    case VT_I2: return std::to_string(v.iVal);
    case VT_BOOL: return std::to_string(int(v.boolVal));
    case VT_BSTR: return hostscript::QuoteText(v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal))
                                                         : std::u16string());
    case VT_EMPTY: return "";
    default: return "<vt " + std::to_string(v.vt) + ">";
    }
}

uint32_t crc32(const std::vector<uint8_t>& bytes)
{
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : bytes)
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

struct Options {
    std::string module = ORBEL_DEFAULT_MODULE;
    int width = 1024, height = 768;
    std::string script = "-";
    std::string events;
    bool manualClock = false;
    bool strict = false;
    CLSID clsid = kViewerClsid;
};

class Host;

// Unknown-only base for the host's sinks, which live as long as the host.
template <class I>
struct StaticObject : I {
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

struct EventSink : StaticObject<IDispatch> {
    Host* host = nullptr;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = (riid == IID_IUnknown || riid == IID_IDispatch || riid == kViewerEvents)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        if (n)
            *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;
};

struct NotifySink : StaticObject<IPropertyNotifySink> {
    Host* host = nullptr;
    bool refuse = false;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = (riid == IID_IUnknown || riid == IID_IPropertyNotifySink) ? static_cast<IPropertyNotifySink*>(this)
                                                                          : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    HRESULT OnChanged(DISPID id) override;
    HRESULT OnRequestEdit(DISPID id) override;
};

struct Failure {
    int status;
};

// SIGINT or SIGTERM: the first asks the script to stop at its next safe point (between
// lines, or within a wait's pumping), so the control is still released and the output is
// whole; the second ends the program at once, as if no handler were installed.
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void onStopSignal(int sig)
{
    if (g_stopSignal != 0) {
        std::signal(sig, SIG_DFL);
        std::raise(sig); // delivered when this handler returns
        return;
    }
    g_stopSignal = sig;
    // write() is safe here; the stream objects are not.
    static const char kInt[] = "orbel-host: SIGINT: stopping at the next safe point (a second signal ends it at once)\n";
    static const char kTerm[] = "orbel-host: SIGTERM: stopping at the next safe point (a second signal ends it at once)\n";
    const int saved = errno;
    if (sig == SIGINT)
        (void)!write(STDERR_FILENO, kInt, sizeof kInt - 1);
    else
        (void)!write(STDERR_FILENO, kTerm, sizeof kTerm - 1);
    errno = saved;
}

// Installed once the script has been read and checked: before that there is nothing to
// release, and a signal may end the program at once.
void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The control's threads sleep and read sockets: their calls go on as if not interrupted.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

class Host {
public:
    explicit Host(const Options& o) : opt_(o)
    {
        events_.host = this;
        notify_.host = this;
        if (!opt_.events.empty()) {
            eventsFile_.open(opt_.events, std::ios::binary | std::ios::trunc);
            if (!eventsFile_) {
                std::cerr << "orbel-host: --events: cannot write " << opt_.events << "\n";
                throw Failure{1};
            }
        }
    }

    void print(const std::string& line, bool copy = false)
    {
        std::cout << line << "\n" << std::flush;
        if (copy && eventsFile_)
            eventsFile_ << line << "\n" << std::flush;
        if (copy && line.compare(0, 6, "event ") == 0) {
            std::string name = line.substr(6, line.find(' ', 6) - 6);
            ++eventCounts_[name];
        }
    }

    // The whole script is checked before the window, the module or any line is touched.
    int run(std::istream& in, const std::string& folder)
    {
        folder_ = folder;
        strict_ = opt_.strict;
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<Command> commands;
        std::vector<std::string> errors;
        auto readable = [this](const std::string& path) { return bool(std::ifstream(resolve(path))); };
        if (!hostscript::CheckScript(text, readable, commands, errors)) {
            for (const std::string& e : errors)
                std::cerr << e << "\n";
            return 2;
        }
        if (opt_.manualClock)
            platform::AdvanceClock(0);
        catchStopSignals();
        int status = 0;
        try {
            createHostWindow();
            platform::SetMenuChooser([this](HMENU menu, int x, int y, HWND) { return chooseMenu(menu, x, y); });
            for (const Command& cmd : commands) {
                line_ = cmd.line;
                stopIfSignalled();
                execute(cmd);
                pump();
            }
        } catch (const Failure& f) {
            status = f.status;
        }
        if (control_)
            releaseControl();
        platform::SetMenuChooser(nullptr);
        if (window_)
            DestroyWindow(window_);
        if (module_)
            FreeLibrary(module_);
        std::cout << std::flush;
        if (eventsFile_.is_open())
            eventsFile_.flush();
        return status;
    }

    std::map<std::string, int> eventCounts_;
    NotifySink notify_;

private:
    // A safe point: after the first SIGINT or SIGTERM the run ends here with 128 + the
    // signal's number (130, 143), and the control is released as at any other end.
    void stopIfSignalled()
    {
        if (const int sig = g_stopSignal) {
            std::cerr << "stopped by " << (sig == SIGINT ? "SIGINT" : "SIGTERM") << " at line " << line_ << "\n";
            throw Failure{128 + sig};
        }
    }

    void scriptError(int line, const std::string& what)
    {
        std::cerr << "error line " << line << ": " << what << "\n";
        throw Failure{2};
    }

    std::string resolve(const std::string& path) const
    {
        if (path.empty() || path[0] == '/' || folder_.empty())
            return path;
        return folder_ + "/" + path;
    }

    static LRESULT CALLBACK hostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == WM_PAINT) {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    void createHostWindow()
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Host::hostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        wc.lpszClassName = u"OrbelHost";
        RegisterClassExW(&wc);
        window_ = CreateWindowExW(0, u"OrbelHost", u"orbel-host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                  opt_.width, opt_.height, nullptr, nullptr, wc.hInstance, nullptr);
        if (!window_) {
            std::cerr << "cannot create the host window\n";
            throw Failure{1};
        }
        pump();
    }

    // Key messages go to the control's accelerator hook first.
    int pump()
    {
        int handled = 0;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ++handled;
            if (msg.message == WM_QUIT)
                continue;
            if (msg.message >= WM_KEYDOWN && msg.message <= WM_SYSCHAR && active_ &&
                active_->TranslateAccelerator(&msg) == S_OK)
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return handled;
    }

    void createStep(const char* step, HRESULT hr)
    {
        if (FAILED(hr)) {
            print(std::string("create ") + step + " " + hresultName(hr));
            throw Failure{1};
        }
    }

    void create()
    {
        if (control_) {
            print("create S_FALSE");
            return;
        }
        if (!module_) {
            module_ = LoadLibraryW(Utf8ToUtf16(opt_.module).c_str());
            if (!module_) {
                std::cerr << "orbel-host: cannot load the module " << opt_.module << ": " << platform::LastLoadError()
                          << "\n";
                createStep("LoadLibraryW", HRESULT(0x80070000u | (GetLastError() & 0xFFFF)));
            }
        }
        using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
        auto getClassObject = reinterpret_cast<GetClassObject>(GetProcAddress(module_, "DllGetClassObject"));
        if (!getClassObject) {
            std::cerr << "orbel-host: the module " << opt_.module << " exports no DllGetClassObject\n";
            createStep("GetProcAddress", E_FAIL);
        }
        platform::ComPtr<IClassFactory> factory;
        createStep("DllGetClassObject",
                   getClassObject(opt_.clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.out())));
        createStep("CreateInstance",
                   factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(control_.out())));
        factory.reset();
        platform::ComPtr<IObjectSafety> safety;
        createStep("QueryInterface", control_->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(safety.out())));
        const DWORD safe = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
        createStep("SetInterfaceSafetyOptions", safety->SetInterfaceSafetyOptions(IID_IDispatch, safe, safe));
        platform::ComPtr<IPersistPropertyBag> persist;
        createStep("QueryInterface",
                   control_->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(persist.out())));
        createStep("InitNew", persist->InitNew());
        platform::ComPtr<IConnectionPointContainer> points;
        createStep("QueryInterface",
                   control_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(points.out())));
        createStep("FindConnectionPoint", points->FindConnectionPoint(kViewerEvents, eventPoint_.out()));
        createStep("Advise", eventPoint_->Advise(static_cast<IDispatch*>(&events_), &eventCookie_));
        createStep("FindConnectionPoint", points->FindConnectionPoint(IID_IPropertyNotifySink, notifyPoint_.out()));
        createStep("Advise", notifyPoint_->Advise(static_cast<IPropertyNotifySink*>(&notify_), &notifyCookie_));
        createStep("QueryInterface", control_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(ole_.out())));
        createStep("QueryInterface",
                   control_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(inPlace_.out())));
        createStep("QueryInterface",
                   control_->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(active_.out())));
        RECT client;
        GetClientRect(window_, &client);
        createStep("DoVerb", ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, window_, &client));
        HWND child = nullptr;
        createStep("GetWindow", inPlace_->GetWindow(&child));
        SetFocus(child);
        print("create S_OK");
    }

    void releaseControl()
    {
        if (eventPoint_)
            eventPoint_->Unadvise(eventCookie_);
        if (notifyPoint_)
            notifyPoint_->Unadvise(notifyCookie_);
        eventPoint_.reset();
        notifyPoint_.reset();
        if (ole_)
            ole_->Close(OLECLOSE_NOSAVE);
        ole_.reset();
        inPlace_.reset();
        active_.reset();
        control_.reset();
        pump();
        using CanUnload = HRESULT (*)();
        auto canUnload = reinterpret_cast<CanUnload>(GetProcAddress(module_, "DllCanUnloadNow"));
        print("unload " + (canUnload ? hresultName(canUnload()) : std::string("E_FAIL")));
    }

    // Under strict, a failure code ends the run; S_FALSE is an answer, not a failure.
    void answered(const Command& c, HRESULT hr)
    {
        if (strict_ && FAILED(hr)) {
            std::cerr << "strict line " << c.line << ": " << c.verb << " " << c.name << " answered " << hresultName(hr)
                      << "\n";
            throw Failure{4};
        }
    }

    void needControl(const Command& c)
    {
        if (!control_)
            scriptError(c.line, c.verb + " before create");
    }

    platform::Variant argVariant(const Command& c, const hostscript::Arg& a)
    {
        switch (a.kind) {
        case hostscript::Arg::Long: return platform::Variant::fromLong(a.number);
        case hostscript::Arg::Bool: {
            platform::Variant v;
            v.vt = VT_BOOL;
            v.boolVal = VARIANT_BOOL(a.number);
            return v;
        }
        case hostscript::Arg::String: return platform::Variant::fromString(a.text);
        case hostscript::Arg::File: {
            std::ifstream f(resolve(a.path), std::ios::binary);
            if (!f)
                scriptError(c.line, "cannot read " + a.path);
            std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            return platform::Variant::fromString(Utf8ToUtf16(bytes));
        }
        }
        return platform::Variant();
    }

    // The DISPID of a name, or the failure printed as the command's result.
    bool dispid(const std::string& name, DISPID& id, HRESULT& hr)
    {
        std::u16string wide = Utf8ToUtf16(name);
        LPOLESTR names[] = {wide.data()};
        hr = control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        return SUCCEEDED(hr);
    }

    void call(const Command& c)
    {
        needControl(c);
        DISPID id = 0;
        HRESULT hr;
        if (!dispid(c.name, id, hr)) {
            print("result " + c.name + " " + hresultName(hr), true);
            answered(c, hr);
            return;
        }
        std::vector<platform::Variant> args;
        for (auto it = c.args.rbegin(); it != c.args.rend(); ++it)
            args.push_back(argVariant(c, *it));
        std::vector<VARIANT> raw(args.begin(), args.end());
        DISPPARAMS params{raw.empty() ? nullptr : raw.data(), nullptr, UINT(raw.size()), 0};
        platform::Variant result;
        EXCEPINFO excep{};
        UINT argErr = 0;
        hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep, &argErr);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        std::string line = "result " + c.name + " " + hresultName(hr);
        std::string value = valueText(result);
        if (!value.empty())
            line += " " + value;
        print(line, true);
        answered(c, hr);
        if (!c.file.empty() && result.vt == VT_BSTR) {
            std::ofstream f(resolve(c.file), std::ios::binary | std::ios::trunc);
            f << Utf16ToUtf8(result.bstrVal ? std::u16string(result.bstrVal, SysStringLen(result.bstrVal))
                                            : std::u16string());
            if (!f)
                scriptError(c.line, "cannot write " + c.file);
        }
    }

    void property(const Command& c)
    {
        needControl(c);
        DISPID id = 0;
        HRESULT hr;
        if (!dispid(c.name, id, hr)) {
            print(c.verb + " " + c.name + " " + hresultName(hr));
            answered(c, hr);
            return;
        }
        platform::Variant result;
        EXCEPINFO excep{};
        UINT argErr = 0;
        if (c.verb == "get") {
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, &excep,
                                  &argErr);
            std::string value = valueText(result);
            print("get " + c.name + " " + hresultName(hr) + (value.empty() ? "" : " " + value));
        } else {
            platform::Variant v = argVariant(c, c.args[0]);
            DISPID named = DISPID_PROPERTYPUT;
            DISPPARAMS params{&v, &named, 1, 1};
            hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &excep,
                                  &argErr);
            print("put " + c.name + " " + hresultName(hr));
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        answered(c, hr);
    }

    std::vector<uint8_t> surfaceRgb(int x, int y, int w, int h)
    {
        std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3, 0);
        auto blit = [&](HWND source) {
            platform::SurfaceView s = platform::SurfaceOf(source);
            RECT r;
            GetWindowRect(source, &r);
            for (int row = 0; row < h; ++row)
                for (int col = 0; col < w; ++col) {
                    int sx = x + col - r.left, sy = y + row - r.top;
                    if (!s.pixels || sx < 0 || sy < 0 || sx >= s.width || sy >= s.height)
                        continue;
                    const uint8_t* p = s.pixels + size_t(sy) * size_t(s.stride) + size_t(sx) * 4;
                    uint8_t* o = &rgb[(size_t(row) * size_t(w) + size_t(col)) * 3];
                    o[0] = p[2];
                    o[1] = p[1];
                    o[2] = p[0];
                }
        };
        blit(window_);
        for (HWND popup : platform::VisibleOwnedPopups(window_))
            blit(popup);
        return rgb;
    }

    void snapshot(const Command& c)
    {
        RECT client;
        GetClientRect(window_, &client);
        int x = 0, y = 0, w = client.right, h = client.bottom;
        if (c.hasRect) {
            x = int(c.numbers[0]);
            y = int(c.numbers[1]);
            w = int(c.numbers[2]);
            h = int(c.numbers[3]);
        }
        std::vector<uint8_t> rgb = surfaceRgb(x, y, w, h);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap)
            scriptError(c.line, "snapshot too large");
        auto* out = static_cast<uint8_t*>(bits);
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
            out[i * 4 + 0] = rgb[i * 3 + 2];
            out[i * 4 + 1] = rgb[i * 3 + 1];
            out[i * 4 + 2] = rgb[i * 3 + 0];
            out[i * 4 + 3] = 0;
        }
        std::string path = resolve(c.file);
        // The script check let only .png and .bmp (in any case) through.
        bool bmp = path.size() >= 4 && (path[path.size() - 3] | 0x20) == 'b';
        bool ok = bmp ? platform::SaveBmp(bitmap, path) : platform::SavePng(bitmap, path);
        DeleteObject(bitmap);
        if (!ok)
            scriptError(c.line, "cannot write " + c.file);
        char line[64];
        std::snprintf(line, sizeof line, " %dx%d crc32=%08X", w, h, unsigned(crc32(rgb)));
        print("snapshot " + c.file + line);
    }

    // Pumps until done() holds or limit ms pass (real time, or the manual clock moved
    // in 10 ms steps).
    bool pumpUntil(const std::function<bool()>& done, int64_t limit)
    {
        DWORD start = GetTickCount();
        for (;;) {
            pump();
            stopIfSignalled();
            if (done())
                return true;
            if (DWORD(GetTickCount() - start) >= DWORD(limit))
                return false;
            if (opt_.manualClock) {
                // The control's threads work in real time whatever the clock says: a step
                // waits for them as a real one would.
                if (platform::PendingWorkCount() > 0)
                    platform::PumpUntil([] { return platform::ThreadHasPendingMessages(); }, 10);
                platform::AdvanceClock(10);
            } else {
                platform::PumpUntil([] { return platform::ThreadHasPendingMessages(); }, 10);
            }
        }
    }

    void wait(const Command& c)
    {
        if (c.sub == "ms") {
            if (opt_.manualClock) {
                for (int64_t left = c.numbers[0]; left > 0; left -= 10) {
                    platform::AdvanceClock(DWORD(std::min<int64_t>(left, 10)));
                    pump();
                    stopIfSignalled();
                }
            } else {
                DWORD start = GetTickCount();
                pumpUntil([&] { return DWORD(GetTickCount() - start) >= DWORD(c.numbers[0]); }, c.numbers[0] + 1000);
            }
            return;
        }
        bool ok;
        if (c.sub == "event") {
            ok = pumpUntil([&] { return eventCounts_[c.name] >= c.count; }, c.max);
        } else {
            uint32_t lastCrc = 0;
            DWORD quietSince = GetTickCount();
            ok = pumpUntil(
                [&] {
                    RECT client;
                    GetClientRect(window_, &client);
                    uint32_t crc = crc32(surfaceRgb(0, 0, client.right, client.bottom));
                    // The control's own work counts too: a request in flight or a retry
                    // waiting on its threads, a message or a paint still to come.
                    if (pump() > 0 || platform::ThreadTimerCount() > 0 || platform::PendingWorkCount() > 0 ||
                        platform::ThreadHasPendingMessages() || crc != lastCrc) {
                        lastCrc = crc;
                        quietSince = GetTickCount();
                        return false;
                    }
                    return DWORD(GetTickCount() - quietSince) >= DWORD(c.quiet);
                },
                c.max);
        }
        if (!ok) {
            std::cerr << "timeout line " << c.line << "\n";
            throw Failure{3};
        }
    }

    void mouse(const Command& c)
    {
        auto button = c.name == "right" ? platform::MouseButton::Right : platform::MouseButton::Left;
        int x = int(c.numbers[0]), y = int(c.numbers[1]);
        platform::InjectMouseMove(x, y);
        pump();
        auto press = [&](bool down) {
            platform::InjectButton(button, down);
            pump();
        };
        if (c.sub == "down")
            press(true);
        else if (c.sub == "up")
            press(false);
        else if (c.sub == "click" || c.sub == "dblclick") {
            for (int i = c.sub == "click" ? 1 : 2; i > 0; --i) {
                press(true);
                press(false);
            }
        }
    }

    void drag(const Command& c)
    {
        auto button = c.name == "right" ? platform::MouseButton::Right : platform::MouseButton::Left;
        const int64_t x1 = c.numbers[0], y1 = c.numbers[1], x2 = c.numbers[2], y2 = c.numbers[3], n = c.count;
        platform::InjectMouseMove(int(x1), int(y1));
        pump();
        platform::InjectButton(button, true);
        pump();
        auto step = [](int64_t a, int64_t b, int64_t i, int64_t n) {
            double t = double(i) * double(b - a) / double(n);
            return int(a + int64_t(t < 0 ? t - 0.5 : t + 0.5));
        };
        for (int64_t i = 1; i <= n; ++i) {
            platform::InjectMouseMove(step(x1, x2, i, n), step(y1, y2, i, n));
            pump();
        }
        platform::InjectButton(button, false);
        pump();
    }

    void key(const Command& c)
    {
        UINT vk = hostscript::KeyCode(c.name);
        char16_t ch = c.text.empty() ? 0 : Utf8ToUtf16(c.text)[0];
        if (c.sub == "down" || c.sub == "press") {
            platform::InjectKey(vk, true, ch);
            pump();
        }
        if (c.sub == "up" || c.sub == "press") {
            platform::InjectKey(vk, false);
            pump();
        }
    }

    void printMenu(HMENU menu, const std::string& indent)
    {
        int count = GetMenuItemCount(menu);
        for (int i = 0; i < count; ++i) {
            WCHAR text[256] = {};
            GetMenuStringW(menu, UINT(i), text, 256, MF_BYPOSITION);
            UINT state = GetMenuState(menu, UINT(i), MF_BYPOSITION);
            HMENU sub = GetSubMenu(menu, i);
            std::string line = indent + std::to_string(sub ? 0 : GetMenuItemID(menu, i)) + " " +
                               hostscript::QuoteText(text);
            if (state & MF_CHECKED)
                line += " checked";
            if (state & MF_GRAYED)
                line += " grayed";
            if (sub)
                line += " popup";
            print(line);
            if (sub)
                printMenu(sub, indent + "  ");
        }
    }

    UINT chooseMenu(HMENU menu, int x, int y)
    {
        print("menu " + std::to_string(x) + " " + std::to_string(y));
        printMenu(menu, "  ");
        UINT choice = menuChoice_;
        menuChoice_ = 0;
        print("menu choice " + (choice ? std::to_string(choice) : std::string("none")));
        return choice;
    }

    void wheel(const Command& c)
    {
        platform::InjectWheel(int(c.numbers[0]));
        pump();
    }

    void resize(const Command& c)
    {
        SetWindowPos(window_, nullptr, 0, 0, int(c.numbers[0]), int(c.numbers[1]), SWP_NOMOVE | SWP_NOZORDER);
        if (inPlace_) {
            RECT r = {0, 0, LONG(c.numbers[0]), LONG(c.numbers[1])};
            inPlace_->SetObjectRects(&r, &r);
        }
    }

    void persist(const Command& c)
    {
        needControl(c);
        bool fileOk = true;
        HRESULT hr = c.sub == "save" ? hostscript::SaveProperties(control_.get(), resolve(c.file), fileOk)
                                     : hostscript::LoadProperties(control_.get(), resolve(c.file), fileOk);
        if (!fileOk)
            scriptError(c.line, (c.sub == "save" ? "cannot write " : "cannot read ") + c.file);
        print("persist " + c.sub + " " + hresultName(hr));
        answered(c, hr);
    }

    // What each verb of the script's command table does.
    void execute(const Command& c)
    {
        using Action = std::function<void(Host&, const Command&)>;
        static const std::map<std::string, Action> actions = {
            {"create", [](Host& h, const Command&) { h.create(); }},
            {"release", [](Host& h, const Command& c) { h.needControl(c), h.releaseControl(); }},
            {"call", &Host::call},
            {"get", &Host::property},
            {"put", &Host::property},
            {"strict", [](Host& h, const Command&) { h.strict_ = true; }},
            {"wait", &Host::wait},
            {"mouse", &Host::mouse},
            {"drag", &Host::drag},
            {"wheel", &Host::wheel},
            {"key", &Host::key},
            {"menu", [](Host& h, const Command& c) { h.menuChoice_ = c.sub == "choose" ? UINT(c.numbers[0]) : 0; }},
            {"resize", &Host::resize},
            {"snapshot", &Host::snapshot},
            {"propnotify", [](Host& h, const Command& c) { h.notify_.refuse = c.text == "on"; }},
            {"persist", &Host::persist},
            {"echo", [](Host& h, const Command& c) { h.print(c.text); }},
        };
        auto it = actions.find(c.verb);
        if (it == actions.end())
            scriptError(c.line, "the host cannot run " + c.verb);
        it->second(*this, c);
    }

    Options opt_;
    std::ofstream eventsFile_;
    std::string folder_;
    EventSink events_;
    HWND window_ = nullptr;
    HMODULE module_ = nullptr;
    platform::ComPtr<IDispatch> control_;
    platform::ComPtr<IOleObject> ole_;
    platform::ComPtr<IOleInPlaceObject> inPlace_;
    platform::ComPtr<IOleInPlaceActiveObject> active_;
    platform::ComPtr<IConnectionPoint> eventPoint_;
    platform::ComPtr<IConnectionPoint> notifyPoint_;
    DWORD eventCookie_ = 0;
    DWORD notifyCookie_ = 0;
    UINT menuChoice_ = 0;
    bool strict_ = false;
    int line_ = 0; // the script line running
};

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*)
{
    const char* name = hostscript::EventName(int(id));
    std::string line = std::string("event ") + (name ? name : "#" + std::to_string(id));
    // Arguments arrive last first.
    for (UINT i = params ? params->cArgs : 0; i > 0; --i)
        line += " " + valueText(params->rgvarg[i - 1]);
    host->print(line, true);
    return S_OK;
}

HRESULT NotifySink::OnChanged(DISPID id)
{
    host->print("propnotify OnChanged " + std::to_string(id));
    return S_OK;
}

HRESULT NotifySink::OnRequestEdit(DISPID id)
{
    host->print("propnotify OnRequestEdit " + std::to_string(id));
    return refuse ? S_FALSE : S_OK;
}

const char kUsage[] = "usage: orbel-host [--module FILE] [--size WxH] [--script FILE|-] [--events FILE]\n"
                      "                  [--drive-c DIR] [--clock real|manual] [--clsid {GUID}] [--strict]\n";

void help()
{
    std::cout << kUsage
              << "\nLoads the control module, creates the control in a window at (0, 0) and runs a script\n"
                 "(checked whole before any line runs), one command a line.\n\n"
                 "options:\n"
                 "  --module FILE       the control module (default " ORBEL_DEFAULT_MODULE ")\n"
                 "  --size WxH          the window's size, W and H from 1 to 8192 (default 1024x768)\n"
                 "  --script FILE|-     the script (default -, standard input); its paths are relative to its folder\n"
                 "  --events FILE       also write the event and result lines to FILE\n"
                 "  --drive-c DIR       an existing folder that stands for C:\\ (the control's log goes there)\n"
                 "  --clock real|manual real time (default), or time that moves only in waits\n"
                 "  --clsid {GUID}      the class to create (default the viewer's)\n"
                 "  --strict            a call, get or put answering a failure code ends the run\n"
                 "  --help              this text\n"
                 "\nscript commands:\n";
    for (const hostscript::CommandInfo& c : hostscript::CommandTable())
        std::cout << "  " << c.usage << "\n      " << c.summary << "\n";
    std::cout << "\nexit status: 0 done, 1 bad option or a module that fails to load or create, 2 script error\n"
                 "(error line N: ...), 3 a wait that ran out (timeout line N), 4 a failure under strict,\n"
                 "130 or 143 stopped by SIGINT or SIGTERM (the control released; a second signal ends it at once)\n";
}

int badOption(const std::string& what)
{
    std::cerr << "orbel-host: " << what << "\n" << kUsage << "(orbel-host --help describes every option)\n";
    return 1;
}

bool parseGuid(const std::string& s, GUID& g)
{
    unsigned a, b, c, d[8];
    if (s.size() != 38 ||
        std::sscanf(s.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &a, &b, &c, &d[0], &d[1], &d[2], &d[3],
                    &d[4], &d[5], &d[6], &d[7]) != 11)
        return false;
    g.Data1 = a;
    g.Data2 = uint16_t(b);
    g.Data3 = uint16_t(c);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = uint8_t(d[i]);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            help();
            return 0;
        }
        if (a == "--strict") {
            opt.strict = true;
            continue;
        }
        static const char* const withValue[] = {"--module", "--size",    "--script", "--events",
                                                "--drive-c", "--clock", "--clsid"};
        if (std::find(std::begin(withValue), std::end(withValue), a) == std::end(withValue))
            return badOption("unknown option " + a);
        if (i + 1 >= argc)
            return badOption(a + " needs a value");
        const std::string v = argv[++i];
        const std::string given = a + ": \"" + v + "\" ";
        if (a == "--module") {
            opt.module = v;
        } else if (a == "--size") {
            // Digits only, so no sign, blank or overflow slips through.
            auto side = [](const std::string& t, int& out) {
                if (t.empty() || t.size() > 4 || t.find_first_not_of("0123456789") != std::string::npos)
                    return false;
                out = std::stoi(t);
                return out >= 1 && out <= 8192;
            };
            const size_t x = v.find('x');
            int w = 0, h = 0;
            if (x == std::string::npos || !side(v.substr(0, x), w) || !side(v.substr(x + 1), h))
                return badOption(given + "is not WxH with W and H from 1 to 8192 (e.g. 800x600)");
            opt.width = w;
            opt.height = h;
        } else if (a == "--script") {
            opt.script = v;
        } else if (a == "--events") {
            opt.events = v;
        } else if (a == "--drive-c") {
            struct stat st;
            if (stat(v.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return badOption(given + "is not an existing folder (create it first)");
            setenv("ORBEL_DRIVE_C", v.c_str(), 1);
        } else if (a == "--clock") {
            if (v != "real" && v != "manual")
                return badOption(given + "is neither real nor manual");
            opt.manualClock = v == "manual";
        } else if (!parseGuid(v, opt.clsid)) {
            return badOption(given + "is not a class id of the form {34D6249F-F98A-4F07-816D-87A17A47D2D8}");
        }
    }
    std::ifstream file;
    std::string folder;
    if (opt.script != "-") {
        file.open(opt.script, std::ios::binary);
        if (!file) {
            std::cerr << "orbel-host: --script: cannot read " << opt.script << "\n";
            return 1;
        }
        size_t slash = opt.script.find_last_of('/');
        folder = slash == std::string::npos ? "." : opt.script.substr(0, slash);
    }
    try {
        Host host(opt);
        return host.run(opt.script == "-" ? std::cin : file, folder);
    } catch (const Failure& f) {
        return f.status;
    }
}
