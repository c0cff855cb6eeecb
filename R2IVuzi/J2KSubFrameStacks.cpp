// The sub-frame's grids and hanging stacks: building them from a PSSI root, turning pages
// and handing each grid its current item.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/PssiXmlDao.h"

#include <boost/make_shared.hpp>
#include <tinyxml.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool isHangingImage(const TiXmlNode* node)
{
    const TiXmlElement* e = node ? node->ToElement() : nullptr;
    const char* hanging = e ? e->Attribute("hanging") : nullptr;
    return hanging && std::strcmp(hanging, "True") == 0;
}

} // namespace

void CJ2KSubFrame::setSubLayout(int columns, int rows)
{
    if (!m_selected)
        return;
    // A side of 0 would leave no cell to page through; a huge one would exhaust windows.
    columns = std::clamp(columns, 1, kMaxLayoutSide);
    rows = std::clamp(rows, 1, kMaxLayoutSide);
    const size_t cells = size_t(columns) * size_t(rows);
    const bool grows = cells > m_grids.size();
    m_subColumns = columns;
    m_subRows = rows;
    while (m_grids.size() > cells) {
        if (m_grids.back()->m_hWnd)
            m_grids.back()->DestroyWindow();
        m_grids.pop_back();
    }
    size_t next = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c, ++next) {
            if (next < m_grids.size()) {
                m_grids[next]->setPosition(r, c);
                continue;
            }
            auto grid = boost::make_shared<CJ2KGrid>(shared_from_this(), r, c);
            if (m_hWnd)
                grid->CreateGridWindow(m_hWnd, RECT{0, 0, 0, 0});
            m_grids.push_back(grid);
        }
    std::sort(m_grids.begin(), m_grids.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a->getRow(), a->getColumn()) < std::make_pair(b->getRow(), b->getColumn());
    });
    if (grows)
        getFrame()->setRememberedSubLayout(m_column, m_row, columns, rows, m_stacks->currentPage());
}

void CJ2KSubFrame::buildStacks(int key, TiXmlNode* root)
{
    if (!m_selected)
        return;
    boost::shared_ptr<CPssiXmlDao> dao = getFrame()->getPssiXmlDao();
    const boost::shared_ptr<const void> document = dao->documentHold();
    std::vector<TiXmlNode*> nodes;
    const char* level = root && root->ToElement() ? root->Value() : "";
    if (std::strcmp(level, "Image") == 0) {
        if (isHangingImage(root))
            nodes.push_back(root);
    } else if (std::strcmp(level, "Frame") == 0) {
        TiXmlNode* image = root->Parent();
        if (image && std::strcmp(image->Value(), "Image") == 0 && isHangingImage(image))
            nodes.push_back(image);
    } else if (root) {
        nodes = dao->getHangingNodeList(root, 1);
    }
    const int cells = m_subRows * m_subColumns;
    const int pages = static_cast<int>(std::ceil(double(nodes.size()) / double(cells)));
    m_stacks->setCount(key, pages);
    for (const auto& grid : m_grids) {
        CJ2KGridHangingStackManager& stacks = *grid->getStackManager();
        stacks.resetStack(key);
        for (int j = 0; j < pages; ++j) {
            const size_t index = size_t(cells) * j + size_t(m_subColumns) * grid->getRow() + grid->getColumn();
            TiXmlNode* node = index < nodes.size() ? nodes[index] : nullptr;
            stacks.update(key, j, node, node ? dao->getObjectFile(node) : std::string(),
                          node ? dao->getInstanceUID(node) : std::string(), document);
        }
    }
}

bool CJ2KSubFrame::turn(bool up)
{
    if (!m_selected)
        return false;
    bool changed = true;
    int page = m_stacks->currentPage();
    auto record = m_stacks->records().find(m_stacks->currentKey());
    const int count = record == m_stacks->records().end() ? 0 : record->second.pageCount;
    if (up) {
        if (--page < 0) {
            page = 0;
            changed = false;
        }
    } else if (++page >= count) {
        page -= 1;
        changed = false;
    }
    showPosition(page);
    m_changed = changed;
    return changed;
}

bool CJ2KSubFrame::turnTo(int page)
{
    if (!m_selected)
        return false;
    auto record = m_stacks->records().find(m_stacks->currentKey());
    const int count = record == m_stacks->records().end() ? 0 : record->second.pageCount;
    page = std::max(0, std::min(page, count - 1));
    const bool changed = page != m_stacks->currentPage();
    showPosition(page);
    m_changed = changed;
    return changed;
}

void CJ2KSubFrame::showPosition(int page)
{
    const int key = m_stacks->currentKey();
    m_stacks->setCurrent(key, page);
    for (const auto& grid : m_grids)
        grid->getStackManager()->setPosition(key, page);
}

void CJ2KSubFrame::refreshGrids()
{
    if (!m_selected || !m_changed)
        return;
    auto record = m_stacks->records().find(m_stacks->currentKey());
    const int count = record == m_stacks->records().end() ? 0 : record->second.pageCount;
    int page = m_stacks->currentPage();
    if (page >= count)
        page = 0;
    showPosition(page);
    for (const auto& grid : m_grids)
        grid->showStackItem(grid->getStackManager()->currentItem());
    updateScrollBar();
}

int CJ2KSubFrame::findInStacks(int key, const TiXmlNode* node, boost::shared_ptr<CJ2KGrid>* found) const
{
    for (const auto& grid : m_grids) {
        const int page = grid->getStackManager()->find(key, node);
        if (page >= 0) {
            *found = grid;
            return page;
        }
    }
    return -1;
}

TiXmlNode* CJ2KSubFrame::findStackOfNode(const TiXmlNode* node)
{
    const int keys = static_cast<int>(m_stacks->records().size());
    for (int key = 0; key < keys; ++key) {
        auto record = m_stacks->records().find(key);
        if (record == m_stacks->records().end() || !record->second.root)
            return nullptr;
        boost::shared_ptr<CJ2KGrid> grid;
        const int page = findInStacks(key, node, &grid);
        if (page >= 0) {
            m_stacks->setCurrent(key, page);
            return record->second.root;
        }
    }
    return nullptr;
}

TiXmlNode* CJ2KSubFrame::selectGridOfNode(const TiXmlNode* node)
{
    const int keys = static_cast<int>(m_stacks->records().size());
    for (int key = 0; key < keys; ++key) {
        auto record = m_stacks->records().find(key);
        if (record == m_stacks->records().end() || !record->second.root)
            return nullptr;
        boost::shared_ptr<CJ2KGrid> grid;
        if (findInStacks(key, node, &grid) >= 0) {
            grid->setSelected(true);
            return record->second.root;
        }
    }
    return nullptr;
}

void CJ2KSubFrame::resetAll()
{
    m_nodeToShow = nullptr;
    m_stacks->clear();
    for (const auto& grid : m_grids)
        grid->getStackManager()->clear();
}
