// The grids' context menu and commands through right clicks on real grids: what the chooser
// is shown, and what each choice does to the tool, the events, the menu's marks, the images
// and the painted cells (against the same CImageBase operation in a fresh control).
#include "tests/facade/ContainerPump.h"

#include "annotation/CurrentStamp.h"

#include <algorithm>
#include <map>
#include <sstream>

using namespace inputtest;

namespace {

// A menu as text: each item's text, "*" when checked, "~" when greyed, a popup's items in
// brackets.
std::string menuText(HMENU menu)
{
    std::string out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char16_t text[64] = {};
        GetMenuStringW(menu, UINT(i), text, 64, MF_BYPOSITION);
        const UINT state = GetMenuState(menu, UINT(i), MF_BYPOSITION);
        out += (i ? "," : "") + Utf16ToUtf8(text) + (state & MF_CHECKED ? "*" : "") + (state & MF_GRAYED ? "~" : "");
        if (HMENU sub = GetSubMenu(menu, i))
            out += "[" + menuText(sub) + "]";
    }
    return out;
}

bool has(const std::string& menu, const std::string& part) { return menu.find(part) != std::string::npos; }

struct Shown {
    std::string menu;
    POINT at;
    int tool;
    size_t events;
};

class GridMenu : public ContainerPump {
protected:
    void SetUp() override
    {
        ContainerPump::SetUp();
        if (setUpStopped())
            return;
        platform::SetMenuChooser([this](HMENU menu, int x, int y, HWND) {
            shown.push_back({menuText(menu), POINT{x, y}, frame().getWorkingTool(), sink.events.size()});
            return answer;
        });
        reconfigure();
    }
    void TearDown() override
    {
        platform::SetMenuChooser(nullptr);
        platform::SetMonitors({});
        ContainerPump::TearDown();
    }
    // Every command with an item of its own, "C" and its id, besides the stamp's.
    static const std::vector<UINT>& commandIds()
    {
        static const std::vector<UINT> ids = {10000, 10001, 10009, 10011, 10012, 10016, 10017, 20001, 20002,
                                              20003, 20004, 20005, 30001, 30002, 30003, 30004, 50001, 50002,
                                              50003, 50004, 50005, 50006, 60001, 60002, 60003};
        return ids;
    }
    // A new frame whose menu has an item for every command, the document loaded (settled
    // unless told not to).
    void reconfigure(const std::string& settings = "<selectmode>1</selectmode>", bool settled = true)
    {
        std::string items = "<item id=\"10018\" text=\"Stamp\" hotkey=\"CTRL+T\"/>";
        for (UINT id : commandIds())
            items += "<item id=\"" + std::to_string(id) + "\" text=\"C" + std::to_string(id) + "\" hotkey=\"\"/>";
        ASSERT_EQ(init(config("<maxlayout>4</maxlayout><hangmode>2</hangmode>" + settings, items)), S_OK);
        ASSERT_EQ(control->ConfigStamp(bstr(readFile(fixtureDir() + "/stamps.xml")).get()), S_OK);
        load(settled);
    }
    // A right click in the grid, the chooser answering choice, the choice handled.
    const Shown& open(CJ2KGrid& g, UINT choice)
    {
        answer = choice;
        const size_t before = shown.size();
        click(at(g), MouseButton::Right);
        EXPECT_EQ(shown.size(), before + 1);
        return shown.back();
    }
    void send(CJ2KGrid& g, UINT id) { SendMessageW(g.m_hWnd, WM_COMMAND, id, 0); }
    bool checked(UINT id)
    {
        const UINT state = GetMenuState(frame().getPopupMenu(), id, MF_BYCOMMAND);
        return state != ~0u && (state & MF_CHECKED);
    }

    UINT answer = 0;
    std::vector<Shown> shown;
};

TEST_F(GridMenu, CommandTable)
{
    control->ShowOverlay(); // off, so the first toggle turns it on
    sink.events.clear();
    const struct {
        UINT id;
        const char* event;
        int tool;
        UINT mark;    // the checked item of the id's group; 0: the id's own check is off
        int selected; // selected grids, -1 not looked at
    } cases[] = {
        {10001, "SetWorkingTool(1)", 1, 10001, -1},   {10009, "SetWorkingTool(9)", 9, 10009, -1},
        {10011, "SetWorkingTool(11)", 11, 10011, -1}, {10016, "SetWorkingTool(16)", 16, 10016, -1},
        {10017, "SetWorkingTool(17)", 17, 10017, -1}, // marked by the frame's wider group
        {10018, "", 17, 10017, -1},                   {10000, "SetWorkingTool(0)", 0, 10000, -1},
        {20002, "SetSelectMode(1)", 0, 20002, 4},     {20001, "SetSelectMode(0)", 0, 20001, 1},
        {20004, "SetSelectMode(3)", 0, 20004, 1},     {30001, "SetFitType(3)", 0, 30001, -1},
        {30002, "SetFitType(4)", 0, 30002, -1},       {30003, "SetFitType(2)", 0, 30003, -1},
        {30004, "SetFitType(1)", 0, 30004, -1},       {60001, "ShowOverlay(1)", 0, 60001, -1},
        {60001, "ShowOverlay(0)", 0, 0, -1},          {60002, "ShowAnnotation(0)", 0, 0, -1},
        {60003, "ShowRuler(0)", 0, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        if (c.id == 10018)
            send(grid(0, 1), c.id); // as its hotkey does: the item is greyed
        else
            open(grid(0, 1), c.id);
        EXPECT_EQ(sink.take(), Events(*c.event ? 1 : 0, c.event));
        EXPECT_EQ(frame().getWorkingTool(), c.tool);
        EXPECT_EQ(checked(c.mark ? c.mark : c.id), c.mark != 0);
        const UINT first = c.id < 20000 ? 10000 : c.id < 30000 ? 20001 : 30001;
        const UINT last = c.id < 20000 ? 10018 : c.id < 30000 ? 20005 : c.id < 40000 ? 30004 : 0;
        for (UINT other = first; other <= last; ++other)
            EXPECT_EQ(checked(other), other == c.mark) << other;
        int selected = 0;
        for (const auto& s : frame().getSubFrames())
            selected += s->getGrids()[0]->isSelected();
        EXPECT_TRUE(c.selected < 0 || selected == c.selected) << selected;
    }
}

// Opened straight after LoadData, before any call changed a thing, the menu marks what is
// in force: the configured tool (17 too, past the grids' own group) and select mode, the
// fit every image starts with (2, "fit to cell", item 30003) and the display toggles.
TEST_F(GridMenu, FirstOpenMarksTheStateInForce)
{
    const struct {
        const char* settings;
        std::vector<UINT> marked;
    } cases[] = {
        {"<selectmode>1</selectmode>", {10000, 20002, 30003, 60001, 60002, 60003}},
        {"<workingtool>17</workingtool><selectmode>3</selectmode>", {10017, 20004, 30003, 60001, 60002, 60003}},
        {"<workingtool>-1</workingtool><anntool>12</anntool><selectmode>0</selectmode>",
         {10012, 20001, 30003, 60001, 60002, 60003}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        reconfigure(c.settings, false);
        const std::string menu = open(grid(0, 1), 0).menu;
        for (UINT id : commandIds()) {
            const bool marked = std::find(c.marked.begin(), c.marked.end(), id) != c.marked.end();
            EXPECT_EQ(has(menu, "C" + std::to_string(id) + "*"), marked) << id << " in " << menu;
        }
    }
    // The fit chosen later moves the mark; a new Init starts from the first fit again.
    control->SetFitType(1);
    EXPECT_TRUE(has(open(grid(0, 1), 0).menu, "C30004*"));
    reconfigure("", false);
    EXPECT_TRUE(has(open(grid(0, 1), 0).menu, "C30003*"));
}

// The items of group ticked in a shown menu (each item's whole text, as the chooser saw it).
std::vector<std::string> tickedOf(const std::string& menu, const std::vector<std::string>& group)
{
    std::vector<std::string> out;
    for (const std::string& item : group)
        if (has(menu, "," + item + "*"))
            out.push_back(item);
    return out;
}

// The demo's menu lists two of the four fit types, some of the tools and no select mode.
// Whatever is set, the menu ticks only what is in force: its item when it has one, else no
// item of its group (the mark of the state before must not stay).
TEST_F(GridMenu, DemoMenuTicksOnlyTheStateInForce)
{
    ASSERT_EQ(init(readFile(ORBEL_SOURCE_DIR "/demo/Config.xml")), S_OK);
    load(false);
    using Texts = std::vector<std::string>;
    const Texts fits = {"Fit to cell(F)", "Actual size(1)"};
    const struct {
        LONG type;
        Texts ticked;
    } fitCases[] = {{4, {}}, {1, {"Actual size(1)"}}, {3, {}}, {2, {"Fit to cell(F)"}}, {4, {}}, {2, {"Fit to cell(F)"}}};
    EXPECT_EQ(tickedOf(open(grid(0, 1), 0).menu, fits), Texts{"Fit to cell(F)"}); // the start value
    for (const auto& c : fitCases) {
        SCOPED_TRACE("fit type " + std::to_string(c.type));
        ASSERT_EQ(control->SetFitType(c.type), S_OK);
        EXPECT_EQ(tickedOf(open(grid(0, 1), 0).menu, fits), c.ticked);
    }
    // Tools 0 to 17 in turn (18, the stamp tool, is a submenu by now); 10 and the like
    // have no item.
    const std::map<LONG, std::string> tools = {{0, "Pointer(P)"},      {1, "Window/Level(W)"},  {2, "Zoom(Z)"},
                                               {3, "Pan(A)"},          {5, "Pixel value(V)"},   {8, "Magnifier(M)"},
                                               {14, "Protractor(T)"},  {16, "Ruler(R)"}};
    Texts toolTexts;
    for (const auto& t : tools)
        toolTexts.push_back(t.second);
    for (LONG tool : {1, 4, 0, 10, 16, 17, 3, 18, 5, 12, 8, 9, 14, 2}) {
        SCOPED_TRACE("tool " + std::to_string(tool));
        ASSERT_EQ(control->SetWorkingTool(tool), S_OK);
        const auto it = tools.find(tool);
        EXPECT_EQ(tickedOf(open(grid(0, 1), 0).menu, toolTexts), it == tools.end() ? Texts{} : Texts{it->second});
    }
    // No select mode has an item here: every mode leaves the menu's other marks alone.
    ASSERT_EQ(control->SetWorkingTool(0), S_OK);
    for (LONG mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE("select mode " + std::to_string(mode));
        ASSERT_EQ(control->SetSelectMode(mode), S_OK);
        const std::string menu = open(grid(0, 1), 0).menu;
        EXPECT_EQ(tickedOf(menu, toolTexts), Texts{"Pointer(P)"}) << menu;
        EXPECT_EQ(tickedOf(menu, fits), Texts{"Fit to cell(F)"}) << menu;
    }
}

// A menu with items for select modes 1 and 3 only: each other mode unticks them both.
TEST_F(GridMenu, SelectModeWithoutItemTicksNone)
{
    const std::string items = "<item id=\"20002\" text=\"One\" hotkey=\"\"/><item id=\"20004\" text=\"Three\" hotkey=\"\"/>";
    ASSERT_EQ(init(config("<maxlayout>4</maxlayout><hangmode>2</hangmode><selectmode>1</selectmode>", items)), S_OK);
    load(false);
    using Texts = std::vector<std::string>;
    const Texts modes = {"One", "Three"};
    EXPECT_EQ(tickedOf(open(grid(0, 1), 0).menu, modes), Texts{"One"});
    const std::pair<LONG, Texts> cases[] = {{0, {}}, {3, {"Three"}}, {4, {}}, {1, {"One"}}, {2, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE("select mode " + std::to_string(c.first));
        ASSERT_EQ(control->SetSelectMode(c.first), S_OK);
        EXPECT_EQ(tickedOf(open(grid(0, 1), 0).menu, modes), c.second);
    }
    // The configured mode has no item either: the first open ticks none.
    ASSERT_EQ(init(config("<maxlayout>4</maxlayout><hangmode>2</hangmode><selectmode>2</selectmode>", items)), S_OK);
    load(false);
    EXPECT_EQ(tickedOf(open(grid(0, 1), 0).menu, modes), Texts{});
}

TEST_F(GridMenu, ImageItemsFollowTheClickedImage)
{
    CJ2KGrid &ct = grid(0, 0), &ramp = grid(0, 1), &empty = grid(1, 1);
    const std::string none = open(empty, 0).menu;
    EXPECT_FALSE(has(none, "VOI LUT") || has(none, "Modality LUT"));
    ASSERT_TRUE(has(none, ",Stamp(CTRL+T)~,"));
    // The stamp popup takes the command's place, enabled; the image's items come last.
    std::string expected = none;
    expected.replace(expected.find("Stamp(CTRL+T)~"), 14, "Stamp[One,Two]");
    EXPECT_EQ(open(ramp, 0).menu, expected + ",Modality LUT*,VOI LUT[None*,1,2,3,4,5,6,7,8,9,10,11,12]");

    // Every table by its item, 40002 to 40013, each marked at the next click.
    for (int table = 1; table <= 12; ++table) {
        SCOPED_TRACE(table);
        const std::string marked = table == 1 ? "[None*" : "," + std::to_string(table - 1) + "*";
        EXPECT_TRUE(has(open(ramp, 40001 + UINT(table)).menu, marked));
        EXPECT_EQ(base(ramp).GetVoiLutIndex(), table);
    }
    EXPECT_TRUE(has(open(ramp, 0).menu, ",12*]"));
    const std::string ctMenu = open(ct, 0).menu;
    EXPECT_TRUE(has(ctMenu, "VOI LUT[None*,1,2]"));
    EXPECT_FALSE(has(ctMenu, "Modality LUT"));
    // A table the CT lacks selects nothing and adds none.
    send(ct, 40004);
    EXPECT_EQ(base(ct).GetVoiLutIndex(), 0);
    EXPECT_EQ(base(ct).GetVoiLuts().size(), 2u);

    open(ramp, 40000);
    EXPECT_FALSE(base(ramp).IsModalityLutEnabled());
    EXPECT_TRUE(has(open(ramp, 40000).menu, "Modality LUT,"));
    EXPECT_TRUE(base(ramp).IsModalityLutEnabled());
    // Back on the empty cell, the ramp's items are gone.
    const std::string again = open(empty, 0).menu;
    EXPECT_FALSE(has(again, "VOI LUT") || has(again, "Modality LUT"));

    // One cell showing the CT, then the ramp, then the CT again lists each one's tables.
    control->SetLayout(1, 1);
    for (int page = 0; page < 3; ++page) // back to the first page, the CT's
        control->TurnLayoutPage(VARIANT_TRUE);
    ASSERT_TRUE(settle());
    CJ2KGrid& cell = grid(0, 0);
    const std::pair<const char*, VARIANT_BOOL> steps[] = {
        {"VOI LUT[None*,1,2]", VARIANT_FALSE}, // then on, past the RGB
        {"VOI LUT[None,1,2,3,4,5,6,7,8,9,10,11,12*]", VARIANT_TRUE}, // its table from above
        {"VOI LUT[None*,1,2]", VARIANT_TRUE}};
    for (const auto& step : steps) {
        EXPECT_TRUE(has(open(cell, 0).menu, step.first)) << shown.back().menu;
        for (int page = 0; page < 2; ++page)
            control->TurnLayoutPage(step.second);
        ASSERT_TRUE(settle());
        ASSERT_EQ(&grid(0, 0), &cell);
    }
}

TEST_F(GridMenu, StampCommands)
{
    send(grid(1, 1), 10019); // no image: nothing
    open(grid(0, 1), 10019);
    EXPECT_EQ(sink.take(), Events{"SetWorkingTool(18)"});
    EXPECT_EQ(currentStampBitmap, (std::vector<unsigned char>{0x42, 0x4d, 0x01}));
    open(grid(0, 1), 10020);
    EXPECT_EQ(currentStampBitmap, (std::vector<unsigned char>{0x42, 0x4d, 0x02}));
    EXPECT_TRUE(has(open(grid(0, 1), 0).menu, ",Stamp[One,Two*],")); // the choice is marked
    // An id past the table is looked up, not added; the stamp data stays.
    send(grid(0, 1), 10021);
    EXPECT_EQ(frame().getStampNames().size(), 2u);
    EXPECT_EQ(currentStampBitmap, (std::vector<unsigned char>{0x42, 0x4d, 0x02}));
    ASSERT_EQ(control->SetStamp(bstr("Two").get()), S_OK);
    EXPECT_TRUE(has(open(grid(0, 0), 0).menu, ",Stamp[One,Two*],"));
    // Stamps configured after the submenu was built show at the next click, the one in
    // use marked wherever it now stands.
    const char stamps[] = "<root><stamps><item name=\"C\" data=\"00\"/><item name=\"Two\" data=\"01\"/>"
                          "<item name=\"D\" data=\"02\"/></stamps></root>";
    ASSERT_EQ(control->ConfigStamp(bstr(stamps).get()), S_OK);
    EXPECT_TRUE(has(open(grid(0, 0), 0).menu, ",Stamp[C,Two*,D],"));
    ASSERT_EQ(control->SetStamp(bstr("D").get()), S_OK);
    EXPECT_TRUE(has(open(grid(0, 0), 0).menu, ",Stamp[C,Two,D*],"));
    // A table without the stamp in use marks none.
    const char others[] = "<root><stamps><item name=\"E\" data=\"00\"/></stamps></root>";
    ASSERT_EQ(control->ConfigStamp(bstr(others).get()), S_OK);
    EXPECT_TRUE(has(open(grid(0, 0), 0).menu, ",Stamp[E],"));
}

// The stamp commands end at 10118: the menu lists the first hundred stamps, each of them
// chosen by its command, says so once per table, and SetStamp still reaches the rest.
TEST_F(GridMenu, StampsPastTheHundredthStayOutOfTheMenu)
{
    std::string stamps = "<root><stamps>";
    for (int i = 0; i < 102; ++i)
        stamps += "<item name=\"S" + std::to_string(i) + "\" data=\"42" + (i < 16 ? "0" : "") +
                  [](int v) { std::ostringstream o; o << std::hex << v; return o.str(); }(i) + "\"/>";
    stamps += "</stamps></root>";
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    ASSERT_EQ(control->ConfigStamp(bstr(stamps).get()), S_OK);
    EXPECT_EQ(records(), Events{"WARNING Stamps: 2 past the first 100 are left out of the menu"});
    const std::string menu = open(grid(0, 1), 10118).menu;
    EXPECT_TRUE(has(menu, ",Stamp[S0,S1,")) << menu;
    EXPECT_TRUE(has(menu, ",S98,S99]")) << menu;
    EXPECT_FALSE(has(menu, "S100")) << menu;
    EXPECT_EQ(Utf16ToUtf8(currentStampName), "S99");
    EXPECT_EQ(currentStampBitmap, (std::vector<unsigned char>{0x42, 99}));
    EXPECT_TRUE(has(open(grid(0, 1), 0).menu, ",S99*]"));
    ASSERT_EQ(control->SetStamp(bstr("S101").get()), S_OK);
    EXPECT_EQ(currentStampBitmap, (std::vector<unsigned char>{0x42, 101}));
    EXPECT_EQ(frame().getStampNames().size(), 102u);
}

// What the menu shows at a right click matches what is so: the display toggles as a
// page left them before Init, the separators where the configuration put them; and every
// VOI table, the twelfth included, answers its hotkey.
TEST_F(GridMenu, MenuShowsTheStateAndTheConfigurationAsTheyAre)
{
    control->ShowOverlay(); // off
    control->ShowRuler();   // off
    const std::string items = "<item id=\"10001\" text=\"W\" hotkey=\"\"/><item id=\"0\"/>"
                              "<item id=\"60001\" text=\"Overlay\" hotkey=\"\"/><item id=\"60002\" text=\"Notes\" hotkey=\"\"/>"
                              "<item id=\"0\"/><item id=\"0\"/><item id=\"60003\" text=\"Ruler\" hotkey=\"\"/>"
                              "<item id=\"40013\" text=\"Twelve\" hotkey=\"V\"/><item id=\"40012\" text=\"Eleven\" hotkey=\"U\"/>"
                              "<item id=\"0\"/>";
    ASSERT_EQ(init(config("<maxlayout>4</maxlayout><hangmode>2</hangmode><selectmode>0</selectmode>", items)), S_OK);
    load();
    CJ2KGrid& ramp = grid(0, 1);
    const std::string menu = open(ramp, 0).menu;
    const std::string shown = menu.substr(menu.find(",,") + 1); // after the version and its separator
    EXPECT_EQ(shown.substr(0, shown.find(",Modality")), ",W,,Overlay,Notes*,,,Ruler,Twelve(V),Eleven(U),") << menu;

    // The cell chosen by a click takes the keys.
    click(at(ramp));
    const std::pair<UINT, int> keys[] = {{'V', 12}, {'U', 11}, {'V', 12}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.second);
        platform::AdvanceClock(400);
        key(k.first);
        key(k.first, false);
        EXPECT_EQ(base(ramp).GetVoiLutIndex(), k.second);
    }
}

TEST_F(GridMenu, TrackingAndPlacement)
{
    control->SetWorkingTool(5);
    sink.events.clear();
    // Every monitor lies left of the cell: x comes back to the work area's right edge.
    platform::SetMonitors({{RECT{0, 0, 100, 100}, RECT{0, 0, 100, 90}}});
    const POINT p = at(grid(1, 0), 5, 7);
    move(p);
    answer = 10001;
    grid(1, 0).showContextMenu();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].at.x, 100);
    EXPECT_EQ(shown[0].at.y, p.y);
    EXPECT_EQ(shown[0].tool, 0);
    EXPECT_EQ(shown[0].events, 0u);
    // The tool is back, quietly; the choice is handled once the queue is read.
    EXPECT_EQ(frame().getWorkingTool(), 5);
    EXPECT_TRUE(sink.events.empty());
    pump();
    EXPECT_EQ(sink.take(), Events{"SetWorkingTool(1)"});
}

TEST_F(GridMenu, ViewCommandsPaintAsReferenceRuns)
{
    const std::pair<UINT, std::function<void(CImageBase&)>> runs[] = {
        {50001, [](CImageBase& b) { b.Flip(true, true); }},   {50002, [](CImageBase& b) { b.Flip(false, true); }},
        {50003, [](CImageBase& b) { b.InvertGrey(true); }},   {50005, [](CImageBase& b) { b.Rotate(false, true); }},
        {50006, [](CImageBase& b) { b.Rotate(true, true); }}, {50004, [](CImageBase& b) { b.ResetView(true); }},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.first);
        const Pixels expected = reference(0, 0, [&](CImageBase& b) {
            b.Rotate(true, true); // so that a reset has something to undo
            run.second(b);
        });
        reconfigure();
        CJ2KGrid& ct = grid(0, 0);
        base(ct).Rotate(true, true);
        ct.updateView();
        InvalidateRect(ct.m_hWnd, nullptr, FALSE);
        ASSERT_TRUE(settle());
        EXPECT_NE(pixels(ct.m_hWnd), expected);
        open(ct, run.first);
        ASSERT_TRUE(settle());
        EXPECT_EQ(pixels(ct.m_hWnd), expected);
    }
}

} // namespace
