// The rule executor: runs the action list from its end, each construct consuming its
// own action and then its parts, nearest first.
#include "xpath/token_syntax_decoder.h"
#include "xpath/xpath_exceptions.h"
#include "xpath/xpath_processor.h"

#include <tinyxml.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace XPath {

namespace {

// Input modes of a step besides the stack's node set.
constexpr int32_t kModeContext = -2;
constexpr int32_t kModeDoubleSlash = -1;
constexpr int32_t kModeRoot = 0;
constexpr int32_t kModeStack = 1;

// Axis values pushed by the axis specifier.
constexpr int32_t kAxisChild = 0;
constexpr int32_t kAxisAttribute = 1;

bool is_plain_name(const std::string& test)
{
    return test != "*" && !(test.size() >= 2 && test.compare(test.size() - 2, 2, ":*") == 0);
}

} // namespace

const action& xpath_processor::read(int32_t construct)
{
    if (actions_.current < 0 || actions_.current >= actions_.count())
        throw execution_error(exec_unexpected_construct);
    const action& a = actions_.at(actions_.current);
    if (a.construct != construct)
        throw execution_error(exec_unexpected_construct);
    --actions_.current;
    return a;
}

void xpath_processor::skip(int32_t construct)
{
    const action& a = read(construct);
    switch (construct) {
    case c_location_path:
        skip(a.sub_kind == 28 ? c_absolute_location_path : c_relative_location_path);
        break;
    case c_absolute_location_path:
        if (a.sub_kind == 0)
            skip(c_relative_location_path);
        else if (a.sub_kind == 2)
            skip(c_abbreviated_absolute_location_path);
        break;
    case c_abbreviated_absolute_location_path:
        skip(c_relative_location_path);
        break;
    case c_relative_location_path:
        if (a.sub_kind != 5)
            skip(c_relative_location_path);
        skip(c_step);
        break;
    case c_step:
        if (a.sub_kind == 6) {
            skip(c_abbreviated_step);
        } else {
            for (int32_t i = 0; i < a.number; ++i)
                skip(c_predicate);
            skip(c_node_test);
            skip(c_axis_specifier);
        }
        break;
    case c_axis_specifier:
        if (a.sub_kind == 19)
            skip(c_axis_name);
        else if (a.sub_kind == 20)
            skip(c_abbreviated_axis_specifier);
        break;
    case c_node_test:
        if (a.sub_kind == 32)
            skip(c_name_test);
        break;
    case c_name_test:
        if (a.sub_kind == 15)
            skip(c_qname);
        break;
    case c_qname:
        skip(c_local_part);
        if (a.sub_kind == 16)
            skip(c_prefix);
        break;
    case c_predicate: skip(c_predicate_expr); break;
    case c_predicate_expr: skip(c_expr); break;
    case c_expr: skip(c_or_expr); break;
    case c_argument: skip(c_expr); break;
    case c_variable_reference: skip(c_qname); break;
    case c_primary_expr:
        if (a.sub_kind == 8)
            skip(c_variable_reference);
        else if (a.sub_kind == 9)
            skip(c_expr);
        else if (a.sub_kind == 12)
            skip(c_function_call);
        break;
    case c_function_call:
        if (a.sub_kind == 1)
            for (int32_t i = 0; i < a.number; ++i)
                skip(c_argument);
        skip(c_qname);
        break;
    case c_union_expr:
        if (a.sub_kind == 37)
            skip(c_union_expr);
        skip(c_path_expr);
        break;
    case c_path_expr:
        if (a.sub_kind == 21) {
            skip(c_location_path);
        } else {
            if (a.sub_kind != 22)
                skip(c_relative_location_path);
            skip(c_filter_expr);
        }
        break;
    case c_filter_expr:
        if (a.sub_kind == 26)
            skip(c_predicate);
        skip(c_primary_expr);
        break;
    case c_or_expr:
        if (a.sub_kind != 43)
            skip(c_and_expr);
        skip(a.sub_kind == 45 ? c_or_expr : c_and_expr);
        break;
    case c_and_expr:
    case c_equality_expr:
    case c_relational_expr:
    case c_multiplicative_expr: {
        const int32_t part = construct + 1;
        const bool single = a.sub_kind == 46 || a.sub_kind == 35 || a.sub_kind == 48 || a.sub_kind == 55;
        if (!single)
            skip(part);
        skip(part);
        break;
    }
    case c_additive_expr:
        if (a.sub_kind != 38)
            skip(c_multiplicative_expr);
        skip(a.sub_kind == 41 || a.sub_kind == 42 ? c_additive_expr : c_multiplicative_expr);
        break;
    case c_unary_expr:
        skip(a.sub_kind == 54 ? c_unary_expr : c_union_expr);
        break;
    default:
        break; // 6, 12, 13, 207, 208 have no parts
    }
}

void xpath_processor::execute(int32_t construct, bool skip_parts)
{
    if (skip_parts) {
        skip(construct);
        return;
    }
    if (construct == c_step) {
        execute_step(kModeContext);
        return;
    }
    const action& a = read(construct);
    switch (construct) {
    case c_expr: execute(c_or_expr); break;
    case c_predicate_expr: execute(c_expr); break;
    case c_predicate: execute(c_predicate_expr); break;
    case c_argument: execute(c_expr); break;
    case c_or_expr:
        if (a.sub_kind == 43) {
            execute(c_and_expr);
        } else {
            execute(c_and_expr);
            execute(a.sub_kind == 45 ? c_or_expr : c_and_expr);
            apply_logic(false);
        }
        break;
    case c_and_expr:
        execute(c_equality_expr);
        if (a.sub_kind == 47) {
            execute(c_equality_expr);
            apply_logic(true);
        }
        break;
    case c_equality_expr:
        execute(c_relational_expr);
        if (a.sub_kind != 35) {
            execute(c_relational_expr);
            apply_equality(a.sub_kind == 34);
        }
        break;
    case c_relational_expr:
        execute(c_additive_expr);
        if (a.sub_kind != 48) {
            execute(c_additive_expr);
            apply_relational(a.sub_kind);
        }
        break;
    case c_additive_expr:
        execute(c_multiplicative_expr);
        if (a.sub_kind != 38) {
            execute(a.sub_kind == 41 || a.sub_kind == 42 ? c_additive_expr : c_multiplicative_expr);
            apply_additive(a.sub_kind == 39 || a.sub_kind == 41);
        }
        break;
    case c_multiplicative_expr:
        execute(c_unary_expr);
        if (a.sub_kind != 55) {
            execute(c_unary_expr);
            apply_multiplicative(a.sub_kind);
        }
        break;
    case c_unary_expr:
        if (a.sub_kind == 54) {
            execute(c_unary_expr);
            apply_negation();
        } else {
            execute(c_union_expr);
        }
        break;
    case c_union_expr:
        if (a.sub_kind == 37)
            execute_union();
        else
            execute(c_path_expr);
        break;
    case c_path_expr:
        if (a.sub_kind == 21)
            execute(c_location_path);
        else if (a.sub_kind == 22)
            execute(c_filter_expr);
        else
            execute_filter_path(a.sub_kind);
        break;
    case c_filter_expr:
        if (a.sub_kind == 26)
            execute_filter_predicate();
        else
            execute(c_primary_expr);
        break;
    case c_primary_expr:
        switch (a.sub_kind) {
        case 8: throw execution_error(exec_no_rule); // variables are not bound
        case 9: execute(c_expr); break;
        case 10: stack_.push_string(a.text); break;
        case 11: push_number(a.text); break;
        case 12: execute(c_function_call); break;
        default: throw execution_error(exec_no_rule);
        }
        break;
    case c_function_call:
        execute_function_call(a);
        break;
    case c_qname: {
        const action& local = read(c_local_part);
        if (a.sub_kind == 16) {
            const action& prefix = read(c_prefix);
            stack_.push_string(prefix.text + ":" + local.text);
        } else {
            stack_.push_string(local.text);
        }
        break;
    }
    case c_name_test:
        if (a.sub_kind == 13)
            stack_.push_string("*");
        else if (a.sub_kind == 14)
            stack_.push_string(a.text + ":*");
        else
            execute(c_qname);
        break;
    case c_axis_specifier:
        if (a.sub_kind == 18) {
            stack_.push_int(kAxisAttribute);
        } else if (a.sub_kind == 19) {
            stack_.push_int(read(c_axis_name).number);
        } else {
            read(c_abbreviated_axis_specifier);
            stack_.push_int(kAxisChild);
        }
        break;
    case c_location_path:
        execute(a.sub_kind == 28 ? c_absolute_location_path : c_relative_location_path);
        break;
    case c_absolute_location_path:
        execute_absolute(a);
        break;
    case c_relative_location_path:
        // Only the last step of a relative path is evaluated, from the context element;
        // the earlier steps are left unread.
        if (a.sub_kind == 5)
            execute_step(kModeContext);
        else if (a.sub_kind == 3)
            execute(c_relative_location_path);
        break;
    default:
        throw execution_error(exec_no_rule);
    }
}

void xpath_processor::push_number(const std::string& text)
{
    if (text.find('.') == std::string::npos)
        stack_.push_int(string_to_int(text));
    else
        stack_.push_double(string_to_double(text));
}

void xpath_processor::execute_absolute(const action& a)
{
    const int32_t own = actions_.current + 1;
    if (a.sub_kind == 1)
        return; // "/" alone selects nothing and pushes nothing
    int32_t mode = kModeRoot;
    int32_t relative = own - 1;
    if (a.sub_kind == 2) {
        read(c_abbreviated_absolute_location_path);
        mode = kModeDoubleSlash;
        relative = own - 2;
    }
    chain_steps(relative, mode);
    actions_.current = a.number - 1;
}

void xpath_processor::chain_steps(int32_t relative, int32_t mode)
{
    // The numbers of the relative parts lead to each step in written order; only the
    // construct is looked at, so "//" between steps acts as "/".
    for (;;) {
        if (relative < 0 || relative >= actions_.count() || actions_.at(relative).construct != c_relative_location_path)
            throw execution_error(exec_unexpected_construct);
        const action& r = actions_.at(relative);
        if (r.sub_kind == 5) {
            actions_.current = relative - 1;
            execute_step(mode);
            return;
        }
        const int32_t inner = relative - 1;
        if (inner < 0 || actions_.at(inner).construct != c_relative_location_path)
            throw execution_error(exec_unexpected_construct);
        actions_.current = actions_.at(inner).number - 1;
        execute_step(mode);
        mode = kModeStack;
        relative = inner;
    }
}

node_set xpath_processor::input_set(int32_t mode)
{
    // The context and "//" modes are walked in place by execute_step.
    if (mode == kModeRoot) {
        node_set in;
        in.add(root_);
        return in;
    }
    return stack_.pop_as_node_set();
}

void xpath_processor::execute_step(int32_t mode)
{
    const action& step = read(c_step);
    int32_t axis = kAxisChild;
    std::string name = "*";
    bool any_node = false;
    std::vector<int32_t> predicates;
    if (step.sub_kind == 6) {
        // "." is self::node(), ".." parent::node().
        axis = read(c_abbreviated_step).sub_kind == 0 ? lex_self : lex_parent;
        any_node = true;
    } else {
        for (int32_t i = 0; i < step.number; ++i) {
            predicates.push_back(actions_.current);
            skip(c_predicate);
        }
        const action& test = read(c_node_test);
        int32_t node_type = -1;
        if (test.sub_kind == 29)
            node_type = test.number;
        else if (test.sub_kind == 30 || test.sub_kind == 31)
            node_type = lex_processing_instruction;
        else
            execute(c_name_test);
        execute(c_axis_specifier);
        axis = stack_.pop_as_int();
        if (node_type >= 0)
            axis = node_type;
        else
            name = stack_.pop_as_string();
    }
    const int32_t after = actions_.current;
    node_set out;
    if (mode == kModeDoubleSlash) {
        // The same entries, in the same order, as the base followed by the root's
        // subtree; attributes never start a step, so they are not collected at all.
        add_axis(out, base_, axis, name, any_node);
        std::vector<const TiXmlNode*> pending{root_};
        while (!pending.empty()) {
            const TiXmlNode* n = pending.back();
            pending.pop_back();
            add_axis(out, n, axis, name, any_node);
            const TiXmlNode* first = n->FirstChild();
            if (!first)
                continue;
            const size_t mark = pending.size();
            pending.push_back(first);
            for (const TiXmlElement* e = first->NextSiblingElement(); e; e = e->NextSiblingElement())
                pending.push_back(e);
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
        }
    } else if (mode == kModeContext) {
        if (context_)
            add_axis(out, context_, axis, name, any_node);
    } else {
        const node_set in = input_set(mode);
        for (uint32_t i = 0; i < in.count(); ++i)
            if (!in.is_attribute(i))
                add_axis(out, in.node(i), axis, name, any_node);
    }
    // Predicates apply in written order, each to the survivors of the one before.
    const bool by_name = is_plain_name(name);
    for (auto it = predicates.rbegin(); it != predicates.rend(); ++it)
        out = filter(out, *it, by_name);
    actions_.current = after;
    stack_.push_node_set(std::move(out));
}

void xpath_processor::add_axis(node_set& out, const TiXmlNode* entry, int32_t axis, const std::string& name, bool any_node)
{
    const char* test = name.c_str();
    auto matches = [&](const TiXmlNode* n) {
        if (any_node)
            return true;
        const TiXmlElement* e = n->ToElement();
        return e && name_matches(test, e->Value());
    };
    switch (axis) {
    case kAxisChild:
    case lex_child:
        out.add_children(entry, test);
        break;
    case kAxisAttribute:
    case lex_attribute:
        if (const TiXmlElement* e = entry->ToElement())
            for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
                if (name_matches(test, a->Name()))
                    out.add(a);
        break;
    case lex_ancestor_or_self:
    case lex_ancestor:
        if (axis == lex_ancestor_or_self && entry != root_ && entry->ToElement() && matches(entry))
            out.add(entry);
        for (const TiXmlNode* p = entry->Parent(); p && p != root_; p = p->Parent())
            if (p->ToElement() && matches(p))
                out.add(p);
        break;
    case lex_descendant_or_self:
    case lex_descendant:
        if (axis == lex_descendant_or_self && entry != root_ && entry->ToElement() && matches(entry))
            out.add(entry);
        out.add_descendants(entry, test);
        break;
    case lex_following:
        out.add_following(entry, test);
        break;
    case lex_following_sibling:
        for (const TiXmlElement* s = entry->NextSiblingElement(); s; s = s->NextSiblingElement())
            if (matches(s))
                out.add(s);
        break;
    case lex_parent:
        if (const TiXmlNode* p = entry->Parent())
            if (matches(p))
                out.add(p);
        break;
    case lex_preceding:
        out.add_preceding(entry, test);
        break;
    case lex_preceding_sibling:
        for (const TiXmlNode* s = entry->PreviousSibling(); s; s = s->PreviousSibling())
            if (s->ToElement() && matches(s))
                out.add(s);
        break;
    case lex_self:
        if (entry != root_ && (any_node || entry->ToElement()) && matches(entry))
            out.add(entry);
        break;
    case lex_comment:
    case lex_node:
    case lex_text:
        for (const TiXmlNode* c = entry->FirstChild(); c; c = c->NextSibling()) {
            const int type = c->Type();
            if (axis == lex_node || (axis == lex_comment && type == TiXmlNode::TINYXML_COMMENT)
                || (axis == lex_text && type == TiXmlNode::TINYXML_TEXT))
                out.add(c);
        }
        break;
    default:
        throw error_not_yet();
    }
}

node_set xpath_processor::filter(const node_set& in, int32_t predicate_index, bool position_flag)
{
    node_set out;
    for (uint32_t i = 0; i < in.count(); ++i) {
        const TiXmlNode* n = in.node(i);
        const TiXmlElement* e = n ? n->ToElement() : nullptr;
        if (e && evaluate_predicate(e, position_flag, predicate_index))
            out.add(e);
    }
    return out;
}

bool xpath_processor::evaluate_predicate(const TiXmlElement* element, bool position_flag, int32_t predicate_index)
{
    // The caller's context comes back afterwards, so a later relative path of the
    // enclosing expression still starts from it.
    const TiXmlElement* saved_context = context_;
    const bool saved_flag = position_flag_;
    context_ = element;
    position_flag_ = position_flag;
    actions_.current = predicate_index;
    try {
        execute(c_predicate);
    } catch (...) {
        context_ = saved_context;
        position_flag_ = saved_flag;
        throw;
    }
    context_ = saved_context;
    position_flag_ = saved_flag;
    expression_result v = stack_.pop_value();
    // The position walk is only paid for numeric predicates.
    if (v.kind() == kind_int)
        return v.int_field() == position_of(element, position_flag);
    if (v.kind() == kind_double)
        return double_to_int(v.double_field()) == position_of(element, position_flag);
    return v.to_bool();
}

void xpath_processor::execute_union()
{
    execute(c_union_expr);
    if (stack_.top().kind() != kind_node_set)
        throw execution_error(exec_union_not_node_set);
    node_set result = stack_.pop_as_node_set();
    execute(c_path_expr);
    const node_set left = stack_.pop_as_node_set();
    for (uint32_t i = 0; i < left.count(); ++i)
        result.add(left.entry(i), left.is_attribute(i));
    stack_.push_node_set(std::move(result));
}

void xpath_processor::execute_filter_predicate()
{
    const int32_t predicate = actions_.current;
    skip(c_predicate);
    execute(c_primary_expr);
    if (stack_.top().kind() != kind_node_set)
        throw execution_error(exec_union_not_node_set);
    const node_set in = stack_.pop_as_node_set();
    const int32_t after = actions_.current;
    node_set out = filter(in, predicate, false);
    actions_.current = after;
    stack_.push_node_set(std::move(out));
}

void xpath_processor::execute_filter_path(int32_t sub_kind)
{
    const int32_t relative = actions_.current;
    skip(c_relative_location_path);
    execute(c_filter_expr);
    if (stack_.top().kind() != kind_node_set)
        throw execution_error(exec_union_not_node_set);
    const int32_t after = actions_.current;
    if (sub_kind == 24) {
        // "//" reaches every element below each entry before the next step.
        node_set in = stack_.pop_as_node_set();
        node_set widened;
        for (uint32_t i = 0; i < in.count(); ++i) {
            widened.add(in.entry(i), in.is_attribute(i));
            if (!in.is_attribute(i))
                widened.add_descendants(in.node(i), nullptr);
        }
        stack_.push_node_set(std::move(widened));
    }
    chain_steps(relative, kModeStack);
    actions_.current = after;
}

void xpath_processor::execute_function_call(const action& a)
{
    const int32_t count = a.sub_kind == 1 ? a.number : 0;
    std::vector<expression_result> args(static_cast<size_t>(count > 0 ? count : 0));
    for (int32_t i = count - 1; i >= 0; --i) {
        execute(c_argument);
        if (stack_.count() == 0)
            throw execution_error(exec_argument_missing);
        args[static_cast<size_t>(i)] = stack_.pop_value();
    }
    execute(c_qname);
    const std::string name = stack_.pop_as_string();
    call_function(name, args);
}

void xpath_processor::apply_logic(bool is_and)
{
    const bool left = stack_.pop_as_bool();
    const bool right = stack_.pop_as_bool();
    stack_.push_bool(is_and ? (left && right) : (left || right));
}

namespace {

// "=" between two values, at most one of them a node set.
bool equal_values(expression_result& a, expression_result& b)
{
    if (a.kind() == kind_node_set && b.kind() == kind_node_set)
        throw error_not_yet();
    if (a.kind() == kind_node_set || b.kind() == kind_node_set) {
        expression_result& set = a.kind() == kind_node_set ? a : b;
        expression_result& other = a.kind() == kind_node_set ? b : a;
        const node_set& s = set.set();
        switch (other.kind()) {
        case kind_bool:
            return set.to_bool() == other.bool_field();
        case kind_string:
            for (uint32_t i = 0; i < s.count(); ++i)
                if (s.string_value(i) == other.string_field())
                    return true;
            return false;
        case kind_int:
        case kind_double: {
            const int32_t value = other.to_int();
            for (uint32_t i = 0; i < s.count(); ++i)
                if (string_to_int(s.string_value(i)) == value)
                    return true;
            return false;
        }
        default:
            return false;
        }
    }
    if (a.kind() == kind_bool || b.kind() == kind_bool)
        return a.to_bool() == b.to_bool();
    if (a.is_number() || b.is_number())
        return a.to_double() == b.to_double();
    return a.to_string() == b.to_string();
}

} // namespace

void xpath_processor::apply_equality(bool negate)
{
    expression_result left = stack_.pop_value();
    expression_result right = stack_.pop_value();
    const bool equal = equal_values(left, right);
    stack_.push_bool(negate ? !equal : equal);
}

void xpath_processor::apply_relational(int32_t sub_kind)
{
    expression_result left = stack_.pop_value();
    expression_result right = stack_.pop_value();
    bool r;
    if (left.kind() != kind_double && right.kind() != kind_double) {
        const int32_t l = left.to_int(), g = right.to_int();
        r = sub_kind == 49 ? l < g : sub_kind == 50 ? l > g : sub_kind == 51 ? l <= g : l >= g;
    } else {
        const double l = left.to_double(), g = right.to_double();
        r = sub_kind == 49 ? l < g : sub_kind == 50 ? l > g : sub_kind == 51 ? l <= g : l >= g;
    }
    stack_.push_bool(r);
}

void xpath_processor::apply_additive(bool plus)
{
    expression_result left = stack_.pop_value();
    expression_result right = stack_.pop_value();
    if (left.kind() != kind_double && right.kind() != kind_double) {
        const int64_t l = left.to_int(), g = right.to_int();
        stack_.push_int(wrap_int(plus ? l + g : l - g));
    } else {
        const double l = left.to_double(), g = right.to_double();
        stack_.push_double(plus ? l + g : l - g);
    }
}

namespace {

int32_t int_remainder(int32_t a, int32_t b)
{
    if (b == 0)
        throw execution_error(exec_division_by_zero);
    if (b == -1)
        return 0; // also the result for -2147483648, which has no representable quotient
    return a % b;
}

} // namespace

void xpath_processor::apply_multiplicative(int32_t sub_kind)
{
    expression_result left = stack_.pop_value();
    expression_result right = stack_.pop_value();
    const bool is_div = sub_kind == 57, is_mod = sub_kind == 58;
    if (left.kind() == kind_double || right.kind() == kind_double || is_div) {
        const double l = left.to_double(), g = right.to_double();
        if (is_mod) {
            stack_.push_double(int_remainder(double_to_int(l), double_to_int(g)));
        } else if (is_div) {
            if (std::fabs(g) < 0.000001)
                throw execution_error(exec_division_by_zero);
            stack_.push_double(l / g);
        } else {
            stack_.push_double(l * g);
        }
        return;
    }
    const int32_t l = left.to_int(), g = right.to_int();
    if (is_mod)
        stack_.push_int(int_remainder(l, g));
    else
        stack_.push_int(wrap_int(static_cast<int64_t>(l) * g));
}

void xpath_processor::apply_negation()
{
    expression_result v = stack_.pop_value();
    if (v.kind() == kind_double)
        stack_.push_double(-v.double_field());
    else
        stack_.push_int(wrap_int(-static_cast<int64_t>(v.to_int())));
}

} // namespace XPath
