// The text of tool 7: a box drawn out with the mouse, then typed in place in a child
// editor; committing the edit shows the text. A double click reopens the editor.
#pragma once

#include "annotation/OrbelAnnComposite.h"
#include "annotation/OrbelAnnText.h"
#include "annotation/TransEdit.h"

class COrbelAnnTextMark : public COrbelAnnComposite {
public:
    COrbelAnnTextMark();
    ~COrbelAnnTextMark() override;
    COrbelAnnTextMark(const COrbelAnnTextMark&) = delete;
    COrbelAnnTextMark& operator=(const COrbelAnnTextMark&) = delete;

    void Draw(HDC dc) override;
    bool IsComplete() override { return done == 1; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    bool BeginTextEdit() override;
    void SetMarked(bool on) override { text.SetMarked(on); }
    HWND GetEditWindow() override { return editWindow; }

    // Takes the editor's text and closes the editor; false when none was open.
    bool CommitEdit();

    CTransEdit* editor = nullptr;
    COrbelAnnText text;
    int done = 0;
    int pending = 1;
    int editing = 0;
    HWND editWindow = nullptr;

protected:
    AnnMembers Members() override { return {&text}; }

private:
    bool OpenEditor(const RECT& rc, DWORD style);
    void CloseEditor();
};
