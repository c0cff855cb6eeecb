#include "R2IVuzi/J2KSubFrameHangingStackManager.h"

void CJ2KSubFrameHangingStackManager::setRoot(int key, TiXmlNode* node, const boost::shared_ptr<const void>& document)
{
    const boost::shared_ptr<const void> hold = node ? document : boost::shared_ptr<const void>();
    auto it = m_records.find(key);
    if (it == m_records.end()) {
        m_records.emplace(key, SubFrameStackRecord{0, 1, node, hold});
    } else {
        it->second.root = node;
        it->second.document = hold;
    }
}

void CJ2KSubFrameHangingStackManager::setCount(int key, int count)
{
    auto it = m_records.find(key);
    if (it != m_records.end())
        it->second.pageCount = count;
}

void CJ2KSubFrameHangingStackManager::setCurrent(int key, int page)
{
    auto it = m_records.find(key);
    if (it != m_records.end())
        it->second.currentPage = page;
}

int CJ2KSubFrameHangingStackManager::currentPage() const
{
    auto it = m_records.find(m_currentKey);
    return it == m_records.end() ? 0 : it->second.currentPage;
}

int CJ2KSubFrameHangingStackManager::keyOfRoot(const TiXmlNode* node) const
{
    for (const auto& [key, record] : m_records)
        if (record.root == node)
            return key;
    return -1;
}

void CJ2KSubFrameHangingStackManager::clear()
{
    m_records.clear();
    m_records.emplace(0, SubFrameStackRecord{});
    m_currentKey = 0;
}
