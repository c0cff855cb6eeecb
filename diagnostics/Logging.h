// The levelled log file: one process-wide text file of records, each built in memory by a
// short-lived LogMessage and appended with a single write under the log lock, so records
// of concurrent threads (and, in lock mode 0, of other processes) never interleave.
//
// In a .cpp that states ORBEL_SOURCE_NAME(".\\R2IVuzi\\PssiXmlDao"):
//     ORBEL_LOG(INFO) << "Init Done!";          // the current line
//     ORBEL_LOG_AT(FATAL, 1258) << "failed";    // a fixed line
#pragma once

#include "diagnostics/SourceName.h"
#include "platform/WinTypes.h"

#include <sstream>

#define ORBEL_LOG_SEVERITY_INFO 0
#define ORBEL_LOG_SEVERITY_WARNING 1
#define ORBEL_LOG_SEVERITY_ERROR 2
#define ORBEL_LOG_SEVERITY_FATAL 3

// Token pasting keeps a platform macro named ERROR from being expanded in the argument.
#define ORBEL_LOG(sev) ::LogMessage(kOrbelSourceName, __LINE__, ORBEL_LOG_SEVERITY_##sev).stream()
#define ORBEL_LOG_AT(sev, line) ::LogMessage(kOrbelSourceName, (line), ORBEL_LOG_SEVERITY_##sev).stream()

// Records below this severity are dropped entirely (no file, no standard error).
void setMinLogLevel(int level);
// The four optional header fields, in header order. At start-up only the time is on.
void setLogItems(bool pid, bool tid, bool time, bool tick);
// Closes any open log, then, when toFile is 1, takes path ("C:\..." mapped through
// $ORBEL_DRIVE_C), deletes the old file unless append is non-zero, and opens it.
// lockMode 0 also locks the file itself for each write, serialising other processes.
// A missing folder is made; a file that still cannot be opened is told once on standard
// error, with the record that found it out, and the next record tries again.
// While no file output is set (before the first call, or toFile other than 1), WARNING
// and ERROR records go to standard error instead of nowhere.
void initLogFile(const WCHAR* path, int toFile, int lockMode, int append);
// Closes the file; the next record reopens it at the same path and appends.
void closeLogFile();

// One record: the header is written at construction, the caller streams the text, and the
// destructor appends "\r\n" and writes it (FATAL records also go to standard error).
class LogMessage {
public:
    LogMessage(const char* file, int line);
    LogMessage(const char* file, int line, int severity);
    ~LogMessage();
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    std::ostream& stream() { return stream_; }

private:
    void writeHeader(const char* file, int line);

    int severity_;
    std::ostringstream stream_;
};
