// The annotations of one image: an ordered list of owned objects (creation or load order,
// which is also drawing order). Most operations go to every member; loading reads the
// container record and stops at the first damaged record, keeping those read whole.
#pragma once

#include "annotation/OrbelAnnObject.h"

#include <vector>

class COrbelAnnContainer : public COrbelAnnObject {
public:
    // Format version at the head of every annotation text.
    static constexpr int kVersion = 1017;

    COrbelAnnContainer() = default;
    ~COrbelAnnContainer() override;
    COrbelAnnContainer(const COrbelAnnContainer&) = delete;
    COrbelAnnContainer& operator=(const COrbelAnnContainer&) = delete;

    void Draw(HDC dc) override;
    void Add(COrbelAnnObject* object) override;
    void BeginCreate(int, int) override {}
    void EndCreate(int, int) override {}
    void DragTo(int, int) override {}
    // The first member hit wins and is selected; every other member is deselected.
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void SyncCoordinates(bool fromView) override;
    void ImageToView() override;
    void SetGeometry(AnnViewMapping* m) override;

    void SelectAll();
    void DeselectAll();
    void UnmarkAll();
    // Deletes the selected members, sparing a text mark whose editor is open.
    void DeleteSelected();
    void Clear();
    // Commits the first text mark with an edit pending in an open editor; editWindow
    // receives that mark's editor window (0 after the commit). False when none was open.
    bool CommitTextEdit(HWND& editWindow);
    int Count() const { return static_cast<int>(objects_.size()); }
    COrbelAnnObject* At(int index) const { return objects_[size_t(index)]; }

private:
    void Load(COrbelArchive& ar);
    // Calls one of the members' setters on every member.
    void SetEach(void (COrbelAnnObject::*setter)(bool), bool on);

    std::vector<COrbelAnnObject*> objects_;
};
