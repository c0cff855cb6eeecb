// Decisions of the hand-written coding passes. Across a pass only the distance D (see
// rv_mq_registers) is held in a processor register; A, C and the byte-in registers stay in
// the checked-out record, touched only by one shared out-of-line routine that is entered
// when D runs out. That routine settles the LPS or exchange, the successor state and the
// renormalisation with conditional moves rather than branches on the decoded symbol, and
// forms D afresh, so the passes' own loops keep their registers for their own values.
#pragma once

#include "codec/coding/rv_mq_decoder.h"

// The decision whose subtraction left `D` negative, on registers checked out of an MQ
// segment. Returns the new distance in the low 32 bits and the symbol in bit 32.
uint64_t rv_mq_hand_exchange(rv_mq_registers& r, rv_mq_state& state, int32_t D);

// One decision: MPS runs cost one subtraction and a sign test.
RV_MQ_INLINE int rv_mq_hand_decide(rv_mq_registers& r, int32_t& D, rv_mq_state& state)
{
    int32_t pm = state.p_mps;
    D -= pm & ~1;
    if (__builtin_expect(D >= 0, 1))
        return pm & 1;
    uint64_t v = rv_mq_hand_exchange(r, state, D);
    D = static_cast<int32_t>(static_cast<uint32_t>(v));
    return static_cast<int>(v >> 32);
}

// Two decisions with a fresh uniform state, most significant first (0-3).
RV_MQ_INLINE int rv_mq_hand_run(rv_mq_registers& r, int32_t& D)
{
    rv_mq_state uniform = rv_mq_decoder_state(46, 0);
    int hi = rv_mq_hand_decide(r, D, uniform);
    uniform = rv_mq_decoder_state(46, 0);
    int lo = rv_mq_hand_decide(r, D, uniform);
    return (hi << 1) | lo;
}
