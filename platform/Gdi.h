// GDI part of the Windows stand-in: device contexts drawing into 32-bit memory
// (B, G, R, 0, top-down) and window surfaces. User-interface thread only.
#pragma once

#include "platform/Win32.h"
#include "platform/WinTypes.h"

#include <string>

struct HGDIOBJ__;
struct HPEN__;
struct HFONT__;
struct HBITMAP__;
struct HRGN__;
typedef HGDIOBJ__* HGDIOBJ;
typedef HPEN__* HPEN;
typedef HFONT__* HFONT;
typedef HBITMAP__* HBITMAP;
typedef HRGN__* HRGN;

#define CLR_INVALID 0xFFFFFFFFu

// ---- stock objects ---------------------------------------------------------------
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

HGDIOBJ GetStockObject(int object);
HBRUSH CreateSolidBrush(COLORREF color);
BOOL DeleteObject(HGDIOBJ object);
int FillRect(HDC hdc, const RECT* rc, HBRUSH brush);

namespace platform {
// GDI objects alive now, stock objects excluded (leak tests).
int LiveGdiObjects();
}
