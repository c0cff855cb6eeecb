// The one place that maps tools and stored class names to annotation classes.
#pragma once

#include "annotation/OrbelAnnObject.h"

// An object for the current tool with the mapping set; null for tools that create none.
COrbelAnnObject* CreateAnnObjectForTool(AnnViewMapping* mapping);
// An empty object of the class stored under exactly this name (case-sensitive); null
// for any other name. The mapping is left for the loader to set.
COrbelAnnObject* CreateAnnObjectByName(const CString& name);
