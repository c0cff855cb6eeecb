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

struct ToolEntry {
    int tool;
    COrbelAnnObject* (*make)();
};

struct NameEntry {
    const char16_t* name;
    COrbelAnnObject* (*make)();
};

const ToolEntry kTools[] = {
    {kAnnTypeSquare, Make<COrbelAnnSquare>},
    {kAnnTypeTextMark, Make<COrbelAnnTextMark>},
    {kAnnTypeRuler, Make<COrbelAnnRuler>},
    {kAnnTypeProtractor, Make<COrbelAnnProtractor>},
    {kAnnTypeCobbAngle, Make<COrbelAnnCobbAngle>},
    {kAnnTypeArrowMark, Make<COrbelAnnArrowMark>},
    {kAnnTypeStamp, CreateStampForTool},
};

const NameEntry kNames[] = {
    {u"COrbelAnnArrowMark", Make<COrbelAnnArrowMark>},
    {u"COrbelAnnLine", Make<COrbelAnnLine>},
    {u"COrbelAnnRectangle", Make<COrbelAnnRectangle>},
    {u"COrbelAnnArrow", Make<COrbelAnnArrow>},
    {u"COrbelAnnRuler", Make<COrbelAnnRuler>},
    {u"COrbelAnnProtractor", Make<COrbelAnnProtractor>},
    {u"COrbelAnnCobbAngle", Make<COrbelAnnCobbAngle>},
    {u"COrbelAnnBlade", Make<COrbelAnnBlade>},
    {u"COrbelAnnSquare", Make<COrbelAnnSquare>},
    {u"COrbelAnnTextMark", Make<COrbelAnnTextMark>},
    {u"COrbelAnnText", Make<COrbelAnnText>},
    {u"COrbelAnnLabel", Make<COrbelAnnLabel>},
    {u"COrbelAnnStamp", Make<COrbelAnnStamp>},
};

} // namespace

COrbelAnnObject* CreateAnnObjectForTool(AnnViewMapping* mapping)
{
    for (const ToolEntry& e : kTools)
        if (e.tool == annShared.currentTool) {
            COrbelAnnObject* object = e.make();
            if (object)
                object->SetGeometry(mapping);
            return object;
        }
    return nullptr;
}

COrbelAnnObject* CreateAnnObjectByName(const CString& name)
{
    for (const NameEntry& e : kNames)
        if (name == e.name)
            return e.make();
    return nullptr;
}
