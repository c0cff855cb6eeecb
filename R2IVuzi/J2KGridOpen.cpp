// The road from "this grid shows that image" to a decodable image: registry lookup,
// loader thread, channel open, codestream open and the first server-model update.
#include "R2IVuzi/J2KAbortRequest.h"
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KAnnotationRequest.h"
#include "R2IVuzi/J2KCommenceRequest.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KROIRequest.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

#include <algorithm>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

void CJ2KGrid::showStackItem(const HangingItem& item)
{
    if (!m_selected)
        return;
    // Each image gets its own retries: counts left over from earlier images would make
    // this one give up at its first failure.
    if (item.objectFile != m_target) {
        m_connectionRetries = 0;
        m_openStreamRetries = 0;
    }
    m_target = item.objectFile;
    m_uid = item.instanceUID;
    m_element = item.node;
    m_elementDocument = item.document;
    openTargetImage(false);
    try {
        getAnnotationLoader()->retryCounter() = 0;
    } catch (const std::exception& e) {
        ORBEL_LOG(INFO) << "Exception happened in showStackItem: " << e.what();
    }
    openTargetOverlay();
}

void CJ2KGrid::openTargetImage(bool retry)
{
    try {
        if (!m_loader) {
            try {
                m_loader = new CJ2KImageLoader;
            } catch (const CJ2KCreateNewThreadException&) {
                ORBEL_LOG(ERROR) << "Can't Create New Thread Any More !";
                return;
            }
        }
        CJ2KImageLoader* loader = m_loader;
        loader->setReady(false);
        if (m_decodeTimer && m_hWnd)
            KillTimer(m_hWnd, kJ2KDecodeTimer);
        m_decodeTimer = 0;
        stopAnimation();
        if (m_target.empty()) {
            if (m_image) {
                m_image.reset();
                loader->postRequest(boost::shared_ptr<CJ2KRequest>(new CJ2KAbortRequest(shared_from_this(), 0, "")));
            }
        } else {
            boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
            boost::shared_ptr<CJ2KImage> found = boost::dynamic_pointer_cast<CJ2KImage>(dao->findImage(m_target));
            if (found) {
                m_image = found;
            } else {
                m_image.reset(new CJ2KImage(m_target, m_uid, m_element));
                m_image->holdDocument(m_elementDocument);
                dao->registerImage(m_target, m_image);
            }
            // A new attempt (not a retry) starts without the earlier give-up.
            if (!retry)
                m_image->setFailure(std::string());
            if (m_hWnd)
                m_image->getAnnWrapper().Attach(m_hWnd);
            OrbelAnnWrapper::SetPen(0, 1);
            registerAnnotationCallback();
            loader->postRequest(
                boost::shared_ptr<CJ2KRequest>(new CJ2KCommenceRequest(shared_from_this(), m_image, retry)));
        }
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, TRUE);
    } catch (...) {
        ORBEL_LOG(INFO) << "Exception happened in openTargetImage";
    }
}

void CJ2KGrid::openTargetOverlay()
{
    if (m_uid.empty())
        return;
    m_annotationFailed = false;
    try {
        boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
        if (dao->isAnnotated(m_element)) {
            // The document already holds what presentation needs: present it now, as no
            // reply will come to do so.
            OnStartPresentation(m_target);
            return;
        }
        const bool detail = dao->isParentAnnotated(m_element);
        getAnnotationLoader()->postRequest(
            boost::shared_ptr<CJ2KRequest>(new CJ2KAnnotationRequest(shared_from_this(), m_target, m_uid, detail)));
    } catch (...) {
        ORBEL_LOG(INFO) << "Exception happened in openTargetOverlay";
    }
}

LRESULT CJ2KGrid::OnStartProcess(const std::string& target)
{
    if (!isCurrentTarget(target)) {
        stopAnimation();
        return 0;
    }
    try {
        if (!m_image)
            return 0;
        CJ2KImage& image = *m_image;
        CImageBase& base = image.getImageBase();
        if (!image.isOpened()) {
            image.getCache()->set_read_scope(3, 0, 0);
            image.openSource(image.getCache());
            image.openCodestream();
            const bool grey = image.getChannelMapping()->num_channels == 1;
            base.InitImage(image.getHeight(), image.getWidth(), image.getDiscardLevels(), image.getBitDepth(), grey,
                           image.isSigned());
            image.setOpened(true);
            // Presentation may have come first: the status it stored is the base the
            // status document compares with, whichever message arrived first.
            if (!image.isPresented()) {
                std::string status;
                image.setStatus(base.GetDisplayStateText(status));
            }
        }
        base.SetViewRect(m_view.top, m_view.left, m_view.bottom, m_view.right, m_hWnd, true);
        int32_t region[7];
        base.GetTransformRegion(region);
        syncAnnotationGeometry();
        requestServerModelUpdate();
        if (region[kRegionRight] != region[kRegionLeft] && region[kRegionBottom] != region[kRegionTop])
            base.OnRegionDecoded(region[kRegionLeft], region[kRegionTop], region[kRegionRight], region[kRegionBottom]);
    } catch (const std::exception& e) {
        ORBEL_LOG(INFO) << "Exception happened in OnStartProcess";
        ORBEL_LOG(ERROR) << "Refused JPIP data for " << m_target << " from CJ2KCommenceRequest: " << e.what();
        // No second start message comes for this image: the retry path reopens it.
        std::unique_ptr<CJ2KException> error(new CJ2KOpenStreamException(e.what(), kOrbelSourceName, __LINE__, m_target));
        error->setCause(J2KFailureCause::RefusedBody, std::string("the codestream refused its data: ") + e.what());
        handleOpenStreamError(std::move(error));
    } catch (...) {
        ORBEL_LOG(INFO) << "Exception happened in OnStartProcess";
        handleOpenStreamError(std::unique_ptr<CJ2KException>(
            new CJ2KOpenStreamException("Unknown failure!", kOrbelSourceName, __LINE__, m_target)));
    }
    return 0;
}

void CJ2KGrid::requestWindow(const int32_t region[7], int32_t window[5])
{
    // The image's regions end one past their last sample; a request window names its last
    // sample, so a region asked as it is would reach one sample past the image.
    window[0] = region[kRegionLevel];
    window[1] = region[kRegionLeft];
    window[2] = region[kRegionTop];
    window[3] = std::max(region[kRegionRight] - 1, region[kRegionLeft]);
    window[4] = std::max(region[kRegionBottom] - 1, region[kRegionTop]);
}

void CJ2KGrid::updateView()
{
    if (!m_hWnd || !m_element || m_target.empty() || !m_image)
        return;
    CImageBase& base = m_image->getImageBase();
    if (m_image->isOpened()) {
        int32_t pending[7];
        base.GetPendingRegion(pending);
        CJ2KImageLoader* loader = m_loader;
        if ((pending[kRegionRight] != 0 || pending[kRegionBottom] != 0) && loader && loader->isReady()) {
            base.SetDecodedRegion(pending[kRegionLeft], pending[kRegionTop], pending[kRegionRight],
                                  pending[kRegionBottom], pending[kRegionLevel], false);
            startAnimation();
            int32_t window[5];
            requestWindow(pending, window);
            loader->postRequest(boost::shared_ptr<CJ2KRequest>(new CJ2KROIRequest(shared_from_this(), m_image, window)));
        }
    }
    int32_t region[7];
    base.GetTransformRegion(region);
    base.OnRegionDecoded(region[kRegionLeft], region[kRegionTop], region[kRegionRight], region[kRegionBottom]);
}
