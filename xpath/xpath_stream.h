#pragma once
// The expression bytes with their token list; the derived processor supplies the
// action sink and counter.

#include "xpath/byte_stream.h"
#include "xpath/token_redef.h"

#include <cstdint>
#include <memory>

namespace XPath {

class xpath_stream : public byte_stream {
public:
    explicit xpath_stream(const char* text);
    ~xpath_stream() override;

    virtual void record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text) = 0;
    virtual int32_t action_count() = 0;

    // Scans the whole expression into the token list.
    void lex();
    token_redef& tokens() { return *tokens_; }

private:
    std::unique_ptr<token_redef> tokens_;
};

} // namespace XPath
