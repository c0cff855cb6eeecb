// The MQ arithmetic decoder and the Tier-1 context tables built at start-up.
//
// Registers are held 8 bits further left than the 16-bit interval of the standard
// description: full scale is 0x800000 and C is the active part of the code register
// aligned with A. Every segment is fenced by two 0xFF bytes written behind it, so reading
// past its end meets a marker and no bounds test is needed on the hot path.
#pragma once

#include <cstdint>

struct rv_mq_transition;

// Probability state of one context: Qe << 8 with the MPS in bit 0, and the state's entry
// in the transition table.
struct rv_mq_state {
    uint32_t p_mps;
    const rv_mq_transition* transition;

    // Sets the state to number state_idx (0..46) with the given MPS.
    void init(int state_idx, int mps);
};

// Successors of one (state, MPS) pair.
struct rv_mq_transition {
    rv_mq_state mps;
    rv_mq_state lps;
};

// Encoder states: Qe unshifted with the MPS in bit 31.
struct rv_mq_enc_transition;
struct rv_mq_enc_state {
    uint32_t p_mps;
    const rv_mq_enc_transition* transition;
};
struct rv_mq_enc_transition {
    rv_mq_enc_state mps;
    rv_mq_enc_state lps;
};

extern rv_mq_transition rv_mq_transition_table[94];
extern rv_mq_enc_transition rv_mq_enc_transition_table[94];
// Qe of the 47 states.
extern const uint32_t rv_mq_qe[47];

// Significance contexts by 9-bit neighbourhood (bit 4, the sample itself, ignored): LL and
// LH, HL, HH; selected by orientation code through rv_sig_tables.
extern uint8_t rv_sig_contexts[3][512];
extern const uint8_t* rv_sig_tables[4];
// Sign contexts: 2 k + x by upper/left/right/lower significance and sign bits.
extern uint8_t rv_sign_contexts[256];

// Builds every table above once; safe to call again. Runs as start-up slot 13.
void rv_init_block_coding_tables();

// The registers a coding pass works on after check-out. D is the distance that may be
// consumed by MPS decisions before a full decision is needed.
// C is unsigned: on corrupt data it may pass the interval and wraps as a hardware
// register would.
struct rv_mq_regs {
    int32_t A;
    uint32_t C;
    int32_t D;
    int32_t t, temp;
    const uint8_t* next;
    int32_t S;
};

// Full decision after the distance ran out; keeps D formed afresh.
int rv_mq_decode_slow(rv_mq_regs& r, rv_mq_state& s);

// One decision on checked-out registers: a subtraction and a sign test while the
// distance lasts.
inline int rv_mq_decode(rv_mq_regs& r, rv_mq_state& s)
{
    r.D -= int32_t(s.p_mps & ~1u);
    if (r.D >= 0)
        return int(s.p_mps & 1);
    return rv_mq_decode_slow(r, s);
}

// One raw (bypass) bit.
inline int rv_raw_bit(rv_mq_regs& r)
{
    if (r.t == 0) {
        if (r.temp == 0xFF) {
            if (*r.next < 0x90) {
                r.temp = *r.next++;
                r.t = 7;
            } else {
                r.temp = 0xFF; // a marker or the fence: not consumed
                r.t = 8;
            }
        } else {
            r.temp = *r.next++;
            r.t = 8;
        }
    }
    r.t--;
    return (r.temp >> r.t) & 1;
}

class rv_mq_decoder {
public:
    // Opens a segment of length bytes; the two bytes behind it are saved and replaced by
    // the 0xFF fence, so the buffer must have two spare bytes there.
    void start(uint8_t* buffer, int length, bool mq_mode);
    // One decision with the state, which moves to its successor.
    int decode(rv_mq_state& state);
    // Two decisions with a fresh uniform state, most significant first: 0..3.
    int decode_run();
    int get_raw_bit();
    void check_out(rv_mq_regs& r);
    void check_in(const rv_mq_regs& r);
    // Restores the fenced bytes; with check_termination, false when the segment is not
    // terminated as predictable termination requires.
    bool finish(bool check_termination = false);

    bool is_active() const { return active; }
    int get_S() const { return S; }

private:
    void fill_lsbs();
    void renorm();
    bool check_mq_termination();
    bool check_raw_termination();

    int32_t A = 0;
    uint32_t C = 0;
    int32_t t = 0;
    int32_t temp = 0;
    uint8_t* buf_start = nullptr;
    const uint8_t* buf_next = nullptr;
    int32_t S = 0;
    bool lent_out = false;
    bool mq_mode = true;
    bool active = false;
    int32_t segment_length = 0;
    uint8_t saved_bytes[2] = {0, 0};
};
