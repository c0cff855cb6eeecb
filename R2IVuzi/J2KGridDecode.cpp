// Incremental decoding on the user-interface thread: each step renders what the cache
// now holds of the region in view, a bounded number of samples per call, repainting
// after every increment so the user sees the image build up.
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

#include <algorithm>
#include <climits>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

const int kIncrement = 1000000;

} // namespace

LRESULT CJ2KGrid::OnTimer(UINT_PTR id)
{
    if (m_decodeTimer && id == m_decodeTimer) {
        m_onDecodeTick = true;
        struct TickScope {
            bool& on;
            ~TickScope() { on = false; }
        } tick{m_onDecodeTick};
        decodeStep();
    }
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    return 0;
}

LRESULT CJ2KGrid::OnDataArrived(const std::string& target, const int region[5])
{
    if (m_decodeTimer && m_hWnd)
        KillTimer(m_hWnd, kJ2KDecodeTimer);
    m_decodeTimer = 0;
    if (isCurrentTarget(target)) {
        decodeStep();
        if (region && region[0] != -1 && m_image)
            m_image->getImageBase().SetDecodedRegion(region[1], region[2], region[3], region[4], region[0], true);
    }
    stopAnimation();
    if (m_hWnd)
        InvalidateRect(m_hWnd, nullptr, TRUE);
    return 0;
}

void CJ2KGrid::decodeStep()
{
    if (!m_image || !m_image->isOpened() || !m_element)
        return;
    CJ2KImageLoader* loader = m_loader;
    if (!loader)
        return;
    boost::shared_ptr<rvd_region_decompressor> decompressor = loader->getRegionDecompressor();
    bool started = false;
    try {
        CJ2KImage& image = *m_image;
        CImageBase& base = image.getImageBase();
        base.SetViewRect(m_view.top, m_view.left, m_view.bottom, m_view.right, m_hWnd, true);
        int32_t t[7];
        base.GetTransformRegion(t);
        const int x0 = t[kRegionLeft], y0 = t[kRegionTop], x1 = t[kRegionRight], y1 = t[kRegionBottom];
        if (x1 - x0 <= 0 || y1 - y0 <= 0)
            return;
        // The pending region may re-size the pixel buffer for its level: take it first.
        int32_t pending[7];
        base.GetPendingRegion(pending);
        const int level = pending[kRegionLevel];
        size_t bufferBytes = 0;
        uint8_t* buffer = base.GetPixelBuffer(bufferBytes);
        if (!buffer || bufferBytes == 0)
            return;
        const int bpp = base.GetPixelFormat().bytesPerPixel;
        const int levelW = base.LevelWidth(), levelH = base.LevelHeight();
        // The buffer holds the whole image at the level; a region or buffer that does not
        // fit would have the decoder write outside it.
        if ((bpp != 1 && bpp != 2 && bpp != 4) || levelW < 1 || levelH < 1 || x0 < 0 || y0 < 0 || x1 > levelW ||
            y1 > levelH || bufferBytes < size_t(levelW) * size_t(levelH) * size_t(bpp))
            return;
        rvd_codestream& cs = *image.getCodestream();
        rvd_channel_mapping& mapping = *image.getChannelMapping();
        // The image need not start at the canvas origin: place the region at the level's
        // own position.
        rvd_dims levelDims;
        cs.apply_input_restrictions(0, 0, level, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
        cs.get_dims(image.getReferenceComponent(), levelDims, true);
        const rvd_coords origin(levelDims.pos.y * image.getExpansionY(), levelDims.pos.x * image.getExpansionX());
        if (int64_t(levelDims.size.x) * image.getExpansionX() < x1 ||
            int64_t(levelDims.size.y) * image.getExpansionY() < y1)
            return;
        rvd_dims region;
        region.pos = rvd_coords(origin.y + y0, origin.x + x0);
        region.size = rvd_coords(y1 - y0, x1 - x0);
        if (!decompressor->start(cs, &mapping, -1, level, 0, region,
                                 rvd_coords(image.getExpansionY(), image.getExpansionX()), rvd_coords(1, 1), false,
                                 RVD_WANT_OUTPUT_COMPONENTS, false, nullptr))
            return;
        started = true;
        const int maxRegion = int(std::min<size_t>(bufferBytes, size_t(INT_MAX)));
        const int offsets[1] = {0};
        rvd_dims incomplete = region, fresh, last;
        bool delivered = false;
        // True while the view samples hold the last increment: nothing was decoded since.
        bool copied = false;
        // Each call that goes on delivers at least a row; a codec error that recurs at
        // every call would otherwise loop without end.
        const int maxCalls = region.size.y + 2;
        for (int calls = 0; calls < maxCalls; ++calls) {
            bool more = false;
            if (bpp == 4)
                more = decompressor->process(reinterpret_cast<uint32_t*>(buffer), origin, levelW, kIncrement,
                                             maxRegion, incomplete, fresh);
            else if (bpp == 2)
                more = decompressor->process(reinterpret_cast<uint16_t*>(buffer), offsets, 1, origin, levelW,
                                             kIncrement, maxRegion, incomplete, fresh, 0, true);
            else
                more = decompressor->process(buffer, offsets, 1, origin, levelW, kIncrement, maxRegion, incomplete,
                                             fresh, 0, true);
            if (!more)
                break;
            if (fresh.is_empty())
                continue;
            last = fresh;
            delivered = true;
            const int nx0 = fresh.pos.x - origin.x, ny0 = fresh.pos.y - origin.y;
            base.AdoptDecodedSamples(nx0, ny0, nx0 + fresh.size.x, ny0 + fresh.size.y);
            base.OnRegionDecoded(nx0, ny0, nx0 + fresh.size.x, ny0 + fresh.size.y);
            OnPaint(false);
            copied = true;
            if (incomplete.is_empty())
                break;
            // An end of request waiting on this thread decodes the same region again at
            // once, from at least the data this tick sees: the rest of the tick's
            // increments would be painted over before anything else runs.
            if (m_onDecodeTick && m_endsPending.load() > 0)
                break;
            copied = false;
        }
        started = false;
        decompressor->finish();
        // Finishing writes no pixels: a copy right after the loop's own would repeat it.
        if (delivered && !last.is_empty() && !copied) {
            const int nx0 = last.pos.x - origin.x, ny0 = last.pos.y - origin.y;
            base.OnRegionDecoded(nx0, ny0, nx0 + last.size.x, ny0 + last.size.y);
        }
    } catch (const CJ2KMemoryExhaustedException&) {
        if (started)
            decompressor->finish();
        handleMemoryError();
    } catch (...) {
        if (started) {
            try {
                decompressor->finish();
            } catch (...) {
            }
        }
        std::string reason = "Unknown failure!";
        try {
            throw;
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
        }
        ORBEL_LOG(ERROR) << "Refused JPIP data for " << m_target << " while decoding: " << reason;
        stopTimers();
        // The data came from the server: it is asked for again like a failed reply.
        std::unique_ptr<CJ2KException> error(new CJ2KConnectionException(reason, kOrbelSourceName, __LINE__, m_target));
        error->setCause(J2KFailureCause::RefusedBody, "the codestream refused its data: " + reason);
        handleConnectionError(std::move(error));
    }
}
