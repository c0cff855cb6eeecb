#include "annotation/OrbelAnnComposite.h"

int HitPart(std::initializer_list<AnnPart> parts, int x, int y)
{
    for (const AnnPart& p : parts)
        if (p.member->HitTest(x, y))
            return p.part;
    return 0;
}

void COrbelAnnComposite::SerializeRecord(COrbelArchive& ar, const CString& name, int typeId,
                                         std::initializer_list<COrbelAnnObject*> records)
{
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> selected;
    } else {
        ar << name << typeId << complete << selected;
    }
    SerializeMembers(ar, records);
}

void COrbelAnnComposite::SyncCoordinates(bool fromView)
{
    if (fromView)
        ViewToImage();
    else
        ImageToView();
}

void COrbelAnnComposite::ViewToImage()
{
    for (COrbelAnnObject* member : Members())
        member->ViewToImage();
}

void COrbelAnnComposite::ImageToView()
{
    for (COrbelAnnObject* member : Members())
        member->ImageToView();
}

void COrbelAnnComposite::SetGeometry(AnnViewMapping* m)
{
    mapping = m;
    for (COrbelAnnObject* member : Members())
        member->SetGeometry(m);
}

void COrbelAnnComposite::SetSelected(bool on)
{
    selected = on;
    for (COrbelAnnObject* member : SelectedMembers())
        member->SetSelected(on);
}
