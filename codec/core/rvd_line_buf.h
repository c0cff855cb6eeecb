// One line of samples, 16-bit or 32-bit, whose storage is carved from a
// rvd_sample_allocator block. Copied by value; the storage belongs to the allocator.
#pragma once

#include "codec/core/rvd_sample_allocator.h"

#include <cstdint>

typedef std::int16_t rvd_sample16;

// A 32-bit sample: an integer on reversible lines, a float otherwise.
union rvd_sample32 {
    float fval;
    std::int32_t ival;
};

class rvd_line_buf {
public:
    enum : std::uint8_t { flag_absolute = 1, flag_shorts = 2 };

    rvd_line_buf() = default;

    // Records the line's shape and reserves its storage; the right extension is raised
    // so that the line ends on a 16-byte boundary. Extensions must lie in 0..255 and the
    // width must not be negative (a codec error otherwise).
    void pre_create(rvd_sample_allocator* allocator, int width, bool absolute, bool use_shorts,
                    int left_extension, int right_extension);
    // Takes the line's storage from the finalised allocator; does nothing to a line that
    // was not pre-created.
    void create();

    int get_width() const { return width; }
    int get_left_extension() const { return left_extension; }
    int get_right_extension() const { return right_extension; }
    bool is_absolute() const { return (flags & flag_absolute) != 0; }
    bool is_shorts() const { return (flags & flag_shorts) != 0; }
    bool is_pre_created() const { return pre_created != 0; }
    std::uint8_t get_flags() const { return flags; }

    // Sample 0 of the line, or null when the line holds the other sample size or has no
    // storage yet.
    rvd_sample16* get_buf16() const
    {
        return (pre_created == 0 && (flags & flag_shorts)) ? static_cast<rvd_sample16*>(storage.buf) : nullptr;
    }
    rvd_sample32* get_buf32() const
    {
        return (pre_created == 0 && !(flags & flag_shorts)) ? static_cast<rvd_sample32*>(storage.buf) : nullptr;
    }

    // Bytes before sample 0 and from sample 0 to the end of the right extension that a
    // line of this shape takes (each a multiple of 16).
    static std::uint64_t left_part_bytes(int left_extension, bool use_shorts);
    static std::uint64_t body_bytes(int width, int raised_right_extension, bool use_shorts);

private:
    int width = 0;
    std::uint8_t left_extension = 0;
    std::uint8_t right_extension = 0;
    std::uint8_t flags = 0;
    std::uint8_t pre_created = 0;
    union {
        rvd_sample_allocator* allocator;
        void* buf;
    } storage{nullptr};
};
