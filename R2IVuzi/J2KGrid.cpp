#include "R2IVuzi/J2KGrid.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KToolTip.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"

#include <boost/make_shared.hpp>
#include <new>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

bool inRange(UINT id, UINT first, UINT last) { return id >= first && id <= last; }

} // namespace

CJ2KGrid::CJ2KGrid(const boost::shared_ptr<CJ2KSubFrame>& subFrame, int row, int column)
    : m_subFrame(subFrame), m_stacks(boost::make_shared<CJ2KGridHangingStackManager>()),
      m_row(row), m_column(column)
{
    // A failed allocation anywhere raises the grid's out-of-memory exception.
    std::set_new_handler(&CJ2KGrid::onOutOfMemory);
}

CJ2KGrid::~CJ2KGrid()
{
    if (m_voiMenu)
        DestroyMenu(m_voiMenu);
}

HWND CJ2KGrid::CreateGridWindow(HWND parent, const RECT& rect)
{
    return Create(parent, rect, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
}

CWindowImplBase::ClassInfo CJ2KGrid::GetWndClassInfo() const
{
    ClassInfo info;
    info.name = u"J2KGrid";
    info.style = CS_DBLCLKS;
    info.background = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    return info;
}

// ---- observer operations that become messages --------------------------------------

void CJ2KGrid::startRenderTimer(const std::string& target)
{
    if (HWND h = m_hWnd)
        SendMessageW(h, WM_J2K_START_RENDER_TIMER, reinterpret_cast<WPARAM>(&target), 0);
}

void CJ2KGrid::dataArrived(const std::string& target, const int region[5])
{
    if (HWND h = m_hWnd)
        SendMessageW(h, WM_J2K_DATA_ARRIVED, reinterpret_cast<WPARAM>(&target), reinterpret_cast<LPARAM>(region));
}

void CJ2KGrid::startProcess(const std::string& target)
{
    if (HWND h = m_hWnd)
        SendMessageW(h, WM_J2K_START_PROCESS, reinterpret_cast<WPARAM>(&target), 0);
}

void CJ2KGrid::startPresentation(const std::string& target)
{
    HWND h = m_hWnd;
    if (h && m_element && !m_target.empty())
        SendMessageW(h, WM_J2K_START_PRESENTATION, reinterpret_cast<WPARAM>(&target), 0);
}

void CJ2KGrid::updateRegion(const std::string& target, const int region[5])
{
    if (HWND h = m_hWnd)
        SendMessageW(h, WM_J2K_UPDATE_REGION, reinterpret_cast<WPARAM>(&target), reinterpret_cast<LPARAM>(region));
}

void CJ2KGrid::setLoaderReady(const std::string& target)
{
    if (HWND h = m_hWnd)
        SendMessageW(h, WM_J2K_LOADER_READY, reinterpret_cast<WPARAM>(&target), 0);
}

void CJ2KGrid::reportError(int kind, std::unique_ptr<CJ2KException> error)
{
    // The handler takes the exception over; what it leaves, or a send to a window that
    // is gone, is freed here.
    if (HWND h = m_hWnd)
        SendMessageW(h, WM_J2K_ERROR, WPARAM(kind), reinterpret_cast<LPARAM>(&error));
}

// ---- parent walks --------------------------------------------------------------------

boost::shared_ptr<CJ2KSubFrame> CJ2KGrid::lockSubFrame(int line, const char* message) const
{
    boost::shared_ptr<CJ2KSubFrame> subFrame = m_subFrame.lock();
    if (!subFrame)
        ORBEL_THROW_AT(CJ2KWeakPtrCastingException, line, message, "");
    return subFrame;
}

boost::shared_ptr<CPssiXmlDao> CJ2KGrid::getPssiXmlDao()
{
    return lockSubFrame(3610, "Parent Subframe invalid.")->getFrame()->getPssiXmlDao();
}

boost::shared_ptr<CJ2KAnnotationLoader> CJ2KGrid::getAnnotationLoader()
{
    return lockSubFrame(3624, "Parent Sub-frame invalid.")->getFrame()->getAnnotationLoader();
}

boost::shared_ptr<CJ2KImageLoaderMgr> CJ2KGrid::getImageLoaderMgr()
{
    return lockSubFrame(3638, "Parent Sub-frame invalid.")->getFrame()->getImageLoaderMgr();
}

// ---- routing ---------------------------------------------------------------------------

bool CJ2KGrid::isCurrentTarget(const std::string& target) const { return target == m_target; }

LRESULT CJ2KGrid::ProcessWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = true;
    const std::string* target = reinterpret_cast<const std::string*>(wParam);
    const int* region = reinterpret_cast<const int*>(lParam);
    const bool carriesTarget = msg == WM_J2K_START_RENDER_TIMER || msg == WM_J2K_DATA_ARRIVED ||
                               msg == WM_J2K_START_PROCESS || msg == WM_J2K_START_PRESENTATION ||
                               msg == WM_J2K_UPDATE_REGION || msg == WM_J2K_LOADER_READY;
    if (carriesTarget && !target)
        return 0;
    switch (msg) {
    case WM_LBUTTONDOWN:
        return OnLButtonDown(wParam, lParam);
    case WM_LBUTTONUP:
        return OnLButtonUp(wParam, lParam);
    case WM_MOUSEMOVE:
        return OnMouseMove(wParam, lParam);
    case WM_DESTROY:
        return OnDestroy();
    case WM_PAINT:
        OnPaint(true);
        // Default processing validates what is left to paint.
        handled = false;
        return 0;
    case WM_TIMER:
        return OnTimer(UINT_PTR(wParam));
    case WM_ERASEBKGND:
        return 0;
    case WM_J2K_START_RENDER_TIMER:
        return OnStartRenderTimer(*target);
    case WM_J2K_DATA_ARRIVED:
        return OnDataArrived(*target, region);
    case WM_J2K_START_PROCESS:
        return OnStartProcess(*target);
    case WM_J2K_START_PRESENTATION:
        return OnStartPresentation(*target);
    case WM_J2K_ERROR: {
        auto* error = reinterpret_cast<std::unique_ptr<CJ2KException>*>(lParam);
        return OnError(int(wParam), error ? std::move(*error) : std::unique_ptr<CJ2KException>());
    }
    case WM_J2K_UPDATE_REGION:
        return OnUpdateRegion(*target, region);
    case WM_J2K_LOADER_READY:
        return OnLoaderReady(*target);
    case WM_LBUTTONDBLCLK:
        return OnLButtonDblClk(wParam, lParam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        return OnKeyDown(wParam, lParam);
    case WM_RBUTTONUP:
        return OnRButtonUp(wParam, lParam);
    case WM_RBUTTONDOWN:
        return OnRButtonDown(wParam, lParam);
    case WM_SETCURSOR:
        return OnSetCursor(wParam, lParam, handled);
    case WM_COMMAND: {
        const UINT id = LOWORD(wParam);
        if (inRange(id, ID_TOOL_FIRST, ID_TOOL_LAST) || inRange(id, ID_SELECT_FIRST, ID_SELECT_LAST) ||
            inRange(id, ID_FIT_FIRST, ID_FIT_LAST) || inRange(id, ID_ANN_TOOL_FIRST, ID_TOOL_STAMP) ||
            inRange(id, ID_FLIP_HORIZONTAL, ID_ROTATE_CLOCKWISE) || inRange(id, ID_SHOW_OVERLAY, ID_SHOW_RULER) ||
            inRange(id, ID_VOI_NONE, ID_VOI_LAST) || inRange(id, ID_STAMP_FIRST, ID_STAMP_LAST) ||
            id == ID_MODALITY_LUT) {
            OnCommand(id);
            return 0;
        }
        break;
    }
    default:
        break;
    }
    handled = false;
    return 0;
}

// ---- the loader notifications handled here ------------------------------------------

LRESULT CJ2KGrid::OnStartRenderTimer(const std::string& target)
{
    if (isCurrentTarget(target)) {
        if (HWND h = m_hWnd)
            m_decodeTimer = SetTimer(h, kJ2KDecodeTimer, 100, nullptr);
    } else {
        stopAnimation();
    }
    return 0;
}

LRESULT CJ2KGrid::OnUpdateRegion(const std::string& target, const int region[5])
{
    if (isCurrentTarget(target) && m_image && region)
        m_image->getImageBase().SetDecodedRegion(region[1], region[2], region[3], region[4], region[0], true);
    return 0;
}

LRESULT CJ2KGrid::OnLoaderReady(const std::string& target)
{
    CJ2KImageLoader* loader = m_loader;
    if (isCurrentTarget(target) && loader)
        loader->setReady(true);
    return 0;
}

// ---- timers ----------------------------------------------------------------------------

void CJ2KGrid::startAnimation()
{
    HWND h = m_hWnd;
    if (m_animationTimer || !h)
        return;
    m_animationFrame = 240;
    m_animationTimer = SetTimer(h, kJ2KAnimationTimer, 10, nullptr);
}

void CJ2KGrid::stopAnimation()
{
    if (HWND h = m_hWnd)
        KillTimer(h, kJ2KAnimationTimer);
    m_animationTimer = 0;
}

void CJ2KGrid::stopTimers()
{
    // Each timer on its own: after an early error only the animation may run.
    HWND h = m_hWnd;
    if (m_decodeTimer && h)
        KillTimer(h, kJ2KDecodeTimer);
    m_decodeTimer = 0;
    if (m_animationTimer)
        stopAnimation();
}
