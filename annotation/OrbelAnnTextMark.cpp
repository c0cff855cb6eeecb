#include "annotation/OrbelAnnTextMark.h"

#include "annotation/AnnShared.h"

#include <algorithm>

namespace {

const CString kName = u"COrbelAnnTextMark";

constexpr DWORD kNewEditorStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | ES_WANTRETURN | ES_AUTOHSCROLL;
constexpr DWORD kReopenedEditorStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | ES_AUTOHSCROLL;

} // namespace

COrbelAnnTextMark::COrbelAnnTextMark() : COrbelAnnComposite(kAnnTypeTextMark) {}

// The editor window goes with the mark, so no editor outlives its text.
COrbelAnnTextMark::~COrbelAnnTextMark() { CloseEditor(); }

void COrbelAnnTextMark::CloseEditor()
{
    if (editor) {
        if (editor->m_hWnd && IsWindow(editor->m_hWnd))
            DestroyWindow(editor->m_hWnd);
        delete editor;
        editor = nullptr;
    }
    editWindow = nullptr;
    editing = 0;
}

bool COrbelAnnTextMark::OpenEditor(const RECT& rc, DWORD style)
{
    CloseEditor();
    // The editor is a child of the mark's own window.
    HWND parent = mapping && mapping->window ? mapping->window : annShared.currentWindow;
    editor = new CTransEdit();
    if (!editor->Create(parent, rc, style)) {
        delete editor;
        editor = nullptr;
        return false;
    }
    editWindow = editor->m_hWnd;
    editing = 1;
    MoveWindow(editWindow, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
    return true;
}

void COrbelAnnTextMark::Draw(HDC dc)
{
    if (editing) {
        if (editWindow)
            ShowWindow(editWindow, SW_SHOW);
        return;
    }
    text.Draw(dc);
}

void COrbelAnnTextMark::BeginCreate(int x, int y)
{
    if (!editing && !done)
        text.BeginCreate(x, y);
}

void COrbelAnnTextMark::DragTo(int x, int y)
{
    if (editing)
        return;
    text.creating = 1;
    text.DragTo(x, y);
}

void COrbelAnnTextMark::EndCreate(int x, int y)
{
    if (editing)
        return;
    if (done) {
        text.creating = 0;
        return;
    }
    text.EndCreate(x, y);
    const RECT box = text.Normalised();
    if (box.right - box.left > 4 && box.bottom - box.top > 4) {
        if (OpenEditor(box, kNewEditorStyle)) {
            SendMessageW(editWindow, EM_SETSEL, 0, 0);
            SendMessageW(editWindow, EM_SCROLLCARET, 0, 0);
            SetFocus(editWindow);
        } else {
            // Without an editor the mark is done with no text; nothing stays pending.
            pending = 0;
        }
        done = 1;
    } else {
        editing = 0;
    }
    SyncCoordinates(true);
}

COrbelAnnObject* COrbelAnnTextMark::HitTest(int x, int y) { return text.HitTest(x, y) ? this : nullptr; }

bool COrbelAnnTextMark::BeginTextEdit()
{
    if (done != 1)
        return false;
    const CString copy = text.GetText();
    const RECT box = text.Normalised();
    const int w = box.right - box.left, h = box.bottom - box.top;
    const RECT rc{box.left, box.top, AnnOffset(box.left, std::max(w, h) + 30), AnnOffset(box.top, std::min(w, h) + 30)};
    if (OpenEditor(rc, kReopenedEditorStyle)) {
        SetWindowTextW(editWindow, copy.c_str());
        SendMessageW(editWindow, EM_SETSEL, WPARAM(copy.size()), LPARAM(copy.size()));
        SendMessageW(editWindow, EM_SCROLLCARET, 0, 0);
        SetFocus(editWindow);
    }
    pending = editor ? 1 : 0;
    text.creating = 0;
    return editor != nullptr;
}

bool COrbelAnnTextMark::CommitEdit()
{
    if (!editor)
        return false;
    const CString typed = editor->GetText();
    CloseEditor();
    if (!typed.empty()) {
        text.SetText(typed);
        const RECT box = text.Normalised();
        text.FitToText(box.left, box.top);
        text.creating = 0;
        SyncCoordinates(true);
    }
    pending = 0;
    done = 1;
    return true;
}

void COrbelAnnTextMark::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> pending >> editing >> done >> selected;
        // A stored text has no editor behind it.
        editing = 0;
    } else {
        // An open editor is not part of the text: its flags go out as 0, the live ones stay.
        const bool open = editor != nullptr;
        ar << kName << int(kAnnTypeTextMark) << complete << (open ? 0 : pending) << (open ? 0 : editing) << done
           << selected;
    }
    SerializeMembers(ar, {&text});
}
