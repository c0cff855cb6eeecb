#pragma once
// One XPath query: built on a TinyXML node with an expression, evaluated once, then
// asked for the nodes it selected. Failures never leave it as exceptions; they become
// the error state, and callers test the count of selected nodes.

#include "xpath/action_store.h"
#include "xpath/expression_result.h"
#include "xpath/xpath_stack.h"
#include "xpath/xpath_stream.h"

#include <cstdint>
#include <string>
#include <vector>

class TiXmlNode;
class TiXmlElement;

namespace XPath {

enum error_state : uint32_t {
    state_ok = 0,
    state_syntax_error = 1,
    state_syntax_overflow = 2,
    state_execution_error = 3,
    state_not_one_value = 4,
};

class xpath_processor : public xpath_stream {
public:
    xpath_processor(const TiXmlNode* node, const char* expression);
    ~xpath_processor() override;

    expression_result compute_xpath();
    // Number of selected nodes when the result is a node set, else 0.
    unsigned compute_node_set_count();
    // The i-th entry of the result node set; null past the end, for an attribute, or
    // when the result is not a node set.
    const TiXmlNode* get_xpath_node(unsigned index) const;

    uint32_t error() const { return error_state_; }
    // The code of the execution error behind state 3 (0 otherwise), for diagnosis.
    int32_t execution_code() const { return execution_code_; }
    const expression_result& result() const { return result_; }

    void record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text) override;
    int32_t action_count() override;

private:
    // Rule executor.
    const action& read(int32_t construct);
    void execute(int32_t construct, bool skip = false);
    void skip(int32_t construct);
    void execute_step(int32_t mode);
    void execute_absolute(const action& a);
    void chain_steps(int32_t relative_index, int32_t mode);
    void execute_filter_path(int32_t sub_kind);
    void execute_filter_predicate();
    void execute_function_call(const action& a);
    void execute_union();
    node_set input_set(int32_t mode);
    void add_axis(node_set& out, const TiXmlNode* entry, int32_t axis, const std::string& name, bool any_node);
    node_set filter(const node_set& in, int32_t predicate_index, bool position_flag);
    bool evaluate_predicate(const TiXmlElement* element, bool position_flag, int32_t predicate_index);
    void apply_logic(bool is_and);
    void apply_equality(bool negate);
    void apply_relational(int32_t sub_kind);
    void apply_additive(bool plus);
    void apply_multiplicative(int32_t sub_kind);
    void apply_negation();
    void push_number(const std::string& text);

    // Function library.
    void call_function(const std::string& name, std::vector<expression_result>& args);
    // Position and count among the parent's child elements, or among those with the
    // element's own name.
    int32_t position_of(const TiXmlElement* element, bool same_name) const;
    int32_t size_of(const TiXmlElement* element, bool same_name) const;

    uint32_t error_state_ = state_ok;
    int32_t execution_code_ = 0;
    xpath_stack stack_;
    action_store actions_;
    const TiXmlElement* context_ = nullptr;
    expression_result result_;
    bool position_flag_ = false;
    const TiXmlNode* base_;
    const TiXmlNode* root_ = nullptr;
    bool computed_ = false;
};

// The first node selected by the expression on node, or null.
const TiXmlNode* first_xpath_node(const TiXmlNode* node, const char* expression);

} // namespace XPath
