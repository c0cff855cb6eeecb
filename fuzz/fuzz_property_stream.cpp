// Saved property blocks: any bytes read to a whole list or to an error, never a crash or
// memory beyond what the bytes hold; a list read is written back in as many bytes.
#include "platform/PropertyStream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<BYTE> bytes(data, data + size);
    platform::ComPtr<IStream> in;
    if (FAILED(platform::CreateMemoryStream(bytes, in.out())))
        return 0;
    std::vector<platform::StoredProperty> read;
    if (platform::ReadProperties(in.get(), read) != S_OK)
        return 0;
    ULARGE_INTEGER used{};
    in->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &used);
    platform::ComPtr<IStream> out;
    std::vector<BYTE> written;
    if (FAILED(platform::CreateMemoryStream({}, out.out())) || platform::WriteProperties(out.get(), read) != S_OK ||
        FAILED(platform::StreamBytes(out.get(), written)))
        std::abort();
    // Booleans are written as -1 or 0 whatever non-zero value was read; everything else as read.
    if (written.size() != used.QuadPart || platform::PropertiesSize(read) != written.size())
        std::abort();
    return 0;
}
