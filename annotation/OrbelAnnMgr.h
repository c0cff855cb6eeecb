// The process-wide annotation manager: subclasses image windows, binds each window to a
// key (an image's wrapper address) and each key to its document, and hands the windows'
// messages to the documents before the windows' own procedures see them. Used on the
// user-interface thread only.
#pragma once

#include "annotation/OrbelAnnDicom.h"

#include <map>
#include <string>
#include <utility>

class COrbelAnnMgr {
public:
    typedef const void* Key;

    static COrbelAnnMgr* GetInstance();
    // The manager when it exists, without creating it.
    static COrbelAnnMgr* Existing();
    // Module unload: deletes the manager and with it the documents it still holds.
    static void DeleteInstance();

    virtual ~COrbelAnnMgr();
    COrbelAnnMgr(const COrbelAnnMgr&) = delete;
    COrbelAnnMgr& operator=(const COrbelAnnMgr&) = delete;

    void Attach(HWND window, Key key);
    void Detach(Key key);
    LRESULT WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    void SetTool(int tool);
    bool HasObjects(Key key);
    void Draw(Key key, HDC dc);
    void SetViewGeometry(Key key, const AnnViewGeometry* geometry);
    bool IsTextEditing();
    std::string GetAnnotationText(Key key);
    void Load(Key key, COrbelArchive& ar);
    COrbelAnnDicom* Document(Key key);

    std::map<HWND, std::pair<WNDPROC, int>> subclassed;
    std::map<Key, COrbelAnnDicom*> documents;
    std::map<HWND, Key> bindings;
    int tool = 0;

private:
    COrbelAnnMgr() = default;
};
