// One cell of a sub-frame: shows one streamed image. Loader threads reach it only
// through its CJ2KObserver face, whose notifications become messages to its window
// (WM_APP + n), handled on the user-interface thread while the loader waits.
#pragma once

#include "R2IVuzi/J2KObserver.h"
#include "platform/AtlWindow.h"
#include "platform/Gdi.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CImageBase;
class CJ2KFrame;
class CJ2KImage;
class CJ2KImageLoaderMgr;
class CJ2KSubFrame;
class CJ2KGridHangingStackManager;
class CJ2KToolTip;
class TiXmlNode;
struct HangingItem;
struct OverlayItem;

// The loader-to-window messages.
// The grid's two timers: the decode step and the loading animation.
const UINT_PTR kJ2KDecodeTimer = 1;
const UINT_PTR kJ2KAnimationTimer = 2;

enum : UINT {
    WM_J2K_DATA_ARRIVED = WM_APP + 3,
    WM_J2K_START_PROCESS = WM_APP + 5,
    WM_J2K_ERROR = WM_APP + 6,
    WM_J2K_START_RENDER_TIMER = WM_APP + 7,
    WM_J2K_START_PRESENTATION = WM_APP + 8,
    WM_J2K_UPDATE_REGION = WM_APP + 11,
    WM_J2K_LOADER_READY = WM_APP + 12,
};

class CJ2KGrid : public CWindowImplBase, public CJ2KObserver, public boost::enable_shared_from_this<CJ2KGrid> {
public:
    CJ2KGrid(const boost::shared_ptr<CJ2KSubFrame>& subFrame, int row, int column);
    // Never touches windows: safe on any thread. Destroy the window first.
    ~CJ2KGrid() override;

    // A child of parent with WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN.
    HWND CreateGridWindow(HWND parent, const RECT& rect);

    // CJ2KObserver
    void startRenderTimer(const std::string& target) override;
    void dataArrived(const std::string& target, const int region[5]) override;
    void updateView() override;
    void startProcess(const std::string& target) override;
    void startPresentation(const std::string& target) override;
    void updateRegion(const std::string& target, const int region[5]) override;
    void setLoaderReady(const std::string& target) override;
    void reportError(int kind, std::unique_ptr<CJ2KException> error) override;
    CJ2KImageLoader* getImageLoader() override { return m_loader; }
    void setImageLoader(CJ2KImageLoader* loader) override { m_loader = loader; }
    // User-interface thread only.
    std::string getTarget() override { return m_target; }
    void setTarget(std::string target) override { m_target = std::move(target); }
    boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() override;
    boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() override;

    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

    // Opening (grid open).
    virtual void openTargetImage(bool retry);
    virtual void openTargetOverlay();
    virtual void showStackItem(const HangingItem& item);
    const boost::shared_ptr<CJ2KGridHangingStackManager>& getStackManager() const { return m_stacks; }
    // Decoding (grid decode).
    virtual void decodeStep();
    virtual void requestServerModelUpdate();
    // The request window (level, first and last sample) of an image region.
    static void requestWindow(const int32_t region[7], int32_t window[5]);
    // Kills each running timer.
    void stopTimers();
    // Painting (grid paint).
    virtual void drawImage(HDC dc, HBITMAP bitmap, bool refresh);
    // Presentation (grid present).
    virtual void presentImage(const std::string& target);
    virtual void prepareImageStatus(const boost::shared_ptr<CJ2KImage>& image);
    virtual void prepareImageAnnotation(const boost::shared_ptr<CJ2KImage>& image);
    virtual void prepareDicomLUT(const boost::shared_ptr<CJ2KImage>& image);
    virtual void prepareDicomInfo(const boost::shared_ptr<CJ2KImage>& image);
    // Overlay (grid overlay).
    virtual void prepareOverlayInfo(const boost::shared_ptr<CJ2KImage>& image);
    virtual void drawOverlay(HDC dc);
    virtual std::u16string getOverlayText(const OverlayItem& item);
    // Errors (grid errors).
    virtual void handleConnectionError(std::unique_ptr<CJ2KException> error);
    virtual void handleOpenStreamError(std::unique_ptr<CJ2KException> error);
    virtual void handleAnnotationConnectionError(std::unique_ptr<CJ2KException> error);
    virtual void handleParseError(std::unique_ptr<CJ2KException> error);
    virtual void handleMemoryError();
    static void onOutOfMemory();
    // View commands: on a selected grid, the shown image renders the change at once and
    // every other selected stack item keeps it in its (registered) image's view state.
    void setFitType(int mode);
    void invertGrey();
    void resetView();
    void flip(bool horizontal);
    void rotate(bool clockwise);
    void adjustWindowLevel(int dx, int dy, bool fine);
    void pan(int dx, int dy);
    void zoom(float factor, bool actualSize);
    // Services and decorations.
    void startAnimation();
    void stopAnimation();
    void layout();
    void syncAnnotationGeometry();
    virtual void drawDecorations(HDC dc);
    static std::string formatDate(const std::string& text);
    static std::string formatTime(const std::string& text);
    boost::shared_ptr<CJ2KImageLoaderMgr> getImageLoaderMgr();
    // Ruler text size for a view height and the overlay text scale.
    static int rulerTextSize(int viewHeight, double textScale);
    // The label of the vertical (true) or horizontal ruler for the current view.
    std::string rulerLabel(bool vertical);
    // Registered with the annotations when an image opens; a context whose grid is gone
    // is ignored.
    static void onAnnotationCreated(void* context);
    void registerAnnotationCallback();

    // Input (grid input), also used by the commands.
    // Clears the drag sums, then the frame sets the tool (and its cursor and menu mark).
    void setWorkingTool(int tool, bool fireEvent);
    // The select mode's selection for a click on this grid; every sub-frame repaints.
    void selectOnClick();
    // The frame's context menu for this grid (grid commands): fitted to this cell's image,
    // shown at the cursor with the tool 0 (no events) while it is up; the choice arrives
    // later as WM_COMMAND.
    void showContextMenu();

    // State read by the sub-frame and tests.
    boost::shared_ptr<CJ2KImage> getImage() const { return m_image; }
    void setImage(const boost::shared_ptr<CJ2KImage>& image) { m_image = image; }
    TiXmlNode* getImageElement() const { return m_element; }
    void setImageElement(TiXmlNode* element) { m_element = element; }
    const std::string& getUid() const { return m_uid; }
    void setUid(const std::string& uid) { m_uid = uid; }
    UINT_PTR getDecodeTimer() const { return m_decodeTimer; }
    UINT_PTR getAnimationTimer() const { return m_animationTimer; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }
    int getRow() const { return m_row; }
    int getColumn() const { return m_column; }
    void setPosition(int row, int column)
    {
        m_row = row;
        m_column = column;
    }
    const RECT& getViewRect() const { return m_view; }
    int getAnimationFrame() const { return m_animationFrame; }
    bool isAnnotationFailed() const { return m_annotationFailed; }
    void setAnnotationFailed(bool failed) { m_annotationFailed = failed; }
    // Where the last paint put the failure mark (empty when it drew none).
    const RECT& getFailureMarkRect() const { return m_failureMark; }
    CJ2KToolTip* getToolTip() const { return m_toolTip.get(); }
    // Input state read by the decorations (set by the input handlers; tests set it).
    void setInputState(bool leftDown, const RECT& dragRect, POINT current)
    {
        m_leftDown = leftDown;
        m_dragRect = dragRect;
        m_lastPoint = current;
    }
    const RECT& getDragRect() const { return m_dragRect; }

protected:
    ClassInfo GetWndClassInfo() const override;

    // Message handlers; each returns the message result.
    virtual LRESULT OnStartRenderTimer(const std::string& target);
    virtual LRESULT OnDataArrived(const std::string& target, const int region[5]);
    virtual LRESULT OnStartProcess(const std::string& target);
    virtual LRESULT OnStartPresentation(const std::string& target);
    virtual LRESULT OnError(int kind, std::unique_ptr<CJ2KException> error);
    virtual LRESULT OnUpdateRegion(const std::string& target, const int region[5]);
    virtual LRESULT OnLoaderReady(const std::string& target);
    virtual LRESULT OnPaint(bool refresh);
    virtual LRESULT OnTimer(UINT_PTR id);
    virtual LRESULT OnDestroy();
    // Input (grid input).
    virtual LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnLButtonDblClk(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnRButtonDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnRButtonUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnSetCursor(WPARAM wParam, LPARAM lParam, bool& handled);
    // Commands (grid commands, grid view commands); false leaves the id unhandled.
    virtual bool OnCommand(UINT id);
    bool runCommand(UINT id);
    static void runViewCommand(CJ2KFrame& frame, UINT id);
    static void toggleDisplayFlag(CJ2KFrame& frame, UINT id);
    void selectVoiTable(int table);
    void selectStamp(UINT id);
    void prepareContextMenu(CJ2KFrame& frame);
    void appendVoiMenu(HMENU menu, int tables, int selected);
    static void prepareStampMenu(CJ2KFrame& frame);
    // Takes this grid's VOI submenu out of the frame's menu before the grid goes.
    void detachVoiMenu();
    // The image's CImageBase when the image is open, else null.
    CImageBase* openImageBase() const;

    bool isCurrentTarget(const std::string& target) const;
    void drawLoadingMark(HDC dc);
    // The failure mark, where no text of the last overlay and rulers lies.
    void drawFailureMark(HDC dc);
    // Keeps the failed image and its target (so the overlay still names it) and records why.
    void markFailed(const std::unique_ptr<CJ2KException>& error);
    void drawRulers(HDC dc);
    void drawRuler(HDC dc, bool vertical, int textSize);
    // Moves a ruler's label (top-left at, of the extent given) whole into the view.
    void placeRulerLabel(POINT& at, SIZE extent, bool vertical, int textSize) const;
    void drawMagnifier(HDC dc);
    int workingTool() const;
    boost::shared_ptr<CJ2KSubFrame> lockSubFrame(int line, const char* message) const;
    // Input helpers (grid input).
    boost::shared_ptr<CJ2KFrame> lockFrame() const;
    void beginPress(bool left, POINT point);
    // The mouse to this grid and the cursor confined to its client area, or both freed.
    void captureMouse();
    void endCapture();
    void dragLeft(int tool, POINT delta);
    void releaseLeft(int tool);
    void showPixelValue();
    bool inCornerBox(POINT point) const;
    template <typename Operation>
    void applyViewCommand(Operation operation);

    // ---- observer and pipeline state -----------------------------------------
    boost::weak_ptr<CJ2KSubFrame> m_subFrame;
    boost::shared_ptr<CJ2KGridHangingStackManager> m_stacks;
    RECT m_view = {0, 0, 0, 0};
    TiXmlNode* m_element = nullptr;
    boost::shared_ptr<const void> m_elementDocument; // keeps m_element's document alive
    std::string m_target;
    std::string m_uid;
    boost::shared_ptr<CJ2KImage> m_image;
    std::atomic<CJ2KImageLoader*> m_loader{nullptr};
    UINT_PTR m_decodeTimer = 0;
    UINT_PTR m_animationTimer = 0;
    // Set while a decode-timer tick runs its step; ends of request a loader thread is
    // sending to this window (it waits until the step ends and the message is handled).
    bool m_onDecodeTick = false;
    std::atomic<int> m_endsPending{0};
    int m_connectionRetries = 0;
    int m_openStreamRetries = 0;
    bool m_annotationFailed = false;
    bool m_selected = true;
    int m_row;
    int m_column;

    // ---- services and decorations --------------------------------------------
    int m_animationFrame = 240;
    bool m_overlayFailed = false;
    // Text boxes of the paint in progress, and the failure mark it drew.
    std::vector<RECT> m_textRects;
    RECT m_failureMark = {0, 0, 0, 0};
    std::unique_ptr<CJ2KToolTip> m_toolTip;
    HMENU m_voiMenu = nullptr;
    int m_voiMenuTables = 0; // the VOI table count the submenu lists

    // ---- input ----------------------------------------------------------------
    POINT m_rightPressPoint = {0, 0};
    POINT m_pressPoint = {0, 0};
    POINT m_previousPoint = {0, 0};
    POINT m_lastPoint = {0, 0};  // the current point
    RECT m_dragRect = {0, 0, 0, 0};
    float m_lastZoom = 1.0f;
    // Movement summed until window/level or zoom applies.
    int m_sumX = 0;
    int m_sumY = 0;
    int m_savedTool = 0;  // the tool a right drag replaced
    bool m_rightDrag = false;
    bool m_cornerHover = false;
    HCURSOR m_savedCursor = nullptr;  // while a magnifier hides the pointer
    bool m_leftDown = false;
    bool m_rightDown = false;
};
