#include "platform/OleControl.h"

#include "platform/PropertyStream.h"

#include <iterator>
#include <utility>
#include <vector>

namespace platform {

// The connection point for IPropertyNotifySink: the stock puts ask and tell it.
class PropertyNotifyPoint : public IConnectionPoint {
public:
    explicit PropertyNotifyPoint(IConnectionPointContainer* container) : container_(container) {}
    virtual ~PropertyNotifyPoint()
    {
        for (auto& s : sinks_)
            s.second->Release();
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *ppv = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG r = --refs_;
        if (r == 0)
            delete this;
        return r;
    }
    HRESULT GetConnectionInterface(IID* iid) override
    {
        if (!iid)
            return E_POINTER;
        *iid = IID_IPropertyNotifySink;
        return S_OK;
    }
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** c) override
    {
        if (!c)
            return E_POINTER;
        *c = container_;
        container_->AddRef();
        return S_OK;
    }
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!sink || !cookie)
            return E_POINTER;
        *cookie = 0;
        void* p = nullptr;
        if (FAILED(sink->QueryInterface(IID_IPropertyNotifySink, &p)) || !p)
            return CONNECT_E_ADVISELIMIT;
        *cookie = next_++;
        sinks_.emplace_back(*cookie, static_cast<IPropertyNotifySink*>(p));
        return S_OK;
    }
    HRESULT Unadvise(DWORD cookie) override
    {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
            if (it->first == cookie) {
                IPropertyNotifySink* s = it->second;
                sinks_.erase(it);
                s->Release();
                return S_OK;
            }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // False when a sink refused the edit.
    bool requestEdit(DISPID id)
    {
        for (auto& s : snapshot())
            if (s->OnRequestEdit(id) == S_FALSE)
                return false;
        return true;
    }
    void changed(DISPID id)
    {
        for (auto& s : snapshot())
            s->OnChanged(id);
    }

private:
    // A sink may unadvise while it is called.
    std::vector<ComPtr<IPropertyNotifySink>> snapshot() const
    {
        std::vector<ComPtr<IPropertyNotifySink>> out;
        for (auto& s : sinks_)
            out.emplace_back(s.second);
        return out;
    }
    IConnectionPointContainer* container_;
    ULONG refs_ = 1;
    DWORD next_ = 1;
    std::vector<std::pair<DWORD, IPropertyNotifySink*>> sinks_;
};

} // namespace platform

namespace {
constexpr DWORD kSafetySupported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

struct StockName {
    const char16_t* name;
    DISPID id;
    VARTYPE type;
};
// The persisted stock properties (HWND is not state).
const StockName kPersisted[] = {
    {u"AutoSize", DISPID_AUTOSIZE, VT_BOOL},       {u"BorderColor", DISPID_BORDERCOLOR, VT_I4},
    {u"BorderStyle", DISPID_BORDERSTYLE, VT_I4},   {u"BorderWidth", DISPID_BORDERWIDTH, VT_I4},
    {u"Caption", DISPID_CAPTION, VT_BSTR},         {u"BorderVisible", DISPID_BORDERVISIBLE, VT_BOOL},
    {u"Appearance", DISPID_APPEARANCE, VT_I4},
};
} // namespace

OleControlBase::OleControlBase(const IID& eventIid, const IID& primary) : primary_(primary)
{
    platform::ModuleLock();
    flags_ = (flags_ | kFlagActivateWhenVisible) & ~kFlagWindowOnly;
    events_ = new platform::ConnectionPoint(eventIid, this);
    notify_ = new platform::PropertyNotifyPoint(this);
}

OleControlBase::~OleControlBase()
{
    events_->Release();
    notify_->Release();
    if (site_)
        site_->Release();
    SysFreeString(caption_);
    platform::ModuleUnlock();
}

HRESULT OleControlBase::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    void* p = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == primary_)
        p = static_cast<IDispatch*>(this);
    else if (riid == IID_IOleObject)
        p = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleInPlaceObject)
        p = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleInPlaceActiveObject)
        p = static_cast<IOleInPlaceActiveObject*>(this);
    else if (riid == IID_IOleControl)
        p = static_cast<IOleControl*>(this);
    else if (riid == IID_IPersistPropertyBag)
        p = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IPersistStreamInit || riid == IID_IPersist)
        p = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IConnectionPointContainer)
        p = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IObjectSafety)
        p = static_cast<IObjectSafety*>(this);
    *ppv = p;
    if (!p)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG OleControlBase::AddRef() { return ++refs_; }

ULONG OleControlBase::Release()
{
    ULONG r = --refs_;
    if (r == 0) {
        // The window's messages still reach this object: it goes first.
        ++refs_;
        if (m_hWnd)
            DestroyWindow();
        delete this;
    }
    return r;
}

HRESULT OleControlBase::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT OleControlBase::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    ITypeInfo* t = typeInfo();
    if (!t)
        return E_NOTIMPL;
    t->AddRef();
    *info = t;
    return S_OK;
}

HRESULT OleControlBase::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return dispatchTable().getIDsOfNames(names, count, ids);
}

HRESULT OleControlBase::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* excep, UINT* argErr)
{
    // A handler may release the caller's last reference (a script closing the page).
    platform::ComPtr<IDispatch> keep(static_cast<IDispatch*>(this));
    return dispatchTable().invoke(id, flags, params, result, excep, argErr);
}

HRESULT OleControlBase::SetClientSite(IOleClientSite* site)
{
    if (site)
        site->AddRef();
    if (site_)
        site_->Release();
    site_ = site;
    return S_OK;
}

HRESULT OleControlBase::DoVerb(LONG verb, MSG*, IOleClientSite* site, LONG, HWND parent, const RECT* position)
{
    if (verb != OLEIVERB_INPLACEACTIVATE)
        return E_NOTIMPL;
    if (site && site != site_)
        SetClientSite(site);
    if (m_hWnd)
        return position ? SetObjectRects(position, nullptr) : S_OK;
    if (!parent || !IsWindow(parent) || !position)
        return E_INVALIDARG;
    if (!Create(parent, *position, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS))
        return E_FAIL;
    return S_OK;
}

HRESULT OleControlBase::Close(DWORD)
{
    if (m_hWnd)
        DestroyWindow();
    SetClientSite(nullptr);
    return S_OK;
}

HRESULT OleControlBase::GetWindow(HWND* hwnd)
{
    if (!hwnd)
        return E_POINTER;
    *hwnd = m_hWnd;
    return *hwnd ? S_OK : E_FAIL;
}

HRESULT OleControlBase::InPlaceDeactivate()
{
    if (m_hWnd)
        DestroyWindow();
    return S_OK;
}

HRESULT OleControlBase::SetObjectRects(const RECT* position, const RECT*)
{
    if (!position)
        return E_POINTER;
    if (!m_hWnd)
        return E_UNEXPECTED;
    MoveWindow(m_hWnd, position->left, position->top, position->right - position->left,
               position->bottom - position->top, TRUE);
    return S_OK;
}

HRESULT OleControlBase::TranslateAccelerator(MSG* msg)
{
    if (!msg)
        return E_POINTER;
    return PreTranslateAccelerator(msg) ? S_OK : S_FALSE;
}

HRESULT OleControlBase::FreezeEvents(BOOL freeze)
{
    if (freeze)
        ++freeze_;
    else if (freeze_ > 0)
        --freeze_;
    return S_OK;
}

HRESULT OleControlBase::InitNew() { return S_OK; }

void OleControlBase::storeStock(DISPID id, const VARIANT& v)
{
    switch (id) {
    case DISPID_AUTOSIZE: setFlag(kFlagAutoSize, v.boolVal != 0); break;
    case DISPID_BORDERVISIBLE: setFlag(kFlagBorderVisible, v.boolVal != 0); break;
    case DISPID_BORDERCOLOR: borderColor_ = v.lVal; break;
    case DISPID_BORDERSTYLE: borderStyle_ = v.lVal; break;
    case DISPID_BORDERWIDTH: borderWidth_ = v.lVal; break;
    case DISPID_APPEARANCE: appearance_ = v.lVal; break;
    case DISPID_CAPTION: {
        BSTR copy = v.bstrVal ? SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal)) : nullptr;
        SysFreeString(caption_);
        caption_ = copy;
        break;
    }
    default: break;
    }
}

HRESULT OleControlBase::Load(IPropertyBag* bag, void*)
{
    if (!bag)
        return E_POINTER;
    for (const StockName& s : kPersisted) {
        platform::Variant v;
        if (FAILED(bag->Read(s.name, &v, nullptr)))
            continue; // absent: keep the current value
        if (FAILED(VariantChangeType(&v, &v, 0, s.type)))
            return E_INVALIDARG;
        storeStock(s.id, v);
    }
    return S_OK;
}

platform::Variant OleControlBase::stockValue(DISPID id)
{
    platform::Variant v;
    switch (id) {
    case DISPID_AUTOSIZE: get_AutoSize(&v.boolVal); v.vt = VT_BOOL; break;
    case DISPID_BORDERVISIBLE: get_BorderVisible(&v.boolVal); v.vt = VT_BOOL; break;
    case DISPID_BORDERCOLOR: v.lVal = borderColor_; v.vt = VT_I4; break;
    case DISPID_BORDERSTYLE: v.lVal = borderStyle_; v.vt = VT_I4; break;
    case DISPID_BORDERWIDTH: v.lVal = borderWidth_; v.vt = VT_I4; break;
    case DISPID_APPEARANCE: v.lVal = appearance_; v.vt = VT_I4; break;
    case DISPID_CAPTION: get_Caption(&v.bstrVal); v.vt = VT_BSTR; break;
    default: break;
    }
    return v;
}

HRESULT OleControlBase::Save(IPropertyBag* bag, BOOL clearDirty, BOOL)
{
    if (!bag)
        return E_POINTER;
    for (const StockName& s : kPersisted) {
        platform::Variant v = stockValue(s.id);
        HRESULT hr = bag->Write(s.name, &v);
        if (FAILED(hr))
            return hr;
    }
    if (clearDirty)
        dirty_ = false;
    return S_OK;
}

namespace {
std::vector<platform::StoredProperty> persistedNames()
{
    std::vector<platform::StoredProperty> out(std::size(kPersisted));
    for (size_t i = 0; i < out.size(); ++i)
        out[i].name = kPersisted[i].name;
    return out;
}
} // namespace

HRESULT OleControlBase::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = classId();
    return S_OK;
}

HRESULT OleControlBase::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT OleControlBase::Save(IStream* stream, BOOL clearDirty)
{
    if (!stream)
        return E_POINTER;
    std::vector<platform::StoredProperty> props = persistedNames();
    for (size_t i = 0; i < props.size(); ++i)
        props[i].value = stockValue(kPersisted[i].id);
    HRESULT hr = platform::WriteProperties(stream, props);
    if (SUCCEEDED(hr) && clearDirty)
        dirty_ = false;
    return hr;
}

HRESULT OleControlBase::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size)
        return E_POINTER;
    std::vector<platform::StoredProperty> props = persistedNames();
    for (size_t i = 0; i < props.size(); ++i)
        props[i].value = stockValue(kPersisted[i].id);
    size->QuadPart = platform::PropertiesSize(props);
    return S_OK;
}

HRESULT OleControlBase::Load(IStream* stream)
{
    if (!stream)
        return E_POINTER;
    std::vector<platform::StoredProperty> read;
    HRESULT hr = platform::ReadProperties(stream, read);
    if (FAILED(hr))
        return hr;
    // Every value is checked before any is stored.
    std::vector<std::pair<DISPID, platform::Variant>> values;
    for (platform::StoredProperty& p : read)
        for (const StockName& s : kPersisted)
            if (p.name == s.name) {
                if (FAILED(VariantChangeType(&p.value, &p.value, 0, s.type)))
                    return STG_E_INVALIDHEADER;
                values.emplace_back(s.id, p.value);
            }
    for (const auto& v : values)
        storeStock(v.first, v.second);
    dirty_ = false;
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    return S_OK;
}

HRESULT OleControlBase::EnumConnectionPoints(IEnumConnectionPoints**) { return E_NOTIMPL; }

HRESULT OleControlBase::FindConnectionPoint(REFIID riid, IConnectionPoint** cp)
{
    if (!cp)
        return E_POINTER;
    IID events{};
    events_->GetConnectionInterface(&events);
    if (riid == events)
        *cp = events_;
    else if (riid == IID_IPropertyNotifySink)
        *cp = notify_;
    else {
        *cp = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    (*cp)->AddRef();
    return S_OK;
}

HRESULT OleControlBase::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled)
{
    if (!supported || !enabled)
        return E_POINTER;
    void* p = nullptr;
    if (FAILED(QueryInterface(riid, &p)))
        return E_NOINTERFACE;
    Release();
    *supported = kSafetySupported;
    *enabled = safety_;
    return S_OK;
}

HRESULT OleControlBase::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled)
{
    void* p = nullptr;
    if (FAILED(QueryInterface(riid, &p)))
        return E_NOINTERFACE;
    Release();
    if (mask & ~kSafetySupported)
        return E_FAIL;
    safety_ = (safety_ & ~mask) | (enabled & mask);
    return S_OK;
}

template <class Store>
HRESULT OleControlBase::putStock(DISPID id, Store store)
{
    if (freeze_ == 0 && !notify_->requestEdit(id))
        return S_FALSE;
    HRESULT hr = store();
    if (FAILED(hr))
        return hr;
    dirty_ = true;
    if (freeze_ == 0)
        notify_->changed(id);
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    OnDataChanged();
    return S_OK;
}

#define ORBEL_STOCK_GET(Name, Type, expr) \
    HRESULT OleControlBase::get_##Name(Type* v) \
    { \
        if (!v) \
            return E_POINTER; \
        *v = (expr); \
        return S_OK; \
    }

ORBEL_STOCK_GET(AutoSize, VARIANT_BOOL, (flags_ & kFlagAutoSize) ? VARIANT_TRUE : VARIANT_FALSE)
ORBEL_STOCK_GET(BorderVisible, VARIANT_BOOL, (flags_ & kFlagBorderVisible) ? VARIANT_TRUE : VARIANT_FALSE)
ORBEL_STOCK_GET(BorderColor, LONG, borderColor_)
ORBEL_STOCK_GET(BorderStyle, LONG, borderStyle_)
ORBEL_STOCK_GET(BorderWidth, LONG, borderWidth_)
ORBEL_STOCK_GET(Appearance, LONG, appearance_)
// Pages see the handle as a 32-bit long.
ORBEL_STOCK_GET(HWND, LONG, LONG(reinterpret_cast<uintptr_t>(m_hWnd.load())))
#undef ORBEL_STOCK_GET

HRESULT OleControlBase::get_Caption(BSTR* v)
{
    if (!v)
        return E_POINTER;
    *v = caption_ ? SysAllocStringLen(caption_, SysStringLen(caption_)) : nullptr;
    return caption_ && !*v ? E_OUTOFMEMORY : S_OK;
}

HRESULT OleControlBase::put_AutoSize(VARIANT_BOOL v)
{
    return putStock(DISPID_AUTOSIZE, [&] { setFlag(kFlagAutoSize, v != 0); return S_OK; });
}
HRESULT OleControlBase::put_BorderVisible(VARIANT_BOOL v)
{
    return putStock(DISPID_BORDERVISIBLE, [&] { setFlag(kFlagBorderVisible, v != 0); return S_OK; });
}
HRESULT OleControlBase::put_BorderColor(LONG v)
{
    return putStock(DISPID_BORDERCOLOR, [&] { borderColor_ = v; return S_OK; });
}
HRESULT OleControlBase::put_BorderStyle(LONG v)
{
    return putStock(DISPID_BORDERSTYLE, [&] { borderStyle_ = v; return S_OK; });
}
HRESULT OleControlBase::put_BorderWidth(LONG v)
{
    return putStock(DISPID_BORDERWIDTH, [&] { borderWidth_ = v; return S_OK; });
}
HRESULT OleControlBase::put_Appearance(LONG v)
{
    return putStock(DISPID_APPEARANCE, [&] { appearance_ = v; return S_OK; });
}
HRESULT OleControlBase::put_Caption(BSTR v)
{
    return putStock(DISPID_CAPTION, [&] {
        BSTR copy = nullptr;
        if (v && !(copy = SysAllocStringLen(v, SysStringLen(v))))
            return E_OUTOFMEMORY;
        SysFreeString(caption_);
        caption_ = copy;
        return S_OK;
    });
}

void OleControlBase::addStockProperties(platform::DispatchTable& table)
{
    using Args = std::vector<platform::Variant>;
    auto boolGet = [](HRESULT (OleControlBase::*get)(VARIANT_BOOL*), OleControlBase* self) {
        return [get, self](Args&, VARIANT* r) {
            VARIANT_BOOL b = 0;
            HRESULT hr = (self->*get)(&b);
            if (r) {
                r->vt = VT_BOOL;
                r->boolVal = b;
            }
            return hr;
        };
    };
    auto longGet = [](HRESULT (OleControlBase::*get)(LONG*), OleControlBase* self) {
        return [get, self](Args&, VARIANT* r) {
            LONG l = 0;
            HRESULT hr = (self->*get)(&l);
            if (r) {
                r->vt = VT_I4;
                r->lVal = l;
            }
            return hr;
        };
    };
    auto boolPut = [](HRESULT (OleControlBase::*put)(VARIANT_BOOL), OleControlBase* self) {
        return [put, self](Args& a, VARIANT*) { return (self->*put)(a[0].boolVal); };
    };
    auto longPut = [](HRESULT (OleControlBase::*put)(LONG), OleControlBase* self) {
        return [put, self](Args& a, VARIANT*) { return (self->*put)(a[0].lVal); };
    };
    table.property(u"AutoSize", DISPID_AUTOSIZE, VT_BOOL, boolGet(&OleControlBase::get_AutoSize, this),
                   boolPut(&OleControlBase::put_AutoSize, this));
    table.property(u"BorderColor", DISPID_BORDERCOLOR, VT_I4, longGet(&OleControlBase::get_BorderColor, this),
                   longPut(&OleControlBase::put_BorderColor, this));
    table.property(u"BorderStyle", DISPID_BORDERSTYLE, VT_I4, longGet(&OleControlBase::get_BorderStyle, this),
                   longPut(&OleControlBase::put_BorderStyle, this));
    table.property(u"BorderWidth", DISPID_BORDERWIDTH, VT_I4, longGet(&OleControlBase::get_BorderWidth, this),
                   longPut(&OleControlBase::put_BorderWidth, this));
    table.property(u"HWND", DISPID_HWND, VT_I4, longGet(&OleControlBase::get_HWND, this), nullptr);
    table.property(
        u"Caption", DISPID_CAPTION, VT_BSTR,
        [this](Args&, VARIANT* r) {
            BSTR b = nullptr;
            HRESULT hr = get_Caption(&b);
            if (r) {
                r->vt = VT_BSTR;
                r->bstrVal = b;
            } else {
                SysFreeString(b);
            }
            return hr;
        },
        [this](Args& a, VARIANT*) { return put_Caption(a[0].bstrVal); });
    table.property(u"BorderVisible", DISPID_BORDERVISIBLE, VT_BOOL,
                   boolGet(&OleControlBase::get_BorderVisible, this),
                   boolPut(&OleControlBase::put_BorderVisible, this));
    table.property(u"Appearance", DISPID_APPEARANCE, VT_I4, longGet(&OleControlBase::get_Appearance, this),
                   longPut(&OleControlBase::put_Appearance, this));
}

LRESULT OleControlBase::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM, LPARAM, bool& handled)
{
    if (msg != WM_PAINT) {
        handled = false;
        return 0;
    }
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    OleDrawInfo info;
    info.hdc = hdc;
    GetClientRect(hwnd, &info.bounds);
    OnDraw(info);
    EndPaint(hwnd, &ps);
    handled = true;
    return 0;
}

CWindowImplBase::ClassInfo OleControlBase::GetWndClassInfo() const
{
    ClassInfo info;
    info.name = windowClassName();
    info.style = CS_DBLCLKS;
    info.background = nullptr;
    return info;
}
