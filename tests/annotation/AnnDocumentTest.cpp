// Documents, manager and wrapper on stand-in windows: gestures sent as messages, the
// surface they leave, the text-mark editor, text geometry and stored texts.
#include "AnnTestSupport.h"
#include "AnnWindowSupport.h"

#include "annotation/OrbelAnnSquare.h"
#include "annotation/OrbelAnnTextMark.h"
#include "annotation/TransEdit.h"
#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace anntest;

namespace {

class AnnDocumentTest : public AnnWindowTest {};

void CountCall(void* context) { ++*static_cast<int*>(context); }

// A listing without the text boxes' far corners.
std::string WithoutFarCorners(std::string listing)
{
    for (size_t at; (at = listing.find(" imageCorner2.")) != std::string::npos;)
        listing.erase(at, listing.find_first_of(" \n", at + 1) - at);
    return listing;
}

} // namespace

TEST_F(AnnDocumentTest, RulerGestureDrawsOnceAndStores)
{
    HWND h = Window(320, 240);
    UpdateWindow(h);
    int calls = 0;
    OrbelAnnWrapper::SetObjectCreatedCallback(CountCall, &calls);
    OrbelAnnWrapper w;
    w.Attach(h);
    w.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, 0.5, 0.5));
    OrbelAnnWrapper::SetTool(8);
    RECT freeClip;
    GetClipCursor(&freeClip);
    const std::vector<uint8_t> before = Surface(h);

    Gesture(h, POINT{100, 100}, POINT{200, 120});
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(w.IsModified());
    EXPECT_EQ(GetCapture(), nullptr);
    RECT clip;
    GetClipCursor(&clip);
    EXPECT_TRUE(EqualRect(&clip, &freeClip));
    ASSERT_EQ(Doc(w)->container.Count(), 1);
    RECT dirty;
    EXPECT_TRUE(GetUpdateRect(h, &dirty, FALSE));

    // The window shows the ruler once: no exclusive-or trace of the rubber band.
    Canvas expected(320, 240, 0);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint8_t* p = &before[size_t(y * 320 + x) * 4];
            SetPixel(expected.dc, x, y, RGB(p[2], p[1], p[0]));
        }
    w.Draw(expected.dc);
    EXPECT_EQ(Surface(h), expected.Pixels());
    EXPECT_NE(Surface(h), before);

    const std::string text = w.GetAnnotationText();
    EXPECT_EQ(text.size(), 1068u);
    HWND h2 = Window(320, 240);
    OrbelAnnWrapper w2;
    w2.Attach(h2);
    w2.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, 0.5, 0.5));
    EXPECT_TRUE(w2.LoadAnnotationText(text));
    EXPECT_EQ(w2.GetAnnotationText(), text);
}

TEST_F(AnnDocumentTest, EditingRules)
{
    HWND h = Window(320, 240);
    OrbelAnnWrapper w;
    w.Attach(h);
    w.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, 0.5, 0.5));
    COrbelAnnContainer& c = Doc(w)->container;
    OrbelAnnWrapper::SetTool(8);
    Gesture(h, POINT{20, 20}, POINT{120, 20});
    Gesture(h, POINT{20, 150}, POINT{120, 150});
    UpdateWindow(h);
    w.SetModified(false);

    OrbelAnnWrapper::SetTool(1);
    Press(h, 70, 20); // on the first ruler: selects it; release without moving
    Release(h, 70, 20);
    RECT dirty;
    EXPECT_TRUE(w.IsModified());
    EXPECT_TRUE(GetUpdateRect(h, &dirty, FALSE));
    EXPECT_TRUE(c.At(0)->IsSelected() && !c.At(1)->IsSelected());
    Press(h, 300, 100); // empty space: deselects all, creates nothing
    Release(h, 300, 100);
    EXPECT_FALSE(c.At(0)->IsSelected());
    ASSERT_EQ(c.Count(), 2);

    platform::InjectKey(VK_CONTROL, true);
    platform::PumpPending();
    OrbelAnnWrapper::SetTool(8);
    SendMessageW(h, WM_KEYDOWN, 'A', 0);
    EXPECT_FALSE(c.At(0)->IsSelected() || c.At(1)->IsSelected());
    OrbelAnnWrapper::SetTool(1);
    SendMessageW(h, WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(c.At(0)->IsSelected() && c.At(1)->IsSelected());
    platform::InjectKey(VK_CONTROL, false);
    platform::PumpPending();
    w.SetModified(false);
    SendMessageW(h, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(c.Count(), 0);
    EXPECT_TRUE(w.IsModified());

    // An open figure dropped by a tool-1 press is freed (the leak checker watches).
    OrbelAnnWrapper::SetTool(8);
    Press(h, 10, 10);
    Move(h, 60, 60);
    OrbelAnnWrapper::SetTool(1);
    Press(h, 200, 200);
    Release(h, 200, 200);
    EXPECT_EQ(c.Count(), 0);

    // A window destroyed mid-gesture leaves neither capture nor a confined cursor.
    RECT freeClip, clip;
    GetClipCursor(&freeClip);
    HWND h2 = Window(100, 100);
    OrbelAnnWrapper w2;
    w2.Attach(h2);
    OrbelAnnWrapper::SetTool(8);
    Press(h2, 10, 10);
    EXPECT_EQ(GetCapture(), h2);
    DestroyWindow(h2);
    GetClipCursor(&clip);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(EqualRect(&clip, &freeClip));
}

TEST_F(AnnDocumentTest, LoadedIncompleteObjectIsMovedNeverContinued)
{
    COrbelAnnContainer source;
    auto* mark = new COrbelAnnTextMark();
    mark->text.SetText(u"Note");
    mark->text.imageCorner1 = POINT{10, 10};
    mark->text.imageCorner2 = POINT{60, 30};
    source.Add(mark);
    HWND h = Window(320, 240);
    OrbelAnnWrapper w;
    w.Attach(h);
    w.SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, 0.5, 0.5));
    ASSERT_TRUE(w.LoadAnnotationText(Store(source)));
    OrbelAnnWrapper::SetTool(1);
    Gesture(h, POINT{12, 12}, POINT{40, 40});
    OrbelAnnWrapper::SetTool(8);
    Gesture(h, POINT{100, 100}, POINT{200, 100});
    EXPECT_EQ(Doc(w)->container.Count(), 2);
}

TEST_F(AnnDocumentTest, TextMarkCycle)
{
    HWND h = Window(320, 240);
    auto w = std::make_unique<OrbelAnnWrapper>();
    w->Attach(h);
    w->SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, -1, -1));
    COrbelAnnContainer& c = Doc(*w)->container;
    OrbelAnnWrapper::SetTool(7);
    Gesture(h, POINT{50, 50}, POINT{54, 60}); // too small for an editor
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(GetFocus(), nullptr);
    Gesture(h, POINT{50, 50}, POINT{110, 70});
    HWND edit = GetFocus();
    ASSERT_TRUE(edit && GetParent(edit) == h);
    EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_ID), 1001);
    EXPECT_EQ(DWORD(GetWindowLongPtrW(edit, GWL_STYLE)), 0x50021080u);
    EXPECT_EQ(DWORD(GetWindowLongPtrW(edit, GWL_EXSTYLE)), DWORD(WS_EX_STATICEDGE));
    RECT rc;
    GetWindowRect(edit, &rc);
    EXPECT_TRUE(rc.left == 50 && rc.top == 50 && rc.right == 110 && rc.bottom == 70);
    EXPECT_TRUE(OrbelAnnWrapper::IsTextEditing());
    for (char16_t ch : {u'H', u'I'}) {
        platform::InjectKey(ch, true, ch == u'H' ? u'H' : u'i');
        platform::InjectKey(ch, false);
    }
    platform::PumpPending();
    w->SetModified(false);
    OrbelAnnWrapper::SetTool(1);
    Press(h, 250, 200);
    Release(h, 250, 200);
    auto* mark = dynamic_cast<COrbelAnnTextMark*>(c.At(0));
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->text.GetText(), u"Hi");
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_TRUE(w->IsModified());
    EXPECT_FALSE(OrbelAnnWrapper::IsTextEditing());

    const RECT box = mark->text.Normalised();
    const int bw = box.right - box.left, bh = box.bottom - box.top;
    auto reopen = [&] {
        EXPECT_NE(SendMessageW(h, WM_LBUTTONDBLCLK, MK_LBUTTON, At(box.left + 2, box.top + 2)), 0);
        Release(h, box.left + 2, box.top + 2);
        return GetFocus();
    };
    edit = reopen();
    ASSERT_TRUE(edit && edit != h);
    EXPECT_EQ(DWORD(GetWindowLongPtrW(edit, GWL_STYLE)), 0x50020080u);
    GetWindowRect(edit, &rc);
    EXPECT_EQ(rc.right - rc.left, std::max(bw, bh) + 30);
    EXPECT_EQ(rc.bottom - rc.top, std::min(bw, bh) + 30);
    DWORD a = 0, b = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
    EXPECT_TRUE(a == 2 && b == 2);
    w->SetModified(false);
    SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0); // commits, and the committed text is a change
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_TRUE(w->IsModified());
    w->SetModified(false);
    SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0); // nothing open: nothing changes
    EXPECT_FALSE(w->IsModified());

    // Stored with the editor open: pending and editing 0, yet the next press commits.
    edit = reopen();
    const std::string listing = RunScript("decode", w->GetAnnotationText());
    EXPECT_NE(listing.find("COrbelAnnTextMark type=7 complete=0 pending=0 editing=0 done=1"), std::string::npos)
        << listing;
    Press(h, 250, 200);
    Release(h, 250, 200);
    EXPECT_FALSE(IsWindow(edit));

    edit = reopen();
    ASSERT_TRUE(IsWindow(edit));
    w.reset();
    EXPECT_FALSE(IsWindow(edit));
}

TEST_F(AnnDocumentTest, TextGeometry)
{
    AnnViewMapping m;
    m.mirror = 0;
    HWND other = Window(50, 400);
    for (auto [height, font] : {std::pair{100, 6}, {300, 15}, {1000, 20}}) {
        m.window = Window(50, height);
        COrbelAnnText t;
        t.SetGeometry(&m);
        annShared.currentWindow = other;
        EXPECT_EQ(t.FontHeight(), font) << height;
    }

    COrbelAnnText t;
    t.SetGeometry(&m);
    t.SetText(u"Text");
    t.FitToText(100, 100);
    const RECT start = t.viewRect;
    ASSERT_EQ(t.HitTest(101, 101), &t);
    t.DragTo(106, 101);
    EXPECT_EQ(t.viewRect.left, start.left);
    t.DragTo(107, 101);
    EXPECT_EQ(t.viewRect.left, start.left + 6);

    COrbelAnnLabel label;
    label.SetGeometry(&m);
    label.SetText(u"12.00mm");
    label.PlaceAt(10, 10, 200, 200);
    ExpectPoint(label.arrow.shaft.viewStart, label.text.viewRect.right, 10);

    // First drawn upright, then shown a quarter turn on: the text runs down from the
    // box's top-right corner in a font one pixel smaller.
    m.extentX = m.extentY = 200;
    Canvas ours(200, 200, 5), theirs(200, 200, 5);
    const int live = platform::LiveGdiObjects();
    COrbelAnnText q;
    q.SetGeometry(&m);
    q.SetText(u"Turn");
    q.FitToText(20, 30);
    q.Draw(ours.dc);
    m.quarterTurns = 1;
    q.ImageToView();
    q.Draw(ours.dc);
    EXPECT_EQ(platform::LiveGdiObjects(), live);
    COrbelAnnText upright;
    upright.SetGeometry(&m);
    upright.SetText(u"Turn");
    m.quarterTurns = 0;
    upright.FitToText(20, 30);
    upright.Draw(theirs.dc);
    m.quarterTurns = 1;
    const int h = q.FontHeight() - 1;
    const RECT box = q.Normalised();
    HFONT f = CreateFontW(h, 0, -900, 0, 100, 0, 0, 0, DWORD(GetTextCharset(theirs.dc)), 0, 0, 0, 0, u"Arial");
    HGDIOBJ old = SelectObject(theirs.dc, f);
    SetBkMode(theirs.dc, TRANSPARENT);
    for (int shadow : {1, 0}) {
        SetTextColor(theirs.dc, shadow ? 0 : RGB(255, 255, 255));
        TextOutW(theirs.dc, box.right + shadow, box.top + shadow, u"Turn", 4);
    }
    SelectObject(theirs.dc, old);
    DeleteObject(f);
    EXPECT_EQ(ours.Pixels(), theirs.Pixels());
}

TEST_F(AnnDocumentTest, ManagerBindings)
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::GetInstance();
    HWND h1 = Window(200, 200), h2 = Window(200, 200);
    OrbelAnnWrapper a, b;
    EXPECT_EQ(a.GetAnnotationText(), "");
    a.Attach(h1);
    const LONG_PTR proc = GetWindowLongPtrW(h1, GWLP_WNDPROC);
    const size_t docs = mgr->documents.size();
    a.Attach(h1);
    EXPECT_EQ(GetWindowLongPtrW(h1, GWLP_WNDPROC), proc);
    EXPECT_EQ(mgr->documents.size(), docs);
    EXPECT_EQ(a.GetAnnotationText(), "00000000000003f9");

    b.Attach(h1); // rebinds: h1's messages now reach b's document
    OrbelAnnWrapper::SetTool(8);
    Gesture(h1, POINT{10, 10}, POINT{90, 10});
    EXPECT_EQ(Doc(a)->container.Count(), 0);
    EXPECT_EQ(Doc(b)->container.Count(), 1);
    const std::string text = b.GetAnnotationText();
    EXPECT_TRUE(a.LoadAnnotationText(text) && a.LoadAnnotationText(text));
    EXPECT_EQ(Doc(a)->container.Count(), 2);

    // Every window bound to a detached key is cut loose from a later document there.
    auto c = std::make_unique<OrbelAnnWrapper>();
    const void* key = c.get();
    c->Attach(h1);
    c->Attach(h2);
    c.reset();
    HWND h3 = Window(200, 200);
    mgr->Attach(h3, key);
    Gesture(h1, POINT{10, 50}, POINT{90, 50});
    Gesture(h2, POINT{10, 50}, POINT{90, 50});
    EXPECT_EQ(mgr->Document(key)->container.Count(), 0);
    mgr->Detach(key);

    DestroyWindow(h2);
    EXPECT_EQ(mgr->subclassed.count(h2), 0u);
}

TEST_F(AnnDocumentTest, EveryClassRoundTripsAndMalformedTextChangesNothing)
{
    AnnViewMapping m;
    m.quarterTurns = 1;
    m.zoomX = m.zoomY = 2;
    m.extentX = 300;
    m.extentY = 200;
    m.scaleA = m.scaleB = 0.5;
    COrbelAnnContainer c;
    auto put = [&](COrbelAnnObject* o, int x1, int y1, int x2, int y2) {
        o->SetGeometry(&m);
        c.Add(o);
        return Drawn(o, x1, y1, x2, y2);
    };
    put(new COrbelAnnLine(), 5, 6, 70, 8);
    put(new COrbelAnnRectangle(), 9, 8, 40, 60);
    put(new COrbelAnnArrow(), 80, 10, 30, 90);
    put(new COrbelAnnArrowMark(), 1, 2, 3, 4);
    put(new COrbelAnnRuler(), 30, 40, 130, 90);
    put(new COrbelAnnSquare(), 200, 20, 260, 100);
    auto* mark = new COrbelAnnTextMark();
    auto* label = new COrbelAnnLabel();
    put(mark, 10, 300, 13, 303); // no editor: an incomplete mark
    label->SetGeometry(&m);
    c.Add(label);
    mark->text.SetText(u"two words");
    label->SetText(u"\u00b5m");
    label->PlaceAt(50, 50, 20, 20);
    c.SyncCoordinates(true);
    c.ImageToView();
    const std::string text = Store(c);

    const std::string listing = RunScript("decode", text);
    for (const char* field : {"storedTurns=1", "pending=1", "tick2: COrbelAnnLine", "text=two\\x20words",
                              "label: COrbelAnnLabel", "rect: COrbelAnnRectangle"})
        EXPECT_NE(listing.find(field), std::string::npos) << field << "\n" << listing;
    EXPECT_EQ(RunScript("encode", listing), text + "\n");

    COrbelAnnContainer back;
    ASSERT_EQ(Load(text, back), "");
    back.SetGeometry(&m);
    back.ImageToView();
    EXPECT_EQ(Store(back), text);
    // Another view moves the objects, not their image points (a text box's far corner
    // follows its font, which is in view pixels).
    AnnViewMapping m2;
    m2.mirror = 0;
    m2.quarterTurns = 2;
    m2.extentX = 300;
    m2.extentY = 200;
    back.SetGeometry(&m2);
    back.ImageToView();
    EXPECT_EQ(WithoutFarCorners(RunScript("decode", Store(back))), WithoutFarCorners(listing));

    // A malformed text: false, one ERROR record, the document as it was.
    const std::string drive = std::string(ORBEL_BINARY_DIR) + "/ann_doc_log";
    std::filesystem::create_directories(drive);
    setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
    initLogFile(u"C:\\Ann.Log", 1, 1, 0);
    HWND h = Window(200, 200);
    OrbelAnnWrapper w;
    w.Attach(h);
    ASSERT_TRUE(w.LoadAnnotationText(text));
    const std::string loaded = w.GetAnnotationText();
    w.SetModified(false);
    EXPECT_FALSE(w.LoadAnnotationText("00000000000003fz"));
    EXPECT_FALSE(w.LoadAnnotationText("00000000000003f8"));
    EXPECT_TRUE(w.LoadAnnotationText(""));
    closeLogFile();
    initLogFile(nullptr, 0, 1, 1);
    unsetenv("ORBEL_DRIVE_C");
    std::stringstream log;
    log << std::ifstream(drive + "/Ann.Log").rdbuf();
    const std::string records = log.str();
    EXPECT_NE(records.find("character"), std::string::npos) << records;
    EXPECT_NE(records.find("version 1016"), std::string::npos) << records;
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 2) << records;
    EXPECT_EQ(w.GetAnnotationText(), loaded);
    EXPECT_FALSE(w.IsModified());
}

// Last: unloading deletes the manager with the documents it holds.
TEST_F(AnnDocumentTest, ModuleUnloadFreesDocuments)
{
    HWND h = Window(100, 100);
    auto w = std::make_unique<OrbelAnnWrapper>();
    w->Attach(h);
    OrbelAnnWrapper::SetTool(8);
    Gesture(h, POINT{10, 10}, POINT{60, 10});
    ASSERT_TRUE(ModuleLoad());
    ModuleUnload();
    EXPECT_EQ(COrbelAnnMgr::Existing(), nullptr);
    w.reset();
}

// The editor has the focus, so Enter typed there goes to the image window's document,
// which commits with whatever tool drew the mark; a multi-line editor keeps its Enter.
TEST_F(AnnDocumentTest, EnterTypedIntoTheEditorCommits)
{
    HWND h = Window(320, 240);
    auto w = std::make_unique<OrbelAnnWrapper>();
    w->Attach(h);
    w->SetViewGeometry(Geometry(0, 0, 1.0, 320, 240, -1, -1));
    COrbelAnnContainer& c = Doc(*w)->container;
    OrbelAnnWrapper::SetTool(7);
    Gesture(h, POINT{50, 50}, POINT{110, 70});
    HWND edit = GetFocus();
    ASSERT_TRUE(edit && GetParent(edit) == h);
    platform::InjectKey('O', true, u'O');
    platform::InjectKey('O', false);
    platform::InjectKey('K', true, u'k');
    platform::InjectKey('K', false);
    platform::PumpPending();
    w->SetModified(false);
    platform::InjectKey(VK_RETURN, true, u'\r');
    platform::InjectKey(VK_RETURN, false);
    platform::PumpPending();
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_FALSE(OrbelAnnWrapper::IsTextEditing());
    EXPECT_TRUE(w->IsModified());
    auto* mark = dynamic_cast<COrbelAnnTextMark*>(c.At(0));
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->text.GetText(), u"Ok");

    // An edit window that wants its Enter (multi-line with ES_WANTRETURN) keeps it.
    CTransEdit wanted;
    ASSERT_TRUE(wanted.Create(h, RECT{0, 0, 80, 40}, WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN));
    SetFocus(wanted.m_hWnd);
    w->SetModified(false);
    platform::InjectKey('A', true, u'a');
    platform::InjectKey('A', false);
    platform::InjectKey(VK_RETURN, true, u'\r');
    platform::InjectKey(VK_RETURN, false);
    platform::PumpPending();
    EXPECT_EQ(wanted.GetText(), u"a\r\n");
    EXPECT_FALSE(w->IsModified());
    DestroyWindow(wanted.m_hWnd);
}
