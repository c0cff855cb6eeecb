// One operation applied to every sub-frame, in the frame's order. Each walk runs over a
// copy of the set: an event or a nested command may rebuild the layout meanwhile.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"

template <typename Operation>
void CJ2KFrame::forEachSubFrame(Operation operation)
{
    for (const auto& s : getSubFrames())
        operation(*s);
}

void CJ2KFrame::setFitType(int type)
{
    m_fitType = type;
    forEachSubFrame([&](CJ2KSubFrame& s) { s.setFitType(type); });
}

UINT CJ2KFrame::fitItemOf(int type)
{
    switch (type) {
    case 2: return ID_FIT_FIRST + 2;
    case 3: return ID_FIT_FIRST;
    case 4: return ID_FIT_FIRST + 1;
    default: return ID_FIT_LAST;
    }
}
void CJ2KFrame::invertWindowLevel() { forEachSubFrame([](CJ2KSubFrame& s) { s.invertWindowLevel(); }); }
void CJ2KFrame::resetView() { forEachSubFrame([](CJ2KSubFrame& s) { s.resetView(); }); }
void CJ2KFrame::flip(bool horizontal) { forEachSubFrame([&](CJ2KSubFrame& s) { s.flip(horizontal); }); }
void CJ2KFrame::rotate(bool clockwise) { forEachSubFrame([&](CJ2KSubFrame& s) { s.rotate(clockwise); }); }

void CJ2KFrame::adjustWindowLevel(int dx, int dy, bool fine)
{
    forEachSubFrame([&](CJ2KSubFrame& s) { s.adjustWindowLevel(dx, dy, fine); });
}

void CJ2KFrame::pan(int dx, int dy) { forEachSubFrame([&](CJ2KSubFrame& s) { s.pan(dx, dy); }); }
void CJ2KFrame::zoom(float factor, bool actualSize)
{
    forEachSubFrame([&](CJ2KSubFrame& s) { s.zoom(factor, actualSize); });
}

void CJ2KFrame::deselectAll()
{
    for (const auto& s : getSubFrames()) {
        s->setSelected(false);
        s->deselectAllGrids();
    }
}

void CJ2KFrame::selectAll()
{
    for (const auto& s : getSubFrames()) {
        s->setSelected(true);
        s->selectAllGrids();
    }
}

void CJ2KFrame::selectGridsOfSelected()
{
    for (const auto& s : getSubFrames())
        if (s->isSelected())
            s->selectAllGrids();
}

void CJ2KFrame::clearHanging()
{
    for (const auto& s : getSubFrames()) {
        s->resetAll();
        s->setCurrentKey(0);
    }
}

void CJ2KFrame::setPageAndShow()
{
    for (const auto& s : getSubFrames()) {
        s->setCurrentKey(m_currentPage);
        s->setChanged(true);
        s->refreshGrids();
    }
}

void CJ2KFrame::refreshSubFrames()
{
    rewindPastTheEnd();
    // Only sub-frames whose page moved show anew.
    for (const auto& s : getSubFrames()) {
        s->setCurrentKey(m_currentPage);
        s->refreshGrids();
    }
}

void CJ2KFrame::repaint()
{
    for (const auto& s : getSubFrames()) {
        if (!s->m_hWnd)
            continue;
        InvalidateRect(s->m_hWnd, nullptr, TRUE);
        for (const auto& grid : s->getGrids())
            if (grid->m_hWnd)
                InvalidateRect(grid->m_hWnd, nullptr, TRUE);
    }
}

void CJ2KFrame::markTurned()
{
    for (const auto& s : getSubFrames())
        s->setChanged(true);
}

void CJ2KFrame::rewindSubPage()
{
    for (const auto& s : getSubFrames())
        if (s->isSelected())
            s->getStackManager()->setCurrent(s->getStackManager()->currentKey(), 0);
}

bool CJ2KFrame::turnHangingPage(bool previous)
{
    bool moved = false;
    for (const auto& s : getSubFrames())
        moved = s->turn(previous) || moved;
    return moved;
}

bool CJ2KFrame::turnHangingPageTo(int page)
{
    bool moved = false;
    for (const auto& s : getSubFrames())
        moved = s->turnTo(page) || moved;
    return moved;
}

bool CJ2KFrame::pageToNode(const TiXmlNode* node)
{
    bool found = false;
    for (const auto& s : getSubFrames()) {
        const int page = s->pageOfNode(node);
        if (page < 0)
            continue;
        m_currentPage = page;
        raiseCurrentPageChanged(page);
        found = true;
    }
    return found;
}

void CJ2KFrame::selectHolders(const TiXmlNode* node)
{
    for (const auto& s : getSubFrames())
        if (s->pageOfNode(node) >= 0)
            s->setSelected(true);
}

boost::shared_ptr<CJ2KSubFrame> CJ2KFrame::findAt(int column, int row) const
{
    for (const auto& s : m_subFrames)
        if (s->getColumn() == column && s->getRow() == row)
            return s;
    return {};
}

HWND CJ2KFrame::lastSelectedWindow() const
{
    HWND window = nullptr;
    for (const auto& s : m_subFrames)
        if (s->isSelected())
            window = s->m_hWnd;
    return window;
}

HWND CJ2KFrame::firstSelectedGridWindow() const
{
    for (const auto& s : m_subFrames)
        if (s->isSelected())
            if (HWND window = s->firstSelectedGridWindow())
                return window;
    return nullptr;
}
