#include "platform/Kernel.h"
#include "platform/KernelTestHooks.h"
#include "platform/TextConv.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {
std::mutex g_hookLock;
bool g_fixedTimeSet = false;
SYSTEMTIME g_fixedTime{};
std::atomic<bool> g_fixedTickSet{false};
std::atomic<DWORD> g_fixedTick{0};
}

void KernelTestHooks::setFixedLocalTime(const SYSTEMTIME* st)
{
    std::lock_guard<std::mutex> g(g_hookLock);
    g_fixedTimeSet = st != nullptr;
    if (st)
        g_fixedTime = *st;
}

void KernelTestHooks::setFixedTickCount(DWORD tick)
{
    g_fixedTick = tick;
    g_fixedTickSet = true;
}

void KernelTestHooks::clearFixedTickCount() { g_fixedTickSet = false; }

void KernelTestHooks::reset()
{
    setFixedLocalTime(nullptr);
    clearFixedTickCount();
}

DWORD GetTickCount()
{
    if (g_fixedTickSet)
        return g_fixedTick;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return DWORD(ms & 0xFFFFFFFFu);
}

DWORD GetCurrentThreadId() { return DWORD(::syscall(SYS_gettid)); }

DWORD GetCurrentProcessId() { return DWORD(::getpid()); }

void GetLocalTime(SYSTEMTIME* st)
{
    if (!st)
        return;
    {
        std::lock_guard<std::mutex> g(g_hookLock);
        if (g_fixedTimeSet) {
            *st = g_fixedTime;
            return;
        }
    }
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    time_t secs = ts.tv_sec;
    localtime_r(&secs, &local);
    st->wYear = WORD(local.tm_year + 1900);
    st->wMonth = WORD(local.tm_mon + 1);
    st->wDayOfWeek = WORD(local.tm_wday);
    st->wDay = WORD(local.tm_mday);
    st->wHour = WORD(local.tm_hour);
    st->wMinute = WORD(local.tm_min);
    st->wSecond = WORD(local.tm_sec);
    st->wMilliseconds = WORD(ts.tv_nsec / 1000000);
}

void Sleep(DWORD milliseconds)
{
    timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = long(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

std::string MapDrivePath(const std::string& windowsPath)
{
    if (windowsPath.size() < 2 || windowsPath[1] != ':')
        return std::string();
    char drive = windowsPath[0];
    if (drive != 'C' && drive != 'c')
        return std::string();
    const char* env = std::getenv("ORBEL_DRIVE_C");
    std::string root = (env && *env) ? env : ".";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::string rest = windowsPath.substr(2);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    size_t start = 0;
    while (start < rest.size() && rest[start] == '/')
        ++start;
    rest = rest.substr(start);
    if (rest.empty())
        return root;
    return root + "/" + rest;
}

std::string MapDrivePath(const std::u16string& windowsPath)
{
    return MapDrivePath(Utf16ToUtf8(windowsPath));
}
