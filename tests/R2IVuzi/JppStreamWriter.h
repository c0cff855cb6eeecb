// An independent JPP-stream writer for the tests: its own VBAS encoder, all three header
// forms, odd classes with an auxiliary value, and EOR messages with bodies.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace JppTest {

struct Written {
    int cls; // cache class (identifier halved)
    int64_t codestream;
    int64_t id;
    int offset;
    std::vector<uint8_t> data;
    bool final;
    size_t endsAt; // body offset just past the message
};

struct Eor {
    int reason;
    size_t endsAt;
};

inline void putVbas(std::vector<uint8_t>& out, uint64_t v, int minBytes = 1)
{
    uint8_t tmp[10];
    int n = 0;
    do {
        tmp[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v || n < minBytes);
    for (int i = n - 1; i >= 0; --i)
        out.push_back(uint8_t(tmp[i] | (i ? 0x80 : 0)));
}

class Writer {
public:
    std::vector<uint8_t> body;
    std::vector<Written> messages;
    std::vector<Eor> eors;

    // form 0 picks the shortest the previous message allows.
    void data(int classId, int64_t codestream, int64_t id, int offset, const std::vector<uint8_t>& bytes,
              bool final, int form = 0)
    {
        if (form == 0)
            form = !havePrev ? 3 : prevCodestream != codestream ? 3 : prevClass != classId ? 2 : 1;
        // Bin id: 4 bits in the first byte, 7 in each following one.
        int extra = 0;
        while (extra < 9 && (uint64_t(id) >> (4 + 7 * extra)))
            ++extra;
        body.push_back(uint8_t((extra ? 0x80 : 0) | (form << 5) | (final ? 0x10 : 0) |
                               ((uint64_t(id) >> (7 * extra)) & 0x0F)));
        for (int i = extra - 1; i >= 0; --i)
            body.push_back(uint8_t(((uint64_t(id) >> (7 * i)) & 0x7F) | (i ? 0x80 : 0)));
        if (form >= 2)
            putVbas(body, uint64_t(classId));
        if (form == 3)
            putVbas(body, uint64_t(codestream));
        putVbas(body, uint64_t(offset));
        putVbas(body, bytes.size());
        if (classId & 1)
            putVbas(body, 12345);
        body.insert(body.end(), bytes.begin(), bytes.end());
        havePrev = true;
        prevClass = classId;
        prevCodestream = codestream;
        messages.push_back({classId / 2, codestream, id, offset, bytes, final, body.size()});
    }

    void eor(int reason, size_t bodyBytes = 0)
    {
        body.push_back(0);
        body.push_back(uint8_t(reason));
        putVbas(body, bodyBytes);
        for (size_t i = 0; i < bodyBytes; ++i)
            body.push_back(uint8_t(0xA0 + i));
        eors.push_back({reason, body.size()});
    }

    // A random body: classes 0 to 9, forms as the previous message allows, large ids.
    void random(std::mt19937_64& rng, int count)
    {
        for (int i = 0; i < count; ++i) {
            if (rng() % 6 == 0) {
                eor(int(rng() % 8), size_t(rng() % 4));
                continue;
            }
            int classId = int(rng() % 10);
            int64_t cs = (rng() % 3 == 0) ? int64_t(rng() % 1000) : 0;
            int64_t id = classId / 2 == 3 ? 0 : (rng() % 4 == 0) ? int64_t(rng() >> (1 + rng() % 40)) : int64_t(rng() % 300);
            std::vector<uint8_t> bytes(rng() % 80);
            for (auto& b : bytes)
                b = uint8_t(rng());
            data(classId, cs, id, int(rng() % 5000), bytes, rng() % 3 == 0);
        }
    }

private:
    bool havePrev = false;
    int prevClass = 0;
    int64_t prevCodestream = 0;
};

} // namespace JppTest
