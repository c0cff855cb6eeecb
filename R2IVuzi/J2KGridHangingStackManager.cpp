#include "R2IVuzi/J2KGridHangingStackManager.h"

#include "R2IVuzi/StartupValues.h"

void CJ2KGridHangingStackManager::update(int key, int page, TiXmlNode* node,
                                         const std::string& objectFile,
                                         const std::string& instanceUID,
                                         const boost::shared_ptr<const void>& document)
{
    HangingItem& item = m_stacks[key][page];  // new stacks and pages start unselected
    item.node = node;
    item.objectFile = objectFile;
    item.instanceUID = instanceUID;
    item.document = node ? document : boost::shared_ptr<const void>();
}

void CJ2KGridHangingStackManager::resetStack(int key)
{
    auto it = m_stacks.find(key);
    if (it == m_stacks.end())
        return;
    it->second.clear();
    it->second[0] = HangingItem{};
}

void CJ2KGridHangingStackManager::clear()
{
    m_stacks.clear();
    update(0, 0, nullptr, std::string(), std::string());
    m_currentKey = 0;
    m_currentPage = 0;
}

void CJ2KGridHangingStackManager::setPosition(int key, int page)
{
    m_currentKey = key;
    m_currentPage = page;
}

HangingItem CJ2KGridHangingStackManager::currentItem() const
{
    auto stack = m_stacks.find(m_currentKey);
    if (stack == m_stacks.end())
        return HangingItem{};
    auto item = stack->second.find(m_currentPage);
    return item == stack->second.end() ? HangingItem{} : item->second;
}

int CJ2KGridHangingStackManager::find(int key, const TiXmlNode* node) const
{
    auto stack = m_stacks.find(key);
    if (stack == m_stacks.end())
        return -1;
    for (const auto& [page, item] : stack->second)
        if (item.node == node)
            return page;
    return -1;
}

void CJ2KGridHangingStackManager::selectCurrent()
{
    auto stack = m_stacks.find(m_currentKey);
    if (stack == m_stacks.end())
        return;
    auto item = stack->second.find(m_currentPage);
    if (item != stack->second.end())
        item->second.selected = true;
}

void CJ2KGridHangingStackManager::setSelected(int key, bool selected)
{
    auto stack = m_stacks.find(key);
    if (stack == m_stacks.end())
        return;
    for (auto& entry : stack->second)
        entry.second.selected = selected;
}

void CJ2KGridHangingStackManager::selectAll(int key) { setSelected(key, true); }

void CJ2KGridHangingStackManager::deselectAll(int key) { setSelected(key, false); }

void CJ2KGridHangingStackManager::updateSelection()
{
    const int count = static_cast<int>(m_stacks.size());
    for (int key = 0; key < count; ++key)
        deselectAll(key);
    if (g_selectMode == 1 || g_selectMode == 3) {
        for (int key = 0; key < count; ++key)
            selectAll(key);
    } else {
        selectCurrent();
    }
}
