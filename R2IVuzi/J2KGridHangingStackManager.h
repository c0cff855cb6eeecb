// What one grid shows on one page of one hanging stack.
#pragma once

#include <boost/shared_ptr.hpp>

#include <map>
#include <string>

class TiXmlNode;

struct HangingItem {
    bool selected = false;
    TiXmlNode* node = nullptr;  // null: an empty cell
    std::string objectFile;     // the grid's target, the JPIP and registry key
    std::string instanceUID;    // the annotation server's and status document's key
    boost::shared_ptr<const void> document; // keeps node's document alive
};

// The images of one grid's cell: one item per page of every hanging stack (stack keys are
// the frame's pages). User-interface thread only.
class CJ2KGridHangingStackManager {
public:
    using Stack = std::map<int, HangingItem>;

    CJ2KGridHangingStackManager() { clear(); }
    ~CJ2KGridHangingStackManager() { clear(); }

    // Creates the stack, replaces the page's node and texts (keeping its selected flag) or
    // inserts the page, unselected.
    void update(int key, int page, TiXmlNode* node, const std::string& objectFile,
                const std::string& instanceUID, const boost::shared_ptr<const void>& document = {});
    // Leaves an existing stack with one default item at page 0.
    void resetStack(int key);
    // Back to one stack holding one default item, positioned at (0, 0).
    void clear();
    void setPosition(int key, int page);
    // A copy of the item at the current position; a default item when it is missing.
    HangingItem currentItem() const;
    int currentKey() const { return m_currentKey; }
    int currentPage() const { return m_currentPage; }
    // The page whose item holds node, or -1.
    int find(int key, const TiXmlNode* node) const;
    void selectCurrent();
    void selectAll(int key);
    void deselectAll(int key);
    // Clears every flag of stacks 0 to n-1, then selects by the process-wide select mode:
    // the current item (modes 0, 2, 4) or every item of those stacks (1, 3).
    void updateSelection();
    const std::map<int, Stack>& stacks() const { return m_stacks; }

private:
    void setSelected(int key, bool selected);

    std::map<int, Stack> m_stacks;
    int m_currentKey = 0;
    int m_currentPage = 0;
};
