#pragma once
// The result stack on which the executor passes values between actions.

#include "xpath/expression_result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace XPath {

class xpath_stack {
public:
    explicit xpath_stack(const TiXmlNode* base = nullptr) : base_(base) {}

    void set_base(const TiXmlNode* base) { base_ = base; }
    const TiXmlNode* base() const { return base_; }
    int32_t count() const { return static_cast<int32_t>(entries_.size()); }

    void push_bool(bool v);
    void push_string(const std::string& v);
    void push_int(int32_t v);
    void push_double(double v);
    void push_node_set(const node_set& v);
    void push_node_set(node_set&& v);
    void push(const expression_result& v);

    // Raises execution_error 34 when empty.
    expression_result& top();
    // Raises execution_error 35 when empty.
    void pop();
    void pop_n(unsigned n);
    void clear() { entries_.clear(); }

    int32_t pop_as_int();
    std::string pop_as_string();
    bool pop_as_bool();
    // The top value's node set (empty unless it is one), then pops.
    node_set pop_as_node_set();
    expression_result pop_value();

private:
    expression_result& fresh();
    std::vector<expression_result> entries_;
    const TiXmlNode* base_;
};

} // namespace XPath
