#include "annotation/AnnShared.h"

#include "platform/ModuleStartup.h"

AnnSharedState annShared;

void CreateSharedPens()
{
    if (annShared.pensCreated)
        return;
    const int style = annShared.penStyle, width = annShared.penWidth;
    annShared.pens[kAnnPenWhite] = CreatePen(style, width, RGB(255, 255, 255));
    annShared.pens[kAnnPenBlack] = CreatePen(style, width, RGB(0, 0, 0));
    annShared.pens[kAnnPenDottedWhite] = CreatePen(PS_DOT, width, RGB(255, 255, 255));
    annShared.pens[kAnnPenDottedBlack] = CreatePen(PS_DOT, width, RGB(0, 0, 0));
    annShared.pensCreated = true;
}

void DeleteSharedPens()
{
    for (HPEN& pen : annShared.pens) {
        if (pen)
            DeleteObject(pen);
        pen = nullptr;
    }
    annShared.pensCreated = false;
}

AnnPenScope::~AnnPenScope()
{
    if (changed_)
        SelectObject(dc_, old_);
}

void AnnPenScope::Use(AnnPen pen)
{
    HPEN handle = annShared.pens[pen];
    if (!handle)
        return;
    HGDIOBJ previous = SelectObject(dc_, handle);
    if (!changed_) {
        old_ = previous;
        changed_ = previous != nullptr;
    }
}

namespace {

// Unload deletes the pens before the manager (order 2) goes.
const StartupRegistrar kAnnotationPens(0, 3, "annotation pens", nullptr, [] { DeleteSharedPens(); });

} // namespace

void DrawBoxOutline(HDC dc, const RECT& box)
{
    MoveToEx(dc, box.left, box.top, nullptr);
    LineTo(dc, box.right, box.top);
    LineTo(dc, box.right, box.bottom);
    LineTo(dc, box.left, box.bottom);
    LineTo(dc, box.left, box.top);
}
