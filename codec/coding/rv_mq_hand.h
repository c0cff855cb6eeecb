// Decisions of the hand-written coding passes. A pass checks the registers out into an
// rv_mq_wide held in processor registers: A and C widened to 64 bits and scaled up by 2^32,
// so that C carries up to five coded bytes below its active part. A decision, its LPS or
// exchange and its renormalisation are then a few register operations without a loop;
// only when C runs out of coded bits does one shared out-of-line routine take in bytes,
// several at once where no 0xFF is among them. Check-in gives back exactly the registers
// the portable decoder would hold (bytes taken in early are handed back unread), so the
// two forms can alternate on one segment and the termination test sees the same state.
#pragma once

#include "codec/coding/rv_mq_decoder.h"

#include <cstddef>

// A and C are held less D, as in rv_mq_registers; t counts the shifts C can take before it
// needs more coded bits, the bytes taken in early included (8 shifts each).
struct rv_mq_wide {
    uint64_t A;
    uint64_t C;
    int64_t D;
    int64_t t;
};

// The scale of the wide registers over the narrow ones.
const int rv_mq_wide_shift = 32;
const uint64_t rv_mq_wide_full = static_cast<uint64_t>(rv_mq_full_scale) << rv_mq_wide_shift;

struct rv_mq_wide_fill_result {
    uint64_t C;
    int64_t t;
};

// Takes in coded bytes until C can take `need` more shifts; t may be negative (C shifted
// ahead of its bytes). Out of line: it runs once in
// several decisions, and keeps the byte pointer, `temp` and `S` out of the passes' loops.
rv_mq_wide_fill_result rv_mq_wide_fill(rv_mq_registers& r, uint64_t C, int64_t t, int64_t need);

// WHOLE keeps A and C whole beside D (a pass that checks them out so, rv_mq_wide_whole).
template <bool WHOLE = false>
RV_MQ_INLINE void rv_mq_wide_form_distance(rv_mq_wide& q, uint64_t A, uint64_t C)
{
    uint64_t room = A - rv_mq_wide_full;
    uint64_t d = C < room ? C : room;
    q.A = WHOLE ? A : A - d;
    q.C = WHOLE ? C : C - d;
    q.D = static_cast<int64_t>(d);
}

// A and C shifted back to full scale, t counting the shifts left: coded bytes taken in
// where t ran out, then a fresh distance.
template <bool WHOLE = false>
RV_MQ_INLINE void rv_mq_wide_renormalised(rv_mq_wide& q, rv_mq_registers& r, uint64_t A, uint64_t C, int64_t t)
{
    if (__builtin_expect(t < 0, 0)) {
        rv_mq_wide_fill_result f = rv_mq_wide_fill(r, C, t, 0);
        C = f.C;
        t = f.t;
    }
    q.t = t;
    rv_mq_wide_form_distance<WHOLE>(q, A, C);
}

// The registers held less D made whole, and back: a pass whose decisions mostly
// exchange keeps them whole, so that an exchange need not wait for D (an MPS then takes
// p from all three).
RV_MQ_INLINE void rv_mq_wide_whole(rv_mq_wide& q)
{
    q.A += static_cast<uint64_t>(q.D);
    q.C += static_cast<uint64_t>(q.D);
}

RV_MQ_INLINE void rv_mq_wide_held(rv_mq_wide& q)
{
    q.A -= static_cast<uint64_t>(q.D);
    q.C -= static_cast<uint64_t>(q.D);
}

// Widens registers checked out of an MQ segment.
RV_MQ_INLINE void rv_mq_wide_check_out(rv_mq_decoder& coder, rv_mq_registers& r, rv_mq_wide& q)
{
    coder.check_out(r);
    uint64_t A = static_cast<uint64_t>(r.A + static_cast<uint32_t>(r.D)) << rv_mq_wide_shift;
    uint64_t C = static_cast<uint64_t>(r.C + static_cast<uint32_t>(r.D)) << rv_mq_wide_shift;
    q.t = r.t;
    rv_mq_wide_form_distance(q, A, C);
}

// Narrows the registers and hands them back. Bytes taken in early are whole 8-bit bytes
// (never 0xFF nor after one), and the narrow decoder leaves at most 7 shifts at a
// decision's end, so t splits into the narrow t and a count of unread bytes; C loses
// those bytes' bits, which all sit below the narrow t's position.
void rv_mq_wide_hand_back(rv_mq_decoder& coder, rv_mq_registers& r, uint64_t A, uint64_t C, int64_t t);

// By value: the wide registers' address never escapes, so they stay in processor registers.
RV_MQ_INLINE void rv_mq_wide_check_in(rv_mq_decoder& coder, rv_mq_registers& r, const rv_mq_wide& q)
{
    rv_mq_wide_hand_back(coder, r, q.A + static_cast<uint64_t>(q.D), q.C + static_cast<uint64_t>(q.D), q.t);
}

// A context's state packed in one word for the hand passes: p as the wide D counts it
// (Qe << 40, the MPS bit dropped) above the index of its transition entry (2 x state +
// MPS, below bit 8, so bit 0 is the MPS). p is one mask away and an exchange's successor
// one load, where the two-word state needed two shifts and a 16-byte copy.
using rv_mq_packed = uint64_t;
const rv_mq_packed rv_mq_packed_index = 0xFF;
// Successors, index 2 x (transition index) + 1 for an LPS; the assembly passes read it too.
const int rv_mq_packed_successors = 2 * 94;
extern "C" __attribute__((visibility("hidden"))) rv_mq_packed rv_mq_packed_next[rv_mq_packed_successors];
// The fresh uniform state of run symbols.
extern rv_mq_packed rv_mq_packed_uniform;
// Builds the two above from the state tables; rv_init_mq_tables calls it.
void rv_mq_build_packed_tables();

// Packs states[0..n) for a pass, and back.
void rv_mq_pack_states(const rv_mq_state* states, rv_mq_packed* packed, int n);
void rv_mq_unpack_states(const rv_mq_packed* packed, rv_mq_state* states, int n);

// The decision whose subtraction left D negative: LPS or exchange, the successor state and
// the renormalisation, with selects rather than branches on the outcome (close to a coin
// toss here). Returns the symbol.
template <bool WHOLE = false>
RV_MQ_INLINE int rv_mq_wide_exchange(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed& state, uint64_t p)
{
    uint64_t A = WHOLE ? q.A - p : q.A + static_cast<uint64_t>(q.D);  // A less p
    uint64_t C = WHOLE ? q.C : q.C + static_cast<uint64_t>(q.D) + p; // C
    // D ran out, so the decision lies in the lower sub-interval or leaves A short of full
    // scale: either way the state moves and A is renormalised.
    // Selects, which the compiler is told not to turn into a branch on `lower`.
    bool lower = __builtin_expect_with_probability(C < p, 1, 0.5);
    uint32_t lps = static_cast<uint32_t>(A < p) ^ static_cast<uint32_t>(lower);
    uint64_t upper_C = C - p;
    C = lower ? C : upper_C;
    A = lower ? p : A;
    rv_mq_packed s = state;
    int symbol = static_cast<int>((static_cast<uint32_t>(s) & 1) ^ lps);
    state = rv_mq_packed_next[2 * (s & rv_mq_packed_index) + lps];
    // The doublings that bring A back to full scale (bit 55). Coded bytes are taken in
    // after the shift, where they would have gone before it, so that the shift count
    // need not live across the call.
    int64_t sh = 55 - (63 - __builtin_clzll(A));
    A <<= sh;
    C <<= sh;
    rv_mq_wide_renormalised<WHOLE>(q, r, A, C, q.t - sh);
    return symbol;
}

// One decision: MPS runs cost one subtraction and a sign test.
template <bool WHOLE = false>
RV_MQ_INLINE int rv_mq_hand_decide(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed& state)
{
    rv_mq_packed s = state;
    uint64_t p = s & ~rv_mq_packed_index;
    q.D -= static_cast<int64_t>(p);
    if (__builtin_expect(q.D >= 0, 1)) {
        if (WHOLE) {
            q.A -= p;
            q.C -= p;
        }
        return static_cast<int>(s & 1);
    }
    return rv_mq_wide_exchange<WHOLE>(q, r, state, p);
}

#if defined(__x86_64__)
// One decision that takes the same steps whatever its outcome (LPS, exchange or MPS),
// for processors with LZCNT and BMI2 (rvd_lzcnt_shlx_exists): no branch that mispredicts
// where the MPS branch of rv_mq_hand_decide would. Same symbol and state; as the
// assembly walks' RV_MQ_DECIDE_FLAT with A and C whole (rv_mq_wide_whole).
RV_MQ_INLINE int rv_mq_hand_decide_flat(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed& state)
{
    uint64_t A = q.A, C = q.C, s = state, lps, symbol, sh;
    int64_t D = q.D, t = q.t;
    asm("mov %[s], %[sym]\n\t"
        "and $-256, %[sym]\n\t"             // p
        "sub %[sym], %[A]\n\t"              // A less p
        "xor %k[lps], %k[lps]\n\t"
        "cmp %[sym], %[A]\n\t"
        "setb %b[lps]\n\t"                  // A less p below p
        "mov %[C], %[D]\n\t"
        "sub %[sym], %[D]\n\t"              // carry: C in the lower sub-interval
        "cmovb %[sym], %[A]\n\t"            // lower: A = p
        "cmovae %[D], %[C]\n\t"             // upper: C less p
        "adc $0, %k[lps]\n\t"
        "and $1, %k[lps]\n\t"               // LPS taken
        "movzbl %b[s], %k[sh]\n\t"
        "add %k[sh], %k[sh]\n\t"            // 2 x transition index
        "mov %k[sh], %k[sym]\n\t"
        "shr $1, %k[sym]\n\t"
        "and $1, %k[sym]\n\t"
        "xor %k[lps], %k[sym]\n\t"          // the symbol
        "add %k[lps], %k[sh]\n\t"
        "mov (%[next],%[sh],8), %[D]\n\t"   // the successor
        "lzcnt %[A], %[sh]\n\t"
        "sub $8, %[sh]\n\t"                 // doublings: none keeps the state
        "cmovnz %[D], %[s]\n\t"
        "shlx %[sh], %[A], %[A]\n\t"
        "shlx %[sh], %[C], %[C]\n\t"
        "sub %[sh], %[t]"
        : [A] "+r"(A), [C] "+r"(C), [D] "+r"(D), [t] "+r"(t), [s] "+r"(s), [lps] "=&r"(lps),
          [sym] "=&r"(symbol), [sh] "=&r"(sh)
        : [next] "r"(rv_mq_packed_next),
          "m"(*reinterpret_cast<const rv_mq_packed(*)[rv_mq_packed_successors]>(rv_mq_packed_next))
        : "cc");
    state = s;
    rv_mq_wide_renormalised<true>(q, r, A, C, t);
    return static_cast<int>(symbol);
}
#endif

// Two decisions with a fresh uniform state, most significant first (0-3).
template <bool WHOLE = false>
RV_MQ_INLINE int rv_mq_hand_run(rv_mq_wide& q, rv_mq_registers& r)
{
    rv_mq_packed uniform = rv_mq_packed_uniform;
    int hi = rv_mq_hand_decide<WHOLE>(q, r, uniform);
    uniform = rv_mq_packed_uniform;
    int lo = rv_mq_hand_decide<WHOLE>(q, r, uniform);
    return (hi << 1) | lo;
}
