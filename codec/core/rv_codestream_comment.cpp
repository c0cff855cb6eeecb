#include "codec/core/rv_codestream_comment.h"

#include "codec/core/rvd_output.h"
#include "codec/core/rvd_params.h"

#include <cstring>
#include <string>

void rv_codestream_comment::grow(int min_chars)
{
    if (min_chars <= max_chars)
        return;
    char* buf = new char[static_cast<size_t>(min_chars) + 1];
    if (text != nullptr && num_chars > 0)
        std::memcpy(buf, text, static_cast<size_t>(num_chars));
    buf[num_chars] = '\0';
    delete[] text;
    text = buf;
    max_chars = min_chars;
}

void rv_codestream_comment::init(int length, const unsigned char* bytes)
{
    readonly = true;
    if (length <= 0)
        return;
    num_chars = 0;
    grow(length);
    std::memcpy(text, bytes, static_cast<size_t>(length));
    num_chars = length;
    if (text[length - 1] == '\0')
        num_chars--; // the body carried its own terminator
    else
        text[length] = '\0';
}

bool rv_codestream_comment::put_text(const char* string)
{
    if (readonly || string == nullptr)
        return !readonly;
    size_t add = std::strlen(string);
    if (add == 0)
        return true;
    // Growth adds the old capacity, so lengths stay far below the int range.
    if (add > 0x1FFFFFFF || static_cast<size_t>(max_chars) + num_chars + add > 0x3FFFFFFF)
        return false;
    int new_len = num_chars + static_cast<int>(add);
    if (new_len > max_chars)
        grow(max_chars + new_len + 80);
    std::memcpy(text + num_chars, string, add);
    num_chars = new_len;
    text[num_chars] = '\0';
    return true;
}

const char* rvd_codestream_comment::get_text() const
{
    if (state == nullptr)
        return nullptr;
    return state->text == nullptr ? "" : state->text;
}

int rv_codestream_comment::write_marker(rvd_output* out, int force_length)
{
    int chars = num_chars, padding = 0;
    if (force_length == 0)
        force_length = forced_length;
    if (force_length != 0) {
        const int available = force_length > 6 ? force_length - 6 : 0;
        if (chars > available)
            chars = available;
        else
            padding = available - chars;
    }
    // Lcom counts itself and Rcom: a longer text would wrap its 16 bits.
    if (chars + padding > 65531)
        rv_raise_core_error("Codestream comment of " + std::to_string(chars + padding) +
                            " bytes is too long: a COM marker segment holds at most 65531 "
                            "bytes of text.");
    readonly = true;
    if (out != nullptr) {
        out->put(uint16_t(0xFF64));
        out->put(uint16_t(chars + padding + 4));
        out->put(uint16_t(1));
        if (chars > 0)
            out->write(reinterpret_cast<const uint8_t*>(text), chars);
        for (int k = 0; k < padding; k++)
            out->put(uint8_t(0));
    }
    return chars + padding + 6;
}
