#pragma once
// One value of an XPath expression: bool, string, int, double or node set, with the
// conversions between kinds.

#include "xpath/node_set.h"

#include <cstdint>
#include <string>

class TiXmlNode;

namespace XPath {

enum result_kind : uint32_t {
    kind_bool = 0,
    kind_string = 1,
    kind_int = 2,
    kind_double = 3,
    kind_node_set = 4,
    kind_invalid = 5,
};

// Leading blanks, a sign and digits; saturates at the int range; 0 when no digits.
int32_t string_to_int(const std::string& text);
// A decimal number prefix of the text (blanks, sign, digits, fraction, exponent);
// 0.0 when there is none.
double string_to_double(const std::string& text);
// Truncation toward zero; NaN or a value outside the int range gives -2147483648.
int32_t double_to_int(double value);
// "%f", then trailing zeros and a final point removed.
std::string format_double(double value);
// Two's-complement wrap of a 64-bit result to 32 bits.
inline int32_t wrap_int(int64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

class expression_result {
public:
    explicit expression_result(const TiXmlNode* base = nullptr) : base_(base) {}
    expression_result(const expression_result& other);
    expression_result& operator=(const expression_result& other);
    expression_result(expression_result&&) = default;
    expression_result& operator=(expression_result&&) = default;

    result_kind kind() const { return kind_; }
    const TiXmlNode* base() const { return base_; }

    void set_bool(bool v) { kind_ = kind_bool; bool_ = v; }
    void set_string(const std::string& v) { kind_ = kind_string; string_ = v; }
    void set_int(int32_t v) { kind_ = kind_int; int_ = v; }
    void set_double(double v) { kind_ = kind_double; double_ = v; }
    void set_node_set(const node_set& v) { kind_ = kind_node_set; set_ = v; }
    void set_node_set(node_set&& v) { kind_ = kind_node_set; set_ = std::move(v); }
    void set_invalid() { kind_ = kind_invalid; }

    // The field of the value's own kind.
    bool bool_field() const { return bool_; }
    const std::string& string_field() const { return string_; }
    int32_t int_field() const { return int_; }
    double double_field() const { return double_; }
    const node_set& set() const { return set_; }
    node_set& set() { return set_; }

    bool to_bool() const;
    // The node-set conversions sort the set in document order in place.
    std::string to_string();
    int32_t to_int();
    double to_double();
    bool is_number() const { return kind_ == kind_int || kind_ == kind_double; }

private:
    std::string string_;
    bool bool_ = false;
    int32_t int_ = 0;
    double double_ = 0.0;
    node_set set_;
    const TiXmlNode* base_ = nullptr;
    result_kind kind_ = kind_invalid;
};

} // namespace XPath
