// The control framework: what a control a page embeds shares with every other one.
// In-place activation in a child window, dispatch through a derived class's table,
// stock properties with the container's permission, connection points for events and
// property notifications, persistence through property bags and streams, object safety.
#pragma once

#include "platform/AtlWindow.h"
#include "platform/Com.h"
#include "platform/Gdi.h"

#include <string>

namespace platform {
class PropertyNotifyPoint;
}

struct OleDrawInfo {
    HDC hdc = nullptr;
    RECT bounds{}; // the control's client area
};

class OleControlBase : public CWindowImplBase,
                       public IDispatch,
                       public IOleObject,
                       public IOleInPlaceObject,
                       public IOleInPlaceActiveObject,
                       public IOleControl,
                       public IPersistPropertyBag,
                       public IPersistStreamInit,
                       public IConnectionPointContainer,
                       public IObjectSafety {
public:
    // Flag word bits. The two stock booleans live in it too.
    static constexpr DWORD kFlagWindowOnly = 0x2;
    static constexpr DWORD kFlagActivateWhenVisible = 0x40;
    static constexpr DWORD kFlagAutoSize = 0x10000;
    static constexpr DWORD kFlagBorderVisible = 0x20000;

    // eventIid: the outgoing interface; primary: the dual interface QueryInterface hands out
    // besides IDispatch.
    OleControlBase(const IID& eventIid, const IID& primary);

    // IUnknown: reference counts own the control; the last Release destroys its window
    // and deletes it.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IDispatch through dispatchTable() and typeInfo().
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override;

    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT DoVerb(LONG verb, MSG* msg, IOleClientSite* site, LONG index, HWND parent, const RECT* position) override;
    HRESULT Close(DWORD saveOption) override;
    HRESULT GetWindow(HWND* hwnd) override;
    HRESULT InPlaceDeactivate() override;
    HRESULT SetObjectRects(const RECT* position, const RECT* clip) override;
    HRESULT TranslateAccelerator(MSG* msg) override;
    HRESULT FreezeEvents(BOOL freeze) override;
    // Both persistence interfaces: a new control keeps its construction values.
    HRESULT InitNew() override;
    HRESULT Load(IPropertyBag* bag, void* errorLog) override;
    HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    // The persisted stock properties in the byte form of platform/PropertyStream.h. Load
    // takes every property the stream names (names it does not know are skipped, absent
    // ones keep their values), or none when the stream is damaged.
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT IsDirty() override;
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, BOOL clearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override;
    HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
    HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

    // Stock properties. Gets: E_POINTER for a null out-pointer; booleans read -1 or 0.
    // Puts: permission unless frozen (refused: S_FALSE, nothing changes), store, dirty,
    // OnChanged unless frozen, redraw, data-change hook.
    HRESULT get_AutoSize(VARIANT_BOOL* v);
    HRESULT put_AutoSize(VARIANT_BOOL v);
    HRESULT get_BorderColor(LONG* v);
    HRESULT put_BorderColor(LONG v);
    HRESULT get_BorderStyle(LONG* v);
    HRESULT put_BorderStyle(LONG v);
    HRESULT get_BorderWidth(LONG* v);
    HRESULT put_BorderWidth(LONG v);
    HRESULT get_HWND(LONG* v);
    HRESULT get_Caption(BSTR* v);
    HRESULT put_Caption(BSTR v);
    HRESULT get_BorderVisible(VARIANT_BOOL* v);
    HRESULT put_BorderVisible(VARIANT_BOOL v);
    HRESULT get_Appearance(LONG* v);
    HRESULT put_Appearance(LONG v);

    DWORD controlFlags() const { return flags_; }
    bool isDirty() const { return dirty_; }
    int freezeCount() const { return freeze_; }

protected:
    virtual ~OleControlBase();

    // Adds the stock properties to a derived class's table.
    void addStockProperties(platform::DispatchTable& table);
    virtual const platform::DispatchTable& dispatchTable() const = 0;
    virtual ITypeInfo* typeInfo() = 0;
    virtual std::u16string windowClassName() const = 0;
    // The class a saved stream belongs to.
    virtual const CLSID& classId() const = 0;

    virtual void OnDraw(const OleDrawInfo&) {}
    // True consumes the key message before it is dispatched.
    virtual bool PreTranslateAccelerator(MSG*) { return false; }
    virtual void OnDataChanged() {}

    // Derived classes handle messages first and fall back to this (painting).
    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    ClassInfo GetWndClassInfo() const override;

    platform::ConnectionPoint& eventPoint() { return *events_; }
    void setFlag(DWORD bit, bool on) { flags_ = on ? (flags_ | bit) : (flags_ & ~bit); }

private:
    template <class Store>
    HRESULT putStock(DISPID id, Store store);
    void storeStock(DISPID id, const VARIANT& v);
    platform::Variant stockValue(DISPID id);

    IID primary_;
    ULONG refs_ = 1;
    DWORD flags_ = 0;
    int freeze_ = 0;
    bool dirty_ = false;
    DWORD safety_ = 0;
    LONG borderColor_ = 0;
    LONG borderStyle_ = 0;
    LONG borderWidth_ = 0;
    LONG appearance_ = 0;
    BSTR caption_ = nullptr;
    IOleClientSite* site_ = nullptr;
    platform::ConnectionPoint* events_ = nullptr;
    platform::PropertyNotifyPoint* notify_ = nullptr;
};
