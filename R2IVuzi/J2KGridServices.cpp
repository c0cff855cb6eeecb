// The grid's window services: layout, the server-model update, closing its loader, the
// annotation geometry and the date and time texts of the overlay.
#include "R2IVuzi/J2KAbortRequest.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "R2IVuzi/J2KToolTip.h"
#include "R2IVuzi/J2KUpdateServerModelRequest.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

#include <algorithm>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

void CJ2KGrid::layout()
{
    m_view = RECT{0, 0, 0, 0};
    if (m_hWnd)
        GetClientRect(m_hWnd, &m_view);
    if (m_view.right == m_view.left || m_view.bottom == m_view.top || !m_image || !m_image->isOpened())
        return;
    m_image->getImageBase().SetViewRect(m_view.top, m_view.left, m_view.bottom, m_view.right, m_hWnd, true);
    syncAnnotationGeometry();
    updateView();
}

void CJ2KGrid::syncAnnotationGeometry()
{
    if (!m_image)
        return;
    ImageDisplayState state;
    m_image->getImageBase().GetDisplayState(state);
    AnnViewGeometry g = {};
    g.mirror = state.mirrored;
    g.quarterTurns = state.quarterTurns;
    g.zoomX = state.zoomX;
    g.zoomY = state.zoomY;
    g.originX = state.placedImage.left;
    g.originY = state.placedImage.top;
    g.rect2 = state.placedImage.right;
    g.rect3 = state.placedImage.bottom;
    g.extentX = state.imageWidth;
    g.extentY = state.imageHeight;
    g.scaleA = state.spacingColumn;
    g.scaleB = state.spacingRow;
    m_image->getAnnWrapper().SetViewGeometry(g);
}

void CJ2KGrid::requestServerModelUpdate()
{
    CJ2KImageLoader* loader = m_loader;
    if (!m_image || !loader)
        return;
    std::string model;
    m_image->buildCacheModelUpdateString(model);
    CImageBase& base = m_image->getImageBase();
    int32_t pending[7];
    base.GetPendingRegion(pending);
    base.SetDecodedRegion(pending[kRegionLeft], pending[kRegionTop], pending[kRegionRight], pending[kRegionBottom],
                          pending[kRegionLevel], false);
    int32_t window[5];
    requestWindow(pending, window);
    loader->postRequest(boost::shared_ptr<CJ2KRequest>(
        new CJ2KUpdateServerModelRequest(shared_from_this(), m_image, window, model)));
}

LRESULT CJ2KGrid::OnDestroy()
{
    if (m_toolTip && m_toolTip->m_hWnd)
        m_toolTip->DestroyWindow();
    detachVoiMenu();
    if (m_decodeTimer && m_hWnd)
        KillTimer(m_hWnd, kJ2KDecodeTimer);
    m_decodeTimer = 0;
    CJ2KImageLoader* loader = m_loader;
    if (loader) {
        // The abort goes to the loader before the manager is handed the loader: the kill
        // request joins and deletes it on the manager's thread, at once if it may.
        loader->postRequest(boost::shared_ptr<CJ2KRequest>(new CJ2KAbortRequest(shared_from_this(), 1, m_target)));
        try {
            getImageLoaderMgr()->postRequest(
                boost::shared_ptr<CJ2KKillImageLoaderRequest>(new CJ2KKillImageLoaderRequest(loader)));
        } catch (const std::exception& e) {
            ORBEL_LOG(ERROR) << e.what();
        }
    }
    return 0;
}

// Insertions past the end land at the end, so short texts keep their separators.
std::string CJ2KGrid::formatDate(const std::string& text)
{
    std::string out = text;
    if (!out.empty()) {
        out.insert(std::min<size_t>(4, out.size()), "/");
        out.insert(std::min<size_t>(7, out.size()), "/");
    }
    return out;
}

std::string CJ2KGrid::formatTime(const std::string& text)
{
    std::string out = text.substr(0, text.find('.'));
    if (!out.empty()) {
        out.insert(std::min<size_t>(2, out.size()), ":");
        out.insert(std::min<size_t>(5, out.size()), ":");
    }
    return out;
}
