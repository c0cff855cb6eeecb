// File-format errors go through the codec error sink with this lead-in and never return.
#pragma once

#include "codec/core/rvd_message.h"

#include <cstdlib>

[[noreturn]] inline void jp2_raise(const char* text)
{
    {
        rvd_error e("Error in Ravade File Format Support:\n");
        e << text;
    }
    std::abort(); // unreachable: the handler throws or the process ends
}
