#include "facade/OrbelViewer.h"

#include "facade/OrbelViewerIds.h"
#include "facade/OrbelViewerTypeInfo.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "diagnostics/Logging.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"

#include <new>
#include <string>

ORBEL_SOURCE_NAME(".\\facade\\OrbelViewer")

namespace {

LONG fatalErrorFilter(EXCEPTION_POINTERS*)
{
    ORBEL_LOG(FATAL) << "FATAL Error";
    return EXCEPTION_EXECUTE_HANDLER;
}

// The process keeps one filter while this module is loaded, whatever number of controls
// it makes. The filter's code goes with the module, so unloading gives back the one it
// replaced.
bool g_filterInstalled = false;
LPTOP_LEVEL_EXCEPTION_FILTER g_replacedFilter = nullptr;

void installFatalErrorFilter()
{
    if (g_filterInstalled)
        return;
    g_replacedFilter = SetUnhandledExceptionFilter(fatalErrorFilter);
    g_filterInstalled = true;
}

void restoreReplacedFilter()
{
    if (!g_filterInstalled)
        return;
    const LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(g_replacedFilter);
    // A filter the host set over ours since stays its own.
    if (current != fatalErrorFilter)
        SetUnhandledExceptionFilter(current);
    g_filterInstalled = false;
    g_replacedFilter = nullptr;
}

StartupRegistrar fatal_filter_step(0, 70, "viewer unhandled-exception filter", nullptr, restoreReplacedFilter);

} // namespace

const CLSID& COrbelViewer::classId() const { return CLSID_OrbelViewer; }

COrbelViewer::COrbelViewer() : OleControlBase(DIID__IOrbelViewerEvents, IID_IOrbelViewer)
{
    setFlag(kFlagActivateWhenVisible, true);
    setFlag(kFlagWindowOnly, false);
    installFatalErrorFilter();
    GetMaxLayoutMap()[0] = {0, 0};
    GetMaxLayoutMap()[1] = {0, 0};
    rvd_customize_errors(&GetCodecErrorFormatter());
    buildTable();
}

HRESULT COrbelViewer::CreateInstance(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    COrbelViewer* control = nullptr;
    try {
        control = new COrbelViewer();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    HRESULT hr = control->QueryInterface(riid, ppv);
    control->Release();
    return hr;
}

ITypeInfo* COrbelViewer::typeInfo() { return OrbelViewerTypeInfo(); }

void COrbelViewer::buildTable()
{
    addStockProperties(table_);
    for (const OrbelMember& m : OrbelViewerMethods()) {
        const OrbelInvoker invoke = m.invoke;
        table_.method(m.name, m.id, m.params,
                      [this, invoke](std::vector<platform::Variant>& args, VARIANT* result) {
                          return invoke(*this, args, result);
                      });
    }
}

HRESULT COrbelViewer::refuse(const char* method, const std::string& why)
{
    ORBEL_LOG(ERROR) << method << " refused: " << why;
    return E_INVALIDARG;
}

namespace {

// 0 stands for "no limit given"; more than a side of the largest layout has no use.
bool maxLayoutInRange(LONG first, LONG second)
{
    return first >= 0 && first <= kMaxLayoutSide && second >= 0 && second <= kMaxLayoutSide;
}

std::string maxLayoutProblem(LONG first, LONG second)
{
    return "maximum layout " + std::to_string(first) + " x " + std::to_string(second) + " is not within 0 to " +
           std::to_string(kMaxLayoutSide);
}

} // namespace

HRESULT COrbelViewer::SetMaxLayout0(LONG first, LONG second)
{
    if (!maxLayoutInRange(first, second))
        return refuse("SetMaxLayout0", maxLayoutProblem(first, second));
    GetMaxLayoutMap()[0] = {first, second};
    return S_OK;
}

HRESULT COrbelViewer::SetMaxLayout1(LONG first, LONG second)
{
    if (!maxLayoutInRange(first, second))
        return refuse("SetMaxLayout1", maxLayoutProblem(first, second));
    GetMaxLayoutMap()[1] = {first, second};
    return S_OK;
}
