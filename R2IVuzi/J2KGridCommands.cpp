// The grid's menu commands and the context menu a right click opens. Every choice comes
// back to the grid as WM_COMMAND: posted by TrackPopupMenu once the menu closes, or sent
// by the grid's own key handling for a hotkey. The menu is the frame's, shared by all its
// grids, so each right click first fits the image-dependent items to the clicked image.
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "annotation/CurrentStamp.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"
#include "platform/Win32.h"

#include <algorithm>
#include <string>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

const char16_t kModalityText[] = u"Modality LUT";
const char16_t kVoiText[] = u"VOI LUT";
const UINT kTrackFlags = TPM_VERTICAL | TPM_VERPOSANIMATION;

// Fit types by command, from 30001.
const int kFitTypes[] = {3, 4, 2, 1};

bool inRange(UINT id, UINT first, UINT last) { return id >= first && id <= last; }

// The first position whose whole text is exactly text, or -1.
int findItemByText(HMENU menu, const std::u16string& text)
{
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        const int length = GetMenuStringW(menu, UINT(i), nullptr, 0, MF_BYPOSITION);
        std::u16string item(size_t(std::max(length, 0)) + 1, u'\0');
        const int read = GetMenuStringW(menu, UINT(i), &item[0], int(item.size()), MF_BYPOSITION);
        item.resize(size_t(std::max(read, 0)));
        if (item == text)
            return i;
    }
    return -1;
}

// The position of the command id in the menu itself (not its submenus), or -1. The
// shown text carries the hotkey, so the command is looked for, not its text.
int findItemById(HMENU menu, UINT id)
{
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i)
        if (GetMenuItemID(menu, i) == id)
            return i;
    return -1;
}

// Refills the stamp submenu from the frame's table, so a ConfigStamp after the first
// right click never leaves an item naming one stamp and selecting another. The stamp in
// use carries the check mark, wherever the new table puts it.
void fillStampMenu(HMENU menu, const std::map<int, std::u16string>& names)
{
    while (GetMenuItemCount(menu) > 0)
        DeleteMenu(menu, 0, MF_BYPOSITION);
    for (const auto& entry : names) {
        // No command past the last stamp id reaches the grid.
        if (entry.first > int(ID_STAMP_LAST))
            break;
        const UINT chosen = !currentStampName.empty() && entry.second == currentStampName ? MF_CHECKED : MF_UNCHECKED;
        AppendMenuW(menu, MF_STRING | chosen, UINT_PTR(UINT(entry.first)), entry.second.c_str());
    }
}

} // namespace

bool CJ2KGrid::OnCommand(UINT id)
{
    // A command that fails is reported here: nothing up the window procedure expects one.
    try {
        return runCommand(id);
    } catch (const CJ2KException& e) {
        ORBEL_LOG(ERROR) << "Command " << id << ": " << e.what();
    }
    return true;
}

bool CJ2KGrid::runCommand(UINT id)
{
    if (inRange(id, ID_TOOL_FIRST, ID_TOOL_LAST) || inRange(id, ID_ANN_TOOL_FIRST, ID_TOOL_STAMP)) {
        boost::shared_ptr<CJ2KFrame> frame = lockFrame();
        // The stamp root only opens its submenu: a hotkey on it sets no tool.
        if (id != ID_TOOL_STAMP)
            setWorkingTool(int(id - ID_TOOL_FIRST), true);
        frame->checkMenuGroup(ID_TOOL_FIRST, ID_TOOL_RADIO_LAST, id);
        return true;
    }
    if (inRange(id, ID_SELECT_FIRST, ID_SELECT_LAST)) {
        boost::shared_ptr<CJ2KFrame> frame = lockFrame();
        g_selectMode = int(id - ID_SELECT_FIRST);
        selectOnClick();
        frame->checkMenuGroup(ID_SELECT_FIRST, ID_SELECT_LAST, id);
        if (IJ2KFrameOwner* owner = frame->getOwner())
            owner->Fire_OnSetSelectMode(g_selectMode);
        return true;
    }
    if (inRange(id, ID_FIT_FIRST, ID_FIT_LAST)) {
        boost::shared_ptr<CJ2KFrame> frame = lockFrame();
        const int type = kFitTypes[id - ID_FIT_FIRST];
        frame->setFitType(type);
        frame->checkMenuGroup(ID_FIT_FIRST, ID_FIT_LAST, id);
        frame->raiseFitTypeChanged(type);
        return true;
    }
    if (inRange(id, ID_FLIP_HORIZONTAL, ID_ROTATE_CLOCKWISE)) {
        runViewCommand(*lockFrame(), id);
        return true;
    }
    if (inRange(id, ID_SHOW_OVERLAY, ID_SHOW_RULER)) {
        toggleDisplayFlag(*lockFrame(), id);
        return true;
    }
    if (inRange(id, ID_VOI_NONE, ID_VOI_LAST)) {
        selectVoiTable(int(id - ID_VOI_NONE));
        return true;
    }
    if (inRange(id, ID_STAMP_FIRST, ID_STAMP_LAST)) {
        selectStamp(id);
        return true;
    }
    if (id == ID_MODALITY_LUT) {
        if (CImageBase* base = openImageBase()) {
            base->EnableModalityLut(!base->IsModalityLutEnabled());
            if (m_hWnd)
                InvalidateRect(m_hWnd, nullptr, TRUE);
        }
        return true;
    }
    return false;
}

CImageBase* CJ2KGrid::openImageBase() const
{
    return m_image && m_image->isOpened() ? &m_image->getImageBase() : nullptr;
}

void CJ2KGrid::runViewCommand(CJ2KFrame& frame, UINT id)
{
    switch (id) {
    case ID_FLIP_HORIZONTAL: frame.flip(true); break;
    case ID_FLIP_VERTICAL: frame.flip(false); break;
    case ID_INVERT: frame.invertWindowLevel(); break;
    case ID_RESET: frame.resetView(); break;
    case ID_ROTATE_ANTICLOCKWISE: frame.rotate(false); break;
    case ID_ROTATE_CLOCKWISE: frame.rotate(true); break;
    default: break;
    }
}

void CJ2KGrid::toggleDisplayFlag(CJ2KFrame& frame, UINT id)
{
    bool& flag = id == ID_SHOW_OVERLAY ? g_showOverlay : id == ID_SHOW_ANNOTATION ? g_showAnnotation : g_showRuler;
    flag = !flag;
    if (HMENU menu = frame.getPopupMenu())
        CheckMenuItem(menu, id, MF_BYCOMMAND | (flag ? MF_CHECKED : MF_UNCHECKED));
    if (IJ2KFrameOwner* owner = frame.getOwner()) {
        const VARIANT_BOOL value = flag ? VARIANT_TRUE : VARIANT_FALSE;
        if (id == ID_SHOW_OVERLAY)
            owner->Fire_OnShowOverlay(value);
        else if (id == ID_SHOW_ANNOTATION)
            owner->Fire_OnShowAnnotation(value);
        else
            owner->Fire_OnShowRuler(value);
    }
    frame.repaint();
}

void CJ2KGrid::selectVoiTable(int table)
{
    CImageBase* base = openImageBase();
    if (!base)
        return;
    // A table the image does not have (a hotkey, or a menu built for another image) would
    // be added to its tables, empty, by the selection.
    if (table > int(base->GetVoiLuts().size())) {
        ORBEL_LOG(WARNING) << "VOI LUT " << table << " not in " << m_target;
        return;
    }
    base->SelectVoiLut(table);
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CJ2KGrid::selectStamp(UINT id)
{
    if (!openImageBase())
        return;
    boost::shared_ptr<CJ2KFrame> frame = lockFrame();
    setWorkingTool(kStampTool, true);
    // Looked up, not indexed: a missing id must not add an empty stamp to the table.
    const std::map<int, std::u16string>& names = frame->getStampNames();
    const auto it = names.find(int(id));
    currentStampName = it == names.end() ? std::u16string() : it->second;
    frame->getPssiXmlDao()->loadCurrentStampData();
}

// ---- the context menu -----------------------------------------------------------------

void CJ2KGrid::showContextMenu()
{
    // The chooser may run a modal loop: the grid and its frame stay alive until it returns.
    boost::shared_ptr<CJ2KGrid> self = shared_from_this();
    boost::shared_ptr<CJ2KFrame> frame = lockFrame();
    const HWND owner = m_hWnd;
    const HMENU menu = frame->getPopupMenu();
    if (!owner || !menu)
        return;
    const int32_t tool = frame->getWorkingTool();
    setWorkingTool(0, false);
    try {
        prepareContextMenu(*frame);
        POINT at = {0, 0};
        GetCursorPos(&at);
        if (!MonitorFromPoint(at, MONITOR_DEFAULTTONULL)) {
            MONITORINFO info = {};
            info.cbSize = sizeof info;
            if (GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &info))
                at.x = std::min(std::max(at.x, info.rcWork.left), info.rcWork.right);
        }
        TrackPopupMenu(menu, kTrackFlags, at.x, at.y, 0, owner, nullptr);
    } catch (...) {
        setWorkingTool(tool, false);
        throw;
    }
    setWorkingTool(tool, false);
}

void CJ2KGrid::prepareContextMenu(CJ2KFrame& frame)
{
    const HMENU menu = frame.getPopupMenu();
    // Another image's items go whatever this cell shows: an empty cell lists none.
    const int modality = findItemByText(menu, kModalityText);
    if (modality >= 0)
        DeleteMenu(menu, UINT(modality), MF_BYPOSITION);
    const int voi = findItemByText(menu, kVoiText);
    if (voi >= 0)
        RemoveMenu(menu, UINT(voi), MF_BYPOSITION); // the submenu belongs to its grid
    CImageBase* base = openImageBase();
    if (!base)
        return;
    if (base->GetModalityLut().entryCount != 0)
        AppendMenuW(menu, MF_STRING | (base->IsModalityLutEnabled() ? MF_CHECKED : MF_UNCHECKED), ID_MODALITY_LUT,
                    kModalityText);
    appendVoiMenu(menu, int(base->GetVoiLuts().size()), base->GetVoiLutIndex());
    prepareStampMenu(frame);
}

void CJ2KGrid::appendVoiMenu(HMENU menu, int tables, int selected)
{
    if (tables <= 0)
        return;
    // Every listed table has a command of its own.
    const int listed = std::min(tables, int(ID_VOI_LAST - ID_VOI_NONE));
    if (listed < tables)
        ORBEL_LOG(WARNING) << "VOI LUT menu of " << m_target << " lists " << listed << " of " << tables << " tables";
    tables = listed;
    // The submenu lists the count it was built for: another image's count, or a submenu
    // destroyed with an earlier frame menu, gets a new one.
    if (!m_voiMenu || !IsMenu(m_voiMenu) || m_voiMenuTables != tables) {
        if (m_voiMenu && IsMenu(m_voiMenu))
            DestroyMenu(m_voiMenu);
        m_voiMenu = CreatePopupMenu();
        m_voiMenuTables = tables;
        AppendMenuW(m_voiMenu, MF_STRING, ID_VOI_NONE, u"None");
        for (int i = 1; i <= tables; ++i) {
            const std::u16string text = utf8ToWide(std::to_string(i).c_str());
            AppendMenuW(m_voiMenu, MF_STRING, UINT_PTR(ID_VOI_NONE + UINT(i)), text.c_str());
        }
    }
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(m_voiMenu), kVoiText);
    CJ2KFrame::checkMenuGroup(menu, ID_VOI_NONE, ID_VOI_LAST, ID_VOI_NONE + UINT(std::max(selected, 0)));
}

void CJ2KGrid::prepareStampMenu(CJ2KFrame& frame)
{
    if (HMENU built = frame.getStampMenu()) {
        fillStampMenu(built, frame.getStampNames());
        return;
    }
    const auto& items = frame.getMenuItems();
    const auto root = items.find(int(ID_TOOL_STAMP));
    const HMENU menu = frame.getPopupMenu();
    const int position = findItemById(menu, ID_TOOL_STAMP);
    if (root == items.end() || position < 0)
        return;
    const HMENU stamps = CreatePopupMenu();
    fillStampMenu(stamps, frame.getStampNames());
    DeleteMenu(menu, UINT(position), MF_BYPOSITION);
    InsertMenuW(menu, UINT(position), MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(stamps),
                root->second.text.c_str());
    EnableMenuItem(menu, UINT(position), MF_BYPOSITION | MF_ENABLED);
    frame.setStampMenu(stamps);
}

void CJ2KGrid::detachVoiMenu()
{
    if (!m_voiMenu)
        return;
    boost::shared_ptr<CJ2KSubFrame> subFrame = m_subFrame.lock();
    if (!subFrame)
        return;
    try {
        const HMENU menu = subFrame->getFrame()->getPopupMenu();
        const int position = menu ? findItemByText(menu, kVoiText) : -1;
        if (position >= 0 && GetSubMenu(menu, position) == m_voiMenu)
            RemoveMenu(menu, UINT(position), MF_BYPOSITION);
    } catch (const CJ2KException&) {
        // The frame went first, and its menu with it.
    }
}

