// The viewer's exceptions. Each carries, besides its message, where it was raised (the
// system's source name and line) and a context text (often empty; for connection
// failures the image target), so that a handler can log it and choose a retry. Handlers
// tell the subclasses apart by type; a failed JPIP exchange also carries its cause, which
// only words the log.
#pragma once

#include "diagnostics/SourceName.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

// What a failed JPIP exchange came to, so that a retry record says why in the words of
// what happened (a garbled body is no connection failure).
enum class J2KFailureCause {
    Unknown,
    Transfer,    // the HTTP library failed: no connection, a transfer broken off
    TimedOut,    // no connection, or no data, within the time allowed
    HttpStatus,  // an answer other than 200; the detail is the status
    CutReply,    // the reply ended inside a message
    RefusedBody, // the reply, or the data it brought, was refused; the detail says why
    NoNewData,   // exchange after exchange brought nothing new
};

class CJ2KException : public std::exception {
public:
    CJ2KException(const std::string& message, const std::string& sourceFile, int line,
                  const std::string& context);
    ~CJ2KException() override;

    const char* what() const noexcept override;
    const std::string& getSourceFile() const { return sourceFile_; }
    int getLine() const { return line_; }
    const std::string& getContext() const { return context_; }
    J2KFailureCause getCause() const { return cause_; }
    const std::string& getCauseDetail() const { return causeDetail_; }
    void setCause(J2KFailureCause cause, std::string detail);

private:
    std::string message_;
    std::string sourceFile_;
    int line_;
    std::string context_;
    J2KFailureCause cause_ = J2KFailureCause::Unknown;
    std::string causeDetail_;
};

// "HTTP status 500", "timed out: Timeout was reached", "body refused: Invalid Bin-ID." ...;
// the message itself when the cause is unknown.
std::string describeFailure(const CJ2KException& error);

template <typename Error>
[[noreturn]] void throwWithCause(Error error, J2KFailureCause cause, std::string detail)
{
    error.setCause(cause, std::move(detail));
    throw error;
}

// A JPIP request failed in the HTTP library or got a status other than 200; the context
// is the image target.
class CJ2KConnectionException : public CJ2KException {
public:
    CJ2KConnectionException(const std::string& message, const std::string& sourceFile, int line,
                            const std::string& context);
    ~CJ2KConnectionException() override;
};

// The channel-open reply is unusable.
class CJ2KOpenStreamException : public CJ2KException {
public:
    CJ2KOpenStreamException(std::string message, const std::string& sourceFile, int line,
                            const std::string& context);
    ~CJ2KOpenStreamException() override;
};

// The annotation server cannot be reached or answers with a status other than 200.
class CJ2KOverlayConnectionException : public CJ2KException {
public:
    CJ2KOverlayConnectionException(const std::string& message, const std::string& sourceFile,
                                   int line, const std::string& context);
    ~CJ2KOverlayConnectionException() override;
};

// A codestream is opened on an image that has no source.
class CJ2KParseException : public CJ2KException {
public:
    CJ2KParseException(const std::string& message, const std::string& sourceFile, int line,
                       const std::string& context);
    ~CJ2KParseException() override;
};

// A loader thread cannot be started.
class CJ2KCreateNewThreadException : public CJ2KException {
public:
    CJ2KCreateNewThreadException(const std::string& message, const std::string& sourceFile,
                                 int line, const std::string& context);
    ~CJ2KCreateNewThreadException() override;
};

// A child's weak pointer to its parent has expired.
class CJ2KWeakPtrCastingException : public CJ2KException {
public:
    CJ2KWeakPtrCastingException(const std::string& message, const std::string& sourceFile,
                                int line, const std::string& context);
    ~CJ2KWeakPtrCastingException() override;
};

// Out of memory: an allocation failure, deliberately not a CJ2KException, so that only
// handlers of std::bad_alloc or std::exception catch it.
class CJ2KMemoryExhaustedException : public std::bad_alloc {
public:
    CJ2KMemoryExhaustedException(const std::string& message, const std::string& sourceFile,
                                 int line);
    ~CJ2KMemoryExhaustedException() override;

    const char* what() const noexcept override;
    const std::string& getSourceFile() const { return sourceFile_; }
    int getLine() const { return line_; }

private:
    std::string message_;
    std::string sourceFile_;
    int line_;
};

// Named by catch clauses only; nothing raises it.
class CJ2KMemoryAccessViolation {};

// Raising with the source name the .cpp states once with ORBEL_SOURCE_NAME:
//   ORBEL_THROW(CJ2KParseException, "Input source is null.", "");
//   ORBEL_THROW_AT(CJ2KException, 68, text, "");  // a fixed line
//   ORBEL_THROW_NO_MEMORY("Memory allocation failed");
#define ORBEL_THROW(Type, message, context) throw Type((message), kOrbelSourceName, __LINE__, (context))
#define ORBEL_THROW_AT(Type, line, message, context)                                              \
    throw Type((message), kOrbelSourceName, (line), (context))
//   ORBEL_THROW_BECAUSE(CJ2KConnectionException, 357, J2KFailureCause::HttpStatus, "500", text, target);
#define ORBEL_THROW_BECAUSE(Type, line, cause, detail, message, context)                           \
    throwWithCause(Type((message), kOrbelSourceName, (line), (context)), (cause), (detail))
#define ORBEL_THROW_NO_MEMORY(message)                                                             \
    throw CJ2KMemoryExhaustedException((message), kOrbelSourceName, __LINE__)
