// The frame's configuration: the process-wide settings from the configuration document,
// the working tool with its cursor and menu group, the context menu, the stamp names.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "annotation/OrbelAnnWrapper.h"
#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"
#include "platform/Win32.h"

#include <iterator>
#include <set>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KFrame")

namespace {

const UINT kCursorFirst = 1000;  // + working tool
const int kLastTool = 18;

} // namespace

int CJ2KFrame::annotationToolOf(int32_t tool)
{
    switch (tool) {
    case 11: return 1;
    case 12: return 10;
    case 13: return 2;
    case 14: return 9;
    case 15: return 7;
    case 16: return 8;
    case 17: return 14;
    case kStampTool: return 11;
    default: return 0;
    }
}

namespace {

// Reads one setting; a value that does not convert is logged by its key and the setting
// keeps what it had, so one bad value neither stops Init nor leaves the rest unread.
template <typename Apply>
void readSetting(const char* key, Apply apply)
{
    try {
        apply();
    } catch (const std::exception&) {
        ORBEL_LOG(ERROR) << "Invalid configuration value: " << key;
    }
}

} // namespace

void CJ2KFrame::applyConfiguration()
{
    // A key that is missing keeps the setting it had.
    readSetting("workingmode", [&] {
        if (auto mode = m_dao->getWorkingMode())
            g_workingSetMode = *mode;
    });
    readSetting("maxlayout", [&] {
        if (auto maxLayout = m_dao->getMaxLayout())
            GetMaxLayoutMap()[0] = {*maxLayout, *maxLayout};
    });
    readSetting("hangmode", [&] {
        if (auto mode = m_dao->getHangMode())
            g_hangingMode = *mode;
    });
    readSetting("language", [&] {
        if (auto language = m_dao->getLanguage())
            GetAnnotationLanguage() = *language;
    });
    readSetting("workingtool", [&] {
        if (auto tool = m_dao->getWorkingTool(); tool && *tool != -1)
            setWorkingTool(*tool, true);
    });
    readSetting("anntool", [&] {
        if (auto tool = m_dao->getAnnTool(); tool && *tool != -1)
            setWorkingTool(*tool, true);
    });
    readSetting("selectmode", [&] {
        if (auto mode = m_dao->getSelectMode())
            g_selectMode = *mode;
    });
    readSetting("retrytimes", [&] { g_retryCount = m_dao->getRetryTimes(); });
    readSetting("packetsize", [&] { g_packetSize = m_dao->getPacketSize(); });
}

void CJ2KFrame::setWorkingTool(int32_t tool, bool fireEvent)
{
    OrbelAnnWrapper::SetTool(annotationToolOf(tool));
    m_workingTool = tool;
    if (fireEvent)
        checkMenuGroup(ID_TOOL_FIRST, ID_TOOL_STAMP, ID_TOOL_FIRST + UINT(tool));
    if (m_toolCursor)
        DestroyCursor(m_toolCursor);
    m_toolCursor = nullptr;
    // Tool 10 (none) has no cursor resource.
    if (tool >= 0 && tool <= kLastTool)
        m_toolCursor = LoadCursorW(ModuleInstance(), MAKEINTRESOURCEW(kCursorFirst + UINT(tool)));
    SetCursor(m_toolCursor);
    if (fireEvent && m_owner)
        m_owner->Fire_OnSetWorkingTool(tool);
}

void CJ2KFrame::buildContextMenu()
{
    // Destroying the menu takes its submenus (the stamps', the grids' VOI tables) along.
    if (m_popupMenu)
        DestroyMenu(m_popupMenu);
    m_stampMenu = nullptr;
    m_popupMenu = CreatePopupMenu();
    // The document's items come keyed by position, and the menu shows them in that order,
    // each separator where it stands. The hotkeys go by id (the first item of an id stands).
    m_menuItems.clear();
    const std::map<int, MenuItemInfo> items = m_dao->getMenuItems();
    for (const auto& entry : items)
        m_menuItems.emplace(entry.second.id, entry.second);
    const std::u16string version = u"Version " + GetModuleVersionText();
    AppendMenuW(m_popupMenu, MF_STRING, 0, version.c_str());
    AppendMenuW(m_popupMenu, MF_SEPARATOR, 0, nullptr);
    std::set<int> shown;
    for (const auto& entry : items) {
        const MenuItemInfo& item = entry.second;
        if (item.id == 0) {
            AppendMenuW(m_popupMenu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        if (!shown.insert(item.id).second)
            continue;
        std::u16string text = item.text;
        if (!item.hotkey.empty())
            text += u"(" + utf8ToWide(item.hotkey.c_str()) + u")";
        AppendMenuW(m_popupMenu, MF_STRING, UINT_PTR(UINT(item.id)), text.c_str());
        if (item.id == int(ID_TOOL_STAMP))
            EnableMenuItem(m_popupMenu, ID_TOOL_STAMP, MF_BYCOMMAND | MF_GRAYED);
    }
    // The display toggles show the flags as they are: a page may have switched one off
    // before this Init.
    CheckMenuItem(m_popupMenu, ID_SHOW_OVERLAY, MF_BYCOMMAND | (g_showOverlay ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(m_popupMenu, ID_SHOW_RULER, MF_BYCOMMAND | (g_showRuler ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(m_popupMenu, ID_SHOW_ANNOTATION, MF_BYCOMMAND | (g_showAnnotation ? MF_CHECKED : MF_UNCHECKED));
    // The marks show what is in force from the first open: a configured tool 17 or 18
    // included, and the fit every image starts with.
    checkMenuGroup(ID_TOOL_FIRST, ID_TOOL_STAMP, ID_TOOL_FIRST + UINT(m_workingTool));
    checkMenuGroup(ID_SELECT_FIRST, ID_SELECT_LAST, ID_SELECT_FIRST + UINT(g_selectMode));
    checkMenuGroup(ID_FIT_FIRST, ID_FIT_LAST, fitItemOf(m_fitType));
}

void CJ2KFrame::checkMenuGroup(HMENU menu, UINT first, UINT last, UINT item)
{
    if (!menu || item < first || item > last)
        return;
    if (CheckMenuRadioItem(menu, first, last, item, MF_BYCOMMAND))
        return;
    // No item stands for the state in force: a mark left on another would show a state
    // that no longer holds.
    for (UINT id = first; id <= last; ++id)
        CheckMenuItem(menu, id, MF_BYCOMMAND | MF_UNCHECKED);
}

void CJ2KFrame::refreshStampNames()
{
    m_stampNames = m_dao->getStampNames(int(ID_TOOL_STAMP));
    // The menu's commands for stamps end at ID_STAMP_LAST: the menu leaves the rest out
    // (SetStamp still reaches them by name).
    const auto past = m_stampNames.upper_bound(int(ID_STAMP_LAST));
    if (past != m_stampNames.end())
        ORBEL_LOG(WARNING) << "Stamps: " << std::distance(past, m_stampNames.end()) << " past the first "
                           << (ID_STAMP_LAST - ID_STAMP_FIRST + 1) << " are left out of the menu";
}

int CJ2KFrame::findMenuHotkey(const std::string& hotkey) const
{
    for (const auto& entry : m_menuItems)
        if (entry.second.hotkey == hotkey)
            return entry.first;
    return -1;
}
