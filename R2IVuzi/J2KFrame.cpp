#include "R2IVuzi/J2KFrame.h"

#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "platform/Gdi.h"

CJ2KFrame::CJ2KFrame(IJ2KFrameOwner* owner) : m_owner(owner)
{
    jpipGlobalInit();
    try {
        m_dao.reset(new CPssiXmlDao);
        m_annotationLoader.reset(new CJ2KAnnotationLoader);
        m_loaderMgr.reset(new CJ2KImageLoaderMgr);
    } catch (...) {
        m_annotationLoader.reset();
        m_loaderMgr.reset();
        jpipGlobalCleanup();
        throw;
    }
}

CJ2KFrame::~CJ2KFrame()
{
    // With the window gone every grid has posted its loader's kill, so the loaders' timed
    // joins below never wait on a grid that will not answer.
    if (m_hWnd)
        DestroyWindow();
    m_subFrames.clear();
    if (m_toolCursor)
        DestroyCursor(m_toolCursor);
    if (m_popupMenu)
        DestroyMenu(m_popupMenu);
    // libcurl is cleaned up only once no loader holds a handle. A request running on the
    // annotation loader holds the loader too: stopped here, its transfer is cut short and
    // its thread ends now, not when the server lets go of it.
    if (m_annotationLoader)
        m_annotationLoader->stop();
    m_annotationLoader.reset();
    m_loaderMgr.reset();
    jpipGlobalCleanup();
    m_dao.reset();
}

HWND CJ2KFrame::CreateFrameWindow(HWND parent, const RECT& rect)
{
    return Create(parent, rect, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
}

void CJ2KFrame::destroyFrameWindow()
{
    if (m_hWnd)
        DestroyWindow();
    m_subFrames.clear();
    m_savedStates.clear();
    m_rows = 0;
    m_columns = 0;
}

LRESULT CJ2KFrame::ProcessWindowMessage(HWND, UINT msg, WPARAM, LPARAM, bool& handled)
{
    switch (msg) {
    case WM_SIZE:
        arrangeWindows();
        return 0;
    case WM_DESTROY:
        return 0;
    default:
        handled = false;
        return 0;
    }
}

CWindowImplBase::ClassInfo CJ2KFrame::GetWndClassInfo() const
{
    ClassInfo info;
    info.name = u"J2KFrame";
    info.background = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    return info;
}

void CJ2KFrame::raiseCurrentPageChanged(int32_t page)
{
    if (m_owner)
        m_owner->Fire_OnCurrentPageChanged(page);
}

void CJ2KFrame::raiseFitTypeChanged(int32_t type)
{
    if (m_owner)
        m_owner->Fire_OnSetFitType(type);
}

void CJ2KFrame::setRememberedSubLayout(int column, int row, int subColumns, int subRows, int hangingPage)
{
    auto it = m_savedStates.find({column, row});
    if (it == m_savedStates.end()) {
        SavedSubFrameState state;
        state.framePage = m_currentPage;
        state.frameColumns = m_columns;
        state.frameRows = m_rows;
        state.hangingPage = hangingPage;
        it = m_savedStates.emplace(std::make_pair(column, row), state).first;
    }
    it->second.subColumns = subColumns;
    it->second.subRows = subRows;
}
