// Arbitrary bytes as one to three JPP-stream bodies parsed into a cache with a 4 MiB
// ceiling; every enumerated bin is then read back.
//   byte 0: number of bodies - 1 (mod 3); bytes 1, 2: where the cuts fall (fractions of
//   the rest); then the stream.
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/JpipParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int bodies = data[0] % 3 + 1;
    const uint8_t* stream = data + 3;
    const size_t n = size - 3;
    size_t cuts[4] = {0, n * data[1] / 256, n * data[2] / 256, n};
    std::sort(cuts + 1, cuts + 3);
    if (bodies == 1)
        cuts[1] = cuts[2] = n;
    else if (bodies == 2)
        cuts[2] = cuts[1];

    CJ2KCache cache;
    cache.set_memory_limit(4u << 20);
    CJpipParser parser;
    for (int i = 0; i < 3; ++i) {
        try {
            parser.parse(&cache, stream + cuts[i], cuts[i + 1] - cuts[i]);
        } catch (const CJ2KException&) {
        }
    }
    std::vector<uint8_t> buf(4096);
    for (int64_t cs = cache.get_next_codestream(-1); cs >= 0; cs = cache.get_next_codestream(cs))
        for (int cls = 0; cls < 5; ++cls)
            for (int64_t id = cache.get_next_databin_newest_first(cls, cs, -1, false); id >= 0;
                 id = cache.get_next_databin_newest_first(cls, cs, id, false)) {
                bool complete = false;
                int len = cache.get_databin_length(cls, cs, id, &complete);
                cache.set_read_scope(cls, cs, id);
                int total = 0;
                for (int got; (got = cache.read(buf.data(), int(buf.size()))) > 0;)
                    total += got;
                if (total != len)
                    __builtin_trap();
                cache.get_databin_prefix(cls, cs, id, buf.data(), int(buf.size()));
            }
    cache.close();
    if (cache.get_memory_in_use() != 0)
        __builtin_trap();
    return 0;
}
