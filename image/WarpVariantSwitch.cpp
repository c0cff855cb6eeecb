#include "image/WarpVariants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::once_flag gSwitchOnce;

void ReadSwitch()
{
    const char* text = std::getenv("ORBEL_WARP_VARIANT");
    if (!text || !*text)
        return;
    const int index = warp_variant_from_text(text);
    if (index < 0) {
        std::fprintf(stderr,
                     "ORBEL_WARP_VARIANT=%s ignored: accepted values are generic, sse, sse2, sse3, ssse3 or 0 to 4\n",
                     text);
        return;
    }
    __atomic_store_n(&cpu_variant_index, index, __ATOMIC_RELAXED);
}

} // namespace

int warp_variant_from_text(const char* text)
{
    static const char* const kNames[warp_variant_count] = {"generic", "sse", "sse2", "sse3", "ssse3"};
    if (!text)
        return -1;
    for (int i = 0; i < warp_variant_count; ++i)
        if (std::strcmp(text, kNames[i]) == 0 || (text[0] == '0' + i && text[1] == '\0'))
            return i;
    return -1;
}

int warp_variant_index()
{
    std::call_once(gSwitchOnce, ReadSwitch);
    return __atomic_load_n(&cpu_variant_index, __ATOMIC_RELAXED);
}

void warp_store_variant_index(int index)
{
    std::call_once(gSwitchOnce, ReadSwitch);
    __atomic_store_n(&cpu_variant_index, index, __ATOMIC_RELAXED);
}
