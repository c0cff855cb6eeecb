// One cell of the frame's layout, holding a sub-layout of grids with their hanging
// stacks, its selection border and the scroll bar beside it (a child of the frame's
// window, placed by the frame). A double click on a grid switches between the
// sub-layout and a single cell.
//
//   J2KSubFrame.cpp        window, painting, layout, single view, paging by wheel and bar
//   J2KSubFrameStacks.cpp  sub-layout and hanging stacks
#pragma once

#include "platform/AtlWindow.h"

#include <memory>

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class COrbelScrollbar;
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
    // The window and, beside it in the same parent, the scroll bar; false when either
    // could not be made.
    bool createWindows(HWND frameWindow);
    // The scroll bar's window, then this one's (its grids' windows go with it).
    void destroyWindows();
    HWND getScrollBarWindow() const;
    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    // Moves every grid to its cell of the client area.
    void layOut();
    // The scroll bar follows the current stack.
    void updateScrollBar();
    // CJ2KWeakPtrCastingException "Parent frame invalid." when the frame is gone.
    boost::shared_ptr<CJ2KFrame> getFrame() const;

    void setPosition(int column, int row)
    {
        m_column = column;
        m_row = row;
    }
    // The PSSI level this sub-frame hangs.
    void setHangingLevel(int level) { m_hangingLevel = level; }
    int getHangingLevel() const { return m_hangingLevel; }
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
    // A selected sub-frame goes to the page (within its stack); whether it moved.
    bool turnTo(int page);
    void showPosition(int page);
    void refreshGrids();
    // The root of the first stack holding node, which then shows node's page; null at
    // the first key without a root.
    TiXmlNode* findStackOfNode(const TiXmlNode* node);
    TiXmlNode* selectGridOfNode(const TiXmlNode* node);
    void resetAll();
    void setChanged(bool changed) { m_changed = changed; }
    void setCurrentKey(int key);
    // The frame page whose stack root holds node (the stack's page moves to it), or -1.
    int pageOfNode(const TiXmlNode* node);

    // Selection.
    void selectAllGrids();
    void deselectAllGrids();
    HWND firstSelectedGridWindow() const;

    // View commands, to every grid.
    void setFitType(int type);
    void invertWindowLevel();
    void resetView();
    void flip(bool horizontal);
    void rotate(bool clockwise);
    void adjustWindowLevel(int dx, int dy, bool fine);
    void pan(int dx, int dy);
    void zoom(float factor, bool actualSize);

    // Single view: the grid double-clicked names the node to show.
    void setNodeToShow(TiXmlNode* node) { m_nodeToShow = node; }
    void toggleSingleView();
    bool isSingleView() const { return m_singleView; }
    void resetSingleView();

protected:
    ClassInfo GetWndClassInfo() const override;

private:
    template <typename Command>
    void forEachGrid(Command command);
    void paint();
    void selectFromScrollBar();
    LRESULT pageByWheel(WPARAM wParam);
    LRESULT pageByScrollBar(WPARAM wParam);
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
    std::unique_ptr<COrbelScrollbar> m_scrollBar;
    int m_hangingLevel = 2;
    bool m_singleView = false;
    int m_savedSubRows = 1;
    int m_savedSubColumns = 1;
    TiXmlNode* m_nodeToShow = nullptr;
};
