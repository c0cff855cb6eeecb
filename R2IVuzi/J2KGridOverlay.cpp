// Overlay text: the layout an image's modality configures, the text of each item and
// its drawing at the nine anchors of the cell.
#include "R2IVuzi/DicomTags.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KOverlayRecord.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"

#include <boost/lexical_cast.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

namespace {

// Document values are untrusted: positions stay within the drawing surface's limit.
constexpr int64_t kCoordinateLimit = int64_t(1) << 28;

int64_t clampPosition(int64_t v) { return std::max(-kCoordinateLimit, std::min(kCoordinateLimit, v)); }

int32_t clampInt(int64_t v) { return int32_t(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, v))); }

bool isTag(const OverlayItem& item, const DicomTag& tag)
{
    return item.group == tag.group && item.element == tag.element;
}

std::u16string widen(const std::string& text) { return Utf8ToUtf16(text); }

} // namespace

void CJ2KGrid::prepareOverlayInfo(const boost::shared_ptr<CJ2KImage>& image)
{
    ORBEL_LOG(INFO) << "prepareOverlayInfo";
    boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
    std::vector<OverlayLayoutEntry> entries;
    std::vector<CJ2KOverlayRecord> groups;
    {
        // Held for the whole loop; every value is copied out, since an annotation merge
        // may replace the image's Tag nodes afterwards.
        CPssiXmlDao::Lock lock(*dao);
        for (const TiXmlNode* tag : dao->getOverlayTags(image->getElement())) {
            OverlayLayoutEntry entry;
            entry.column = clampInt(4 * int64_t(dao->getIntByName(tag, "gridx")));
            entry.row = clampInt(4 * int64_t(dao->getIntByName(tag, "gridy")));
            entry.offsetY = dao->getIntByName(tag, "offsety");
            entry.offsetX = dao->getIntByName(tag, "offsetx");
            entry.item.prefix = dao->getWideTextByName(tag, "prefix");
            entry.item.suffix = dao->getWideTextByName(tag, "suffix");
            const OverlayTagInfo info = dao->getTagAttributes(tag);
            entry.item.group = info.group;
            entry.item.element = info.element;
            entry.item.vr = info.vr;
            entry.item.value = dao->getTagValueByLevel(image->getElement(), info);
            entries.push_back(entry);
        }
    }
    for (const OverlayLayoutEntry& entry : entries) {
        const int32_t direction = entry.offsetX > 0 ? 1 : 0;
        OverlayItem item = entry.item;
        item.order = direction ? entry.offsetX : clampInt(-int64_t(entry.offsetX));
        auto group = std::find_if(groups.begin(), groups.end(), [&](const CJ2KOverlayRecord& g) {
            return g.matches(entry.column, entry.row, entry.offsetY, direction);
        });
        if (group == groups.end())
            group = groups.insert(groups.end(), CJ2KOverlayRecord(entry.column, entry.row, entry.offsetY, direction));
        group->addItem(item);
    }
    image->setOverlayLayout(entries, groups);
}

std::u16string CJ2KGrid::getOverlayText(const OverlayItem& item)
{
    if (!m_element)
        return std::u16string();
    try {
        if (item.group == dicom::kOverlayValueGroup) {
            if (isTag(item, dicom::OverlayWholeNumberFirst) || isTag(item, dicom::OverlayWholeNumberSecond) ||
                isTag(item, dicom::OverlayWholeNumberThird)) {
                if (item.value.empty())
                    return std::u16string();
                const double v = boost::lexical_cast<double>(Utf16ToUtf8(item.value));
                // Outside int (or not finite) the truncation is undefined: show nothing.
                if (!std::isfinite(v) || v <= double(INT_MIN) - 1.0 || v >= double(INT_MAX) + 1.0)
                    return std::u16string();
                return widen(std::to_string(int(v)));
            }
            if (isTag(item, dicom::OverlayEmpty) || isTag(item, dicom::OverlayEmptyToo) || !m_image)
                return std::u16string();
            CImageBase& base = m_image->getImageBase();
            const bool view = isTag(item, dicom::OverlayWindowText) || isTag(item, dicom::OverlayZoom);
            // Window and zoom are the image's once it is open and presentation has set them
            // (or will not come: no UID, a failed annotation request, an image given up on);
            // before, they are stand-ins the picture never uses.
            const bool presentationDone =
                m_image->isPresented() || m_annotationFailed || m_uid.empty() || m_image->hasFailed();
            if (view && !(m_image->isOpened() && base.IsInitialised() && presentationDone))
                return std::u16string();
            if (isTag(item, dicom::OverlayWindowText)) {
                std::string text;
                return widen(base.GetWindowLevelText(text));
            }
            if (isTag(item, dicom::OverlayZoom)) {
                double zoom[2] = {0.0, 0.0};
                base.GetZoomFactors(zoom);
                char text[64];
                std::snprintf(text, sizeof text, "%.2f", zoom[0]);
                return widen(text);
            }
            const bool left = isTag(item, dicom::OverlayOrientationLeft);
            if (left || isTag(item, dicom::OverlayOrientationTop)) {
                std::vector<float> cosines;
                const std::string value = Utf16ToUtf8(item.value);
                size_t start = 0;
                while (cosines.size() < 6 && start <= value.size()) {
                    size_t end = value.find('\\', start);
                    if (end == std::string::npos)
                        end = value.size();
                    cosines.push_back(boost::lexical_cast<float>(value.substr(start, end - start)));
                    start = end + 1;
                }
                if (cosines.size() < 6)
                    return std::u16string();
                OrientationMarkers markers;
                base.GetOrientationMarkers(markers, cosines);
                const std::string& marker = left ? markers.left : markers.top;
                // An unknown direction has no letter; a letter the configuration does not
                // translate is shown as it is, never as the lookup's placeholder.
                if (marker.empty())
                    return std::u16string();
                return getPssiXmlDao()->findResourceText(marker).value_or(utf8ToWide(marker.c_str()));
            }
        }
        for (const DicomTag& shownAsStored : {dicom::SliceThickness, dicom::GantryDetectorTilt, dicom::FlipAngle,
                                              dicom::RepetitionTime, dicom::EchoTime, dicom::InversionTime})
            if (isTag(item, shownAsStored))
                return item.value;
        if (item.vr == "DA")
            return widen(formatDate(Utf16ToUtf8(item.value)));
        if (item.vr == "TM")
            return widen(formatTime(Utf16ToUtf8(item.value)));
        return item.value;
    } catch (...) {
        ORBEL_LOG(INFO) << "Exception happened in getOverlayText";
        return std::u16string();
    }
}

void CJ2KGrid::drawOverlay(HDC dc)
{
    if (!g_showOverlay || !m_image)
        return;
    const int lineHeight = rulerTextSize(m_view.bottom - m_view.top, g_overlayTextSize);
    HFONT font = CreateFontW(lineHeight, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 0, 0,
                             widen(GetDefaultOverlayFontName()).c_str());
    HGDIOBJ oldFont = SelectObject(dc, font);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const UINT oldAlign = SetTextAlign(dc, TA_LEFT | TA_TOP);
    const COLORREF oldColour = GetTextColor(dc);
    const int64_t left = m_view.left, top = m_view.top, width = m_view.right - m_view.left,
                  height = m_view.bottom - m_view.top;
    for (const CJ2KOverlayRecord& group : m_image->getOverlayGroups()) {
        int64_t x = left + width * group.column() / 8;
        if (group.column() == 0)
            x += 5;
        else if (group.column() == 8)
            x -= 5;
        int64_t y = top + height * group.row() / 8;
        if (group.row() == 0)
            y += 5;
        else if (group.row() == 8)
            y -= 5;
        const int64_t line = group.line();
        const int64_t anchorY = y;
        y += (line < 1 ? line : line - 1) * lineHeight;
        // Texts are drawn from their top: at the bottom anchor, lines 0 and 1 (and any
        // below them) would run past the cell's edge, so they end at the anchor instead.
        if (group.row() == 8)
            y = std::min(y, anchorY - lineHeight);
        y = clampPosition(y);
        x = clampPosition(x);
        int64_t previous = 0;
        for (const OverlayItem& item : group.items()) {
            // Order 0, or an order equal to the previous one, would give a negative gap:
            // texts would overlap or pass the anchor's margin, so they touch instead.
            const int64_t gap = clampPosition(std::max<int64_t>(0, int64_t(item.order) - previous - 1) * lineHeight / 2);
            previous = item.order;
            if (isTag(item, dicom::OverlayPicture)) {
                if (item.value != u"Y")
                    continue;
                HBITMAP bitmap = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(226));
                if (!bitmap)
                    continue;
                BITMAP info = {};
                GetObjectW(bitmap, sizeof(info), &info);
                x = clampPosition(group.direction() ? x + gap : x - gap - info.bmWidth);
                HDC source = CreateCompatibleDC(dc);
                HGDIOBJ old = SelectObject(source, bitmap);
                TransparentBlt(dc, int(x), int(y), info.bmWidth, info.bmHeight, source, 0, 0, info.bmWidth,
                               info.bmHeight, RGB(0, 255, 0));
                m_textRects.push_back(RECT{int(x), int(y), int(x) + info.bmWidth, int(y) + info.bmHeight});
                SelectObject(source, old);
                DeleteDC(source);
                DeleteObject(bitmap);
                if (group.direction())
                    x = clampPosition(x + info.bmWidth);
                continue;
            }
            const std::u16string text = item.prefix + getOverlayText(item) + item.suffix;
            RECT measured = {0, 0, 0, 0};
            DrawTextW(dc, text.c_str(), int(text.size()), &measured, DT_CALCRECT | DT_SINGLELINE);
            const int64_t textWidth = measured.right - measured.left;
            x = clampPosition(group.direction() ? x + gap : x - gap - textWidth);
            SetTextColor(dc, RGB(0, 0, 0));
            TextOutW(dc, int(x) + 1, int(y) + 1, text.c_str(), int(text.size()));
            SetTextColor(dc, RGB(255, 255, 255));
            TextOutW(dc, int(x), int(y), text.c_str(), int(text.size()));
            if (!text.empty())
                m_textRects.push_back(RECT{int(x), int(y), int(x + textWidth) + 1, int(y) + int(measured.bottom - measured.top) + 1});
            if (group.direction())
                x = clampPosition(x + textWidth);
        }
    }
    SetTextColor(dc, oldColour);
    SetTextAlign(dc, oldAlign);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}
