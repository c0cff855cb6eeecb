#include "R2IVuzi/J2KSubFrame.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/OrbelScrollbar.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"
#include "platform/Gdi.h"

#include <boost/make_shared.hpp>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KSubFrame")

namespace {

const UINT WM_J2K_SELECT_SUBFRAME = WM_APP + 9;
const COLORREF kSelectedBorder = RGB(0, 255, 0);
const COLORREF kBorder = RGB(0x4B, 0x4B, 0x4B);

// A solid fill the way text output paints its background.
void fillSolid(HDC dc, int x, int y, int w, int h, COLORREF colour)
{
    const COLORREF old = SetBkColor(dc, colour);
    const RECT r{x, y, x + w, y + h};
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    SetBkColor(dc, old);
}

} // namespace

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

bool CJ2KSubFrame::createWindows(HWND frameWindow)
{
    const RECT empty{0, 0, 0, 0};
    if (!m_hWnd && !CreateSubFrameWindow(frameWindow, empty))
        return false;
    if (m_scrollBar)
        return true;
    HWND bar = CreateWindowExW(0, u"SCROLLBAR", nullptr, WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0, 0, 0, frameWindow,
                               nullptr, nullptr, nullptr);
    if (!bar)
        return false;
    auto scrollBar = std::make_unique<COrbelScrollbar>();
    if (!scrollBar->SubclassWindow(bar)) {
        ::DestroyWindow(bar);
        return false;
    }
    scrollBar->setNotifyWindow(m_hWnd);
    m_scrollBar = std::move(scrollBar);
    return true;
}

void CJ2KSubFrame::destroyWindows()
{
    if (m_scrollBar) {
        if (HWND bar = m_scrollBar->hwnd())
            ::DestroyWindow(bar);
        m_scrollBar.reset();
    }
    if (m_hWnd)
        DestroyWindow();
}

HWND CJ2KSubFrame::getScrollBarWindow() const { return m_scrollBar ? m_scrollBar->hwnd() : nullptr; }

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
    info.style = CS_DBLCLKS;
    info.background = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    return info;
}

LRESULT CJ2KSubFrame::ProcessWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM, bool& handled)
{
    // The frame may rebuild the layout from an event fired below; this object stays
    // alive until the handler returns.
    boost::shared_ptr<CJ2KSubFrame> self = shared_from_this();
    try {
        switch (msg) {
        case WM_PAINT:
            paint();
            return 0;
        case WM_SIZE:
            updateScrollBar();
            return 0;
        case WM_LBUTTONDBLCLK:
            toggleSingleView();
            return 0;
        case WM_J2K_SELECT_SUBFRAME:
            selectFromScrollBar();
            return 0;
        case WM_MOUSEWHEEL:
            return pageByWheel(wParam);
        case WM_VSCROLL:
            return pageByScrollBar(wParam);
        default:
            break;
        }
    } catch (const std::exception& e) {
        ORBEL_LOG(INFO) << "Exception happened in CJ2KSubFrame::ProcessWindowMessage: " << e.what();
        return 0;
    }
    handled = false;
    return 0;
}

void CJ2KSubFrame::paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int x = rc.left, y = rc.top, w = rc.right - rc.left, h = rc.bottom - rc.top;
    const COLORREF colour = m_selected ? kSelectedBorder : kBorder;
    fillSolid(dc, x, y, w - 1, 1, colour);
    fillSolid(dc, x, y, 1, h - 1, colour);
    fillSolid(dc, x + w - 1, y, 1, h, colour);
    fillSolid(dc, x, y + h - 1, w, 1, colour);
    EndPaint(m_hWnd, &ps);
    for (const auto& grid : m_grids)
        if (grid->m_hWnd)
            InvalidateRect(grid->m_hWnd, nullptr, TRUE);
}

void CJ2KSubFrame::layOut()
{
    if (m_grids.empty() || !m_hWnd)
        return;
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    InflateRect(&rc, -1, -1);
    const auto grids = m_grids;
    for (const auto& grid : grids) {
        const int r = grid->getRow(), c = grid->getColumn();
        const int top = layoutCellEdge(rc.top, rc.bottom, m_subRows, r);
        const int bottom = layoutCellEdge(rc.top, rc.bottom, m_subRows, r + 1);
        const int left = layoutCellEdge(rc.left, rc.right, m_subColumns, c);
        const int right = layoutCellEdge(rc.left, rc.right, m_subColumns, c + 1);
        if (!grid->m_hWnd)
            continue;
        SetWindowPos(grid->m_hWnd, nullptr, left, top, right - left, bottom - top, SWP_NOZORDER | SWP_SHOWWINDOW);
        grid->layout();
    }
}

void CJ2KSubFrame::updateScrollBar()
{
    if (!m_scrollBar)
        return;
    auto record = m_stacks->records().find(m_stacks->currentKey());
    const int count = record == m_stacks->records().end() ? 0 : record->second.pageCount;
    m_scrollBar->setPages(count, m_stacks->currentPage());
    if (HWND bar = m_scrollBar->hwnd())
        InvalidateRect(bar, nullptr, FALSE);
}

void CJ2KSubFrame::setCurrentKey(int key) { m_stacks->setCurrentKey(key); }

int CJ2KSubFrame::pageOfNode(const TiXmlNode* node)
{
    TiXmlNode* root = findStackOfNode(node);
    return root ? m_stacks->keyOfRoot(root) : -1;
}

void CJ2KSubFrame::selectAllGrids()
{
    for (const auto& grid : m_grids)
        grid->setSelected(true);
}

void CJ2KSubFrame::deselectAllGrids()
{
    for (const auto& grid : m_grids)
        grid->setSelected(false);
}

HWND CJ2KSubFrame::firstSelectedGridWindow() const
{
    for (const auto& grid : m_grids)
        if (grid->isSelected())
            return grid->m_hWnd;
    return nullptr;
}

template <typename Command>
void CJ2KSubFrame::forEachGrid(Command command)
{
    // Over a copy: a command may page or rebuild the grids under it.
    const std::vector<boost::shared_ptr<CJ2KGrid>> grids = m_grids;
    for (const auto& grid : grids)
        command(*grid);
}

void CJ2KSubFrame::setFitType(int type) { forEachGrid([&](CJ2KGrid& g) { g.setFitType(type); }); }
void CJ2KSubFrame::invertWindowLevel() { forEachGrid([](CJ2KGrid& g) { g.invertGrey(); }); }
void CJ2KSubFrame::resetView() { forEachGrid([](CJ2KGrid& g) { g.resetView(); }); }
void CJ2KSubFrame::flip(bool horizontal) { forEachGrid([&](CJ2KGrid& g) { g.flip(horizontal); }); }
void CJ2KSubFrame::rotate(bool clockwise) { forEachGrid([&](CJ2KGrid& g) { g.rotate(clockwise); }); }

void CJ2KSubFrame::adjustWindowLevel(int dx, int dy, bool fine)
{
    forEachGrid([&](CJ2KGrid& g) { g.adjustWindowLevel(dx, dy, fine); });
}

void CJ2KSubFrame::pan(int dx, int dy) { forEachGrid([&](CJ2KGrid& g) { g.pan(dx, dy); }); }
void CJ2KSubFrame::zoom(float factor, bool actualSize)
{
    forEachGrid([&](CJ2KGrid& g) { g.zoom(factor, actualSize); });
}

void CJ2KSubFrame::toggleSingleView()
{
    // A single cell outside single view has nothing to switch to.
    if (!m_singleView && m_subRows * m_subColumns <= 1)
        return;
    m_singleView = !m_singleView;
    ShowWindow(m_hWnd, SW_HIDE);
    const int keys = static_cast<int>(m_stacks->records().size());
    auto rebuild = [&] {
        for (int key = 0; key < keys; ++key) {
            auto record = m_stacks->records().find(key);
            buildStacks(key, record == m_stacks->records().end() ? nullptr : record->second.root);
        }
        findStackOfNode(m_nodeToShow);
    };
    if (m_singleView) {
        m_savedSubRows = m_subRows;
        m_savedSubColumns = m_subColumns;
        GetLayoutMap()[1] = {1, 1};
        setSubLayout(1, 1);
        rebuild();
        selectGridOfNode(m_nodeToShow);
        m_changed = true;
        refreshGrids();
        layOut();
    } else {
        GetLayoutMap()[1] = {m_savedSubRows, m_savedSubColumns};
        setSubLayout(m_savedSubColumns, m_savedSubRows);
        layOut();
        rebuild();
        m_changed = true;
        refreshGrids();
    }
    ShowWindow(m_hWnd, SW_SHOW);
}

void CJ2KSubFrame::resetSingleView()
{
    if (m_selected)
        m_singleView = false;
}

void CJ2KSubFrame::selectFromScrollBar()
{
    boost::shared_ptr<CJ2KFrame> frame = getFrame();
    if (g_selectMode == 1 || g_selectMode == 2) {
        frame->selectAll();
    } else {
        const bool ctrl = (GetAsyncKeyState(VK_LCONTROL) & 0x8000) || (GetAsyncKeyState(VK_RCONTROL) & 0x8000);
        if (!g_linkFlag && !ctrl)
            frame->deselectAll();
        m_selected = true;
        selectAllGrids();
    }
    frame->repaint();
}

LRESULT CJ2KSubFrame::pageByWheel(WPARAM wParam)
{
    boost::shared_ptr<CJ2KFrame> frame = getFrame();
    const bool up = GET_WHEEL_DELTA_WPARAM(wParam) >= 1;
    if (frame->turnHangingPage(up))
        frame->refreshSubFrames();
    frame->markTurned();
    return 0;
}

LRESULT CJ2KSubFrame::pageByScrollBar(WPARAM wParam)
{
    if (!m_selected)
        return 0;
    boost::shared_ptr<CJ2KFrame> frame = getFrame();
    selectAllGrids();
    frame->clearSavedStates();
    const int code = LOWORD(wParam);
    LRESULT result = 0;
    if (code <= SB_PAGEDOWN) {
        const bool up = code == SB_LINEUP || code == SB_PAGEUP;
        if (frame->turnHangingPage(up))
            frame->refreshSubFrames();
    } else if (code == SB_THUMBPOSITION) {
        // The thumb was let go: the page under it is the one to show.
        frame->turnHangingPageTo(HIWORD(wParam));
        frame->refreshSubFrames();
    } else {
        // The thumb, top and bottom codes refresh without turning.
        frame->refreshSubFrames();
        if (code >= 8)
            result = 1;
    }
    frame->markTurned();
    return result;
}
