// An arrow: a shaft line and a head of two wing lines at the shaft's end, each wing
// reaching 10 pixels back along the shaft and 5 to one side. Only the shaft is stored
// in image coordinates; the head is rebuilt from it.
#pragma once

#include "annotation/OrbelAnnLine.h"

class COrbelAnnArrow : public COrbelAnnObject {
public:
    void Draw(HDC dc) override;
    void DrawMembers(HDC dc) override;
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetGeometry(AnnViewMapping* m) override;
    void SetSelected(bool on) override;

    // Rebuilds the wings from the shaft; they take creating as given.
    void UpdateHead(bool creatingNow);

    COrbelAnnLine shaft;
    COrbelAnnLine wing1;
    COrbelAnnLine wing2;
    POINT wing1Tip{0, 0};
    POINT wing2Tip{0, 0};
};
