#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rv_mq_hand.h"

#include "platform/ModuleStartup.h"

rv_mq_transition rv_mq_transition_table[94];
rv_mq_transition rv_mq_encoder_transition_table[94];
rv_mq_state rv_mq_decoder_states[94];
rv_mq_state rv_mq_encoder_states[94];

namespace {

struct qe_row {
    uint32_t qe;
    uint8_t nmps;
    uint8_t nlps;
};

// The 47 probability states of the MQ coder.
const qe_row qe_rows[47] = {
    {0x5601, 1, 1},   {0x3401, 2, 6},   {0x1801, 3, 9},   {0x0AC1, 4, 12},  {0x0521, 5, 29},
    {0x0221, 38, 33}, {0x5601, 7, 6},   {0x5401, 8, 14},  {0x4801, 9, 14},  {0x3801, 10, 14},
    {0x3001, 11, 17}, {0x2401, 12, 18}, {0x1C01, 13, 20}, {0x1601, 29, 21}, {0x5601, 15, 14},
    {0x5401, 16, 14}, {0x5101, 17, 15}, {0x4801, 18, 16}, {0x3801, 19, 17}, {0x3401, 20, 18},
    {0x3001, 21, 19}, {0x2801, 22, 19}, {0x2401, 23, 20}, {0x2201, 24, 21}, {0x1C01, 25, 22},
    {0x1801, 26, 23}, {0x1601, 27, 24}, {0x1401, 28, 25}, {0x1201, 29, 26}, {0x1101, 30, 27},
    {0x0AC1, 31, 28}, {0x09C1, 32, 29}, {0x08A1, 33, 30}, {0x0521, 34, 31}, {0x0441, 35, 32},
    {0x02A1, 36, 33}, {0x0221, 37, 34}, {0x0141, 38, 35}, {0x0111, 39, 36}, {0x0085, 40, 37},
    {0x0049, 41, 38}, {0x0025, 42, 39}, {0x0015, 43, 40}, {0x0009, 44, 41}, {0x0005, 45, 42},
    {0x0001, 45, 43}, {0x5601, 46, 46},
};

// The LPS exchange flips the MPS only for the equiprobable states that start each chain;
// state 46 is the fixed uniform state and never adapts.
bool switches_mps(int state) { return qe_rows[state].qe == 0x5601 && state != 46; }

void build(rv_mq_transition* table, rv_mq_state* states, bool encoder)
{
    auto make = [&](int state, int mps) {
        uint32_t qe = qe_rows[state].qe;
        uint32_t word = encoder ? (qe | (static_cast<uint32_t>(mps) << 31)) : ((qe << 8) | static_cast<uint32_t>(mps));
        return rv_mq_state{static_cast<int32_t>(word), &table[2 * state + mps]};
    };
    for (int s = 0; s < 47; s++)
        for (int m = 0; m < 2; m++) {
            table[2 * s + m].mps = make(qe_rows[s].nmps, m);
            table[2 * s + m].lps = make(qe_rows[s].nlps, switches_mps(s) ? 1 - m : m);
            states[2 * s + m] = make(s, m);
        }
}

StartupRegistrar mq_tables_step(13, 3, "MQ decoder and encoder state tables", [] { rv_init_mq_tables(); },
                                nullptr);

} // namespace

void rv_init_mq_tables()
{
    // Rebuilding gives the same values, so a repeated call is harmless.
    build(rv_mq_transition_table, rv_mq_decoder_states, false);
    build(rv_mq_encoder_transition_table, rv_mq_encoder_states, true);
    rv_mq_build_packed_tables();
}

int rv_mq_decode_run_checked(rv_mq_registers& r)
{
    rv_mq_state uniform = rv_mq_decoder_state(46, 0);
    int hi = rv_mq_decode_checked(r, uniform);
    uniform = rv_mq_decoder_state(46, 0);
    int lo = rv_mq_decode_checked(r, uniform);
    return (hi << 1) | lo;
}

rv_mq_decoder::~rv_mq_decoder()
{
    if (active)
        finish(false);
}

void rv_mq_decoder::start(uint8_t* buffer, int length, bool mq)
{
    buf_start = buffer;
    segment_length = length;
    saved_bytes[0] = buffer[length];
    saved_bytes[1] = buffer[length + 1];
    buffer[length] = 0xFF;
    buffer[length + 1] = 0xFF;
    buf_next = buffer;
    active = true;
    lent_out = false;
    mq_mode = mq;
    temp = 0;
    t = 0;
    S = 0;
    if (mq) {
        C = 0;
        rv_mq_fill_lsbs(C, t, temp, buf_next, S);
        C <<= t;
        rv_mq_fill_lsbs(C, t, temp, buf_next, S);
        C <<= 7;
        t -= 7;
        A = rv_mq_full_scale;
    }
}

void rv_mq_decoder::decode_run(int& value)
{
    rv_mq_state uniform = rv_mq_decoder_state(46, 0);
    int hi = rv_mq_decide(A, C, t, temp, buf_next, S, uniform);
    uniform = rv_mq_decoder_state(46, 0);
    int lo = rv_mq_decide(A, C, t, temp, buf_next, S, uniform);
    value = (hi << 1) | lo;
}

int rv_mq_decoder::get_raw_bit()
{
    rv_mq_registers r;
    check_out(r);
    int bit = rv_mq_raw_bit(r);
    check_in(r);
    return bit;
}

bool rv_mq_decoder::termination_ok()
{
    const uint8_t* end = buf_start + segment_length;
    if (mq_mode) {
        if (buf_next <= end)
            return false;
        S++;
        if (t == 0) {
            S++;
            t = 8;
        }
        return (S == 2 || S == 3) && (C >> (24 - t)) == 0;
    }
    uint32_t pattern = 0x55;
    if (buf_next < end && temp == 0xFF && t == 0) {
        temp = *buf_next++;
        t = 8;
        pattern = 0x2A;
    }
    if (buf_next != end)
        return false;
    uint32_t mask = (1u << t) - 1;
    return (temp & mask) == (pattern >> (8 - t));
}

bool rv_mq_decoder::finish(bool check_termination)
{
    bool ok = true;
    if (active && check_termination)
        ok = termination_ok();
    if (active) {
        buf_start[segment_length] = saved_bytes[0];
        buf_start[segment_length + 1] = saved_bytes[1];
    }
    active = false;
    lent_out = false;
    buf_start = nullptr;
    buf_next = nullptr;
    return ok;
}
