// Every method of the control with an argument inside and one outside its range: the bad
// one is answered E_INVALIDARG (or the failure the method always had), logged under the
// method's name, and changes nothing a page or a later call could see.
#include "tests/facade/ViewerHarness.h"

#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/StartupValues.h"
#include "annotation/CurrentStamp.h"

using namespace viewertest;

namespace {

const char kStamps[] = "<root><stamps><item name=\"A\" data=\"424d01\"/><item name=\"B\" data=\"424d02\"/>"
                       "</stamps></root>";
const char kStudy[] = "<Patient><Study hanging=\"True\"><StudyUID>1.1.9</StudyUID><Series hanging=\"True\">"
                      "<SeriesUID>1.1.9.1</SeriesUID><Image hanging=\"True\"><ImageUID>1.1.9.1.1</ImageUID>"
                      "</Image></Series></Study></Patient>";

std::string printed(const TiXmlNode* node)
{
    TiXmlPrinter printer;
    if (node)
        node->Accept(&printer);
    return printer.CStr();
}

class ViewerArguments : public ViewerTest {
protected:
    // Init, stamps, annotation server and a document of four images, events dropped.
    void ready()
    {
        ASSERT_EQ(init(config("<hangmode>1</hangmode><maxlayout>4</maxlayout>")), S_OK);
        ASSERT_EQ(control->ConfigStamp(bstr(kStamps).get()), S_OK);
        ASSERT_EQ(control->SetAnnotationServerAddress(bstr("http://127.0.0.1:1/annotation").get()), S_OK);
        ASSERT_EQ(loadData(makePssi(images(4))), S_OK);
        sink.take();
    }
    // What a page or a later call could see of the control's state.
    std::string state()
    {
        std::ostringstream out;
        out << g_hangingMode << ' ' << g_selectMode << ' ' << g_workingSetMode << ' ' << g_linkFlag << ' '
            << g_showOverlay << g_showAnnotation << g_showRuler << " layout";
        for (const auto& e : GetLayoutMap())
            out << ' ' << e.first << ':' << e.second.first << 'x' << e.second.second;
        out << " max";
        for (const auto& e : GetMaxLayoutMap())
            out << ' ' << e.first << ':' << e.second.first << 'x' << e.second.second;
        out << " stamp " << Utf16ToUtf8(currentStampName);
        if (control->getFrame()) {
            CJ2KFrame& f = frame();
            out << " tool " << f.getWorkingTool() << " window " << f.m_hWnd << " cells " << f.getSubFrames().size()
                << " page " << f.getCurrentPage() << '/' << f.getTotalPages() << " server "
                << f.getAnnotationLoader()->getServerAddress() << " roots " << dao().getWorkingRootCount()
                << " stamps " << f.getStampNames().size() << '\n'
                << printed(dao().getRootElement());
            for (const auto& s : f.getSubFrames())
                out << ' ' << s->isSelected() << s->getSubRows() << s->getSubColumns();
        }
        return out.str();
    }
};

} // namespace

TEST_F(ViewerArguments, EveryMethodRefusesWhatIsOutOfRange)
{
    using Call = std::function<HRESULT()>;
    auto s = [](const char* text) { return bstr(text); };
    const struct {
        const char* method;
        std::vector<std::pair<const char*, Call>> bad; // (the value, the call)
        HRESULT badHr;
        Call good;
        HRESULT goodHr;
    } cases[] = {
        {"SetHangingMode",
         {{"42", [&] { return control->SetHangingMode(42); }},
          {"-1", [&] { return control->SetHangingMode(-1); }},
          {"0 (the document has no frames)", [&] { return control->SetHangingMode(0); }}},
         E_INVALIDARG, [&] { return control->SetHangingMode(2); }, S_OK},
        {"SetLayout",
         {{"0 x 2", [&] { return control->SetLayout(0, 2); }},
          {"17 x 1", [&] { return control->SetLayout(17, 1); }},
          {"2 x -1", [&] { return control->SetLayout(2, -1); }}},
         E_INVALIDARG, [&] { return control->SetLayout(16, 1); }, S_OK},
        {"SetSubLayout",
         {{"0 x 1", [&] { return control->SetSubLayout(0, 1); }},
          {"1 x 17", [&] { return control->SetSubLayout(1, 17); }}},
         E_INVALIDARG, [&] { return control->SetSubLayout(2, 1); }, S_OK},
        {"SetWorkingRoot",
         {{"unknown study", [&] { return workingRoot("1.1", "9.9", "", ""); }},
          {"study after an empty patient", [&] { return workingRoot("", "1.1.1", "", ""); }}},
         E_INVALIDARG, [&] { return workingRoot("1.1", "", "", ""); }, S_OK},
        {"SetWorkingTool",
         {{"999", [&] { return control->SetWorkingTool(999); }},
          {"-5", [&] { return control->SetWorkingTool(-5); }},
          {"19", [&] { return control->SetWorkingTool(19); }}},
         E_INVALIDARG, [&] { return control->SetWorkingTool(18); }, S_OK},
        {"SetAnnTool",
         {{"-1", [&] { return control->SetAnnTool(-1); }}, {"19", [&] { return control->SetAnnTool(19); }}},
         E_INVALIDARG, [&] { return control->SetAnnTool(0); }, S_OK},
        {"SetSelectMode",
         {{"9", [&] { return control->SetSelectMode(9); }}, {"-1", [&] { return control->SetSelectMode(-1); }}},
         E_INVALIDARG, [&] { return control->SetSelectMode(4); }, S_OK},
        {"SetWorkingSetMode",
         {{"2", [&] { return control->SetWorkingSetMode(2); }},
          {"-1", [&] { return control->SetWorkingSetMode(-1); }}},
         E_INVALIDARG, [&] { return control->SetWorkingSetMode(1); }, S_OK},
        {"SetFitType",
         {{"0", [&] { return control->SetFitType(0); }}, {"5", [&] { return control->SetFitType(5); }}},
         E_INVALIDARG, [&] { return control->SetFitType(4); }, S_OK},
        {"InsertStudy",
         {{"not XML", [&] { return control->InsertStudy(s("1.1").get(), s("").get(), s("1.1.1").get(),
                                                        s("<Patient><Study>").get()); }},
          {"no patient", [&] { return control->InsertStudy(s("1.1").get(), s("").get(), s("1.1.1").get(),
                                                           s("<Study><StudyUID>9</StudyUID></Study>").get()); }}},
         E_INVALIDARG,
         [&] { return control->InsertStudy(s("1.1").get(), s("").get(), s("1.1.1").get(), s(kStudy).get()); }, S_OK},
        {"UpdateOverlayConfig",
         {{"not XML", [&] { return control->UpdateOverlayConfig(s("<Root><overlay>").get()); }},
          {"no overlay", [&] { return control->UpdateOverlayConfig(s("<Root><modality name=\"CT\"/></Root>").get()); }}},
         E_INVALIDARG,
         [&] { return control->UpdateOverlayConfig(s("<Root><overlay><modality name=\"CT\"/></overlay></Root>").get()); },
         S_OK},
        {"SetStamp",
         {{"unknown name", [&] { return control->SetStamp(s("C").get()); }},
          {"empty name", [&] { return control->SetStamp(s("").get()); }}},
         E_INVALIDARG, [&] { return control->SetStamp(s("B").get()); }, S_OK},
        {"SetAnnotationServerAddress",
         {{"ftp", [&] { return control->SetAnnotationServerAddress(s("ftp://127.0.0.1/a").get()); }},
          {"blank inside", [&] { return control->SetAnnotationServerAddress(s("http://a b/").get()); }},
          {"no scheme", [&] { return control->SetAnnotationServerAddress(s("annotation").get()); }}},
         E_INVALIDARG, [&] { return control->SetAnnotationServerAddress(s("HTTPS://127.0.0.1:2/a").get()); }, S_OK},
        {"SetMaxLayout0",
         {{"-1", [&] { return control->SetMaxLayout0(-1, 0); }}, {"17", [&] { return control->SetMaxLayout0(3, 17); }}},
         E_INVALIDARG, [&] { return control->SetMaxLayout0(3, 3); }, S_OK},
        {"SetMaxLayout1",
         {{"-2", [&] { return control->SetMaxLayout1(1, -2); }}}, E_INVALIDARG,
         [&] { return control->SetMaxLayout1(0, 0); }, S_OK},
        // Failures these methods always reported keep their result, and now change nothing.
        {"LoadData", {{"not XML", [&] { return loadData("<Root><Patient>"); }}}, S_FALSE,
         [&] { return loadData(makePssi(images(2))); }, S_OK},
        {"GetImageStatus", {{"null", [&] { return control->GetImageStatus(nullptr); }}}, E_POINTER,
         [&] {
             platform::BStr out;
             return control->GetImageStatus(out.out());
         },
         S_OK},
        // Arguments every value of is good (booleans are tested for non-zero).
        {"TurnLayoutPage", {}, S_OK, [&] { return control->TurnLayoutPage(VARIANT_TRUE); }, S_FALSE},
        {"TurnSubLayoutPage", {}, S_OK, [&] { return control->TurnSubLayoutPage(2); }, S_FALSE},
        {"Flip", {}, S_OK, [&] { return control->Flip(7); }, S_OK},
        {"Rotate", {}, S_OK, [&] { return control->Rotate(VARIANT_FALSE); }, S_OK},
        {"SetLink", {}, S_OK, [&] { return control->SetLink(-3); }, S_OK},
        {"InvertWidthLevel", {}, S_OK, [&] { return control->InvertWidthLevel(); }, S_OK},
        {"Reset", {}, S_OK, [&] { return control->Reset(); }, S_OK},
        {"ShowOverlay", {}, S_OK, [&] { return control->ShowOverlay(); }, S_OK},
        {"ShowAnnotation", {}, S_OK, [&] { return control->ShowAnnotation(); }, S_OK},
        {"ShowRuler", {}, S_OK, [&] { return control->ShowRuler(); }, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        restart();
        ready();
        for (const auto& bad : c.bad) {
            SCOPED_TRACE(bad.first);
            const std::string before = state();
            const size_t records = this->records().size();
            EXPECT_EQ(bad.second(), c.badHr);
            EXPECT_EQ(state(), before);
            const Events now = this->records();
            if (c.badHr == E_INVALIDARG) {
                ASSERT_EQ(now.size(), records + 1);
                EXPECT_EQ(now.back().rfind(std::string("ERROR ") + c.method + " refused: ", 0), 0u) << now.back();
                EXPECT_EQ(sink.take(), Events{});
            } else {
                sink.take(); // the failures of old fire what they always fired
            }
        }
        EXPECT_EQ(c.good(), c.goodHr);
    }
}

// Before Init the range comes first: a bad value is refused, a good one gets the old
// answer of a control without a frame.
TEST_F(ViewerArguments, RangesHoldBeforeInit)
{
    EXPECT_EQ(control->SetHangingMode(7), E_INVALIDARG);
    EXPECT_EQ(g_hangingMode, 2);
    EXPECT_EQ(control->SetHangingMode(3), S_FALSE);
    EXPECT_EQ(g_hangingMode, 3);
    EXPECT_EQ(control->SetSelectMode(5), E_INVALIDARG);
    EXPECT_EQ(control->SetSelectMode(2), S_FALSE);
    EXPECT_EQ(g_selectMode, 2);
    EXPECT_EQ(control->SetLayout(0, 0), E_INVALIDARG);
    EXPECT_EQ(control->SetLayout(2, 2), S_FALSE);
    EXPECT_EQ(control->SetWorkingTool(20), E_INVALIDARG);
    EXPECT_EQ(control->SetWorkingTool(2), S_FALSE);
    EXPECT_EQ(control->UpdateOverlayConfig(bstr("x").get()), E_INVALIDARG);
    EXPECT_EQ(sink.take(), Events{});
}

// A configuration that does not load says which document, where and why, and nothing is
// loaded or painted after it until an Init succeeds.
TEST_F(ViewerArguments, ConfigurationErrorsAreNamedAndStopLoadData)
{
    const std::string pssi = makePssi(images(2));
    const struct {
        const char* name;
        const char* text; // null: no text at all
        const char* record;
    } cases[] = {
        {"missing", nullptr, "Config.xml line 1, column 1: Error document empty."},
        {"empty", "", "Config.xml line 1, column 1: Error document empty."},
        {"blank lines", "\n\n  ", "Config.xml line 3, column 3: Error document empty."},
        {"not XML", "hello", "Config.xml line 1, column 6: Error document empty."},
        {"end tag of another element", "<root>\n<configuration>\n</root>", "Config.xml line 3, column 1: Error reading end tag."},
        {"left open", "<root><configuration>", "Config.xml line 1, column 22: Error reading Element value."},
        {"a comment only", "<!-- settings -->", "Config.xml: no element"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        EXPECT_EQ(c.text ? init(c.text) : control->Init(nullptr), S_FALSE);
        EXPECT_EQ(records(), Events{std::string("FATAL Parse Configuration  Error: ") + c.record});
        control->SetAnnotationServerAddress(bstr("http://127.0.0.1:1/annotation").get());
        EXPECT_EQ(loadData(pssi), S_FALSE);
        EXPECT_EQ(records(), (Events{std::string("FATAL Parse Configuration  Error: ") + c.record,
                                     "ERROR LoadData refused: the configuration did not load"}));
        EXPECT_EQ(sink.take(), Events{});
        EXPECT_EQ(frame().m_hWnd, nullptr);
        EXPECT_TRUE(frame().getSubFrames().empty());
        // A good configuration afterwards loads as ever.
        ASSERT_EQ(init(config("<maxlayout>2</maxlayout>")), S_OK);
        EXPECT_EQ(loadData(pssi), S_OK);
        EXPECT_NE(frame().m_hWnd, nullptr);
    }
    restart();
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    EXPECT_EQ(loadData(pssi), S_FALSE);
    EXPECT_EQ(records(), Events{"ERROR LoadData refused: Init has not run"});
}

// A hanging level stored before the document (SetHangingMode, the configuration) that the
// document has nothing on hangs at the default level instead, with a record, where
// SetHangingMode after LoadData refuses it.
TEST_F(ViewerArguments, LoadDataFallsBackFromALevelTheDocumentLacks)
{
    const struct {
        const char* name;
        const char* settings;
        LONG setBefore; // -1: none
        int expectedMode;
        Events records;
    } cases[] = {
        {"configured 0", "<hangmode>0</hangmode>", -1, 2,
         {"WARNING LoadData: the document has no Frame to hang with hanging mode 0; hanging mode 2 instead"}},
        {"set to 0 before LoadData", "", 0, 2,
         {"WARNING LoadData: the document has no Frame to hang with hanging mode 0; hanging mode 2 instead"}},
        {"configured 4", "<hangmode>4</hangmode>", -1, 4, {}},
        {"set to 1 before LoadData", "", 1, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        ASSERT_EQ(init(config(std::string("<maxlayout>4</maxlayout>") + c.settings)), S_OK);
        ASSERT_EQ(control->SetAnnotationServerAddress(bstr("http://127.0.0.1:1/annotation").get()), S_OK);
        if (c.setBefore >= 0) {
            EXPECT_EQ(control->SetHangingMode(c.setBefore), S_OK);
        }
        sink.take();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
        EXPECT_EQ(loadData(makePssi(images(4))), S_OK);
        EXPECT_EQ(records(), c.records);
        EXPECT_EQ(g_hangingMode, c.expectedMode);
        const Events events = sink.take();
        EXPECT_NE(std::find(events.begin(), events.end(), "LoadDataFinished(1)"), events.end());
        // Something hangs in the cells: the document is not laid out empty.
        EXPECT_FALSE(frame().getSubFrames().empty());
        EXPECT_GT(dao().getHangingCount(dao().getRootElement(), g_hangingMode), 0);
    }
}

// Refusals before Init have no log file yet: they reach standard error.
TEST_F(ViewerArguments, RefusalsBeforeInitReachStandardError)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadData(makePssi(images(1))), S_FALSE);
    EXPECT_EQ(control->SetSelectMode(9), E_INVALIDARG);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("LoadData refused: Init has not run"), std::string::npos) << said;
    EXPECT_NE(said.find("SetSelectMode refused: select mode 9 is not within 0 to 4"), std::string::npos) << said;
}

// A broken document after a good one leaves the shown one in place, cells and all.
TEST_F(ViewerArguments, BrokenPssiKeepsTheDocumentShown)
{
    ready();
    const std::string before = state();
    const HWND window = frame().m_hWnd;
    EXPECT_EQ(loadData("<Root>\n<Patient>\n</Study>"), S_FALSE);
    EXPECT_EQ(records(), Events{"FATAL Parse PSSI Error: BasePssi.xml line 3, column 1: Error reading end tag."});
    EXPECT_EQ(sink.take(), Events{});
    EXPECT_EQ(state(), before);
    EXPECT_EQ(frame().m_hWnd, window);
    EXPECT_EQ(workingRoot("1.1", "", "", ""), S_OK);
}
