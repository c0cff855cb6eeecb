// The control's view and mode commands: hanging mode, layouts, working roots, tools,
// paging, the image commands, selection and the display toggles, with the automatic
// layout they share with LoadData.
#include "facade/BstrText.h"
#include "facade/OrbelViewer.h"

#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"

#include <tinyxml.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

const int kWorkingRootsMode = 6;
const int kRootLevel = 5;
const int kImageLevel = 1;
const int32_t kLayoutCap = 8;
const int kLastHangingMode = kWorkingRootsMode;
const int kLastTool = 18;
const int kLastSelectMode = 4;
const int kFirstFitType = 1, kLastFitType = 4;

bool inRange(LONG value, LONG first, LONG last) { return value >= first && value <= last; }

std::string notWithin(const char* what, LONG value, LONG first, LONG last)
{
    return std::string(what) + " " + std::to_string(value) + " is not within " + std::to_string(first) + " to " +
           std::to_string(last);
}

std::string layoutProblem(LONG rows, LONG columns)
{
    return "layout " + std::to_string(rows) + " rows x " + std::to_string(columns) + " columns is not within 1 to " +
           std::to_string(kMaxLayoutSide) + " each";
}

// A command every grid carries out: S_FALSE before Init.
template <typename Command>
HRESULT toEveryGrid(const boost::shared_ptr<CJ2KFrame>& frame, Command command)
{
    if (!frame)
        return S_FALSE;
    command(*frame);
    return S_OK;
}

} // namespace

bool COrbelViewer::computeAutoLayout()
{
    size_t n = 0;
    if (m_frame) {
        CPssiXmlDao& dao = *m_frame->getPssiXmlDao();
        if (g_hangingMode == kWorkingRootsMode)
            n = dao.getWorkingRootCount();
        else if (TiXmlElement* root = dao.getRootElement())
            n = size_t(std::max(dao.getHangingCount(root, g_hangingMode), 0));
    }
    n = std::max<size_t>(n, 1);
    int32_t c = static_cast<int32_t>(std::ceil(std::sqrt(double(n))));
    int32_t r = static_cast<int32_t>(std::ceil(double(n) / double(c)));
    const int32_t cap = GetMaxLayoutMap()[0].first;
    if (std::max(c, r) > cap)
        c = r = cap;
    c = std::min(c, kLayoutCap);
    r = std::min(r, kLayoutCap);
    // No cap, or a cap of 0, still shows one cell.
    if (c < 1 || r < 1)
        c = r = 1;
    Fire_OnSetLayout(c, r);
    GetLayoutMap()[0] = {r, c};
    GetLayoutMap()[1] = {1, 1};
    return true;
}

HRESULT COrbelViewer::SetHangingMode(LONG hangMode)
{
    if (!inRange(hangMode, 0, kLastHangingMode))
        return refuse("SetHangingMode", notWithin("hanging mode", hangMode, 0, kLastHangingMode));
    // A level the shown document has nothing marked on would empty every cell.
    if (frameHasWindow() && hangMode != kWorkingRootsMode) {
        CPssiXmlDao& dao = *m_frame->getPssiXmlDao();
        TiXmlElement* root = dao.getRootElement();
        if (root && dao.getHangingCount(root, hangMode) <= 0)
            return refuse("SetHangingMode", "the document has no " + CPssiXmlDao::getLevelName(hangMode) +
                                                " to hang with hanging mode " + std::to_string(hangMode));
    }
    g_hangingMode = hangMode;
    if (!m_frame)
        return S_FALSE;
    if (g_workingSetMode == 1 && hangMode == kWorkingRootsMode)
        return S_OK;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->setHangingLevel(hangMode + 1);
    // Before LoadData there is nothing to lay out; LoadData hangs at the stored level.
    if (!frame->m_hWnd)
        return S_OK;
    if (!computeAutoLayout())
        return S_FALSE;
    frame->selectAll();
    frame->clearSavedStates();
    frame->applyLayout(true);
    frame->clearHanging();
    frame->distribute();
    frame->showCurrentPage();
    frame->arrangeWindows();
    return S_OK;
}

HRESULT COrbelViewer::SetLayout(LONG rows, LONG columns)
{
    if (!inRange(rows, 1, kMaxLayoutSide) || !inRange(columns, 1, kMaxLayoutSide))
        return refuse("SetLayout", layoutProblem(rows, columns));
    const int32_t a = rows, b = columns;
    if (!frameHasWindow())
        return S_FALSE;
    if (GetLayoutMap()[0] == std::make_pair(a, b))
        return S_OK;
    GetLayoutMap()[0] = {a, b};
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->selectAll();
    frame->applyLayout(false);
    frame->clearHanging();
    frame->distribute();
    frame->restoreSavedHangingPages();
    frame->showCurrentPage();
    frame->arrangeWindows();
    return S_OK;
}

HRESULT COrbelViewer::SetSubLayout(LONG rows, LONG columns)
{
    if (!inRange(rows, 1, kMaxLayoutSide) || !inRange(columns, 1, kMaxLayoutSide))
        return refuse("SetSubLayout", layoutProblem(rows, columns));
    if (!m_frame)
        return S_FALSE;
    GetLayoutMap()[1] = {rows, columns};
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    if (frame->m_hWnd) {
        frame->rewindSubPage();
        frame->applyLayout(true);
        frame->distribute();
        frame->selectGridsOfSelected();
        frame->showCurrentPage();
        frame->arrangeWindows();
    }
    // Later rebuilds fall back to the maximum sub-layout, 1 x 1 unless one was set.
    const auto max = GetMaxLayoutMap()[1];
    GetLayoutMap()[1] = {max.first ? max.first : 1, max.second ? max.second : 1};
    return S_OK;
}

HRESULT COrbelViewer::SetWorkingRoot(BSTR patientInstanceUID, BSTR studyInstanceUID, BSTR seriesInstanceUID,
                                     BSTR imageInstanceUID)
{
    if (!m_frame || !m_frame->m_hWnd)
        return S_FALSE;
    // A document that did not parse has nothing to find a root in.
    const boost::shared_ptr<CPssiXmlDao> checked = m_frame->getPssiXmlDao();
    if (!checked->hasPssiDocument() || checked->hasPssiError() || !checked->getRootElement())
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    CPssiXmlDao& dao = *frame->getPssiXmlDao();
    const std::string uids[] = {BstrToUtf8String(patientInstanceUID), BstrToUtf8String(studyInstanceUID),
                                BstrToUtf8String(seriesInstanceUID), BstrToUtf8String(imageInstanceUID)};
    const char* const expressions[] = {"//Patient", "//Study", "//Series", "//Image"};
    TiXmlElement* root = dao.getRootElement();
    TiXmlNode* target = root;
    int level = kRootLevel;
    int given = 0;
    while (given < 4 && !uids[given].empty())
        ++given;
    for (int i = given; i < 4; ++i)
        if (!uids[i].empty())
            return refuse("SetWorkingRoot", "the " + std::string(expressions[i] + 2) + " UID " + uids[i] +
                                                " follows an empty UID");
    // Found before anything changes: a UID that names nothing leaves selection, marks,
    // roots and layout as they were.
    for (int i = 0; i < given; ++i) {
        target = dao.findNodeByUID(target, expressions[i], uids[i]);
        level = 4 - i;
        if (!target)
            return refuse("SetWorkingRoot",
                          "no " + std::string(expressions[i] + 2) + " with the UID " + uids[i] + " in the document");
    }
    SetSelectMode(0);
    frame->clearSavedStates();

    if (g_hangingMode == kWorkingRootsMode) {
        if (g_workingSetMode == 0)
            dao.clearWorkingRoots();
        dao.setHangingDownward(target, level, "True");
        dao.setCurrentNode(target);
        dao.addWorkingRoot(target);
    } else {
        if (g_workingSetMode == 0)
            dao.setHangingDownward(root, kRootLevel, "False");
        if (target == root) {
            dao.setHangingDownward(root, kRootLevel, "True");
        } else {
            dao.setHangingUpward(target, level, "True");
            dao.setHangingDownward(target, level, "True");
        }
        dao.setCurrentNode(target);
    }

    computeAutoLayout();
    frame->selectAll();
    frame->applyLayout(true);
    frame->clearHanging();
    frame->distribute();

    TiXmlNode* current = dao.getCurrentNode();
    TiXmlNode* shown = current && std::strcmp(current->Value(), "Image") == 0
                           ? current
                           : dao.getLevelNode(current, kImageLevel, 0, true);
    frame->pageToNode(shown);
    frame->showCurrentPage();
    frame->deselectAll();
    frame->selectHolders(shown);
    frame->arrangeWindows();
    return S_OK;
}

HRESULT COrbelViewer::SetWorkingTool(LONG tool)
{
    if (!inRange(tool, 0, kLastTool))
        return refuse("SetWorkingTool", notWithin("tool", tool, 0, kLastTool));
    if (!m_frame)
        return S_FALSE;
    m_frame->setWorkingTool(tool, true);
    return S_OK;
}

HRESULT COrbelViewer::SetAnnTool(LONG tool)
{
    if (!inRange(tool, 0, kLastTool))
        return refuse("SetAnnTool", notWithin("tool", tool, 0, kLastTool));
    return SetWorkingTool(tool);
}

HRESULT COrbelViewer::TurnLayoutPage(VARIANT_BOOL previous)
{
    if (!m_frame)
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->clearSavedStates();
    frame->selectAll();
    frame->rewindSubPage();
    const bool moved = frame->turnPage(previous != 0);
    Fire_OnTurn(moved ? 1 : 0);
    if (!moved)
        return S_FALSE;
    frame->showCurrentPage();
    return S_OK;
}

HRESULT COrbelViewer::TurnSubLayoutPage(VARIANT_BOOL previous)
{
    if (!m_frame)
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->clearSavedStates();
    if (!frame->turnHangingPage(previous != 0))
        return S_FALSE;
    frame->showCurrentPage();
    return S_OK;
}

HRESULT COrbelViewer::InvertWidthLevel()
{
    return toEveryGrid(m_frame, [&](CJ2KFrame& f) { f.invertWindowLevel(); });
}

HRESULT COrbelViewer::Flip(VARIANT_BOOL direction)
{
    return toEveryGrid(m_frame, [&](CJ2KFrame& f) { f.flip(direction != 0); });
}

HRESULT COrbelViewer::Rotate(VARIANT_BOOL direction)
{
    return toEveryGrid(m_frame, [&](CJ2KFrame& f) { f.rotate(direction != 0); });
}

HRESULT COrbelViewer::Reset()
{
    return toEveryGrid(m_frame, [&](CJ2KFrame& f) { f.resetView(); });
}

HRESULT COrbelViewer::SetFitType(LONG type)
{
    if (!inRange(type, kFirstFitType, kLastFitType))
        return refuse("SetFitType", notWithin("fit type", type, kFirstFitType, kLastFitType));
    if (!m_frame)
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->setFitType(type);
    frame->checkMenuGroup(ID_FIT_FIRST, ID_FIT_LAST, CJ2KFrame::fitItemOf(type));
    return S_OK;
}

HRESULT COrbelViewer::SetSelectMode(LONG mode)
{
    if (!inRange(mode, 0, kLastSelectMode))
        return refuse("SetSelectMode", notWithin("select mode", mode, 0, kLastSelectMode));
    g_selectMode = mode;
    if (!m_frame)
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->deselectAll();
    if (mode == 1 || mode == 2)
        frame->selectAll();
    frame->checkMenuGroup(ID_SELECT_FIRST, ID_SELECT_LAST, ID_SELECT_FIRST + UINT(mode));
    Fire_OnSetSelectMode(g_selectMode);
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    return S_OK;
}

HRESULT COrbelViewer::SetWorkingSetMode(LONG mode)
{
    // 0 replaces the working roots, 1 adds to them.
    if (!inRange(mode, 0, 1))
        return refuse("SetWorkingSetMode", notWithin("working-set mode", mode, 0, 1));
    g_workingSetMode = mode;
    return S_OK;
}

HRESULT COrbelViewer::SetLink(VARIANT_BOOL link)
{
    g_linkFlag = link != 0;
    return S_OK;
}

namespace {

// Inverts a display flag, checks its menu item and repaints every cell.
template <typename Fire>
HRESULT toggle(const boost::shared_ptr<CJ2KFrame>& frame, bool& flag, UINT item, Fire fire)
{
    if (!frame)
        return S_OK;
    flag = !flag;
    if (HMENU menu = frame->getPopupMenu())
        CheckMenuItem(menu, item, MF_BYCOMMAND | (flag ? MF_CHECKED : MF_UNCHECKED));
    fire(flag ? VARIANT_TRUE : VARIANT_FALSE);
    frame->repaint();
    return S_OK;
}

} // namespace

HRESULT COrbelViewer::ShowOverlay()
{
    return toggle(m_frame, g_showOverlay, ID_SHOW_OVERLAY, [this](VARIANT_BOOL v) { Fire_OnShowOverlay(v); });
}

HRESULT COrbelViewer::ShowAnnotation()
{
    return toggle(m_frame, g_showAnnotation, ID_SHOW_ANNOTATION,
                  [this](VARIANT_BOOL v) { Fire_OnShowAnnotation(v); });
}

HRESULT COrbelViewer::ShowRuler()
{
    return toggle(m_frame, g_showRuler, ID_SHOW_RULER, [this](VARIANT_BOOL v) { Fire_OnShowRuler(v); });
}
