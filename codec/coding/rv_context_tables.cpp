#include "codec/coding/rv_context_tables.h"

#include "platform/ModuleStartup.h"

uint8_t rv_significance_tables[3][512];
const uint8_t* rv_significance_lut[4];
uint8_t rv_sign_lut[256];

namespace {

// Horizontal-first rule of the LL and LH bands; HL uses it with h and v exchanged.
int context_hv(int h, int v, int d)
{
    if (h == 2)
        return 8;
    if (h == 1)
        return v >= 1 ? 7 : (d >= 1 ? 6 : 5);
    if (v == 2)
        return 4;
    if (v == 1)
        return 3;
    return d >= 2 ? 2 : d;
}

int context_diagonal(int hv, int d)
{
    if (d >= 3)
        return 8;
    if (d == 2)
        return hv >= 1 ? 7 : 6;
    if (d == 1)
        return hv >= 2 ? 5 : (hv == 1 ? 4 : 3);
    return hv >= 2 ? 2 : hv;
}

// Contribution of a pair of opposite neighbours: +1 when one is significant and positive
// and none is significant and negative, -1 in the opposite case.
int contribution(int sig_a, int neg_a, int sig_b, int neg_b)
{
    int pos = (sig_a && !neg_a) + (sig_b && !neg_b);
    int neg = (sig_a && neg_a) + (sig_b && neg_b);
    return pos > 0 && neg == 0 ? 1 : (neg > 0 && pos == 0 ? -1 : 0);
}

StartupRegistrar context_tables_step(13, 2, "Tier-1 significance and sign context tables",
                                     [] { rv_init_context_tables(); }, nullptr);

} // namespace

void rv_init_context_tables()
{
    for (int n = 0; n < 512; n++) {
        int h = ((n >> 3) & 1) + ((n >> 5) & 1);
        int v = ((n >> 1) & 1) + ((n >> 7) & 1);
        int d = (n & 1) + ((n >> 2) & 1) + ((n >> 6) & 1) + ((n >> 8) & 1);
        rv_significance_tables[0][n] = static_cast<uint8_t>(context_hv(h, v, d));
        rv_significance_tables[1][n] = static_cast<uint8_t>(context_hv(v, h, d));
        rv_significance_tables[2][n] = static_cast<uint8_t>(context_diagonal(h + v, d));
    }
    rv_significance_lut[0] = rv_significance_tables[0];
    rv_significance_lut[1] = rv_significance_tables[1];
    rv_significance_lut[2] = rv_significance_tables[0];
    rv_significance_lut[3] = rv_significance_tables[2];

    for (int n = 0; n < 256; n++) {
        int v = contribution(n & 1, (n >> 1) & 1, (n >> 6) & 1, (n >> 7) & 1);
        int h = contribution((n >> 2) & 1, (n >> 3) & 1, (n >> 4) & 1, (n >> 5) & 1);
        int x = 0, k;
        if (h == -1) {
            x = 1;
            v = -v;
        }
        if (h != 0) {
            k = v + 3;
        } else if (v == -1) {
            x = 1;
            k = 1;
        } else {
            k = v;
        }
        rv_sign_lut[n] = static_cast<uint8_t>(2 * k + x);
    }
}
