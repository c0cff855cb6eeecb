#include "platform/Com.h"

#include "platform/TextConv.h"

#include <atomic>
#include <exception>

namespace platform {

namespace {
std::atomic<LONG> g_moduleLocks{0};

char16_t fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

bool sameName(const std::u16string& a, const OLECHAR* b)
{
    size_t i = 0;
    for (; i < a.size(); ++i)
        if (!b[i] || fold(a[i]) != fold(b[i]))
            return false;
    return b[i] == 0;
}

void fillException(EXCEPINFO* excep, const char* what)
{
    if (!excep)
        return;
    std::u16string text = Utf8ToUtf16(what ? what : "");
    excep->wCode = 0;
    excep->bstrSource = nullptr;
    excep->bstrDescription = SysAllocStringLen(text.data(), UINT(text.size()));
    excep->bstrHelpFile = nullptr;
    excep->dwHelpContext = 0;
    excep->pvReserved = nullptr;
    excep->pfnDeferredFillIn = nullptr;
    excep->scode = E_FAIL;
}
} // namespace

void ModuleLock() { ++g_moduleLocks; }
void ModuleUnlock() { --g_moduleLocks; }
LONG ModuleLockCount() { return g_moduleLocks; }
HRESULT ModuleCanUnloadNow() { return g_moduleLocks == 0 ? S_OK : S_FALSE; }

// ---- dispatch table --------------------------------------------------------------------

void DispatchTable::method(const std::u16string& name, DISPID id, std::vector<VARTYPE> params, Handler handler)
{
    Entry e;
    e.name = name;
    e.id = id;
    e.params = std::move(params);
    e.call = std::move(handler);
    entries_.push_back(std::move(e));
}

void DispatchTable::property(const std::u16string& name, DISPID id, VARTYPE type, Handler get, Handler put)
{
    Entry e;
    e.name = name;
    e.id = id;
    e.type = type;
    e.get = std::move(get);
    e.put = std::move(put);
    e.isProperty = true;
    entries_.push_back(std::move(e));
}

const DispatchTable::Entry* DispatchTable::find(DISPID id) const
{
    for (const Entry& e : entries_)
        if (e.id == id)
            return &e;
    return nullptr;
}

HRESULT DispatchTable::getIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const
{
    if (!names || !ids)
        return E_POINTER;
    if (count == 0)
        return S_OK;
    HRESULT hr = S_OK;
    ids[0] = DISPID_UNKNOWN;
    if (names[0])
        for (const Entry& e : entries_)
            if (sameName(e.name, names[0])) {
                ids[0] = e.id;
                break;
            }
    if (ids[0] == DISPID_UNKNOWN)
        hr = DISP_E_UNKNOWNNAME;
    // Argument names are not supported.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchTable::invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                              UINT* argErr) const
{
    const Entry* e = find(id);
    if (!e)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if (params->cArgs > 0 && !params->rgvarg)
        return E_INVALIDARG;

    const Handler* handler = nullptr;
    std::vector<VARTYPE> types;
    if (e->isProperty) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (!e->put)
                return DISP_E_MEMBERNOTFOUND;
            if (params->cNamedArgs > 1 ||
                (params->cNamedArgs == 1 && (!params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
                return DISP_E_PARAMNOTFOUND;
            handler = &e->put;
            types = {e->type};
        } else if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
            if (!e->get)
                return DISP_E_MEMBERNOTFOUND;
            handler = &e->get;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
    } else {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs > 0)
            return DISP_E_NONAMEDARGS;
        handler = &e->call;
        types = e->params;
    }
    if (params->cArgs != types.size())
        return DISP_E_BADPARAMCOUNT;

    std::vector<Variant> args(types.size());
    for (size_t i = 0; i < types.size(); ++i) {
        // Argument i of the declaration sits at the mirrored place.
        UINT slot = UINT(types.size() - 1 - i);
        const VARIANT* src = &params->rgvarg[slot];
        if (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal)
            src = src->pvarVal;
        HRESULT hr = types[i] == VT_VARIANT ? VariantCopy(&args[i], src)
                                            : VariantChangeType(&args[i], src, 0, types[i]);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = slot;
            return DISP_E_TYPEMISMATCH;
        }
    }
    Variant ignored;
    try {
        return (*handler)(args, result ? result : &ignored);
    } catch (const std::exception& ex) {
        fillException(excep, ex.what());
        return DISP_E_EXCEPTION;
    }
}

// ---- connection point ------------------------------------------------------------------

ConnectionPoint::ConnectionPoint(const IID& iid, IConnectionPointContainer* container)
    : iid_(iid), container_(container)
{
}

ConnectionPoint::~ConnectionPoint()
{
    for (auto& s : sinks_)
        s.second->Release();
}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppv)
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

ULONG ConnectionPoint::AddRef() { return ++refs_; }

ULONG ConnectionPoint::Release()
{
    ULONG r = --refs_;
    if (r == 0)
        delete this;
    return r;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = container_;
    if (container_)
        container_->AddRef();
    return container_ ? S_OK : E_FAIL;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    void* p = nullptr;
    if (FAILED(sink->QueryInterface(iid_, &p)) || !p) {
        if (FAILED(sink->QueryInterface(IID_IDispatch, &p)) || !p)
            return CONNECT_E_ADVISELIMIT;
    }
    DWORD c = nextCookie_++;
    sinks_.emplace_back(c, static_cast<IDispatch*>(p));
    *cookie = c;
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie)
{
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
        if (it->first == cookie) {
            IDispatch* d = it->second;
            sinks_.erase(it);
            d->Release();
            return S_OK;
        }
    return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** e)
{
    if (e)
        *e = nullptr;
    return E_NOTIMPL;
}

void ConnectionPoint::fire(DISPID id, const std::vector<Variant>& args)
{
    // A copy, so a sink that unadvises while being called does not upset the walk.
    std::vector<ComPtr<IDispatch>> sinks;
    for (auto& s : sinks_)
        sinks.emplace_back(s.second);
    for (auto& sink : sinks) {
        std::vector<VARIANT> reversed(args.size());
        for (size_t i = 0; i < args.size(); ++i)
            reversed[args.size() - 1 - i] = args[i]; // shallow: the arguments stay ours
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
        Variant result;
        EXCEPINFO excep{};
        UINT argErr = 0;
        HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep, &argErr);
        if (FAILED(hr) && (excep.bstrDescription || excep.bstrSource || excep.scode)) {
            ComPtr<ICreateErrorInfo> create;
            if (SUCCEEDED(CreateErrorInfo(create.out()))) {
                create->SetDescription(excep.bstrDescription);
                create->SetSource(excep.bstrSource);
                create->SetHelpFile(excep.bstrHelpFile);
                create->SetHelpContext(excep.dwHelpContext);
                ComPtr<IErrorInfo> info;
                if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.out()))))
                    SetErrorInfo(0, info.get());
            }
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
}

// ---- class factory ------------------------------------------------------------------------

ClassFactory::ClassFactory(Creator creator) : creator_(std::move(creator)) {}

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() { return ++refs_; }

ULONG ClassFactory::Release()
{
    ULONG r = --refs_;
    if (r == 0)
        delete this;
    return r;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return creator_(riid, ppv);
}

HRESULT ClassFactory::LockServer(BOOL lock)
{
    if (lock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}

} // namespace platform
