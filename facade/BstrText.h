// Text arguments: BSTR to UTF-8.
#pragma once

#include "platform/Com.h"

#include <memory>
#include <string>

// Null for a null BSTR or a failed conversion; an empty BSTR gives one zero byte. The
// terminating zero is converted with the text.
std::unique_ptr<char[]> BstrToUtf8(BSTR text);

// The same as a string; empty for a null BSTR or a failed conversion.
std::string BstrToUtf8String(BSTR text);
