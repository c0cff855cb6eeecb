#include "tools/decode/codec_message_sinks.h"

#include "platform/TextConv.h"

#include <exception>

void throwing_codec_sink::put_text(const char16_t* t)
{
    text += Utf16ToUtf8(std::u16string(t));
}

void throwing_codec_sink::flush(bool end_of_message)
{
    if (end_of_message && std::uncaught_exceptions() == 0) {
        std::string done;
        done.swap(text);
        throw codec_failure(done);
    }
}

void printing_codec_sink::put_text(const char* t)
{
    if (out != nullptr)
        std::fputs(t, out);
}

void printing_codec_sink::put_text(const char16_t* t)
{
    if (out != nullptr)
        std::fputs(Utf16ToUtf8(std::u16string(t)).c_str(), out);
}

void printing_codec_sink::flush(bool end_of_message)
{
    if (out != nullptr && end_of_message)
        std::fputc('\n', out);
}
