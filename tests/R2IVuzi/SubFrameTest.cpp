// A sub-frame's sub-layout and hanging stacks over a real PSSI document (no windows:
// the grids' current items say what each cell would show).
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "tests/support/TestTools.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class SubFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tools/make_pssi.py") +
                                " --patients 1 --studies 1 --series 1 --images 7 --tags 0";
        std::string pssi;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
                pssi.append(buf, n);
            pclose(p);
        }
        frame = boost::make_shared<CJ2KFrame>(nullptr);
        dao().parsePssi(pssi);
        root = dao().getRootElement();
        ASSERT_NE(root, nullptr);
        TiXmlHandle series = TiXmlHandle(root).FirstChild("Patient").FirstChild("Study").FirstChild("Series");
        for (TiXmlElement* i = series.FirstChild("Image").ToElement(); i; i = i->NextSiblingElement("Image"))
            images.push_back(i);
        ASSERT_EQ(images.size(), 7u);
        sub = boost::make_shared<CJ2KSubFrame>(frame, 0, 0);
        sub->setSubLayout(2, 2);
    }
    CPssiXmlDao& dao() { return *frame->getPssiXmlDao(); }
    // The image number (1-based) each grid shows now, 0 for an empty cell, in grid order.
    std::vector<int> shown() const
    {
        std::vector<int> out;
        for (const auto& grid : sub->getGrids()) {
            const HangingItem item = grid->getStackManager()->currentItem();
            int n = 0;
            for (size_t i = 0; i < images.size(); ++i)
                if (images[i] == item.node)
                    n = int(i) + 1;
            EXPECT_EQ(item.objectFile, n ? "1_1_1_" + std::to_string(n) + ".jp2" : "");
            out.push_back(n);
        }
        return out;
    }
    int pages() const { return sub->getStackManager()->records().at(0).pageCount; }

    boost::shared_ptr<CJ2KFrame> frame;
    boost::shared_ptr<CJ2KSubFrame> sub;
    TiXmlElement* root = nullptr;
    std::vector<TiXmlNode*> images;
};

} // namespace

TEST_F(SubFrame, BuildsAndTurnsPages)
{
    dao().setHangingDownward(root, 5, "True");
    sub->getStackManager()->setRoot(0, root);
    sub->buildStacks(0, root);
    ASSERT_EQ(pages(), 2);
    sub->showPosition(0);
    EXPECT_EQ(shown(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(sub->turn(true));  // already on page 0
    EXPECT_TRUE(sub->turn(false));
    EXPECT_EQ(shown(), (std::vector<int>{5, 6, 7, 0}));
    EXPECT_FALSE(sub->turn(false));  // past the last page
    EXPECT_EQ(sub->getStackManager()->currentPage(), 1);
    EXPECT_EQ(shown(), (std::vector<int>{5, 6, 7, 0}));

    sub->setSelected(false);  // an unselected sub-frame ignores build, turn and sub-layout
    EXPECT_FALSE(sub->turn(true));
    sub->setSubLayout(1, 1);
    sub->buildStacks(0, images[0]);
    EXPECT_EQ(sub->getGrids().size(), 4u);
    EXPECT_EQ(pages(), 2);
    EXPECT_EQ(sub->getStackManager()->currentPage(), 1);
}

TEST_F(SubFrame, RootsAtEveryLevel)
{
    // image 3 marked, the others not; a Frame element under image 3
    images[2]->ToElement()->SetAttribute("hanging", "True");
    TiXmlNode* frameNode = images[2]->LinkEndChild(new TiXmlElement("Frame"));
    struct Case {
        TiXmlNode* root;
        int pages;
        std::vector<int> page0;
    };
    const Case cases[] = {
        {root, 1, {3, 0, 0, 0}},
        {images[2], 1, {3, 0, 0, 0}},
        {images[3], 0, {0, 0, 0, 0}},
        {frameNode, 1, {3, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        sub->buildStacks(0, c.root);
        EXPECT_EQ(pages(), c.pages) << c.root->Value();
        sub->showPosition(0);
        EXPECT_EQ(shown(), c.page0) << c.root->Value();
    }
}

TEST_F(SubFrame, FindStackOfNodeStopsAtFirstKeyWithoutRoot)
{
    dao().setHangingDownward(root, 5, "True");
    sub->getStackManager()->setRoot(1, root);
    sub->buildStacks(1, root);
    EXPECT_EQ(sub->findStackOfNode(images[5]), nullptr);  // key 0 has no root
    sub->getStackManager()->setRoot(0, images[0]);
    sub->buildStacks(0, images[0]);
    EXPECT_EQ(sub->findStackOfNode(images[5]), root);
    EXPECT_EQ(sub->getStackManager()->records().at(1).currentPage, 1);
    for (const auto& grid : sub->getGrids())
        grid->setSelected(false);
    EXPECT_EQ(sub->selectGridOfNode(images[5]), root);
    std::vector<bool> selected;
    for (const auto& grid : sub->getGrids())
        selected.push_back(grid->isSelected());
    EXPECT_EQ(selected, (std::vector<bool>{false, true, false, false}));  // image 6 sits at (0, 1)
}

TEST_F(SubFrame, SubLayoutKeepsLeadingGrids)
{
    const std::vector<boost::shared_ptr<CJ2KGrid>> before = sub->getGrids();
    EXPECT_EQ(frame->getSavedStates().at({0, 0}).subRows, 2);
    sub->setSubLayout(2, 1);
    ASSERT_EQ(sub->getGrids().size(), 2u);
    EXPECT_EQ(sub->getGrids()[0], before[0]);
    EXPECT_EQ(sub->getGrids()[1], before[1]);
    sub->setSubLayout(0, 0);
    EXPECT_EQ(sub->getSubRows() * sub->getSubColumns(), 1);
    ASSERT_EQ(sub->getGrids().size(), 1u);
    sub->setSubLayout(1, 3);
    std::vector<std::pair<int, int>> positions;
    for (const auto& grid : sub->getGrids())
        positions.emplace_back(grid->getRow(), grid->getColumn());
    EXPECT_EQ(positions, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}}));
    const SavedSubFrameState& saved = frame->getSavedStates().at({0, 0});
    EXPECT_EQ(saved.subRows * 10 + saved.subColumns, 31);
}
