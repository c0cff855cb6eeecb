#include "annotation/OrbelAnnStamp.h"

#include "annotation/AnnShared.h"
#include "annotation/CurrentStamp.h"
#include "diagnostics/Logging.h"
#include "diagnostics/SourceName.h"

#include <algorithm>
#include <memory>
#include <new>

ORBEL_SOURCE_NAME(".\\annotation\\OrbelAnnStamp")

namespace {

const CString kName = u"COrbelAnnStamp";

} // namespace

bool COrbelAnnStamp::DecodePicture(const std::vector<uint8_t>& bytes, RxImage& image)
{
    image.Destroy();
    if (bytes.empty() || bytes.size() > 0xFFFFFFFFu)
        return false;
    std::vector<uint8_t> copy(bytes); // the decoder reads through a non-const buffer
    // Read the size alone first, so an oversized picture is never allocated.
    RxImage probe;
    probe.SetEscape(-1);
    if (!probe.Decode(copy.data(), DWORD(copy.size()), RXIMAGE_FORMAT_BMP))
        return false;
    if (probe.GetWidth() > kMaxSide || probe.GetHeight() > kMaxSide) {
        ORBEL_LOG(ERROR) << "Stamp picture of " << long(int32_t(probe.GetWidth())) << " x "
                         << long(int32_t(probe.GetHeight())) << " pixels refused (at most " << kMaxSide << " x "
                         << kMaxSide << ")";
        return false;
    }
    return image.Decode(copy.data(), DWORD(copy.size()), RXIMAGE_FORMAT_BMP) && image.IsValid();
}

COrbelAnnObject* CreateStampForTool()
{
    std::unique_ptr<COrbelAnnStamp> stamp(new (std::nothrow) COrbelAnnStamp());
    if (!stamp)
        return nullptr;
    stamp->stampName = currentStampName;
    if (!COrbelAnnStamp::DecodePicture(currentStampBitmap, stamp->shownImage))
        return nullptr;
    stamp->sourceImage = stamp->shownImage;
    return stamp.release();
}

void COrbelAnnStamp::Body(HDC dc, bool flag)
{
    if (!visible)
        return;
    ImageToView();
    const RECT& v = viewRect;
    const RECT box{std::min(v.left, v.right), std::min(v.top, v.bottom), std::max(v.left, v.right),
                   std::max(v.top, v.bottom)};
    if (!creating) {
        shownImage.Draw(dc, box);
        return;
    }
    AnnPenScope pen(dc);
    if (flag) {
        pen.Use(selected ? kAnnPenDottedBlack : kAnnPenBlack);
        shownImage.Draw(dc, box);
    }
    pen.Use(selected ? kAnnPenDottedWhite : kAnnPenWhite);
    MoveToEx(dc, box.left, box.top, nullptr);
    LineTo(dc, box.right, box.top);
    LineTo(dc, box.right, box.bottom);
    LineTo(dc, box.left, box.bottom);
    LineTo(dc, box.left, box.top);
}

void COrbelAnnStamp::Draw(HDC dc)
{
    if (marked) {
        Body(dc, true);
        marked = 0;
        return;
    }
    if (!creating) {
        Body(dc, true);
        return;
    }
    AnnRopScope rop(dc, R2_XORPEN);
    Body(dc, false);
}

void COrbelAnnStamp::BeginCreate(int x, int y)
{
    viewRect = RECT{x, y, AnnOffset(x, shownImage.GetWidth()), AnnOffset(y, shownImage.GetHeight())};
    ViewToImage();
    creating = 0;
    complete = 1;
    dragMode = kDragNone;
}

void COrbelAnnStamp::EndCreate(int x, int y)
{
    DragTo(x, y);
    ViewToImage();
    creating = 0;
    complete = 1;
    dragMode = kDragNone;
}

void COrbelAnnStamp::DragTo(int x, int y)
{
    if (!MoveRectCorner(viewRect, dragMode, x, y) && dragMode > kDragNone && dragMode <= kDragInside) {
        viewRect = ShiftedRect(viewRect, int64_t(x) - lastPoint.x, int64_t(y) - lastPoint.y);
        lastPoint = POINT{x, y};
    }
    ViewToImage();
}

COrbelAnnObject* COrbelAnnStamp::HitTest(int x, int y)
{
    dragMode = kDragNone;
    ImageToView();
    const RECT& v = viewRect;
    const int x1 = std::min(v.left, v.right), x2 = std::max(v.left, v.right);
    const int y1 = std::min(v.top, v.bottom), y2 = std::max(v.top, v.bottom);
    const POINT p{x, y};
    dragMode = RectPartAt(RECT{x1, y1, x2, y2}, p);
    if (dragMode == kDragNone && x >= x1 && x < x2 && y >= y1 && y < y2)
        dragMode = kDragInside;
    if (dragMode == kDragNone)
        return nullptr;
    creating = 1;
    lastPoint = p;
    marked = 1;
    return this;
}

void COrbelAnnStamp::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        ar >> stampName;
        int n = 0;
        ar >> n;
        const bool whole = n > 0 && size_t(n) <= ar.Remaining();
        const std::vector<uint8_t> raw = ar.TakeBytes(n);
        // A cut or oversized bitmap leaves the stamp without a picture; it then draws nothing.
        if (whole)
            DecodePicture(raw, sourceImage);
        int storedType = 0;
        ar >> storedType >> complete >> creating >> selected;
        ar >> imageCorner1.x >> imageCorner1.y >> imageCorner2.x >> imageCorner2.y;
        ar >> turnsCaptured >> storedTurns;
    } else {
        ar << kName << stampName << sourceImage << int(kAnnTypeStamp) << complete << creating << selected;
        ar << int(imageCorner1.x) << int(imageCorner1.y) << int(imageCorner2.x) << int(imageCorner2.y);
        ar << turnsCaptured << storedTurns;
    }
}

void COrbelAnnStamp::SyncCoordinates(bool fromView)
{
    if (fromView) {
        ViewToImage();
        return;
    }
    // Always from the source, so the border a turn adds never accumulates.
    shownImage = sourceImage;
    const int turns = mapping ? mapping->quarterTurns : 0;
    const int r = (((turns - storedTurns) % 4) + 4) % 4;
    if (r == 1)
        shownImage.Rotate(90.0f);
    else if (r == 3)
        shownImage.Rotate(-90.0f);
}

void COrbelAnnStamp::ViewToImage()
{
    if (!mapping)
        return;
    imageCorner1 = MapViewToImage(*mapping, viewRect.left, viewRect.top);
    imageCorner2 = MapViewToImage(*mapping, viewRect.right, viewRect.bottom);
}

void COrbelAnnStamp::ImageToView()
{
    if (!mapping)
        return;
    const POINT a = MapImageToView(*mapping, imageCorner1.x, imageCorner1.y);
    const POINT b = MapImageToView(*mapping, imageCorner2.x, imageCorner2.y);
    viewRect = RECT{a.x, a.y, b.x, b.y};
}

void COrbelAnnStamp::SetGeometry(AnnViewMapping* m)
{
    mapping = m;
    if (!turnsCaptured && m) {
        storedTurns = m->quarterTurns;
        turnsCaptured = 1;
    }
}
