// The MQ arithmetic decoder of the block coder. Registers are held 8 bits further left
// than the classic 16-bit interval, so a probability state is one word (Qe << 8 with the
// MPS in bit 0) plus a pointer to its transition entry: a decision needs no table lookup.
#pragma once

#include <cstdint>

struct rv_mq_transition;

// Probability state of one context.
struct rv_mq_state {
    int32_t p_mps;                      // decoder: Qe << 8 | mps; encoder: Qe | mps << 31
    const rv_mq_transition* transition; // this state's entry in its transition table
};

// Successors of one (state, mps) pair.
struct rv_mq_transition {
    rv_mq_state mps;
    rv_mq_state lps;
};

// 94 entries each, index 2 x state + mps; built at start-up, read-only afterwards.
extern rv_mq_transition rv_mq_transition_table[94];
extern rv_mq_transition rv_mq_encoder_transition_table[94];

// Builds both transition tables and state lists; idempotent. Start-up slot 13.
void rv_init_mq_tables();

// Every (state, mps) pair as a decoder state and as an encoder state, same indexing.
extern rv_mq_state rv_mq_decoder_states[94];
extern rv_mq_state rv_mq_encoder_states[94];

// The decoder state of `state` (0-46) with the given MPS value.
inline rv_mq_state rv_mq_decoder_state(int state, int mps) { return rv_mq_decoder_states[2 * state + mps]; }

const int32_t rv_mq_full_scale = 0x800000;

// The decision helpers are forced inline: a coding pass keeps its checked-out registers
// in processor registers only while no call takes their address.
#define RV_MQ_INLINE inline __attribute__((always_inline))

// Registers lent to a coding pass by check-out. `D` is the distance that may be spent on
// MPS decisions before a full decision is needed; `A` and `C` are held less `D`.
struct rv_mq_registers {
    uint32_t A;
    uint32_t C;
    int32_t D;
    int32_t t;
    uint32_t temp;
    const uint8_t* next;
    int32_t S;
    const uint8_t* end; // just past the two fence bytes: no read reaches it
};

// Byte-in: a byte after 0xFF carries 7 bits; a byte of 0x90 or more there is a marker
// (or the fence) and is never consumed.
RV_MQ_INLINE void rv_mq_fill_lsbs(uint32_t& C, int32_t& t, uint32_t& temp, const uint8_t*& next,
                            int32_t& S)
{
    uint32_t b = *next;
    if (temp == 0xFF) {
        if (b < 0x90) {
            next++;
            C += b << 1;
            t = 7;
            temp = b;
        } else {
            S++;
            C += 0xFF;
            t = 8;
        }
    } else {
        next++;
        C += b;
        t = 8;
        temp = b;
    }
}

// The full decision on unlent registers, steps of the classic DECODE with RENORMD.
RV_MQ_INLINE int rv_mq_decide(uint32_t& A, uint32_t& C, int32_t& t, uint32_t& temp,
                        const uint8_t*& next, int32_t& S, rv_mq_state& state)
{
    uint32_t p = static_cast<uint32_t>(state.p_mps) & ~1u;
    int sym = state.p_mps & 1;
    A -= p;
    if (C < p) {
        if (A < p) {
            state = state.transition->mps;
        } else {
            sym = 1 - sym;
            state = state.transition->lps;
        }
        A = p;
    } else {
        C -= p;
        if (A >= static_cast<uint32_t>(rv_mq_full_scale))
            return sym;
        if (A < p) {
            sym = 1 - sym;
            state = state.transition->lps;
        } else {
            state = state.transition->mps;
        }
    }
    // Renormalise in whole steps: the doublings A needs, taking in bytes as t runs out.
    int shift = __builtin_clz(A) - 8;
    while (shift > t) {
        A <<= t;
        C <<= t;
        shift -= t;
        t = 0;
        rv_mq_fill_lsbs(C, t, temp, next, S);
    }
    A <<= shift;
    C <<= shift;
    t -= shift;
    return sym;
}

// Forms the distance afresh after a full decision.
RV_MQ_INLINE void rv_mq_form_distance(rv_mq_registers& r)
{
    uint32_t room = r.A - static_cast<uint32_t>(rv_mq_full_scale);
    uint32_t d = r.C < room ? r.C : room;
    r.D = static_cast<int32_t>(d);
    r.A -= d;
    r.C -= d;
}

// Slow path of a checked-out decision: the distance ran out.
RV_MQ_INLINE int rv_mq_decide_slow(rv_mq_registers& r, rv_mq_state& state)
{
    r.A += static_cast<uint32_t>(r.D);
    r.C += static_cast<uint32_t>(r.D);
    int sym = rv_mq_decide(r.A, r.C, r.t, r.temp, r.next, r.S, state);
    rv_mq_form_distance(r);
    return sym;
}

// One decision on checked-out registers: MPS runs cost one subtraction and a sign test.
RV_MQ_INLINE int rv_mq_decode_checked(rv_mq_registers& r, rv_mq_state& state)
{
    int32_t p = state.p_mps & ~1;
    r.D -= p;
    if (r.D >= 0)
        return state.p_mps & 1;
    r.D += p;
    return rv_mq_decide_slow(r, state);
}

// Two decisions with a fresh uniform state, most significant first (0-3).
int rv_mq_decode_run_checked(rv_mq_registers& r);

// One raw (bypass) bit; after 0xFF a byte below 0x90 gives 7 bits, a higher one is not
// consumed and 0xFF stands in its place.
RV_MQ_INLINE int rv_mq_raw_bit(rv_mq_registers& r)
{
    if (r.t == 0) {
        uint32_t b = *r.next;
        if (r.temp == 0xFF) {
            if (b < 0x90) {
                r.next++;
                r.temp = b;
                r.t = 7;
            } else {
                r.S++;
                r.temp = 0xFF;
                r.t = 8;
            }
        } else {
            r.next++;
            r.temp = b;
            r.t = 8;
        }
    }
    r.t--;
    return static_cast<int>((r.temp >> r.t) & 1);
}

class rv_mq_decoder {
public:
    rv_mq_decoder() = default;
    rv_mq_decoder(const rv_mq_decoder&) = delete;
    rv_mq_decoder& operator=(const rv_mq_decoder&) = delete;
    // Puts the fence bytes back if a segment is still open (an exception left a pass).
    ~rv_mq_decoder();

    // Opens a segment. buffer[length] and buffer[length + 1] must exist: they are saved
    // and replaced by 0xFF 0xFF, so that reading past the segment meets a marker.
    void start(uint8_t* buffer, int length, bool mq_mode);
    void decode(int& symbol, rv_mq_state& state)
    {
        symbol = rv_mq_decide(A, C, t, temp, buf_next, S, state);
    }
    // Two decisions with a fresh uniform state, most significant first (0-3).
    void decode_run(int& value);
    // One raw bit of a bypass segment.
    int get_raw_bit();

    // Inline, so that a pass's local copy of the registers stays in processor registers.
    void check_out(rv_mq_registers& r)
    {
        r.A = A;
        r.C = C;
        r.D = 0;
        r.t = t;
        r.temp = temp;
        r.next = buf_next;
        r.S = S;
        r.end = buf_start + segment_length + 2;
        if (mq_mode)
            rv_mq_form_distance(r);
        lent_out = true;
    }
    void check_in(const rv_mq_registers& r)
    {
        A = r.A + static_cast<uint32_t>(r.D);
        C = r.C + static_cast<uint32_t>(r.D);
        t = r.t;
        temp = r.temp;
        buf_next = r.next;
        S = r.S;
        lent_out = false;
    }

    // Restores the fence bytes and closes the segment; with check_termination, false when
    // the segment was not terminated predictably.
    bool finish(bool check_termination = false);

    bool is_active() const { return active; }
    bool is_mq() const { return mq_mode; }
    int fence_count() const { return S; }

private:
    bool termination_ok();

    uint32_t A = 0;
    uint32_t C = 0;
    int32_t t = 0;
    uint32_t temp = 0;
    uint8_t* buf_start = nullptr;
    const uint8_t* buf_next = nullptr;
    int32_t S = 0;
    bool lent_out = false;
    bool mq_mode = false;
    bool active = false;
    int32_t segment_length = 0;
    uint8_t saved_bytes[2] = {0, 0};
};
