#include "annotation/OrbelAnnWrapper.h"

#include "annotation/AnnShared.h"
#include "annotation/OrbelAnnMgr.h"
#include "diagnostics/Logging.h"
#include "diagnostics/SourceName.h"

#include <cstring>

ORBEL_SOURCE_NAME(".\\annotation\\OrbelAnnWrapper")

OrbelAnnWrapper::OrbelAnnWrapper() : m_geometry(new AnnViewGeometry())
{
    std::memset(m_geometry, 0, sizeof *m_geometry);
}

OrbelAnnWrapper::~OrbelAnnWrapper()
{
    delete m_geometry;
    if (COrbelAnnMgr* mgr = COrbelAnnMgr::Existing())
        mgr->Detach(this);
}

void OrbelAnnWrapper::SetObjectCreatedCallback(ObjectCreatedCallback callback, void* context)
{
    annShared.objectCreated = callback;
    annShared.objectCreatedContext = context;
}

void OrbelAnnWrapper::SetPen(int style, int width)
{
    COrbelAnnMgr::GetInstance();
    annShared.penStyle = style;
    annShared.penWidth = width;
    CreateSharedPens();
}

void OrbelAnnWrapper::SetTool(int tool) { COrbelAnnMgr::GetInstance()->SetTool(tool); }

bool OrbelAnnWrapper::IsTextEditing()
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::Existing();
    return mgr && mgr->IsTextEditing();
}

bool OrbelAnnWrapper::IsAnyModified() { return IsTextEditing(); }

void OrbelAnnWrapper::Attach(HWND window) { COrbelAnnMgr::GetInstance()->Attach(window, this); }

void OrbelAnnWrapper::SetViewGeometry(const AnnViewGeometry& geometry)
{
    *m_geometry = geometry;
    COrbelAnnMgr::GetInstance()->SetViewGeometry(this, m_geometry);
}

AnnViewGeometry* OrbelAnnWrapper::GetViewGeometry() { return m_geometry; }

void OrbelAnnWrapper::Draw(HDC dc)
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::Existing();
    if (mgr && mgr->HasObjects(this))
        mgr->Draw(this, dc);
}

std::string OrbelAnnWrapper::GetAnnotationText()
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::Existing();
    return mgr ? mgr->GetAnnotationText(this) : std::string();
}

bool OrbelAnnWrapper::LoadAnnotationText(const std::string& hex)
{
    COrbelArchive ar(1);
    if (COrbelArchive::FromHex(hex, ar))
        COrbelAnnMgr::GetInstance()->Load(this, ar);
    if (ar.Error().empty())
        return true;
    ORBEL_LOG(ERROR) << ar.Error();
    return false;
}

bool OrbelAnnWrapper::IsModified()
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::Existing();
    COrbelAnnDicom* doc = mgr ? mgr->Document(this) : nullptr;
    return doc && doc->IsModified();
}

void OrbelAnnWrapper::SetModified(bool modified)
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::Existing();
    if (COrbelAnnDicom* doc = mgr ? mgr->Document(this) : nullptr)
        doc->SetModified(modified);
}
