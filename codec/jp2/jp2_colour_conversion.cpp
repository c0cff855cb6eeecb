#include "codec/jp2/jp2_colour_conversion.h"

#include "codec/coding/rvd_colour.h"
#include "codec/jp2/jp2_error.h"

#include <algorithm>
#include <cmath>

namespace {

struct xy {
    double x, y;
};

const xy srgb_primaries[3] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
const xy d65 = {0.3127, 0.3290};
const xy d50 = {0.3457, 0.3585};
const xy ebu_primaries[3] = {{0.63, 0.34}, {0.31, 0.595}, {0.155, 0.07}};
const xy ypbpr_primaries[3] = {{0.67, 0.33}, {0.21, 0.71}, {0.15, 0.06}};
const xy romm_primaries[3] = {{0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}};

const double rec_gamma = 2.2222222222222223, rec_offset = 0.099;

inline int16_t sat16(int v)
{
    return int16_t(std::min(32767, std::max(-32768, v)));
}

inline int16_t table_value(double v)
{
    return sat16(int(std::floor(v * 8191.0 + 0.5)));
}

void multiply(const double* a, const double* b, double* out)
{
    double r[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
    std::copy(r, r + 9, out);
}

// Gauss-Jordan elimination with partial pivoting; false when singular.
bool invert(const double* m, double* out)
{
    double a[3][6];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 6; ++j)
            a[i][j] = j < 3 ? m[3 * i + j] : (j - 3 == i ? 1.0 : 0.0);
    for (int c = 0; c < 3; ++c) {
        int p = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c]))
                p = r;
        if (std::fabs(a[p][c]) < 1e-12)
            return false;
        if (p != c)
            for (int j = 0; j < 6; ++j)
                std::swap(a[p][j], a[c][j]);
        const double d = a[c][c];
        for (int j = 0; j < 6; ++j)
            a[c][j] /= d;
        for (int r = 0; r < 3; ++r)
            if (r != c) {
                const double f = a[r][c];
                for (int j = 0; j < 6; ++j)
                    a[r][j] -= f * a[c][j];
            }
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * i + j] = a[i][3 + j];
    return true;
}

// RGB to XYZ for these primaries, scaled so that RGB (1, 1, 1) gives the white with Y = 1.
void rgb_to_xyz(const xy* p, xy white, double* m)
{
    double prim[9];
    for (int c = 0; c < 3; ++c) {
        prim[c] = p[c].x / p[c].y;
        prim[3 + c] = 1.0;
        prim[6 + c] = (1.0 - p[c].x - p[c].y) / p[c].y;
    }
    double inv[9];
    invert(prim, inv);
    const double w[3] = {white.x / white.y, 1.0, (1.0 - white.x - white.y) / white.y};
    for (int c = 0; c < 3; ++c) {
        const double s = inv[3 * c] * w[0] + inv[3 * c + 1] * w[1] + inv[3 * c + 2] * w[2];
        for (int r = 0; r < 3; ++r)
            m[3 * r + c] = prim[3 * r + c] * s;
    }
}

// XYZ relative to D50 to XYZ relative to D65 by Bradford cone responses: the adaptation
// colour-managed profiles assume, so colorants adapted from sRGB's primaries land back on
// sRGB's axes (a cruder matrix tints pure blue visibly red).
void d50_to_d65(double* m)
{
    const double cone[9] = {0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296};
    const double src[3] = {d50.x / d50.y, 1.0, (1.0 - d50.x - d50.y) / d50.y};
    const double dst[3] = {d65.x / d65.y, 1.0, (1.0 - d65.x - d65.y) / d65.y};
    double scale[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int r = 0; r < 3; ++r) {
        const double s = cone[3 * r] * src[0] + cone[3 * r + 1] * src[1] + cone[3 * r + 2] * src[2];
        const double d = cone[3 * r] * dst[0] + cone[3 * r + 1] * dst[1] + cone[3 * r + 2] * dst[2];
        scale[4 * r] = d / s;
    }
    double inv[9];
    invert(cone, inv);
    multiply(scale, cone, m);
    multiply(inv, m, m);
}

double srgb_encode(double lin)
{
    const double l0 = std::pow(0.08937034529451593, 2.4);
    if (lin > l0)
        return 1.055 * std::pow(lin, 1.0 / 2.4) - 0.055;
    return lin * 0.055 / (1.4 * l0);
}

double linearise(double x, double g, double b)
{
    const double x0 = (b / g) / (1.0 - 1.0 / g);
    if (x >= x0)
        return std::pow((x + b) / (1.0 + b), g);
    return x * std::pow((x0 + b) / (1.0 + b), g) / x0;
}

void set_matrix2(j2_colour_conversion& s, const double* m)
{
    for (int i = 0; i < 9; ++i)
        s.matrix2[i] = float(m[i]);
}

void fill_output_table(j2_colour_conversion& s, int size)
{
    s.tone_out.resize(size_t(size));
    for (int i = 0; i < size; ++i)
        s.tone_out[size_t(i)] = table_value(srgb_encode(i / 8191.0) - 0.5);
}

// Tone curves for a source with these primaries and transfer; `matrix2`, when given,
// replaces the primaries' own conversion.
void tone_setup(j2_colour_conversion& s, const xy* prims, double gamma, double b, const double* matrix2 = nullptr)
{
    double ms[9], mg[9], inv[9], m2[9];
    rgb_to_xyz(srgb_primaries, d65, ms);
    rgb_to_xyz(prims, d65, mg);
    invert(ms, inv);
    multiply(inv, mg, m2);
    if (matrix2)
        std::copy(matrix2, matrix2 + 9, m2);
    s.matrix2_identity = true;
    for (int i = 0; i < 9; ++i)
        if (std::fabs(m2[i] - ((i % 4) == 0 ? 1.0 : 0.0)) > 0.01)
            s.matrix2_identity = false;
    set_matrix2(s, m2);
    const int size = 1 << s.precision;
    std::vector<int16_t>& in = s.tone_in[0];
    in.resize(size_t(size));
    for (int i = 0; i < size; ++i) {
        const double lin = linearise(i / 8191.0, gamma, b);
        in[size_t(i)] = s.matrix2_identity ? table_value(srgb_encode(lin) - 0.5) : table_value(lin);
    }
    if (!s.matrix2_identity)
        fill_output_table(s, size);
    s.no_tone_curves = false;
}

// Luminance and colour differences (centred) to centred RGB, from each channel's offset
// and range and the coefficients for Cr to R, Cb to B, Cb to G and Cr to G.
void ycc_matrix(j2_colour_conversion& s, const double (*offset_range)[2], const double* k)
{
    const double ry = offset_range[0][1], rb = offset_range[1][1], rr = offset_range[2][1];
    const float m[9] = {float(1 / ry), 0.0f, float(k[0] / rr), float(1 / ry), float(-k[2] / rb), float(-k[3] / rr),
                        float(1 / ry), float(k[1] / rb), 0.0f};
    std::copy(m, m + 9, s.matrix);
    s.offset[0] = float(0.5 - offset_range[0][0] - 0.5 * ry);
    s.offset[1] = float(-offset_range[1][0]);
    s.offset[2] = float(-offset_range[2][0]);
    s.identity = false;
}

const double bt601[4] = {1.402, 1.772, 0.344136, 0.714136};
const double ypbpr_k[4] = {1.5756, 1.827, 0.225346, 0.476746};
const double ycbcr1_ranges[3][2] = {{0.0625, 0.85546875}, {0.0, 0.875}, {0.0, 0.875}};
const double full_ranges[3][2] = {{0.0, 1.0}, {0.0, 1.0}, {0.0, 1.0}};
const double photo_ranges[3][2] = {{0.0, 0.7133}, {0.1094, 0.7711}, {0.0352, 0.7428}};

bool icc_setup(j2_colour_conversion& s, const jp2_colour& colour)
{
    if (!colour.get_icc_profile())
        return false;
    std::vector<float> curve(8192);
    const int size = 1 << s.precision;
    if (s.num_colours == 1) {
        if (!colour.get_curve(0, 13, curve.data()))
            return false;
        s.lum.resize(size_t(size));
        for (int i = 0; i < size; ++i)
            s.lum[size_t(i)] = table_value(srgb_encode(curve[size_t(std::min(i, 8191))]) - 0.5);
        return true;
    }
    float colorant[9];
    if (!colour.get_colorant_matrix(colorant))
        return false;
    double c[9], ms[9], inv[9], adapt[9], m2[9];
    for (int i = 0; i < 9; ++i)
        c[i] = colorant[i];
    rgb_to_xyz(srgb_primaries, d65, ms);
    invert(ms, inv);
    d50_to_d65(adapt);
    multiply(inv, adapt, m2);
    multiply(m2, c, m2);
    set_matrix2(s, m2);
    for (int ch = 0; ch < 3; ++ch) {
        if (!colour.get_curve(ch, 13, curve.data()))
            return false;
        s.tone_in[ch].resize(size_t(size));
        for (int i = 0; i < size; ++i)
            s.tone_in[ch][size_t(i)] = table_value(curve[size_t(std::min(i, 8191))]);
    }
    fill_output_table(s, size);
    s.matrix2_identity = false;
    s.no_tone_curves = false;
    return true;
}

// CIE Lab: channels to the lightness-scaled f values (1.16 f - 0.16) by the first
// matrix, the inverse of f by the input table, then XYZ relative to the illuminant's
// white into linear sRGB.
bool lab_setup(j2_colour_conversion& s, const jp2_colour& colour)
{
    const uint32_t ill = colour.get_illuminant();
    const uint16_t temp = colour.get_temperature();
    bool d65_white;
    if (ill == 0x443530 || (ill == 0x43540000 && temp == 5000))
        d65_white = false;
    else if (ill == 0x443635 || (ill == 0x43540000 && temp == 6500))
        d65_white = true;
    else
        return false;
    double range[3];
    for (int c = 0; c < 3; ++c) {
        const int p = colour.get_precision(c);
        if (colour.get_range(c) <= 0 || p <= 0 || p > 30)
            return false;
        range[c] = colour.get_range(c);
        s.offset[c] = float(0.5 - double(colour.get_offset(c)) / (std::ldexp(1.0, p) - 1.0));
    }
    s.identity = s.matrix2_identity = s.no_tone_curves = false;
    const double lab[9] = {0, 100 / range[0], 0, 431 / range[1], -431 / range[1], 0, 0, 172.4 / range[2],
                           -172.4 / range[2]};
    double inv[9];
    if (!invert(lab, inv))
        return false;
    for (int c = 0; c < 3; ++c)
        s.offset[c] = float(s.offset[c] - 0.5 * (lab[3 * c] + lab[3 * c + 1] + lab[3 * c + 2]));
    for (int i = 0; i < 9; ++i)
        s.matrix[i] = float(inv[i]);
    const int size = 1 << s.precision;
    s.tone_in[0].resize(size_t(size));
    for (int i = 0; i < size; ++i) {
        const double g = i / 8191.0;
        const double t = g > 0.08 ? std::pow((g + 0.16) / 1.16, 3.0) : g * 3.0 * (6.0 / 29) * (6.0 / 29) / 1.16;
        s.tone_in[0][size_t(i)] = table_value(t);
    }
    fill_output_table(s, size);
    double ms[9], m2[9];
    rgb_to_xyz(srgb_primaries, d65, ms);
    invert(ms, m2);
    const double white[9] = {d65_white ? 0.9504559270516716 : 0.9642956764295677, 0, 0, 0, 1, 0, 0, 0,
                             d65_white ? 1.0890577507598784 : 0.8251046025104602};
    if (!d65_white) {
        double adapt[9];
        d50_to_d65(adapt);
        multiply(m2, adapt, m2);
    }
    multiply(m2, white, m2);
    set_matrix2(s, m2);
    return true;
}

// The common sample count of these lines, each of which must hold 16-bit samples.
int line_width(rvd_line_buf* const* lines, int count, int width)
{
    int n = width < 0 ? 0x7FFFFFFF : width;
    for (int i = 0; i < count; ++i) {
        if (!lines[i]->get_buf16())
            jp2_raise("Colour conversion applied to a line that does not hold 16-bit samples.");
        n = std::min(n, lines[i]->get_width());
    }
    return n;
}

} // namespace

void j2_colour_conversion::init(const jp2_colour& colour, bool keep_ycc)
{
    precision = wide ? 14 : 13;
    num_colours = colour.get_num_colours() > 2 ? 3 : 1;
    const int space = colour.get_space();
    switch (space) {
    case 0:
    case 15:
        precision = 13;
        lum.resize(8192);
        for (int i = 0; i < 8192; ++i)
            lum[size_t(i)] = int16_t(((i < 4096) == (space == 0)) ? 4095 : -4096);
        break;
    case 16:
    case 17:
        break;
    case 1:
    case 4:
        ycc_matrix(*this, ycbcr1_ranges, bt601);
        if (keep_ycc)
            source_not_rgb = apply_ycc = true;
        else
            tone_setup(*this, space == 1 ? srgb_primaries : ebu_primaries, rec_gamma, rec_offset);
        break;
    case 3:
        ycc_matrix(*this, full_ranges, bt601);
        apply_ycc = true;
        if (keep_ycc)
            source_not_rgb = true;
        else
            tone_setup(*this, ebu_primaries, rec_gamma, rec_offset);
        break;
    case 9:
        ycc_matrix(*this, photo_ranges, bt601);
        tone_setup(*this, srgb_primaries, rec_gamma, rec_offset);
        break;
    case 11:
    case 12:
        matrix[0] = matrix[4] = matrix[8] = -1.0f;
        identity = false;
        source_not_rgb = true;
        subtract_k = space == 12;
        break;
    case 13:
        ycc_matrix(*this, full_ranges, bt601);
        apply_ycc = source_not_rgb = true;
        break;
    case 18:
        ycc_matrix(*this, full_ranges, bt601);
        apply_ycc = true;
        break;
    case 20:
        offset[0] = offset[1] = offset[2] = -0.125f;
        matrix[0] = matrix[4] = matrix[8] = 2.0f;
        identity = false;
        break;
    case 21: {
        double ms[9], mr[9], inv[9], adapt[9], m2[9];
        rgb_to_xyz(srgb_primaries, d65, ms);
        rgb_to_xyz(romm_primaries, d50, mr);
        invert(ms, inv);
        d50_to_d65(adapt);
        multiply(inv, adapt, m2);
        multiply(m2, mr, m2);
        tone_setup(*this, romm_primaries, 1.8, 0.0, m2);
        break;
    }
    case 22:
    case 23:
        ycc_matrix(*this, ycbcr1_ranges, ypbpr_k);
        if (keep_ycc)
            source_not_rgb = true;
        else
            tone_setup(*this, ypbpr_primaries, rec_gamma, rec_offset);
        break;
    case 24:
        ycc_matrix(*this, full_ranges, bt601);
        for (int r = 0; r < 3; ++r)
            matrix[3 * r + 1] *= 2.0f, matrix[3 * r + 2] *= 2.0f;
        break;
    case 100:
    case 101:
    case 102:
        if (!icc_setup(*this, colour))
            num_colours = 0;
        break;
    case 14:
        if (num_colours != 3 || !lab_setup(*this, colour))
            num_colours = 0;
        break;
    default: // CIE Jab, vendor and unknown spaces
        num_colours = 0;
        break;
    }
    if (num_colours == 3)
        for (int i = 0; i < 9; ++i) {
            if (i < 3)
                ioffset[i] = int(std::floor(double(offset[i]) * 8192.0 + 0.5));
            imatrix[i] = int(std::floor(double(matrix[i]) * 4096.0 + 0.5));
            imatrix2[i] = int(std::floor(double(matrix2[i]) * 4096.0 + 0.5));
        }
}

bool jp2_colour_conversion::init(const jp2_colour& colour, bool wide, bool keep_ycc)
{
    state.reset();
    if (!colour.exists())
        return false;
    std::unique_ptr<j2_colour_conversion> s(new j2_colour_conversion);
    s->wide = wide;
    s->init(colour, keep_ycc);
    if (s->num_colours == 0)
        return false;
    state = std::move(s);
    return true;
}

bool jp2_colour_conversion::is_non_trivial() const
{
    return state && (!state->identity || !state->no_tone_curves || !state->lum.empty());
}

bool jp2_colour_conversion::convert_lum(rvd_line_buf& line, int width)
{
    if (!state || state->num_colours != 1)
        return false;
    if (state->lum.empty())
        return true;
    rvd_line_buf* lines[1] = {&line};
    const int n = line_width(lines, 1, width);
    int16_t* sp = line.get_buf16();
    const int16_t* table = state->lum.data();
    const int last = int(state->lum.size()) - 1;
    for (int i = 0; i < n; ++i) {
        const int idx = sp[i] + 4096;
        sp[i] = idx >= 0 ? table[std::min(idx, last)] : sat16(-8192 - table[std::min(-idx, last)]);
    }
    return true;
}

bool jp2_colour_conversion::convert_rgb(rvd_line_buf& red, rvd_line_buf& green, rvd_line_buf& blue, int width)
{
    if (!state || state->num_colours != 3)
        return false;
    const j2_colour_conversion& s = *state;
    rvd_line_buf* lines[3] = {&red, &green, &blue};
    const int n = line_width(lines, 3, width);
    if (n <= 0)
        return true;
    int16_t* p[3] = {red.get_buf16(), green.get_buf16(), blue.get_buf16()};
    if (s.apply_ycc)
        rvd_convert_ycc_to_rgb(red, green, blue, n);
    else if (!s.identity) {
        const int* m = s.imatrix;
        const int o0 = s.ioffset[0], o1 = s.ioffset[1], o2 = s.ioffset[2];
        for (int i = 0; i < n; ++i) {
            const int a = p[0][i] + o0, b = p[1][i] + o1, c = p[2][i] + o2;
            p[0][i] = sat16((m[0] * a + m[1] * b + m[2] * c + 2048) >> 12);
            p[1][i] = sat16((m[3] * a + m[4] * b + m[5] * c + 2048) >> 12);
            p[2][i] = sat16((m[6] * a + m[7] * b + m[8] * c + 2048) >> 12);
        }
    }
    if (s.no_tone_curves)
        return true;
    // Linear tables are odd functions; tables that hold the final centred encoding
    // mirror about -0.5 instead, like the output table.
    const bool linear = !s.matrix2_identity;
    for (int c = 0; c < 3; ++c) {
        const std::vector<int16_t>& t = s.tone_in[c].empty() ? s.tone_in[0] : s.tone_in[c];
        const int16_t* table = t.data();
        const int last = int(t.size()) - 1;
        int16_t* sp = p[c];
        for (int i = 0; i < n; ++i) {
            const int idx = sp[i] + 4096;
            if (idx >= 0)
                sp[i] = table[std::min(idx, last)];
            else if (linear)
                sp[i] = sat16(-table[std::min(-idx, last)]);
            else
                sp[i] = sat16(-8192 - table[std::min(-idx, last)]);
        }
    }
    if (!linear)
        return true;
    const int* m = s.imatrix2;
    const int16_t* out = s.tone_out.data();
    const int last = int(s.tone_out.size()) - 1;
    auto encode = [&](int r) {
        return r >= 0 ? out[std::min(r, last)] : sat16(-8192 - out[std::min(-r, last)]);
    };
    for (int i = 0; i < n; ++i) {
        const int a = p[0][i], b = p[1][i], c = p[2][i];
        p[0][i] = encode((m[0] * a + m[1] * b + m[2] * c + 2048) >> 12);
        p[1][i] = encode((m[3] * a + m[4] * b + m[5] * c + 2048) >> 12);
        p[2][i] = encode((m[6] * a + m[7] * b + m[8] * c + 2048) >> 12);
    }
    return true;
}

bool jp2_colour_conversion::convert_rgb4(rvd_line_buf& red, rvd_line_buf& green, rvd_line_buf& blue,
                                         rvd_line_buf& fourth, int width)
{
    if (!convert_rgb(red, green, blue, width))
        return false;
    if (!state->subtract_k)
        return true;
    rvd_line_buf* lines[4] = {&red, &green, &blue, &fourth};
    const int n = line_width(lines, 4, width);
    const int16_t* kp = fourth.get_buf16();
    for (int c = 0; c < 3; ++c) {
        int16_t* sp = lines[c]->get_buf16();
        for (int i = 0; i < n; ++i) {
            const int k = kp[i];
            sp[i] = sat16((sp[i] * (4095 - k) + (-k - 4096) * 4096) >> 13);
        }
    }
    return true;
}
