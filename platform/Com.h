// COM part of the Windows stand-in: HRESULTs, BSTRs, VARIANTs, the basic interfaces,
// thread error information, an in-memory registry with a registry-script registrar,
// and helpers (owners, a dispatch table, a connection point, a class factory).
#pragma once

#include "platform/Kernel.h"
#include "platform/Win32.h"
#include "platform/WinTypes.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT name
#define STDMETHOD_(type, name) virtual type name

#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001L)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003L)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004L)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006L)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007L)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009L)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000AL)
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000EL)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000FL)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200L)
#define CONNECT_E_ADVISELIMIT ((HRESULT)0x80040201L)
#define SELFREG_E_CLASS ((HRESULT)0x80040201L)
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802BL)

typedef LONG DISPID;
typedef DWORD LCID;
typedef uint16_t VARTYPE;

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_AUTOSIZE (-500)
#define DISPID_BACKCOLOR (-501)
#define DISPID_BACKSTYLE (-502)
#define DISPID_BORDERCOLOR (-503)
#define DISPID_BORDERSTYLE (-504)
#define DISPID_BORDERWIDTH (-505)
#define DISPID_DRAWMODE (-507)
#define DISPID_DRAWSTYLE (-508)
#define DISPID_DRAWWIDTH (-509)
#define DISPID_FILLCOLOR (-510)
#define DISPID_FILLSTYLE (-511)
#define DISPID_FONT (-512)
#define DISPID_FORECOLOR (-513)
#define DISPID_ENABLED (-514)
#define DISPID_HWND (-515)
#define DISPID_TABSTOP (-516)
#define DISPID_TEXT (-517)
#define DISPID_CAPTION (-518)
#define DISPID_BORDERVISIBLE (-519)
#define DISPID_APPEARANCE (-520)

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_BYREF = 0x4000,
};

// Interface identifiers.
extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IClassFactory;
extern const IID IID_IConnectionPointContainer;
extern const IID IID_IConnectionPoint;
extern const IID IID_IErrorInfo;
extern const IID IID_ICreateErrorInfo;
extern const IID IID_ISupportErrorInfo;
extern const IID IID_IObjectSafety;
extern const IID IID_IPropertyNotifySink;
extern const GUID GUID_NULL;

struct ITypeInfo;
struct IEnumConnections;
struct IEnumConnectionPoints;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    HRESULT scode;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** e) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* context) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD context) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002

struct IObjectSafety : IUnknown {
    virtual HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) = 0;

protected:
    ~IObjectSafety() = default;
};

struct IPropertyNotifySink : IUnknown {
    virtual HRESULT OnChanged(DISPID id) = 0;
    virtual HRESULT OnRequestEdit(DISPID id) = 0;

protected:
    ~IPropertyNotifySink() = default;
};

// ---- OLE control interfaces (the members a container uses here) -------------------
extern const IID IID_IOleObject;
extern const IID IID_IOleInPlaceObject;
extern const IID IID_IOleInPlaceActiveObject;
extern const IID IID_IOleControl;
extern const IID IID_IPersistPropertyBag;
extern const IID IID_IPropertyBag;
extern const IID IID_ITypeInfo;

#define OLEIVERB_INPLACEACTIVATE (-5)
#define OLECLOSE_SAVEIFDIRTY 0
#define OLECLOSE_NOSAVE 1
#define MEMBERID_NIL DISPID_UNKNOWN
typedef DISPID MEMBERID;

// The container's side; the control keeps it but asks nothing of it.
struct IOleClientSite : IUnknown {
protected:
    ~IOleClientSite() = default;
};

struct IOleObject : IUnknown {
    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT DoVerb(LONG verb, MSG* msg, IOleClientSite* site, LONG index, HWND parent,
                           const RECT* position) = 0;
    virtual HRESULT Close(DWORD saveOption) = 0;

protected:
    ~IOleObject() = default;
};

struct IOleInPlaceObject : IUnknown {
    virtual HRESULT GetWindow(HWND* hwnd) = 0;
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT SetObjectRects(const RECT* position, const RECT* clip) = 0;

protected:
    ~IOleInPlaceObject() = default;
};

struct IOleInPlaceActiveObject : IUnknown {
    // S_OK: the control consumed the message; S_FALSE: dispatch it as usual.
    virtual HRESULT TranslateAccelerator(MSG* msg) = 0;

protected:
    ~IOleInPlaceActiveObject() = default;
};

struct IOleControl : IUnknown {
    virtual HRESULT FreezeEvents(BOOL freeze) = 0;

protected:
    ~IOleControl() = default;
};

struct IPropertyBag : IUnknown {
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, void* errorLog) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;

protected:
    ~IPropertyBag() = default;
};

struct IPersistPropertyBag : IUnknown {
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* bag, void* errorLog) = 0;
    virtual HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) = 0;

protected:
    ~IPersistPropertyBag() = default;
};

// ---- streams and stream persistence (the members a container and a control use) -----
extern const IID IID_ISequentialStream;
extern const IID IID_IStream;
extern const IID IID_IPersist;
extern const IID IID_IPersistStreamInit;

#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001L)
#define STG_E_SEEKERROR ((HRESULT)0x80030019L)
#define STG_E_WRITEFAULT ((HRESULT)0x8003001DL)
#define STG_E_READFAULT ((HRESULT)0x8003001EL)
#define STG_E_MEDIUMFULL ((HRESULT)0x80030070L)
#define STG_E_INVALIDHEADER ((HRESULT)0x800300FBL)
#define STG_E_OLDFORMAT ((HRESULT)0x80030104L)

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

struct LARGE_INTEGER {
    LONGLONG QuadPart;
};
struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

struct ISequentialStream : IUnknown {
    // Fewer bytes than asked (S_FALSE) only at the end of the stream.
    virtual HRESULT Read(void* buffer, ULONG bytes, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG bytes, ULONG* written) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;

protected:
    ~IStream() = default;
};

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

protected:
    ~IPersist() = default;
};

struct IPersistStreamInit : IPersist {
    // S_OK when changed since the last save, S_FALSE otherwise.
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
    virtual HRESULT InitNew() = 0;

protected:
    ~IPersistStreamInit() = default;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    // MEMBERID_NIL describes the type itself.
    virtual HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) = 0;

protected:
    ~ITypeInfo() = default;
};

// ---- BSTR: length prefix (bytes), NUL end, embedded NULs kept; NULL means empty ----
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
void SysFreeString(BSTR text);

// ---- VARIANT ----------------------------------------------------------------------
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// To VT_I4: R8 rounds half to even, a BSTR must be a whole decimal number; to VT_BOOL:
// non-zero is VARIANT_TRUE. dst may be src.
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, WORD flags, VARTYPE vt);

// ---- thread error information -----------------------------------------------------
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
HRESULT CreateErrorInfo(ICreateErrorInfo** info);

// ---- in-memory registry -------------------------------------------------------------
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                     void* security, PHKEY result, LPDWORD disposition);
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
// Fails while the key has subkeys.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegCloseKey(HKEY key);

namespace platform {

// Empties the registry (tests).
void ResetRegistry();

// Applies a registry script: keys under HKCR/HKCU/HKLM in braces, quoted or bare names,
// "= s 'text'" default values, "val Name = s 'text'" (or "d 'number'") named values,
// NoRemove and ForceRemove, %NAME% replaced from the map. The whole script is parsed
// before anything is written; a malformed script changes nothing and fails with E_FAIL.
HRESULT RegistryScriptApply(const std::string& script, const std::map<std::string, std::string>& replacements,
                            bool registering);

// ---- owners ---------------------------------------------------------------------------

// Owns a BSTR.
class BStr {
public:
    BStr() = default;
    explicit BStr(const OLECHAR* text) : b_(SysAllocString(text)) {}
    explicit BStr(const std::u16string& text) : b_(SysAllocStringLen(text.data(), UINT(text.size()))) {}
    BStr(const BStr& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {}
    BStr(BStr&& o) noexcept : b_(o.b_) { o.b_ = nullptr; }
    BStr& operator=(BStr o) noexcept
    {
        std::swap(b_, o.b_);
        return *this;
    }
    ~BStr() { SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* out()
    {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR detach()
    {
        BSTR b = b_;
        b_ = nullptr;
        return b;
    }
    UINT length() const { return SysStringLen(b_); }
    std::u16string str() const { return b_ ? std::u16string(b_, SysStringLen(b_)) : std::u16string(); }

private:
    BSTR b_ = nullptr;
};

// Owns a VARIANT.
class Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    Variant(const VARIANT& v)
    {
        VariantInit(this);
        VariantCopy(this, &v);
    }
    Variant(const Variant& v) : Variant(static_cast<const VARIANT&>(v)) {}
    Variant& operator=(const Variant& v)
    {
        if (this != &v)
            VariantCopy(this, &v);
        return *this;
    }
    ~Variant() { VariantClear(this); }
    static Variant fromLong(LONG v);
    static Variant fromBool(bool v);
    static Variant fromDouble(double v);
    static Variant fromString(const std::u16string& s);
};

// Owns one reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) // takes a new reference
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr()
    {
        if (p_)
            p_->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters that hand over a reference.
    T** out()
    {
        reset();
        return &p_;
    }
    void reset()
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// ---- module lock count behind DllCanUnloadNow ------------------------------------
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();
// S_OK when nothing holds the module, S_FALSE otherwise.
HRESULT ModuleCanUnloadNow();

// ---- dispatch table -------------------------------------------------------------------
// Implements Invoke and GetIDsOfNames by DISPID: names match case-insensitively,
// arguments arrive in reverse order and are coerced to the declared types.
class DispatchTable {
public:
    // Arguments in declaration order, already coerced.
    using Handler = std::function<HRESULT(std::vector<Variant>& args, VARIANT* result)>;

    void method(const std::u16string& name, DISPID id, std::vector<VARTYPE> params, Handler handler);
    // get may be empty (write-only), put may be empty (read-only).
    void property(const std::u16string& name, DISPID id, VARTYPE type, Handler get, Handler put);

    HRESULT getIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* argErr) const;

private:
    struct Entry {
        std::u16string name;
        DISPID id = 0;
        std::vector<VARTYPE> params;
        Handler call;
        VARTYPE type = VT_EMPTY;
        Handler get;
        Handler put;
        bool isProperty = false;
    };
    const Entry* find(DISPID id) const;
    std::vector<Entry> entries_;
};

// ---- connection point -------------------------------------------------------------
// Keeps sinks in Advise order (cookies from 1) and fires events through their
// IDispatch::Invoke, passing arguments unchanged.
class ConnectionPoint : public IConnectionPoint {
public:
    ConnectionPoint(const IID& iid, IConnectionPointContainer* container);
    virtual ~ConnectionPoint();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(IEnumConnections** e) override;

    // Arguments in declaration order; they are handed to each sink reversed. A failing
    // sink's EXCEPINFO becomes the thread's error information.
    void fire(DISPID id, const std::vector<Variant>& args);
    size_t sinkCount() const { return sinks_.size(); }

private:
    IID iid_;
    IConnectionPointContainer* container_;
    ULONG refs_ = 1;
    DWORD nextCookie_ = 1;
    std::vector<std::pair<DWORD, IDispatch*>> sinks_;
};

// ---- streams ------------------------------------------------------------------------

// A growable stream in memory holding `bytes`, positioned at their start (one reference).
HRESULT CreateMemoryStream(const std::vector<BYTE>& bytes, IStream** stream);
// Everything a stream holds, read from its start; its position is kept.
HRESULT StreamBytes(IStream* stream, std::vector<BYTE>& bytes);

// ---- class factory ------------------------------------------------------------------
// Creates objects through a function; refuses aggregation; LockServer holds the module.
class ClassFactory : public IClassFactory {
public:
    using Creator = std::function<HRESULT(REFIID riid, void** ppv)>;
    explicit ClassFactory(Creator creator);
    virtual ~ClassFactory() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL lock) override;

private:
    Creator creator_;
    ULONG refs_ = 1;
};

} // namespace platform
