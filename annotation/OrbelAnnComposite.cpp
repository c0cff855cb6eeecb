#include "annotation/OrbelAnnComposite.h"

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
