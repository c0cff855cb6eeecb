#include "annotation/OrbelAnnWrapper.h"

#include <cstring>

namespace {
OrbelAnnWrapper::ObjectCreatedCallback g_objectCreated = nullptr;
void* g_objectCreatedContext = nullptr;
int g_penStyle = 1;
int g_penWidth = 1;
int g_tool = 0;
} // namespace

OrbelAnnWrapper::OrbelAnnWrapper() : m_geometry(new AnnViewGeometry())
{
    std::memset(m_geometry, 0, sizeof *m_geometry);
}

OrbelAnnWrapper::~OrbelAnnWrapper() { delete m_geometry; }

void OrbelAnnWrapper::SetObjectCreatedCallback(ObjectCreatedCallback callback, void* context)
{
    g_objectCreated = callback;
    g_objectCreatedContext = context;
}

void OrbelAnnWrapper::SetPen(int style, int width)
{
    g_penStyle = style;
    g_penWidth = width;
}

void OrbelAnnWrapper::SetTool(int tool) { g_tool = tool; }

bool OrbelAnnWrapper::IsTextEditing() { return false; }

bool OrbelAnnWrapper::IsAnyModified() { return false; }

void OrbelAnnWrapper::Attach(HWND) {}

void OrbelAnnWrapper::SetViewGeometry(const AnnViewGeometry& geometry) { *m_geometry = geometry; }

AnnViewGeometry* OrbelAnnWrapper::GetViewGeometry() { return m_geometry; }

void OrbelAnnWrapper::Draw(HDC) {}

std::string OrbelAnnWrapper::GetAnnotationText() { return std::string(); }

void OrbelAnnWrapper::LoadAnnotationText(const std::string&) {}

bool OrbelAnnWrapper::IsModified() { return false; }

void OrbelAnnWrapper::SetModified(bool) {}
