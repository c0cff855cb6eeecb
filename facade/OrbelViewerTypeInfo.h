// The control's type description: one table of members (names, DISPIDs, argument types,
// help strings) that fills the dispatch table and answers ITypeInfo.
#pragma once

#include "platform/Com.h"

#include <vector>

struct OrbelMember {
    const char16_t* name;
    DISPID id;
    std::vector<VARTYPE> params;
    const char16_t* help;
};

// The 27 methods of IOrbelViewer in interface order (GetImageStatus returns its text).
const std::vector<OrbelMember>& OrbelViewerMethods();

extern const char16_t kOrbelClassHelp[];   // "OrbelViewer Class"
extern const char16_t kOrbelLibraryHelp[]; // "QuillonActiveX 1.0 Type Library"

// A shared ITypeInfo over the table (a static object: AddRef and Release count nothing).
ITypeInfo* OrbelViewerTypeInfo();
