#include "annotation/CurrentStamp.h"

#include "platform/ModuleStartup.h"

std::u16string currentStampName;
std::vector<unsigned char> currentStampBitmap;

namespace {

// Nothing to build at load; an unload leaves no stamp chosen for the next load.
const StartupRegistrar kCurrentStamp(0, 1, "current stamp name and bitmap", nullptr, [] {
    currentStampName.clear();
    currentStampBitmap.clear();
    currentStampBitmap.shrink_to_fit();
});

} // namespace
