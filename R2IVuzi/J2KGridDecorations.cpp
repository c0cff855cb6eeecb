// What painting draws over the image: the loading mark, the rulers, the drag feedback,
// the cell border, the annotations and the magnifier.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"
#include "platform/ModuleStartup.h"

#include <algorithm>
#include <cmath>
#include <functional>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void outline(HDC dc, int left, int top, int right, int bottom)
{
    MoveToEx(dc, left, top, nullptr);
    LineTo(dc, right, top);
    LineTo(dc, right, bottom);
    LineTo(dc, left, bottom);
    LineTo(dc, left, top);
}

void drawPen(HDC dc, COLORREF colour, int width, const std::function<void()>& draw)
{
    HPEN pen = CreatePen(PS_SOLID, width, colour);
    HGDIOBJ old = SelectObject(dc, pen);
    draw();
    SelectObject(dc, old);
    DeleteObject(pen);
}

// The rulers lie 5 to 10 pixels inside the edge, drawn 2 pixels wide and shadowed one
// pixel off: this band along the edge is theirs.
const LONG kRulerBand = 12;

// Units per screen pixel and unit name of one ruler.
struct RulerScale {
    double unitsPerPixel;
    bool calibrated;
};

} // namespace

int CJ2KGrid::workingTool() const
{
    boost::shared_ptr<CJ2KSubFrame> subFrame = m_subFrame.lock();
    boost::shared_ptr<CJ2KFrame> frame = subFrame ? subFrame->getFrame() : boost::shared_ptr<CJ2KFrame>();
    return frame ? frame->getWorkingTool() : 0;
}

void CJ2KGrid::drawLoadingMark(HDC dc)
{
    int id = 0;
    if (m_animationTimer) {
        if (m_animationFrame > 247 || m_animationFrame < 240)
            m_animationFrame = 240;
        id = m_animationFrame++;
    }
    if (!id)
        return;
    HBITMAP bitmap = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(id));
    if (!bitmap)
        return;
    BITMAP info = {};
    GetObjectW(bitmap, sizeof(info), &info);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, bitmap);
    TransparentBlt(dc, m_view.left + 2, m_view.bottom - info.bmHeight - 2, info.bmWidth, info.bmHeight, source, 0, 0,
                   info.bmWidth, info.bmHeight, 0);
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(bitmap);
}

void CJ2KGrid::drawFailureMark(HDC dc)
{
    m_failureMark = RECT{0, 0, 0, 0};
    const bool failed = !m_image || m_image->hasFailed() || m_annotationFailed;
    if (!m_element || m_animationTimer || !failed)
        return;
    HBITMAP bitmap = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(229));
    if (!bitmap)
        return;
    BITMAP info = {};
    GetObjectW(bitmap, sizeof(info), &info);
    // The lower left corner, moved up past every text it would hide; the cell's centre
    // when the whole left edge is taken.
    RECT mark = {m_view.left + 2, m_view.bottom - info.bmHeight - 2, m_view.left + 2 + info.bmWidth, m_view.bottom - 2};
    for (bool moved = true; moved && mark.top >= m_view.top;) {
        moved = false;
        for (const RECT& text : m_textRects) {
            RECT overlap;
            if (IntersectRect(&overlap, &mark, &text)) {
                OffsetRect(&mark, 0, text.top - 2 - mark.bottom);
                moved = true;
            }
        }
    }
    if (mark.top < m_view.top) {
        const int x = (m_view.left + m_view.right - info.bmWidth) / 2, y = (m_view.top + m_view.bottom - info.bmHeight) / 2;
        mark = RECT{x, y, x + info.bmWidth, y + info.bmHeight};
    }
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, bitmap);
    TransparentBlt(dc, mark.left, mark.top, info.bmWidth, info.bmHeight, source, 0, 0, info.bmWidth, info.bmHeight, 0);
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(bitmap);
    m_failureMark = mark;
}

int CJ2KGrid::rulerTextSize(int viewHeight, double textScale)
{
    if (!std::isfinite(textScale))
        textScale = 2.0;
    const double s = std::pow(1.1, 2.0 - textScale) * double(viewHeight / 20);
    // Clamped before the conversion, so no scale overflows it.
    return int(std::min(20.0, std::max(6.0, std::isnan(s) ? 6.0 : std::trunc(s))));
}

static RulerScale rulerScale(CImageBase& base, bool vertical)
{
    ImageDisplayState state;
    base.GetDisplayState(state);
    const DicomRecord& dicom = base.GetPhotometricInterpretation();
    double rowSpacing = dicom.pixelSpacingRow, columnSpacing = dicom.pixelSpacingColumn;
    double zoomY = state.zoomY, zoomX = state.zoomX;
    // A quarter turn puts the image's columns along the view's vertical.
    if (state.quarterTurns % 2) {
        std::swap(rowSpacing, columnSpacing);
        std::swap(zoomX, zoomY);
    }
    const double spacing = vertical ? rowSpacing : columnSpacing;
    double zoom = vertical ? zoomY : zoomX;
    if (!(zoom > 0.0) || !std::isfinite(zoom))
        zoom = 1.0;
    if (rowSpacing > 0.0 && columnSpacing > 0.0 && std::isfinite(spacing))
        return {spacing / zoom / 10.0, true};
    return {1.0 / zoom, false};
}

static int rulerUnits(const RECT& view, bool vertical, const RulerScale& scale)
{
    const double length = vertical ? view.bottom - view.top : view.right - view.left;
    const double n = length * scale.unitsPerPixel * 0.33 + 0.5;
    return std::isfinite(n) ? std::max(1, int(std::min(n, 1e6))) : 1;
}

std::string CJ2KGrid::rulerLabel(bool vertical)
{
    if (!m_image)
        return std::string();
    const RulerScale scale = rulerScale(m_image->getImageBase(), vertical);
    return std::to_string(rulerUnits(m_view, vertical, scale)) + (scale.calibrated ? "cm" : "pt");
}

void CJ2KGrid::drawRuler(HDC dc, bool vertical, int textSize)
{
    const RulerScale scale = rulerScale(m_image->getImageBase(), vertical);
    const int n = rulerUnits(m_view, vertical, scale);
    const std::u16string label = wide(std::to_string(n) + (scale.calibrated ? "cm" : "pt"));
    const double step = 1.0 / scale.unitsPerPixel;
    const double span = n * step;
    if (!std::isfinite(span) || span > 1e6)
        return;
    // Along the edge: a is the position along it, b the distance inside it.
    const int edge = vertical ? m_view.right : m_view.bottom;
    const double middle = vertical ? (m_view.top + m_view.bottom) / 2.0 : (m_view.left + m_view.right) / 2.0;
    const double start = middle - span / 2.0;
    auto point = [&](double along, int inside, POINT& p) {
        p = vertical ? POINT{edge - inside, LONG(std::lround(along))} : POINT{LONG(std::lround(along)), edge - inside};
    };
    auto line = [&](double a0, int i0, double a1, int i1) {
        POINT p, q;
        point(a0, i0, p);
        point(a1, i1, q);
        MoveToEx(dc, p.x, p.y, nullptr);
        LineTo(dc, q.x, q.y);
    };
    if (scale.calibrated) {
        for (int i = 0; i < n; ++i) {
            const double a = start + i * step;
            line(a, 10, a, 5);
            line(a, 5, a + step, 5);
        }
        line(start + span, 10, start + span, 5);
    } else {
        line(start, 10, start, 5);
        line(start, 5, start + span, 5);
        line(start + span, 10, start + span, 5);
    }
    const int end = int(std::lround(start + span));
    SIZE extent = {0, 0};
    GetTextExtentPoint32W(dc, label.c_str(), int(label.size()), &extent);
    POINT at = vertical ? POINT{LONG(m_view.right - int(label.size()) * textSize / 2 - 5), LONG(end + 5)}
                        : POINT{LONG(end), LONG(m_view.bottom - textSize - 5)};
    placeRulerLabel(at, extent, vertical, textSize);
    TextOutW(dc, at.x, at.y, label.c_str(), int(label.size()));
    m_textRects.push_back(RECT{at.x, at.y, at.x + extent.cx + 1, at.y + extent.cy + 1});
}

void CJ2KGrid::placeRulerLabel(POINT& at, SIZE extent, bool vertical, int textSize) const
{
    // A ruler may reach past the cell (one unit longer than the view, at a high zoom), and
    // beside its end the label would be cut by the cell's edge: it stays whole inside. The
    // horizontal label keeps left of the vertical ruler; the vertical label keeps above
    // the line the horizontal label stands on, so the two never meet in the corner, and
    // once moved up beside its ruler it keeps left of it too.
    const LONG margin = 2;
    LONG right = m_view.right - margin, bottom = m_view.bottom - margin;
    if (vertical)
        bottom = std::min<LONG>(bottom, m_view.bottom - textSize - 5 - margin);
    if (!vertical || at.y > bottom - extent.cy)
        right = std::min<LONG>(right, m_view.right - kRulerBand);
    at.x = std::max<LONG>(std::min<LONG>(at.x, right - extent.cx), m_view.left + margin);
    at.y = std::max<LONG>(std::min<LONG>(at.y, bottom - extent.cy), m_view.top + margin);
}

void CJ2KGrid::drawRulers(HDC dc)
{
    if (!m_element || !m_image || !m_image->isOpened())
        return;
    const int size = rulerTextSize(m_view.bottom - m_view.top, g_overlayTextSize);
    HFONT font = CreateFontW(size, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 0, 0, u"Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    // A dark copy one pixel off keeps the rulers readable on any image.
    for (int pass = 0; pass < 2; ++pass) {
        const COLORREF colour = pass == 0 ? RGB(0, 0, 0) : RGB(255, 255, 255);
        const int shift = pass == 0 ? 1 : 0;
        SetTextColor(dc, colour);
        const RECT saved = m_view;
        m_view = RECT{saved.left + shift, saved.top + shift, saved.right + shift, saved.bottom + shift};
        drawPen(dc, colour, 2, [&] {
            drawRuler(dc, true, size);
            drawRuler(dc, false, size);
        });
        m_view = saved;
    }
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void CJ2KGrid::drawMagnifier(HDC dc)
{
    boost::shared_ptr<CJ2KSubFrame> subFrame = m_subFrame.lock();
    boost::shared_ptr<CJ2KFrame> frame = subFrame ? subFrame->getFrame() : boost::shared_ptr<CJ2KFrame>();
    if (!frame)
        return;
    const POINT p = m_lastPoint;
    const RECT square = {p.x - 75, p.y - 75, p.x + 75, p.y + 75};
    RECT box;
    if (!IntersectRect(&box, &square, &m_view))
        box = RECT{0, 0, 0, 0};
    m_dragRect = box;
    CImageBase& base = m_image->getImageBase();
    const int factor = frame->getMagnification();
    base.RenderMagnifier(p.x, p.y, box.left, box.top, box.right, box.bottom, factor);
    if (!base.DrawMagnifier(dc))
        return;
    drawPen(dc, RGB(0, 255, 0), 1, [&] { outline(dc, box.left, box.top, box.right, box.bottom); });
    const std::u16string text = wide(std::to_string(factor));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 255, 0));
    TextOutW(dc, box.left + 4, box.bottom - 16, text.c_str(), int(text.size()));
}

void CJ2KGrid::drawDecorations(HDC dc)
{
    const int tool = workingTool();
    if ((tool == 4 || tool == 6) && m_leftDown) {
        const bool colour = m_image && m_image->getChannelMapping()->num_channels >= 2;
        RECT clipped;
        if (!(tool == 4 && colour) && IntersectRect(&clipped, &m_dragRect, &m_view))
            DrawFocusRect(dc, &clipped);
    }
    const COLORREF border = m_selected ? COLORREF(0x00FFFF) : COLORREF(0x0F0F0F);
    drawPen(dc, border, 1, [&] { outline(dc, m_view.left, m_view.top, m_view.right - 1, m_view.bottom - 1); });
    const bool open = m_image && m_image->isOpened();
    if (open && g_showAnnotation)
        m_image->getAnnWrapper().Draw(dc);
    if (open && tool >= 7 && tool <= 9 && m_leftDown)
        drawMagnifier(dc);
}
