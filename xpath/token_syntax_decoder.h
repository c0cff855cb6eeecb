#pragma once
// Recursive-descent recogniser of the XPath 1.0 grammar over the token list. Each
// recognised construct records one action after those of its parts, so the executor
// can run the list from its end.

#include "xpath/token_list.h"

#include <cstdint>

namespace XPath {

// Construct numbers of the recorded actions.
enum construct_id : int32_t {
    c_none = 0,
    c_location_path = 1,
    c_absolute_location_path = 2,
    c_relative_location_path = 3,
    c_step = 4,
    c_axis_specifier = 5,
    c_axis_name = 6,
    c_node_test = 7,
    c_predicate = 8,
    c_predicate_expr = 9,
    c_abbreviated_absolute_location_path = 10,
    c_abbreviated_step = 12,
    c_abbreviated_axis_specifier = 13,
    c_expr = 14,
    c_primary_expr = 15,
    c_function_call = 16,
    c_argument = 17,
    c_union_expr = 18,
    c_path_expr = 19,
    c_filter_expr = 20,
    c_or_expr = 21,
    c_and_expr = 22,
    c_equality_expr = 23,
    c_relational_expr = 24,
    c_additive_expr = 25,
    c_multiplicative_expr = 26,
    c_unary_expr = 27,
    c_variable_reference = 36,
    c_name_test = 37,
    c_qname = 206,
    c_prefix = 207,
    c_local_part = 208,
};

// More rule calls than this in one decode raise syntax_overflow.
constexpr unsigned kMaxRuleCalls = 10000;

class token_syntax_decoder : public token_list {
public:
    // Recognises the whole expression from rule 14; raises syntax_error ("main level")
    // when it is not recognised and syntax_overflow past the call cap. Tokens left over
    // after the expression are not examined.
    void decode();

    // Tries one construct at the current token, advancing past it when recognised;
    // records actions only when final.
    bool recognise(int32_t construct, bool final);

    // Merges two-character operators and drops blanks.
    virtual void redefine() = 0;
    virtual void record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text) = 0;
    virtual int32_t action_count() = 0;

private:
    void record(bool final, int32_t construct, int32_t sub_kind, int32_t number = 0,
        const char* text = "")
    {
        if (final)
            record_action(construct, sub_kind, number, text);
    }
    bool at(int32_t cls) const { return current_class() == cls; }
    // Trial of a construct from the current token; the current token is put back.
    bool trial(int32_t construct);

    bool location_path(bool final);
    bool absolute_location_path(bool final);
    bool relative_location_path(bool final);
    bool step(bool final);
    bool axis_specifier(bool final);
    bool axis_name(bool final);
    bool node_test(bool final);
    bool predicate(bool final);
    bool abbreviated_absolute_location_path(bool final);
    bool abbreviated_step(bool final);
    bool expr(bool final);
    bool primary_expr(bool final);
    bool function_call(bool final);
    bool union_expr(bool final);
    bool path_expr(bool final);
    bool filter_expr(bool final);
    bool or_expr(bool final);
    bool and_expr(bool final);
    bool equality_expr(bool final);
    bool relational_expr(bool final);
    bool additive_expr(bool final);
    bool multiplicative_expr(bool final);
    bool unary_expr(bool final);
    bool variable_reference(bool final);
    bool name_test(bool final);
    bool qname(bool final);
    bool single_part(int32_t construct, int32_t part, bool final);
};

} // namespace XPath
