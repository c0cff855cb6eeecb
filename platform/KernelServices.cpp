#include "platform/Kernel.h"
#include "platform/TextConv.h"
#include "platform/Win32.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <unistd.h>

namespace {
thread_local DWORD t_lastError = 0;
thread_local std::string t_loadError;
}

std::string platform::LastLoadError() { return t_loadError; }

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

// ---- code pages ----------------------------------------------------------------------

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR src, int srcLen, LPWSTR dst, int dstLen)
{
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = srcLen == -1 ? std::strlen(src) + 1 : size_t(srcLen);
    std::u16string wide = Utf8ToUtf16(std::string(src, n));
    if (dstLen == 0)
        return int(wide.size());
    if (!dst) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (wide.size() > size_t(dstLen)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, wide.data(), wide.size() * sizeof(WCHAR));
    return int(wide.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR,
                        BOOL* usedDefault)
{
    if (usedDefault)
        *usedDefault = FALSE;
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (srcLen == -1) {
        while (src[n])
            ++n;
        ++n;
    } else {
        n = size_t(srcLen);
    }
    std::string narrow = Utf16ToUtf8(std::u16string(src, n));
    if (dstLen == 0)
        return int(narrow.size());
    if (!dst) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (narrow.size() > size_t(dstLen)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, narrow.data(), narrow.size());
    return int(narrow.size());
}

// ---- unhandled exceptions ------------------------------------------------------------

namespace {
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};
std::atomic<bool> g_filterRan{false};
std::terminate_handler g_previousTerminate = nullptr;

void runFilterOnce()
{
    if (g_filterRan.exchange(true))
        return;
    if (LPTOP_LEVEL_EXCEPTION_FILTER f = g_filter.load())
        f(nullptr);
}

[[noreturn]] void onTerminate()
{
    runFilterOnce();
    std::abort();
}

void onFatalSignal(int sig)
{
    runFilterOnce();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
}

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter)
{
    static std::atomic<bool> installed{false};
    if (!installed.exchange(true)) {
        g_previousTerminate = std::set_terminate(onTerminate);
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
            std::signal(sig, onFatalSignal);
    }
    return g_filter.exchange(filter);
}

// ---- modules -------------------------------------------------------------------------

namespace {
struct Module {
    void* handle = nullptr;
    std::string path;
    int refs = 0;
    BOOL (*dllMain)(HINSTANCE, DWORD, LPVOID) = nullptr;
};

boost::mutex g_moduleLock;
std::map<HMODULE, std::unique_ptr<Module>> g_modules;
uintptr_t g_nextModule = 0x10000;
HMODULE const g_mainModule = reinterpret_cast<HMODULE>(uintptr_t(0x400000));

std::string baseName(const std::string& p)
{
    size_t slash = p.find_last_of("/\\");
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string hostPath(const std::u16string& wide)
{
    std::string p = Utf16ToUtf8(wide);
    if (p.size() >= 2 && p[1] == ':')
        return MapDrivePath(p);
    return p;
}
}

HMODULE LoadLibraryW(LPCWSTR path)
{
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string file = hostPath(path);
    boost::unique_lock<boost::mutex> lock(g_moduleLock);
    for (auto& m : g_modules)
        if (m.second->path == file) {
            ++m.second->refs;
            return m.first;
        }
    t_loadError.clear();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        t_loadError = why ? why : "the loader gave no reason";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    auto mod = std::make_unique<Module>();
    mod->handle = handle;
    mod->path = file;
    mod->refs = 1;
    mod->dllMain = reinterpret_cast<BOOL (*)(HINSTANCE, DWORD, LPVOID)>(dlsym(handle, "DllMain"));
    HMODULE h = reinterpret_cast<HMODULE>(g_nextModule);
    g_nextModule += 0x10000;
    auto dllMain = mod->dllMain;
    g_modules[h] = std::move(mod);
    lock.unlock();
    // DllMain runs unlocked: it may itself look modules up.
    if (dllMain && !dllMain(h, DLL_PROCESS_ATTACH, nullptr)) {
        lock.lock();
        g_modules.erase(h);
        lock.unlock();
        dlclose(handle);
        t_loadError = "its DllMain refused DLL_PROCESS_ATTACH";
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return h;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (!name)
        return nullptr;
    void* handle = nullptr;
    {
        boost::lock_guard<boost::mutex> g(g_moduleLock);
        auto it = g_modules.find(module);
        if (it != g_modules.end())
            handle = it->second->handle;
    }
    if (!handle && module != g_mainModule && module != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* sym = dlsym(handle ? handle : RTLD_DEFAULT, name);
    if (!sym)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return sym;
}

BOOL FreeLibrary(HMODULE module)
{
    boost::unique_lock<boost::mutex> lock(g_moduleLock);
    auto it = g_modules.find(module);
    if (it == g_modules.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second->refs > 0)
        return TRUE;
    std::unique_ptr<Module> mod = std::move(it->second);
    g_modules.erase(it);
    lock.unlock();
    if (mod->dllMain)
        mod->dllMain(module, DLL_PROCESS_DETACH, nullptr);
    dlclose(mod->handle);
    return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR name)
{
    if (!name)
        return g_mainModule;
    std::string wanted = baseName(Utf16ToUtf8(name));
    boost::lock_guard<boost::mutex> g(g_moduleLock);
    for (auto& m : g_modules)
        if (baseName(m.second->path) == wanted || m.second->path == Utf16ToUtf8(name))
            return m.first;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    std::string path;
    if (!module || module == g_mainModule) {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0)
            return 0;
        path.assign(buf, size_t(n));
    } else {
        boost::lock_guard<boost::mutex> g(g_moduleLock);
        auto it = g_modules.find(module);
        if (it == g_modules.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        path = it->second->path;
    }
    std::u16string wide = Utf8ToUtf16(path);
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (wide.size() + 1 > size) {
        // Truncated and terminated, as the caller's buffer allows.
        std::memcpy(buffer, wide.data(), (size - 1) * sizeof(WCHAR));
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, wide.data(), wide.size() * sizeof(WCHAR));
    buffer[wide.size()] = 0;
    return DWORD(wide.size());
}

// ---- global memory ---------------------------------------------------------------------
// Blocks never move; a handle is valid from GlobalAlloc to GlobalFree, and unknown handles
// are refused rather than dereferenced.

namespace {
struct GlobalBlock {
    std::unique_ptr<unsigned char[]> bytes;
    UINT locks = 0;
};
boost::mutex g_globalLock;
std::map<HGLOBAL, std::unique_ptr<GlobalBlock>> g_globals;
} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes)
{
    auto block = std::make_unique<GlobalBlock>();
    const size_t n = bytes ? bytes : 1;
    block->bytes.reset(flags & GMEM_ZEROINIT ? new (std::nothrow) unsigned char[n]() : new (std::nothrow) unsigned char[n]);
    if (!block->bytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HGLOBAL h = block.get();
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    g_globals[h] = std::move(block);
    return h;
}

LPVOID GlobalLock(HGLOBAL mem)
{
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    auto it = g_globals.find(mem);
    if (it == g_globals.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ++it->second->locks;
    return it->second->bytes.get();
}

BOOL GlobalUnlock(HGLOBAL mem)
{
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    auto it = g_globals.find(mem);
    if (it == g_globals.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (it->second->locks > 0)
        --it->second->locks;
    SetLastError(ERROR_SUCCESS);
    return it->second->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL mem)
{
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    if (!g_globals.erase(mem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    return nullptr;
}
