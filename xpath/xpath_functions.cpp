// The function library: each function checks its argument count, computes, and pushes
// exactly one value.
#include "xpath/xpath_exceptions.h"
#include "xpath/xpath_processor.h"

#include <tinyxml.h>

#include <cmath>
#include <cstring>

namespace XPath {

namespace {

int32_t rounded(expression_result& v, double (*round)(double))
{
    switch (v.kind()) {
    case kind_double: return double_to_int(round(v.double_field()));
    case kind_bool:
    case kind_int: return v.to_int();
    default: return 0;
    }
}

std::string normalize_space(const std::string& s)
{
    std::string out;
    bool pending_blank = false;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            pending_blank = !out.empty();
            continue;
        }
        if (pending_blank)
            out += ' ';
        pending_blank = false;
        out += c;
    }
    return out;
}

std::string substring(const std::string& s, int32_t start, bool has_length, int32_t length)
{
    if (start < 1 || static_cast<int64_t>(start) - 1 >= static_cast<int64_t>(s.size()))
        return std::string();
    const size_t from = static_cast<size_t>(start - 1);
    if (!has_length)
        return s.substr(from);
    if (length < 0)
        return std::string();
    return s.substr(from, static_cast<size_t>(length));
}

std::string translate(const std::string& s, const std::string& from, const std::string& to)
{
    std::string out;
    for (char c : s) {
        const size_t i = from.find(c);
        if (i == std::string::npos)
            out += c;
        else if (i < to.size())
            out += to[i];
    }
    return out;
}

void require(bool ok, int32_t code)
{
    if (!ok)
        throw execution_error(code);
}

} // namespace

int32_t xpath_processor::position_of(const TiXmlElement* element, bool same_name) const
{
    const TiXmlNode* parent = element ? element->Parent() : nullptr;
    if (!parent)
        return -1;
    int32_t position = 0;
    for (const TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (same_name && std::strcmp(e->Value(), element->Value()) != 0)
            continue;
        ++position;
        if (e == element)
            return position;
    }
    return -1;
}

int32_t xpath_processor::size_of(const TiXmlElement* element, bool same_name) const
{
    const TiXmlNode* parent = element->Parent();
    if (!parent)
        return 0;
    int32_t size = 0;
    for (const TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement())
        if (!same_name || std::strcmp(e->Value(), element->Value()) == 0)
            ++size;
    return size;
}

void xpath_processor::call_function(const std::string& name, std::vector<expression_result>& args)
{
    const size_t n = args.size();
    if (name == "ceiling") {
        require(n == 1, exec_args_ceiling);
        stack_.push_int(rounded(args[0], std::ceil));
    } else if (name == "concat") {
        require(n >= 1, exec_args_concat);
        std::string s;
        for (auto& a : args)
            s += a.to_string();
        stack_.push_string(s);
    } else if (name == "contains") {
        require(n == 2, exec_args_contains);
        const std::string s = args[0].to_string();
        stack_.push_bool(s.find(args[1].to_string()) != std::string::npos);
    } else if (name == "count") {
        require(n >= 1, exec_args_count);
        stack_.push_int(args[0].kind() == kind_node_set ? static_cast<int32_t>(args[0].set().count()) : 0);
    } else if (name == "false") {
        require(n == 0, exec_args_false);
        stack_.push_bool(false);
    } else if (name == "floor") {
        require(n == 1, exec_args_floor);
        stack_.push_int(rounded(args[0], std::floor));
    } else if (name == "last") {
        require(n == 0, exec_args_last);
        require(context_ != nullptr, exec_last_without_context);
        stack_.push_int(size_of(context_, position_flag_));
    } else if (name == "name") {
        require(n <= 1, exec_args_name);
        std::string s;
        if (n == 0) {
            if (context_)
                s = context_->Value();
        } else if (args[0].kind() == kind_node_set && args[0].set().count() > 0) {
            const node_set& set = args[0].set();
            s = set.is_attribute(0) ? set.attribute(0)->NameTStr() : set.node(0)->ValueStr();
        }
        stack_.push_string(s);
    } else if (name == "normalize-space") {
        require(n == 1, exec_args_normalize_space);
        stack_.push_string(normalize_space(args[0].to_string()));
    } else if (name == "not") {
        require(n == 1, exec_args_not);
        stack_.push_bool(!args[0].to_bool());
    } else if (name == "position") {
        require(n == 0, exec_args_position);
        require(context_ != nullptr, exec_position_without_context);
        stack_.push_int(position_of(context_, position_flag_));
    } else if (name == "starts-with") {
        require(n == 2, exec_args_starts_with);
        const std::string s = args[0].to_string(), prefix = args[1].to_string();
        stack_.push_bool(s.compare(0, prefix.size(), prefix) == 0);
    } else if (name == "string-length") {
        require(n == 1, exec_args_string_length);
        stack_.push_int(static_cast<int32_t>(args[0].to_string().size()));
    } else if (name == "substring") {
        require(n == 2 || n == 3, exec_args_substring);
        const std::string s = args[0].to_string();
        const int32_t start = args[1].to_int();
        const int32_t length = n == 3 ? args[2].to_int() : 0;
        stack_.push_string(substring(s, start, n == 3, length));
    } else if (name == "sum") {
        require(n == 1, exec_args_sum);
        require(args[0].kind() == kind_node_set, exec_sum_not_node_set);
        const node_set& set = args[0].set();
        int32_t int_total = 0;
        double double_total = 0.0;
        bool fractional = false;
        for (uint32_t i = 0; i < set.count(); ++i) {
            const std::string v = set.string_value(i);
            int_total = wrap_int(static_cast<int64_t>(int_total) + string_to_int(v));
            double_total += string_to_double(v);
            fractional = fractional || v.find('.') != std::string::npos;
        }
        if (fractional)
            stack_.push_double(double_total);
        else
            stack_.push_int(int_total);
    } else if (name == "text") {
        require(n == 0, exec_args_text);
        require(context_ != nullptr, exec_text_without_context);
        std::string s;
        for (const TiXmlNode* c = context_->FirstChild(); c; c = c->NextSibling())
            if (c->Type() == TiXmlNode::TINYXML_TEXT)
                s += c->ValueStr();
        stack_.push_string(s);
    } else if (name == "translate") {
        require(n == 3, exec_args_translate);
        const std::string s = args[0].to_string(), from = args[1].to_string(), to = args[2].to_string();
        stack_.push_string(translate(s, from, to));
    } else if (name == "true") {
        require(n == 0, exec_args_true);
        stack_.push_bool(true);
    } else {
        throw execution_error(exec_unknown_function);
    }
}

} // namespace XPath
