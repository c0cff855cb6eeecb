// The host program's script parser on arbitrary text: every line parses or gives an
// error, and every string argument survives being printed and read back.
#include "host/script/HostScript.h"

#include "platform/TextConv.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int line = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        hostscript::Command cmd;
        std::string error;
        if (hostscript::ParseLine(text.substr(start, end - start), ++line, cmd, error)) {
            for (const hostscript::Arg& a : cmd.args) {
                if (a.kind != hostscript::Arg::String)
                    continue;
                std::vector<hostscript::Word> words;
                std::string e;
                if (!hostscript::SplitWords(hostscript::QuoteText(a.text), words, e) || words.size() != 1 ||
                    Utf8ToUtf16(words[0].text) != a.text)
                    std::abort();
            }
        } else if (error.empty()) {
            std::abort();
        }
        start = end + 1;
    }
    return 0;
}
