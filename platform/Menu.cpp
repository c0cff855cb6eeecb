#include "platform/WindowInternal.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace {

struct MenuItem {
    UINT flags = 0; // MF_SEPARATOR, MF_POPUP, MF_CHECKED, MF_GRAYED, MF_DISABLED
    UINT id = 0;
    HMENU popup = nullptr;
    std::u16string text;
};

struct Menu {
    std::vector<MenuItem> items;
};

struct MenuTable {
    boost::mutex lock;
    std::map<HMENU, std::unique_ptr<Menu>> menus;
    uintptr_t next = 0x5000;
    platform::MenuChooser chooser;
};

MenuTable& table()
{
    static MenuTable* t = new MenuTable();
    return *t;
}

Menu* findLocked(HMENU h)
{
    auto it = table().menus.find(h);
    return it == table().menus.end() ? nullptr : it->second.get();
}

HMENU createMenu()
{
    MenuTable& t = table();
    boost::lock_guard<boost::mutex> g(t.lock);
    HMENU h = reinterpret_cast<HMENU>(t.next);
    t.next += 4;
    t.menus[h] = std::make_unique<Menu>();
    return h;
}

// Finds an item by position, or by command in the menu and its submenus (depth first).
struct Found {
    Menu* menu = nullptr;
    size_t index = 0;
};

Found locate(HMENU h, UINT item, UINT flags, int depth = 0)
{
    Menu* m = findLocked(h);
    if (!m || depth > 32)
        return Found{};
    if (flags & MF_BYPOSITION) {
        if (item >= m->items.size())
            return Found{};
        return Found{m, item};
    }
    for (size_t i = 0; i < m->items.size(); ++i) {
        const MenuItem& it = m->items[i];
        if (!(it.flags & (MF_POPUP | MF_SEPARATOR)) && it.id == item)
            return Found{m, i};
        if (it.flags & MF_POPUP) {
            Found f = locate(it.popup, item, flags, depth + 1);
            if (f.menu)
                return f;
        }
    }
    return Found{};
}

void destroyLocked(HMENU h, int depth = 0)
{
    auto it = table().menus.find(h);
    if (it == table().menus.end() || depth > 32)
        return;
    std::unique_ptr<Menu> m = std::move(it->second);
    table().menus.erase(it);
    for (MenuItem& item : m->items)
        if (item.flags & MF_POPUP)
            destroyLocked(item.popup, depth + 1);
}

MenuItem makeItem(UINT flags, UINT_PTR idOrPopup, LPCWSTR text)
{
    MenuItem item;
    item.flags = flags & (MF_SEPARATOR | MF_POPUP | MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_DEFAULT);
    if (flags & MF_POPUP)
        item.popup = reinterpret_cast<HMENU>(idOrPopup);
    else
        item.id = UINT(idOrPopup);
    if (text && !(flags & MF_SEPARATOR))
        item.text = text;
    return item;
}

} // namespace

HMENU CreatePopupMenu() { return createMenu(); }
HMENU CreateMenu() { return createMenu(); }

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCWSTR text)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Menu* m = findLocked(menu);
    if (!m || ((flags & MF_POPUP) && !findLocked(reinterpret_cast<HMENU>(idOrPopup))))
        return FALSE;
    m->items.push_back(makeItem(flags, idOrPopup, text));
    return TRUE;
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCWSTR text)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    if ((flags & MF_POPUP) && !findLocked(reinterpret_cast<HMENU>(idOrPopup)))
        return FALSE;
    if (flags & MF_BYPOSITION) {
        Menu* m = findLocked(menu);
        if (!m)
            return FALSE;
        size_t at = std::min<size_t>(position, m->items.size()); // past the end appends
        m->items.insert(m->items.begin() + long(at), makeItem(flags, idOrPopup, text));
        return TRUE;
    }
    Found f = locate(menu, position, flags);
    if (!f.menu)
        return FALSE;
    f.menu->items.insert(f.menu->items.begin() + long(f.index), makeItem(flags, idOrPopup, text));
    return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Found f = locate(menu, position, flags);
    if (!f.menu)
        return FALSE;
    MenuItem item = f.menu->items[f.index];
    f.menu->items.erase(f.menu->items.begin() + long(f.index));
    if (item.flags & MF_POPUP)
        destroyLocked(item.popup);
    return TRUE;
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Found f = locate(menu, position, flags);
    if (!f.menu)
        return FALSE;
    f.menu->items.erase(f.menu->items.begin() + long(f.index));
    return TRUE;
}

int GetMenuItemCount(HMENU menu)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Menu* m = findLocked(menu);
    return m ? int(m->items.size()) : -1;
}

int GetMenuStringW(HMENU menu, UINT item, LPWSTR buffer, int maxCount, UINT flags)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Found f = locate(menu, item, flags);
    if (!f.menu)
        return 0;
    const std::u16string& text = f.menu->items[f.index].text;
    if (!buffer || maxCount <= 0)
        return int(text.size());
    size_t n = std::min(text.size(), size_t(maxCount - 1));
    std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return int(n);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Found f = locate(menu, item, flags);
    if (!f.menu)
        return UINT(-1);
    const MenuItem& it = f.menu->items[f.index];
    if (it.flags & MF_POPUP) {
        Menu* sub = findLocked(it.popup);
        UINT count = sub ? UINT(sub->items.size()) : 0;
        return (count << 8) | (it.flags & 0xFF);
    }
    return it.flags;
}

UINT GetMenuItemID(HMENU menu, int position)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Menu* m = findLocked(menu);
    if (!m || position < 0 || size_t(position) >= m->items.size())
        return UINT(-1);
    const MenuItem& it = m->items[size_t(position)];
    return (it.flags & MF_POPUP) ? UINT(-1) : it.id;
}

HMENU GetSubMenu(HMENU menu, int position)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Menu* m = findLocked(menu);
    if (!m || position < 0 || size_t(position) >= m->items.size())
        return nullptr;
    const MenuItem& it = m->items[size_t(position)];
    return (it.flags & MF_POPUP) ? it.popup : nullptr;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT check)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Found f = locate(menu, item, check);
    if (!f.menu)
        return DWORD(-1);
    MenuItem& it = f.menu->items[f.index];
    DWORD old = it.flags & MF_CHECKED;
    it.flags = (it.flags & ~UINT(MF_CHECKED)) | (check & MF_CHECKED);
    return old;
}

BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Menu* m = nullptr;
    if (flags & MF_BYPOSITION) {
        m = findLocked(menu);
        if (!m || first > last || last >= m->items.size() || check < first || check > last)
            return FALSE;
        for (UINT i = first; i <= last; ++i) {
            MenuItem& it = m->items[i];
            it.flags = (i == check) ? (it.flags | MF_CHECKED) : (it.flags & ~UINT(MF_CHECKED));
        }
        return TRUE;
    }
    // By command: the group lives in whichever (sub)menu holds the checked item.
    Found f = locate(menu, check, MF_BYCOMMAND);
    if (!f.menu || check < first || check > last)
        return FALSE;
    for (MenuItem& it : f.menu->items)
        if (!(it.flags & (MF_POPUP | MF_SEPARATOR)) && it.id >= first && it.id <= last)
            it.flags = (it.id == check) ? (it.flags | MF_CHECKED) : (it.flags & ~UINT(MF_CHECKED));
    return TRUE;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    Found f = locate(menu, item, enable);
    if (!f.menu)
        return -1;
    MenuItem& it = f.menu->items[f.index];
    BOOL old = BOOL(it.flags & (MF_GRAYED | MF_DISABLED));
    it.flags = (it.flags & ~UINT(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    return old;
}

BOOL DestroyMenu(HMENU menu)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    if (!findLocked(menu))
        return FALSE;
    destroyLocked(menu);
    return TRUE;
}

BOOL IsMenu(HMENU menu)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    return findLocked(menu) != nullptr;
}

void platform::SetMenuChooser(MenuChooser chooser)
{
    boost::lock_guard<boost::mutex> g(table().lock);
    table().chooser = std::move(chooser);
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*)
{
    platform::MenuChooser chooser;
    {
        boost::lock_guard<boost::mutex> g(table().lock);
        if (!findLocked(menu) || !IsWindow(owner))
            return FALSE;
        chooser = table().chooser;
    }
    UINT chosen = chooser ? chooser(menu, x, y, owner) : 0;
    bool valid = false;
    if (chosen) {
        boost::lock_guard<boost::mutex> g(table().lock);
        Found f = locate(menu, chosen, MF_BYCOMMAND);
        valid = f.menu && !(f.menu->items[f.index].flags & (MF_GRAYED | MF_DISABLED));
    }
    if (!valid)
        return FALSE;
    if (flags & TPM_RETURNCMD)
        return BOOL(chosen);
    // The command arrives once the caller is back in its message loop.
    if (!(flags & TPM_NONOTIFY))
        PostMessageW(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    return TRUE;
}
