// COrbelViewer: the control a page embeds. Its scripting surface is IOrbelViewer (the 27
// methods below, dispatched by name and DISPID, and the eight stock properties of the
// framework) and it raises _IOrbelViewerEvents through one raiser per event.
#pragma once

#include "R2IVuzi/J2KFrame.h"
#include "platform/OleControl.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

// Where each behaviour lives:
//   OrbelViewer.cpp          construction, dispatch table
//   OrbelViewerDocuments.cpp the document methods (Init, LoadData, stamps, status, ...)
//   OrbelViewerCommands.cpp  the view and mode commands and the automatic layout
//   OrbelViewerEvents.cpp    the event raisers
//   OrbelViewerWindow.cpp    the control's window: size, drawing, wheel, key pre-translation
class COrbelViewer : public OleControlBase,
                     public IJ2KFrameOwner,
                     public boost::enable_shared_from_this<COrbelViewer> {
public:
    COrbelViewer();

    // IOrbelViewer, in interface order. A method refuses an argument outside its range
    // with E_INVALIDARG and a log record, and then changes nothing and fires nothing.
    virtual HRESULT LoadData(BSTR pssiXML);
    virtual HRESULT SetHangingMode(LONG hangMode);
    // The interface's declaration names the two numbers (columns, rows), but pages have
    // always passed rows first: 3, 1 gives three rows of one cell. Neither fires
    // OnSetLayout, which reports the automatic layout only.
    virtual HRESULT SetLayout(LONG rows, LONG columns);
    virtual HRESULT SetSubLayout(LONG rows, LONG columns);
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
    HRESULT Fire_OnSetWorkingTool(LONG tool) override;
    HRESULT Fire_OnSetHangingMode(LONG hangMode);
    HRESULT Fire_OnSetSelectMode(LONG mode) override;
    HRESULT Fire_OnSetFitType(LONG type) override;
    HRESULT Fire_OnSetLayout(LONG rows, LONG columns);
    HRESULT Fire_OnTurn(LONG canGo);
    HRESULT Fire_OnTotalPagesChanged(LONG totalPages) override;
    HRESULT Fire_OnCurrentPageChanged(LONG currentPage) override;
    HRESULT Fire_OnImageStatusModified(VARIANT_BOOL modified);
    HRESULT Fire_OnShowRuler(VARIANT_BOOL show) override;
    HRESULT Fire_OnShowAnnotation(VARIANT_BOOL show) override;
    HRESULT Fire_OnShowOverlay(VARIANT_BOOL show) override;
    HRESULT Fire_OnInitFinished(VARIANT_BOOL finished);
    HRESULT Fire_OnLoadDataFinished(VARIANT_BOOL finished);
    HRESULT Fire_OnConfigStampFinished(VARIANT_BOOL finished);

    // Creates a control and queries it for riid (the class factory's work).
    static HRESULT CreateInstance(REFIID riid, void** ppv);

    // The frame made by the last Init (empty before); tests look at it.
    boost::shared_ptr<CJ2KFrame> getFrame() const { return m_frame; }
    // Lays out n items under the maximum layout, fires OnSetLayout and writes layout
    // entries 0 and 1.
    bool computeAutoLayout();

protected:
    ~COrbelViewer() override = default;
    const platform::DispatchTable& dispatchTable() const override { return table_; }
    ITypeInfo* typeInfo() override;
    std::u16string windowClassName() const override { return u"OrbelViewer"; }
    const CLSID& classId() const override;
    // WM_SIZE, WM_DESTROY and WM_MOUSEWHEEL; the rest to the framework.
    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnDraw(const OleDrawInfo& info) override;
    // Damps key repeats, pages with PageUp and PageDown, and hands the rest to the first
    // selected grid; true consumes the message.
    bool PreTranslateAccelerator(MSG* msg) override;

private:
    // Logs why the method refuses an argument; E_INVALIDARG.
    static HRESULT refuse(const char* method, const std::string& why);
    bool frameHasWindow() const;
    // The second LoadData of a frame: its earlier window and sub-frames go first.
    void dropFrameWindow();
    HRESULT fireLong(DISPID id, LONG value);
    HRESULT fireBool(DISPID id, VARIANT_BOOL value);
    void buildTable();
    LRESULT onSize();
    LRESULT onMouseWheel(WPARAM wParam, LPARAM lParam);
    platform::DispatchTable table_;
    boost::shared_ptr<CJ2KFrame> m_frame;
    // Set by an Init whose configuration parsed; LoadData needs it.
    bool m_configLoaded = false;
    // Key repeat state of the window's key handling.
    DWORD m_previousKeyTime = 0;
    DWORD m_previousKeyCode = 0;
};
