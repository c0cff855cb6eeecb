#include "facade/OrbelViewer.h"

HRESULT COrbelViewer::fireLong(DISPID id, LONG value)
{
    eventPoint().fire(id, {platform::Variant::fromLong(value)});
    return S_OK;
}

// Pages compare boolean events with 1: true travels as 1, not VARIANT_TRUE.
HRESULT COrbelViewer::fireBool(DISPID id, VARIANT_BOOL value)
{
    platform::Variant v;
    v.vt = VT_BOOL;
    v.boolVal = value ? 1 : 0;
    eventPoint().fire(id, {v});
    return S_OK;
}

HRESULT COrbelViewer::Fire_OnSetWorkingTool(LONG tool) { return fireLong(1, tool); }
HRESULT COrbelViewer::Fire_OnSetHangingMode(LONG hangMode) { return fireLong(2, hangMode); }
HRESULT COrbelViewer::Fire_OnSetSelectMode(LONG mode) { return fireLong(3, mode); }
HRESULT COrbelViewer::Fire_OnSetFitType(LONG type) { return fireLong(4, type); }
HRESULT COrbelViewer::Fire_OnSetLayout(LONG rows, LONG columns)
{
    eventPoint().fire(5, {platform::Variant::fromLong(rows), platform::Variant::fromLong(columns)});
    return S_OK;
}
HRESULT COrbelViewer::Fire_OnTurn(LONG canGo) { return fireLong(6, canGo); }
HRESULT COrbelViewer::Fire_OnTotalPagesChanged(LONG totalPages) { return fireLong(7, totalPages); }
HRESULT COrbelViewer::Fire_OnCurrentPageChanged(LONG currentPage) { return fireLong(8, currentPage); }
HRESULT COrbelViewer::Fire_OnImageStatusModified(VARIANT_BOOL modified) { return fireBool(9, modified); }
HRESULT COrbelViewer::Fire_OnShowRuler(VARIANT_BOOL show) { return fireBool(10, show); }
HRESULT COrbelViewer::Fire_OnShowAnnotation(VARIANT_BOOL show) { return fireBool(11, show); }
HRESULT COrbelViewer::Fire_OnShowOverlay(VARIANT_BOOL show) { return fireBool(12, show); }
HRESULT COrbelViewer::Fire_OnInitFinished(VARIANT_BOOL finished) { return fireBool(13, finished); }
HRESULT COrbelViewer::Fire_OnLoadDataFinished(VARIANT_BOOL finished) { return fireBool(14, finished); }
HRESULT COrbelViewer::Fire_OnConfigStampFinished(VARIANT_BOOL finished) { return fireBool(15, finished); }
