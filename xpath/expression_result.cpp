#include "xpath/expression_result.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace XPath {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int32_t string_to_int(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && is_blank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    for (; i < text.size() && is_digit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value >= limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

double string_to_double(const std::string& text)
{
    // Only the decimal form is a number here; hexadecimal, "inf" and "nan" are not.
    size_t i = 0;
    while (i < text.size() && is_blank(text[i]))
        ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < text.size() && is_digit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && is_digit(text[j])) {
            while (j < text.size() && is_digit(text[j]))
                ++j;
            i = j;
        }
    }
    const std::string number = text.substr(start, i - start);
    return std::strtod(number.c_str(), nullptr);
}

int32_t double_to_int(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string format_double(double value)
{
    const int n = std::snprintf(nullptr, 0, "%f", value);
    if (n <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::snprintf(buffer.data(), buffer.size(), "%f", value);
    std::string text(buffer.data(), static_cast<size_t>(n));
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    return text;
}

expression_result::expression_result(const expression_result& other)
    : base_(other.base_), kind_(other.kind_)
{
    switch (kind_) {
    case kind_bool: bool_ = other.bool_; break;
    case kind_string: string_ = other.string_; break;
    case kind_int: int_ = other.int_; break;
    case kind_double: double_ = other.double_; break;
    case kind_node_set: set_ = other.set_; break;
    default: break;
    }
}

expression_result& expression_result::operator=(const expression_result& other)
{
    if (this != &other) {
        expression_result copy(other);
        *this = std::move(copy);
    }
    return *this;
}

bool expression_result::to_bool() const
{
    switch (kind_) {
    case kind_bool: return bool_;
    case kind_string: return !string_.empty();
    case kind_int: return int_ != 0;
    case kind_double: return double_ != 0.0 && !std::isnan(double_);
    case kind_node_set: return set_.count() > 0;
    default: return false;
    }
}

std::string expression_result::to_string()
{
    switch (kind_) {
    case kind_bool: return bool_ ? "true" : "false";
    case kind_string: return string_;
    case kind_int: return std::to_string(int_);
    case kind_double: return format_double(double_);
    case kind_node_set:
        if (set_.count() == 0)
            return std::string();
        set_.sort_document_order(base_);
        return set_.string_value(0);
    default: return std::string();
    }
}

int32_t expression_result::to_int()
{
    switch (kind_) {
    case kind_bool: return bool_ ? 1 : 0;
    case kind_string: return string_to_int(string_);
    case kind_int: return int_;
    case kind_double: return double_to_int(double_);
    case kind_node_set: return string_to_int(to_string());
    default: return 0;
    }
}

double expression_result::to_double()
{
    switch (kind_) {
    case kind_bool: return bool_ ? 1.0 : 0.0;
    case kind_string: return string_to_double(string_);
    case kind_int: return int_;
    case kind_double: return double_;
    case kind_node_set: return string_to_double(to_string());
    default: return 0.0;
    }
}

} // namespace XPath
