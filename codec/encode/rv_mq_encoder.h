// The MQ arithmetic encoder of the block coder, and the raw bit packer of bypass
// segments. One record per coding pass: a pass that continues a codeword segment
// starts from a copy of the previous pass's record, which then keeps the coder state at
// the end of its own pass, so that the shortest prefix still decoding that pass can be
// worked out once the bytes behind it are known.
#pragma once

#include "codec/coding/rv_mq_decoder.h"

#include <cstdint>

// The coder registers. A coding pass works on a local copy, so that they stay in
// processor registers while bytes are stored through `next`.
struct rv_mq_encoder_regs {
    uint32_t A;     // interval, 0x8000 the full scale
    uint32_t C;     // code register; bit 27 is the carry into T
    int32_t t;      // bits left before the next byte transfer
    int32_t T;      // the byte held back (MQ), or the bits gathered so far (raw)
    uint8_t* next;  // where the next byte goes; one before the segment until the first MQ transfer

    RV_MQ_INLINE void encode_symbol(int symbol, rv_mq_state& state)
    {
        uint32_t qe = static_cast<uint32_t>(state.p_mps) & 0x7FFF;
        int mps = static_cast<int>(static_cast<uint32_t>(state.p_mps) >> 31);
        A -= qe;
        if (symbol == mps) {
            if (A >= 0x8000) {
                C += qe;
                return;
            }
            if (A < qe)
                A = qe;
            else
                C += qe;
            state = state.transition->mps;
        } else {
            if (A < qe)
                C += qe;
            else
                A = qe;
            state = state.transition->lps;
        }
        do {
            A <<= 1;
            C <<= 1;
            if (--t == 0)
                transfer_byte();
        } while (A < 0x8000);
    }
    RV_MQ_INLINE void transfer_byte()
    {
        if (T == 0xFF) {
            *next++ = 0xFF;
            T = static_cast<int32_t>(C >> 20);
            C &= 0xFFFFF;
            t = 7;
            return;
        }
        T += static_cast<int32_t>((C >> 27) & 1);
        C &= 0x7FFFFFF;
        *next++ = static_cast<uint8_t>(T);
        if (T == 0xFF) {
            T = static_cast<int32_t>(C >> 20);
            C &= 0xFFFFF;
            t = 7;
        } else {
            T = static_cast<int32_t>(C >> 19);
            C &= 0x7FFFF;
            t = 8;
        }
    }
    // One bit of a raw segment; a byte after 0xFF carries 7 bits.
    RV_MQ_INLINE void put_raw(int bit)
    {
        T = (T << 1) | bit;
        if (--t == 0) {
            *next++ = static_cast<uint8_t>(T);
            t = T == 0xFF ? 7 : 8;
            T = 0;
        }
    }
    // Two symbols of `value` (most significant first), each in a fresh uniform context.
    void encode_run(int value)
    {
        rv_mq_state uniform = rv_mq_encoder_states[2 * 46];
        encode_symbol((value >> 1) & 1, uniform);
        uniform = rv_mq_encoder_states[2 * 46];
        encode_symbol(value & 1, uniform);
    }
};

struct rv_mq_encoder {
    rv_mq_encoder_regs r;
    uint8_t* seg_start;   // first byte of the segment
    uint8_t saved;        // the byte before the segment, which the held dummy byte overwrites
    bool mq;
    bool active;          // the record of the pass being coded
    bool finished;        // `end` is final
    rv_mq_encoder* prev;  // earlier pass of the same segment
    rv_mq_encoder* next_pass;
    uint8_t* end;         // end of the pass's bytes once finished

    void reset();
    // Opens a segment at `buffer`.
    void start(uint8_t* buffer, bool mq_mode);
    // Takes over the state of the previous pass's record, which becomes inactive.
    void continue_from(rv_mq_encoder* previous);

    void encode_symbol(int symbol, rv_mq_state& state) { r.encode_symbol(symbol, state); }
    void transfer_byte() { r.transfer_byte(); }
    void encode_run(int value) { r.encode_run(value); }
    void put_raw(int bit) { r.put_raw(bit); }

    // Flushes and closes the segment; returns the end of its bytes. With `optimal` the
    // segment and every unfinished pass in it end at their shortest decodable prefix;
    // without, the flush is kept whole (predictable termination).
    uint8_t* terminate(bool optimal);
    // Bytes of this pass so far (its end less the previous pass's end, or the segment
    // start); `is_final` tells whether that count can still change. Fixes the lengths of
    // earlier passes whose bytes are settled far enough behind the newest pass.
    int segment_length(bool& is_final);
    // Sets `end` to the shortest prefix of the bytes up to `limit` from which a decoder,
    // reading 1 bits beyond the end, still decodes every symbol of this pass; finishes
    // the record.
    void find_min_truncation(const uint8_t* limit);
    // Moves the record's byte addresses after the buffer has moved.
    void relocate(const uint8_t* old_base, uint8_t* new_base);

private:
    uint8_t* provisional_end() const;
    uint8_t* finished_end_before() const;
};
