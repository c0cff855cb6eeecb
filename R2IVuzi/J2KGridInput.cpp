// The grid's mouse and keyboard: the working tool's left drag, the right button's pan or
// context menu, the selection a click makes, and keys as the configuration's hotkeys.
// Most tools act through the frame, which passes the change to every selected grid.
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KToolTip.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "annotation/OrbelAnnWrapper.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

enum Tool {
    kPointerTool = 0,
    kWindowLevelTool = 1,
    kZoomTool = 2,
    kPanTool = 3,
    kRegionWindowTool = 4,
    kPixelValueTool = 5,
    kZoomRectTool = 6,
    kFirstMagnifierTool = 7,
    kLastMagnifierTool = 9,
    kFirstAnnotationTool = 11,
    kLastAnnotationTool = 18,
};

// Summed movement at which a window/level or zoom step applies.
const int kDragStep = 9;
// A right press moved farther than this pans instead of opening the menu.
const int kRightClickRadius = 6;
const float kZoomPerPixel = 1.005f;
// The corner box: a square this wide, this far in from the bottom right corner.
const int kCornerBoxSide = 32;
const int kCornerBoxInset = 2;

bool isMagnifier(int tool) { return tool >= kFirstMagnifierTool && tool <= kLastMagnifierTool; }
bool isAnnotationTool(int tool) { return tool >= kFirstAnnotationTool && tool <= kLastAnnotationTool; }
// The magnifier tools start at the factors 2, 4 and 8.
int initialMagnification(int tool) { return 2 << (tool - kFirstMagnifierTool); }
bool keyDown(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }
bool ctrlDown() { return keyDown(VK_LCONTROL) || keyDown(VK_RCONTROL); }
POINT pointOf(LPARAM lParam) { return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

// 1.005 to the power n, rounded to single precision after every step.
float zoomFactor(int n)
{
    float factor = 1.0f;
    for (int i = 0; i < n; ++i)
        factor *= kZoomPerPixel;
    for (int i = 0; i > n; --i)
        factor /= kZoomPerPixel;
    return factor;
}

RECT spanned(POINT a, POINT b)
{
    return RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

// The grid the annotation layer's creation callback names. Set and read on the
// user-interface thread; a grid may end on a loader thread, so only a weak reference.
boost::weak_ptr<CJ2KGrid>& annotationGrid()
{
    static boost::weak_ptr<CJ2KGrid> grid;
    return grid;
}

// A window procedure must not let an exception out: a lost parent is logged.
template <typename Body>
void guarded(const char* where, Body body)
{
    try {
        body();
    } catch (const std::exception& e) {
        ORBEL_LOG(INFO) << "Exception happened in " << where << ": " << e.what();
    }
}

} // namespace

boost::shared_ptr<CJ2KFrame> CJ2KGrid::lockFrame() const
{
    return lockSubFrame(3610, "Parent Subframe invalid.")->getFrame();
}

void CJ2KGrid::setWorkingTool(int tool, bool fireEvent)
{
    m_sumX = m_sumY = 0;
    lockFrame()->setWorkingTool(tool, fireEvent);
}

void CJ2KGrid::registerAnnotationCallback()
{
    annotationGrid() = shared_from_this();
    OrbelAnnWrapper::SetObjectCreatedCallback(&CJ2KGrid::onAnnotationCreated, this);
}

void CJ2KGrid::onAnnotationCreated(void* context)
{
    // The context is the last grid that opened an image; it may be gone since.
    boost::shared_ptr<CJ2KGrid> grid = annotationGrid().lock();
    if (!grid || grid.get() != context)
        return;
    guarded("onAnnotationCreated", [&] { grid->setWorkingTool(kFirstAnnotationTool, true); });
}

// ---- selection and capture ------------------------------------------------------------

void CJ2KGrid::selectOnClick()
{
    boost::shared_ptr<CJ2KSubFrame> subFrame = lockSubFrame(3610, "Parent Subframe invalid.");
    boost::shared_ptr<CJ2KFrame> frame = subFrame->getFrame();
    const bool adding = g_linkFlag || ctrlDown();
    switch (g_selectMode) {
    case 0:
        if (!adding)
            frame->deselectAll();
        m_selected = true;
        subFrame->setSelected(true);
        break;
    case 1:
    case 2:
        frame->selectAll();
        break;
    case 3:
    case 4:
        if (!adding)
            frame->deselectAll();
        subFrame->setSelected(true);
        subFrame->selectAllGrids();
        break;
    default:
        break;
    }
    frame->repaint();
}

void CJ2KGrid::beginPress(bool left, POINT point)
{
    if (left) {
        m_pressPoint = m_previousPoint = m_lastPoint = point;
        m_leftDown = true;
    } else {
        m_rightDown = true;
        m_savedTool = workingTool();
        m_rightPressPoint = point;
    }
    captureMouse();
    guarded("selectOnClick", [&] { selectOnClick(); });
    if (left)
        m_dragRect = RECT{0, 0, 0, 0};
}

void CJ2KGrid::captureMouse()
{
    RECT client = {0, 0, 0, 0};
    GetClientRect(m_hWnd, &client);
    POINT topLeft = {client.left, client.top}, bottomRight = {client.right, client.bottom};
    ClientToScreen(m_hWnd, &topLeft);
    ClientToScreen(m_hWnd, &bottomRight);
    const RECT screen = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    SetCapture(m_hWnd);
    ClipCursor(&screen);
}

void CJ2KGrid::endCapture()
{
    ReleaseCapture();
    ClipCursor(nullptr);
}

bool CJ2KGrid::inCornerBox(POINT point) const
{
    RECT client = {0, 0, 0, 0};
    GetClientRect(m_hWnd, &client);
    const int right = client.right - kCornerBoxInset, bottom = client.bottom - kCornerBoxInset;
    const RECT box = {right - kCornerBoxSide, bottom - kCornerBoxSide, right, bottom};
    return PtInRect(&box, point) != FALSE;
}

// ---- the left button --------------------------------------------------------------------

LRESULT CJ2KGrid::OnLButtonDown(WPARAM, LPARAM lParam)
{
    const POINT point = pointOf(lParam);
    const int tool = workingTool();
    beginPress(true, point);
    guarded("OnLButtonDown", [&] {
        if (tool == kPointerTool && m_cornerHover && inCornerBox(point)) {
            // Asks the frame for this grid's image alone; the frame has no handler yet.
            boost::shared_ptr<CJ2KFrame> frame = lockFrame();
            if (frame->getRows() * frame->getColumns() != 1)
                PostMessageW(frame->m_hWnd, WM_LBUTTONDOWN, reinterpret_cast<WPARAM>(m_element), 0);
        }
        if (tool == kRegionWindowTool) {
            // A colour image has no grey window to take from a region.
            const bool colour = m_image && m_image->isOpened() && m_image->getChannelMapping() &&
                                m_image->getChannelMapping()->num_channels >= 2;
            if (colour)
                SetCursor(LoadCursorW(nullptr, IDC_NO));
        } else if (tool == kPixelValueTool) {
            showPixelValue();
        } else if (isMagnifier(tool) && m_image) {
            m_savedCursor = SetCursor(nullptr);
            lockFrame()->setMagnification(initialMagnification(tool));
        }
    });
    return 0;
}

LRESULT CJ2KGrid::OnMouseMove(WPARAM, LPARAM lParam)
{
    const POINT point = pointOf(lParam);
    m_lastPoint = point;
    guarded("OnMouseMove", [&] {
        if (m_rightDown) {
            const double dx = point.x - m_rightPressPoint.x, dy = point.y - m_rightPressPoint.y;
            if (int(std::sqrt(dx * dx + dy * dy)) > kRightClickRadius) {
                m_rightDrag = true;
                if (workingTool() != kPanTool)
                    setWorkingTool(kPanTool, false);
            }
        }
        const int tool = workingTool();
        const POINT delta = {point.x - m_previousPoint.x, point.y - m_previousPoint.y};
        const bool open = m_image && m_image->isOpened();
        if (m_rightDown && open && tool == kPanTool && (delta.x || delta.y))
            lockFrame()->pan(delta.x, delta.y);
        if (m_leftDown && open)
            dragLeft(tool, delta);
        if (!m_leftDown && !m_rightDown) {
            // Only the last grid of a sub-frame keeps a corner box.
            boost::shared_ptr<CJ2KSubFrame> subFrame = m_subFrame.lock();
            if (subFrame && !subFrame->getGrids().empty() && subFrame->getGrids().back().get() == this) {
                const bool hover = inCornerBox(point);
                if (hover != m_cornerHover && m_hWnd)
                    InvalidateRect(m_hWnd, nullptr, FALSE);
                m_cornerHover = hover;
            }
        }
    });
    m_previousPoint = point;
    return 0;
}

void CJ2KGrid::dragLeft(int tool, POINT delta)
{
    switch (tool) {
    case kWindowLevelTool:
    case kZoomTool:
        m_sumX += delta.x;
        m_sumY += delta.y;
        if (std::abs(m_sumX) < kDragStep && std::abs(m_sumY) < kDragStep)
            break;
        if (tool == kWindowLevelTool) {
            lockFrame()->adjustWindowLevel(m_sumX, m_sumY, false);
        } else {
            m_lastZoom = zoomFactor(m_sumX + m_sumY);
            lockFrame()->zoom(m_lastZoom, false);
        }
        m_sumX = m_sumY = 0;
        break;
    case kPanTool:
        if (delta.x || delta.y)
            lockFrame()->pan(delta.x, delta.y);
        break;
    case kRegionWindowTool:
    case kZoomRectTool:
        // The decorations draw it as a focus rectangle.
        m_dragRect = spanned(m_pressPoint, m_lastPoint);
        InvalidateRect(m_hWnd, nullptr, TRUE);
        break;
    case kPixelValueTool:
        showPixelValue();
        break;
    default:
        if (isMagnifier(tool))
            InvalidateRect(m_hWnd, nullptr, TRUE);
        break;
    }
}

LRESULT CJ2KGrid::OnLButtonUp(WPARAM, LPARAM lParam)
{
    if (!m_leftDown)
        return 0;
    m_lastPoint = pointOf(lParam);
    guarded("OnLButtonUp", [&] { releaseLeft(workingTool()); });
    m_previousPoint = m_lastPoint;
    m_leftDown = false;
    // A right button still down keeps the capture for its own release, even when the
    // annotation layer, which sees the release first, let it go.
    if (!m_rightDown)
        endCapture();
    else if (GetCapture() != m_hWnd)
        captureMouse();
    return 0;
}

void CJ2KGrid::releaseLeft(int tool)
{
    // The pointer and the tooltip come back whether or not the image opened meanwhile.
    if (tool == kPixelValueTool) {
        if (!m_toolTip)
            m_toolTip.reset(new CJ2KToolTip);
        m_toolTip->Hide();
    } else if (isMagnifier(tool) && m_image) {
        SetCursor(m_savedCursor);
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
    if (!m_image || !m_image->isOpened())
        return;
    CImageBase& base = m_image->getImageBase();
    const RECT r = m_dragRect;
    switch (tool) {
    case kZoomTool:
        lockFrame()->zoom(m_lastZoom, true);
        break;
    case kRegionWindowTool:
        base.SetWindowFromRegion(r.left, r.top, r.right, r.bottom);
        InvalidateRect(m_hWnd, nullptr, TRUE);
        break;
    case kZoomRectTool:
        base.ZoomToRect(r.left, r.top, r.right, r.bottom);
        syncAnnotationGeometry();
        updateView();
        // Repainted now: the focus rectangle goes even when no new data arrives.
        InvalidateRect(m_hWnd, nullptr, TRUE);
        break;
    default:
        break;
    }
}

LRESULT CJ2KGrid::OnLButtonDblClk(WPARAM, LPARAM)
{
    if (!m_element || !m_image || isAnnotationTool(workingTool()))
        return 0;
    guarded("OnLButtonDblClk", [&] {
        boost::shared_ptr<CJ2KSubFrame> subFrame = lockSubFrame(3610, "Parent Subframe invalid.");
        // A single cell outside single view has nothing to switch to.
        if (!subFrame->isSingleView() && subFrame->getSubRows() * subFrame->getSubColumns() == 1)
            return;
        subFrame->setNodeToShow(m_element);
        PostMessageW(subFrame->m_hWnd, WM_LBUTTONDBLCLK, 0, 0);
    });
    return 0;
}

// ---- the right button ----------------------------------------------------------------------

LRESULT CJ2KGrid::OnRButtonDown(WPARAM, LPARAM lParam)
{
    // A left drag in progress keeps the mouse to itself.
    if (m_leftDown)
        return 0;
    beginPress(false, pointOf(lParam));
    return 0;
}

LRESULT CJ2KGrid::OnRButtonUp(WPARAM, LPARAM)
{
    if (!m_rightDown)
        return 0;
    // Cleared first: the menu's modal loop may deliver more mouse messages.
    m_rightDown = false;
    if (!m_leftDown)
        endCapture();
    guarded("OnRButtonUp", [&] {
        if (m_rightDrag) {
            m_rightDrag = false;
            setWorkingTool(m_savedTool, false);
        } else {
            showContextMenu();
        }
    });
    return 0;
}

// ---- cursor, pixel value, keys ------------------------------------------------------------

LRESULT CJ2KGrid::OnSetCursor(WPARAM, LPARAM, bool& handled)
{
    handled = true;
    // A magnifier hides the pointer while its button is down.
    if (m_leftDown && isMagnifier(workingTool()))
        return 0;
    guarded("OnSetCursor", [&] { SetCursor(lockFrame()->getToolCursor()); });
    return 0;
}

void CJ2KGrid::showPixelValue()
{
    if (!m_image || !m_hWnd)
        return;
    if (!m_toolTip)
        m_toolTip.reset(new CJ2KToolTip);
    if (!m_toolTip->m_hWnd)
        m_toolTip->CreateToolTip(m_hWnd);
    // The frame fills the control, its parent: the readout stays inside the control.
    const boost::shared_ptr<CJ2KFrame> frame = lockFrame();
    HWND frameWindow = frame->m_hWnd;
    HWND control = frameWindow ? GetParent(frameWindow) : nullptr;
    m_toolTip->SetBounds(control ? control : frameWindow);
    boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
    PixelReadout readout;
    m_image->getImageBase().GetPixelReadout(readout, m_lastPoint.x, m_lastPoint.y, dao->getModality(m_element));
    std::u16string text = utf8ToWide(readout.value.c_str());
    // A second value (the stored one) follows the position under the configuration's name.
    if (readout.plainValue)
        text = utf8ToWide(readout.position.c_str()) + u", " + dao->getResourceText("RawValue") + u"= " + text;
    m_toolTip->SetText(text);
    m_toolTip->SetPoint(m_lastPoint.x, m_lastPoint.y);
    m_toolTip->Update();
}

LRESULT CJ2KGrid::OnKeyDown(WPARAM wParam, LPARAM)
{
    guarded("OnKeyDown", [&] {
        std::string key;
        if (ctrlDown())
            key += "CTRL+";
        if (keyDown(VK_MENU))
            key += "ALT+";
        if (keyDown(VK_SHIFT))
            key += "SHIFT+";
        key += static_cast<char>(static_cast<uint8_t>(wParam));
        boost::shared_ptr<CJ2KFrame> frame = lockFrame();
        if (keyDown(VK_F12))
            frame->getPssiXmlDao()->dumpPssi();
        const int id = frame->findMenuHotkey(key);
        if (id != -1) {
            SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
            SetCursor(frame->getToolCursor());
            return;
        }
        if (frame->getWorkingTool() != kPanTool)
            return;
        switch (wParam) {
        case VK_LEFT: frame->pan(-1, 0); break;
        case VK_UP: frame->pan(0, -1); break;
        case VK_RIGHT: frame->pan(1, 0); break;
        case VK_DOWN: frame->pan(0, 1); break;
        default: break;
        }
    });
    return 0;
}
