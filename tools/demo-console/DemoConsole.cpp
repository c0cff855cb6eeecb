#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "diagnostics/Logging.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"
#include "tools/demo-console/DemoPssi.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// The log is printed at the end. Without a C: drive named (ORBEL_DRIVE_C, as demo/run and
// CTest name one), it is written in a temporary folder removed on exit, so a run from any
// folder leaves nothing there.
class ScratchDrive {
public:
    ScratchDrive()
    {
        const char* named = std::getenv("ORBEL_DRIVE_C");
        if (named && *named)
            return;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orbel-demo-console-XXXXXX";
        if (mkdtemp(pattern.data())) {
            folder_ = pattern;
            setenv("ORBEL_DRIVE_C", folder_.c_str(), 1);
        }
    }
    ~ScratchDrive()
    {
        if (folder_.empty())
            return;
        unsetenv("ORBEL_DRIVE_C");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ScratchDrive(const ScratchDrive&) = delete;
    ScratchDrive& operator=(const ScratchDrive&) = delete;

private:
    std::string folder_;
};

} // namespace

int main(int argc, char** argv)
{
    const ScratchDrive drive;
    // The demo's documents: the folder given, else the source tree's demo/.
    const std::string demoDir = argc > 1 ? argv[1] : ORBEL_DEMO_DIR;
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
    const bool documentsOk = runPssiDemo(demoDir, std::cout);
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
    if (!documentsOk) {
        std::fprintf(stderr, "orbel-demo-console: the demo documents in %s are missing or broken\n", demoDir.c_str());
        return 1;
    }
    return 0;
}
