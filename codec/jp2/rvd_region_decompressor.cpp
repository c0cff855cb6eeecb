#include "codec/jp2/rvd_region_decompressor.h"

#include "codec/core/rvd_thread_env.h"

#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_colour_conversion.h"
#include "codec/jp2/rvd_region_kernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numeric>
#include <utility>

namespace {

[[noreturn]] void region_raise(const char* text)
{
    {
        rvd_error e("Error in Ravade Region Decompressor:\n");
        e << text;
    }
    std::abort(); // unreachable: the handler throws or the process ends
}

// Ends the region from inside process without a codec message of its own.
struct region_failure {};

const char* const text_not_finished =
    "Attempting to call `rvd_region_decompressor::start' without first invoking the "
    "`rvd_region_decompressor::finish' to finish a previously installed region.";
const char* const text_no_channels =
    "The `rvd_channel_mapping' object supplied to `rvd_region_decompressor::start' does not "
    "define any channels at all.";
const char* const text_colour_channels =
    "The `rvd_channel_mapping' object supplied to `rvd_region_decompressor::start' specifies "
    "more colour channels than the total number of channels.";
const char* const text_missing_component =
    "The `rvd_channel_mapping' object supplied to `rvd_region_decompressor::start' refers to "
    "an image component which the code-stream does not contain.";
const char* const text_missing_single =
    "The `single_component' argument supplied to `rvd_region_decompressor::start' refers to "
    "an image component which the code-stream does not contain.";
const char* const text_ratio =
    "Invalid expansion ratio supplied to `rvd_region_decompressor::start'.  The numerator and "
    "denominator terms expressed by the `expand_numerator' and `expand_denominator' arguments "
    "must be strictly positive.";
const char* const text_factors =
    "Invalid expansion factors supplied to `rvd_region_decompressor::start'.  The ratio "
    "between `expand_numerator' and `expand_denominator' must be no less than 1.";
const char* const text_rational =
    "Unable to represent all component expansion factors as rational numbers whose numerator "
    "and denominator can both be expressed as 32-bit signed integers.  This is a very unusual "
    "condition.";
const char* const text_component_factors =
    "Invalid expansion factors supplied to `rvd_region_decompressor::start'.  The "
    "`expand_numerator' and `expand_denominator' coefficients must be chosen for the "
    "reference image component, such that all image components involved in the rendering "
    "process are guaranteed to have an expansion factor which is no less than 1.";
const char* const text_region =
    "The `region' passed into `rvd_region_decompressor::start' does not lie fully within the "
    "region occupied by the full image on the rendering canvas.  The error is probably "
    "connected with a misunderstanding of the way in which codestream dimensions are mapped "
    "to rendering coordinates through the rational upsampling process offered by the "
    "`rvd_region_decompressor' object.  It is best to use "
    "`rvd_region_decompressor::get_rendered_image_dims' to find the full image dimensions on "
    "the rendering canvas.";
const char* const text_two_colours =
    "The convenient, packed 32-bit integer version of `rvd_region_decompressor::process' may "
    "not be used if the number of colour channels equals 2.";
const char* const text_too_small =
    "Channel buffers supplied to `kdr_region_decompressor::process' are too small to "
    "accommodate even a single line of the new region to be decompressed.  You should be "
    "careful to ensure that the buffers are at least as large as the width indicated by the "
    "`incomplete_region' argument passed to the `process' function.  Also, be sure to "
    "identify the buffer sizes correctly through the `max_region_pixels' argument supplied "
    "to that function.";

int64_t floor_div(int64_t v, int64_t d) { return rvd_floor_ratio64(v, d); }
int64_t ceil_div(int64_t v, int64_t d) { return rvd_ceil_ratio64(v, d); }

int32_t clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Per-axis canvas position of a component's row or column: in units of 1/num of a
// component sample, measured from component sample 0.
int64_t canvas_to_phase(int64_t canvas, int64_t num, int64_t den, int64_t reg)
{
    return canvas * den + (num - 1) / 2 - floor_div(reg * num, den);
}

class synthesis_line_source : public rv_region_line_source {
public:
    ~synthesis_line_source() noexcept(false) override { engine.destroy(); }
    rvd_line_buf* get_line(int comp_idx) override { return engine.get_line(comp_idx, nullptr); }
    bool is_line_precise(int comp_idx) override { return engine.is_line_precise(comp_idx); }
    bool is_line_absolute(int comp_idx) override { return engine.is_line_absolute(comp_idx); }
    rvd_multi_synthesis engine;
};

} // namespace

// A ratio in lowest useful terms: (n / d, 1) when d divides n; otherwise both are reduced
// by their common factor only as far as needed to fit 32 bits.
bool rv_region_reduce_ratio(int64_t& n, int64_t& d)
{
    if (n <= 0 || d <= 0)
        return false;
    if (n % d == 0) {
        n /= d;
        d = 1;
        return n <= INT32_MAX;
    }
    if (n > INT32_MAX || d > INT32_MAX) {
        const int64_t g = std::gcd(n, d);
        n /= g;
        d /= g;
    }
    return n <= INT32_MAX && d <= INT32_MAX;
}

// The rendering rule on one axis: component start and end to canvas start and end.
void rv_region_render_axis(int64_t start, int64_t end, int64_t num, int64_t den, int32_t& cstart,
                           int32_t& cend)
{
    const int64_t offset = (num - 1) / 2;
    cstart = clamp32(ceil_div(start * num - offset, den));
    cend = clamp32(ceil_div(end * num - offset, den));
}

void rv_tile_bank::close(bool codestream_failed)
{
    (void)codestream_failed;
    // Closing runs while a failure is being handled too: nothing may escape it.
    for (std::unique_ptr<rv_region_line_source>& e : engines) {
        try {
            e.reset();
        } catch (...) {
        }
    }
    engines.clear();
    // Tiles are closed even after a failure, so that the codestream accepts new input
    // restrictions when the next region starts.
    for (rvd_tile& t : tiles) {
        try {
            if (t.exists())
                t.close();
        } catch (...) {
        }
    }
    tiles.clear();
    num_tiles = 0;
    fresh = false;
}

rvd_region_decompressor::rvd_region_decompressor() = default;

rvd_region_decompressor::~rvd_region_decompressor()
{
    try {
        finish();
    } catch (...) {
    }
}

std::unique_ptr<rv_region_line_source> rvd_region_decompressor::create_line_source(
    rvd_codestream cs, rvd_tile tile, bool want_precise, bool want_fastest)
{
    auto src = std::make_unique<synthesis_line_source>();
    src->engine.create(cs, tile, want_precise, false, want_fastest, 1, nullptr, nullptr, false);
    return src;
}

int rvd_region_decompressor::add_component(int codestream_idx)
{
    for (int k = 0; k < num_components; ++k)
        if (components[size_t(k)].codestream_idx == codestream_idx)
            return k;
    rv_region_component c;
    c.rel_comp_idx = num_components;
    c.codestream_idx = codestream_idx;
    components.push_back(std::move(c));
    component_indices.push_back(codestream_idx);
    return num_components++;
}

bool rvd_region_decompressor::start(rvd_codestream cs, rvd_channel_mapping* mapping,
                                    int single_component, int discard, int max_layers,
                                    rvd_dims region, rvd_coords expand_numerator,
                                    rvd_coords expand_denominator, bool want_precise,
                                    rvd_component_access_mode access_mode, bool want_fastest,
                                    rvd_thread_env* thread_env, rvd_thread_queue* queue)
{
    if (!banks[0].is_empty() || !banks[1].is_empty())
        region_raise(text_not_finished);
    try {
        precise = want_precise;
        fastest = want_fastest;
        env = thread_env;
        env_queue = queue;
        codestream = cs;
        discard_levels = discard;
        codestream_failure = false;
        num_components = num_channels = num_colour_channels = 0;
        components.clear();
        component_indices.clear();
        channels.clear();
        colour_converter = nullptr;
        convert_colour = defer_conversion = false;
        full_dims = rvd_dims();
        current_bank = background_bank = nullptr;

        // Every component visible, so that the channels can be checked against them.
        codestream.apply_input_restrictions(0, 0, discard, max_layers, nullptr, access_mode);
        const int available = codestream.get_num_components(true);
        if (mapping == nullptr) {
            if (single_component < 0 || single_component >= available)
                region_raise(text_missing_single);
            num_channels = num_colour_channels = 1;
            channels.resize(1);
            channels[0].comp = add_component(single_component);
        } else {
            if (mapping->num_channels < 1)
                region_raise(text_no_channels);
            num_channels = mapping->num_channels;
            num_colour_channels = mapping->num_colour_channels;
            if (num_colour_channels > num_channels)
                region_raise(text_colour_channels);
            // A mapping whose arrays are shorter than its channel count names no component
            // for the channels beyond them.
            if (size_t(num_channels) > mapping->source_components.size() ||
                size_t(num_channels) > mapping->default_rendering_precision.size() ||
                size_t(num_channels) > mapping->default_rendering_signed.size())
                region_raise(text_missing_component);
            if (mapping->colour_converter.is_non_trivial()) {
                colour_converter = &mapping->colour_converter;
                convert_colour = true;
            }
            channels.resize(size_t(num_channels));
            for (int c = 0; c < num_channels; ++c) {
                const int src = mapping->source_components[size_t(c)];
                if (src < 0 || src >= available)
                    region_raise(text_missing_component);
                rv_region_channel& ch = channels[size_t(c)];
                ch.comp = add_component(src);
                const int bits = mapping->palette_bits;
                // Indices live in 16-bit lines.
                if (bits > 0 && bits <= 15 && size_t(c) < mapping->palette.size() &&
                    mapping->palette[size_t(c)].size() == size_t(1) << bits) {
                    ch.lut = &mapping->palette[size_t(c)];
                    components[size_t(ch.comp)].palette_bits = bits;
                }
                ch.native_precision = mapping->default_rendering_precision[size_t(c)];
                ch.native_signed = mapping->default_rendering_signed[size_t(c)];
            }
        }

        if (expand_denominator.x < 1 || expand_denominator.y < 1)
            region_raise(text_ratio);
        if (expand_numerator.x < expand_denominator.x || expand_numerator.y < expand_denominator.y)
            region_raise(text_factors);

        codestream.apply_input_restrictions(num_components, component_indices.data(), discard,
                                            max_layers, nullptr, access_mode);

        rv_region_component& ref = components[size_t(channels[0].comp)];
        rvd_coords ref_sub, max_sub;
        codestream.get_subsampling(ref.rel_comp_idx, ref_sub, true);
        if (ref_sub.x < 1 || ref_sub.y < 1)
            region_raise(text_ratio);
        max_sub = ref_sub;
        for (int k = 0; k < num_components; ++k) {
            rv_region_component& comp = components[size_t(k)];
            comp.bit_depth = codestream.get_bit_depth(k, true);
            comp.is_signed = codestream.get_signed(k, true);
            rvd_coords sub;
            codestream.get_subsampling(k, sub, true);
            if (sub.x < 1 || sub.y < 1)
                region_raise(text_ratio);
            max_sub.y = std::max(max_sub.y, sub.y);
            max_sub.x = std::max(max_sub.x, sub.x);
            int64_t ny = int64_t(sub.y) * expand_numerator.y;
            int64_t dy = int64_t(ref_sub.y) * expand_denominator.y;
            int64_t nx = int64_t(sub.x) * expand_numerator.x;
            int64_t dx = int64_t(ref_sub.x) * expand_denominator.x;
            if (!rv_region_reduce_ratio(ny, dy) || !rv_region_reduce_ratio(nx, dx))
                region_raise(text_rational);
            if (ny < dy || nx < dx)
                region_raise(text_component_factors);
            comp.expand_num = rvd_coords(int32_t(ny), int32_t(nx));
            comp.expand_den = rvd_coords(int32_t(dy), int32_t(dx));
            // Registration counts relative to the reference component: the reference
            // itself is never shifted, so a lone component renders exactly as decoded.
            rvd_coords crg, ref_crg;
            const rvd_coords fine(65536, 65536);
            codestream.get_registration(k, fine, crg, true);
            codestream.get_registration(ref.rel_comp_idx, fine, ref_crg, true);
            auto relative = [](int32_t own, int32_t ref_off, int32_t ref_s, int32_t s, int32_t den) {
                const double rel = (double(own) - double(ref_off) * ref_s / s) / 65536.0;
                return clamp32(int64_t(std::floor(rel * den + 0.5)));
            };
            comp.reg_offset.y = relative(crg.y, ref_crg.y, ref_sub.y, sub.y, comp.expand_den.y);
            comp.reg_offset.x = relative(crg.x, ref_crg.x, ref_sub.x, sub.x, comp.expand_den.x);
            if (convert_colour && k > 0) {
                const rv_region_component& first = components[0];
                if (comp.expand_num.y != first.expand_num.y ||
                    comp.expand_den.y != first.expand_den.y ||
                    comp.reg_offset.y != first.reg_offset.y)
                    defer_conversion = true;
            }
        }
        for (rv_region_channel& ch : channels) {
            rv_region_component& comp = components[size_t(ch.comp)];
            if (ch.native_precision == 0) {
                ch.native_precision = comp.bit_depth;
                ch.native_signed = comp.is_signed;
            }
            if (ch.lut == nullptr)
                comp.num_direct_channels++;
        }

        codestream.apply_input_restrictions(num_components, component_indices.data(), discard,
                                            max_layers, nullptr, access_mode);
        rvd_dims ref_dims;
        codestream.get_dims(ref.rel_comp_idx, ref_dims, true);
        rv_region_render_axis(ref_dims.pos.y, int64_t(ref_dims.pos.y) + ref_dims.size.y,
                              ref.expand_num.y, ref.expand_den.y, full_dims.pos.y,
                              full_dims.size.y);
        rv_region_render_axis(ref_dims.pos.x, int64_t(ref_dims.pos.x) + ref_dims.size.x,
                              ref.expand_num.x, ref.expand_den.x, full_dims.pos.x,
                              full_dims.size.x);
        full_dims.size.y = clamp32(int64_t(full_dims.size.y) - full_dims.pos.y);
        full_dims.size.x = clamp32(int64_t(full_dims.size.x) - full_dims.pos.x);
        if (region.pos.y < full_dims.pos.y || region.pos.x < full_dims.pos.x ||
            region.size.y < 0 || region.size.x < 0 ||
            int64_t(region.pos.y) + region.size.y > int64_t(full_dims.pos.y) + full_dims.size.y ||
            int64_t(region.pos.x) + region.size.x > int64_t(full_dims.pos.x) + full_dims.size.x)
            region_raise(text_region);

        const int64_t margin_y = (2 * int64_t(max_sub.y)) / ref_sub.y;
        const int64_t margin_x = (2 * int64_t(max_sub.x)) / ref_sub.x;
        const int64_t y0 = floor_div(int64_t(region.pos.y) * ref.expand_den.y, ref.expand_num.y) - margin_y;
        const int64_t x0 = floor_div(int64_t(region.pos.x) * ref.expand_den.x, ref.expand_num.x) - margin_x;
        const int64_t y1 = ceil_div((int64_t(region.pos.y) + region.size.y) * ref.expand_den.y,
                                    ref.expand_num.y) + margin_y;
        const int64_t x1 = ceil_div((int64_t(region.pos.x) + region.size.x) * ref.expand_den.x,
                                    ref.expand_num.x) + margin_x;
        rvd_dims comp_region(rvd_coords(clamp32(y0), clamp32(x0)),
                             rvd_coords(clamp32(y1 - y0), clamp32(x1 - x0)));
        rvd_dims canvas_region;
        codestream.map_region(ref.rel_comp_idx, comp_region, canvas_region, true);
        codestream.apply_input_restrictions(num_components, component_indices.data(), discard,
                                            max_layers, &canvas_region, access_mode);

        codestream.get_valid_tiles(valid_tiles);
        next_tile_idx = valid_tiles.pos;
        return true;
    } catch (int code) {
        // The other threads of the group learn of the failure too.
        if (env != nullptr)
            env->handle_exception(code);
        finish();
        return false;
    }
}

bool rvd_region_decompressor::finish()
{
    close_banks();
    const bool failed = codestream_failure;
    codestream_failure = false;
    current_bank = background_bank = nullptr;
    env = nullptr;
    env_queue = nullptr;
    for (rv_region_component& c : components) {
        c.line = rvd_line_buf();
        c.indices = rvd_line_buf();
    }
    for (rv_region_channel& ch : channels)
        ch.cur_line = ch.prev_line = ch.out_line = rvd_line_buf();
    allocator.restart();
    num_components = num_channels = num_colour_channels = 0;
    components.clear();
    component_indices.clear();
    channels.clear();
    return !failed;
}

void rvd_region_decompressor::close_banks()
{
    for (rv_tile_bank& b : banks)
        b.close(codestream_failure);
    current_bank = nullptr;
}

bool rvd_region_decompressor::open_bank(const rvd_dims& incomplete, int suggested_increment)
{
    rv_tile_bank& bank = banks[0];
    bank.close(false);
    current_bank = &bank;
    const rv_region_component& ref = components[size_t(channels[0].comp)];
    int64_t budget = std::max<int64_t>(1, (3 * int64_t(suggested_increment)) / 2);

    rvd_dims mapped;
    {
        const int64_t y0 = floor_div(int64_t(incomplete.pos.y) * ref.expand_den.y, ref.expand_num.y) - 2;
        const int64_t x0 = floor_div(int64_t(incomplete.pos.x) * ref.expand_den.x, ref.expand_num.x) - 2;
        const int64_t y1 = ceil_div((int64_t(incomplete.pos.y) + incomplete.size.y) * ref.expand_den.y,
                                    ref.expand_num.y) + 2;
        const int64_t x1 = ceil_div((int64_t(incomplete.pos.x) + incomplete.size.x) * ref.expand_den.x,
                                    ref.expand_num.x) + 2;
        mapped = rvd_dims(rvd_coords(clamp32(y0), clamp32(x0)),
                          rvd_coords(clamp32(y1 - y0), clamp32(x1 - x0)));
    }

    const int64_t row_end = int64_t(valid_tiles.pos.x) + valid_tiles.size.x;
    const int64_t rows_end = int64_t(valid_tiles.pos.y) + valid_tiles.size.y;
    std::vector<rvd_coords> members;
    rvd_coords idx = next_tile_idx;
    if (idx.y < rows_end) {
        while (idx.x < row_end && budget > 0) {
            rvd_dims td;
            codestream.get_tile_dims(idx, ref.rel_comp_idx, td, true);
            if (td.intersects(mapped)) {
                if (members.empty())
                    bank.dims = td;
                else
                    bank.dims.size.x = clamp32(int64_t(td.pos.x) + td.size.x - bank.dims.pos.x);
                members.push_back(idx);
                budget -= int64_t(td.size.x) * td.size.y;
            } else {
                rvd_tile t = codestream.open_tile(idx, nullptr);
                t.close();
            }
            idx.x++;
        }
        if (idx.x >= row_end) {
            idx.x = valid_tiles.pos.x;
            idx.y++;
        }
        next_tile_idx = idx;
    }
    if (members.empty())
        return true;

    bank.tile_indices = rvd_dims(members.front(), rvd_coords(1, int32_t(members.size())));
    bank.num_tiles = int(members.size());
    bank.fresh = true;
    for (const rvd_coords& m : members)
        bank.tiles.push_back(codestream.open_tile(m, nullptr));
    if (codestream.get_min_dwt_levels() < discard_levels || !codestream.can_flip(true)) {
        bank.close(false);
        return false;
    }
    for (const rvd_tile& t : bank.tiles)
        bank.engines.push_back(create_line_source(codestream, t, precise, fastest));
    return true;
}

void rvd_region_decompressor::setup_bank()
{
    rv_tile_bank& bank = *current_bank;
    const rv_region_component& ref = components[size_t(channels[0].comp)];
    int32_t e;
    rv_region_render_axis(bank.dims.pos.y, int64_t(bank.dims.pos.y) + bank.dims.size.y,
                          ref.expand_num.y, ref.expand_den.y, bank_dims.pos.y, e);
    bank_dims.size.y = clamp32(int64_t(e) - bank_dims.pos.y);
    rv_region_render_axis(bank.dims.pos.x, int64_t(bank.dims.pos.x) + bank.dims.size.x,
                          ref.expand_num.x, ref.expand_den.x, bank_dims.pos.x, e);
    bank_dims.size.x = clamp32(int64_t(e) - bank_dims.pos.x);
    next_canvas_row = bank_dims.pos.y;

    allocator.restart();
    for (rv_region_component& comp : components) {
        comp.tile_x.assign(size_t(bank.num_tiles), 0);
        comp.tile_w.assign(size_t(bank.num_tiles), 0);
        bool all_precise = true, all_absolute = true;
        for (int i = 0; i < bank.num_tiles; ++i) {
            rvd_coords idx(bank.tile_indices.pos.y, bank.tile_indices.pos.x + i);
            rvd_dims td;
            codestream.get_tile_dims(idx, comp.rel_comp_idx, td, true);
            if (i == 0)
                comp.dims = td;
            else
                comp.dims.size.x = clamp32(int64_t(td.pos.x) + td.size.x - comp.dims.pos.x);
            comp.tile_x[size_t(i)] = td.pos.x - comp.dims.pos.x;
            comp.tile_w[size_t(i)] = td.size.x;
            all_precise = all_precise && bank.engines[size_t(i)]->is_line_precise(comp.rel_comp_idx);
            all_absolute = all_absolute && bank.engines[size_t(i)]->is_line_absolute(comp.rel_comp_idx);
        }
        if (comp.dims.size.x < 1)
            all_precise = precise;
        // Integers of more than 13 bits would lose their low bits in the 16-bit working
        // form, so such a component keeps 32-bit lines for the channels that use it as is.
        comp.precise = comp.num_direct_channels > 0 && !convert_colour &&
                       (all_precise || (all_absolute && comp.bit_depth > rv_region::frac16));
        comp.next_row = comp.dims.pos.y;
        const int w = std::max(comp.dims.size.x, 0);
        if (comp.num_direct_channels > 0)
            comp.line.pre_create(&allocator, w, false, !comp.precise, 0, 0);
        else
            comp.line = rvd_line_buf();
        if (comp.palette_bits > 0)
            comp.indices.pre_create(&allocator, w, true, true, 0, 0);
        else
            comp.indices = rvd_line_buf();
    }
    const int w = std::max(bank_dims.size.x, 0);
    for (rv_region_channel& ch : channels) {
        rv_region_component& comp = components[size_t(ch.comp)];
        ch.precise = ch.lut == nullptr && comp.precise;
        ch.aliased = ch.lut == nullptr && comp.num_direct_channels == 1 && comp.expand_num.x == 1 &&
                     comp.expand_den.x == 1 && comp.reg_offset.x == 0 && comp.expand_den.y == 1 &&
                     comp.dims.pos.x == bank_dims.pos.x && comp.dims.size.x == bank_dims.size.x;
        ch.have_prev = false;
        ch.cur_row = INT_MIN;
        ch.cur_line = ch.prev_line = ch.out_line = rvd_line_buf();
        if (!ch.aliased)
            ch.cur_line.pre_create(&allocator, w, false, !ch.precise, 0, 0);
        if (comp.expand_den.y > 1)
            ch.prev_line.pre_create(&allocator, w, false, !ch.precise, 0, 0);
        if (comp.expand_den.y > 1 || defer_conversion)
            ch.out_line.pre_create(&allocator, w, false, !ch.precise, 0, 0);
    }
    allocator.finalize();
    for (rv_region_component& comp : components) {
        comp.line.create();
        comp.indices.create();
    }
    for (rv_region_channel& ch : channels) {
        ch.cur_line.create();
        ch.prev_line.create();
        ch.out_line.create();
        if (ch.aliased)
            ch.cur_line = components[size_t(ch.comp)].line;
    }
}

void rvd_region_decompressor::pull_component_row(rv_region_component& comp)
{
    rv_tile_bank& bank = *current_bank;
    for (int i = 0; i < bank.num_tiles; ++i) {
        rvd_line_buf* src = bank.engines[size_t(i)]->get_line(comp.rel_comp_idx);
        // Every row pulls each component in turn, so an engine always has a line ready.
        if (src == nullptr)
            throw region_failure();
        const int x = comp.tile_x[size_t(i)];
        const int n = std::min(comp.tile_w[size_t(i)], src->get_width());
        if (n <= 0)
            continue;
        const bool absolute = src->is_absolute();
        const rvd_sample16* s16 = src->get_buf16();
        const rvd_sample32* s32 = src->get_buf32();
        if (s16 == nullptr && s32 == nullptr)
            throw region_failure();
        if (comp.palette_bits > 0) {
            int16_t* d = comp.indices.get_buf16() + x;
            if (s16 != nullptr) {
                if (absolute)
                    rv_region::abs16_to_index(s16, d, n, comp.bit_depth, comp.palette_bits, comp.is_signed);
                else
                    rv_region::fix16_to_index(s16, d, n, comp.palette_bits, comp.is_signed);
            } else if (absolute) {
                rv_region::abs32_to_index(&s32->ival, d, n, comp.bit_depth, comp.palette_bits,
                                          comp.is_signed);
            } else {
                rv_region::float_to_index(&s32->fval, d, n, comp.palette_bits, comp.is_signed);
            }
        }
        if (comp.num_direct_channels == 0)
            continue;
        if (comp.precise) {
            int32_t* d = &comp.line.get_buf32()[x].ival;
            if (s16 != nullptr) {
                if (absolute)
                    rv_region::abs16_to_fix32(s16, d, n, comp.bit_depth);
                else
                    rv_region::fix16_to_fix32(s16, d, n);
            } else if (absolute) {
                rv_region::abs32_to_fix32(&s32->ival, d, n, comp.bit_depth);
            } else {
                rv_region::float_to_fix32(&s32->fval, d, n);
            }
        } else {
            int16_t* d = comp.line.get_buf16() + x;
            if (s16 != nullptr) {
                if (absolute)
                    rv_region::abs16_to_fix16(s16, d, n, comp.bit_depth);
                else
                    std::copy(s16, s16 + n, d);
            } else if (absolute) {
                rv_region::abs32_to_fix16(&s32->ival, d, n, comp.bit_depth);
            } else {
                rv_region::float_to_fix16(&s32->fval, d, n);
            }
        }
    }
    comp.next_row++;
}

void rvd_region_decompressor::make_channel_line(rv_region_channel& ch, bool shift_prev)
{
    const rv_region_component& comp = components[size_t(ch.comp)];
    if (shift_prev) {
        std::swap(ch.prev_line, ch.cur_line);
        ch.have_prev = true;
    }
    if (ch.aliased)
        return;
    const int w = std::max(bank_dims.size.x, 0);
    const int src_len = std::max(comp.dims.size.x, 0);
    const int64_t phase = canvas_to_phase(bank_dims.pos.x, comp.expand_num.x, comp.expand_den.x,
                                          comp.reg_offset.x) -
                          int64_t(comp.dims.pos.x) * comp.expand_num.x;
    if (ch.lut != nullptr)
        rv_region::expand_palette(comp.indices.get_buf16(), src_len, ch.lut->data(),
                                  ch.cur_line.get_buf16(), w, comp.expand_num.x, comp.expand_den.x,
                                  phase);
    else if (ch.precise)
        rv_region::expand32(&comp.line.get_buf32()->ival, src_len, &ch.cur_line.get_buf32()->ival,
                            w, comp.expand_num.x, comp.expand_den.x, phase);
    else
        rv_region::expand16(comp.line.get_buf16(), src_len, ch.cur_line.get_buf16(), w,
                            comp.expand_num.x, comp.expand_den.x, phase);
}

const rvd_line_buf& rvd_region_decompressor::final_line(rv_region_channel& ch, int canvas_row)
{
    const rv_region_component& comp = components[size_t(ch.comp)];
    const int w = std::max(bank_dims.size.x, 0);
    const rvd_line_buf* result = &ch.cur_line;
    if (comp.expand_den.y > 1 && ch.have_prev) {
        const int64_t num = comp.expand_num.y;
        const int64_t p = canvas_to_phase(canvas_row, num, comp.expand_den.y, comp.reg_offset.y);
        const int64_t b = -floor_div(-p, num);
        // Rows clamped at the bank's edges take the end row alone.
        if (b == ch.cur_row && b - 1 >= comp.dims.pos.y) {
            const int64_t q = b * num - p;
            if (ch.precise)
                rv_region::interpolate32(&ch.prev_line.get_buf32()->ival, &ch.cur_line.get_buf32()->ival,
                                         &ch.out_line.get_buf32()->ival, w, q, int(num));
            else
                rv_region::interpolate16(ch.prev_line.get_buf16(), ch.cur_line.get_buf16(),
                                         ch.out_line.get_buf16(), w, q, int(num));
            result = &ch.out_line;
        }
    }
    if (defer_conversion && result != &ch.out_line) {
        std::copy(ch.cur_line.get_buf16(), ch.cur_line.get_buf16() + w, ch.out_line.get_buf16());
        result = &ch.out_line;
    }
    return *result;
}

void rvd_region_decompressor::write_row(const rv_region_channel& ch, const rvd_line_buf& line,
                                        int bank_x, int width, void* dst, int sample_bytes,
                                        int pixel_gap, int precision_bits)
{
    int bits = ch.native_precision;
    bool is_signed = ch.native_signed;
    if (precision_bits > 0) {
        bits = precision_bits;
        is_signed = false;
    }
    if (line.is_shorts()) {
        const int16_t* src = line.get_buf16() + bank_x;
        if (sample_bytes == 1)
            rv_region::transfer16_to8(src, static_cast<uint8_t*>(dst), width, pixel_gap, bits, is_signed);
        else
            rv_region::transfer16_to16(src, static_cast<uint16_t*>(dst), width, pixel_gap, bits, is_signed);
    } else {
        const int32_t* src = &line.get_buf32()[bank_x].ival;
        if (sample_bytes == 1)
            rv_region::transfer32_to8(src, static_cast<uint8_t*>(dst), width, pixel_gap, bits, is_signed);
        else
            rv_region::transfer32_to16(src, static_cast<uint16_t*>(dst), width, pixel_gap, bits, is_signed);
    }
}

bool rvd_region_decompressor::process(uint8_t* buffer, const int* channel_offsets, int pixel_gap,
                                      rvd_coords buffer_origin, int row_gap, int suggested_increment,
                                      int max_region_pixels, rvd_dims& incomplete_region,
                                      rvd_dims& new_region, int precision_bits,
                                      bool row_gap_in_pixels)
{
    channel_bufs.assign(size_t(num_channels), out_buffer());
    for (int c = 0; c < num_channels; ++c) {
        channel_bufs[size_t(c)].base = buffer + channel_offsets[c];
        channel_bufs[size_t(c)].channel = c;
    }
    if (row_gap_in_pixels)
        row_gap *= pixel_gap;
    packed_base = nullptr;
    return process_generic(1, pixel_gap, buffer_origin, row_gap, suggested_increment,
                           max_region_pixels, incomplete_region, new_region, precision_bits, false);
}

bool rvd_region_decompressor::process(uint16_t* buffer, const int* channel_offsets, int pixel_gap,
                                      rvd_coords buffer_origin, int row_gap, int suggested_increment,
                                      int max_region_pixels, rvd_dims& incomplete_region,
                                      rvd_dims& new_region, int precision_bits,
                                      bool row_gap_in_pixels)
{
    channel_bufs.assign(size_t(num_channels), out_buffer());
    for (int c = 0; c < num_channels; ++c) {
        channel_bufs[size_t(c)].base = buffer + channel_offsets[c];
        channel_bufs[size_t(c)].channel = c;
    }
    if (row_gap_in_pixels)
        row_gap *= pixel_gap;
    packed_base = nullptr;
    return process_generic(2, pixel_gap, buffer_origin, row_gap, suggested_increment,
                           max_region_pixels, incomplete_region, new_region, precision_bits, false);
}

bool rvd_region_decompressor::process(uint32_t* buffer, rvd_coords buffer_origin, int row_gap,
                                      int suggested_increment, int max_region_pixels,
                                      rvd_dims& incomplete_region, rvd_dims& new_region)
{
    if (num_colour_channels == 2)
        region_raise(text_two_colours);
    // Byte positions of bits 16-23, 8-15, 0-7 and 24-31 within a pixel of this host.
    const uint32_t probe = 0x03020100u;
    const auto* pb = reinterpret_cast<const uint8_t*>(&probe);
    int pos[4];
    for (int i = 0; i < 4; ++i)
        pos[pb[i]] = i;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(buffer);
    channel_bufs.clear();
    auto add = [&](int channel, int byte) {
        out_buffer b;
        b.base = bytes + byte;
        b.channel = channel;
        channel_bufs.push_back(b);
    };
    if (num_colour_channels == 1) {
        add(0, pos[2]);
        add(0, pos[1]);
        add(0, pos[0]);
    } else if (num_colour_channels >= 3) {
        add(0, pos[2]);
        add(1, pos[1]);
        add(2, pos[0]);
    }
    const bool fill = num_channels <= num_colour_channels;
    if (!fill)
        add(num_colour_channels, pos[3]);
    else
        add(-1, pos[3]);
    packed_base = buffer;
    return process_generic(1, 4, buffer_origin, row_gap * 4, suggested_increment, max_region_pixels,
                           incomplete_region, new_region, 8, fill);
}

bool rvd_region_decompressor::process_generic(int sample_bytes, int pixel_gap, rvd_coords origin,
                                              int row_gap, int suggested_increment,
                                              int max_region_pixels, rvd_dims& incomplete,
                                              rvd_dims& new_region, int precision_bits, bool fill)
{
    // Any failure ends the region: the caller's loop stops at an empty incomplete region,
    // and finish reports the failure.
    auto end_region = [&]() {
        codestream_failure = true;
        close_banks();
        incomplete.pos.y = clamp32(int64_t(incomplete.pos.y) + std::max(incomplete.size.y, 0));
        incomplete.size.y = 0;
    };
    try {
        return process_call(sample_bytes, pixel_gap, origin, row_gap, suggested_increment,
                            max_region_pixels, incomplete, new_region, precision_bits, fill);
    } catch (const std::bad_alloc&) {
        end_region();
        throw;
    } catch (int code) {
        end_region();
        if (env != nullptr)
            env->handle_exception(code);
        return false;
    } catch (...) {
        end_region();
        return false;
    }
}

bool rvd_region_decompressor::process_call(int sample_bytes, int pixel_gap, rvd_coords origin,
                                           int row_gap, int suggested_increment,
                                           int max_region_pixels, rvd_dims& incomplete,
                                           rvd_dims& new_region, int precision_bits, bool fill)
{
    (void)fill; // the packed form lists its alpha fill as a buffer of channel -1
    new_region.size = rvd_coords(0, 0);
    if (codestream_failure || incomplete.is_empty() || num_channels < 1)
        return false;
    const rv_region_component& ref = components[size_t(channels[0].comp)];
    int64_t increment = suggested_increment;
    if (increment <= 0 && row_gap == 0)
        increment = int64_t(max_region_pixels) * ref.expand_den.y * ref.expand_den.x /
                        (int64_t(ref.expand_num.y) * ref.expand_num.x) + 1;
    increment = std::clamp<int64_t>(increment, 0, INT_MAX);

    if (current_bank == nullptr || current_bank->is_empty()) {
        if (!open_bank(incomplete, int(increment)))
            throw region_failure();
        if (current_bank->is_empty()) {
            current_bank = nullptr;
            if (next_tile_idx.y < int64_t(valid_tiles.pos.y) + valid_tiles.size.y)
                return true;
            incomplete.pos.y = clamp32(int64_t(incomplete.pos.y) + incomplete.size.y);
            incomplete.size.y = 0;
            return false;
        }
        setup_bank();
    }
    rv_tile_bank& bank = *current_bank;

    const int64_t bank_right = int64_t(bank_dims.pos.x) + bank_dims.size.x;
    const int64_t inc_right = int64_t(incomplete.pos.x) + incomplete.size.x;
    const bool reaches_right = bank_right >= inc_right;
    if ((reaches_right || (bank.fresh && bank_dims.pos.x <= incomplete.pos.x)) &&
        bank_dims.pos.y > incomplete.pos.y) {
        const int64_t bottom = int64_t(incomplete.pos.y) + incomplete.size.y;
        incomplete.pos.y = bank_dims.pos.y;
        incomplete.size.y = clamp32(std::max<int64_t>(0, bottom - bank_dims.pos.y));
    }
    rvd_dims remaining = bank_dims;
    remaining.pos.y = next_canvas_row;
    remaining.size.y = clamp32(int64_t(bank_dims.pos.y) + bank_dims.size.y - next_canvas_row);
    const rvd_dims isect = remaining & incomplete;
    if (isect.is_empty()) {
        bank.close(false);
        current_bank = nullptr;
        return true;
    }
    bank.fresh = false;
    new_region.pos = isect.pos;
    new_region.size = rvd_coords(0, isect.size.x);

    int64_t rows = (increment / std::max(bank.dims.size.x, 1) + 1) * ref.expand_num.y /
                   ref.expand_den.y;
    rows = std::min<int64_t>(rows, isect.size.y);
    if (row_gap == 0)
        rows = std::min<int64_t>(rows, int64_t(max_region_pixels) / isect.size.x);
    if (rows < 1)
        region_raise(text_too_small);

    // Output addresses of the intersection's first row.
    const int64_t row_step = row_gap != 0 ? row_gap : int64_t(isect.size.x) * pixel_gap;
    std::vector<uint8_t*> out(channel_bufs.size());
    for (size_t b = 0; b < channel_bufs.size(); ++b) {
        int64_t offset = 0;
        if (row_gap != 0)
            offset = (int64_t(isect.pos.y) - origin.y) * row_gap +
                     (int64_t(isect.pos.x) - origin.x) * pixel_gap;
        out[b] = static_cast<uint8_t*>(channel_bufs[b].base) + offset * sample_bytes;
    }

    const int bank_x = isect.pos.x - bank_dims.pos.x;
    std::vector<const rvd_line_buf*> finals(size_t(num_channels), nullptr);
    for (; rows > 0; --rows) {
        const int canvas_row = next_canvas_row;
        // Components pull in turn, one row each per round, so that engines whose outputs
        // share a colour transform always have their lines ready.
        std::vector<bool> got_new(size_t(num_channels), false);
        for (bool progress = true; progress;) {
            progress = false;
            for (int k = 0; k < num_components; ++k) {
                rv_region_component& comp = components[size_t(k)];
                const int64_t num = comp.expand_num.y, den = comp.expand_den.y;
                const int64_t p = canvas_to_phase(canvas_row, num, den, comp.reg_offset.y);
                int64_t need = den == 1 ? floor_div(p, num) : -floor_div(-p, num);
                const int64_t last = int64_t(comp.dims.pos.y) + comp.dims.size.y - 1;
                need = std::min(std::max<int64_t>(need, comp.dims.pos.y), last);
                if (comp.next_row > need)
                    continue;
                const int row = comp.next_row;
                pull_component_row(comp);
                for (int c = 0; c < num_channels; ++c) {
                    rv_region_channel& ch = channels[size_t(c)];
                    if (ch.comp != k)
                        continue;
                    make_channel_line(ch, den > 1 && ch.cur_row != INT_MIN);
                    ch.cur_row = row;
                    got_new[size_t(c)] = true;
                }
                progress = true;
            }
        }
        if (convert_colour && !defer_conversion && got_new[0])
            convert_channels(false);
        const bool write = canvas_row >= isect.pos.y && new_region.size.y < isect.size.y;
        if (write) {
            for (int c = 0; c < num_channels; ++c)
                finals[size_t(c)] = &final_line(channels[size_t(c)], canvas_row);
            if (convert_colour && defer_conversion)
                convert_channels(true);
            if (packed_base != nullptr && packed_pixels(finals, bank_x, isect.size.x, out[0],
                                                        channel_bufs[0])) {
                for (size_t b = 0; b < channel_bufs.size(); ++b)
                    out[b] += row_step * sample_bytes;
            } else {
                for (size_t b = 0; b < channel_bufs.size(); ++b) {
                    const int c = channel_bufs[b].channel;
                    if (c < 0)
                        rv_region::fill_alpha(out[b], isect.size.x, pixel_gap);
                    else
                        write_row(channels[size_t(c)], *finals[size_t(c)], bank_x, isect.size.x,
                                  out[b], sample_bytes, pixel_gap, precision_bits);
                    out[b] += row_step * sample_bytes;
                }
            }
            new_region.size.y++;
            if (reaches_right) {
                incomplete.pos.y++;
                incomplete.size.y--;
            }
        }
        next_canvas_row++;
        if (new_region.size.y >= isect.size.y)
            break;
    }
    if (new_region.size.y >= isect.size.y) {
        bank.close(false);
        current_bank = nullptr;
    }
    return true;
}

bool rvd_region_decompressor::packed_pixels(const std::vector<const rvd_line_buf*>& finals,
                                            int bank_x, int width, uint8_t* first_out,
                                            const out_buffer& first)
{
    if (num_colour_channels != 1 && num_colour_channels < 3)
        return false;
    const int colours = num_colour_channels == 1 ? 1 : 3;
    for (int c = 0; c < colours; ++c)
        if (!finals[size_t(c)]->is_shorts())
            return false;
    const int16_t* alpha = nullptr;
    if (num_channels > num_colour_channels) {
        if (!finals[size_t(num_colour_channels)]->is_shorts())
            return false;
        alpha = finals[size_t(num_colour_channels)]->get_buf16() + bank_x;
    }
    // The first buffer's address is a byte of the pixel to write.
    const std::ptrdiff_t byte = static_cast<uint8_t*>(first.base) - reinterpret_cast<uint8_t*>(packed_base);
    uint32_t* dst = reinterpret_cast<uint32_t*>(first_out - byte);
    const int16_t* r = finals[0]->get_buf16() + bank_x;
    const int16_t* g = colours == 1 ? r : finals[1]->get_buf16() + bank_x;
    const int16_t* b = colours == 1 ? r : finals[2]->get_buf16() + bank_x;
    rv_region::pack16_argb(r, g, b, alpha, dst, width);
    return true;
}

void rvd_region_decompressor::convert_channels(bool finals_only)
{
    const int w = std::max(bank_dims.size.x, 0);
    auto line = [&](int c) -> rvd_line_buf& {
        rv_region_channel& ch = channels[size_t(c)];
        return finals_only ? ch.out_line : ch.cur_line;
    };
    if (num_colour_channels == 1)
        colour_converter->convert_lum(line(0), w);
    else if (num_colour_channels == 3)
        colour_converter->convert_rgb(line(0), line(1), line(2), w);
    else if (num_colour_channels >= 4)
        colour_converter->convert_rgb4(line(0), line(1), line(2), line(3), w);
}

bool rvd_stripe_decompressor::finish()
{
    codestream = rvd_codestream();
    return status;
}
