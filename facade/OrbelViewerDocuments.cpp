// The control's document methods: configuration, PSSI document, study insertion,
// overlay and stamp configuration, annotation server, status document.
#include "facade/BstrText.h"
#include "facade/OrbelViewer.h"

#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "annotation/CurrentStamp.h"
#include "diagnostics/Logging.h"

#include <tinyxml.h>

#include <memory>
#include <new>
#include <string>

ORBEL_SOURCE_NAME(".\\facade\\OrbelViewer")

namespace {

const WCHAR kLogPath[] = u"C:\\Quillon.Log";
bool g_loggingStarted = false;

// The status text as a BSTR through the process's ANSI code page; null when it cannot be
// allocated.
BSTR ansiToBstr(const std::string& text)
{
    if (text.empty())
        return SysAllocStringLen(u"", 0);
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0)
        return nullptr;
    BSTR out = SysAllocStringLen(nullptr, UINT(length));
    if (out && MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), out, length) != length) {
        SysFreeString(out);
        return nullptr;
    }
    return out;
}

} // namespace

bool COrbelViewer::frameHasWindow() const { return m_frame && m_frame->m_hWnd; }

void COrbelViewer::dropFrameWindow()
{
    if (m_frame)
        m_frame->destroyFrameWindow();
}

HRESULT COrbelViewer::Init(BSTR config)
{
    if (frameHasWindow()) {
        m_frame->DestroyWindow();
        m_frame.reset();
        closeLogFile();
        g_loggingStarted = false;
    }
    m_frame.reset(new CJ2KFrame(this));
    initLogFile(kLogPath, 1, 1, 0);
    setLogItems(true, true, true, false);
    setMinLogLevel(ORBEL_LOG_SEVERITY_INFO);
    g_loggingStarted = true;

    const std::string text = BstrToUtf8String(config);
    CPssiXmlDao& dao = *m_frame->getPssiXmlDao();
    dao.setConfigDocument(std::make_unique<TiXmlDocument>("Config.xml"));
    dao.parseConfig(text);
    if (dao.hasConfigError()) {
        ORBEL_LOG(FATAL) << "Parse Configuration  Error";
        return S_FALSE;
    }
    m_frame->applyConfiguration();
    m_frame->buildContextMenu();
    ORBEL_LOG(INFO) << "Init Done!";
    Fire_OnInitFinished(VARIANT_TRUE);
    return S_OK;
}

HRESULT COrbelViewer::LoadData(BSTR pssiXML)
{
    if (!m_frame)
        return S_FALSE;
    // Keep the frame alive whatever a sink does with the control meanwhile.
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    if (frame->getAnnotationLoader()->getServerAddress().empty())
        ORBEL_LOG(ERROR) << "The Annotation Server Address is not set";

    const std::string text = BstrToUtf8String(pssiXML);
    CPssiXmlDao& dao = *frame->getPssiXmlDao();
    dao.setPssiDocument(std::make_unique<TiXmlDocument>("BasePssi.xml"));
    // A reply for the old document's images is not worth waiting for.
    frame->getAnnotationLoader()->interruptRunning();
    dao.parsePssi(text);
    if (dao.hasPssiError()) {
        ORBEL_LOG(FATAL) << "Parse PSSI Error";
        return S_FALSE;
    }
    ORBEL_LOG(INFO) << "Parse Done!";

    const OverlayFontInfo font = dao.getOverlayFont();
    g_overlayTextSize = font.size;
    GetDefaultOverlayFontName() = font.faceName;
    TiXmlElement* root = dao.getRootElement();
    dao.setHangingDownward(root, 5, "True");
    dao.addWorkingRoot(root);
    dao.setCurrentNode(root);
    if (!computeAutoLayout())
        return S_FALSE;

    // A frame loaded before keeps one window: the earlier one and its cells go first.
    dropFrameWindow();
    RECT rc{0, 0, 0, 0};
    if (m_hWnd)
        GetClientRect(m_hWnd, &rc);
    if (IsRectEmpty(&rc)) {
        rc.top += 1;
        rc.bottom += 1;
    }
    // Without a window nothing could show the images the layout would start loading.
    if (!frame->CreateFrameWindow(m_hWnd, rc)) {
        ORBEL_LOG(ERROR) << "The frame window could not be created";
        return S_FALSE;
    }
    frame->setHangingLevel(g_hangingMode + 1);
    frame->applyLayout(true);
    frame->clearHanging();
    frame->distribute();
    frame->showCurrentPage();
    frame->arrangeWindows();
    Fire_OnLoadDataFinished(VARIANT_TRUE);
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    return S_OK;
}

HRESULT COrbelViewer::InsertStudy(BSTR parentPatientUID, BSTR OldUnclePatientUID, BSTR studyUID, BSTR studyXML)
{
    if (!m_frame)
        return S_FALSE;
    const std::string xml = BstrToUtf8String(studyXML);
    m_frame->getPssiXmlDao()->insertStudy(BstrToUtf8String(parentPatientUID), BstrToUtf8String(OldUnclePatientUID),
                                          BstrToUtf8String(studyUID), xml.c_str());
    return S_OK;
}

HRESULT COrbelViewer::UpdateOverlayConfig(BSTR overlayConfig)
{
    if (!m_frame)
        return S_FALSE;
    m_frame->getPssiXmlDao()->updateOverlayConfig(BstrToUtf8String(overlayConfig).c_str());
    return S_OK;
}

HRESULT COrbelViewer::ConfigStamp(BSTR stampXML)
{
    if (!m_frame)
        return S_FALSE;
    const std::string text = BstrToUtf8String(stampXML);
    CPssiXmlDao& dao = *m_frame->getPssiXmlDao();
    dao.setStampDocument(std::make_unique<TiXmlDocument>("stampConfig.xml"));
    dao.parseStamp(text);
    // The names are refreshed from whatever parsed, before the result is looked at.
    m_frame->refreshStampNames();
    if (dao.hasStampError()) {
        ORBEL_LOG(ERROR) << "Parse Stamp Configuration Error";
        return S_FALSE;
    }
    Fire_OnConfigStampFinished(VARIANT_TRUE);
    return S_OK;
}

HRESULT COrbelViewer::SetStamp(BSTR name)
{
    if (!m_frame)
        return S_FALSE;
    m_frame->setWorkingTool(kStampTool, true);
    currentStampName = utf8ToWide(BstrToUtf8String(name).c_str());
    m_frame->getPssiXmlDao()->loadCurrentStampData();
    return S_OK;
}

HRESULT COrbelViewer::SetAnnotationServerAddress(BSTR address)
{
    if (!m_frame)
        return S_FALSE;
    const std::string text = BstrToUtf8String(address);
    ORBEL_LOG(INFO) << "Annotation Server Address is set to " << text;
    m_frame->getAnnotationLoader()->setServerAddress(text);
    return S_OK;
}

HRESULT COrbelViewer::GetImageStatus(BSTR* imageStatus)
{
    if (!m_frame)
        return S_OK;
    CPssiXmlDao& dao = *m_frame->getPssiXmlDao();
    const std::string status = dao.getImageStatus();
    Fire_OnImageStatusModified(dao.isStatusModified() ? VARIANT_TRUE : VARIANT_FALSE);
    // No exception leaves a method: a failed allocation is the method's result.
    BSTR text = ansiToBstr(status);
    if (!text)
        return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    if (!imageStatus) {
        hr = E_POINTER;
    } else {
        *imageStatus = SysAllocStringLen(text, SysStringLen(text));
        if (!*imageStatus && SysStringLen(text) != 0)
            hr = E_OUTOFMEMORY;
    }
    SysFreeString(text);
    return hr;
}
