// One image's annotations as the viewer core reaches them. The wrapper's address keys
// the image's annotation document. Until the annotation documents exist this holds
// only the view record and behaves as a key without a document: nothing to draw, no
// text, never modified.
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
    static bool IsTextEditing();
    static bool IsAnyModified();

    void Attach(HWND window);
    void SetViewGeometry(const AnnViewGeometry& geometry);
    AnnViewGeometry* GetViewGeometry();
    void Draw(HDC dc);
    std::string GetAnnotationText();
    void LoadAnnotationText(const std::string& hex);
    bool IsModified();
    void SetModified(bool modified);

private:
    AnnViewGeometry* m_geometry;
};
