#include "R2IVuzi/J2KException.h"

CJ2KException::CJ2KException(const std::string& message, const std::string& sourceFile, int line,
                             const std::string& context)
    : message_(message), sourceFile_(sourceFile), line_(line), context_(context)
{
}

CJ2KException::~CJ2KException() {}

const char* CJ2KException::what() const noexcept { return message_.c_str(); }

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
