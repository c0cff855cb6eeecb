#include "xpath/byte_stream.h"

#include <cstring>

namespace XPath {

byte_stream::byte_stream(const char* text)
{
    const size_t n = text ? std::strlen(text) : 0;
    length_ = n + 1;
    bytes_.reset(new char[length_]);
    if (n)
        std::memcpy(bytes_.get(), text, n);
    bytes_[n] = '\0';
    end_ = n;
    valid_ = position_ != end_;
}

byte_stream::~byte_stream() = default;

} // namespace XPath
