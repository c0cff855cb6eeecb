#include "R2IVuzi/J2KFrame.h"

#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "platform/Gdi.h"

CJ2KFrame::CJ2KFrame(COrbelViewer* owner) : m_owner(owner)
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
    // libcurl is cleaned up only once no loader holds a handle.
    m_annotationLoader.reset();
    m_loaderMgr.reset();
    jpipGlobalCleanup();
}

CWindowImplBase::ClassInfo CJ2KFrame::GetWndClassInfo() const
{
    ClassInfo info;
    info.name = u"J2KFrame";
    info.background = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    return info;
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
