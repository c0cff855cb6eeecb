#include "facade/OrbelViewerTypeInfo.h"

#include "platform/TextConv.h"

const char16_t kOrbelClassHelp[] = u"OrbelViewer Class";
const char16_t kOrbelLibraryHelp[] = u"QuillonActiveX 1.0 Type Library";

const std::vector<OrbelMember>& OrbelViewerMethods()
{
    static const std::vector<OrbelMember> methods = {
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
