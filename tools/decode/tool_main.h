// The shell the command-line codec tools share: codec errors become exceptions and
// warnings go to stderr; the arguments are parsed and the tool run. Every failure ends in
// exit status 1 with one line on stderr (the usage too after a bad argument), so no input
// can abort a program.
#pragma once

#include "tools/decode/codec_message_sinks.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

// `parse` takes the arguments after the program name and throws `ArgError` on bad ones;
// `run` takes what it returns and gives the exit status.
template <class ArgError, class Parse, class Run>
int run_tool(const char* name, const char* usage, int argc, char** argv, Parse parse, Run run)
{
    static throwing_codec_sink error_sink;
    static printing_codec_sink warning_sink(stderr);
    rvd_customize_errors(&error_sink);
    rvd_customize_warnings(&warning_sink);
    try {
        decltype(parse(std::vector<std::string>())) cmd;
        try {
            cmd = parse(std::vector<std::string>(argv + 1, argv + argc));
        } catch (const ArgError& e) {
            std::fprintf(stderr, "%s: %s\n%s", name, e.what(), usage);
            return 1;
        }
        return run(cmd);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unknown failure\n", name);
    }
    return 1;
}

// Prints the median and best of timed runs over `samples` samples (the --repeat line).
void print_run_times(const char* what, std::vector<double> seconds, double samples);
