// The base of every annotation object, and the point member of composite objects.
// Objects keep view coordinates for drawing and hit-testing and image coordinates for
// storage, converted through the document's mapping, which every object points to and
// none owns. The virtual operations are the slots the document drives; a class
// overrides what its drawing, editing and storage need.
#pragma once

#include "annotation/AnnViewMapping.h"
#include "annotation/OrbelArchive.h"
#include "platform/Gdi.h"

#include <initializer_list>

// Type ids: the tool that creates the class; 0 for classes no tool creates.
enum AnnObjectType {
    kAnnTypeNone = 0,
    kAnnTypeSquare = 2,
    kAnnTypeTextMark = 7,
    kAnnTypeRuler = 8,
    kAnnTypeProtractor = 9,
    kAnnTypeArrowMark = 10,
    kAnnTypeStamp = 11,
    kAnnTypeCobbAngle = 14
};

class COrbelAnnObject {
public:
    explicit COrbelAnnObject(int type = kAnnTypeNone) : type(type) {}
    virtual ~COrbelAnnObject() = default;
    COrbelAnnObject(const COrbelAnnObject&) = default;
    COrbelAnnObject& operator=(const COrbelAnnObject&) = default;

    virtual void Draw(HDC) {}
    // The figure that rubber-band drawing shows.
    virtual void DrawMembers(HDC) {}
    virtual void Add(COrbelAnnObject*) {}
    virtual void Remove(COrbelAnnObject*) {}
    virtual void DrawXor(HDC dc);
    virtual bool IsComplete() { return true; }
    virtual bool IsSelected() { return false; }
    virtual void BeginCreate(int x, int y) = 0;
    virtual void EndCreate(int x, int y) = 0;
    virtual void DragTo(int x, int y) = 0;
    virtual COrbelAnnObject* HitTest(int x, int y) = 0;
    // Storing writes the stored class name, then the fields; loading reads the fields.
    virtual void Serialize(COrbelArchive& ar) = 0;
    virtual bool BeginTextEdit() { return false; }
    virtual void SyncCoordinates(bool) {}
    virtual void ViewToImage() {}
    virtual void ImageToView() {}
    virtual void SetGeometry(AnnViewMapping* m) { mapping = m; }
    virtual void SetSelected(bool on) { selected = on; }
    virtual void SetMarked(bool) {}
    virtual HWND GetEditWindow() { return nullptr; }

    // A hit's answer: the object is held for a drag from (x, y) and drawn normally next.
    COrbelAnnObject* Hold(int x, int y);

    POINT lastPoint{0, 0}; // previous mouse point of a drag, for classes moving by offsets
    int visible = 1;
    int creating = 0; // drawn out or moved with the mouse: drawn as a rubber band
    int complete = 0;
    BYTE selected = 0;
    BYTE marked = 0; // the next Draw is the normal one, whatever creating says
    AnnViewMapping* mapping = nullptr;
    int type;
};

class COrbelAnnPoint : public COrbelAnnObject {
public:
    void BeginCreate(int, int) override {}
    void EndCreate(int, int) override {}
    void DragTo(int, int) override {}
    COrbelAnnObject* HitTest(int, int) override { return nullptr; }
    // A point is stored inside its owner's record, never by itself.
    void Serialize(COrbelArchive&) override {}
    void ViewToImage() override;
    void ImageToView() override;

    POINT view{0, 0};
    POINT image{0, 0};
};

// Draws each member in this order.
void DrawEach(HDC dc, std::initializer_list<COrbelAnnObject*> members);

// Reads the member class name that precedes a member record and drops it.
void SkipMemberName(COrbelArchive& ar);
// Stores or loads the member records in this order; each loaded one's class name is skipped.
void SerializeMembers(COrbelArchive& ar, std::initializer_list<COrbelAnnObject*> members);
