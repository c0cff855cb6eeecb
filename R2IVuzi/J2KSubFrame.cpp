#include "R2IVuzi/J2KSubFrame.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "platform/Gdi.h"

#include <boost/make_shared.hpp>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KSubFrame")

CJ2KSubFrame::CJ2KSubFrame(const boost::shared_ptr<CJ2KFrame>& frame, int column, int row)
    : m_column(column), m_row(row), m_stacks(boost::make_shared<CJ2KSubFrameHangingStackManager>()), m_frame(frame)
{
}

CJ2KSubFrame::~CJ2KSubFrame()
{
    // A grid is destroyed only after its window.
    for (const auto& grid : m_grids)
        if (grid->m_hWnd)
            grid->DestroyWindow();
}

HWND CJ2KSubFrame::CreateSubFrameWindow(HWND parent, const RECT& rect)
{
    return Create(parent, rect, WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
}

boost::shared_ptr<CJ2KFrame> CJ2KSubFrame::getFrame() const
{
    boost::shared_ptr<CJ2KFrame> frame = m_frame.lock();
    if (!frame)
        ORBEL_THROW_AT(CJ2KWeakPtrCastingException, 1182, "Parent frame invalid.", "");
    return frame;
}

CWindowImplBase::ClassInfo CJ2KSubFrame::GetWndClassInfo() const
{
    ClassInfo info;
    info.name = u"J2KSubFrame";
    info.background = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    return info;
}
