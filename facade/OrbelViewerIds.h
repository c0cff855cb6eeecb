// Identifiers of the control's class, interfaces, type library and application.
#pragma once

#include "platform/Com.h"

extern const CLSID CLSID_OrbelViewer;
extern const IID IID_IOrbelViewer;
extern const IID DIID__IOrbelViewerEvents;
extern const GUID LIBID_QuillonActiveX;
extern const GUID APPID_QuillonActiveX;

#define ORBEL_CLSID_TEXT "{34D6249F-F98A-4F07-816D-87A17A47D2D8}"
#define ORBEL_IID_TEXT "{AE8038CC-4190-4EF3-BE8F-FB64B0EDD749}"
#define ORBEL_DIID_TEXT "{4E7B4DC2-1FE9-4057-8E63-3492AC0DF71B}"
#define ORBEL_LIBID_TEXT "{A49A4EAC-1E4E-46AB-82FB-020FD51DC29F}"
#define ORBEL_APPID_TEXT "{9CB9CBFB-27D0-43BF-9C5D-BCE00EA8AFA5}"

// Resource ids.
#define IDR_QUILLONACTIVEX 101
#define IDR_ORBELVIEWER 102
#define IDS_PROJNAME 100
