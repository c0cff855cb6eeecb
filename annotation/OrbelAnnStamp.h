// The bitmap stamp (tool 11): a picture chosen by name from the stamp configuration,
// placed at a click with its natural size, moved or stretched by its handles, turned with
// the view in quarter turns and stored inside the annotation text as a BMP.
#pragma once

#include "annotation/OrbelAnnObject.h"
#include "imagelib/RxImage.h"

class COrbelAnnStamp : public COrbelAnnObject {
public:
    COrbelAnnStamp() : COrbelAnnObject(kAnnTypeStamp) {}

    void Draw(HDC dc) override;
    bool IsSelected() override { return selected != 0; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void SyncCoordinates(bool fromView) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetGeometry(AnnViewMapping* m) override;
    void SetMarked(bool on) override { marked = on; }

    // Decodes a BMP file image into image; pictures wider or higher than kMaxSide are
    // refused before they are decoded (an ERROR record names the size).
    static bool DecodePicture(const std::vector<uint8_t>& bytes, RxImage& image);
    static constexpr DWORD kMaxSide = 4096;

    POINT imageCorner1{0, 0};
    POINT imageCorner2{0, 0};
    RxImage shownImage;
    RxImage sourceImage;
    CString stampName;
    RECT viewRect{0, 0, 0, 0}; // x1, y1, x2, y2 as left, top, right, bottom
    int dragMode = kAnnRectNone; // the AnnRectPart held
    BYTE turnsCaptured = 0;
    int storedTurns = 0;

private:
    void Body(HDC dc, bool flag);
};

// The tool-11 entry of the factory: a stamp of the current stamp selection, or null when
// its bitmap does not decode.
COrbelAnnObject* CreateStampForTool();
