// The annotation layer's process-wide state, used on the user-interface thread only: the
// current tool, the current annotation window, the object-created callback, the pen
// style and width, and the four pens every object draws with. The pens are made once, by
// the first pen setting; until then drawing keeps the context's current pen.
#pragma once

#include "platform/Gdi.h"

enum AnnPen {
    kAnnPenWhite = 0,       // chosen style and width, white
    kAnnPenBlack = 1,       // chosen style and width, black
    kAnnPenDottedWhite = 2, // dotted, chosen width
    kAnnPenDottedBlack = 3,
    kAnnPenCount = 4
};

struct AnnSharedState {
    int currentTool = 0;
    HWND currentWindow = nullptr;
    void (*objectCreated)(void* context) = nullptr;
    void* objectCreatedContext = nullptr;
    int penStyle = PS_DASH;
    int penWidth = 1;
    bool pensCreated = false;
    HPEN pens[kAnnPenCount] = {};
};

extern AnnSharedState annShared;

// Makes the four pens from the stored style and width; does nothing once they exist.
void CreateSharedPens();
// Deletes the pens that exist and forgets them (module unload).
void DeleteSharedPens();

// Selects shared pens into a context for one drawing and puts the context's own pen back
// afterwards. A pen not made yet is not selected: the current one stays.
class AnnPenScope {
public:
    explicit AnnPenScope(HDC dc) : dc_(dc) {}
    ~AnnPenScope();
    AnnPenScope(const AnnPenScope&) = delete;
    AnnPenScope& operator=(const AnnPenScope&) = delete;
    void Use(AnnPen pen);

private:
    HDC dc_;
    HGDIOBJ old_ = nullptr;
    bool changed_ = false;
};

// Strokes the four sides of box with the current pen, from its left-top corner round.
void DrawBoxOutline(HDC dc, const RECT& box);

// Sets a raster operation for one drawing and restores the previous one.
class AnnRopScope {
public:
    AnnRopScope(HDC dc, int rop) : dc_(dc), old_(SetROP2(dc, rop)) {}
    ~AnnRopScope()
    {
        if (old_)
            SetROP2(dc_, old_);
    }
    AnnRopScope(const AnnRopScope&) = delete;
    AnnRopScope& operator=(const AnnRopScope&) = delete;

private:
    HDC dc_;
    int old_;
};
