// The grid's and the sub-frame's hanging-stack managers on their own.
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/StartupValues.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <set>
#include <utility>

namespace {

struct Nodes {
    TiXmlElement a{"Image"}, b{"Image"}, c{"Image"};
};

// Every selected (key, page) of a grid manager.
std::set<std::pair<int, int>> selectedItems(const CJ2KGridHangingStackManager& m)
{
    std::set<std::pair<int, int>> out;
    for (const auto& [key, stack] : m.stacks())
        for (const auto& [page, item] : stack)
            if (item.selected)
                out.emplace(key, page);
    return out;
}

void expectDefault(const HangingItem& item)
{
    EXPECT_FALSE(item.selected);
    EXPECT_EQ(item.node, nullptr);
    EXPECT_TRUE(item.objectFile.empty() && item.instanceUID.empty());
}

} // namespace

TEST(HangingStack, GridItemsUpdateResetAndFind)
{
    Nodes n;
    CJ2KGridHangingStackManager m;
    ASSERT_EQ(m.stacks().size(), 1u);
    expectDefault(m.currentItem());

    m.update(0, 0, &n.a, "a", "ua");
    m.selectCurrent();
    m.update(0, 0, &n.b, "b", "ub");  // replaces, keeps the flag
    m.update(0, 2, &n.c, "c", "uc");  // inserted unselected
    m.update(3, 1, &n.a, "a", "ua");  // a new stack
    HangingItem cur = m.currentItem();
    EXPECT_TRUE(cur.selected);
    EXPECT_EQ(cur.node, &n.b);
    EXPECT_EQ(cur.objectFile + cur.instanceUID, "bub");
    EXPECT_EQ(selectedItems(m), (std::set<std::pair<int, int>>{{0, 0}}));
    EXPECT_EQ(m.find(0, &n.c), 2);
    EXPECT_EQ(m.find(0, &n.a), -1);
    EXPECT_EQ(m.find(3, &n.a), 1);
    EXPECT_EQ(m.find(7, &n.a), -1);

    m.setPosition(3, 0);  // missing page, then missing key: the default item
    expectDefault(m.currentItem());
    m.setPosition(9, 0);
    expectDefault(m.currentItem());
    m.selectCurrent();    // on a missing position: nothing created
    EXPECT_EQ(m.stacks().size(), 2u);

    m.resetStack(0);
    m.resetStack(5);      // missing: ignored
    ASSERT_EQ(m.stacks().size(), 2u);
    ASSERT_EQ(m.stacks().at(0).size(), 1u);
    expectDefault(m.stacks().at(0).at(0));

    m.clear();
    EXPECT_EQ(m.stacks().size(), 1u);
    EXPECT_EQ(m.currentKey() + m.currentPage(), 0);
    expectDefault(m.currentItem());
}

TEST(HangingStack, UpdateSelectionFollowsSelectMode)
{
    struct Case {
        int mode;
        std::set<std::pair<int, int>> selected;
    };
    // Stacks 0, 1 (two pages each) and 5, positioned at (1, 1); stack 5 lies outside
    // 0..n-1 (n = 3) and keeps its earlier selection.
    const std::set<std::pair<int, int>> all = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {5, 0}};
    const Case cases[] = {
        {0, {{1, 1}, {5, 0}}}, {2, {{1, 1}, {5, 0}}}, {4, {{1, 1}, {5, 0}}},
        {1, all}, {3, all},
    };
    const int saved = g_selectMode;
    Nodes n;
    for (const Case& c : cases) {
        CJ2KGridHangingStackManager m;
        for (int key : {0, 1})
            for (int page : {0, 1})
                m.update(key, page, &n.a, "a", "ua");
        m.update(5, 0, &n.b, "b", "ub");
        m.selectAll(0);
        m.selectAll(5);
        m.setPosition(1, 1);
        g_selectMode = c.mode;
        m.updateSelection();
        EXPECT_EQ(selectedItems(m), c.selected) << "mode " << c.mode;
    }
    g_selectMode = saved;
}

TEST(HangingStack, SubFrameRecords)
{
    Nodes n;
    CJ2KSubFrameHangingStackManager m;
    auto expectStart = [&] {
        ASSERT_EQ(m.records().size(), 1u);
        const SubFrameStackRecord& r = m.records().at(0);
        EXPECT_EQ(r.currentPage, 0);
        EXPECT_EQ(r.pageCount, 1);
        EXPECT_EQ(r.root, nullptr);
        EXPECT_EQ(m.currentKey(), 0);
    };
    expectStart();
    EXPECT_EQ(m.keyOfRoot(&n.a), -1);

    m.setRoot(2, &n.a);
    m.setRoot(1, &n.a);
    m.setCount(1, 4);
    m.setCurrent(1, 3);
    m.setRoot(1, &n.b);  // replaces the root only
    m.setCount(8, 4);    // missing keys: ignored
    m.setCurrent(8, 1);
    EXPECT_EQ(m.records().size(), 3u);
    EXPECT_EQ(m.records().at(2).pageCount, 1);
    EXPECT_EQ(m.keyOfRoot(&n.a), 2);
    EXPECT_EQ(m.keyOfRoot(&n.b), 1);
    EXPECT_EQ(m.keyOfRoot(nullptr), 0);  // the first key in key order
    m.setCurrentKey(1);
    EXPECT_EQ(m.currentPage(), 3);
    EXPECT_EQ(m.records().at(1).pageCount, 4);
    m.setCurrentKey(8);
    EXPECT_EQ(m.currentPage(), 0);

    m.clear();
    expectStart();
}
