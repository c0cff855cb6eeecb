// The frame's layout and paging: sub-frames grown or shrunk to the layout table, items
// distributed over cells and pages, pages turned and shown, windows arranged.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "platform/Gdi.h"
#include "platform/ModuleStartup.h"

#include <boost/make_shared.hpp>
#include <tinyxml.h>

#include <algorithm>
#include <cmath>

namespace {

const int kWorkingRootsMode = 6;

// A layout side below 1 counts as 1: a frame always shows at least one cell, and paging
// never divides by zero cells. A page may ask for any size; past kMaxLayoutSide the cells
// (each with windows and grids) would exhaust the process long before they could be seen.
std::pair<int32_t, int32_t> frameLayout()
{
    auto entry = GetLayoutMap()[0];
    return {std::clamp(entry.first, 1, kMaxLayoutSide), std::clamp(entry.second, 1, kMaxLayoutSide)};
}

} // namespace

int layoutCellEdge(int from, int to, int n, int i)
{
    if (i >= n)
        return to;
    const double cell = double(to - from) / double(n);
    return static_cast<int>(std::floor(from + i * cell + 0.5));
}

void CJ2KFrame::applyLayout(bool withSubLayout)
{
    ++m_rebuilds;
    const auto [rows, columns] = frameLayout();
    const size_t cells = size_t(rows) * size_t(columns);
    if (cells > m_subFrames.size()) {
        m_rows = rows;
        m_columns = columns;
        grow();
    } else if (cells < m_subFrames.size()) {
        saveSubFrameStates();
        m_rows = rows;
        m_columns = columns;
        shrink();
    } else if (rows != m_rows) {
        m_rows = rows;
        m_columns = columns;
        reassignPositions();
    }
    if (withSubLayout) {
        const auto sub = GetLayoutMap()[1];
        for (const auto& subFrame : getSubFrames())
            subFrame->setSubLayout(sub.second, sub.first);
    }
    m_subFramesPerPage = m_rows * m_columns;
}

const SavedSubFrameState* CJ2KFrame::savedStateFor(int column, int row) const
{
    auto it = m_savedStates.find({column, row});
    if (it == m_savedStates.end())
        return nullptr;
    const SavedSubFrameState& s = it->second;
    const bool current = s.framePage == m_currentPage && s.frameColumns == m_columns && s.frameRows == m_rows;
    return current ? &s : nullptr;
}

void CJ2KFrame::grow()
{
    const auto sub = GetLayoutMap()[1];
    size_t next = 0;
    for (int r = 0; r < m_rows; ++r)
        for (int c = 0; c < m_columns; ++c, ++next) {
            const SavedSubFrameState* saved = savedStateFor(c, r);
            if (next < m_subFrames.size()) {
                m_subFrames[next]->setPosition(c, r);
                if (saved)
                    m_subFrames[next]->setSubLayout(saved->subColumns, saved->subRows);
                continue;
            }
            auto subFrame = boost::make_shared<CJ2KSubFrame>(shared_from_this(), c, r);
            if (m_hWnd)
                subFrame->createWindows(m_hWnd);
            if (saved)
                subFrame->setSubLayout(saved->subColumns, saved->subRows);
            else
                subFrame->setSubLayout(sub.second, sub.first);
            subFrame->setHangingLevel(m_hangingLevel - 1);
            m_subFrames.push_back(subFrame);
        }
}

void CJ2KFrame::saveSubFrameStates()
{
    m_savedStates.clear();
    for (const auto& subFrame : m_subFrames) {
        SavedSubFrameState s;
        s.framePage = m_currentPage;
        s.frameColumns = m_columns;
        s.frameRows = m_rows;
        s.subRows = subFrame->getSubRows();
        s.subColumns = subFrame->getSubColumns();
        s.hangingPage = subFrame->getStackManager()->currentPage();
        m_savedStates[{subFrame->getColumn(), subFrame->getRow()}] = s;
    }
}

void CJ2KFrame::shrink()
{
    const size_t keep = size_t(m_rows) * size_t(m_columns);
    SubFrames removed(m_subFrames.begin() + std::ptrdiff_t(keep), m_subFrames.end());
    m_subFrames.resize(keep);
    reassignPositions();
    for (const auto& subFrame : removed)
        subFrame->destroyWindows();
}

void CJ2KFrame::reassignPositions()
{
    for (size_t i = 0; i < m_subFrames.size(); ++i)
        m_subFrames[i]->setPosition(int(i % size_t(m_columns)), int(i / size_t(m_columns)));
}

void CJ2KFrame::restoreSavedHangingPages()
{
    for (const auto& subFrame : getSubFrames()) {
        auto it = m_savedStates.find({subFrame->getColumn(), subFrame->getRow()});
        if (it != m_savedStates.end() && it->second.framePage == m_currentPage)
            subFrame->getStackManager()->setCurrent(m_currentPage, it->second.hangingPage);
    }
}

std::vector<TiXmlNode*> CJ2KFrame::itemsToHang() const
{
    std::vector<TiXmlNode*> items;
    if (g_hangingMode == kWorkingRootsMode) {
        for (size_t i = 0; i < m_dao->getWorkingRootCount(); ++i)
            items.push_back(m_dao->getWorkingRoot(i));
        return items;
    }
    if (TiXmlElement* root = m_dao->getRootElement())
        items = m_dao->getHangingNodeList(root, m_hangingLevel - 1);
    return items;
}

void CJ2KFrame::distribute()
{
    const std::vector<TiXmlNode*> items = itemsToHang();
    const int32_t perPage = std::max(m_subFramesPerPage, 1);
    m_totalPages = static_cast<int32_t>((items.size() + size_t(perPage) - 1) / size_t(perPage));
    const uint32_t rebuild = m_rebuilds;
    if (m_owner)
        m_owner->Fire_OnTotalPagesChanged(m_totalPages);
    // A command called from the event has distributed over the layout it made.
    if (rebuild != m_rebuilds)
        return;
    ++m_rebuilds;
    const int32_t pages = m_totalPages;
    for (const auto& subFrame : getSubFrames())
        for (int32_t p = 0; p < pages; ++p) {
            // With working roots, every page shows the roots that follow the last one's.
            const size_t index = size_t(perPage) * size_t(p) + size_t(m_columns) * size_t(subFrame->getRow()) +
                                 size_t(subFrame->getColumn());
            TiXmlNode* item = index < items.size() ? items[index] : nullptr;
            subFrame->getStackManager()->setRoot(p, item, m_dao->documentHold());
            subFrame->buildStacks(p, item);
        }
}

void CJ2KFrame::rewindPastTheEnd()
{
    if (m_currentPage >= m_totalPages) {
        m_currentPage = 0;
        raiseCurrentPageChanged(0);
    }
}

void CJ2KFrame::showCurrentPage()
{
    rewindPastTheEnd();
    setPageAndShow();
}

bool CJ2KFrame::turnPage(bool previous)
{
    int32_t page = m_currentPage;
    bool moved = true;
    if (previous) {
        if (--page < 0) {
            page = 0;
            moved = false;
        }
    } else if (++page >= m_totalPages) {
        page = m_currentPage;
        moved = false;
    }
    m_currentPage = page;
    raiseCurrentPageChanged(page);
    return moved;
}

void CJ2KFrame::arrangeWindows()
{
    if (m_subFrames.empty() || !m_hWnd)
        return;
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    if (IsRectEmpty(&rc))
        return;
    InflateRect(&rc, -1, -1);
    int barWidth = 0;
    if (HBITMAP bar = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(kScrollBarBitmap))) {
        BITMAP info;
        if (GetObjectW(bar, sizeof info, &info))
            barWidth = info.bmWidth;
        DeleteObject(bar);
    }
    for (int r = 0; r < m_rows; ++r)
        for (int c = 0; c < m_columns; ++c) {
            boost::shared_ptr<CJ2KSubFrame> subFrame = findAt(c, r);
            if (!subFrame)
                continue;
            const int top = layoutCellEdge(rc.top, rc.bottom, m_rows, r);
            const int bottom = layoutCellEdge(rc.top, rc.bottom, m_rows, r + 1);
            const int left = layoutCellEdge(rc.left, rc.right, m_columns, c);
            const int right = layoutCellEdge(rc.left, rc.right, m_columns, c + 1);
            if (HWND bar = subFrame->getScrollBarWindow()) {
                MoveWindow(bar, right - barWidth, top, barWidth, bottom - top, TRUE);
                ShowWindow(bar, SW_SHOW);
            }
            if (subFrame->m_hWnd) {
                MoveWindow(subFrame->m_hWnd, left, top, right - left - barWidth, bottom - top, TRUE);
                ShowWindow(subFrame->m_hWnd, SW_SHOW);
            }
            subFrame->layOut();
        }
}
