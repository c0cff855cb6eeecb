// Registry scripts: any text parses to an error or to keys, never a crash or a hang.
#include "platform/Com.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string script(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> repl{{"MODULE", "/x/m.so"}, {"APPID", "{A}"}};
    if (platform::RegistryScriptApply(script, repl, true) == S_OK)
        platform::RegistryScriptApply(script, repl, false);
    platform::ResetRegistry();
    return 0;
}
