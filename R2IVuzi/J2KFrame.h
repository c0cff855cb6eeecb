// The viewer's top-level window, a child of the control's window: owns the documents
// (through the data-access object), the two loaders, the sub-frames with their layout
// and paging state, the working tool with its cursor, and the context menu.
//
// Where each behaviour lives:
//   J2KFrame.cpp            construction, destruction, window, events through the owner
//   J2KFrameConfig.cpp      configuration, working tool, context menu, stamp names
//   J2KFrameLayout.cpp      layout table, distribution over pages, paging, arranging
//   J2KFrameForwarders.cpp  one operation applied to every sub-frame
//
// Every walk over the sub-frames runs over a copy of the shared pointers: an event fired
// inside a walk may rebuild the layout, and must not free a sub-frame still in use.
#pragma once

#include "R2IVuzi/PssiXmlDao.h"
#include "platform/AtlWindow.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CPssiXmlDao;
class CJ2KImageLoaderMgr;
class CJ2KAnnotationLoader;
class CJ2KSubFrame;
class TiXmlNode;

// The events the frame raises, through the control that owns it.
class IJ2KFrameOwner {
public:
    virtual HRESULT Fire_OnSetWorkingTool(LONG tool) = 0;
    virtual HRESULT Fire_OnSetFitType(LONG type) = 0;
    virtual HRESULT Fire_OnTotalPagesChanged(LONG totalPages) = 0;
    virtual HRESULT Fire_OnCurrentPageChanged(LONG currentPage) = 0;
    virtual HRESULT Fire_OnSetSelectMode(LONG mode) = 0;
    virtual HRESULT Fire_OnShowRuler(VARIANT_BOOL show) = 0;
    virtual HRESULT Fire_OnShowAnnotation(VARIANT_BOOL show) = 0;
    virtual HRESULT Fire_OnShowOverlay(VARIANT_BOOL show) = 0;

protected:
    ~IJ2KFrameOwner() = default;
};

// What a sub-frame position showed before the frame shrank.
struct SavedSubFrameState {
    int32_t framePage = 0;
    int32_t frameColumns = 0;
    int32_t frameRows = 0;
    int32_t subRows = 1;
    int32_t subColumns = 1;
    int32_t hangingPage = 0;
};

// Menu command ids, the frame's and its grids'.
enum : UINT {
    ID_TOOL_FIRST = 10000,      // + working tool
    ID_TOOL_LAST = ID_TOOL_FIRST + 9,
    ID_ANN_TOOL_FIRST = ID_TOOL_FIRST + 11,
    ID_TOOL_RADIO_LAST = ID_TOOL_FIRST + 16, // the grid's group leaves out 10017 and 10018
    ID_TOOL_STAMP = 10018,
    ID_STAMP_FIRST = 10019,     // + stamp index
    ID_STAMP_LAST = 10118,
    ID_SELECT_FIRST = 20001,    // + select mode
    ID_SELECT_LAST = ID_SELECT_FIRST + 4,
    ID_FIT_FIRST = 30001,
    ID_FIT_LAST = 30004,
    ID_MODALITY_LUT = 40000,
    ID_VOI_NONE = 40001,        // + VOI table number
    ID_VOI_LAST = 40999,        // the most tables an image lists, short of the view commands
    ID_FLIP_HORIZONTAL = 50001,
    ID_FLIP_VERTICAL = 50002,
    ID_INVERT = 50003,
    ID_RESET = 50004,
    ID_ROTATE_ANTICLOCKWISE = 50005,
    ID_ROTATE_CLOCKWISE = 50006,
    ID_SHOW_OVERLAY = 60001,
    ID_SHOW_ANNOTATION = 60002,
    ID_SHOW_RULER = 60003,
};

const int kStampTool = 18;
const int kNoTool = 10;
const UINT kScrollBarBitmap = 212;  // its width is the scroll bar column's
// Edge i of n equal cells over [from, to): rounded to the nearest pixel, the last edge at
// `to` itself. Frames lay out sub-frames and sub-frames lay out grids with it.
int layoutCellEdge(int from, int to, int n, int i);

// The most rows or columns a layout or sub-layout takes.
const int kMaxLayoutSide = 16;
// The wheel step, which is the magnifier's factor, stays within these.
const int32_t kMinWheelStep = 1;
const int32_t kMaxWheelStep = 16;

class CJ2KFrame : public CWindowImplBase, public boost::enable_shared_from_this<CJ2KFrame> {
public:
    typedef std::vector<boost::shared_ptr<CJ2KSubFrame>> SubFrames;

    explicit CJ2KFrame(IJ2KFrameOwner* owner);
    // Destroys the window first (grids post their kill requests, so no loader waits on a
    // send), releases the sub-frames, stops both loaders, cleans up libcurl, and frees the
    // data-access object last.
    ~CJ2KFrame() override;

    // WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN over rect.
    HWND CreateFrameWindow(HWND parent, const RECT& rect);
    // The window with every sub-frame (grids post their loaders' kills); the frame can
    // then be laid out again in a new window.
    void destroyFrameWindow();
    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

    boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() const { return m_dao; }
    boost::shared_ptr<CJ2KImageLoaderMgr> getImageLoaderMgr() const { return m_loaderMgr; }
    boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() const { return m_annotationLoader; }
    IJ2KFrameOwner* getOwner() const { return m_owner; }
    // The magnifier's factor is the wheel step: a magnifier tool's press sets it, the
    // wheel moves it while the button is held.
    int32_t getWheelStep() const { return m_wheelStep; }
    void setWheelStep(int32_t step) { m_wheelStep = std::min(kMaxWheelStep, std::max(kMinWheelStep, step)); }
    int32_t getMagnification() const { return m_wheelStep; }
    void setMagnification(int32_t factor) { setWheelStep(factor); }

    // ---- configuration, tools, menu (J2KFrameConfig.cpp) ----------------------
    void applyConfiguration();
    void buildContextMenu();
    // Maps the tool to the annotation layer's, checks its menu item, loads its cursor
    // and, when asked, fires OnSetWorkingTool.
    void setWorkingTool(int32_t tool, bool fireEvent = false);
    int32_t getWorkingTool() const { return m_workingTool; }
    HCURSOR getToolCursor() const { return m_toolCursor; }
    void refreshStampNames();
    const std::map<int, std::u16string>& getStampNames() const { return m_stampNames; }
    const std::map<int, MenuItemInfo>& getMenuItems() const { return m_menuItems; }
    HMENU getPopupMenu() const { return m_popupMenu; }
    // Marks item as the one of the radio group first..last in force (in menu or its
    // submenus). When the menu has no item for it (the configuration lists none), no item
    // of the group is marked; an item outside the group changes nothing.
    static void checkMenuGroup(HMENU menu, UINT first, UINT last, UINT item);
    // The same in the popup menu; no menu, nothing to mark.
    void checkMenuGroup(UINT first, UINT last, UINT item) const { checkMenuGroup(m_popupMenu, first, last, item); }
    // The stamp submenu, inserted into the popup menu by the first grid that prepares the
    // menu (null until then); it goes with the popup menu.
    HMENU getStampMenu() const { return m_stampMenu; }
    void setStampMenu(HMENU menu) { m_stampMenu = menu; }
    // The id of the first menu item (in id order) whose hotkey is exactly hotkey, or -1.
    int findMenuHotkey(const std::string& hotkey) const;
    // The annotation layer's tool for a working tool (0: none).
    static int annotationToolOf(int32_t tool);

    // ---- layout and paging (J2KFrameLayout.cpp) -------------------------------
    void setHangingLevel(int32_t level) { m_hangingLevel = level; }
    int32_t getHangingLevel() const { return m_hangingLevel; }
    // Grows or shrinks the sub-frames to layout entry 0; with the sub-layout, every
    // sub-frame also takes entry 1.
    void applyLayout(bool withSubLayout);
    void saveSubFrameStates();
    void clearSavedStates() { m_savedStates.clear(); }
    // Sub-frames whose position has a record of the current page get its stack position.
    void restoreSavedHangingPages();
    // Hangs the items over sub-frames and pages; fires OnTotalPagesChanged.
    void distribute();
    // Back to page 0 when past the end (firing OnCurrentPageChanged), then every
    // sub-frame shows the current page.
    void showCurrentPage();
    // Fires OnCurrentPageChanged, moved or not; whether it moved.
    bool turnPage(bool previous);
    void arrangeWindows();
    int32_t getRows() const { return m_rows; }
    int32_t getColumns() const { return m_columns; }
    int32_t getTotalPages() const { return m_totalPages; }
    int32_t getCurrentPage() const { return m_currentPage; }
    int32_t getSubFramesPerPage() const { return m_subFramesPerPage; }
    SubFrames getSubFrames() const { return m_subFrames; }

    // ---- every sub-frame (J2KFrameForwarders.cpp) -----------------------------
    // Every selected grid takes the type; the frame keeps it as the one the menu marks.
    void setFitType(int type);
    int32_t getFitType() const { return m_fitType; }
    // The menu command of a fit type: 30003 for 2, 30001 for 3, 30002 for 4, else 30004.
    static UINT fitItemOf(int type);
    void invertWindowLevel();
    void resetView();
    void flip(bool horizontal);
    void rotate(bool clockwise);
    void adjustWindowLevel(int dx, int dy, bool fine);
    void pan(int dx, int dy);
    void zoom(float factor, bool actualSize);
    void deselectAll();
    void selectAll();
    void selectGridsOfSelected();
    void clearHanging();
    void setPageAndShow();
    void repaint();
    void markTurned();
    void rewindSubPage();
    bool turnHangingPage(bool previous);
    // Every selected sub-frame to the page a scroll bar's thumb was let go on.
    bool turnHangingPageTo(int page);
    // The frame moves to the page of the sub-frame holding node (firing
    // OnCurrentPageChanged); whether one did.
    bool pageToNode(const TiXmlNode* node);
    void selectHolders(const TiXmlNode* node);
    boost::shared_ptr<CJ2KSubFrame> findAt(int column, int row) const;
    HWND lastSelectedWindow() const;
    HWND firstSelectedGridWindow() const;
    // The wheel or scroll bar moved a sub-frame: back to the first page when past the
    // end, every sub-frame on the current page key, grids refreshed.
    void refreshSubFrames();
    void raiseCurrentPageChanged(int32_t page);
    void raiseFitTypeChanged(int32_t type);

    // The sub-layout remembered for the sub-frame at (column, row); a missing record is
    // made from the frame's current page and layout and the given hanging page.
    void setRememberedSubLayout(int column, int row, int subColumns, int subRows, int hangingPage);
    // Saved states by (column, row).
    const std::map<std::pair<int, int>, SavedSubFrameState>& getSavedStates() const { return m_savedStates; }

protected:
    ClassInfo GetWndClassInfo() const override;

private:
    template <typename Operation>
    void forEachSubFrame(Operation operation);
    // Back to page 0, firing OnCurrentPageChanged, when the current page is past the end.
    void rewindPastTheEnd();
    // Items to hang: the working roots with hanging mode 6, else the marked nodes of the
    // hanging level below the root.
    std::vector<TiXmlNode*> itemsToHang() const;
    void grow();
    void shrink();
    void reassignPositions();
    const SavedSubFrameState* savedStateFor(int column, int row) const;
    void destroySubFrameWindows(CJ2KSubFrame& subFrame);

    int32_t m_rows = 0;
    int32_t m_columns = 0;
    // Kept in (row, column) order: new cells are appended in that order and positions are
    // reassigned along it.
    SubFrames m_subFrames;
    std::map<std::pair<int, int>, SavedSubFrameState> m_savedStates;
    int32_t m_hangingLevel = 3;
    int32_t m_subFramesPerPage = 1;
    int32_t m_totalPages = 0;
    int32_t m_currentPage = 0;
    // Counts layout rebuilds, so a walk that fired an event sees whether a nested command
    // rebuilt the layout under it.
    uint32_t m_rebuilds = 0;
    // Released in reverse: the annotation loader's thread ends before the data-access
    // object it edits goes.
    boost::shared_ptr<CPssiXmlDao> m_dao;
    boost::shared_ptr<CJ2KImageLoaderMgr> m_loaderMgr;
    boost::shared_ptr<CJ2KAnnotationLoader> m_annotationLoader;
    std::map<int, MenuItemInfo> m_menuItems;
    HMENU m_popupMenu = nullptr;
    HMENU m_stampMenu = nullptr;
    std::map<int, std::u16string> m_stampNames;
    int32_t m_workingTool = 0;
    // The fit type last given to the grids; an image starts fitted to its cell (2).
    int32_t m_fitType = 2;
    HCURSOR m_toolCursor = nullptr;
    IJ2KFrameOwner* m_owner;
    int32_t m_wheelStep = 2;
};
