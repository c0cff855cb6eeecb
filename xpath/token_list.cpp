#include "xpath/token_list.h"

namespace XPath {

namespace {

const char* const kClassNames[] = {
    "null", "<small>none</small>", "space", "digit", "base char", "extender", "slash", "at",
    "dot", "minus", "under", "colon", "semi colon", "double quote", "simple quote", "dollar",
    "opening parenthesis", "closing parenthesis", "star", "plus", "comma", "less than",
    "greater than", "equal", "opening bracket", "closing bracket", "or character (|)",
    "exclamation (!)", "NCName", "Number", "literal", "::", "//", "..", "!=", "<=", ">=", "or",
    "and", "mod", "div", "ancestor", "ancestor-or-self", "attribute", "child", "descendant",
    "descendant-or-self", "following", "following-sibling", "namespace", "parent", "preceding",
    "preceding-sibling", "self", "processing-instruction", "comment", "node", "text",
};

struct class_table {
    unsigned char cls[256];
    class_table()
    {
        for (int i = 0; i < 256; ++i)
            cls[i] = lex_none;
        cls[0] = lex_null;
        cls[static_cast<unsigned char>('\t')] = cls[static_cast<unsigned char>('\n')] = lex_space;
        cls[static_cast<unsigned char>('\r')] = cls[static_cast<unsigned char>(' ')] = lex_space;
        for (int c = '0'; c <= '9'; ++c)
            cls[c] = lex_digit;
        for (int c = 'A'; c <= 'Z'; ++c)
            cls[c] = lex_base_char;
        for (int c = 'a'; c <= 'z'; ++c)
            cls[c] = lex_base_char;
        for (int c = 192; c <= 255; ++c)
            if (c != 215 && c != 247)
                cls[c] = lex_base_char;
        cls[183] = lex_extender;
        const char* punct = "/@.-_:;\"'$()*+,<>=[]|!";
        const lex_class values[] = {lex_slash, lex_at, lex_dot, lex_minus, lex_under, lex_colon,
            lex_semi_colon, lex_double_quote, lex_simple_quote, lex_dollar, lex_open_paren,
            lex_close_paren, lex_star, lex_plus, lex_comma, lex_less, lex_greater, lex_equal,
            lex_open_bracket, lex_close_bracket, lex_bar, lex_exclam};
        for (int i = 0; punct[i]; ++i)
            cls[static_cast<unsigned char>(punct[i])] = static_cast<unsigned char>(values[i]);
    }
};

const class_table kTable;

} // namespace

const char* lex_class_name(int32_t value)
{
    if (value < 0 || value >= static_cast<int32_t>(sizeof(kClassNames) / sizeof(kClassNames[0])))
        return "???";
    return kClassNames[value];
}

lex_class char_class(unsigned char byte)
{
    return static_cast<lex_class>(kTable.cls[byte]);
}

token_list::token_list()
{
    sentinel_.next = sentinel_.prev = &sentinel_;
}

token_list::~token_list()
{
    token* t = sentinel_.next;
    while (t != &sentinel_) {
        token* n = t->next;
        delete t;
        t = n;
    }
}

void token_list::append(int32_t cls, const char* bytes, size_t size)
{
    token* t = new token;
    t->lex_class = cls;
    t->text.assign(bytes, size);
    t->prev = sentinel_.prev;
    t->next = &sentinel_;
    sentinel_.prev->next = t;
    sentinel_.prev = t;
}

void token_list::remove(token* t)
{
    if (!t || t == &sentinel_)
        return;
    if (current_ == t)
        current_ = next_of_const(t);
    t->prev->next = t->next;
    t->next->prev = t->prev;
    delete t;
}

size_t token_list::size() const
{
    size_t n = 0;
    for (const token* t = sentinel_.next; t != &sentinel_; t = t->next)
        ++n;
    return n;
}

token* token_list::ahead(unsigned n) const
{
    token* t = current_;
    for (unsigned i = 0; t && i < n; ++i)
        t = next_of_const(t);
    return t;
}

} // namespace XPath
