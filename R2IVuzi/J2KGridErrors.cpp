// What a grid does when a loader's request fails: retry a bounded number of times, give
// up keeping what it has (marked failed, so the cell and the status document say so), or
// only stop its timers. Also the process-wide new-handler.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"

#include <new>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

// The context of a report; a missing object counts as one with an empty context.
std::string contextOf(const std::unique_ptr<CJ2KException>& error)
{
    return error ? error->getContext() : std::string();
}

// Why a retry happens, for its record.
std::string whyOf(const std::unique_ptr<CJ2KException>& error)
{
    return error ? describeFailure(*error) : std::string("no reason given");
}

// A request the server answered, but with a status, a body or a silence the viewer cannot
// use, is a failed reply, not a failed connection.
const char* retryLead(const std::unique_ptr<CJ2KException>& error)
{
    switch (error ? error->getCause() : J2KFailureCause::Unknown) {
    case J2KFailureCause::HttpStatus:
    case J2KFailureCause::CutReply:
    case J2KFailureCause::RefusedBody:
    case J2KFailureCause::NoNewData: return "JPIP Server Reply Error";
    default: return "JPIP Server Connection Error";
    }
}
} // namespace

LRESULT CJ2KGrid::OnError(int kind, std::unique_ptr<CJ2KException> error)
{
    // The grid owns the object from here on; every path below frees it.
    switch (static_cast<J2KErrorKind>(kind)) {
    case J2KErrorKind::Connection:
        handleConnectionError(std::move(error));
        break;
    case J2KErrorKind::AnnotationConnection:
        handleAnnotationConnectionError(std::move(error));
        break;
    case J2KErrorKind::OpenStream:
        handleOpenStreamError(std::move(error));
        break;
    case J2KErrorKind::Parse:
        handleParseError(std::move(error));
        break;
    case J2KErrorKind::StopQuietly:
        stopTimers();
        break;
    default:
        error.reset(new CJ2KException("Generic Error", kOrbelSourceName, 806, ""));
        stopTimers();
        break;
    }
    return 0;
}

void CJ2KGrid::handleConnectionError(std::unique_ptr<CJ2KException> error)
{
    if (m_decodeTimer && m_hWnd)
        KillTimer(m_hWnd, kJ2KDecodeTimer);
    m_decodeTimer = 0;
    // An empty target has nothing to reopen, and a missing object names no image.
    if (!m_target.empty() && contextOf(error) == m_target && m_connectionRetries < g_retryCount) {
        ++m_connectionRetries;
        ORBEL_LOG(ERROR) << retryLead(error) << " When handling " << m_target << " Retrying: " << m_connectionRetries
                         << " (" << whyOf(error) << ")";
        error.reset();
        openTargetImage(true);
        return;
    }
    if (!m_target.empty() && contextOf(error) == m_target)
        markFailed(error);
    stopAnimation();
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CJ2KGrid::markFailed(const std::unique_ptr<CJ2KException>& error)
{
    if (!m_image)
        return;
    const std::string reason = error && *error->what() ? error->what() : "Unknown failure!";
    m_image->setFailure(reason);
    ORBEL_LOG(ERROR) << "Giving up on " << m_target << ": " << reason;
}

void CJ2KGrid::handleOpenStreamError(std::unique_ptr<CJ2KException> error)
{
    if (m_target.empty() || contextOf(error) != m_target)
        return;
    const int taken = m_openStreamRetries++;
    if (taken >= g_retryCount) {
        // The image and its target stay, so the cell still shows which image it was.
        markFailed(error);
        stopAnimation();
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, TRUE);
        return;
    }
    ORBEL_LOG(ERROR) << "Open JPIP file Error When handling " << m_target << " Retrying: " << m_openStreamRetries
                     << " (" << whyOf(error) << ")";
    error.reset();
    openTargetImage(true);
}

void CJ2KGrid::handleAnnotationConnectionError(std::unique_ptr<CJ2KException> error)
{
    try {
        boost::shared_ptr<CJ2KAnnotationLoader> loader = getAnnotationLoader();
        int n = loader->retryCounter();
        const std::string objectFile = getPssiXmlDao()->getObjectFile(m_element);
        const std::string context = contextOf(error);
        const bool current = !context.empty() && objectFile == context;
        if (n < g_retryCount && current) {
            ++n;
            ORBEL_LOG_AT(ERROR, 890) << "Annotation Sever Connection Error When handling " << m_target
                                     << " Retrying: " << n << " (" << whyOf(error) << ")";
            loader->retryCounter() = n;
            error.reset();
            openTargetOverlay();
            return;
        }
        m_annotationFailed = true;
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, TRUE);
        // No reply will present the image the grid still shows. Another image's own
        // request may still be pending, so that one is left alone.
        if (current)
            OnStartPresentation(m_target);
    } catch (...) {
        ORBEL_LOG_AT(INFO, 908) << "Exception happened in handleAnnotationConnectionError";
    }
}

void CJ2KGrid::handleParseError(std::unique_ptr<CJ2KException> error)
{
    stopTimers();
    ORBEL_LOG(ERROR) << "Parse JPIP Packets Error When handling " << m_target;
    if (!m_target.empty() && contextOf(error) == m_target)
        markFailed(error);
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CJ2KGrid::handleMemoryError()
{
    stopTimers();
    ORBEL_LOG(FATAL) << "Memory Allocation Error!";
}

void CJ2KGrid::onOutOfMemory()
{
    // Logging allocates: a failure there must not re-enter without end, so a nested call
    // throws at once, with nothing to build.
    static thread_local bool inside = false;
    if (inside)
        throw std::bad_alloc();
    struct Guard {
        Guard() { inside = true; }
        ~Guard() { inside = false; }
    } guard;
    try {
        ORBEL_LOG(FATAL) << "OutOfMemory  !";
    } catch (...) {
    }
    throw CJ2KMemoryExhaustedException("Memory allocation failed", kOrbelSourceName, 197);
}
