// The base of objects built from member objects: the measuring figures and the marks. A
// class names its members once; mapping, coordinate conversion and selection then reach
// each member in that order, and a class adds only what follows from its members' new
// state.
#pragma once

#include "annotation/OrbelAnnObject.h"

#include <boost/container/static_vector.hpp>

using AnnMembers = boost::container::static_vector<COrbelAnnObject*, 8>;

// A member a hit test tries, and the part number a hit on it gives.
struct AnnPart {
    COrbelAnnObject* member;
    int part;
};
// The part of the first of parts whose member is hit at (x, y); 0 when none is. Members
// after the first hit are not tried.
int HitPart(std::initializer_list<AnnPart> parts, int x, int y);

class COrbelAnnComposite : public COrbelAnnObject {
public:
    using COrbelAnnObject::COrbelAnnObject;

    bool IsSelected() override { return selected != 0; }
    void SyncCoordinates(bool fromView) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetGeometry(AnnViewMapping* m) override;
    void SetSelected(bool on) override;

protected:
    // The plain record: class name, type id, complete and selected, then the member
    // records. The stored type id is read past: the class name decides the class.
    void SerializeRecord(COrbelArchive& ar, const CString& name, int typeId,
                         std::initializer_list<COrbelAnnObject*> records);

    // The members that carry coordinates: each is mapped and converted, in this order.
    virtual AnnMembers Members() = 0;
    // The members that show the selection; every member unless a class says otherwise.
    virtual AnnMembers SelectedMembers() { return Members(); }
};
