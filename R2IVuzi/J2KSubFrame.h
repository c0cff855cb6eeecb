// One cell of the frame's layout, holding a sub-layout of grids. Minimal: its window
// and the walk up to its frame.
#pragma once

#include "platform/AtlWindow.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CJ2KFrame;
class CJ2KGrid;
class CJ2KSubFrameHangingStackManager;
class TiXmlNode;

class CJ2KSubFrame : public CWindowImplBase, public boost::enable_shared_from_this<CJ2KSubFrame> {
public:
    CJ2KSubFrame(const boost::shared_ptr<CJ2KFrame>& frame, int column, int row);
    ~CJ2KSubFrame() override;

    // A child of the frame's window with WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN.
    HWND CreateSubFrameWindow(HWND parent, const RECT& rect);
    // CJ2KWeakPtrCastingException "Parent frame invalid." when the frame is gone.
    boost::shared_ptr<CJ2KFrame> getFrame() const;

    int getColumn() const { return m_column; }
    int getRow() const { return m_row; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }

    // Grids in (row, column) order.
    const std::vector<boost::shared_ptr<CJ2KGrid>>& getGrids() const { return m_grids; }
    const boost::shared_ptr<CJ2KSubFrameHangingStackManager>& getStackManager() const { return m_stacks; }
    // Only on a selected sub-frame; sides below 1 become 1. Grids past the new cell count
    // lose their windows; missing ones are created (with windows when this one has one).
    void setSubLayout(int columns, int rows);
    int getSubRows() const { return m_subRows; }
    int getSubColumns() const { return m_subColumns; }

    // Hanging stacks (selected sub-frame only for build and turn).
    void buildStacks(int key, TiXmlNode* root);
    // Whether the page moved.
    bool turn(bool up);
    void showPosition(int page);
    void refreshGrids();
    // The root of the first stack holding node, which then shows node's page; null at
    // the first key without a root.
    TiXmlNode* findStackOfNode(const TiXmlNode* node);
    TiXmlNode* selectGridOfNode(const TiXmlNode* node);
    void resetAll();
    void setChanged(bool changed) { m_changed = changed; }

protected:
    ClassInfo GetWndClassInfo() const override;

private:
    // The first grid's page holding node within the stack of key, or -1 (grid in *found).
    int findInStacks(int key, const TiXmlNode* node, boost::shared_ptr<CJ2KGrid>* found) const;

    int m_column;
    int m_row;
    int m_subRows = 1;
    int m_subColumns = 1;
    bool m_selected = true;
    bool m_changed = true;
    std::vector<boost::shared_ptr<CJ2KGrid>> m_grids;
    boost::shared_ptr<CJ2KSubFrameHangingStackManager> m_stacks;
    boost::weak_ptr<CJ2KFrame> m_frame;
};
