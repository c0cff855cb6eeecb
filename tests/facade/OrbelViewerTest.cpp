// The control's scripting surface against this test's own copy of its published tables.
#include "facade/BstrText.h"
#include "facade/OrbelViewer.h"
#include "facade/OrbelViewerIds.h"
#include "R2IVuzi/StartupValues.h"

#include "platform/ModuleStartup.h"
#include "platform/PropertyStream.h"
#include "platform/TextConv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

using platform::BStr;

namespace {

struct Member {
    const char16_t* name;
    DISPID id;
    std::vector<VARTYPE> args;
    const char16_t* help; // null: a stock property
};

const Member kMembers[] = {
    {u"LoadData", 1, {VT_BSTR}, u"method LoadData"},
    {u"SetHangingMode", 2, {VT_I4}, u"method SetHangingMode"},
    {u"SetLayout", 4, {VT_I4, VT_I4}, u"method SetLayout"},
    {u"SetSubLayout", 5, {VT_I4, VT_I4}, u"method SetSubLayout"},
    {u"SetWorkingRoot", 6, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR}, u"method SetWorkingRoot"},
    {u"SetWorkingTool", 7, {VT_I4}, u"method SetWorkingTool"},
    {u"TurnLayoutPage", 8, {VT_BOOL}, u"method TurnLayoutPage"},
    {u"TurnSubLayoutPage", 9, {VT_BOOL}, u"method TrunSubLayoutPage"},
    {u"InvertWidthLevel", 10, {}, u"method InvertWidthLevel"},
    {u"Flip", 11, {VT_BOOL}, u"method Flip"},
    {u"Rotate", 12, {VT_BOOL}, u"method Rotate"},
    {u"Reset", 13, {}, u"method Reset"},
    {u"SetSelectMode", 18, {VT_I4}, u"method set Select Mode"},
    {u"InsertStudy", 20, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR}, u"method InsertStudy"},
    {u"SetWorkingSetMode", 21, {VT_I4}, u"method set WorkingSetMode"},
    {u"SetLink", 24, {VT_BOOL}, u"Method set link flag"},
    {u"SetAnnotationServerAddress", 25, {VT_BSTR}, u"Set Annotation Server Address"},
    {u"Init", 26, {VT_BSTR}, u"method Init"},
    {u"SetAnnTool", 27, {VT_I4}, u"Method set ann tool"},
    {u"SetFitType", 28, {VT_I4}, u"Method set fit type"},
    {u"ShowOverlay", 29, {}, u"show/hide overlay"},
    {u"ShowAnnotation", 30, {}, u"show/hide annotation"},
    {u"ShowRuler", 31, {}, u"show/hide ruler"},
    {u"UpdateOverlayConfig", 32, {VT_BSTR}, u"update overlay configuration"},
    {u"GetImageStatus", 33, {}, u"get the currently hung image status"},
    {u"SetStamp", 34, {VT_BSTR}, u"set the current stamp file"},
    {u"ConfigStamp", 35, {VT_BSTR}, u"config the stamp file"},
    {u"AutoSize", -500, {}, nullptr},
    {u"BorderColor", -503, {}, nullptr},
    {u"BorderStyle", -504, {}, nullptr},
    {u"BorderWidth", -505, {}, nullptr},
    {u"HWND", -515, {}, nullptr},
    {u"Caption", -518, {}, nullptr},
    {u"BorderVisible", -519, {}, nullptr},
    {u"Appearance", -520, {}, nullptr},
};

std::u16string caseVariant(std::u16string s, int variant)
{
    for (auto& c : s)
        if (variant == 1 && c >= u'a' && c <= u'z')
            c = char16_t(c - 32);
        else if (variant == 2 && c >= u'A' && c <= u'Z')
            c = char16_t(c + 32);
    return s;
}

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

// Records events and property notifications; may refuse edits.
struct Sink : IDispatch, IPropertyNotifySink {
    std::vector<std::pair<DISPID, std::vector<platform::Variant>>> events; // rgvarg as delivered
    std::vector<std::string> notes;
    bool refuse = false;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IPropertyNotifySink)
            *ppv = static_cast<IPropertyNotifySink*>(this);
        else if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IOrbelViewerEvents)
            *ppv = static_cast<IDispatch*>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        events.emplace_back(id, std::vector<platform::Variant>(p->rgvarg, p->rgvarg + p->cArgs));
        return S_OK;
    }
    HRESULT OnChanged(DISPID id) override
    {
        notes.push_back("changed " + std::to_string(id));
        return S_OK;
    }
    HRESULT OnRequestEdit(DISPID id) override
    {
        notes.push_back("edit " + std::to_string(id));
        return refuse ? S_FALSE : S_OK;
    }
};

class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ModuleLoad());
        ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(disp.out())), S_OK);
        control = static_cast<COrbelViewer*>(disp.get());
    }
    void TearDown() override
    {
        disp.reset();
        if (parent)
            DestroyWindow(parent);
        ModuleUnload();
    }
    void advise(const IID& iid, IUnknown* sink)
    {
        platform::ComPtr<IConnectionPoint> cp;
        ASSERT_EQ(control->FindConnectionPoint(iid, cp.out()), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(cp->Advise(sink, &cookie), S_OK);
    }
    void activate()
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = plainProc;
        wc.lpszClassName = u"FacadeTestParent";
        RegisterClassExW(&wc);
        parent = CreateWindowExW(0, u"FacadeTestParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, 64, 48, nullptr, nullptr,
                                 nullptr, nullptr);
        RECT r = {0, 0, 64, 48};
        ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent, &r), S_OK);
        platform::PumpPending();
    }
    HRESULT invoke(DISPID id, WORD flags, std::vector<platform::Variant> reversed, VARIANT* result = nullptr)
    {
        std::vector<VARIANT> raw(reversed.begin(), reversed.end());
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS p{raw.empty() ? nullptr : raw.data(), flags == DISPATCH_PROPERTYPUT ? &named : nullptr,
                     UINT(raw.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        return control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result, nullptr, nullptr);
    }
    Sink sink; // outlives the control, which holds it
    platform::ComPtr<IDispatch> disp;
    COrbelViewer* control = nullptr;
    HWND parent = nullptr;
};

} // namespace

TEST_F(Viewer, SurfaceMatchesThePublishedTables)
{
    ITypeInfo* info = nullptr;
    ASSERT_EQ(control->GetTypeInfo(0, 0, &info), S_OK);
    for (const Member& m : kMembers) {
        for (int variant = 0; variant < 3; ++variant) {
            std::u16string name = caseVariant(m.name, variant);
            LPOLESTR names[] = {name.data()};
            DISPID id = 0;
            EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << Utf16ToUtf8(name);
            EXPECT_EQ(id, m.id) << Utf16ToUtf8(name);
        }
        if (!m.help)
            continue;
        BStr name, doc;
        ASSERT_EQ(info->GetDocumentation(m.id, name.out(), doc.out(), nullptr, nullptr), S_OK);
        EXPECT_EQ(doc.str(), m.help);
        // Every method takes its declared arguments; before Init (left out here) there is no
        // frame, and only the settings that live without one say S_OK.
        if (m.id == 26)
            continue;
        std::vector<platform::Variant> args;
        for (auto it = m.args.rbegin(); it != m.args.rend(); ++it)
            args.push_back(*it == VT_BSTR ? platform::Variant::fromString(u"x")
                                          : *it == VT_BOOL ? platform::Variant::fromBool(true)
                                                           : platform::Variant::fromLong(1));
        platform::Variant result;
        const bool withoutFrame = m.id == 21 || m.id == 24 || (m.id >= 29 && m.id <= 31) || m.id == 33;
        // "x" is neither a study, an overlay document nor an address: refused before all else.
        const bool refused = m.id == 20 || m.id == 25 || m.id == 32;
        EXPECT_EQ(invoke(m.id, DISPATCH_METHOD, args, &result), refused ? E_INVALIDARG : withoutFrame ? S_OK : S_FALSE)
            << Utf16ToUtf8(m.name);
    }
    for (DISPID gap : {3, 14, 15, 16, 17, 19, 22, 23})
        EXPECT_EQ(invoke(gap, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND) << gap;
    EXPECT_EQ(invoke(DISPID_HWND, DISPATCH_PROPERTYPUT, {platform::Variant::fromLong(1)}), DISP_E_MEMBERNOTFOUND);
    BStr name, doc;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, name.out(), doc.out(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.str(), u"OrbelViewer Class");
    EXPECT_EQ(doc.str(), u"QuillonActiveX 1.0 Type Library");
    info->Release();

    // The two entries outside dispatch write the maximum-layout map the constructor zeroed.
    EXPECT_EQ(GetMaxLayoutMap(), (LayoutMap{{0, {0, 0}}, {1, {0, 0}}}));
    control->SetMaxLayout1(4, 5);
    control->SetMaxLayout0(2, 3);
    EXPECT_EQ(GetMaxLayoutMap(), (LayoutMap{{0, {2, 3}}, {1, {4, 5}}}));
}

TEST_F(Viewer, EachRaiserDeliversItsDispidAndArgumentsWithTrueAsOne)
{
    using F = std::function<HRESULT(COrbelViewer&)>;
    const struct {
        F raise;
        DISPID id;
        std::vector<LONG> delivered; // rgvarg order: last argument first
        VARTYPE vt;
    } cases[] = {
        {[](COrbelViewer& c) { return c.Fire_OnSetWorkingTool(7); }, 1, {7}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnSetHangingMode(2); }, 2, {2}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnSetSelectMode(3); }, 3, {3}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnSetFitType(-1); }, 4, {-1}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnSetLayout(2, 3); }, 5, {3, 2}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnTurn(0); }, 6, {0}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnTotalPagesChanged(12); }, 7, {12}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnCurrentPageChanged(4); }, 8, {4}, VT_I4},
        {[](COrbelViewer& c) { return c.Fire_OnImageStatusModified(VARIANT_TRUE); }, 9, {1}, VT_BOOL},
        {[](COrbelViewer& c) { return c.Fire_OnShowRuler(VARIANT_FALSE); }, 10, {0}, VT_BOOL},
        {[](COrbelViewer& c) { return c.Fire_OnShowAnnotation(VARIANT_TRUE); }, 11, {1}, VT_BOOL},
        {[](COrbelViewer& c) { return c.Fire_OnShowOverlay(5); }, 12, {1}, VT_BOOL},
        {[](COrbelViewer& c) { return c.Fire_OnInitFinished(VARIANT_TRUE); }, 13, {1}, VT_BOOL},
        {[](COrbelViewer& c) { return c.Fire_OnLoadDataFinished(VARIANT_FALSE); }, 14, {0}, VT_BOOL},
        {[](COrbelViewer& c) { return c.Fire_OnConfigStampFinished(VARIANT_TRUE); }, 15, {1}, VT_BOOL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.raise(*control), S_OK) << "no sink, event " << c.id;
    advise(DIID__IOrbelViewerEvents, static_cast<IDispatch*>(&sink));
    for (const auto& c : cases) {
        sink.events.clear();
        EXPECT_EQ(c.raise(*control), S_OK);
        ASSERT_EQ(sink.events.size(), 1u) << c.id;
        EXPECT_EQ(sink.events[0].first, c.id);
        ASSERT_EQ(sink.events[0].second.size(), c.delivered.size()) << c.id;
        for (size_t i = 0; i < c.delivered.size(); ++i) {
            const VARIANT& v = sink.events[0].second[i];
            EXPECT_EQ(v.vt, c.vt) << c.id;
            EXPECT_EQ(c.vt == VT_BOOL ? LONG(v.boolVal) : v.lVal, c.delivered[i]) << c.id;
        }
    }
}

TEST_F(Viewer, StockPutsAskTellRepaintAndRespectFreezing)
{
    activate();
    EXPECT_EQ(control->get_BorderColor(nullptr), E_POINTER);
    EXPECT_EQ(control->get_HWND(nullptr), E_POINTER);
    EXPECT_EQ(control->get_Caption(nullptr), E_POINTER);
    HWND window = nullptr;
    LONG handle = 0;
    ASSERT_EQ(control->GetWindow(&window), S_OK);
    ASSERT_EQ(control->get_HWND(&handle), S_OK);
    EXPECT_EQ(handle, LONG(reinterpret_cast<uintptr_t>(window)));
    EXPECT_EQ(control->controlFlags() & 0x42, 0x40u);

    advise(IID_IPropertyNotifySink, static_cast<IPropertyNotifySink*>(&sink));
    sink.refuse = true;
    EXPECT_EQ(control->put_BorderWidth(9), S_FALSE);
    LONG width = -1;
    control->get_BorderWidth(&width);
    EXPECT_EQ(width, 0);
    EXPECT_FALSE(control->isDirty());
    EXPECT_EQ(sink.notes, std::vector<std::string>{"edit -505"});

    sink.refuse = false;
    sink.notes.clear();
    platform::PumpPending();
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
    EXPECT_EQ(control->put_BorderVisible(VARIANT_TRUE), S_OK);
    EXPECT_EQ(sink.notes, (std::vector<std::string>{"edit -519", "changed -519"}));
    EXPECT_TRUE(control->isDirty());
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE)); // one repaint pending
    VARIANT_BOOL visible = 0;
    control->get_BorderVisible(&visible);
    EXPECT_EQ(visible, VARIANT_TRUE);

    sink.notes.clear();
    sink.refuse = true; // frozen: nobody is asked
    control->FreezeEvents(TRUE);
    EXPECT_EQ(control->put_Appearance(1), S_OK);
    control->FreezeEvents(FALSE);
    EXPECT_TRUE(sink.notes.empty());
}

namespace {
struct Bag : IPropertyBag {
    std::map<std::u16string, platform::Variant> values;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Read(LPCOLESTR name, VARIANT* v, void*) override
    {
        auto it = values.find(name);
        return it == values.end() ? E_INVALIDARG : VariantCopy(v, &it->second);
    }
    HRESULT Write(LPCOLESTR name, VARIANT* v) override
    {
        values[name] = platform::Variant(*v);
        return S_OK;
    }
};
} // namespace

TEST_F(Viewer, PropertyBagRoundTripsTheSevenStockProperties)
{
    control->put_AutoSize(VARIANT_TRUE);
    control->put_BorderColor(0x123456);
    control->put_BorderStyle(1);
    control->put_BorderWidth(3);
    BStr caption(u"Grüße");
    control->put_Caption(caption.get());
    control->put_BorderVisible(VARIANT_TRUE);
    control->put_Appearance(2);
    Bag bag;
    ASSERT_EQ(control->Save(&bag, TRUE, TRUE), S_OK);
    EXPECT_EQ(bag.values.size(), 7u);
    EXPECT_FALSE(control->isDirty());

    platform::ComPtr<IDispatch> other;
    ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(other.out())), S_OK);
    auto* copy = static_cast<COrbelViewer*>(other.get());
    ASSERT_EQ(copy->Load(&bag, nullptr), S_OK);
    Bag again;
    ASSERT_EQ(copy->Save(&again, FALSE, TRUE), S_OK);
    for (auto& [name, value] : bag.values) {
        platform::Variant a = value, b = again.values[name];
        ASSERT_EQ(a.vt, b.vt) << Utf16ToUtf8(name);
        if (a.vt == VT_BSTR)
            EXPECT_EQ(BStr(a.bstrVal).str(), BStr(b.bstrVal).str());
        else
            EXPECT_EQ(a.lVal & (a.vt == VT_BOOL ? 0xFFFF : -1), b.lVal & (b.vt == VT_BOOL ? 0xFFFF : -1))
                << Utf16ToUtf8(name);
    }
    BStr read;
    copy->get_Caption(read.out());
    EXPECT_EQ(read.str(), u"Grüße");
}

namespace {
std::vector<BYTE> streamBytes(IStream* s)
{
    std::vector<BYTE> out;
    EXPECT_EQ(platform::StreamBytes(s, out), S_OK);
    return out;
}

struct Stock {
    VARIANT_BOOL autoSize = 0, borderVisible = 0;
    LONG color = 0, style = 0, width = 0, appearance = 0;
    std::u16string caption;
    bool nullCaption = false;
    bool operator==(const Stock& o) const
    {
        return autoSize == o.autoSize && borderVisible == o.borderVisible && color == o.color && style == o.style &&
               width == o.width && appearance == o.appearance && caption == o.caption &&
               nullCaption == o.nullCaption;
    }
};

Stock stockOf(COrbelViewer* c)
{
    Stock s;
    c->get_AutoSize(&s.autoSize);
    c->get_BorderVisible(&s.borderVisible);
    c->get_BorderColor(&s.color);
    c->get_BorderStyle(&s.style);
    c->get_BorderWidth(&s.width);
    c->get_Appearance(&s.appearance);
    BStr caption;
    c->get_Caption(caption.out());
    s.caption = caption.str();
    s.nullCaption = caption.get() == nullptr;
    return s;
}
} // namespace

TEST_F(Viewer, StreamRoundTripsTheStockPropertiesIntoANewControl)
{
    platform::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.out())), S_OK);
    CLSID clsid{};
    ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_OrbelViewer);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    control->put_AutoSize(VARIANT_TRUE);
    control->put_BorderColor(LONG(0x80000012)); // a system colour: the high bit must survive
    control->put_BorderStyle(1);
    control->put_BorderWidth(-3);
    BStr caption(std::u16string(u"Gr\u00fc\u00dfe \U0001F600 ") + char16_t(0) + u"end");
    control->put_Caption(caption.get());
    control->put_Appearance(2);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    const Stock saved = stockOf(control);

    platform::ComPtr<IStream> stream;
    ASSERT_EQ(platform::CreateMemoryStream({}, stream.out()), S_OK);
    ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    const std::vector<BYTE> bytes = streamBytes(stream.get());
    ULARGE_INTEGER max{};
    ASSERT_EQ(persist->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, bytes.size());

    // The block is followed by the container's own bytes, which Load must leave unread.
    std::vector<BYTE> withTail = bytes;
    withTail.insert(withTail.end(), {0xAB, 0xCD});
    platform::ComPtr<IDispatch> other;
    ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(other.out())), S_OK);
    auto* copy = static_cast<COrbelViewer*>(other.get());
    const Stock fresh = stockOf(copy);
    EXPECT_TRUE(fresh.nullCaption);
    platform::ComPtr<IStream> in;
    ASSERT_EQ(platform::CreateMemoryStream(withTail, in.out()), S_OK);
    ASSERT_EQ(copy->Load(in.get()), S_OK);
    EXPECT_TRUE(stockOf(copy) == saved);
    EXPECT_EQ(copy->IsDirty(), S_FALSE);
    BYTE tail[2] = {};
    ULONG read = 0;
    EXPECT_EQ(in->Read(tail, 2, &read), S_OK);
    EXPECT_EQ(tail[0], 0xAB);

    // A new control saves the same bytes again.
    platform::ComPtr<IStream> again;
    ASSERT_EQ(platform::CreateMemoryStream({}, again.out()), S_OK);
    ASSERT_EQ(copy->Save(again.get(), FALSE), S_OK);
    EXPECT_EQ(streamBytes(again.get()), bytes);

    // Every damaged form of the block is refused and changes nothing.
    platform::ComPtr<IDispatch> third;
    ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(third.out())), S_OK);
    auto* target = static_cast<COrbelViewer*>(third.get());
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        platform::ComPtr<IStream> damaged;
        ASSERT_EQ(platform::CreateMemoryStream(std::vector<BYTE>(bytes.begin(), bytes.begin() + cut), damaged.out()),
                  S_OK);
        EXPECT_EQ(target->Load(damaged.get()), STG_E_READFAULT) << "cut at " << cut;
        EXPECT_TRUE(stockOf(target) == fresh) << "cut at " << cut;
    }
}

TEST_F(Viewer, StreamLoadTakesKnownNamesAndRefusesMismatchedTypes)
{
    using platform::StoredProperty;
    control->put_BorderWidth(7);
    struct Case {
        const char* what;
        std::vector<StoredProperty> props;
        HRESULT hr;
        LONG width; // BorderWidth afterwards
    };
    auto prop = [](const char16_t* name, platform::Variant v) { return StoredProperty{name, v}; };
    std::vector<Case> cases = {
        {"unknown names are skipped, absent ones kept",
         {prop(u"Future", platform::Variant::fromLong(5)), prop(u"Appearance", platform::Variant::fromLong(1))},
         S_OK, 7},
        {"a number given as text is converted", {prop(u"BorderWidth", platform::Variant::fromString(u"12"))}, S_OK, 12},
        {"a text that is no number refuses the whole block",
         {prop(u"Appearance", platform::Variant::fromLong(3)),
          prop(u"BorderWidth", platform::Variant::fromString(u"wide"))},
         STG_E_INVALIDHEADER, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::ComPtr<IStream> s;
        ASSERT_EQ(platform::CreateMemoryStream({}, s.out()), S_OK);
        ASSERT_EQ(platform::WriteProperties(s.get(), c.props), S_OK);
        s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
        EXPECT_EQ(control->Load(s.get()), c.hr);
        LONG width = 0;
        control->get_BorderWidth(&width);
        EXPECT_EQ(width, c.width);
    }
    LONG appearance = 0;
    control->get_Appearance(&appearance);
    EXPECT_EQ(appearance, 1); // the refused block's Appearance was not taken
}

TEST(BstrText, NullEmptyAndBeyondTheBasicPlaneRoundTrip)
{
    EXPECT_EQ(BstrToUtf8(nullptr), nullptr);
    BStr empty(u"");
    auto e = BstrToUtf8(empty.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e[0], 0);
    const char utf8[] = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xF0\x9F\x98\x80";
    BStr text(Utf8ToUtf16(utf8));
    auto t = BstrToUtf8(text.get());
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t.get(), utf8);
}
