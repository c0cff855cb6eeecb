#include "image/VoiLutEntry.h"

#include <algorithm>

bool VoiLutEntry::HasData() const
{
    return !data.empty() && data.size() <= static_cast<size_t>(std::max(limit, 0));
}

int32_t VoiLutEntry::Lookup(int64_t s) const
{
    if (!HasData())
        return 0;
    const int64_t index = s - firstValueMapped;
    if (index < 0)
        return data.front();
    const int64_t end = std::min<int64_t>(std::max(entryCount, 0), static_cast<int64_t>(data.size()));
    if (index >= end)
        return data.back();
    return data[static_cast<size_t>(index)];
}

void VoiLutEntry::GetRange(int32_t& minimum, int32_t& maximum) const
{
    if (!HasData()) {
        minimum = maximum = 0;
        return;
    }
    const auto mm = std::minmax_element(data.begin(), data.end());
    minimum = *mm.first;
    maximum = *mm.second;
}

void VoiLutEntry::Resize(int32_t n)
{
    entryCount = n;
    limit = n;
    data.assign(static_cast<size_t>(std::max(n, 0)), 0);
}
