// The one pair of converters between the UTF-8 used inside and the UTF-16 the
// system speaks at its boundaries. Malformed input becomes U+FFFD, never an error.
#pragma once

#include <string>

std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);
