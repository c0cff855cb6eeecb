#include "platform/Win32.h"

#include "platform/TextConv.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

namespace {

std::string typeName(LPCWSTR type)
{
    if (IS_INTRESOURCE(type))
        return std::to_string(uintptr_t(type));
    return Utf16ToUtf8(type);
}

std::string idName(LPCWSTR name)
{
    if (IS_INTRESOURCE(name))
        return std::to_string(uintptr_t(name));
    return Utf16ToUtf8(name);
}

bool safeName(const std::string& s)
{
    return !s.empty() && s.find('/') == std::string::npos && s.find("..") == std::string::npos;
}

struct LoadedResource {
    std::vector<uint8_t> bytes;
};

boost::mutex g_resLock;
std::map<std::string, std::unique_ptr<LoadedResource>> g_resources; // by path, loaded once
}

std::string platform::ResourceFolder(HMODULE module)
{
    if (const char* env = std::getenv("ORBEL_RESOURCES"); env && *env)
        return env;
    // Null and unknown handles mean the main program, whose resources sit beside it.
    WCHAR buf[4096];
    DWORD n = module ? GetModuleFileNameW(module, buf, DWORD(std::size(buf))) : 0;
    if (n == 0 || n >= std::size(buf))
        n = GetModuleFileNameW(nullptr, buf, DWORD(std::size(buf)));
    if (n > 0 && n < std::size(buf)) {
        std::string p = Utf16ToUtf8(std::u16string(buf, n));
        size_t slash = p.find_last_of('/');
        if (slash != std::string::npos)
            return p.substr(0, slash) + "/resources";
    }
    return "resources";
}

int LoadStringW(HINSTANCE inst, UINT id, LPWSTR buffer, int maxCount)
{
    std::ifstream f(platform::ResourceFolder(inst) + "/strings.txt", std::ios::binary);
    if (!f || !buffer || maxCount <= 0)
        return 0;
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        char* end = nullptr;
        unsigned long key = std::strtoul(line.c_str(), &end, 10);
        if (end != line.c_str() + tab || key != id)
            continue;
        std::u16string text = Utf8ToUtf16(line.substr(tab + 1));
        size_t n = std::min(text.size(), size_t(maxCount - 1));
        std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
        buffer[n] = 0;
        return int(n);
    }
    buffer[0] = 0;
    return 0;
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    if (!name || !type)
        return nullptr;
    std::string t = typeName(type), n = idName(name);
    if (!safeName(t) || !safeName(n))
        return nullptr;
    std::string path = platform::ResourceFolder(module) + "/" + t + "/" + n + ".rgs";
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return nullptr;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    boost::lock_guard<boost::mutex> g(g_resLock);
    auto& slot = g_resources[path];
    if (!slot) {
        slot = std::make_unique<LoadedResource>();
        slot->bytes = std::move(bytes);
    }
    return reinterpret_cast<HRSRC>(slot.get());
}

HGLOBAL LoadResource(HMODULE, HRSRC res) { return res; }

LPVOID LockResource(HGLOBAL data)
{
    if (!data)
        return nullptr;
    auto* r = static_cast<LoadedResource*>(data);
    return r->bytes.empty() ? nullptr : r->bytes.data();
}

DWORD SizeofResource(HMODULE, HRSRC res)
{
    return res ? DWORD(reinterpret_cast<LoadedResource*>(res)->bytes.size()) : 0;
}
