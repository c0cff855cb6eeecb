#include "annotation/OrbelAnnArrowMark.h"

namespace {

const CString kName = u"COrbelAnnArrowMark";

} // namespace

void COrbelAnnArrowMark::EndCreate(int x, int y)
{
    arrow.EndCreate(x, y);
    SyncCoordinates(true);
}

COrbelAnnObject* COrbelAnnArrowMark::HitTest(int x, int y)
{
    return arrow.HitTest(x, y) ? Hold(x, y) : nullptr;
}

void COrbelAnnArrowMark::Serialize(COrbelArchive& ar)
{
    // The stored type is read past, not taken: the type id says which class an object is,
    // and a text must not make an arrow mark pass for another class.
    SerializeRecord(ar, kName, type, {&arrow});
}

