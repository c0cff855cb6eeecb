#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"

#include "platform/Kernel.h"

#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iomanip>
#include <new>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kSeverityNames[] = {"INFO", "WARNING", "ERROR", "FATAL"};
constexpr int kFatal = ORBEL_LOG_SEVERITY_FATAL;

// Read by every record on any thread while the user-interface thread may set them.
std::atomic<int> g_minLevel{ORBEL_LOG_SEVERITY_INFO};
std::atomic<bool> g_showPid{false};
std::atomic<bool> g_showTid{false};
std::atomic<bool> g_showTime{true};
std::atomic<bool> g_showTick{false};

// Everything about the file lives under one lock: opening, writing, closing and every
// change initLogFile makes, so closeLogFile can never pull the descriptor from under a
// writer.
struct LogFile {
    boost::mutex lock;
    int toFile = 0;
    int lockMode = 0;
    std::u16string path;
    int fd = -1;
    pid_t opener = 0; // the process that opened fd
    int openError = 0;      // errno of the last failed open
    bool errorShown = false; // the failure has been told on standard error for this path
};

// Never destroyed, so records written while the process exits still find their lock.
// Static storage rather than the heap: a module that is unloaded takes it along instead
// of leaving an allocation behind on every load.
LogFile& logFile()
{
    alignas(LogFile) static unsigned char storage[sizeof(LogFile)];
    static LogFile* file = new (storage) LogFile;
    return *file;
}

// Built before main, so the lock exists before any thread can log.
[[maybe_unused]] const bool g_logFileReady = (logFile(), true);

void closeLocked(LogFile& f)
{
    if (f.fd >= 0)
        ::close(f.fd);
    f.fd = -1;
}

int openFile(const std::string& path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Makes every missing folder above path; false when one cannot be made.
bool makeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool openLocked(LogFile& f)
{
    if (f.fd >= 0) {
        if (f.opener == ::getpid())
            return true;
        // A forked child shares the parent's open file: the same offset and the same
        // file lock, which would no longer keep the two processes' records apart.
        closeLocked(f);
    }
    if (f.toFile != 1)
        return false;
    const std::string mapped = MapDrivePath(f.path);
    if (mapped.empty())
        return false;
    int fd = openFile(mapped);
    // A log whose folder does not exist yet gets the folder.
    if (fd < 0 && errno == ENOENT && makeParents(mapped))
        fd = openFile(mapped);
    if (fd < 0) {
        f.openError = errno;
        return false;
    }
    ::lseek(fd, 0, SEEK_END);
    f.fd = fd;
    f.opener = ::getpid();
    return true;
}

void appendLocked(LogFile& f, const std::string& text)
{
    const bool fileLock = f.lockMode == 0;
    // The kernel drops a dead holder's lock, so a lock left by a crashed process is
    // simply acquired; any other failure still writes rather than losing the record.
    if (fileLock)
        while (::flock(f.fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    ::lseek(f.fd, 0, SEEK_END);
    ssize_t n;
    do
        n = ::write(f.fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    if (fileLock)
        ::flock(f.fd, LOCK_UN);
}

} // namespace

void setMinLogLevel(int level) { g_minLevel = level; }

void setLogItems(bool pid, bool tid, bool time, bool tick)
{
    g_showPid = pid;
    g_showTid = tid;
    g_showTime = time;
    g_showTick = tick;
}

void initLogFile(const WCHAR* path, int toFile, int lockMode, int append)
{
    LogFile& f = logFile();
    boost::lock_guard<boost::mutex> guard(f.lock);
    closeLocked(f);
    f.lockMode = lockMode;
    f.toFile = toFile;
    // Only 1 means file output; any other value leaves the path and an old file alone.
    if (toFile != 1)
        return;
    f.path = path ? std::u16string(path) : std::u16string();
    f.errorShown = false;
    if (!append) {
        const std::string mapped = MapDrivePath(f.path);
        if (!mapped.empty())
            ::unlink(mapped.c_str());
    }
    openLocked(f);
}

// The record lives in static storage, but its path is on the heap: a module that is
// unloaded closes the file and frees the path, or the path would outlive every pointer
// to it.
const StartupRegistrar kLogFileRelease(0, 4, "log file", nullptr, [] {
    LogFile& f = logFile();
    boost::lock_guard<boost::mutex> guard(f.lock);
    closeLocked(f);
    std::u16string().swap(f.path);
});

void closeLogFile()
{
    LogFile& f = logFile();
    boost::lock_guard<boost::mutex> guard(f.lock);
    closeLocked(f);
}

LogMessage::LogMessage(const char* file, int line) : LogMessage(file, line, ORBEL_LOG_SEVERITY_INFO) {}

LogMessage::LogMessage(const char* file, int line, int severity) : severity_(severity)
{
    writeHeader(file, line);
}

void LogMessage::writeHeader(const char* file, int line)
{
    const int name = severity_ < 0 ? 0 : severity_ > kFatal ? kFatal : severity_;
    stream_ << '[' << kSeverityNames[name] << ':';
    if (g_showPid)
        stream_ << GetCurrentProcessId() << ':';
    if (g_showTid)
        stream_ << GetCurrentThreadId() << ':';
    if (g_showTime) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        // The zero fill stays for the rest of the record.
        stream_.fill('0');
        stream_ << std::setw(2) << st.wMonth << std::setw(2) << st.wDay << '/' << std::setw(2)
                << st.wHour << std::setw(2) << st.wMinute << std::setw(2) << st.wSecond << ':';
    }
    if (g_showTick)
        stream_ << GetTickCount() << ':';
    const char* base = file ? file : "";
    if (const char* slash = std::strrchr(base, '\\'))
        base = slash + 1;
    stream_ << base << '(' << line << ")] ";
}

LogMessage::~LogMessage()
{
    try {
        if (severity_ < g_minLevel)
            return;
        stream_ << "\r\n";
        const std::string text = stream_.str();
        if (severity_ >= kFatal)
            std::fprintf(stderr, "%s", text.c_str());
        LogFile& f = logFile();
        boost::lock_guard<boost::mutex> guard(f.lock);
        if (openLocked(f)) {
            appendLocked(f, text);
        } else if (f.toFile != 1) {
            // No file is asked for (before the control's Init, say): warnings and errors
            // would otherwise be lost, and a refused call must be seen somewhere.
            if (severity_ >= ORBEL_LOG_SEVERITY_WARNING && severity_ < kFatal)
                std::fprintf(stderr, "%s", text.c_str());
        } else if (f.toFile == 1 && !f.errorShown) {
            // Said once per path, with the record that found it out, so a log that cannot
            // be written is never silent.
            f.errorShown = true;
            const std::string mapped = MapDrivePath(f.path);
            std::fprintf(stderr, "The log %s cannot be written: %s\n%s", mapped.empty() ? "(no path)" : mapped.c_str(),
                         mapped.empty() ? "the path maps to no file" : std::strerror(f.openError),
                         severity_ >= kFatal ? "" : text.c_str());
        }
    } catch (...) {
        // A record that cannot be built (out of memory) is lost, never thrown from here.
    }
}
