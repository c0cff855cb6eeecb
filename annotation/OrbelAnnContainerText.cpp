#include "annotation/OrbelAnnContainer.h"
#include "annotation/OrbelAnnTextMark.h"

bool COrbelAnnContainer::CommitTextEdit(HWND& editWindow)
{
    for (COrbelAnnObject* o : objects_) {
        if (o->type != kAnnTypeTextMark)
            continue;
        auto* mark = dynamic_cast<COrbelAnnTextMark*>(o);
        // A loaded mark may say pending without an editor; it must not hide a later
        // mark's open editor.
        if (!mark || !mark->pending || !mark->editor)
            continue;
        const bool closed = mark->CommitEdit();
        editWindow = mark->GetEditWindow();
        return closed;
    }
    return false;
}
