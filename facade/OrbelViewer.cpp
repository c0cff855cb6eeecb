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
    using Args = std::vector<platform::Variant>;
    for (const OrbelMember& m : OrbelViewerMethods()) {
        const DISPID id = m.id;
        table_.method(m.name, id, m.params, [this, id](Args& a, VARIANT* result) -> HRESULT {
            auto b = [&](size_t i) { return a[i].bstrVal; };
            auto l = [&](size_t i) { return a[i].lVal; };
            auto v = [&](size_t i) { return a[i].boolVal; };
            switch (id) {
            case 1: return LoadData(b(0));
            case 2: return SetHangingMode(l(0));
            case 4: return SetLayout(l(0), l(1));
            case 5: return SetSubLayout(l(0), l(1));
            case 6: return SetWorkingRoot(b(0), b(1), b(2), b(3));
            case 7: return SetWorkingTool(l(0));
            case 8: return TurnLayoutPage(v(0));
            case 9: return TurnSubLayoutPage(v(0));
            case 10: return InvertWidthLevel();
            case 11: return Flip(v(0));
            case 12: return Rotate(v(0));
            case 13: return Reset();
            case 18: return SetSelectMode(l(0));
            case 20: return InsertStudy(b(0), b(1), b(2), b(3));
            case 21: return SetWorkingSetMode(l(0));
            case 24: return SetLink(v(0));
            case 25: return SetAnnotationServerAddress(b(0));
            case 26: return Init(b(0));
            case 27: return SetAnnTool(l(0));
            case 28: return SetFitType(l(0));
            case 29: return ShowOverlay();
            case 30: return ShowAnnotation();
            case 31: return ShowRuler();
            case 32: return UpdateOverlayConfig(b(0));
            case 33: {
                BSTR status = nullptr;
                HRESULT hr = GetImageStatus(&status);
                if (result && SUCCEEDED(hr)) {
                    result->vt = VT_BSTR;
                    result->bstrVal = status;
                } else {
                    SysFreeString(status);
                }
                return hr;
            }
            case 34: return SetStamp(b(0));
            case 35: return ConfigStamp(b(0));
            default: return DISP_E_MEMBERNOTFOUND;
            }
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
