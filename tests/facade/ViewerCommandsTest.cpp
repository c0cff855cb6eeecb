// The control's view commands, configuration and context menu, and document methods as a
// page sees them: results, events, the menu in the stand-in, the PSSI document.
#include "tests/facade/ViewerHarness.h"

#include "R2IVuzi/ImageStatusSource.h"
#include "R2IVuzi/StartupValues.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <map>

using namespace viewertest;

namespace {

class ViewerCommands : public ViewerTest {
protected:
    std::vector<boost::shared_ptr<CJ2KGrid>> grids()
    {
        std::vector<boost::shared_ptr<CJ2KGrid>> out;
        for (const auto& s : frame().getSubFrames())
            out.insert(out.end(), s->getGrids().begin(), s->getGrids().end());
        return out;
    }
};

// A registered image as the status document reads it.
struct StatusSource : IImageStatusSource {
    std::string uid, state, reported;
    std::string getInstanceUID() const override { return uid; }
    std::string getDisplayStateText() const override { return state; }
    std::string getLastReportedText() const override { return reported; }
    void setLastReportedText(const std::string& text) override { reported = text; }
    std::string getAnnotationText() const override { return ""; }
    bool isAnnotationModified() const override { return false; }
    void setAnnotationModified(bool) override {}
};

std::string printed(const TiXmlNode* node)
{
    TiXmlPrinter printer;
    node->Accept(&printer);
    return printer.CStr();
}

} // namespace

TEST_F(ViewerCommands, CommandsThatRebuildNothing)
{
    ASSERT_EQ(init(config("<hangmode>1</hangmode><maxlayout>2</maxlayout>")), S_OK);
    GetLayoutMap()[0] = {1, 2};
    EXPECT_EQ(control->SetLayout(3, 3), S_FALSE); // no frame window yet
    EXPECT_EQ(GetLayoutMap()[0], std::make_pair(1, 2));

    ASSERT_EQ(loadData(makePssi(images(4))), S_OK);
    const auto before = grids();
    sink.take();
    EXPECT_EQ(control->SetLayout(2, 2), S_OK); // the layout in force
    control->SetWorkingSetMode(1);
    EXPECT_EQ(control->SetHangingMode(6), S_OK); // roots accumulate: only stored
    EXPECT_EQ(g_hangingMode, 6);
    EXPECT_EQ(frame().getHangingLevel(), 2);
    EXPECT_EQ(sink.take(), Events{});
    EXPECT_EQ(grids(), before);
}

TEST_F(ViewerCommands, EmptyWorkingRootMarksEveryCarrier)
{
    load("<hangmode>2</hangmode><workingmode>0</workingmode>",
         "--patients 2 --studies 1 --series 2 --images 1 --unmarked-series 1");
    // Nodes marked "True" by level, image to patient; the second series carries no mark.
    auto marked = [&] {
        std::vector<int> out;
        for (int level = 1; level <= 4; ++level)
            out.push_back(dao().getHangingCount(dao().getRootElement(), level));
        return out;
    };
    ASSERT_EQ(workingRoot("1.1", "", "", ""), S_OK);
    ASSERT_EQ(marked(), (std::vector<int>{2, 1, 1, 1}));
    EXPECT_EQ(workingRoot("", "", "", ""), S_OK);
    EXPECT_EQ(marked(), (std::vector<int>{4, 3, 2, 2}));
}

TEST_F(ViewerCommands, WorkingRootPagesToItsImageAndAnUnknownUidChangesNothing)
{
    load("<hangmode>1</hangmode><workingmode>1</workingmode><maxlayout>2</maxlayout>", images(9));
    EXPECT_EQ(workingRoot("1.1", "1.1.1", "1.1.1.1", "1.1.1.1.9"), S_OK);
    EXPECT_EQ(sink.take(),
              (Events{"SetSelectMode(0)", "SetLayout(2,2)", "TotalPagesChanged(3)", "CurrentPageChanged(2)"}));
    EXPECT_EQ(shownAt(0, 0), "1.1.1.1.9");
    std::vector<std::pair<int, int>> selected;
    for (const auto& s : frame().getSubFrames())
        if (s->isSelected())
            selected.emplace_back(s->getColumn(), s->getRow());
    EXPECT_EQ(selected, (std::vector<std::pair<int, int>>{{0, 0}}));

    const std::string document = printed(dao().getRootElement());
    const LayoutMap layout = GetLayoutMap();
    const size_t roots = dao().getWorkingRootCount();
    EXPECT_EQ(workingRoot("1.1", "9.9", "", ""), E_INVALIDARG);
    EXPECT_EQ(sink.take(), Events{});
    EXPECT_EQ(printed(dao().getRootElement()), document);
    EXPECT_EQ(GetLayoutMap(), layout);
    EXPECT_EQ(dao().getWorkingRootCount(), roots);
    EXPECT_EQ(frame().getCurrentPage(), 2);
}

TEST_F(ViewerCommands, ContextMenuToolsAndCursors)
{
    ASSERT_EQ(init(config("<workingtool>-1</workingtool><anntool>12</anntool><selectmode>1</selectmode>",
                          "<item id=\"10012\" text=\"abc\"/><item id=\"10011\" text=\"abc\" hotkey=\"CTRL+S\"/>"
                          "<item id=\"0\"/><item id=\"10018\" text=\"Stamp\"/><item id=\"20002\" text=\"All\"/>"
                          "<item id=\"60003\" text=\"Ruler\"/>")),
              S_OK);
    EXPECT_EQ(sink.take(), (Events{"SetWorkingTool(12)", "InitFinished(1)"}));
    HMENU menu = frame().getPopupMenu();
    Events entries;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        WCHAR text[64] = {};
        GetMenuStringW(menu, UINT(i), text, 64, MF_BYPOSITION);
        const UINT state = GetMenuState(menu, UINT(i), MF_BYPOSITION);
        entries.push_back(((state & MF_SEPARATOR) ? "-" : Utf16ToUtf8(text)) + (state & MF_GRAYED ? " grey" : "") +
                          (state & MF_CHECKED ? " checked" : ""));
    }
    ASSERT_FALSE(entries.empty());
    const std::string version = entries[0].substr(std::min<size_t>(entries[0].size(), 8));
    EXPECT_TRUE(entries[0].rfind("Version ", 0) == 0 && std::count(version.begin(), version.end(), ',') == 3 &&
                version.find_first_not_of("0123456789,") == std::string::npos)
        << entries[0];
    entries[0] = "Version";
    // In the document's order, each separator where it stands.
    EXPECT_EQ(entries, (Events{"Version", "-", "abc checked", "abc(CTRL+S)", "-", "Stamp grey", "All checked",
                               "Ruler checked"}));

    ASSERT_EQ(control->ConfigStamp(bstr("<root><stamps><item name=\"A\"/></stamps></root>").get()), S_OK);
    sink.take();
    ASSERT_EQ(control->SetStamp(bstr("A").get()), S_OK);
    EXPECT_EQ(sink.take(), Events{"SetWorkingTool(18)"});
    EXPECT_EQ(GetMenuState(menu, 10018, MF_BYCOMMAND) & MF_CHECKED, UINT(MF_CHECKED));
    EXPECT_EQ(GetMenuState(menu, 10012, MF_BYCOMMAND) & MF_CHECKED, 0u);

    // Only tool 10 (no tool) goes without a cursor resource.
    for (int tool : {12, 10}) {
        EXPECT_EQ(control->SetWorkingTool(tool), S_OK);
        EXPECT_EQ(frame().getToolCursor() != nullptr, tool == 12) << tool;
        EXPECT_EQ(GetCursor(), frame().getToolCursor()) << tool;
    }
}

TEST_F(ViewerCommands, KeysWithoutDefaultKeepTheirSettings)
{
    EXPECT_EQ(control->SetHangingMode(3), S_FALSE);
    EXPECT_EQ(control->SetSelectMode(2), S_FALSE);
    control->SetWorkingSetMode(1);
    control->SetMaxLayout0(5, 5);
    GetAnnotationLanguage() = "DE";
    g_retryCount = 9;
    g_packetSize = 1;
    ASSERT_EQ(init(config("")), S_OK);
    EXPECT_EQ((std::vector<int>{g_hangingMode, g_workingSetMode, g_selectMode, GetMaxLayoutMap()[0].first,
                                GetMaxLayoutMap()[0].second, g_retryCount, g_packetSize}),
              (std::vector<int>{3, 1, 2, 5, 5, 5, 10240}));
    EXPECT_EQ(GetAnnotationLanguage(), "DE");
}

TEST_F(ViewerCommands, ImageStatusFiresFirstAndCarriesUtf8Uids)
{
    ASSERT_EQ(init(config("")), S_OK);
    auto source = boost::make_shared<StatusSource>();
    source->uid = "1.2.\xC3\xBC";
    source->state = "0A0B";
    dao().registerImage("a.jp2", source);
    sink.take();
    EXPECT_EQ(control->GetImageStatus(nullptr), E_POINTER);
    EXPECT_EQ(sink.take(), Events{"ImageStatusModified(1)"});

    source->reported.clear();
    platform::BStr status;
    ASSERT_EQ(control->GetImageStatus(status.out()), S_OK);
    EXPECT_EQ(sink.take(), Events{"ImageStatusModified(1)"});
    const std::string text = Utf16ToUtf8(std::u16string(status.get(), SysStringLen(status.get())));
    EXPECT_NE(text.find("InstanceUID=\"1.2.\xC3\xBC\" Status=\"0A0B\""), std::string::npos) << text;
}

TEST_F(ViewerCommands, ConfigStampRefreshesNamesFromWhateverParsed)
{
    ASSERT_EQ(init(config("")), S_OK);
    sink.take();
    EXPECT_EQ(control->ConfigStamp(bstr("<root><stamps><item name=\"A\"/><item name=\"B\"/></stamps></root>").get()),
              S_OK);
    EXPECT_EQ(sink.take(), Events{"ConfigStampFinished(1)"});
    EXPECT_EQ(frame().getStampNames(), (std::map<int, std::u16string>{{10019, u"A"}, {10020, u"B"}}));
    EXPECT_EQ(control->ConfigStamp(bstr("<root><stamps><item name=\"C\"/></stamps>").get()), S_FALSE);
    EXPECT_EQ(sink.take(), Events{});
    EXPECT_EQ(frame().getStampNames(), (std::map<int, std::u16string>{{10019, u"C"}}));
    EXPECT_EQ(records(),
              Events{"ERROR Parse Stamp Configuration Error: stampConfig.xml line 1, column 40: Error reading Element value."});
}

TEST_F(ViewerCommands, InsertStudyEditsTheDocumentWithoutRelayout)
{
    load("<hangmode>1</hangmode><maxlayout>2</maxlayout>", images(4));
    const auto before = grids();
    const std::string study = "<Patient><Study hanging=\"True\"><StudyUID>1.1.9</StudyUID><Series hanging=\"True\">"
                              "<SeriesUID>1.1.9.1</SeriesUID><Image hanging=\"True\"><ImageUID>1.1.9.1.1</ImageUID>"
                              "</Image></Series></Study></Patient>";
    ASSERT_EQ(control->InsertStudy(bstr("1.1").get(), bstr("").get(), bstr("1.1.1").get(), bstr(study).get()), S_OK);
    const TiXmlNode* inserted = dao().findNodeByUID(dao().getRootElement(), "//Study", "1.1.9");
    ASSERT_NE(inserted, nullptr);
    EXPECT_EQ(uidOf(inserted->PreviousSibling("Study")), "1.1.1");
    EXPECT_EQ(dao().getHangingCount(dao().getRootElement(), 1), 5);
    EXPECT_EQ(sink.take(), Events{});
    EXPECT_EQ(grids(), before);
    EXPECT_EQ(frame().getTotalPages(), 1);
    EXPECT_EQ(shownAt(1, 1), "1.1.1.1.4");
}

TEST_F(ViewerCommands, SetLayoutFromTotalPagesEventDuringLoadData)
{
    ASSERT_EQ(init(config("<hangmode>1</hangmode><maxlayout>4</maxlayout>")), S_OK);
    sink.take();
    bool nested = false;
    sink.hook = [&](const std::string& event) {
        if (event.rfind("TotalPagesChanged", 0) == 0 && !std::exchange(nested, true)) {
            EXPECT_EQ(control->SetLayout(1, 1), S_OK);
        }
    };
    ASSERT_EQ(loadData(makePssi(images(5))), S_OK);
    EXPECT_EQ(sink.take(),
              (Events{"SetLayout(3,2)", "TotalPagesChanged(1)", "TotalPagesChanged(5)", "LoadDataFinished(1)"}));
    EXPECT_EQ(positions(), (std::vector<std::pair<int, int>>{{0, 0}}));
    EXPECT_EQ(frame().getTotalPages(), 5);
    EXPECT_EQ(shownAt(0, 0), "1.1.1.1.1");
    EXPECT_EQ(control->TurnLayoutPage(VARIANT_FALSE), S_OK);
    EXPECT_EQ(shownAt(0, 0), "1.1.1.1.2");
}

// What a page may hand the control that the viewer must survive: a layout far beyond any
// screen, a configuration value that is no number, and working roots in a document that
// did not parse.
TEST_F(ViewerCommands, OutsizedLayoutsBadValuesAndBrokenDocumentsAreContained)
{
    ASSERT_EQ(init(config("<hangmode>1</hangmode><maxlayout>x</maxlayout><selectmode>3</selectmode>")), S_OK);
    EXPECT_EQ(records(), Events{"ERROR Invalid configuration value: maxlayout"});
    EXPECT_EQ(g_selectMode, 3); // the keys after the bad one are still read
    EXPECT_NE(frame().getPopupMenu(), nullptr);

    ASSERT_EQ(loadData(makePssi(images(2))), S_OK);
    // Past the largest layout a size is refused; the largest itself is taken.
    EXPECT_EQ(control->SetLayout(1000, 3), E_INVALIDARG);
    EXPECT_EQ(control->SetLayout(kMaxLayoutSide, 3), S_OK);
    EXPECT_EQ(frame().getRows(), kMaxLayoutSide);
    EXPECT_EQ(frame().getSubFrames().size(), size_t(kMaxLayoutSide) * 3);
    EXPECT_EQ(control->SetSubLayout(1, 1000), E_INVALIDARG);
    EXPECT_EQ(control->SetSubLayout(1, kMaxLayoutSide), S_OK);
    EXPECT_EQ(at(0, 0)->getSubColumns(), kMaxLayoutSide);

    // A document that does not parse leaves the one shown, which working roots then use.
    EXPECT_EQ(loadData("<Root><broken>"), S_FALSE);
    EXPECT_EQ(workingRoot("", "", "", ""), S_OK);
}
