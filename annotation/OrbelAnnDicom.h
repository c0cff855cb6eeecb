// One image's annotation document: its objects and view mapping, and the editing that
// the image window's mouse and key messages drive. Rubber bands are drawn straight onto
// the window in exclusive-or; at rest the window's own painting draws the objects.
#pragma once

#include "annotation/OrbelAnnContainer.h"

#include <string>

class COrbelAnnDicom {
public:
    COrbelAnnDicom(HWND window, int tool);
    virtual ~COrbelAnnDicom();
    COrbelAnnDicom(const COrbelAnnDicom&) = delete;
    COrbelAnnDicom& operator=(const COrbelAnnDicom&) = delete;

    // 0: the message was consumed; otherwise it goes on to the window's own procedure.
    int OnMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    void SetViewGeometry(const AnnViewGeometry& geometry);
    std::string GetAnnotationText();
    bool HasObjects() const { return container.Count() > 0; }
    void Draw(HDC dc) { container.Draw(dc); }
    bool IsModified() const { return modified != 0; }
    void SetModified(bool on) { modified = on ? 1 : 0; }
    HWND GetEditWindow() const { return editWindow; }
    // The window is being destroyed: an open gesture on it lets the mouse and cursor go.
    void WindowGone(HWND window);

    COrbelAnnContainer container;
    AnnViewMapping* mapping;

private:
    void ButtonDown(int x, int y);
    void MouseMove(int x, int y);
    int ButtonUp(int x, int y);
    int DoubleClick(int x, int y);
    void KeyDown(int key);
    // Forgets current, deleting it when it is this document's own, unadded figure.
    void DropCurrent();
    void InvalidateClient();
    void EndGesture();

    HWND window;
    HWND editWindow = nullptr;
    COrbelAnnObject* current = nullptr;
    bool ownsCurrent = false; // current was made here and is not in the container yet
    int creating = 0;
    int dragging = 0;
    int pendingReset = 0;
    BYTE modified = 0;
    bool gestureOpen = false; // a press captured the mouse and confined the cursor
};
