#include "R2IVuzi/J2KException.h"

CJ2KException::CJ2KException(const std::string& message, const std::string& sourceFile, int line,
                             const std::string& context)
    : message_(message), sourceFile_(sourceFile), line_(line), context_(context)
{
}

CJ2KException::~CJ2KException() {}

const char* CJ2KException::what() const noexcept { return message_.c_str(); }

void CJ2KException::setCause(J2KFailureCause cause, std::string detail)
{
    cause_ = cause;
    causeDetail_ = std::move(detail);
}

std::string describeFailure(const CJ2KException& error)
{
    const std::string& detail = error.getCauseDetail();
    switch (error.getCause()) {
    case J2KFailureCause::Transfer: return "transfer failed: " + detail;
    case J2KFailureCause::TimedOut: return "timed out: " + detail;
    case J2KFailureCause::HttpStatus: return "HTTP status " + detail;
    case J2KFailureCause::CutReply: return "reply cut inside a message";
    case J2KFailureCause::RefusedBody: return "body refused: " + detail;
    case J2KFailureCause::NoNewData: return "no new data";
    case J2KFailureCause::Unknown: break;
    }
    return error.what();
}

CJ2KConnectionException::CJ2KConnectionException(const std::string& message,
                                                 const std::string& sourceFile, int line,
                                                 const std::string& context)
    : CJ2KException(message, sourceFile, line, context)
{
}

CJ2KConnectionException::~CJ2KConnectionException() {}

CJ2KOpenStreamException::CJ2KOpenStreamException(std::string message, const std::string& sourceFile,
                                                 int line, const std::string& context)
    : CJ2KException(message, sourceFile, line, context)
{
}

CJ2KOpenStreamException::~CJ2KOpenStreamException() {}

CJ2KOverlayConnectionException::CJ2KOverlayConnectionException(const std::string& message,
                                                               const std::string& sourceFile,
                                                               int line, const std::string& context)
    : CJ2KException(message, sourceFile, line, context)
{
}

CJ2KOverlayConnectionException::~CJ2KOverlayConnectionException() {}

CJ2KParseException::CJ2KParseException(const std::string& message, const std::string& sourceFile,
                                       int line, const std::string& context)
    : CJ2KException(message, sourceFile, line, context)
{
}

CJ2KParseException::~CJ2KParseException() {}

CJ2KCreateNewThreadException::CJ2KCreateNewThreadException(const std::string& message,
                                                           const std::string& sourceFile, int line,
                                                           const std::string& context)
    : CJ2KException(message, sourceFile, line, context)
{
}

CJ2KCreateNewThreadException::~CJ2KCreateNewThreadException() {}

CJ2KWeakPtrCastingException::CJ2KWeakPtrCastingException(const std::string& message,
                                                         const std::string& sourceFile, int line,
                                                         const std::string& context)
    : CJ2KException(message, sourceFile, line, context)
{
}

CJ2KWeakPtrCastingException::~CJ2KWeakPtrCastingException() {}

CJ2KMemoryExhaustedException::CJ2KMemoryExhaustedException(const std::string& message,
                                                           const std::string& sourceFile, int line)
    : message_(message), sourceFile_(sourceFile), line_(line)
{
}

CJ2KMemoryExhaustedException::~CJ2KMemoryExhaustedException() {}

const char* CJ2KMemoryExhaustedException::what() const noexcept { return message_.c_str(); }
