#include "platform/Com.h"
#include "platform/TextConv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

using platform::BStr;
using platform::ComPtr;
using platform::Variant;

namespace {

// An object whose IDispatch is a dispatch table.
class Calculator : public IDispatch {
public:
    Calculator()
    {
        table_.method(u"Add", 1, {VT_I4, VT_I4}, [](std::vector<Variant>& a, VARIANT* r) {
            r->vt = VT_I4;
            r->lVal = a[0].lVal * 10 + a[1].lVal; // order-sensitive on purpose
            return S_OK;
        });
        table_.method(u"Fail", 2, {}, [](std::vector<Variant>&, VARIANT*) -> HRESULT {
            throw std::runtime_error("broken \xC3\xA9");
        });
        table_.property(u"Caption", DISPID_CAPTION, VT_BSTR,
                        [this](std::vector<Variant>&, VARIANT* r) {
                            r->vt = VT_BSTR;
                            r->bstrVal = SysAllocString(caption_.c_str());
                            return S_OK;
                        },
                        [this](std::vector<Variant>& a, VARIANT*) {
                            caption_ = a[0].bstrVal ? a[0].bstrVal : u"";
                            return S_OK;
                        });
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return table_.getIDsOfNames(names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) override
    {
        return table_.invoke(id, flags, p, r, e, a);
    }
    std::u16string caption_;
    ULONG refs_ = 1;

private:
    platform::DispatchTable table_;
};

TEST(DispatchTable, InvokesByDispidWithCoercionAndReportsErrors)
{
    Calculator calc;
    LPOLESTR name = const_cast<LPOLESTR>(u"aDD");
    DISPID id = 0;
    ASSERT_EQ(calc.GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
    LPOLESTR unknown = const_cast<LPOLESTR>(u"Sub");
    EXPECT_EQ(calc.GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);

    // Arguments arrive reversed: Add(3, "4") is rgvarg = {"4", 3}.
    Variant args[2];
    args[0] = Variant::fromString(u"4");
    args[1] = Variant::fromDouble(2.5); // rounds to 2
    DISPPARAMS dp{args, nullptr, 2, 0};
    Variant result;
    UINT argErr = 99;
    ASSERT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, &argErr), S_OK);
    EXPECT_EQ(result.lVal, 24);

    args[0] = Variant::fromString(u"four");
    EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    DISPPARAMS one{args, nullptr, 1, 0};
    EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, &argErr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(calc.Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, &argErr), DISP_E_MEMBERNOTFOUND);

    // A property put carries the named DISPID_PROPERTYPUT argument.
    Variant value = Variant::fromString(u"Title");
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &putId, 1, 1};
    ASSERT_EQ(calc.Invoke(DISPID_CAPTION, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(calc.caption_, u"Title");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant got;
    ASSERT_EQ(calc.Invoke(DISPID_CAPTION, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &got, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(got.bstrVal), u"Title");

    EXCEPINFO ex{};
    EXPECT_EQ(calc.Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &ex, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(std::u16string(ex.bstrDescription), u"broken \u00e9");
    SysFreeString(ex.bstrDescription);
}

// A sink recording what reaches it; it can fail with exception information.
class Sink : public IDispatch {
public:
    explicit Sink(std::vector<std::string>* journal, const char* name) : journal_(journal), name_(name) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO* e, UINT*) override
    {
        std::string entry = name_ + ":" + std::to_string(id) + ":" + std::to_string(lcid) + ":" + std::to_string(flags);
        for (UINT i = 0; i < p->cArgs; ++i)
            entry += ":" + std::to_string(p->rgvarg[i].vt) + "=" + std::to_string(p->rgvarg[i].lVal);
        journal_->push_back(entry);
        if (fail && e) {
            e->bstrDescription = SysAllocString(u"sink failed");
            e->scode = E_FAIL;
            return DISP_E_EXCEPTION;
        }
        return S_OK;
    }
    ULONG refs = 1;
    bool fail = false;

private:
    std::vector<std::string>* journal_;
    std::string name_;
};

TEST(ConnectionPoint, SinksInAdviseOrderWithArgumentsUnchanged)
{
    std::vector<std::string> journal;
    Sink a(&journal, "a"), b(&journal, "b");
    auto* cp = new platform::ConnectionPoint(IID_IDispatch, nullptr);
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(cp->Advise(&a, &ca), S_OK);
    ASSERT_EQ(cp->Advise(&b, &cb), S_OK);
    EXPECT_EQ(ca, 1u);
    EXPECT_EQ(cb, 2u);
    // A VT_BOOL holding 1 stays 1; arguments go reversed.
    Variant flag;
    flag.vt = VT_BOOL;
    flag.boolVal = 1;
    cp->fire(7, {Variant::fromLong(5), flag});
    EXPECT_EQ(journal, (std::vector<std::string>{"a:7:1024:1:11=1:3=5", "b:7:1024:1:11=1:3=5"}));

    journal.clear();
    EXPECT_EQ(cp->Unadvise(ca), S_OK);
    EXPECT_EQ(cp->Unadvise(ca), CONNECT_E_NOCONNECTION);
    b.fail = true;
    IErrorInfo* stale = nullptr;
    GetErrorInfo(0, &stale); // empty the slot
    if (stale)
        stale->Release();
    cp->fire(8, {});
    EXPECT_EQ(journal, (std::vector<std::string>{"b:8:1024:1"}));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.out()), S_OK);
    BStr desc;
    info->GetDescription(desc.out());
    EXPECT_EQ(desc.str(), u"sink failed");
    IErrorInfo* again = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE); // taken
    cp->Release();
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u); // the point released its sinks
}

TEST(Module, LoadLibraryRunsDllMainAndTheFactoryFollowsTheLockCount)
{
    std::u16string path = Utf8ToUtf16(ORBEL_TEST_MODULE);
    setenv("ORBEL_TEST_MODULE_REFUSE", "1", 1);
    EXPECT_EQ(LoadLibraryW(path.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DLL_INIT_FAILED));
    unsetenv("ORBEL_TEST_MODULE_REFUSE");

    HMODULE mod = LoadLibraryW(path.c_str());
    ASSERT_NE(mod, nullptr);
    auto attached = reinterpret_cast<int (*)()>(GetProcAddress(mod, "TestModuleAttachCount"));
    auto getClass = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(GetProcAddress(mod, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<HRESULT (*)()>(GetProcAddress(mod, "DllCanUnloadNow"));
    ASSERT_TRUE(attached && getClass && canUnload);
    EXPECT_EQ(GetProcAddress(mod, "NoSuchExport"), nullptr);
    EXPECT_EQ(attached(), 1);
    EXPECT_EQ(GetModuleHandleW(path.c_str()), mod);
    char16_t name[1024];
    EXPECT_EQ(GetModuleFileNameW(mod, name, 1024), DWORD(path.size()));
    EXPECT_EQ(std::u16string(name), path);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClass(GUID_NULL, IID_IClassFactory, reinterpret_cast<void**>(factory.out())), S_OK);
    EXPECT_EQ(canUnload(), S_OK);
    ComPtr<IUnknown> outer;
    ComPtr<IUnknown> thing;
    Calculator aggregator;
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&aggregator, IID_IUnknown, &refused), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(thing.out())), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    thing.reset();
    EXPECT_EQ(canUnload(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_OK);
    factory.reset();
    EXPECT_TRUE(FreeLibrary(mod));
    EXPECT_FALSE(FreeLibrary(mod));
}

const char* kScript = R"(HKCR
{
	NoRemove AppID
	{
		'%APPID%' = s 'QuillonActiveX'
		'QuillonActiveX.DLL'
		{
			val AppID = s '%APPID%'
		}
	}
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
		{
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'MiscStatus' = s '0'
			val Flags = d '17'
		}
	}
}
)";

std::u16string readString(HKEY root, const char16_t* path, const char16_t* value)
{
    HKEY k;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return u"<no key>";
    DWORD type = 0, size = 0;
    std::u16string out = u"<no value>";
    if (RegQueryValueExW(k, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> bytes(size);
        RegQueryValueExW(k, value, nullptr, &type, bytes.data(), &size);
        out.clear();
        for (DWORD i = 0; i + 1 < size; i += 2)
            if (bytes[i] || bytes[i + 1])
                out.push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
    }
    RegCloseKey(k);
    return out;
}

bool keyExists(const char16_t* path)
{
    HKEY k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

TEST(Registrar, RegistersAndUnregistersAScript)
{
    platform::ResetRegistry();
    std::map<std::string, std::string> repl{{"APPID", "{AAAAAAAA-0000-0000-0000-000000000001}"},
                                            {"MODULE", "/x/orbel.so"}};
    ASSERT_EQ(platform::RegistryScriptApply(kScript, repl, true), S_OK);
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, u"AppID\\{AAAAAAAA-0000-0000-0000-000000000001}", u""), u"QuillonActiveX");
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, u"appid\\QuillonActiveX.DLL", u"AppID"),
              u"{AAAAAAAA-0000-0000-0000-000000000001}");
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32",
                         u"ThreadingModel"),
              u"Apartment");
    HKEY k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{11111111-2222-3333-4444-555555555555}", 0, KEY_READ, &k),
              ERROR_SUCCESS);
    DWORD type = 0, flags = 0, size = 4;
    ASSERT_EQ(RegQueryValueExW(k, u"Flags", nullptr, &type, reinterpret_cast<BYTE*>(&flags), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(flags, 17u);
    size = 1;
    BYTE tiny[1];
    EXPECT_EQ(RegQueryValueExW(k, u"", nullptr, &type, tiny, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 24u); // "Thing Class" and its terminator
    RegCloseKey(k);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"CLSID"), ERROR_ACCESS_DENIED); // has subkeys

    // A malformed script changes nothing, not even its well-formed start.
    std::string broken = std::string(kScript) + "HKCR { NewKey = s 'x' ";
    EXPECT_EQ(platform::RegistryScriptApply(broken, repl, true), E_FAIL);
    EXPECT_FALSE(keyExists(u"NewKey"));
    EXPECT_EQ(platform::RegistryScriptApply("HKCR { A = s 'x' }", {}, true), S_OK);
    EXPECT_EQ(platform::RegistryScriptApply("HKCR { %UNKNOWN% }", {}, true), E_FAIL);
    EXPECT_EQ(platform::RegistryScriptApply("HKCR { B = q 'x' }", {}, true), E_FAIL);
    EXPECT_FALSE(keyExists(u"B"));

    ASSERT_EQ(platform::RegistryScriptApply(kScript, repl, false), S_OK);
    EXPECT_TRUE(keyExists(u"AppID"));
    EXPECT_FALSE(keyExists(u"AppID\\{AAAAAAAA-0000-0000-0000-000000000001}"));
    EXPECT_FALSE(keyExists(u"AppID\\QuillonActiveX.DLL"));
    EXPECT_TRUE(keyExists(u"CLSID"));
    EXPECT_FALSE(keyExists(u"CLSID\\{11111111-2222-3333-4444-555555555555}"));
    EXPECT_TRUE(keyExists(u"A"));
    platform::ResetRegistry();
}

} // namespace
