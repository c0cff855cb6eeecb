#include "annotation/OrbelAnnObject.h"

#include "annotation/AnnShared.h"

void COrbelAnnObject::DrawXor(HDC dc)
{
    AnnRopScope rop(dc, R2_NOTXORPEN);
    DrawMembers(dc);
}

COrbelAnnObject* COrbelAnnObject::Hold(int x, int y)
{
    creating = 1;
    lastPoint = POINT{x, y};
    marked = 1;
    return this;
}

void COrbelAnnPoint::ViewToImage()
{
    if (mapping)
        image = MapViewToImage(*mapping, view.x, view.y);
}

void COrbelAnnPoint::ImageToView()
{
    if (mapping)
        view = MapImageToView(*mapping, image.x, image.y);
}

void DrawEach(HDC dc, std::initializer_list<COrbelAnnObject*> members)
{
    for (COrbelAnnObject* member : members)
        member->Draw(dc);
}

void SkipMemberName(COrbelArchive& ar)
{
    CString name;
    ar >> name;
}

void SerializeMembers(COrbelArchive& ar, std::initializer_list<COrbelAnnObject*> members)
{
    for (COrbelAnnObject* member : members) {
        if (ar.IsLoading())
            SkipMemberName(ar);
        member->Serialize(ar);
    }
}
