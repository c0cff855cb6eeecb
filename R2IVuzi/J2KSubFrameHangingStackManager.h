// The sub-frame's bookkeeping per hanging stack: the PSSI node hung there, the page
// count and the current page. User-interface thread only.
#pragma once

#include <boost/shared_ptr.hpp>

#include <map>

class TiXmlNode;

struct SubFrameStackRecord {
    int currentPage = 0;
    int pageCount = 1;
    TiXmlNode* root = nullptr;  // null: nothing hung for this frame page
    boost::shared_ptr<const void> document; // keeps root's document alive
};

class CJ2KSubFrameHangingStackManager {
public:
    CJ2KSubFrameHangingStackManager() { clear(); }

    // Inserts (0, 1, node) or replaces the root of an existing record.
    void setRoot(int key, TiXmlNode* node, const boost::shared_ptr<const void>& document = {});
    // Missing keys are ignored.
    void setCount(int key, int count);
    void setCurrent(int key, int page);
    void setCurrentKey(int key) { m_currentKey = key; }
    int currentKey() const { return m_currentKey; }
    // The current page of the current key; 0 when the key is missing.
    int currentPage() const;
    // The first key, in key order, whose root is node, or -1.
    int keyOfRoot(const TiXmlNode* node) const;
    // Back to the one record 0 = (0, 1, null), current key 0.
    void clear();
    const std::map<int, SubFrameStackRecord>& records() const { return m_records; }

private:
    std::map<int, SubFrameStackRecord> m_records;
    int m_currentKey = 0;
};
