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
// The manual clock: its tick, how far it moved since it started (64-bit, so the
// local time follows through the tick's wrap) and the real local time it started at.
std::atomic<bool> g_manual{false};
std::atomic<DWORD> g_manualTick{0};
uint64_t g_manualElapsed = 0;   // guarded by g_hookLock
int64_t g_manualStartEpochMs = 0; // guarded by g_hookLock
std::atomic<void (*)()> g_clockListener{nullptr};

DWORD realTick()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return DWORD(ms & 0xFFFFFFFFu);
}

int64_t realEpochMs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Starts the manual clock at the current readings; caller holds g_hookLock.
void startManualLocked(DWORD tick)
{
    if (!g_manual) {
        g_manualElapsed = 0;
        g_manualStartEpochMs = realEpochMs();
    }
    g_manualTick = tick;
    g_manual = true;
}

void notifyClock()
{
    if (auto listener = g_clockListener.load())
        listener();
}

void fillSystemTime(SYSTEMTIME* st, const tm& t, int ms)
{
    st->wYear = WORD(t.tm_year + 1900);
    st->wMonth = WORD(t.tm_mon + 1);
    st->wDayOfWeek = WORD(t.tm_wday);
    st->wDay = WORD(t.tm_mday);
    st->wHour = WORD(t.tm_hour);
    st->wMinute = WORD(t.tm_min);
    st->wSecond = WORD(t.tm_sec);
    st->wMilliseconds = WORD(ms);
}
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
    platform::SetManualClock(tick);
}

void KernelTestHooks::clearFixedTickCount() { platform::UseRealClock(); }

void KernelTestHooks::reset()
{
    setFixedLocalTime(nullptr);
    clearFixedTickCount();
}

void platform::AdvanceClock(DWORD milliseconds)
{
    {
        std::lock_guard<std::mutex> g(g_hookLock);
        if (!g_manual)
            startManualLocked(realTick());
        g_manualTick = DWORD(g_manualTick + milliseconds);
        g_manualElapsed += milliseconds;
    }
    notifyClock();
}

void platform::SetManualClock(DWORD tick)
{
    {
        std::lock_guard<std::mutex> g(g_hookLock);
        startManualLocked(tick);
    }
    notifyClock();
}

void platform::UseRealClock()
{
    {
        std::lock_guard<std::mutex> g(g_hookLock);
        g_manual = false;
    }
    notifyClock();
}

bool platform::ClockIsManual() { return g_manual; }

void platform::SetClockListener(void (*listener)()) { g_clockListener = listener; }

DWORD GetTickCount()
{
    if (g_manual)
        return g_manualTick;
    return realTick();
}

DWORD GetCurrentThreadId() { return DWORD(::syscall(SYS_gettid)); }

DWORD GetCurrentProcessId() { return DWORD(::getpid()); }

void GetLocalTime(SYSTEMTIME* st)
{
    if (!st)
        return;
    std::lock_guard<std::mutex> g(g_hookLock);
    if (g_fixedTimeSet) {
        if (!g_manual || g_manualElapsed == 0) {
            *st = g_fixedTime;
            return;
        }
        // The fixed time moved on by what the manual clock advanced.
        tm t{};
        t.tm_year = g_fixedTime.wYear - 1900;
        t.tm_mon = g_fixedTime.wMonth - 1;
        t.tm_mday = g_fixedTime.wDay;
        t.tm_hour = g_fixedTime.wHour;
        t.tm_min = g_fixedTime.wMinute;
        t.tm_sec = g_fixedTime.wSecond;
        int64_t ms = int64_t(timegm(&t)) * 1000 + g_fixedTime.wMilliseconds + int64_t(g_manualElapsed);
        time_t secs = time_t(ms / 1000);
        tm out{};
        gmtime_r(&secs, &out);
        fillSystemTime(st, out, int(ms % 1000));
        return;
    }
    int64_t ms = g_manual ? g_manualStartEpochMs + int64_t(g_manualElapsed) : realEpochMs();
    time_t secs = time_t(ms / 1000);
    tm local{};
    localtime_r(&secs, &local);
    fillSystemTime(st, local, int(ms % 1000));
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
