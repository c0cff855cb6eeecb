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

// Checks one item of a menu group by id; a frame without a menu has nothing to check.
void checkRadio(const CJ2KFrame& frame, UINT first, UINT last, UINT id)
{
    if (HMENU menu = frame.getPopupMenu())
        CheckMenuRadioItem(menu, first, last, id, MF_BYCOMMAND);
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

HRESULT COrbelViewer::SetLayout(LONG columns, LONG rows)
{
    // Used by position: the first argument is the number of rows.
    const int32_t a = columns, b = rows;
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

HRESULT COrbelViewer::SetSubLayout(LONG columns, LONG rows)
{
    if (!m_frame)
        return S_FALSE;
    GetLayoutMap()[1] = {columns, rows};
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
    SetSelectMode(0);
    frame->clearSavedStates();
    const std::string uids[] = {BstrToUtf8String(patientInstanceUID), BstrToUtf8String(studyInstanceUID),
                                BstrToUtf8String(seriesInstanceUID), BstrToUtf8String(imageInstanceUID)};
    const char* const expressions[] = {"//Patient", "//Study", "//Series", "//Image"};
    TiXmlElement* root = dao.getRootElement();
    TiXmlNode* target = root;
    int level = kRootLevel;
    for (int i = 0; i < 4 && !uids[i].empty(); ++i) {
        target = dao.findNodeByUID(target, expressions[i], uids[i]);
        level = 4 - i;
        // A UID that names nothing changes nothing: marks, roots and layout stay.
        if (!target)
            return S_FALSE;
    }

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
    if (!m_frame)
        return S_FALSE;
    m_frame->setWorkingTool(tool, true);
    return S_OK;
}

HRESULT COrbelViewer::SetAnnTool(LONG tool) { return SetWorkingTool(tool); }

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
    if (!m_frame)
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->setFitType(type);
    UINT item = ID_FIT_LAST;
    if (type == 2)
        item = ID_FIT_FIRST + 2;
    else if (type == 3)
        item = ID_FIT_FIRST;
    else if (type == 4)
        item = ID_FIT_FIRST + 1;
    checkRadio(*frame, ID_FIT_FIRST, ID_FIT_LAST, item);
    return S_OK;
}

HRESULT COrbelViewer::SetSelectMode(LONG mode)
{
    g_selectMode = mode;
    if (!m_frame)
        return S_FALSE;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    frame->deselectAll();
    if (mode == 1 || mode == 2)
        frame->selectAll();
    const UINT item = mode >= 0 && mode <= 4 ? ID_SELECT_FIRST + UINT(mode) : UINT(mode);
    checkRadio(*frame, ID_SELECT_FIRST, ID_SELECT_FIRST + 4, item);
    Fire_OnSetSelectMode(g_selectMode);
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    return S_OK;
}

HRESULT COrbelViewer::SetWorkingSetMode(LONG mode)
{
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
