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
    if (ar.IsLoading()) {
        // The stored type is read past, not taken: the type id says which class an
        // object is, and a text must not make an arrow mark pass for another class.
        int storedType = 0;
        ar >> storedType >> complete >> selected;
    } else {
        ar << kName << type << complete << selected;
    }
    SerializeMembers(ar, {&arrow});
}

