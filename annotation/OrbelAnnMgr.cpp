#include "annotation/OrbelAnnMgr.h"

#include "annotation/AnnShared.h"
#include "platform/ModuleStartup.h"

namespace {

COrbelAnnMgr* instance = nullptr;

LRESULT CALLBACK AnnWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    COrbelAnnMgr* mgr = COrbelAnnMgr::Existing();
    return mgr ? mgr->WindowProc(window, msg, wParam, lParam) : DefWindowProcW(window, msg, wParam, lParam);
}

// Unload deletes the manager after the pens (order 3).
const StartupRegistrar kAnnotationManager(0, 2, "annotation manager", nullptr, [] { COrbelAnnMgr::DeleteInstance(); });

} // namespace

COrbelAnnMgr* COrbelAnnMgr::GetInstance()
{
    if (!instance)
        instance = new COrbelAnnMgr();
    return instance;
}

COrbelAnnMgr* COrbelAnnMgr::Existing() { return instance; }

void COrbelAnnMgr::DeleteInstance()
{
    delete instance;
    instance = nullptr;
}

COrbelAnnMgr::~COrbelAnnMgr()
{
    for (auto& entry : documents)
        delete entry.second;
    // Windows that outlive the manager get their own procedures back.
    for (auto& entry : subclassed)
        if (IsWindow(entry.first) &&
            GetWindowLongPtrW(entry.first, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&AnnWindowProc))
            SetWindowLongPtrW(entry.first, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(entry.second.first));
}

COrbelAnnDicom* COrbelAnnMgr::Document(Key key)
{
    auto it = documents.find(key);
    return it == documents.end() ? nullptr : it->second;
}

void COrbelAnnMgr::Attach(HWND window, Key key)
{
    if (!subclassed.count(window)) {
        const LONG_PTR previous =
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AnnWindowProc));
        subclassed[window] = std::make_pair(reinterpret_cast<WNDPROC>(previous), 0);
        bindings[window] = key;
    } else {
        auto it = bindings.find(window);
        if (it == bindings.end() || it->second != key)
            bindings[window] = key;
    }
    if (!Document(key))
        documents[key] = new COrbelAnnDicom(window, tool);
}

void COrbelAnnMgr::Detach(Key key)
{
    auto it = documents.find(key);
    if (it != documents.end()) {
        COrbelAnnDicom* doc = it->second;
        documents.erase(it);
        delete doc;
    }
    // Keys are addresses that come back: no window may stay bound to this one.
    for (auto& binding : bindings)
        if (binding.second == key)
            binding.second = nullptr;
}

LRESULT COrbelAnnMgr::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto sub = subclassed.find(window);
    auto bound = bindings.find(window);
    if (sub == subclassed.end() || bound == bindings.end())
        return DefWindowProcW(window, msg, wParam, lParam);
    const WNDPROC previous = sub->second.first;
    if (msg == WM_NCDESTROY) {
        // A gesture cut short by the window's end must not leave the cursor confined.
        if (COrbelAnnDicom* doc = Document(bound->second))
            doc->WindowGone(window);
        const LRESULT result = CallWindowProcW(previous, window, msg, wParam, lParam);
        subclassed.erase(window);
        bindings.erase(window);
        return result;
    }
    if (COrbelAnnDicom* doc = Document(bound->second))
        if (doc->OnMessage(window, msg, wParam, lParam) == 0)
            return 1;
    return CallWindowProcW(previous, window, msg, wParam, lParam);
}

void COrbelAnnMgr::SetTool(int t)
{
    tool = t;
    annShared.currentTool = t;
}

bool COrbelAnnMgr::HasObjects(Key key)
{
    COrbelAnnDicom* doc = Document(key);
    return doc && doc->HasObjects();
}

void COrbelAnnMgr::Draw(Key key, HDC dc)
{
    if (COrbelAnnDicom* doc = Document(key))
        doc->Draw(dc);
}

void COrbelAnnMgr::SetViewGeometry(Key key, const AnnViewGeometry* geometry)
{
    COrbelAnnDicom* doc = Document(key);
    if (doc && geometry)
        doc->SetViewGeometry(*geometry);
}

bool COrbelAnnMgr::IsTextEditing()
{
    for (auto& entry : documents)
        if (entry.second->GetEditWindow())
            return true;
    return false;
}

std::string COrbelAnnMgr::GetAnnotationText(Key key)
{
    COrbelAnnDicom* doc = Document(key);
    return doc ? doc->GetAnnotationText() : std::string();
}

void COrbelAnnMgr::Load(Key key, COrbelArchive& ar)
{
    COrbelAnnDicom* doc = Document(key);
    if (!doc)
        return;
    doc->container.Serialize(ar);
    if (ar.IsLoading()) {
        doc->container.SetGeometry(doc->mapping);
        doc->container.ImageToView();
    }
}
