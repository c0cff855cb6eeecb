// The outside programs the tests compare against (a second decoder, Python with numpy,
// image tools), found the same way by every suite.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace OrbelTest {

// Debian's interpreter: the first python3 on a PATH may be another one that does not see
// the python3-* packages. ORBEL_PYTHON comes from CMake, in the environment of every test.
inline std::string python()
{
    if (const char* env = std::getenv("ORBEL_PYTHON"); env && *env)
        return env;
#ifdef ORBEL_PYTHON
    return ORBEL_PYTHON;
#else
    return "/usr/bin/python3";
#endif
}

// "'<python>' '<script>'", ready for std::system or popen with arguments appended.
inline std::string pythonCommand(const std::string& script)
{
    return "'" + python() + "' '" + script + "'";
}

inline bool runningInCi()
{
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

inline bool programOnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

inline bool pythonHasModule(const std::string& module)
{
    const std::string cmd = "'" + python() + "' -c 'import " + module + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline std::string missingToolMessage(const std::string& what, const std::string& package)
{
    return what + " is not installed: it comes with the Debian package " + package + " (scripts/install-deps)";
}

} // namespace OrbelTest

// In a GoogleTest body: without the tool the test fails under CI=true and is skipped elsewhere.
#define ORBEL_REQUIRE_TOOL(program, package)                                                        \
    do {                                                                                          \
        if (!OrbelTest::programOnPath(program)) {                                                 \
            const std::string orbel_missing_ = OrbelTest::missingToolMessage(program, package);   \
            if (OrbelTest::runningInCi())                                                         \
                FAIL() << orbel_missing_;                                                         \
            GTEST_SKIP() << orbel_missing_;                                                       \
        }                                                                                         \
    } while (0)

#define ORBEL_REQUIRE_PYTHON_MODULE(module, package)                                               \
    do {                                                                                          \
        if (!OrbelTest::pythonHasModule(module)) {                                                \
            const std::string orbel_missing_ =                                                    \
                OrbelTest::missingToolMessage(std::string("Python module ") + module, package);   \
            if (OrbelTest::runningInCi())                                                         \
                FAIL() << orbel_missing_;                                                         \
            GTEST_SKIP() << orbel_missing_;                                                       \
        }                                                                                         \
    } while (0)
