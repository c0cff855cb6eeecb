// The host's "persist save FILE" and "persist load FILE": the control's persisted
// properties through its stream persistence, kept in a file between runs.
#pragma once

#include "platform/Com.h"

#include <string>

namespace hostscript {

// Each returns the control's result (E_NOINTERFACE for a control without stream
// persistence); fileOk is false when the file could not be written or read.
HRESULT SaveProperties(IUnknown* control, const std::string& path, bool& fileOk);
HRESULT LoadProperties(IUnknown* control, const std::string& path, bool& fileOk);

} // namespace hostscript
