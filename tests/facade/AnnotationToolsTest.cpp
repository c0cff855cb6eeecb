// Annotation tools chosen through the control and used on a shown grid: each working tool
// draws its own kind of object into the image's annotations (read back by tools/ann_text.py),
// and an open text editor gets every key but the tab from the control's key pre-translation.
#include "tests/facade/ContainerPump.h"

#include "annotation/OrbelAnnWrapper.h"
#include "platform/Win32.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace inputtest;

namespace {

// An annotation text as ann_text.py lists it: one line per object and member.
std::string decoded(const std::string& text)
{
    const std::string path = std::string(ORBEL_BINARY_DIR) + "/ann_tools_" + std::to_string(getpid()) + ".in";
    std::ofstream(path) << text;
    const std::string cmd =
        OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tools/ann_text.py") + " decode < '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    for (char buf[4096]; p && fgets(buf, sizeof buf, p);)
        out += buf;
    if (p)
        pclose(p);
    std::remove(path.c_str());
    return out;
}

// The top-level class names of an annotation text, in order.
std::vector<std::string> classesOf(const std::string& text)
{
    std::vector<std::string> classes;
    std::istringstream lines(decoded(text));
    std::string line;
    std::getline(lines, line);  // the container's own line
    while (std::getline(lines, line))
        if (!line.empty() && line[0] != ' ')
            classes.push_back(line.substr(0, line.find(' ')));
    return classes;
}

// A stamp document whose item "OK" is a 2 x 2 24-bit BMP (rows padded to 8 bytes).
std::string stampDocument()
{
    const std::string bmp = "424d46000000000000003600000028000000020000000200000001"
                            "001800000000001000000000000000000000000000000000000000"
                            "0000ff00ff000000ff0000ffffff0000";
    return "<root><stamps><item name=\"OK\" data=\"" + bmp + "\"/></stamps></root>";
}

class AnnotationTools : public ContainerPump {
protected:
    void SetUp() override
    {
        ContainerPump::SetUp();
        if (setUpStopped())
            return;
        // Cells large enough for the gestures' points.
        stop();
        platform::ResetInput();
        start(640, 480);
        initControl();
        load();
    }
    // The point (x, y) of grid g's client area on the screen.
    POINT in(CJ2KGrid& g, int x, int y)
    {
        RECT r;
        GetWindowRect(g.m_hWnd, &r);
        return POINT{r.left + x, r.top + y};
    }
    void drag(POINT from, POINT to)
    {
        move(from);
        button(true);
        move(POINT{(from.x + to.x) / 2, (from.y + to.y) / 2});
        move(to);
        button(false);
    }
    std::vector<std::string> drawn(CJ2KGrid& g) { return classesOf(g.getImage()->getAnnWrapper().GetAnnotationText()); }
    // Offers one key message to the control as the container does; true when consumed.
    bool consumed(UINT vk)
    {
        platform::AdvanceClock(400);  // never a repeat of the key before
        MSG msg = {};
        msg.hwnd = GetFocus();
        msg.message = WM_KEYDOWN;
        msg.wParam = vk;
        msg.time = GetTickCount();
        return control->TranslateAccelerator(&msg) == S_OK;
    }
};

} // namespace

// Working tools 16, 14, 17 and 18 draw a ruler, a protractor, a Cobb angle and a stamp;
// after each new object the grid hands the pointer (11) back.
TEST_F(AnnotationTools, EachWorkingToolDrawsItsObject)
{
    CJ2KGrid& g = grid(0, 0);
    struct Gesture {
        int tool;
        std::vector<POINT> clicks;  // two points of a drag when drag is set
        bool drag;
        const char* drawn;
    };
    const Gesture gestures[] = {
        {16, {{40, 40}, {120, 40}}, true, "COrbelAnnRuler"},
        {14, {{40, 200}, {120, 200}, {60, 140}}, false, "COrbelAnnProtractor"},
        // Two lines and a perpendicular onto each, crossing: the case at half size.
        {17, {{50, 150}, {150, 150}, {100, 75}, {50, 50}, {136, 100}, {90, 131}}, false, "COrbelAnnCobbAngle"},
        {18, {{200, 20}}, false, "COrbelAnnStamp"},
    };
    ASSERT_EQ(control->ConfigStamp(bstr(stampDocument()).get()), S_OK);
    ASSERT_EQ(control->SetStamp(bstr("OK").get()), S_OK);
    std::vector<std::string> want;
    for (const Gesture& c : gestures) {
        SCOPED_TRACE(c.drawn);
        ASSERT_EQ(control->SetWorkingTool(c.tool), S_OK);
        sink.events.clear();
        if (c.drag)
            drag(in(g, c.clicks[0].x, c.clicks[0].y), in(g, c.clicks[1].x, c.clicks[1].y));
        else
            for (POINT p : c.clicks)
                click(in(g, p.x, p.y));
        want.push_back(c.drawn);
        EXPECT_EQ(drawn(g), want);
        EXPECT_EQ(frame().getWorkingTool(), 11);
        EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "SetWorkingTool(11)"), 1);
    }
    // The pointer draws nothing.
    drag(in(g, 200, 200), in(g, 260, 220));
    EXPECT_EQ(drawn(g), want);
}

TEST_F(AnnotationTools, AnOpenEditorTakesEveryKeyButTheTab)
{
    CJ2KGrid& g = grid(0, 0);
    ASSERT_EQ(control->SetWorkingTool(15), S_OK);  // the text mark
    drag(in(g, 40, 40), in(g, 100, 60));
    ASSERT_TRUE(OrbelAnnWrapper::IsTextEditing());
    HWND editor = GetFocus();
    ASSERT_NE(editor, g.m_hWnd);
    spy(g.m_hWnd);
    EXPECT_TRUE(consumed(VK_TAB));
    EXPECT_FALSE(consumed('H'));
    EXPECT_FALSE(consumed(VK_NEXT));  // no paging while typing
    EXPECT_FALSE(consumed(VK_NEXT));  // nor swallowed as a repeat
    // Typed through the container's pump, the key reaches the editor, not the grid.
    platform::AdvanceClock(400);
    platform::InjectKey('H', true, u'H');
    pump();
    platform::InjectKey('H', false);
    pump();
    char16_t text[8] = {};
    GetWindowTextW(editor, text, 8);
    EXPECT_EQ(std::u16string(text), u"H");
    EXPECT_TRUE(seen(g).empty());
    // Committed by a press elsewhere with the pointer, the keys go to the grid again.
    ASSERT_EQ(control->SetWorkingTool(11), S_OK);
    click(in(g, 200, 200));
    EXPECT_FALSE(OrbelAnnWrapper::IsTextEditing());
    EXPECT_TRUE(consumed('H'));
}

// A text typed into a new text mark and ended with Enter, all as injected keys, is a change
// the next status document carries.
TEST_F(AnnotationTools, EnterCommitsTheTypedTextIntoTheNextStatus)
{
    CJ2KGrid& g = grid(0, 0);
    ASSERT_EQ(control->SetWorkingTool(15), S_OK);  // the text mark
    drag(in(g, 40, 40), in(g, 100, 60));
    ASSERT_TRUE(OrbelAnnWrapper::IsTextEditing());
    platform::BStr first;
    ASSERT_EQ(control->GetImageStatus(first.out()), S_OK);  // the new mark, reported once
    sink.events.clear();
    auto type = [&](UINT vk, char16_t ch) {
        platform::AdvanceClock(400);
        platform::InjectKey(vk, true, ch);
        pump();
        platform::InjectKey(vk, false);
        pump();
    };
    type('H', u'H');
    type('I', u'i');
    type(VK_RETURN, u'\r');
    EXPECT_FALSE(OrbelAnnWrapper::IsTextEditing());

    platform::BStr status;
    ASSERT_EQ(control->GetImageStatus(status.out()), S_OK);
    EXPECT_EQ(sink.take(), Events{"ImageStatusModified(1)"});
    const std::string text = Utf16ToUtf8(std::u16string(status.get(), SysStringLen(status.get())));
    const size_t at = text.find("Annotation=\"");
    ASSERT_NE(at, std::string::npos) << text;
    const size_t from = at + 12;
    const std::string listing = decoded(text.substr(from, text.find('"', from) - from));
    EXPECT_NE(listing.find("COrbelAnnTextMark"), std::string::npos) << listing;
    EXPECT_NE(listing.find("text=Hi"), std::string::npos) << listing;
    // Reported once: the next status carries no annotation.
    platform::BStr again;
    ASSERT_EQ(control->GetImageStatus(again.out()), S_OK);
    const std::string next = Utf16ToUtf8(std::u16string(again.get(), SysStringLen(again.get())));
    EXPECT_EQ(next.find("Annotation="), std::string::npos) << next;
}
