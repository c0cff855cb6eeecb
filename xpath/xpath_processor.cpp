#include "xpath/xpath_processor.h"

#include "xpath/xpath_exceptions.h"

#include <tinyxml.h>

namespace XPath {

xpath_processor::xpath_processor(const TiXmlNode* node, const char* expression)
    : xpath_stream(expression), stack_(node), base_(node)
{
}

xpath_processor::~xpath_processor() = default;

void xpath_processor::record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text)
{
    actions_.add(construct, sub_kind, number, text);
}

int32_t xpath_processor::action_count()
{
    return actions_.count();
}

expression_result xpath_processor::compute_xpath()
{
    // The token list and action store are filled once; a second call gives the same answer.
    if (computed_)
        return result_;
    computed_ = true;
    try {
        if (!base_ || !base_->Parent())
            throw execution_error(exec_base_without_parent);
        root_ = base_->Parent();
        context_ = base_->ToElement();
        lex();
        tokens().decode();
        actions_.current = actions_.count() - 1;
        execute(c_expr);
        if (stack_.count() == 1) {
            result_ = stack_.pop_value();
            error_state_ = state_ok;
        } else {
            result_ = expression_result();
            error_state_ = state_not_one_value;
        }
    } catch (const syntax_error&) {
        result_ = expression_result();
        error_state_ = state_syntax_error;
    } catch (const syntax_overflow&) {
        result_ = expression_result();
        error_state_ = state_syntax_overflow;
    } catch (const execution_error& e) {
        result_ = expression_result();
        error_state_ = state_execution_error;
        execution_code_ = e.code();
    }
    return result_;
}

unsigned xpath_processor::compute_node_set_count()
{
    compute_xpath();
    return result_.kind() == kind_node_set ? result_.set().count() : 0u;
}

const TiXmlNode* xpath_processor::get_xpath_node(unsigned index) const
{
    if (result_.kind() != kind_node_set || index >= result_.set().count())
        return nullptr;
    return result_.set().node(index);
}

const TiXmlNode* first_xpath_node(const TiXmlNode* node, const char* expression)
{
    xpath_processor p(node, expression);
    if (p.compute_node_set_count() == 0)
        return nullptr;
    return p.get_xpath_node(0);
}

} // namespace XPath
