// The "EDIT" control: its content is what WM_GETTEXT reads back, so each case checks text
// and selection after messages, and the painted surface.
#include "WindowTestSupport.h"

#include "platform/Gdi.h"

using testsupport::WindowTest;

namespace {

class EditControlTest : public WindowTest {
protected:
    HWND edit(DWORD style = WS_VISIBLE, DWORD ex = 0)
    {
        HWND h = CreateWindowExW(ex, u"EDIT", u"", style, 0, 0, 120, 30, nullptr, nullptr, nullptr, nullptr);
        made_.push_back(h);
        return h;
    }
    static std::u16string text(HWND h)
    {
        char16_t buf[64] = {};
        SendMessageW(h, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buf));
        return buf;
    }
    static std::pair<DWORD, DWORD> sel(HWND h)
    {
        DWORD a = 99, b = 99;
        SendMessageW(h, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
        return {a, b};
    }
    static void type(HWND h, const std::u16string& s)
    {
        for (char16_t c : s)
            SendMessageW(h, WM_CHAR, c, 0);
    }
};

} // namespace

TEST_F(EditControlTest, TypingSelectionAndDeletion)
{
    HWND h = edit();
    type(h, u"abc\rd");
    EXPECT_EQ(text(h), u"abcd"); // a single line takes no carriage return
    EXPECT_EQ(sel(h), std::make_pair(DWORD(4), DWORD(4)));
    SendMessageW(h, EM_SETSEL, 1, 3);
    type(h, u"X");
    EXPECT_EQ(text(h), u"aXd");
    SendMessageW(h, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(text(h), u"ad");
    SendMessageW(h, EM_SETSEL, 0, -1);
    EXPECT_EQ(sel(h), std::make_pair(DWORD(0), DWORD(2)));
    SendMessageW(h, EM_SETSEL, WPARAM(-1), 0);
    EXPECT_EQ(sel(h), std::make_pair(DWORD(2), DWORD(2)));
    SendMessageW(h, EM_SETSEL, 50, 50); // clamped to the end
    SendMessageW(h, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u"yz"));
    EXPECT_EQ(text(h), u"adyz");
    SendMessageW(h, WM_KEYDOWN, VK_HOME, 0);
    SendMessageW(h, WM_KEYDOWN, VK_DELETE, 0);
    SendMessageW(h, WM_KEYDOWN, VK_END, 0);
    SendMessageW(h, WM_KEYDOWN, VK_LEFT, 0);
    type(h, u"-");
    EXPECT_EQ(text(h), u"dy-z");

    // A surrogate pair is one character to the caret and to backspace.
    SetWindowTextW(h, u"a");
    SendMessageW(h, EM_SETSEL, 1, 1);
    type(h, u"\U0001F600b");
    SendMessageW(h, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(sel(h), std::make_pair(DWORD(3), DWORD(3)));
    SendMessageW(h, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(text(h), u"ab");

    char16_t small[3] = {u'#', u'#', u'#'};
    EXPECT_EQ(SendMessageW(h, WM_GETTEXT, 2, reinterpret_cast<LPARAM>(small)), 1);
    EXPECT_EQ(std::u16string(small, 3), std::u16string(u"a\0#", 3));
}

TEST_F(EditControlTest, MultilineWithWantReturnKeepsLines)
{
    HWND h = edit(WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN);
    type(h, u"a\rb");
    EXPECT_EQ(text(h), u"a\r\nb");
}

TEST_F(EditControlTest, PaintsWhiteBoxGreyEdgeAndBlackText)
{
    HWND h = edit(WS_VISIBLE | WS_POPUP, WS_EX_STATICEDGE);
    SetWindowTextW(h, u"WWW");
    UpdateWindow(h);
    const platform::SurfaceView s = platform::SurfaceOf(h);
    ASSERT_TRUE(s.pixels);
    auto px = [&](int x, int y) {
        const uint8_t* p = s.pixels + y * s.stride + x * 4;
        return RGB(p[2], p[1], p[0]);
    };
    EXPECT_EQ(px(0, 0), RGB(128, 128, 128));
    EXPECT_EQ(px(119, 29), RGB(128, 128, 128));
    EXPECT_EQ(px(110, 25), RGB(255, 255, 255));
    int dark = 0;
    for (int y = 1; y < 29; ++y)
        for (int x = 1; x < 60; ++x)
            dark += px(x, y) == 0;
    EXPECT_GT(dark, 10);
}
