#include "codec/coding/rv_multi_synthesis.h"
#include "codec/core/rvd_thread_env.h"

#include "codec/coding/rv_multi_source.h"
#include "codec/coding/rv_strip_synthesis.h"
#include "codec/coding/rvd_colour.h"
#include "codec/core/rvd_message.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

// The fewest samples a pool job of the colour transform takes.
constexpr std::int64_t colour_part_samples = 4096;

[[noreturn]] void handler_returned()
{
    throw std::logic_error("codec error handler returned");
}

[[noreturn]] void dimension_error()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Cannot implement multi-component transform.  It seems that image components "
             "which must be processed by a common transform block (or decorrelating colour "
             "transform) have incompatible dimensions.  This can also happen when the "
             "sub-sampling of an output component differs from tile to tile, or when the "
             "relative sizes of components change from one resolution level to the next "
             "through downsampling factor styles; neither is strictly illegal, but both are "
             "unwise.";
    }
    handler_returned();
}

[[noreturn]] void bit_depth_error()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Part-2 codestream declares a codestream component to have a different bit-depth "
             "(Sprecision) to the output component (Mprecision) with which it is directly "
             "associated.  This is allowed, but makes very little sense, and the multiple "
             "scaling it would need is not performed for irreversibly transformed components.";
    }
    handler_returned();
}

[[noreturn]] void reversibility_error()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Cannot implement multi-component transform.  It seems that one or more transform "
             "steps require image samples to be treated as reversible, where other steps "
             "require the same image samples to be treated as irreversible.  This is illegal "
             "for codestreams without extended multi-component transforms; with them, only "
             "irreversibly compressed samples are refused reversible multi-component "
             "processing during decompression, while reversibly compressed data may be "
             "processed by an irreversible transform.";
    }
    handler_returned();
}

// Shares one flag between two lines; true when either changed.
bool share_flag(bool& a, bool& b)
{
    if (a == b)
        return false;
    a = b = true;
    return true;
}

bool size_known(const rvd_coords& s)
{
    return s.y != 0 || s.x != 0;
}

} // namespace

rv_multi_synthesis::~rv_multi_synthesis()
{
    // No job may still run on engines about to be freed.
    if (queues_live)
        try {
            terminate_queues(creator_env);
        } catch (...) {
        }
}

// Steps shared by both directions: the codestream components, stages and blocks, constant
// lines, output slots, precisions, normalisation, level adjustment and simplification.
void rv_multi_transform::build_network(rv_multi_source& source, bool force_precise,
                                       bool skip_ycc, bool want_fastest)
{

    // 1. Colour transform.
    use_ycc = !skip_ycc && source.get_ycc();

    // 2. The codestream components.
    int n_stage_in = 0, n_stage_out = 0, n_block_in = 0, n_block_out = 0;
    if (!source.get_mct_block_info(0, 0, n_stage_in, n_stage_out, n_block_in, n_block_out)) {
        rvd_error e("Ravade Core Error:\n");
        e << "A tile without any multi-component transform stage cannot be decompressed.";
    }
    const int n = std::max(0, n_stage_in);
    num_codestream_components = n;
    codestream_collection = new rv_multi_collection(n);
    output_collection = codestream_collection;
    components.reset(new rv_multi_component[std::size_t(n)]);
    {
        int* stage_inputs = get_scratch_ints(n);
        for (int i = 0; i < n; ++i)
            stage_inputs[i] = i;
        source.get_mct_block_info(0, 0, n_stage_in, n_stage_out, n_block_in, n_block_out, nullptr,
                                  nullptr, nullptr, nullptr, stage_inputs);
        for (int i = 0; i < n; ++i)
            components[i].comp_idx = stage_inputs[i];
    }
    if (use_ycc && n < 3)
        use_ycc = false;

    // 3, 4. Codestream lines and their buffering.
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        rv_multi_line& line = comp.line;
        codestream_collection->components[std::size_t(i)] = &line;
        line.collection_idx = i;
        line.reversible = source.get_reversible(comp.comp_idx);
        line.need_irreversible = !line.reversible;
        if (force_precise)
            line.need_precise = true;
        else if (source.get_bit_depth(comp.comp_idx, true) < 17)
            line.need_precise = false;
        else
            line.need_precise = line.reversible ? true : !want_fastest;
        line.bit_depth = source.get_bit_depth(comp.comp_idx, false);
        line.size = source.get_comp_size(comp.comp_idx);
    }

    // 5. Stages and blocks.
    for (int s = 0;; ++s) {
        if (!source.get_mct_block_info(s, 0, n_stage_in, n_stage_out, n_block_in, n_block_out))
            break;
        rv_multi_collection* in_coll = output_collection;
        rv_multi_collection* out_coll = new rv_multi_collection(std::max(0, n_stage_out));
        append_collection(out_coll);
        for (int b = 0;; ++b) {
            if (!source.get_mct_block_info(s, b, n_stage_in, n_stage_out, n_block_in, n_block_out))
                break;
            rv_multi_block* block;
            bool dwt_rev = false, sym = false, sym_ext = false;
            int levels = 0, cmin = 0, clim = 0, steps = 0;
            const float* coeffs = nullptr;
            bool dep_rev = false;
            if (source.get_mct_matrix_info(s, b))
                block = new rv_multi_matrix_block;
            else if (source.get_mct_rxform_info(s, b))
                block = new rv_multi_rxform_block;
            else if (source.get_mct_dependency_info(s, b, dep_rev))
                block = new rv_multi_dependency_block;
            else if (source.get_mct_dwt_info(s, b, dwt_rev, levels, cmin, clim, steps, sym, sym_ext,
                                             coeffs) != nullptr)
                block = new rv_multi_dwt_block;
            else
                block = new rv_multi_null_block;
            append_block(block);
            block->initialize(s, b, source, n_block_in, n_block_out, in_coll, out_coll, this);
        }
    }

    // 6. Constant lines for outputs nothing produces.
    rv_multi_collection* last = output_collection;
    num_constant_lines = 0;
    for (rv_multi_line* l : last->components)
        if (l == nullptr)
            ++num_constant_lines;
    constant_lines.reset(new rv_multi_line[std::size_t(num_constant_lines)]);
    {
        int k = 0;
        for (rv_multi_line*& l : last->components)
            if (l == nullptr) {
                l = &constant_lines[k++];
                l->need_precise = force_precise;
                l->need_irreversible = true;
                l->is_constant = true;
            }
    }

    // 7. Output slots.
    for (int c = 0; c < last->num_components; ++c) {
        rv_multi_line* l = last->components[std::size_t(c)];
        l->num_consumers++;
        l->size = source.get_output_size(c);
        l->bit_depth = source.get_output_bit_depth(c);
    }

    // 8 - 10. Precision, normalisation, precision again.
    while (propagate(force_precise)) {
    }
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next) {
        for (int j = 0; j < b->num_outputs; ++j) {
            rv_multi_line& l = b->outputs[j];
            if (l.bit_depth != 0 && l.irrev_offset != 0.0f)
                l.irrev_offset = std::ldexp(l.irrev_offset, -l.bit_depth);
        }
        b->normalize();
    }
    while (propagate(false)) {
    }

    // 11. Level adjustment of unsigned outputs.
    for (int c = 0; c < last->num_components; ++c) {
        if (source.get_output_signed(c))
            continue;
        rv_multi_line* l = last->components[std::size_t(c)];
        l->irrev_offset -= 0.5f;
        if (l->bit_depth > 0 && l->bit_depth <= 31)
            l->rev_offset -= int(int64_t(1) << (l->bit_depth - 1));
    }

    // 12. Equal constant lines share one buffer.
    for (int c = 0; c < last->num_components; ++c) {
        rv_multi_line* l = last->components[std::size_t(c)];
        if (!l->is_constant)
            continue;
        for (int p = 0; p < c; ++p) {
            rv_multi_line* o = last->components[std::size_t(p)];
            if (o != l && o->is_constant && o->size.x == l->size.x &&
                o->irrev_offset == l->irrev_offset && o->reversible == l->reversible &&
                o->rev_offset == l->rev_offset && o->need_precise == l->need_precise) {
                o->num_consumers += l->num_consumers;
                l->num_consumers = 0;
                last->components[std::size_t(c)] = o;
                break;
            }
        }
    }

    // 13, 14. Null blocks step aside wherever offsets and depths allow.
    simplify();

}

std::int64_t rv_multi_synthesis::create(rv_multi_source& source, bool force_precise,
                                        bool skip_ycc, bool want_fastest, int stripe_height,
                                        rvd_thread_env* env, rvd_thread_queue* queue,
                                        bool double_buffering)
{
    creator_env = env;
    env_queue = env != nullptr ? queue : nullptr;
    stripe_height = std::max(1, stripe_height);
    build_network(source, force_precise, skip_ycc, want_fastest);
    const int n = num_codestream_components;
    if (env != nullptr) {
        queues_live = true;
        for (int i = 0; i < n; ++i)
            components[i].queue = env->add_queue(&components[i], queue, "component processor", 0);
    }
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        const rv_multi_line& line = comp.line;
        // A component wide enough for column strips is synthesised on the pool already;
        // a stripe job pulling it could wait there on a strip job suspended beneath it.
        comp.double_buffering = env != nullptr && double_buffering && n >= 2 &&
                                env->get_num_threads() >= 2 && line.size.y >= 1 &&
                                line.size.x >= 1 && rv_synthesis_strips(line.size.x, env) < 2;
        if (env != nullptr && !comp.double_buffering)
            env->add_jobs(comp.queue, 0, true);
        comp.set_buffering(stripe_height, line.size.y);
    }

    if (env != nullptr && use_ycc && env->get_num_threads() >= 2) {
        colour.owner = this;
        colour.queue = env->add_queue(&colour, queue, "colour rows");
    }

    // 15 - 17.
    create_resources(source, env);
    next_row.assign(std::size_t(output_collection->num_components), 0);
    for (int i = 0; i < n; ++i)
        components[i].engine.start(env);
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        if (!comp.double_buffering)
            continue;
        comp.first_job_buffer = 0;
        comp.num_job_rows = std::min(comp.stripe_height, comp.line.size.y);
        comp.rows_queued = comp.num_job_rows;
        env->add_jobs(comp.queue, 1, comp.rows_queued == comp.line.size.y, rv_stripe_job_rank);
    }
    return std::int64_t(allocator.get_size());
}

bool rv_multi_transform::propagate(bool force_precise)
{
    bool changed = false;
    if (use_ycc) {
        rv_multi_line* l[3] = {&components[0].line, &components[1].line, &components[2].line};
        const bool rev = l[0]->reversible || l[1]->reversible || l[2]->reversible;
        const bool irr =
            l[0]->need_irreversible || l[1]->need_irreversible || l[2]->need_irreversible;
        const bool prec =
            force_precise || l[0]->need_precise || l[1]->need_precise || l[2]->need_precise;
        for (rv_multi_line* x : l) {
            if (x->reversible != rev || x->need_irreversible != irr || x->need_precise != prec)
                changed = true;
            x->reversible = rev;
            x->need_irreversible = irr;
            x->need_precise = prec;
        }
        if (l[0]->size != l[1]->size || l[0]->size != l[2]->size)
            dimension_error();
    }

    bool depth_mismatch = false;
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next) {
        if (b->is_null_transform) {
            for (int j = 0; j < b->num_outputs; ++j) {
                rv_multi_line& out = b->outputs[j];
                if (force_precise && !out.need_precise) {
                    out.need_precise = true;
                    changed = true;
                }
                if (out.is_constant || j >= b->num_inputs || b->inputs[std::size_t(j)] == nullptr)
                    continue;
                rv_multi_line& in = *b->inputs[std::size_t(j)];
                changed |= share_flag(out.need_precise, in.need_precise);
                changed |= share_flag(out.need_irreversible, in.need_irreversible);
                changed |= share_flag(out.reversible, in.reversible);
                if (!size_known(out.size)) {
                    if (size_known(in.size)) {
                        out.size = in.size;
                        changed = true;
                    }
                } else if (!size_known(in.size)) {
                    in.size = out.size;
                    changed = true;
                } else if (in.size != out.size) {
                    dimension_error();
                }
                if (out.bit_depth == 0) {
                    if (in.bit_depth != 0) {
                        out.bit_depth = in.bit_depth;
                        changed = true;
                    }
                } else if (in.bit_depth == 0) {
                    in.bit_depth = out.bit_depth;
                    changed = true;
                } else if (in.bit_depth != out.bit_depth) {
                    depth_mismatch = true;
                }
            }
            continue;
        }

        bool prec = force_precise;
        rvd_coords common;
        bool have_size = false;
        bool in_depth_unset = false, out_depth_unset = false;
        for (rv_multi_line* in : b->inputs) {
            if (in == nullptr)
                continue;
            prec |= in->need_precise;
            if (!have_size && size_known(in->size)) {
                common = in->size;
                have_size = true;
            }
            in_depth_unset |= in->bit_depth == 0;
        }
        for (int j = 0; j < b->num_outputs; ++j) {
            rv_multi_line& out = b->outputs[j];
            prec |= out.need_precise;
            if (!have_size && size_known(out.size)) {
                common = out.size;
                have_size = true;
            }
            out_depth_unset |= out.bit_depth == 0;
        }
        auto settle = [&](rv_multi_line& l) {
            if (l.need_precise != prec) {
                l.need_precise = prec;
                changed = true;
            }
            if (!have_size)
                return;
            if (!size_known(l.size)) {
                l.size = common;
                changed = true;
            } else if (l.size != common) {
                dimension_error();
            }
        };
        for (rv_multi_line* in : b->inputs)
            if (in != nullptr)
                settle(*in);
        for (int j = 0; j < b->num_outputs; ++j)
            settle(b->outputs[j]);
        if (b->propagate_bit_depths(in_depth_unset, out_depth_unset))
            changed = true;
    }
    if (depth_mismatch)
        bit_depth_error();
    return changed;
}

void rv_multi_transform::simplify()
{
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next) {
        for (rv_multi_line*& in : b->inputs)
            if (in != nullptr)
                in = in->resolve();
        if (!b->is_null_transform)
            continue;
        for (int j = 0; j < b->num_outputs && j < b->num_inputs; ++j) {
            rv_multi_line& out = b->outputs[j];
            rv_multi_line* in = b->inputs[std::size_t(j)];
            if (out.is_constant || in == nullptr)
                continue;
            const bool has_offset =
                out.reversible ? out.rev_offset != 0 : out.irrev_offset != 0.0f;
            if (has_offset && in->num_consumers > 1)
                continue;
            if (!in->reversible && in->bit_depth != out.bit_depth)
                continue;
            out.bypass = in;
            in->rev_offset += out.rev_offset;
            in->irrev_offset += out.irrev_offset;
            in->num_consumers += out.num_consumers - 1;
        }
    }
    for (rv_multi_collection* c = codestream_collection->next; c != nullptr; c = c->next)
        for (rv_multi_line*& l : c->components)
            if (l != nullptr)
                l = l->resolve();
}

void rv_multi_synthesis::create_resources(rv_multi_source& source, rvd_thread_env* env)
{
    auto pre_create = [this](rv_multi_line& l, rvd_line_buf& buf) {
        if (l.reversible == l.need_irreversible)
            reversibility_error();
        buf.pre_create(&allocator, std::max(0, l.size.x), l.reversible, !l.need_precise, 2, 2);
    };

    // 15. Spatial engines.
    for (int i = 0; i < num_codestream_components; ++i) {
        rv_multi_component& comp = components[i];
        comp.engine = source.create_engine(comp.comp_idx, &allocator, !comp.line.need_precise, env,
                                           comp.queue);
    }

    // 16. Line storage.
    for (int i = 0; i < num_codestream_components; ++i) {
        rv_multi_component& comp = components[i];
        pre_create(comp.line, comp.line.line);
        for (int k = 0; k < comp.num_buffers; ++k)
            pre_create(comp.line, comp.buffers[k]);
    }
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next)
        for (int j = 0; j < b->num_outputs; ++j) {
            rv_multi_line& l = b->outputs[j];
            if (l.bypass == nullptr)
                pre_create(l, l.line);
        }
    for (int k = 0; k < num_constant_lines; ++k)
        if (constant_lines[k].num_consumers > 0)
            pre_create(constant_lines[k], constant_lines[k].line);
    for (rv_multi_line* l : output_collection->components)
        if (l->reversible == l->need_irreversible)
            reversibility_error();

    allocator.finalize();
    for (int i = 0; i < num_codestream_components; ++i) {
        rv_multi_component& comp = components[i];
        comp.line.line.create();
        for (int k = 0; k < comp.num_buffers; ++k)
            comp.buffers[k].create();
    }
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next)
        for (int j = 0; j < b->num_outputs; ++j) {
            rv_multi_line& l = b->outputs[j];
            if (l.bypass != nullptr)
                continue;
            l.line.create();
            if (l.is_constant)
                rv_line_fill(l.samples(), l.rev_offset, l.irrev_offset);
        }
    for (int k = 0; k < num_constant_lines; ++k) {
        rv_multi_line& l = constant_lines[k];
        if (l.num_consumers == 0)
            continue;
        l.line.create();
        rv_line_fill(l.samples(), l.rev_offset, l.irrev_offset);
    }
}

void rv_multi_synthesis::terminate_queues(rvd_thread_env* env)
{
    if (env == nullptr || !queues_live)
        return;
    queues_live = false;
    if (env_queue != nullptr) {
        env->terminate(env_queue, true);
    } else {
        for (int i = 0; i < num_codestream_components; ++i)
            if (components[i].queue != nullptr)
                env->terminate(components[i].queue, false);
        if (colour.queue != nullptr)
            env->terminate(colour.queue, false);
    }
    colour.queue = nullptr;
    for (int i = 0; i < num_codestream_components; ++i)
        components[i].queue = nullptr;
}

rvd_coords rv_multi_synthesis::get_size(int comp_idx) const
{
    if (output_collection == nullptr || comp_idx < 0 || comp_idx >= output_collection->num_components)
        return rvd_coords();
    return output_collection->components[std::size_t(comp_idx)]->size;
}

bool rv_multi_synthesis::is_line_precise(int comp_idx) const
{
    if (output_collection == nullptr || comp_idx < 0 || comp_idx >= output_collection->num_components)
        return false;
    return output_collection->components[std::size_t(comp_idx)]->need_precise;
}

bool rv_multi_synthesis::is_line_absolute(int comp_idx) const
{
    if (output_collection == nullptr || comp_idx < 0 || comp_idx >= output_collection->num_components)
        return false;
    return output_collection->components[std::size_t(comp_idx)]->reversible;
}

rvd_line_buf* rv_multi_synthesis::get_line(int comp_idx, rvd_thread_env* env)
{
    if (output_collection == nullptr || comp_idx < 0 || comp_idx >= output_collection->num_components)
        return nullptr;
    rv_multi_line* l = output_collection->components[std::size_t(comp_idx)];
    int& r = next_row[std::size_t(comp_idx)];
    // Past the last row there is nothing to pull.
    if (r >= l->size.y)
        return nullptr;
    rv_multi_line* got = get_row(l, r, env);
    if (got == nullptr)
        return nullptr;
    ++r;
    return &got->line;
}

void rv_multi_synthesis::advance_components(rv_multi_line* line, int r, rvd_thread_env* env)
{
    const int first = (use_ycc && line->collection_idx < 3) ? 0 : line->collection_idx;
    const int count = (use_ycc && line->collection_idx < 3) ? 3 : 1;
    bool filled = false;
    for (int i = first; i < first + count; ++i) {
        rv_multi_component& comp = components[i];
        if (comp.num_available == 0) {
            if (comp.double_buffering)
                comp.take_stripe(env != nullptr ? env : creator_env);
            else
                comp.fill_stripe(comp.line.size.y - r, env);
            filled = true;
        }
    }
    if (count == 3 && filled)
        colour_rows_done = colour_whole_stripe(env != nullptr ? env : creator_env)
                               ? components[0].num_available
                               : 0;
    const bool done = count == 3 && colour_rows_done > 0;
    for (int i = first; i < first + count; ++i) {
        rv_multi_component& comp = components[i];
        // Hand the filled buffer to the line; its old storage is filled again later.
        std::swap(comp.line.line, comp.buffers[comp.next_buffer]);
        comp.next_buffer++;
        comp.num_available--;
    }
    if (done) {
        colour_rows_done--;
    } else {
        if (count == 3)
            rvd_convert_ycc_to_rgb(components[0].line.line, components[1].line.line,
                                   components[2].line.line, -1);
        for (int i = first; i < first + count; ++i) {
            rv_multi_line& l = components[i].line;
            rv_line_add_offset(l.samples(), l.rev_offset, l.irrev_offset);
        }
    }
    for (int i = first; i < first + count; ++i) {
        rv_multi_line& l = components[i].line;
        l.row_idx = r;
        l.outstanding_consumers = l.num_consumers;
    }
}

// The colour components' new stripe through the colour transform and offsets on the
// pool, when all three hold the same rows; false leaves it to the rows one by one.
bool rv_multi_synthesis::colour_whole_stripe(rvd_thread_env* env)
{
    const rv_multi_component* c = &components[0];
    if (colour.queue == nullptr || env == nullptr)
        return false;
    for (int i = 1; i < 3; ++i)
        if (c[i].next_buffer != c[0].next_buffer || c[i].num_available != c[0].num_available)
            return false;
    colour.first_buffer = c[0].next_buffer;
    colour.rows = c[0].num_available;
    // A part of a few thousand samples costs less than waking a thread for it: a narrow
    // stripe, or a stripe of one row, is transformed here.
    const std::int64_t samples = std::int64_t(colour.rows) * std::max(1, c[0].line.size.x);
    colour.parts = int(std::max<std::int64_t>(
        1, std::min<std::int64_t>({env->get_num_threads(), colour.rows / 2, samples / colour_part_samples})));
    if (colour.parts == 1) {
        colour_rows(colour.first_buffer, colour.rows, 0, 1);
        return true;
    }
    colour.first_job = colour.jobs_added;
    colour.jobs_added += colour.parts;
    env->add_jobs(colour.queue, colour.parts, false, rv_stripe_job_rank);
    env->process_jobs(colour.queue, false, true);
    return true;
}

void rv_multi_synthesis::colour_stripe::do_job(rvd_thread_env*, int job_idx)
{
    owner->colour_rows(first_buffer, rows, job_idx - first_job, parts);
}

void rv_multi_synthesis::colour_rows(int first_buffer, int rows, int part, int parts)
{
    for (int k = part; k < rows; k += parts) {
        const int b = first_buffer + k;
        rvd_convert_ycc_to_rgb(components[0].buffers[b], components[1].buffers[b],
                               components[2].buffers[b], -1);
        for (int i = 0; i < 3; ++i) {
            const rv_multi_line& l = components[i].line;
            rv_line_add_offset(rv_samples_of(components[i].buffers[b], l.bit_depth),
                               l.rev_offset, l.irrev_offset);
        }
    }
}

rv_multi_line* rv_multi_synthesis::get_row(rv_multi_line* line, int r, rvd_thread_env* env)
{
    if (line->is_constant)
        return line;
    if (line->row_idx != r) {
        if (line->outstanding_consumers > 0)
            return nullptr;
        if (line->collection_idx >= 0) {
            if (use_ycc && line->collection_idx < 3) {
                for (int i = 0; i < 3; ++i) {
                    const rv_multi_line& l = components[i].line;
                    if (l.outstanding_consumers > 0 || l.row_idx >= r)
                        return nullptr;
                }
            }
            advance_components(line, r, env);
        } else {
            rv_multi_block* b = line->block;
            if (b->is_null_transform) {
                const int j = int(line - b->outputs.get());
                rv_multi_line* in = b->inputs[std::size_t(j)];
                rv_multi_line* src = get_row(in, r, env);
                if (src == nullptr)
                    return nullptr;
                rv_line_copy(line->samples(), src->samples(), line->rev_offset, line->irrev_offset);
                line->row_idx = r;
                line->outstanding_consumers = line->num_consumers;
                b->outstanding += line->num_consumers;
            } else {
                if (b->outstanding > 0)
                    return nullptr;
                for (; b->resume_point < b->num_inputs; b->resume_point++) {
                    rv_multi_line* in = b->inputs[std::size_t(b->resume_point)];
                    if (in == nullptr || in->is_constant)
                        continue;
                    if (get_row(in, r, env) == nullptr)
                        return nullptr;
                    in->outstanding_consumers++;
                    if (in->block != nullptr)
                        in->block->outstanding++;
                }
                b->perform_synthesis();
                for (rv_multi_line* in : b->inputs) {
                    if (in == nullptr || in->is_constant)
                        continue;
                    in->outstanding_consumers--;
                    if (in->block != nullptr)
                        in->block->outstanding--;
                }
                for (int j = 0; j < b->num_outputs; ++j) {
                    rv_multi_line& o = b->outputs[j];
                    o.row_idx = r;
                    o.outstanding_consumers = o.num_consumers;
                    b->outstanding += o.num_consumers;
                }
                b->resume_point = 0;
            }
        }
    }
    line->outstanding_consumers--;
    if (line->block != nullptr)
        line->block->outstanding--;
    return line;
}
