// Expression bytes through the lexer, the redefinition pass and the decoder.
#include "xpath/xpath_exceptions.h"
#include "xpath/xpath_stream.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class counting_stream : public XPath::xpath_stream {
public:
    explicit counting_stream(const char* text) : XPath::xpath_stream(text) {}
    void record_action(int32_t, int32_t, int32_t, const char* text) override
    {
        ++count_;
        bytes_ += text ? std::string(text).size() : 0;
    }
    int32_t action_count() override { return count_; }

private:
    int32_t count_ = 0;
    size_t bytes_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    counting_stream s(text.c_str());
    try {
        s.lex();
        s.tokens().decode();
    } catch (const XPath::syntax_error&) {
    } catch (const XPath::syntax_overflow&) {
    }
    return 0;
}
