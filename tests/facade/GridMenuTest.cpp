// The grid's context menu and commands, through a control in place showing menu_fixture.py's
// images from the loopback JPIP server: what the menu shows, what each choice does.
#include "facade/OrbelViewer.h"
#include "facade/OrbelViewerIds.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "annotation/CurrentStamp.h"
#include "image/ImageBase.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"
#include "tests/support/JpipTestServer.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

using Bytes = std::vector<unsigned char>;
using Pixels = std::vector<uint32_t>;

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

// Events as "DISPID(value)": 1 tool, 3 select mode, 4 fit type, 10 to 12 the toggles.
struct Sink : IDispatch {
    std::vector<std::string> events;
    HRESULT QueryInterface(REFIID, void** ppv) override { return *ppv = this, S_OK; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        const VARIANT& v = p->rgvarg[0];
        events.push_back(std::to_string(id) + "(" + std::to_string(v.vt == VT_BOOL ? v.boolVal : v.lVal) + ")");
        return S_OK;
    }
};

LRESULT CALLBACK parentProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

HRESULT call(HRESULT (COrbelViewer::*method)(BSTR), COrbelViewer* c, const std::string& text)
{
    return (c->*method)(platform::BStr(Utf8ToUtf16(text)).get());
}

class GridMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder per test: CTest runs the tests side by side.
        data = (std::filesystem::temp_directory_path() / "orbel-menu-XXXXXX").string();
        ASSERT_NE(mkdtemp(data.data()), nullptr);
        setenv("ORBEL_DRIVE_C", data.c_str(), 1);
        setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
        // Clicks 600 ms apart never pair into double clicks; waits move the clock on.
        platform::SetManualClock(100000);
        const std::string fixture = ORBEL_SOURCE_DIR "/tests/facade/menu_fixture.py";
        ASSERT_EQ(std::system((OrbelTest::pythonCommand(fixture) + " '" + data + "'").c_str()), 0);
        server = std::make_unique<OrbelTest::JpipTestServer>(data);
        std::stringstream text;
        text << std::ifstream(data + "/pssi.xml").rdbuf();
        std::string pssi = text.str();
        for (size_t at; (at = pssi.find("@BASE@")) != std::string::npos;)
            pssi.replace(at, 6, server->imageTarget(""));

        ASSERT_TRUE(ModuleLoad());
        ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(disp.out())), S_OK);
        control = static_cast<COrbelViewer*>(disp.get());
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = parentProc;
        wc.lpszClassName = u"GridMenuParent";
        RegisterClassExW(&wc);
        parent = CreateWindowExW(0, wc.lpszClassName, u"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
        const RECT r = {0, 0, 400, 300};
        ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent, &r), S_OK);
        platform::ComPtr<IConnectionPoint> cp;
        DWORD cookie = 0;
        ASSERT_EQ(control->FindConnectionPoint(DIID__IOrbelViewerEvents, cp.out()), S_OK);
        ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
        std::stringstream config;
        config << std::ifstream(data + "/config.xml").rdbuf();
        ASSERT_EQ(call(&COrbelViewer::Init, control, config.str()), S_OK);
        ASSERT_EQ(call(&COrbelViewer::ConfigStamp, control, stamps("A", "B")), S_OK);
        ASSERT_EQ(call(&COrbelViewer::LoadData, control, pssi), S_OK);
        idle();
        platform::SetMenuChooser([this](HMENU menu, int x, int y, HWND) {
            shown.push_back({menuText(menu), POINT{x, y}, control->getFrame()->getWorkingTool(), sink.events.size()});
            return answer;
        });
        sink.events.clear();
    }
    void TearDown() override
    {
        platform::SetMenuChooser(nullptr);
        platform::SetMonitors({});
        disp.reset();
        DestroyWindow(parent);
        platform::PumpPending();
        ModuleUnload();
        server.reset();
        platform::UseRealClock();
        std::error_code ec;
        std::filesystem::remove_all(data, ec);
    }
    // Two stamps, with a nameless item between them.
    static std::string stamps(const std::string& a, const std::string& b)
    {
        return "<root><stamps><item name=\"" + a + "\" data=\"424d01\"/><item/><item name=\"" + b +
               "\" data=\"424d02\"/></stamps></root>";
    }
    // Pumps, moving the clock on while nothing comes, until done() holds; false after 60 s.
    static bool until(const std::function<bool()>& done)
    {
        for (int i = 0; i < 1200; ++i) {
            if (platform::PumpUntil([&] { return platform::PumpPending(), done(); }, 50))
                return true;
            platform::AdvanceClock(100);
        }
        return false;
    }
    // Every image is open and presented, and no loader request or decoding is under way.
    void idle()
    {
        ASSERT_TRUE(until([this] {
            for (const auto& s : control->getFrame()->getSubFrames())
                for (const auto& g : s->getGrids())
                    if (!g->getTarget().empty() && (!g->getImage() || !g->getImage()->isOpened() ||
                                                    !g->getImage()->isPresented() || g->getAnimationTimer()))
                        return false;
            return !platform::ThreadHasPendingMessages();
        }));
    }
    // The grid whose target ends in name; "" the empty cell.
    CJ2KGrid& grid(const std::string& name)
    {
        for (const auto& s : control->getFrame()->getSubFrames()) {
            const std::string& t = s->getGrids().at(0)->getTarget();
            const size_t n = name.size();
            if (name.empty() ? t.empty() : t.size() > n && t.compare(t.size() - n, n, name) == 0)
                return *s->getGrids()[0];
        }
        throw std::runtime_error("no grid shows " + name);
    }
    CImageBase& base(const std::string& name) { return grid(name).getImage()->getImageBase(); }
    // A right click in the grid, the chooser answering choice; the command is handled too.
    const Shown& open(CJ2KGrid& g, UINT choice)
    {
        RECT r;
        GetWindowRect(g.m_hWnd, &r);
        platform::InjectMouseMove((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        answer = choice;
        const size_t before = shown.size();
        platform::PumpPending();
        platform::AdvanceClock(600);
        for (bool down : {true, false}) {
            platform::InjectButton(platform::MouseButton::Right, down);
            platform::PumpPending();
        }
        platform::PumpPending();
        if (shown.size() == before) // while the right release does not open it
            g.showContextMenu();
        platform::PumpPending();
        EXPECT_EQ(shown.size(), before + 1);
        return shown.back();
    }
    void send(CJ2KGrid& g, UINT id) { SendMessageW(g.m_hWnd, WM_COMMAND, id, 0); }
    bool checked(UINT id)
    {
        const UINT state = GetMenuState(control->getFrame()->getPopupMenu(), id, MF_BYCOMMAND);
        return state != ~0u && (state & MF_CHECKED);
    }
    Pixels cell(CJ2KGrid& g)
    {
        RECT r;
        GetWindowRect(g.m_hWnd, &r);
        const platform::SurfaceView s = platform::SurfaceOf(parent);
        Pixels out;
        for (int y = r.top + 2; y < r.bottom - 2; ++y) // inside the border
            out.insert(out.end(), reinterpret_cast<const uint32_t*>(s.pixels + y * s.stride) + r.left + 2,
                       reinterpret_cast<const uint32_t*>(s.pixels + y * s.stride) + r.right - 2);
        return out;
    }

    std::string data;
    std::unique_ptr<OrbelTest::JpipTestServer> server;
    Sink sink;
    platform::ComPtr<IDispatch> disp;
    COrbelViewer* control = nullptr;
    HWND parent = nullptr;
    UINT answer = 0;
    std::vector<Shown> shown;
};

TEST_F(GridMenu, CommandTable)
{
    control->ShowOverlay(); // off, so the first toggle turns it on
    sink.events.clear();
    struct Case {
        UINT id;
        const char* events;
        int tool;
        UINT mark;    // the checked item of the id's group; 0: the id's own check is off
        int selected; // selected grids, -1 not looked at
    } cases[] = {
        {10001, "1(1)", 1, 10001, -1},   {10009, "1(9)", 9, 10009, -1},   {10011, "1(11)", 11, 10011, -1},
        {10016, "1(16)", 16, 10016, -1}, {10017, "1(17)", 17, 10017, -1}, // marked by the frame's wider group
        {10018, "", 17, 10017, -1},      {10000, "1(0)", 0, 10000, -1},   {20001, "3(0)", 0, 20001, 1},
        {20002, "3(1)", 0, 20002, 4},    {20004, "3(3)", 0, 20004, 1},    {30001, "4(3)", 0, 30001, -1},
        {30002, "4(4)", 0, 30002, -1},   {30003, "4(2)", 0, 30003, -1},   {30004, "4(1)", 0, 30004, -1},
        {60001, "12(1)", 0, 60001, -1},  {60001, "12(0)", 0, 0, -1},      {60002, "11(0)", 0, 0, -1},
        {60003, "10(0)", 0, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        if (c.id == 10018)
            send(grid("ramp"), c.id); // as its hotkey does: the item is greyed
        else
            open(grid("ramp"), c.id);
        EXPECT_EQ(sink.events, std::vector<std::string>(*c.events ? 1 : 0, c.events));
        sink.events.clear();
        EXPECT_EQ(control->getFrame()->getWorkingTool(), c.tool);
        EXPECT_EQ(checked(c.mark ? c.mark : c.id), c.mark != 0);
        const UINT first = c.id < 20000 ? 10000 : c.id < 30000 ? 20001 : 30001;
        const UINT last = c.id < 20000 ? 10018 : c.id < 30000 ? 20005 : c.id < 40000 ? 30004 : 0;
        for (UINT other = first; other <= last; ++other)
            EXPECT_EQ(checked(other), other == c.mark) << other;
        int selected = 0;
        for (const auto& s : control->getFrame()->getSubFrames())
            selected += s->getGrids()[0]->isSelected();
        EXPECT_TRUE(c.selected < 0 || selected == c.selected) << selected;
    }
}

TEST_F(GridMenu, ImageItemsFollowTheClickedImage)
{
    const std::string empty = open(grid(""), 0).menu;
    EXPECT_FALSE(has(empty, "VOI LUT") || has(empty, "Modality LUT"));
    ASSERT_TRUE(has(empty, ",Stamp(CTRL+T)~,"));
    // The stamp popup takes the command's place, enabled; the image's items come last.
    std::string expected = empty;
    expected.replace(expected.find("Stamp(CTRL+T)~"), 14, "Stamp[A,B]");
    EXPECT_EQ(open(grid("ramp"), 0).menu, expected + ",Modality LUT*,VOI LUT[None*,1,2,3,4,5,6,7,8,9,10,11,12]");

    // Tables 1 to 10 by 40002 to 40011, each marked at the next click; 11 and 12 only listed.
    for (int table = 1; table <= 12; ++table) {
        SCOPED_TRACE(table);
        const std::string marked = table == 1 ? "[None*" : "," + std::to_string(std::min(table - 1, 10)) + "*";
        EXPECT_TRUE(has(open(grid("ramp"), 40001 + UINT(table)).menu, marked));
        EXPECT_EQ(base("ramp").GetVoiLutIndex(), std::min(table, 10));
    }
    // The CT lists its own two tables; one it lacks selects nothing and adds none.
    const std::string ct = open(grid("ct"), 20001).menu;
    EXPECT_TRUE(has(ct, "VOI LUT[None*,1,2]"));
    EXPECT_FALSE(has(ct, "Modality LUT"));
    send(grid("ct"), 40004);
    EXPECT_EQ(base("ct").GetVoiLutIndex(), 0);
    EXPECT_EQ(base("ct").GetVoiLuts().size(), 2u);
    // Paged to an image with three tables, the same cell lists three.
    control->TurnSubLayoutPage(VARIANT_FALSE);
    idle();
    EXPECT_TRUE(has(open(grid("ctb"), 0).menu, "VOI LUT[None*,1,2,3]"));

    open(grid("ramp"), 40000);
    EXPECT_FALSE(base("ramp").IsModalityLutEnabled());
    EXPECT_TRUE(has(open(grid("ramp"), 40000).menu, "Modality LUT,"));
    EXPECT_TRUE(base("ramp").IsModalityLutEnabled());
    // Back on the empty cell, the ramp's items are gone.
    const std::string again = open(grid(""), 0).menu;
    EXPECT_FALSE(has(again, "VOI LUT") || has(again, "Modality LUT"));
}

TEST_F(GridMenu, StampCommands)
{
    send(grid(""), 10019); // no image: nothing
    open(grid("ramp"), 10019);
    EXPECT_EQ(sink.events, std::vector<std::string>{"1(18)"});
    EXPECT_EQ(currentStampBitmap, (Bytes{0x42, 0x4d, 0x01}));
    open(grid("ramp"), 10021);
    EXPECT_EQ(currentStampBitmap, (Bytes{0x42, 0x4d, 0x02}));
    // The nameless item's id is looked up, not added; the stamp data stays.
    send(grid("ramp"), 10020);
    EXPECT_EQ(control->getFrame()->getStampNames().size(), 2u);
    EXPECT_EQ(currentStampBitmap, (Bytes{0x42, 0x4d, 0x02}));
    // Stamps configured after the submenu was built show at the next click.
    ASSERT_EQ(call(&COrbelViewer::ConfigStamp, control, stamps("C", "D")), S_OK);
    EXPECT_TRUE(has(open(grid("ct"), 0).menu, ",Stamp[C,D],"));
}

TEST_F(GridMenu, TrackingAndPlacement)
{
    control->SetWorkingTool(5);
    sink.events.clear();
    // Every monitor lies left of the cell: x comes back to the work area's right edge.
    platform::SetMonitors({{RECT{0, 0, 100, 100}, RECT{0, 0, 100, 90}}});
    RECT r;
    GetWindowRect(grid("ramp").m_hWnd, &r);
    platform::InjectMouseMove(r.left + 5, r.top + 7);
    platform::PumpPending();
    answer = 10001;
    grid("ramp").showContextMenu();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].at.x, 100);
    EXPECT_EQ(shown[0].at.y, r.top + 7);
    EXPECT_EQ(shown[0].tool, 0);
    EXPECT_EQ(shown[0].events, 0u);
    // The tool is back, quietly; the choice is handled once the queue is read.
    EXPECT_EQ(control->getFrame()->getWorkingTool(), 5);
    EXPECT_TRUE(sink.events.empty());
    platform::PumpPending();
    EXPECT_EQ(sink.events, std::vector<std::string>{"1(1)"});
}

TEST_F(GridMenu, ViewCommandsPaintAsReferenceRuns)
{
    // Both cells decode on their own: wait until they paint alike, and unlike before.
    auto settled = [this](const Pixels& before) {
        return until([&] {
            const Pixels a = cell(grid("ramp"));
            return a != before && a == cell(grid("ramq"));
        });
    };
    open(grid("ramp"), 20001); // select mode 0: the ramp alone
    ASSERT_FALSE(grid("ramq").isSelected());
    ASSERT_TRUE(settled(Pixels(cell(grid("ramp")).size(), 0)));
    const std::pair<UINT, std::function<void(CImageBase&)>> runs[] = {
        {50001, [](CImageBase& b) { b.Flip(true, true); }},   {50002, [](CImageBase& b) { b.Flip(false, true); }},
        {50003, [](CImageBase& b) { b.InvertGrey(true); }},   {50005, [](CImageBase& b) { b.Rotate(false, true); }},
        {50006, [](CImageBase& b) { b.Rotate(true, true); }}, {50004, [](CImageBase& b) { b.ResetView(true); }},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.first);
        const Pixels before = cell(grid("ramp"));
        open(grid("ramp"), run.first);
        run.second(base("ramq"));
        grid("ramq").updateView();
        InvalidateRect(grid("ramq").m_hWnd, nullptr, FALSE);
        ASSERT_TRUE(settled(before));
    }
}

} // namespace
