// Each .cpp that logs or throws names itself once, with the system's own source name
// (".\R2IVuzi\PssiXmlDao", no extension); log records and exceptions carry that name.
#pragma once

#define ORBEL_SOURCE_NAME(name)                                                                    \
    namespace {                                                                                    \
    [[maybe_unused]] constexpr const char* kOrbelSourceName = name;                                \
    }
