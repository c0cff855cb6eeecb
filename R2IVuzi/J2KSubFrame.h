// One cell of the frame's layout, holding a sub-layout of grids. Minimal: its window
// and the walk up to its frame.
#pragma once

#include "platform/AtlWindow.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CJ2KFrame;

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

protected:
    ClassInfo GetWndClassInfo() const override;

private:
    int m_column;
    int m_row;
    int m_subRows = 1;
    int m_subColumns = 1;
    bool m_selected = true;
    boost::weak_ptr<CJ2KFrame> m_frame;
};
