// The control's type description: one table of members (names, DISPIDs, argument types,
// help strings, and the call each makes) that fills the dispatch table and answers
// ITypeInfo.
#pragma once

#include "platform/Com.h"

#include <vector>

class COrbelViewer;

// Calls the member on the control with the converted arguments; result may be null.
using OrbelInvoker = HRESULT (*)(COrbelViewer& control, std::vector<platform::Variant>& args, VARIANT* result);

struct OrbelMember {
    const char16_t* name;
    DISPID id;
    std::vector<VARTYPE> params;
    const char16_t* help;
    OrbelInvoker invoke;
};

// The 27 methods of IOrbelViewer in interface order (GetImageStatus returns its text).
const std::vector<OrbelMember>& OrbelViewerMethods();

extern const char16_t kOrbelClassHelp[];   // "OrbelViewer Class"
extern const char16_t kOrbelLibraryHelp[]; // "QuillonActiveX 1.0 Type Library"

// A shared ITypeInfo over the table (a static object: AddRef and Release count nothing).
ITypeInfo* OrbelViewerTypeInfo();
