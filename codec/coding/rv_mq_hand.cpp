#include "codec/coding/rv_mq_hand.h"

#include <cstddef>

uint64_t rv_mq_hand_exchange(rv_mq_registers& r, rv_mq_state& state, int32_t D)
{
    uint32_t pm = static_cast<uint32_t>(state.p_mps);
    uint32_t p = pm & ~1u;
    // The true registers are the checked-out ones plus the distance before this
    // decision's subtraction, D + p.
    uint32_t A = r.A + static_cast<uint32_t>(D);
    uint32_t C = r.C + static_cast<uint32_t>(D) + p;
    // D ran out, so one of C and A - 0x800000 (one of which D stood for) is below p: the
    // decision lies in the lower sub-interval, or the upper one leaves A short of full
    // scale. Either way the state moves and A is renormalised.
    // Masks rather than branches: the outcome is close to a coin toss here.
    uint32_t lower = static_cast<uint32_t>(-static_cast<int32_t>(C < p));
    uint32_t lps = (A < p ? 1u : 0u) ^ (lower & 1);
    C -= p & ~lower;
    A = (p & lower) | (A & ~lower);
    const char* entry = reinterpret_cast<const char*>(state.transition);
    state = *reinterpret_cast<const rv_mq_state*>(entry + lps * offsetof(rv_mq_transition, lps));
    uint32_t sym = (pm & 1) ^ lps;

    int shift = __builtin_clz(A) - 8;
    int32_t t = r.t;
    if (__builtin_expect(shift > t, 0)) {
        do {
            A <<= t;
            C <<= t;
            shift -= t;
            t = 0;
            rv_mq_fill_lsbs(C, t, r.temp, r.next, r.S);
        } while (shift > t);
    }
    A <<= shift;
    C <<= shift;
    r.t = t - shift;

    uint32_t room = A - static_cast<uint32_t>(rv_mq_full_scale);
    uint32_t d = C < room ? C : room;
    r.A = A - d;
    r.C = C - d;
    return d | (static_cast<uint64_t>(sym) << 32);
}
