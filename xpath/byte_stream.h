#pragma once
// The expression text as a byte sequence with a read position.

#include <cstddef>
#include <memory>

namespace XPath {

class byte_stream {
public:
    // A null text is taken as the empty expression.
    explicit byte_stream(const char* text);
    virtual ~byte_stream();

    byte_stream(const byte_stream&) = delete;
    byte_stream& operator=(const byte_stream&) = delete;

    // Length in bytes including the terminating zero.
    size_t length() const { return length_; }
    const char* text() const { return bytes_.get(); }

    // The byte at the read position (0 at the end) and the one after it.
    unsigned char current() const { return static_cast<unsigned char>(bytes_[position_]); }
    unsigned char peek() const
    {
        return position_ < end_ ? static_cast<unsigned char>(bytes_[position_ + 1]) : 0;
    }
    void advance()
    {
        if (position_ < end_)
            ++position_;
        valid_ = position_ != end_;
    }
    size_t position() const { return position_; }
    bool valid() const { return valid_; }

private:
    size_t length_;
    std::unique_ptr<char[]> bytes_;
    size_t position_ = 0;
    size_t end_;
    bool valid_;
};

} // namespace XPath
