#include "facade/OrbelViewer.h"

#include "facade/OrbelViewerIds.h"
#include "facade/OrbelViewerTypeInfo.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "diagnostics/Logging.h"
#include "platform/Kernel.h"

#include <new>

ORBEL_SOURCE_NAME(".\\facade\\OrbelViewer")

namespace {

LONG fatalErrorFilter(EXCEPTION_POINTERS*)
{
    ORBEL_LOG(FATAL) << "FATAL Error";
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

const CLSID& COrbelViewer::classId() const { return CLSID_OrbelViewer; }

COrbelViewer::COrbelViewer() : OleControlBase(DIID__IOrbelViewerEvents, IID_IOrbelViewer)
{
    setFlag(kFlagActivateWhenVisible, true);
    setFlag(kFlagWindowOnly, false);
    // One filter for the process, however many controls it makes.
    static const bool filterInstalled = (SetUnhandledExceptionFilter(fatalErrorFilter), true);
    (void)filterInstalled;
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

HRESULT COrbelViewer::SetMaxLayout0(LONG first, LONG second)
{
    GetMaxLayoutMap()[0] = {first, second};
    return S_OK;
}

HRESULT COrbelViewer::SetMaxLayout1(LONG first, LONG second)
{
    GetMaxLayoutMap()[1] = {first, second};
    return S_OK;
}
