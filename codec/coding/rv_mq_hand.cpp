#include "codec/coding/rv_mq_hand.h"

#include <cstring>

namespace {

// Flags (in bit 7 of the byte) every 0xFF byte of x; may also flag a byte just above a
// flagged one, which only sends a fill down the careful path.
inline uint64_t ff_bytes(uint64_t x)
{
    uint64_t v = ~x;
    return (v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull;
}

} // namespace

rv_mq_wide_fill_result rv_mq_wide_fill(rv_mq_registers& r, uint64_t C, int64_t t, int64_t need)
{
    const uint8_t* next = r.next;
    // The next byte's bits go just below the bits C still holds: at 32 - t, that is, where
    // the narrow decoder adds it (bit 0 of its C) once its t has run out.
    if (r.temp != 0xFF && next + 8 <= r.end) {
        uint64_t x;
        std::memcpy(&x, next, 8);
        x = __builtin_bswap64(x);
        // As many whole bytes as fit above bit 0 (3 to 6, since -15 <= t < need <= 15).
        int64_t n = (40 - t) >> 3;
        int64_t drop = 64 - 8 * n;
        if ((ff_bytes(x) >> drop) == 0) {
            uint64_t bytes = x >> drop;
            r.next = next + n;
            r.temp = static_cast<uint32_t>(bytes & 0xFF);
            return {C + (bytes << (40 - t - 8 * n)), t + 8 * n};
        }
    }
    // Near a 0xFF, a marker or the segment's end: the narrow decoder's byte-in, one byte
    // at a time and only as many as this renormalisation needs.
    uint32_t temp = r.temp;
    do {
        uint32_t b = *next;
        if (temp == 0xFF) {
            if (b < 0x90) {
                next++;
                C += static_cast<uint64_t>(b) << (rv_mq_wide_shift + 1 - t);
                t += 7;
                temp = b;
            } else {
                r.S++;
                C += static_cast<uint64_t>(0xFF) << (rv_mq_wide_shift - t);
                t += 8;
            }
        } else {
            next++;
            C += static_cast<uint64_t>(b) << (rv_mq_wide_shift - t);
            t += 8;
            temp = b;
        }
    } while (t < need);
    r.next = next;
    r.temp = temp;
    return {C, t};
}

void rv_mq_wide_hand_back(rv_mq_decoder& coder, rv_mq_registers& r, uint64_t A, uint64_t C, int64_t wide_t)
{
    int64_t unread = wide_t >> 3;
    int32_t t = static_cast<int32_t>(wide_t & 7);
    if (unread > 0) {
        r.next -= unread;
        r.temp = r.next[-1];
    }
    // The narrow C has its low 8 - t bits clear: the unread bytes' bits start there.
    uint64_t kept = ~((uint64_t{1} << (rv_mq_wide_shift + 8 - t)) - 1);
    r.A = static_cast<uint32_t>(A >> rv_mq_wide_shift);
    r.C = static_cast<uint32_t>((C & kept) >> rv_mq_wide_shift);
    r.D = 0;
    r.t = t;
    coder.check_in(r);
}

rv_mq_packed rv_mq_packed_next[rv_mq_packed_successors];
rv_mq_packed rv_mq_packed_uniform;

namespace {

rv_mq_packed pack(const rv_mq_state& s)
{
    uint64_t index = static_cast<uint64_t>(s.transition - rv_mq_transition_table);
    uint64_t p = static_cast<uint64_t>(static_cast<uint32_t>(s.p_mps) >> 1) << (rv_mq_wide_shift + 1);
    return p | index;
}

} // namespace

void rv_mq_build_packed_tables()
{
    for (int i = 0; i < rv_mq_packed_successors / 2; i++) {
        rv_mq_packed_next[2 * i] = pack(rv_mq_transition_table[i].mps);
        rv_mq_packed_next[2 * i + 1] = pack(rv_mq_transition_table[i].lps);
    }
    rv_mq_packed_uniform = pack(rv_mq_decoder_state(46, 0));
}

void rv_mq_pack_states(const rv_mq_state* states, rv_mq_packed* packed, int n)
{
    for (int i = 0; i < n; i++)
        packed[i] = pack(states[i]);
}

void rv_mq_unpack_states(const rv_mq_packed* packed, rv_mq_state* states, int n)
{
    for (int i = 0; i < n; i++)
        states[i] = rv_mq_decoder_states[packed[i] & rv_mq_packed_index];
}
