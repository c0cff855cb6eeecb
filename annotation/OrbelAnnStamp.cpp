#include "annotation/OrbelAnnStamp.h"

#include "annotation/AnnShared.h"
#include "annotation/CurrentStamp.h"
#include "diagnostics/Logging.h"
#include "diagnostics/SourceName.h"

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
    const RECT box = SortedRect(viewRect);
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
    DrawBoxOutline(dc, box);
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
    dragMode = kAnnRectNone;
}

void COrbelAnnStamp::EndCreate(int x, int y)
{
    DragTo(x, y);
    ViewToImage();
    creating = 0;
    complete = 1;
    dragMode = kAnnRectNone;
}

void COrbelAnnStamp::DragTo(int x, int y)
{
    if (!MoveRectCorner(viewRect, dragMode, x, y) && dragMode > kAnnRectNone && dragMode <= kAnnRectWhole) {
        viewRect = ShiftedRect(viewRect, int64_t(x) - lastPoint.x, int64_t(y) - lastPoint.y);
        lastPoint = POINT{x, y};
    }
    ViewToImage();
}

COrbelAnnObject* COrbelAnnStamp::HitTest(int x, int y)
{
    dragMode = kAnnRectNone;
    ImageToView();
    const RECT box = SortedRect(viewRect);
    dragMode = RectPartAt(box, POINT{x, y});
    if (dragMode == kAnnRectNone && x >= box.left && x < box.right && y >= box.top && y < box.bottom)
        dragMode = kAnnRectWhole;
    return dragMode != kAnnRectNone ? Hold(x, y) : nullptr;
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
    MapViewToImage(mapping, FirstCorner(viewRect), SecondCorner(viewRect), imageCorner1, imageCorner2);
}

void COrbelAnnStamp::ImageToView()
{
    POINT a, b;
    if (MapImageToView(mapping, imageCorner1, imageCorner2, a, b))
        viewRect = CornerRect(a, b);
}

void COrbelAnnStamp::SetGeometry(AnnViewMapping* m)
{
    mapping = m;
    if (!turnsCaptured && m) {
        storedTurns = m->quarterTurns;
        turnsCaptured = 1;
    }
}
