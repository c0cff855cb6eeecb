#pragma once
// The lexical tokens of one expression: a circular doubly linked list around a
// sentinel of class 0, with the decoder's current token and call counter.

#include <cstddef>
#include <cstdint>
#include <string>

namespace XPath {

enum lex_class : int32_t {
    lex_null = 0,
    lex_none = 1,
    lex_space = 2,
    lex_digit = 3,
    lex_base_char = 4,
    lex_extender = 5,
    lex_slash = 6,
    lex_at = 7,
    lex_dot = 8,
    lex_minus = 9,
    lex_under = 10,
    lex_colon = 11,
    lex_semi_colon = 12,
    lex_double_quote = 13,
    lex_simple_quote = 14,
    lex_dollar = 15,
    lex_open_paren = 16,
    lex_close_paren = 17,
    lex_star = 18,
    lex_plus = 19,
    lex_comma = 20,
    lex_less = 21,
    lex_greater = 22,
    lex_equal = 23,
    lex_open_bracket = 24,
    lex_close_bracket = 25,
    lex_bar = 26,
    lex_exclam = 27,
    lex_ncname = 28,
    lex_number = 29,
    lex_literal = 30,
    lex_2_colon = 31,
    lex_2_slash = 32,
    lex_2_dot = 33,
    lex_not_equal = 34,
    lex_less_equal = 35,
    lex_greater_equal = 36,
    lex_or = 37,
    lex_and = 38,
    lex_mod = 39,
    lex_div = 40,
    lex_ancestor = 41,
    lex_ancestor_or_self = 42,
    lex_attribute = 43,
    lex_child = 44,
    lex_descendant = 45,
    lex_descendant_or_self = 46,
    lex_following = 47,
    lex_following_sibling = 48,
    lex_namespace = 49,
    lex_parent = 50,
    lex_preceding = 51,
    lex_preceding_sibling = 52,
    lex_self = 53,
    lex_processing_instruction = 54,
    lex_comment = 55,
    lex_node = 56,
    lex_text = 57,
};

// Display name of a lexical class ("???" for values without one).
const char* lex_class_name(int32_t value);
// Class of one byte of an expression.
lex_class char_class(unsigned char byte);

struct token {
    int32_t lex_class = lex_null;
    std::string text;
    token* prev = nullptr;
    token* next = nullptr;
};

class token_list {
public:
    token_list();
    virtual ~token_list();

    token_list(const token_list&) = delete;
    token_list& operator=(const token_list&) = delete;

    void append(int32_t cls, const char* bytes, size_t size);
    // Unlinks and frees a token (never the sentinel).
    void remove(token* t);

    bool empty() const { return sentinel_.next == &sentinel_; }
    size_t size() const;
    // First token, or null when the list is empty.
    token* first() { return empty() ? nullptr : sentinel_.next; }
    // Successor of a token, or null at the end.
    token* next_of(token* t) { return t->next == &sentinel_ ? nullptr : t->next; }

    // Current token of the decoder; null once past the last token.
    token* current() const { return current_; }
    void set_current(token* t) { current_ = t; }
    // The token n places ahead of the current one, or null.
    token* ahead(unsigned n) const;
    int32_t current_class() const { return current_ ? current_->lex_class : lex_null; }
    void advance() { current_ = current_ ? next_of_const(current_) : nullptr; }

protected:
    unsigned recursion_ = 0;

private:
    token* next_of_const(token* t) const
    {
        return t->next == &sentinel_ ? nullptr : t->next;
    }
    token sentinel_;
    token* current_ = nullptr;
};

} // namespace XPath
