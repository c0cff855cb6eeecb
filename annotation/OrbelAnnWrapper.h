// One image's annotations as the viewer core reaches them. The wrapper's address keys
// the image's annotation document, which the first Attach creates; every call goes
// through the process-wide annotation manager.
#pragma once

#include "annotation/AnnViewGeometry.h"
#include "platform/Win32.h"

#include <string>

class OrbelAnnWrapper {
public:
    typedef void (*ObjectCreatedCallback)(void* context);

    OrbelAnnWrapper();
    virtual ~OrbelAnnWrapper();
    OrbelAnnWrapper(const OrbelAnnWrapper&) = delete;
    OrbelAnnWrapper& operator=(const OrbelAnnWrapper&) = delete;

    static void SetObjectCreatedCallback(ObjectCreatedCallback callback, void* context);
    static void SetPen(int style, int width);
    static void SetTool(int tool);
    // True while any document has a text editor open.
    static bool IsTextEditing();
    static bool IsAnyModified(); // the same as IsTextEditing

    void Attach(HWND window);
    void SetViewGeometry(const AnnViewGeometry& geometry);
    AnnViewGeometry* GetViewGeometry();
    void Draw(HDC dc);
    std::string GetAnnotationText();
    // Appends the text's objects; false, with one ERROR record, for a text that is not
    // whole (its complete records stay appended). An empty text loads nothing.
    bool LoadAnnotationText(const std::string& hex);
    bool IsModified();
    void SetModified(bool modified);

private:
    AnnViewGeometry* m_geometry;
};
