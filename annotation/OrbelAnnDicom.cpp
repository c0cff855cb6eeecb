#include "annotation/OrbelAnnDicom.h"

#include "annotation/AnnObjectFactory.h"
#include "annotation/AnnShared.h"
#include "platform/Win32.h"

COrbelAnnDicom::COrbelAnnDicom(HWND window, int tool) : mapping(new AnnViewMapping()), window(window)
{
    annShared.currentTool = tool;
    mapping->window = window;
}

COrbelAnnDicom::~COrbelAnnDicom()
{
    DropCurrent();
    EndGesture();
    container.Clear();
    delete mapping;
}

// An open gesture leaves the mouse captured and the cursor confined until it ends.
void COrbelAnnDicom::EndGesture()
{
    if (!gestureOpen)
        return;
    gestureOpen = false;
    if (GetCapture() == window)
        ReleaseCapture();
    ClipCursor(nullptr);
}

void COrbelAnnDicom::WindowGone(HWND hwnd)
{
    if (hwnd != window)
        return;
    DropCurrent();
    EndGesture();
    editWindow = nullptr; // an open editor, a child, goes with the window
}

void COrbelAnnDicom::InvalidateClient()
{
    if (window && IsWindow(window))
        InvalidateRect(window, nullptr, FALSE);
}

void COrbelAnnDicom::DropCurrent()
{
    if (current && ownsCurrent) {
        delete current;
        InvalidateClient();
    }
    current = nullptr;
    ownsCurrent = false;
}

void COrbelAnnDicom::SetViewGeometry(const AnnViewGeometry& g)
{
    static_cast<AnnViewGeometry&>(*mapping) = g;
    container.SyncCoordinates(false);
}

std::string COrbelAnnDicom::GetAnnotationText()
{
    COrbelArchive ar(0);
    container.Serialize(ar);
    std::string text;
    return COrbelArchive::ToHex(ar, text);
}

int COrbelAnnDicom::OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    window = hwnd;
    mapping->window = hwnd;
    annShared.currentWindow = hwnd;
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    switch (msg) {
    case WM_MOUSEMOVE:
        MouseMove(x, y);
        return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        KeyDown(int(wParam & 0xFF));
        return 1;
    case WM_LBUTTONDOWN:
        ButtonDown(x, y);
        return 1;
    case WM_LBUTTONUP:
        return ButtonUp(x, y) == 0 ? 0 : 1;
    case WM_LBUTTONDBLCLK:
        return DoubleClick(x, y) ? 0 : 1;
    default:
        return 1;
    }
}

void COrbelAnnDicom::ButtonDown(int x, int y)
{
    RECT rc{0, 0, 0, 0};
    GetClientRect(window, &rc);
    POINT tl{rc.left, rc.top}, br{rc.right, rc.bottom};
    ClientToScreen(window, &tl);
    ClientToScreen(window, &br);
    const RECT clip{tl.x, tl.y, br.x, br.y};
    SetCapture(window);
    ClipCursor(&clip);
    gestureOpen = true;

    if (pendingReset) {
        container.UnmarkAll();
        container.DeselectAll();
        if (container.CommitTextEdit(editWindow)) {
            modified = 1;
            DropCurrent();
        }
        pendingReset = 0;
    }
    if (annShared.currentTool == 1) {
        COrbelAnnObject* hit = container.HitTest(x, y);
        DropCurrent();
        current = hit;
    }
    creating = 0;
    if (!current) {
        current = CreateAnnObjectForTool(mapping);
        if (current) {
            ownsCurrent = true;
            current->BeginCreate(x, y);
            creating = 1;
        }
        return;
    }
    // Only this document's own open figure is continued; an object from the container,
    // complete or not, is moved.
    if (ownsCurrent && !current->IsComplete()) {
        current->BeginCreate(x, y);
        creating = 1;
    } else {
        dragging = 1;
    }
}

void COrbelAnnDicom::MouseMove(int x, int y)
{
    if (!dragging && !current)
        return;
    HDC dc = GetDC(window);
    if (dragging) {
        if (current)
            current->Draw(dc);
        dragging = 0;
    }
    if (current) {
        current->Draw(dc);
        current->DragTo(x, y);
        current->Draw(dc);
    }
    ReleaseDC(window, dc);
}

int COrbelAnnDicom::ButtonUp(int x, int y)
{
    if (current) {
        HDC dc = GetDC(window);
        current->Draw(dc);
        current->EndCreate(x, y);
        current->Draw(dc);
        if (current->IsComplete()) {
            if (creating && ownsCurrent) {
                container.Add(current);
                ownsCurrent = false;
                editWindow = current->GetEditWindow();
                if (annShared.objectCreated && annShared.objectCreatedContext)
                    annShared.objectCreated(annShared.objectCreatedContext);
            }
            InvalidateClient();
            modified = 1;
            current = nullptr;
        } else if (creating && ownsCurrent && current->type != kAnnTypeTextMark) {
            // A figure of several clicks stays open, the mouse still captured.
            ReleaseDC(window, dc);
            return 0;
        }
        if (current && current->type == kAnnTypeTextMark)
            editWindow = nullptr;
        if (dragging)
            InvalidateClient();
        // An incomplete object that was moved, or a text mark too small for its editor,
        // is not carried into the next press.
        DropCurrent();
        dragging = 0;
        pendingReset = 1;
        ReleaseDC(window, dc);
    }
    ReleaseCapture();
    ClipCursor(nullptr);
    gestureOpen = false;
    return 1;
}

int COrbelAnnDicom::DoubleClick(int x, int y)
{
    if (annShared.currentTool != 1)
        return 0;
    DropCurrent();
    current = container.HitTest(x, y);
    if (!current || !current->IsComplete())
        return 0;
    const bool opened = current->BeginTextEdit();
    editWindow = current->GetEditWindow();
    return opened ? 1 : 0;
}

void COrbelAnnDicom::KeyDown(int key)
{
    // Enter ends an open text edit whatever the tool (the text mark's own tool included),
    // and the committed text is a change the status document must carry.
    if (key == VK_RETURN && container.CommitTextEdit(editWindow)) {
        modified = 1;
        DropCurrent();
        InvalidateClient();
        return;
    }
    if (annShared.currentTool != 1)
        return;
    if ((key == 0x41 || key == 0x61) && (GetKeyState(VK_CONTROL) & 0x8000)) {
        container.SelectAll();
    } else if (key == VK_DELETE) {
        DropCurrent();
        container.DeleteSelected();
        modified = 1;
    } else if (key == VK_RETURN) {
        container.CommitTextEdit(editWindow);
        DropCurrent();
    } else {
        return;
    }
    InvalidateClient();
}
