// The byte form in which a control keeps its persisted properties in a stream: a version,
// then each property's name and value. A reader checks every length against the stream
// and changes nothing of the caller's until the whole block has been read.
#pragma once

#include "platform/Com.h"

#include <string>
#include <vector>

namespace platform {

// One persisted property: VT_BOOL, VT_I4 or VT_BSTR (a null BSTR stays null).
struct StoredProperty {
    std::u16string name;
    Variant value;
};

constexpr DWORD kPropertyStreamVersion = 1;

// E_INVALIDARG for a value of another type; the stream's own failure otherwise.
HRESULT WriteProperties(IStream* stream, const std::vector<StoredProperty>& properties);
// The bytes WriteProperties writes for these properties.
ULONGLONG PropertiesSize(const std::vector<StoredProperty>& properties);
// Reads one block, leaving the stream just after it. STG_E_OLDFORMAT for another version,
// STG_E_READFAULT when the stream ends inside the block, STG_E_INVALIDHEADER for a type or
// a length the format does not allow.
HRESULT ReadProperties(IStream* stream, std::vector<StoredProperty>& properties);

} // namespace platform
