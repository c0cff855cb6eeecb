#include "annotation/AnnObjectFactory.h"

#include "annotation/AnnShared.h"
#include "annotation/OrbelAnnArrow.h"
#include "annotation/OrbelAnnArrowMark.h"
#include "annotation/OrbelAnnBlade.h"
#include "annotation/OrbelAnnCobbAngle.h"
#include "annotation/OrbelAnnLine.h"
#include "annotation/OrbelAnnLabel.h"
#include "annotation/OrbelAnnRectangle.h"
#include "annotation/OrbelAnnSquare.h"
#include "annotation/OrbelAnnStamp.h"
#include "annotation/OrbelAnnTextMark.h"

#include <new>

namespace {

template <class T>
COrbelAnnObject* Make()
{
    return new (std::nothrow) T();
}

using Maker = COrbelAnnObject* (*)();

// Each stored class by its stored name; the classes a tool draws also by that tool.
struct ClassEntry {
    const char16_t* name;
    Maker make;
    int tool;
    Maker makeForTool;
};

const ClassEntry kClasses[] = {
    {u"COrbelAnnArrowMark", Make<COrbelAnnArrowMark>, kAnnTypeArrowMark, Make<COrbelAnnArrowMark>},
    {u"COrbelAnnLine", Make<COrbelAnnLine>, kAnnTypeNone, nullptr},
    {u"COrbelAnnRectangle", Make<COrbelAnnRectangle>, kAnnTypeNone, nullptr},
    {u"COrbelAnnArrow", Make<COrbelAnnArrow>, kAnnTypeNone, nullptr},
    {u"COrbelAnnRuler", Make<COrbelAnnRuler>, kAnnTypeRuler, Make<COrbelAnnRuler>},
    {u"COrbelAnnProtractor", Make<COrbelAnnProtractor>, kAnnTypeProtractor, Make<COrbelAnnProtractor>},
    {u"COrbelAnnCobbAngle", Make<COrbelAnnCobbAngle>, kAnnTypeCobbAngle, Make<COrbelAnnCobbAngle>},
    {u"COrbelAnnBlade", Make<COrbelAnnBlade>, kAnnTypeNone, nullptr},
    {u"COrbelAnnSquare", Make<COrbelAnnSquare>, kAnnTypeSquare, Make<COrbelAnnSquare>},
    {u"COrbelAnnTextMark", Make<COrbelAnnTextMark>, kAnnTypeTextMark, Make<COrbelAnnTextMark>},
    {u"COrbelAnnText", Make<COrbelAnnText>, kAnnTypeNone, nullptr},
    {u"COrbelAnnLabel", Make<COrbelAnnLabel>, kAnnTypeNone, nullptr},
    // A stamp drawn with the tool takes the current stamp selection's picture.
    {u"COrbelAnnStamp", Make<COrbelAnnStamp>, kAnnTypeStamp, CreateStampForTool},
};

} // namespace

COrbelAnnObject* CreateAnnObjectForTool(AnnViewMapping* mapping)
{
    for (const ClassEntry& e : kClasses)
        if (e.makeForTool && e.tool == annShared.currentTool) {
            COrbelAnnObject* object = e.makeForTool();
            if (object)
                object->SetGeometry(mapping);
            return object;
        }
    return nullptr;
}

COrbelAnnObject* CreateAnnObjectByName(const CString& name)
{
    for (const ClassEntry& e : kClasses)
        if (name == e.name)
            return e.make();
    return nullptr;
}
