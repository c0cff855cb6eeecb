#include "xpath/xpath_stack.h"

#include "xpath/xpath_exceptions.h"

namespace XPath {

expression_result& xpath_stack::fresh()
{
    entries_.emplace_back(base_);
    return entries_.back();
}

void xpath_stack::push_bool(bool v) { fresh().set_bool(v); }
void xpath_stack::push_string(const std::string& v) { fresh().set_string(v); }
void xpath_stack::push_int(int32_t v) { fresh().set_int(v); }
void xpath_stack::push_double(double v) { fresh().set_double(v); }
void xpath_stack::push_node_set(const node_set& v) { fresh().set_node_set(v); }
void xpath_stack::push_node_set(node_set&& v) { fresh().set_node_set(std::move(v)); }
void xpath_stack::push(const expression_result& v) { entries_.push_back(v); }

expression_result& xpath_stack::top()
{
    if (entries_.empty())
        throw execution_error(exec_top_of_empty_stack);
    return entries_.back();
}

void xpath_stack::pop()
{
    if (entries_.empty())
        throw execution_error(exec_pop_empty_stack);
    entries_.pop_back();
}

void xpath_stack::pop_n(unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
        pop();
}

int32_t xpath_stack::pop_as_int()
{
    const int32_t v = top().to_int();
    pop();
    return v;
}

std::string xpath_stack::pop_as_string()
{
    std::string v = top().to_string();
    pop();
    return v;
}

bool xpath_stack::pop_as_bool()
{
    const bool v = top().to_bool();
    pop();
    return v;
}

node_set xpath_stack::pop_as_node_set()
{
    expression_result& t = top();
    node_set v;
    if (t.kind() == kind_node_set)
        v = std::move(t.set());
    pop();
    return v;
}

expression_result xpath_stack::pop_value()
{
    expression_result v = std::move(top());
    pop();
    return v;
}

} // namespace XPath
