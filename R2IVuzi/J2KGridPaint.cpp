// The cell is composed off screen and copied in one blit, so increments, animation ticks
// and annotation edits never flicker.
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

bool holdsImageData(const CJ2KImage& image)
{
    const boost::shared_ptr<CJ2KCache> cache = image.getCache();
    return !cache || cache->get_class_bytes(RVD_PRECINCT_DATABIN, 0) > 0 || cache->get_class_bytes(RVD_TILE_DATABIN, 0) > 0;
}

} // namespace

LRESULT CJ2KGrid::OnPaint(bool refresh)
{
    HWND h = m_hWnd;
    if (!h)
        return 0;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    const int width = m_view.right - m_view.left, height = m_view.bottom - m_view.top;
    if (dc && width > 0 && height > 0) {
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        m_textRects.clear();
        drawImage(memory, bitmap, refresh);
        if (m_element)
            drawLoadingMark(memory);
        if (g_showRuler)
            drawRulers(memory);
        drawOverlay(memory);
        drawFailureMark(memory);
        drawDecorations(memory);
        BitBlt(dc, m_view.left, m_view.top, width, height, memory, m_view.left, m_view.top, SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
    }
    EndPaint(h, &ps);
    return 0;
}

void CJ2KGrid::drawImage(HDC dc, HBITMAP bitmap, bool refresh)
{
    if (!m_image) {
        FillRect(dc, &m_view, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        return;
    }
    if (!m_image->isOpened())
        return;
    CImageBase& base = m_image->getImageBase();
    base.DrawToBitmap(dc, bitmap, refresh, m_view.left, m_view.top, m_view.right, m_view.bottom);
    // Without any image data in the cache (on its way, refused or given up on) the decoder
    // gives a flat picture that is not the image: the image's place stays black.
    if (!holdsImageData(*m_image)) {
        int32_t r[4];
        base.GetImageRectInView(r);
        const RECT image{r[0], r[1], r[2], r[3]};
        RECT shown;
        if (IntersectRect(&shown, &image, &m_view))
            FillRect(dc, &shown, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    const int tool = workingTool();
    if (tool >= 11 && tool <= 18) {
        int32_t r[4];
        base.GetImageRectInView(r);
        HPEN pen = CreatePen(PS_DOT, 1, RGB(100, 100, 100));
        HGDIOBJ old = SelectObject(dc, pen);
        const int left = r[0] + 2, top = r[1] + 2, right = r[2] - 2, bottom = r[3] - 2;
        MoveToEx(dc, left, top, nullptr);
        LineTo(dc, right, top);
        LineTo(dc, right, bottom);
        LineTo(dc, left, bottom);
        LineTo(dc, left, top);
        SelectObject(dc, old);
        DeleteObject(pen);
    }
}
