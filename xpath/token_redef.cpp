#include "xpath/token_redef.h"

#include "xpath/xpath_stream.h"

namespace XPath {

namespace {

int32_t merged_class(int32_t first, int32_t second)
{
    if (first == lex_slash && second == lex_slash)
        return lex_2_slash;
    if (first == lex_dot && second == lex_dot)
        return lex_2_dot;
    if (first == lex_colon && second == lex_colon)
        return lex_2_colon;
    if (second == lex_equal) {
        if (first == lex_less)
            return lex_less_equal;
        if (first == lex_greater)
            return lex_greater_equal;
        if (first == lex_exclam)
            return lex_not_equal;
    }
    return lex_null;
}

} // namespace

void token_redef::redefine()
{
    // The last token is never examined, so a trailing blank stays; a merged token is
    // not compared again with the one after it.
    token* t = first();
    while (t) {
        token* n = next_of(t);
        if (!n)
            break;
        if (t->lex_class == lex_space) {
            remove(t);
            t = n;
            continue;
        }
        const int32_t merged = merged_class(t->lex_class, n->lex_class);
        if (merged != lex_null) {
            t->lex_class = merged;
            t->text += n->text;
            remove(n);
        }
        t = next_of(t);
    }
}

void token_redef::record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text)
{
    stream_->record_action(construct, sub_kind, number, text);
}

int32_t token_redef::action_count()
{
    return stream_->action_count();
}

} // namespace XPath
