#pragma once
// Failures raised inside the XPath engine; xpath_processor::compute_xpath turns each
// into an error state, so none of them reaches a caller of the processor.

#include <cstdint>
#include <cstring>
#include <exception>

namespace XPath {

// Codes carried by execution_error, kept together so tests can name them.
enum execution_code : int32_t {
    exec_not_yet = -2,
    exec_base_without_parent = 1,
    exec_unexpected_construct = 2,
    exec_union_not_node_set = 9,
    exec_argument_missing = 10,
    exec_no_rule = 12,
    exec_unknown_function = 13,
    exec_args_ceiling = 14,
    exec_args_concat = 15,
    exec_args_contains = 16,
    exec_args_count = 17,
    exec_args_false = 18,
    exec_args_floor = 19,
    exec_args_last = 20,
    exec_last_without_context = 21,
    exec_args_name = 22,
    exec_args_normalize_space = 23,
    exec_args_not = 24,
    exec_args_position = 25,
    exec_position_without_context = 26,
    exec_args_starts_with = 27,
    exec_args_string_length = 28,
    exec_args_substring = 29,
    exec_args_sum = 30,
    exec_sum_not_node_set = 31,
    exec_args_true = 32,
    exec_division_by_zero = 33,
    exec_top_of_empty_stack = 34,
    exec_pop_empty_stack = 35,
    exec_pop_missing_top = 36,
    exec_args_text = 38,
    exec_text_without_context = 39,
    exec_args_translate = 40,
};

class syntax_error : public std::exception {
public:
    explicit syntax_error(const char* message)
    {
        // The message lives in a fixed buffer; one that does not fit is dropped whole.
        message_[0] = '\0';
        if (message && std::strlen(message) < sizeof(message_) - 1)
            std::strcpy(message_, message);
    }
    const char* what() const noexcept override { return message_; }

private:
    char message_[200];
};

class syntax_overflow : public std::exception {
public:
    const char* what() const noexcept override { return "syntax overflow"; }
};

class execution_error : public std::exception {
public:
    explicit execution_error(int32_t code) : code_(code) {}
    int32_t code() const { return code_; }
    const char* what() const noexcept override { return "execution error"; }

private:
    int32_t code_;
};

class error_not_yet : public execution_error {
public:
    error_not_yet() : execution_error(exec_not_yet) {}
    const char* what() const noexcept override { return "not implemented"; }
};

} // namespace XPath
