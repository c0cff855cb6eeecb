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

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>
#include <sstream>
#include <string>

ORBEL_SOURCE_NAME(".\\facade\\OrbelViewer")

namespace {

const WCHAR kLogPath[] = u"C:\\Quillon.Log";
const int kWorkingRootsMode = 6;
const int kDefaultHangingMode = 2; // the level a control starts with
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

// Where and why a text given as a document is not one: the document's name, the parser's
// line, column and reason; empty for a well-formed document with a root element. The
// parser gives no place for what it misses at the end of the text (an element left open,
// no element at all): that place is the end.
std::string documentProblem(const TiXmlDocument& doc, const std::string& text)
{
    std::ostringstream out;
    if (doc.Error()) {
        int row = doc.ErrorRow(), column = doc.ErrorCol();
        if (row <= 0) {
            const size_t lastBreak = text.rfind('\n');
            row = int(std::count(text.begin(), text.end(), '\n')) + 1;
            column = int(text.size() - (lastBreak == std::string::npos ? 0 : lastBreak + 1)) + 1;
        }
        out << doc.Value() << " line " << row << ", column " << column << ": " << doc.ErrorDesc();
    } else if (!doc.RootElement()) {
        out << doc.Value() << ": no element";
    }
    return out.str();
}

std::string textProblem(const std::string& text, const char* name)
{
    TiXmlDocument doc(name);
    CPssiXmlDao::parseXmlText(doc, text.c_str());
    return documentProblem(doc, text);
}

// True when the element or one below it is named name.
bool holdsElement(const TiXmlElement* element, const char* name)
{
    if (!element)
        return false;
    if (element->ValueStr() == name)
        return true;
    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement())
        if (holdsElement(child, name))
            return true;
    return false;
}

// An address the annotation requests can be sent to: none (not set) or an HTTP URL
// without blanks or control characters, which would cut the request line.
bool usableServerAddress(const std::string& address)
{
    if (address.empty())
        return true;
    std::string scheme;
    for (char c : address.substr(0, 8))
        scheme += char(std::tolower(static_cast<unsigned char>(c)));
    if (scheme.rfind("http://", 0) != 0 && scheme.rfind("https://", 0) != 0)
        return false;
    for (unsigned char c : address)
        if (c <= ' ' || c == 0x7F)
            return false;
    return true;
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
    m_configLoaded = false;
    m_frame.reset(new CJ2KFrame(this));
    initLogFile(kLogPath, 1, 1, 0);
    setLogItems(true, true, true, false);
    setMinLogLevel(ORBEL_LOG_SEVERITY_INFO);
    g_loggingStarted = true;

    const std::string text = BstrToUtf8String(config);
    CPssiXmlDao& dao = *m_frame->getPssiXmlDao();
    dao.setConfigDocument(std::make_unique<TiXmlDocument>("Config.xml"));
    dao.parseConfig(text);
    const std::string problem = textProblem(text, "Config.xml");
    if (dao.hasConfigError() || !problem.empty()) {
        ORBEL_LOG(FATAL) << "Parse Configuration  Error: " << problem;
        return S_FALSE;
    }
    m_configLoaded = true;
    m_frame->applyConfiguration();
    m_frame->buildContextMenu();
    ORBEL_LOG(INFO) << "Init Done!";
    Fire_OnInitFinished(VARIANT_TRUE);
    return S_OK;
}

HRESULT COrbelViewer::LoadData(BSTR pssiXML)
{
    // Without settings and menu the cells would show placeholders for what they lack.
    if (!m_frame || !m_configLoaded) {
        ORBEL_LOG(ERROR) << "LoadData refused: " << (m_frame ? "the configuration did not load" : "Init has not run");
        return S_FALSE;
    }
    // Keep the frame alive whatever a sink does with the control meanwhile.
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    if (frame->getAnnotationLoader()->getServerAddress().empty())
        ORBEL_LOG(ERROR) << "The Annotation Server Address is not set";

    const std::string text = BstrToUtf8String(pssiXML);
    // Checked before the document in use is replaced, so the images shown stay.
    const std::string problem = textProblem(text, "BasePssi.xml");
    if (!problem.empty()) {
        ORBEL_LOG(FATAL) << "Parse PSSI Error: " << problem;
        return S_FALSE;
    }
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
    // A level stored before this document (SetHangingMode, the configuration's hangmode)
    // that the document has nothing on would leave every cell empty, as SetHangingMode
    // refuses to after LoadData: the default level hangs instead.
    if (g_hangingMode != kWorkingRootsMode && g_hangingMode != kDefaultHangingMode &&
        dao.getHangingCount(root, g_hangingMode) <= 0) {
        ORBEL_LOG(WARNING) << "LoadData: the document has no " << CPssiXmlDao::getLevelName(g_hangingMode)
                           << " to hang with hanging mode " << g_hangingMode << "; hanging mode "
                           << kDefaultHangingMode << " instead";
        g_hangingMode = kDefaultHangingMode;
    }
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
    const std::string xml = BstrToUtf8String(studyXML);
    TiXmlDocument fragment("patient.xml");
    CPssiXmlDao::parseXmlText(fragment, xml.c_str());
    std::string problem = documentProblem(fragment, xml);
    if (problem.empty() && !holdsElement(fragment.RootElement(), "Patient"))
        problem = "patient.xml: no Patient element";
    if (!problem.empty())
        return refuse("InsertStudy", problem);
    if (!m_frame)
        return S_FALSE;
    m_frame->getPssiXmlDao()->insertStudy(BstrToUtf8String(parentPatientUID), BstrToUtf8String(OldUnclePatientUID),
                                          BstrToUtf8String(studyUID), xml.c_str());
    return S_OK;
}

HRESULT COrbelViewer::UpdateOverlayConfig(BSTR overlayConfig)
{
    const std::string text = BstrToUtf8String(overlayConfig);
    TiXmlDocument overlay("overlay.xml");
    CPssiXmlDao::parseXmlText(overlay, text.c_str());
    std::string problem = documentProblem(overlay, text);
    const TiXmlElement* root = overlay.RootElement();
    if (problem.empty() && (root->ValueStr() != "Root" || !root->FirstChildElement("overlay")))
        problem = "overlay.xml: no Root element holding an overlay element";
    if (!problem.empty())
        return refuse("UpdateOverlayConfig", problem);
    if (!m_frame)
        return S_FALSE;
    m_frame->getPssiXmlDao()->updateOverlayConfig(text.c_str());
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
        ORBEL_LOG(ERROR) << "Parse Stamp Configuration Error: " << textProblem(text, "stampConfig.xml");
        return S_FALSE;
    }
    Fire_OnConfigStampFinished(VARIANT_TRUE);
    return S_OK;
}

HRESULT COrbelViewer::SetStamp(BSTR name)
{
    if (!m_frame)
        return S_FALSE;
    const std::string text = BstrToUtf8String(name);
    const std::u16string wide = utf8ToWide(text.c_str());
    bool known = false;
    for (const auto& entry : m_frame->getStampNames())
        known = known || entry.second == wide;
    if (!known)
        return refuse("SetStamp", "no stamp named \"" + text + "\" in the stamp configuration");
    m_frame->setWorkingTool(kStampTool, true);
    currentStampName = wide;
    m_frame->getPssiXmlDao()->loadCurrentStampData();
    return S_OK;
}

HRESULT COrbelViewer::SetAnnotationServerAddress(BSTR address)
{
    const std::string text = BstrToUtf8String(address);
    if (!usableServerAddress(text))
        return refuse("SetAnnotationServerAddress", "\"" + text + "\" is not an http:// or https:// address");
    if (!m_frame)
        return S_FALSE;
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
