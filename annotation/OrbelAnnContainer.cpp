#include "annotation/OrbelAnnContainer.h"

#include "annotation/AnnObjectFactory.h"
#include "platform/TextConv.h"

#include <memory>

namespace {

// A class name from a damaged text may be long; the message shows its start.
std::string Shown(const CString& name) { return Utf16ToUtf8(name.substr(0, 64)); }

} // namespace

COrbelAnnContainer::~COrbelAnnContainer() { Clear(); }

void COrbelAnnContainer::Draw(HDC dc)
{
    for (COrbelAnnObject* o : objects_)
        o->Draw(dc);
}

void COrbelAnnContainer::Add(COrbelAnnObject* object)
{
    if (object)
        objects_.push_back(object);
}

COrbelAnnObject* COrbelAnnContainer::HitTest(int x, int y)
{
    COrbelAnnObject* hit = nullptr;
    COrbelAnnObject* member = nullptr;
    for (COrbelAnnObject* o : objects_)
        if ((hit = o->HitTest(x, y)) != nullptr) {
            member = o;
            break;
        }
    for (COrbelAnnObject* o : objects_)
        o->SetSelected(o == member);
    return hit;
}

void COrbelAnnContainer::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        Load(ar);
        return;
    }
    ar << kVersion << Count();
    for (COrbelAnnObject* o : objects_)
        o->Serialize(ar);
}

void COrbelAnnContainer::Load(COrbelArchive& ar)
{
    // An empty text holds no annotations; that is no error.
    if (ar.IsEmpty())
        return;
    int version = 0, count = 0;
    ar >> version;
    if (version != kVersion) {
        ar.SetError("Annotation text: version " + std::to_string(version) + " where " + std::to_string(kVersion) +
                    " was expected");
        return;
    }
    ar.ClearUnderflow();
    ar >> count;
    if (ar.Underflow() || count < 0) {
        ar.SetError("Annotation text: no valid object count");
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (ar.IsEmpty()) {
            ar.SetError("Annotation text ends after " + std::to_string(i) + " of " + std::to_string(count) +
                        " objects");
            return;
        }
        ar.ClearUnderflow();
        CString name;
        ar >> name;
        std::unique_ptr<COrbelAnnObject> object(ar.Underflow() ? nullptr : CreateAnnObjectByName(name));
        if (!object) {
            ar.SetError("Annotation text: object " + std::to_string(i) + " has the unknown class name \"" +
                        Shown(name) + "\"");
            return;
        }
        object->Serialize(ar);
        if (ar.Underflow()) {
            ar.SetError("Annotation text: object " + std::to_string(i) + " (" + Shown(name) + ") is cut short");
            return;
        }
        Add(object.release());
    }
}

void COrbelAnnContainer::SyncCoordinates(bool fromView)
{
    for (COrbelAnnObject* o : objects_)
        o->SyncCoordinates(fromView);
}

void COrbelAnnContainer::ImageToView()
{
    for (COrbelAnnObject* o : objects_)
        o->ImageToView();
}

void COrbelAnnContainer::SetGeometry(AnnViewMapping* m)
{
    mapping = m;
    for (COrbelAnnObject* o : objects_)
        o->SetGeometry(m);
}

void COrbelAnnContainer::SetEach(void (COrbelAnnObject::*setter)(bool), bool on)
{
    for (COrbelAnnObject* o : objects_)
        (o->*setter)(on);
}

void COrbelAnnContainer::SelectAll() { SetEach(&COrbelAnnObject::SetSelected, true); }

void COrbelAnnContainer::DeselectAll() { SetEach(&COrbelAnnObject::SetSelected, false); }

void COrbelAnnContainer::UnmarkAll() { SetEach(&COrbelAnnObject::SetMarked, false); }

void COrbelAnnContainer::DeleteSelected()
{
    std::vector<COrbelAnnObject*> kept;
    for (COrbelAnnObject* o : objects_) {
        const bool editing = o->type == kAnnTypeTextMark && o->GetEditWindow() != nullptr;
        if (o->IsSelected() && !editing)
            delete o;
        else
            kept.push_back(o);
    }
    objects_.swap(kept);
}

void COrbelAnnContainer::Clear()
{
    for (COrbelAnnObject* o : objects_)
        delete o;
    objects_.clear();
}
