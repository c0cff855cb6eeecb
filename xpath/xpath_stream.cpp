#include "xpath/xpath_stream.h"

#include <cstring>

namespace XPath {

namespace {

bool extends_name(lex_class c)
{
    return c == lex_digit || c == lex_base_char || c == lex_extender || c == lex_dot
        || c == lex_minus || c == lex_under;
}

int32_t keyword_class(const std::string& name, unsigned char terminator)
{
    for (int32_t k = lex_or; k <= lex_text; ++k) {
        if (name == lex_class_name(k)) {
            // "text" is the node type only when a parenthesis follows at once.
            if (k == lex_text && terminator != '(')
                return lex_ncname;
            return k;
        }
    }
    return lex_ncname;
}

} // namespace

xpath_stream::xpath_stream(const char* text)
    : byte_stream(text), tokens_(new token_redef(this))
{
}

xpath_stream::~xpath_stream() = default;

void xpath_stream::lex()
{
    const char* bytes = text();
    size_t pos = 0;
    for (;;) {
        const unsigned char b = static_cast<unsigned char>(bytes[pos]);
        const lex_class c = char_class(b);
        if (c == lex_null)
            return;
        const size_t start = pos;
        if (c == lex_digit || (c == lex_dot && char_class(static_cast<unsigned char>(bytes[pos + 1])) == lex_digit)) {
            bool point = c == lex_dot;
            ++pos;
            for (;;) {
                const lex_class n = char_class(static_cast<unsigned char>(bytes[pos]));
                if (n == lex_digit) {
                    ++pos;
                } else if (n == lex_dot && !point) {
                    point = true;
                    ++pos;
                } else {
                    break;
                }
            }
            tokens_->append(lex_number, bytes + start, pos - start);
            // A second point ends the number and stands as a dot of its own.
            if (point && char_class(static_cast<unsigned char>(bytes[pos])) == lex_dot) {
                tokens_->append(lex_dot, bytes + pos, 1);
                ++pos;
            }
        } else if (c == lex_base_char || c == lex_under) {
            ++pos;
            while (extends_name(char_class(static_cast<unsigned char>(bytes[pos]))))
                ++pos;
            const std::string name(bytes + start, pos - start);
            tokens_->append(keyword_class(name, static_cast<unsigned char>(bytes[pos])), name.data(), name.size());
        } else if (c == lex_double_quote || c == lex_simple_quote) {
            const char* close = std::strchr(bytes + pos + 1, static_cast<char>(b));
            if (!close)
                return; // an unterminated literal ends the scan and is dropped
            tokens_->append(lex_literal, bytes + pos + 1, static_cast<size_t>(close - (bytes + pos + 1)));
            pos = static_cast<size_t>(close - bytes) + 1;
        } else {
            tokens_->append(c, bytes + pos, 1);
            ++pos;
        }
    }
}

} // namespace XPath
