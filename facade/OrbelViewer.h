// COrbelViewer: the control a page embeds. Its scripting surface is IOrbelViewer (the 27
// methods below, dispatched by name and DISPID, and the eight stock properties of the
// framework) and it raises _IOrbelViewerEvents through one raiser per event.
#pragma once

#include "platform/OleControl.h"

#include <boost/enable_shared_from_this.hpp>

class COrbelViewer : public OleControlBase, public boost::enable_shared_from_this<COrbelViewer> {
public:
    COrbelViewer();

    // IOrbelViewer, in interface order.
    virtual HRESULT LoadData(BSTR pssiXML);
    virtual HRESULT SetHangingMode(LONG hangMode);
    virtual HRESULT SetLayout(LONG columns, LONG rows);
    virtual HRESULT SetSubLayout(LONG columns, LONG rows);
    virtual HRESULT SetWorkingRoot(BSTR patientInstanceUID, BSTR studyInstanceUID, BSTR seriesInstanceUID,
                                   BSTR imageInstanceUID);
    virtual HRESULT SetWorkingTool(LONG tool);
    virtual HRESULT TurnLayoutPage(VARIANT_BOOL previous);
    virtual HRESULT TurnSubLayoutPage(VARIANT_BOOL previous);
    virtual HRESULT InvertWidthLevel();
    virtual HRESULT Flip(VARIANT_BOOL direction);
    virtual HRESULT Rotate(VARIANT_BOOL direction);
    virtual HRESULT Reset();
    virtual HRESULT SetSelectMode(LONG mode);
    virtual HRESULT InsertStudy(BSTR parentPatientUID, BSTR OldUnclePatientUID, BSTR studyUID, BSTR studyXML);
    virtual HRESULT SetWorkingSetMode(LONG mode);
    virtual HRESULT SetLink(VARIANT_BOOL link);
    virtual HRESULT SetAnnotationServerAddress(BSTR address);
    virtual HRESULT Init(BSTR config);
    virtual HRESULT SetAnnTool(LONG tool);
    virtual HRESULT SetFitType(LONG type);
    virtual HRESULT ShowOverlay();
    virtual HRESULT ShowAnnotation();
    virtual HRESULT ShowRuler();
    virtual HRESULT UpdateOverlayConfig(BSTR overlayConfig);
    virtual HRESULT GetImageStatus(BSTR* imageStatus);
    virtual HRESULT SetStamp(BSTR name);
    virtual HRESULT ConfigStamp(BSTR stampXML);
    // Outside dispatch: entries 0 and 1 of the maximum-layout map.
    virtual HRESULT SetMaxLayout0(LONG first, LONG second);
    virtual HRESULT SetMaxLayout1(LONG first, LONG second);

    // Event raisers: synchronous, sinks in Advise order; booleans travel as 1 or 0.
    HRESULT Fire_OnSetWorkingTool(LONG tool);
    HRESULT Fire_OnSetHangingMode(LONG hangMode);
    HRESULT Fire_OnSetSelectMode(LONG mode);
    HRESULT Fire_OnSetFitType(LONG type);
    HRESULT Fire_OnSetLayout(LONG rows, LONG columns);
    HRESULT Fire_OnTurn(LONG canGo);
    HRESULT Fire_OnTotalPagesChanged(LONG totalPages);
    HRESULT Fire_OnCurrentPageChanged(LONG currentPage);
    HRESULT Fire_OnImageStatusModified(VARIANT_BOOL modified);
    HRESULT Fire_OnShowRuler(VARIANT_BOOL show);
    HRESULT Fire_OnShowAnnotation(VARIANT_BOOL show);
    HRESULT Fire_OnShowOverlay(VARIANT_BOOL show);
    HRESULT Fire_OnInitFinished(VARIANT_BOOL finished);
    HRESULT Fire_OnLoadDataFinished(VARIANT_BOOL finished);
    HRESULT Fire_OnConfigStampFinished(VARIANT_BOOL finished);

    // Creates a control and queries it for riid (the class factory's work).
    static HRESULT CreateInstance(REFIID riid, void** ppv);

protected:
    ~COrbelViewer() override = default;
    const platform::DispatchTable& dispatchTable() const override { return table_; }
    ITypeInfo* typeInfo() override;
    std::u16string windowClassName() const override { return u"OrbelViewer"; }

private:
    HRESULT fireLong(DISPID id, LONG value);
    HRESULT fireBool(DISPID id, VARIANT_BOOL value);
    void buildTable();
    platform::DispatchTable table_;
};
