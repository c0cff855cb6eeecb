#include "xpath/token_syntax_decoder.h"

#include "xpath/xpath_exceptions.h"

namespace XPath {

namespace {

bool is_axis(int32_t cls)
{
    return cls >= lex_ancestor && cls <= lex_self;
}

bool is_node_type(int32_t cls)
{
    return cls >= lex_processing_instruction && cls <= lex_text;
}

} // namespace

void token_syntax_decoder::decode()
{
    redefine();
    set_current(first());
    recursion_ = 0;
    if (!recognise(c_expr, true))
        throw syntax_error("main level");
}

bool token_syntax_decoder::trial(int32_t construct)
{
    token* start = current();
    const bool ok = recognise(construct, false);
    set_current(start);
    return ok;
}

bool token_syntax_decoder::recognise(int32_t construct, bool final)
{
    // The call count is never decreased: it bounds the whole decode, trials included.
    if (++recursion_ > kMaxRuleCalls)
        throw syntax_overflow();
    switch (construct) {
    case c_location_path: return location_path(final);
    case c_absolute_location_path: return absolute_location_path(final);
    case c_relative_location_path: return relative_location_path(final);
    case c_step: return step(final);
    case c_axis_specifier: return axis_specifier(final);
    case c_axis_name: return axis_name(final);
    case c_node_test: return node_test(final);
    case c_predicate: return predicate(final);
    case c_predicate_expr: return single_part(c_predicate_expr, c_expr, final);
    case c_abbreviated_absolute_location_path: return abbreviated_absolute_location_path(final);
    case c_abbreviated_step: return abbreviated_step(final);
    case c_expr: return expr(final);
    case c_primary_expr: return primary_expr(final);
    case c_function_call: return function_call(final);
    case c_argument: return single_part(c_argument, c_expr, final);
    case c_union_expr: return union_expr(final);
    case c_path_expr: return path_expr(final);
    case c_filter_expr: return filter_expr(final);
    case c_or_expr: return or_expr(final);
    case c_and_expr: return and_expr(final);
    case c_equality_expr: return equality_expr(final);
    case c_relational_expr: return relational_expr(final);
    case c_additive_expr: return additive_expr(final);
    case c_multiplicative_expr: return multiplicative_expr(final);
    case c_unary_expr: return unary_expr(final);
    case c_variable_reference: return variable_reference(final);
    case c_name_test: return name_test(final);
    case c_qname: return qname(final);
    default:
        record(final, c_none, 0);
        return false;
    }
}

bool token_syntax_decoder::single_part(int32_t construct, int32_t part, bool final)
{
    if (!recognise(part, final))
        return false;
    record(final, construct, 0);
    return true;
}

bool token_syntax_decoder::location_path(bool final)
{
    if (at(lex_slash) || at(lex_2_slash)) {
        if (!recognise(c_absolute_location_path, final))
            return false;
        record(final, c_location_path, 28);
        return true;
    }
    if (!recognise(c_relative_location_path, final))
        return false;
    record(final, c_location_path, 27);
    return true;
}

bool token_syntax_decoder::absolute_location_path(bool final)
{
    const int32_t start = final ? action_count() : 0;
    if (at(lex_slash)) {
        advance();
        if (trial(c_relative_location_path)) {
            recognise(c_relative_location_path, final);
            record(final, c_absolute_location_path, 0, start);
        } else {
            record(final, c_absolute_location_path, 1, start);
        }
        return true;
    }
    if (at(lex_2_slash)) {
        if (!recognise(c_abbreviated_absolute_location_path, final))
            return false;
        record(final, c_absolute_location_path, 2, start);
        return true;
    }
    return false;
}

bool token_syntax_decoder::relative_location_path(bool final)
{
    const int32_t start = final ? action_count() : 0;
    if (!recognise(c_step, final))
        return false;
    int32_t sub = 5;
    if (at(lex_slash))
        sub = 3;
    else if (at(lex_2_slash))
        sub = 4;
    if (sub != 5) {
        advance();
        if (!recognise(c_relative_location_path, final))
            return false;
    }
    record(final, c_relative_location_path, sub, start);
    return true;
}

bool token_syntax_decoder::step(bool final)
{
    if (at(lex_dot) || at(lex_2_dot)) {
        if (!recognise(c_abbreviated_step, final))
            return false;
        record(final, c_step, 6);
        return true;
    }
    if (!recognise(c_axis_specifier, final) || !recognise(c_node_test, final))
        return false;
    int32_t predicates = 0;
    while (trial(c_predicate)) {
        recognise(c_predicate, final);
        ++predicates;
    }
    record(final, c_step, 7, predicates);
    return true;
}

bool token_syntax_decoder::axis_specifier(bool final)
{
    if (at(lex_at)) {
        advance();
        record(final, c_axis_specifier, 18);
        return true;
    }
    if (is_axis(current_class())) {
        if (!recognise(c_axis_name, final) || !at(lex_2_colon))
            return false;
        advance();
        record(final, c_axis_specifier, 19);
        return true;
    }
    record(final, c_abbreviated_axis_specifier, 1);
    record(final, c_axis_specifier, 20);
    return true;
}

bool token_syntax_decoder::axis_name(bool final)
{
    const int32_t cls = current_class();
    if (!is_axis(cls))
        return false;
    advance();
    record(final, c_axis_name, 0, cls);
    return true;
}

bool token_syntax_decoder::node_test(bool final)
{
    const int32_t cls = current_class();
    if (cls == lex_comment || cls == lex_node || cls == lex_text) {
        if (!ahead(2))
            return false;
        for (int i = 0; i < 3; ++i)
            advance();
        record(final, c_node_test, 29, cls);
        return true;
    }
    if (cls == lex_processing_instruction) {
        const token* two = ahead(2);
        const bool bare = two && two->lex_class == lex_close_paren;
        const int count = bare ? 3 : 4;
        if (!ahead(static_cast<unsigned>(count - 1)))
            return false;
        for (int i = 0; i < count; ++i)
            advance();
        record(final, c_node_test, bare ? 30 : 31, lex_processing_instruction);
        return true;
    }
    if (!recognise(c_name_test, final))
        return false;
    record(final, c_node_test, 32);
    return true;
}

bool token_syntax_decoder::predicate(bool final)
{
    if (!at(lex_open_bracket) || !ahead(1))
        return false;
    advance();
    if (!recognise(c_predicate_expr, final) || !at(lex_close_bracket))
        return false;
    advance();
    record(final, c_predicate, 0);
    return true;
}

bool token_syntax_decoder::abbreviated_absolute_location_path(bool final)
{
    if (!at(lex_2_slash))
        return false;
    advance();
    return single_part(c_abbreviated_absolute_location_path, c_relative_location_path, final);
}

bool token_syntax_decoder::abbreviated_step(bool final)
{
    const int32_t sub = at(lex_dot) ? 0 : at(lex_2_dot) ? 1 : -1;
    if (sub < 0)
        return false;
    advance();
    record(final, c_abbreviated_step, sub);
    return true;
}

bool token_syntax_decoder::expr(bool final)
{
    if (!current())
        return false;
    return single_part(c_expr, c_or_expr, final);
}

bool token_syntax_decoder::primary_expr(bool final)
{
    token* t = current();
    const int32_t cls = current_class();
    if (cls == lex_dollar) {
        if (!recognise(c_variable_reference, final))
            return false;
        record(final, c_primary_expr, 8);
        return true;
    }
    if (cls == lex_open_paren) {
        advance();
        if (!recognise(c_expr, final) || !at(lex_close_paren))
            return false;
        advance();
        record(final, c_primary_expr, 9);
        return true;
    }
    if (cls == lex_literal || cls == lex_number) {
        advance();
        record(final, c_primary_expr, cls == lex_literal ? 10 : 11, 0, t->text.c_str());
        return true;
    }
    if (!recognise(c_function_call, final))
        return false;
    record(final, c_primary_expr, 12);
    return true;
}

bool token_syntax_decoder::function_call(bool final)
{
    token* t = current();
    if (t && is_node_type(t->lex_class)) {
        advance();
        record(final, c_local_part, 0, 0, t->text.c_str());
        record(final, c_qname, 17);
    } else if (!recognise(c_qname, final)) {
        return false;
    }
    if (!at(lex_open_paren))
        return false;
    advance();
    if (at(lex_close_paren)) {
        advance();
        record(final, c_function_call, 0);
        return true;
    }
    int32_t arguments = 0;
    for (;;) {
        if (!recognise(c_argument, final))
            return false;
        ++arguments;
        if (at(lex_comma)) {
            advance();
            continue;
        }
        if (!at(lex_close_paren))
            return false;
        advance();
        break;
    }
    record(final, c_function_call, 1, arguments);
    return true;
}

bool token_syntax_decoder::union_expr(bool final)
{
    if (!recognise(c_path_expr, final))
        return false;
    if (at(lex_bar)) {
        advance();
        if (!recognise(c_union_expr, final))
            return false;
        record(final, c_union_expr, 37);
        return true;
    }
    record(final, c_union_expr, 36);
    return true;
}

bool token_syntax_decoder::path_expr(bool final)
{
    token* start = current();
    if (trial(c_filter_expr)) {
        recognise(c_filter_expr, final);
        int32_t sub = 22;
        if (at(lex_slash))
            sub = 23;
        else if (at(lex_2_slash))
            sub = 24;
        if (sub == 22) {
            record(final, c_path_expr, 22);
            return true;
        }
        advance();
        if (recognise(c_relative_location_path, final)) {
            record(final, c_path_expr, sub);
            return true;
        }
    }
    set_current(start);
    if (!recognise(c_location_path, final))
        return false;
    record(final, c_path_expr, 21);
    return true;
}

bool token_syntax_decoder::filter_expr(bool final)
{
    if (!recognise(c_primary_expr, final))
        return false;
    if (trial(c_predicate)) {
        recognise(c_predicate, final);
        record(final, c_filter_expr, 26);
        return true;
    }
    record(final, c_filter_expr, 25);
    return true;
}

bool token_syntax_decoder::or_expr(bool final)
{
    if (!recognise(c_and_expr, final))
        return false;
    int32_t operators = 0;
    while (at(lex_or)) {
        advance();
        if (!recognise(c_and_expr, final))
            return false;
        record(final, c_or_expr, operators++ == 0 ? 44 : 45);
    }
    if (operators == 0)
        record(final, c_or_expr, 43);
    return true;
}

bool token_syntax_decoder::and_expr(bool final)
{
    if (!recognise(c_equality_expr, final))
        return false;
    if (at(lex_and)) {
        advance();
        if (!recognise(c_equality_expr, final))
            return false;
        record(final, c_and_expr, 47);
        return true;
    }
    record(final, c_and_expr, 46);
    return true;
}

bool token_syntax_decoder::equality_expr(bool final)
{
    if (!recognise(c_relational_expr, final))
        return false;
    const int32_t sub = at(lex_equal) ? 33 : at(lex_not_equal) ? 34 : 35;
    if (sub != 35) {
        advance();
        if (!recognise(c_relational_expr, final))
            return false;
    }
    record(final, c_equality_expr, sub);
    return true;
}

bool token_syntax_decoder::relational_expr(bool final)
{
    if (!recognise(c_additive_expr, final))
        return false;
    int32_t sub = 48;
    switch (current_class()) {
    case lex_less: sub = 49; break;
    case lex_greater: sub = 50; break;
    case lex_less_equal: sub = 51; break;
    case lex_greater_equal: sub = 52; break;
    default: break;
    }
    if (sub != 48) {
        advance();
        if (!recognise(c_additive_expr, final))
            return false;
    }
    record(final, c_relational_expr, sub);
    return true;
}

bool token_syntax_decoder::additive_expr(bool final)
{
    if (!recognise(c_multiplicative_expr, final))
        return false;
    bool first_operator = true;
    while (at(lex_plus) || at(lex_minus)) {
        const bool plus = at(lex_plus);
        advance();
        if (!recognise(c_multiplicative_expr, final))
            return false;
        record(final, c_additive_expr, first_operator ? (plus ? 39 : 40) : (plus ? 41 : 42));
        first_operator = false;
    }
    if (first_operator)
        record(final, c_additive_expr, 38);
    return true;
}

bool token_syntax_decoder::multiplicative_expr(bool final)
{
    if (!recognise(c_unary_expr, final))
        return false;
    const int32_t sub = at(lex_star) ? 56 : at(lex_div) ? 57 : at(lex_mod) ? 58 : 55;
    if (sub != 55) {
        advance();
        if (!recognise(c_unary_expr, final))
            return false;
    }
    record(final, c_multiplicative_expr, sub);
    return true;
}

bool token_syntax_decoder::unary_expr(bool final)
{
    if (at(lex_minus)) {
        advance();
        if (!recognise(c_unary_expr, final))
            return false;
        record(final, c_unary_expr, 54);
        return true;
    }
    if (!recognise(c_union_expr, final))
        return false;
    record(final, c_unary_expr, 53);
    return true;
}

bool token_syntax_decoder::variable_reference(bool final)
{
    if (!at(lex_dollar) || !ahead(1))
        return false;
    advance();
    return single_part(c_variable_reference, c_qname, final);
}

bool token_syntax_decoder::name_test(bool final)
{
    if (at(lex_star)) {
        advance();
        record(final, c_name_test, 13);
        return true;
    }
    token* t = current();
    if (t && t->lex_class == lex_ncname) {
        const token* colon = ahead(1);
        const token* star = ahead(2);
        if (colon && colon->lex_class == lex_colon && star && star->lex_class == lex_star) {
            for (int i = 0; i < 3; ++i)
                advance();
            // The prefix travels in the action's text for the executor's match.
            record(final, c_name_test, 14, 0, t->text.c_str());
            return true;
        }
    }
    if (!recognise(c_qname, final))
        return false;
    record(final, c_name_test, 15);
    return true;
}

bool token_syntax_decoder::qname(bool final)
{
    token* t = current();
    if (!t || t->lex_class != lex_ncname)
        return false;
    const token* colon = ahead(1);
    const token* local = ahead(2);
    if (colon && colon->lex_class == lex_colon && local && local->lex_class == lex_ncname) {
        advance();
        advance();
        advance();
        record(final, c_prefix, 0, 0, t->text.c_str());
        record(final, c_local_part, 0, 0, local->text.c_str());
        record(final, c_qname, 16);
        return true;
    }
    advance();
    record(final, c_local_part, 0, 0, t->text.c_str());
    record(final, c_qname, 17);
    return true;
}

} // namespace XPath
