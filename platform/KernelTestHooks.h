// Test hooks that pin the clock readings of the kernel stand-in, so time-dependent
// output (log headers, for one) can be compared exactly.
#pragma once

#include "platform/WinTypes.h"

namespace KernelTestHooks {
// A fixed local time for GetLocalTime; nullptr returns to the real clock.
void setFixedLocalTime(const SYSTEMTIME* st);
// A fixed value for GetTickCount.
void setFixedTickCount(DWORD tick);
void clearFixedTickCount();
void reset();
}
