#include "codec/coding/rv_mq_decoder.h"

#include "platform/ModuleStartup.h"

#include <boost/thread/once.hpp>

// Qe, NMPS, NLPS and the MPS switch of the 47 probability states.
const uint32_t rv_mq_qe[47] = {
    0x5601, 0x3401, 0x1801, 0x0AC1, 0x0521, 0x0221, 0x5601, 0x5401, 0x4801, 0x3801, 0x3001, 0x2401,
    0x1C01, 0x1601, 0x5601, 0x5401, 0x5101, 0x4801, 0x3801, 0x3401, 0x3001, 0x2801, 0x2401, 0x2201,
    0x1C01, 0x1801, 0x1601, 0x1401, 0x1201, 0x1101, 0x0AC1, 0x09C1, 0x08A1, 0x0521, 0x0441, 0x02A1,
    0x0221, 0x0141, 0x0111, 0x0085, 0x0049, 0x0025, 0x0015, 0x0009, 0x0005, 0x0001, 0x5601};

namespace {

const uint8_t nmps[47] = {1,  2,  3,  4,  5,  38, 7,  8,  9,  10, 11, 12, 13, 29, 15, 16,
                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
                          33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 45, 46};
const uint8_t nlps[47] = {1,  6,  9,  12, 29, 33, 6,  14, 14, 14, 17, 18, 20, 21, 14, 14,
                          15, 16, 17, 18, 19, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
                          30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46};

// Context of ISO/IEC 15444-1 Table D.1 for the LL/LH arrangement (h horizontal first).
int sig_context(int h, int v, int d)
{
    if (h == 2)
        return 8;
    if (h == 1)
        return v >= 1 ? 7 : (d >= 1 ? 6 : 5);
    if (v == 2)
        return 4;
    if (v == 1)
        return 3;
    return d >= 2 ? 2 : (d == 1 ? 1 : 0);
}

int hh_context(int hv, int d)
{
    if (d >= 3)
        return 8;
    if (d == 2)
        return hv >= 1 ? 7 : 6;
    if (d == 1)
        return hv >= 2 ? 5 : (hv == 1 ? 4 : 3);
    return hv >= 2 ? 2 : (hv == 1 ? 1 : 0);
}

void build_tables()
{
    for (int s = 0; s < 47; s++)
        for (int m = 0; m < 2; m++) {
            rv_mq_transition& e = rv_mq_transition_table[2 * s + m];
            int lps_mps = (rv_mq_qe[s] == 0x5601 && s != 46) ? 1 - m : m;
            e.mps.init(nmps[s], m);
            e.lps.init(nlps[s], lps_mps);
            rv_mq_enc_transition& f = rv_mq_enc_transition_table[2 * s + m];
            f.mps.p_mps = rv_mq_qe[nmps[s]] | (uint32_t(m) << 31);
            f.mps.transition = rv_mq_enc_transition_table + 2 * nmps[s] + m;
            f.lps.p_mps = rv_mq_qe[nlps[s]] | (uint32_t(lps_mps) << 31);
            f.lps.transition = rv_mq_enc_transition_table + 2 * nlps[s] + lps_mps;
        }
    for (int n = 0; n < 512; n++) {
        int h = ((n >> 3) & 1) + ((n >> 5) & 1);
        int v = ((n >> 1) & 1) + ((n >> 7) & 1);
        int d = (n & 1) + ((n >> 2) & 1) + ((n >> 6) & 1) + ((n >> 8) & 1);
        rv_sig_contexts[0][n] = uint8_t(sig_context(h, v, d));
        rv_sig_contexts[1][n] = uint8_t(sig_context(v, h, d));
        rv_sig_contexts[2][n] = uint8_t(hh_context(h + v, d));
    }
    for (int n = 0; n < 256; n++) {
        // Contribution of a pair of neighbours: +1 positive, -1 negative, 0 otherwise.
        auto pair = [n](int a, int b) {
            int pos = 0, neg = 0;
            for (int bit : {a, b})
                if (n & (1 << bit))
                    (n & (2 << bit)) ? neg++ : pos++;
            return (pos && !neg) ? 1 : ((neg && !pos) ? -1 : 0);
        };
        int h = pair(2, 4), v = pair(0, 6), x = 0, k;
        if (h == -1) {
            x = 1;
            v = -v;
        }
        if (h != 0)
            k = v + 3;
        else if (v == -1) {
            x = 1;
            k = 1;
        } else
            k = v;
        rv_sign_contexts[n] = uint8_t(2 * k + x);
    }
}

boost::once_flag tables_once = BOOST_ONCE_INIT;

StartupRegistrar block_coding_tables_step(13, 0, "block coding tables",
                                          [] { rv_init_block_coding_tables(); }, nullptr);

} // namespace

rv_mq_transition rv_mq_transition_table[94];
rv_mq_enc_transition rv_mq_enc_transition_table[94];
uint8_t rv_sig_contexts[3][512];
const uint8_t* rv_sig_tables[4] = {rv_sig_contexts[0], rv_sig_contexts[1], rv_sig_contexts[0],
                                   rv_sig_contexts[2]};
uint8_t rv_sign_contexts[256];

void rv_init_block_coding_tables()
{
    boost::call_once(tables_once, build_tables);
}

void rv_mq_state::init(int state_idx, int mps)
{
    p_mps = (rv_mq_qe[state_idx] << 8) | uint32_t(mps);
    transition = rv_mq_transition_table + 2 * state_idx + mps;
}

namespace {

inline void fill(rv_mq_regs& r)
{
    int32_t b = *r.next;
    if (r.temp == 0xFF) {
        if (b < 0x90) {
            r.next++;
            r.C += uint32_t(b) << 1;
            r.t = 7;
            r.temp = b;
        } else {
            r.S++;
            r.C += 0xFF;
            r.t = 8;
        }
    } else {
        r.next++;
        r.C += uint32_t(b);
        r.t = 8;
        r.temp = b;
    }
}

// Steps 1-3 of a decision on plain registers (D not in use).
inline int decide(rv_mq_regs& r, rv_mq_state& s)
{
    int32_t p = int32_t(s.p_mps & ~1u);
    int sym = int(s.p_mps & 1);
    r.A -= p;
    if (r.C < uint32_t(p)) {
        if (r.A < p)
            s = s.transition->mps;
        else {
            sym = 1 - sym;
            s = s.transition->lps;
        }
        r.A = p;
    } else {
        r.C -= uint32_t(p);
        if (r.A >= 0x800000)
            return sym;
        if (r.A < p) {
            sym = 1 - sym;
            s = s.transition->lps;
        } else
            s = s.transition->mps;
    }
    // Shift until A is back at full scale, a byte at a time where the bits allow.
    int n = __builtin_clz(uint32_t(r.A)) - 8;
    while (n > 0) {
        if (r.t == 0)
            fill(r);
        int k = n < r.t ? n : r.t;
        r.A <<= k;
        r.C <<= k;
        r.t -= k;
        n -= k;
    }
    return sym;
}

inline void form_distance(rv_mq_regs& r)
{
    uint32_t d = uint32_t(r.A - 0x800000);
    if (r.C < d)
        d = r.C;
    r.D = int32_t(d);
    r.A -= int32_t(d);
    r.C -= d;
}

} // namespace

int rv_mq_decode_slow(rv_mq_regs& r, rv_mq_state& s)
{
    // Undo the tentative subtraction and put the distance back into the registers.
    r.D += int32_t(s.p_mps & ~1u);
    r.A += r.D;
    r.C += uint32_t(r.D);
    int sym = decide(r, s);
    form_distance(r);
    return sym;
}

void rv_mq_decoder::start(uint8_t* buffer, int length, bool mq)
{
    saved_bytes[0] = buffer[length];
    saved_bytes[1] = buffer[length + 1];
    buffer[length] = 0xFF;
    buffer[length + 1] = 0xFF;
    buf_start = buffer;
    buf_next = buffer;
    segment_length = length;
    active = true;
    lent_out = false;
    mq_mode = mq;
    temp = 0;
    t = 0;
    if (mq_mode) {
        S = 0;
        C = 0;
        fill_lsbs();
        C <<= t;
        fill_lsbs();
        C <<= 7;
        t -= 7;
        A = 0x800000;
    }
}

void rv_mq_decoder::fill_lsbs()
{
    rv_mq_regs r{A, C, 0, t, temp, buf_next, S};
    fill(r);
    C = r.C;
    t = r.t;
    temp = r.temp;
    buf_next = r.next;
    S = r.S;
}

int rv_mq_decoder::decode(rv_mq_state& state)
{
    rv_mq_regs r{A, C, 0, t, temp, buf_next, S};
    int sym = decide(r, state);
    A = r.A;
    C = r.C;
    t = r.t;
    temp = r.temp;
    buf_next = r.next;
    S = r.S;
    return sym;
}

int rv_mq_decoder::decode_run()
{
    rv_mq_state uniform;
    uniform.init(46, 0);
    int v = decode(uniform) << 1;
    return v | decode(uniform);
}

int rv_mq_decoder::get_raw_bit()
{
    rv_mq_regs r{A, C, 0, t, temp, buf_next, S};
    int bit = rv_raw_bit(r);
    t = r.t;
    temp = r.temp;
    buf_next = r.next;
    return bit;
}

void rv_mq_decoder::check_out(rv_mq_regs& r)
{
    lent_out = true;
    r.A = A;
    r.C = C;
    r.t = t;
    r.temp = temp;
    r.next = buf_next;
    r.S = S;
    r.D = 0;
    if (mq_mode)
        form_distance(r);
}

void rv_mq_decoder::check_in(const rv_mq_regs& r)
{
    lent_out = false;
    A = r.A + (mq_mode ? r.D : 0);
    C = r.C + uint32_t(mq_mode ? r.D : 0);
    t = r.t;
    temp = r.temp;
    buf_next = r.next;
    S = r.S;
}

bool rv_mq_decoder::check_mq_termination()
{
    if (buf_next <= buf_start + segment_length)
        return false;
    S++;
    if (t == 0) {
        S++;
        t = 8;
    }
    return (S == 2 || S == 3) && (C >> (24 - t)) == 0;
}

bool rv_mq_decoder::check_raw_termination()
{
    const uint8_t* end = buf_start + segment_length;
    int expected = 0x55;
    if (buf_next < end && temp == 0xFF && t == 0) {
        temp = *buf_next++;
        t = 8;
        expected = 0x2A;
    }
    if (buf_next != end)
        return false;
    return (temp & ((1 << t) - 1)) == (expected >> (8 - t));
}

bool rv_mq_decoder::finish(bool check_termination)
{
    bool ok = true;
    if (active && check_termination)
        ok = mq_mode ? check_mq_termination() : check_raw_termination();
    if (active) {
        buf_start[segment_length] = saved_bytes[0];
        buf_start[segment_length + 1] = saved_bytes[1];
    }
    active = false;
    buf_start = nullptr;
    buf_next = nullptr;
    return ok;
}
