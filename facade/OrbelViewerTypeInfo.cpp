#include "facade/OrbelViewerTypeInfo.h"

#include "facade/OrbelViewer.h"
#include "platform/TextConv.h"

const char16_t kOrbelClassHelp[] = u"OrbelViewer Class";
const char16_t kOrbelLibraryHelp[] = u"QuillonActiveX 1.0 Type Library";

namespace {

using Args = std::vector<platform::Variant>;

BSTR b(Args& a, size_t i) { return a[i].bstrVal; }
LONG l(Args& a, size_t i) { return a[i].lVal; }
VARIANT_BOOL v(Args& a, size_t i) { return a[i].boolVal; }

// The one method with a result: the text goes to the caller, or is freed.
HRESULT ReturnStatus(COrbelViewer& c, VARIANT* result)
{
    BSTR status = nullptr;
    HRESULT hr = c.GetImageStatus(&status);
    if (result && SUCCEEDED(hr)) {
        result->vt = VT_BSTR;
        result->bstrVal = status;
    } else {
        SysFreeString(status);
    }
    return hr;
}

} // namespace

const std::vector<OrbelMember>& OrbelViewerMethods()
{
    static const std::vector<OrbelMember> methods = {
        {u"LoadData", 1, {VT_BSTR}, u"method LoadData",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.LoadData(b(a, 0)); }},
        {u"SetHangingMode", 2, {VT_I4}, u"method SetHangingMode",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetHangingMode(l(a, 0)); }},
        {u"SetLayout", 4, {VT_I4, VT_I4}, u"method SetLayout",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetLayout(l(a, 0), l(a, 1)); }},
        {u"SetSubLayout", 5, {VT_I4, VT_I4}, u"method SetSubLayout",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetSubLayout(l(a, 0), l(a, 1)); }},
        {u"SetWorkingRoot", 6, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR}, u"method SetWorkingRoot",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetWorkingRoot(b(a, 0), b(a, 1), b(a, 2), b(a, 3)); }},
        {u"SetWorkingTool", 7, {VT_I4}, u"method SetWorkingTool",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetWorkingTool(l(a, 0)); }},
        {u"TurnLayoutPage", 8, {VT_BOOL}, u"method TurnLayoutPage",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.TurnLayoutPage(v(a, 0)); }},
        {u"TurnSubLayoutPage", 9, {VT_BOOL}, u"method TrunSubLayoutPage",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.TurnSubLayoutPage(v(a, 0)); }},
        {u"InvertWidthLevel", 10, {}, u"method InvertWidthLevel",
         [](COrbelViewer& c, Args&, VARIANT*) { return c.InvertWidthLevel(); }},
        {u"Flip", 11, {VT_BOOL}, u"method Flip",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.Flip(v(a, 0)); }},
        {u"Rotate", 12, {VT_BOOL}, u"method Rotate",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.Rotate(v(a, 0)); }},
        {u"Reset", 13, {}, u"method Reset",
         [](COrbelViewer& c, Args&, VARIANT*) { return c.Reset(); }},
        {u"SetSelectMode", 18, {VT_I4}, u"method set Select Mode",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetSelectMode(l(a, 0)); }},
        {u"InsertStudy", 20, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR}, u"method InsertStudy",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.InsertStudy(b(a, 0), b(a, 1), b(a, 2), b(a, 3)); }},
        {u"SetWorkingSetMode", 21, {VT_I4}, u"method set WorkingSetMode",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetWorkingSetMode(l(a, 0)); }},
        {u"SetLink", 24, {VT_BOOL}, u"Method set link flag",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetLink(v(a, 0)); }},
        {u"SetAnnotationServerAddress", 25, {VT_BSTR}, u"Set Annotation Server Address",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetAnnotationServerAddress(b(a, 0)); }},
        {u"Init", 26, {VT_BSTR}, u"method Init",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.Init(b(a, 0)); }},
        {u"SetAnnTool", 27, {VT_I4}, u"Method set ann tool",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetAnnTool(l(a, 0)); }},
        {u"SetFitType", 28, {VT_I4}, u"Method set fit type",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetFitType(l(a, 0)); }},
        {u"ShowOverlay", 29, {}, u"show/hide overlay",
         [](COrbelViewer& c, Args&, VARIANT*) { return c.ShowOverlay(); }},
        {u"ShowAnnotation", 30, {}, u"show/hide annotation",
         [](COrbelViewer& c, Args&, VARIANT*) { return c.ShowAnnotation(); }},
        {u"ShowRuler", 31, {}, u"show/hide ruler",
         [](COrbelViewer& c, Args&, VARIANT*) { return c.ShowRuler(); }},
        {u"UpdateOverlayConfig", 32, {VT_BSTR}, u"update overlay configuration",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.UpdateOverlayConfig(b(a, 0)); }},
        {u"GetImageStatus", 33, {}, u"get the currently hung image status",
         [](COrbelViewer& c, Args&, VARIANT* r) { return ReturnStatus(c, r); }},
        {u"SetStamp", 34, {VT_BSTR}, u"set the current stamp file",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.SetStamp(b(a, 0)); }},
        {u"ConfigStamp", 35, {VT_BSTR}, u"config the stamp file",
         [](COrbelViewer& c, Args& a, VARIANT*) { return c.ConfigStamp(b(a, 0)); }},
    };
    return methods;
}

namespace {
class TypeInfo : public ITypeInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *ppv = static_cast<ITypeInfo*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override
    {
        if (!names || !ids)
            return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const OrbelMember& m : OrbelViewerMethods())
                if (names[i] && sameName(m.name, names[i]))
                    ids[i] = m.id;
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    // MEMBERID_NIL: the class's help string as the name, its library's as the text.
    HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override
    {
        const char16_t* n = nullptr;
        const char16_t* d = nullptr;
        if (id == MEMBERID_NIL) {
            n = kOrbelClassHelp;
            d = kOrbelLibraryHelp;
        } else {
            for (const OrbelMember& m : OrbelViewerMethods())
                if (m.id == id) {
                    n = m.name;
                    d = m.help;
                }
            if (!n)
                return TYPE_E_ELEMENTNOTFOUND;
        }
        if (name)
            *name = SysAllocString(n);
        if (doc)
            *doc = SysAllocString(d);
        if (helpContext)
            *helpContext = 0;
        if (helpFile)
            *helpFile = nullptr;
        return S_OK;
    }

private:
    static bool sameName(const char16_t* a, const OLECHAR* b)
    {
        auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; };
        for (; *a && *b; ++a, ++b)
            if (fold(*a) != fold(*b))
                return false;
        return *a == *b;
    }
};
} // namespace

ITypeInfo* OrbelViewerTypeInfo()
{
    static TypeInfo info;
    return &info;
}
