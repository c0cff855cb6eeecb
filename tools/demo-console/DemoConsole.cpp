#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "diagnostics/Logging.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

ORBEL_SOURCE_NAME(".\\tools\\demo-console\\DemoConsole")

namespace {

const char16_t kLogPath[] = u"C:\\Quillon.Log";

// What the codestream core raises on a codestream that ends inside its main header.
void raiseCodecError()
{
    rvd_error("Ravade Core Error:\n")
        << "The codestream ended after " << 12 << " bytes, inside its main header; "
        << "the demo raises this error on purpose to show it leaving the codec as an "
           "exception instead of ending the process.";
}

} // namespace

int main()
{
    if (!ModuleLoad()) {
        std::fprintf(stderr, "orbel-demo-console: the module's start-up failed\n");
        return 1;
    }
    rvd_customize_errors(&GetCodecErrorFormatter());

    initLogFile(kLogPath, 1, 1, 0);
    setLogItems(true, true, true, false);
    setMinLogLevel(ORBEL_LOG_SEVERITY_INFO);
    ORBEL_LOG(INFO) << "Demo console started, version "
                    << Utf16ToUtf8(GetModuleVersionText());

    bool caught = false;
    try {
        raiseCodecError();
    } catch (const CJ2KException& e) {
        caught = true;
        ORBEL_LOG(ERROR) << "Codec error caught (raised at " << e.getSourceFile() << '('
                         << e.getLine() << ")):\n"
                         << e.what();
    }
    closeLogFile();
    rvd_customize_errors(nullptr);
    ModuleUnload();

    const std::string path = MapDrivePath(std::u16string(kLogPath));
    std::ifstream in(path, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || log.empty()) {
        std::fprintf(stderr, "orbel-demo-console: no log at %s\n", path.c_str());
        return 1;
    }
    std::cout << "--- " << path << '\n' << log << std::flush;
    if (!caught) {
        std::fprintf(stderr, "orbel-demo-console: the codec error did not arrive as an exception\n");
        return 1;
    }
    return 0;
}
