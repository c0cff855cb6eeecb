#pragma once
// The token list of one xpath_stream: runs the redefinition pass and forwards the
// decoder's action operations to the stream it belongs to.

#include "xpath/token_syntax_decoder.h"

namespace XPath {

class xpath_stream;

class token_redef : public token_syntax_decoder {
public:
    explicit token_redef(xpath_stream* stream) : stream_(stream) {}

    void redefine() override;
    void record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text) override;
    int32_t action_count() override;

private:
    xpath_stream* stream_;
};

} // namespace XPath
