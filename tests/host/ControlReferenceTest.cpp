// docs/control.md against the control as a page meets it, so the reference cannot fall
// behind: the methods its type information describes, the properties its dispatch
// interface answers (and which of them refuse a write), the number of arguments each
// method takes, and the events orbel-host names.
#include "host/script/HostScript.h"

#include "platform/Com.h"
#include "platform/TextConv.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

namespace {

const CLSID kViewer = {0x34D6249F, 0xF98A, 0x4F07, {0x81, 0x6D, 0x87, 0xA1, 0x7A, 0x47, 0xD2, 0xD8}};

struct Member {
    DISPID id = 0;
    int arguments = -1;   // methods: the count in "`Name(...)`"
    bool readOnly = false; // properties
};

// The "### `Name`, dispatch id N" entries of each "## Methods|Properties|Events" section,
// with the first line of text after each.
std::map<std::string, std::map<std::string, Member>> readReference()
{
    std::ifstream f(std::string(ORBEL_SOURCE_DIR) + "/docs/control.md");
    std::map<std::string, std::map<std::string, Member>> out;
    // "### `Name`, dispatch id N": the name and N, or false.
    auto heading = [](const std::string& line, std::string& name, DISPID& id) {
        const std::string lead = "### `", middle = "`, dispatch id ";
        const size_t tick = line.find('`', lead.size());
        if (line.compare(0, lead.size(), lead) != 0 || tick == std::string::npos ||
            line.compare(tick, middle.size(), middle) != 0)
            return false;
        name = line.substr(lead.size(), tick - lead.size());
        try {
            size_t used = 0;
            id = std::stoi(line.substr(tick + middle.size()), &used);
            return tick + middle.size() + used == line.size();
        } catch (const std::exception&) {
            return false;
        }
    };
    std::string line, section, paragraph;
    Member* last = nullptr;
    // The paragraph after a heading, once it ends.
    auto take = [&] {
        // "`Name(a: type, b: type)`": the count of arguments.
        const size_t open = paragraph.find('('), close = paragraph.find(')');
        if (paragraph[0] == '`' && open != std::string::npos && close != std::string::npos && open < close &&
            paragraph.find_first_of(" `", 1) > open) {
            const std::string args = paragraph.substr(open + 1, close - open - 1);
            last->arguments = args.empty() ? 0 : int(std::count(args.begin(), args.end(), ',')) + 1;
        }
        last->readOnly = paragraph.find("read only") != std::string::npos;
        last = nullptr;
        paragraph.clear();
    };
    std::string name;
    DISPID id = 0;
    while (std::getline(f, line)) {
        if (last && line.empty() && !paragraph.empty())
            take();
        if (line.compare(0, 3, "## ") == 0) {
            section = line.substr(3);
        } else if (heading(line, name, id)) {
            last = &out[section][name];
            last->id = id;
        } else if (last && !line.empty()) {
            paragraph += (paragraph.empty() ? "" : " ") + line;
        }
    }
    if (last)
        take();
    return out;
}

struct Control {
    HMODULE module = LoadLibraryW(Utf8ToUtf16(ORBEL_VIEWER_MODULE).c_str());
    platform::ComPtr<IDispatch> dispatch;
    Control()
    {
        using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObject>(GetProcAddress(module, "DllGetClassObject"));
        platform::ComPtr<IClassFactory> factory;
        if (get && get(kViewer, IID_IClassFactory, reinterpret_cast<void**>(factory.out())) == S_OK)
            factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(dispatch.out()));
    }
    ~Control()
    {
        dispatch.reset();
        if (module)
            FreeLibrary(module);
    }
    HRESULT idOf(const std::string& name, DISPID& id)
    {
        std::u16string wide = Utf8ToUtf16(name);
        LPOLESTR names[] = {wide.data()};
        return dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    }
    HRESULT invoke(DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{args.empty() ? nullptr : args.data(), flags == DISPATCH_PROPERTYPUT ? &named : nullptr,
                          UINT(args.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        EXCEPINFO excep{};
        UINT argErr = 0;
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr);
    }
};

TEST(ControlReference, MethodsAreThoseOfTheTypeInformation)
{
    auto reference = readReference();
    const auto& documented = reference["Methods"];
    ASSERT_FALSE(documented.empty()) << "docs/control.md lists no methods";
    Control c;
    ASSERT_TRUE(c.dispatch);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(c.dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    std::map<std::string, DISPID> described;
    for (DISPID id = -1000; id <= 1000; ++id) {
        BSTR name = nullptr;
        if (info->GetDocumentation(id, &name, nullptr, nullptr, nullptr) == S_OK && id != MEMBERID_NIL)
            described[Utf16ToUtf8(std::u16string(name, SysStringLen(name)))] = id;
        SysFreeString(name);
    }
    info->Release();
    std::map<std::string, DISPID> listed;
    for (const auto& m : documented)
        listed[m.first] = m.second.id;
    EXPECT_EQ(listed, described);

    // Arguments of a type no member takes: the right count meets a type mismatch before
    // the method runs, one more is the wrong count.
    for (const auto& m : documented) {
        SCOPED_TRACE(m.first);
        DISPID id = 0;
        EXPECT_EQ(c.idOf(m.first, id), S_OK);
        EXPECT_EQ(id, m.second.id);
        ASSERT_GE(m.second.arguments, 0) << "no `" << m.first << "(...)` line";
        VARIANT odd;
        VariantInit(&odd);
        odd.vt = VT_DISPATCH;
        odd.pdispVal = nullptr;
        if (m.second.arguments > 0) {
            EXPECT_EQ(c.invoke(id, DISPATCH_METHOD, std::vector<VARIANT>(size_t(m.second.arguments), odd)),
                      DISP_E_TYPEMISMATCH);
        }
        EXPECT_EQ(c.invoke(id, DISPATCH_METHOD, std::vector<VARIANT>(size_t(m.second.arguments) + 1, odd)),
                  DISP_E_BADPARAMCOUNT);
    }
}

TEST(ControlReference, PropertiesAreThoseTheDispatchInterfaceAnswers)
{
    auto reference = readReference();
    const auto& documented = reference["Properties"];
    ASSERT_FALSE(documented.empty()) << "docs/control.md lists no properties";
    Control c;
    ASSERT_TRUE(c.dispatch);
    std::set<DISPID> methods;
    for (const auto& m : reference["Methods"])
        methods.insert(m.second.id);
    std::set<DISPID> answered, listed;
    for (DISPID id = -1000; id <= 1000; ++id) {
        platform::Variant value;
        if (!methods.count(id) && c.invoke(id, DISPATCH_PROPERTYGET, {}, &value) != DISP_E_MEMBERNOTFOUND)
            answered.insert(id);
    }
    for (const auto& p : documented) {
        SCOPED_TRACE(p.first);
        listed.insert(p.second.id);
        DISPID id = 0;
        EXPECT_EQ(c.idOf(p.first, id), S_OK);
        EXPECT_EQ(id, p.second.id);
        platform::Variant value;
        ASSERT_EQ(c.invoke(id, DISPATCH_PROPERTYGET, {}, &value), S_OK);
        VARIANT same = value;
        EXPECT_EQ(c.invoke(id, DISPATCH_PROPERTYPUT, {same}), p.second.readOnly ? DISP_E_MEMBERNOTFOUND : S_OK);
    }
    EXPECT_EQ(listed, answered);
}

TEST(ControlReference, EventsAreThoseTheHostNames)
{
    auto reference = readReference();
    std::map<std::string, DISPID> listed, named;
    for (const auto& e : reference["Events"])
        listed[e.first] = e.second.id;
    for (int id = -100; id <= 1000; ++id)
        if (const char* name = hostscript::EventName(id))
            named[name] = id;
    EXPECT_EQ(listed, named);
}

} // namespace
