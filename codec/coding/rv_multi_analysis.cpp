#include "codec/coding/rv_multi_analysis.h"

#include "codec/coding/rv_multi_source.h"
#include "codec/coding/rvd_colour.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_thread_env.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

[[noreturn]] void no_path_back(const char* reason)
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Cannot perform forward multi-component transform based on the source image "
             "components supplied.  The multi-component transform is defined from the "
             "decompression side: compression has to invert it, and not every transform "
             "block can be inverted.  Where the blocks do not use all codestream components "
             "to produce the output components, there is no way back from the output "
             "components to the codestream components.";
        if (reason != nullptr)
            e << "  The following additional explanation is available ---- " << reason;
    }
    throw std::logic_error("codec error handler returned");
}

// A null block's output that steps aside for its input is that input line itself: the
// block neither reads the input nor holds a consumer of it (the output's consumers moved
// onto the line), so it must not claim the line or give a consumer back.
bool bypassed(const rv_multi_block* b, std::size_t k)
{
    return b->is_null_transform && k < std::size_t(b->num_outputs) &&
           b->outputs[k].bypass != nullptr;
}

void drop_input(rv_multi_block* b, std::size_t k)
{
    rv_multi_line*& in = b->inputs[k];
    if (in == nullptr)
        return;
    in->num_consumers--;
    in = nullptr;
}

} // namespace

rv_multi_analysis::~rv_multi_analysis()
{
    // No job may still run on engines about to be freed.
    if (queues_live)
        try {
            terminate_queues(creator_env);
        } catch (...) {
        }
}

std::int64_t rv_multi_analysis::create(rv_multi_source& source, bool force_precise,
                                       rvd_roi_image* roi, bool want_fastest, int stripe_height,
                                       rvd_thread_env* env, rvd_thread_queue* queue,
                                       bool double_buffering)
{
    creator_env = env;
    env_queue = env != nullptr ? queue : nullptr;
    build_network(source, force_precise, false, want_fastest);
    prepare_for_inversion();
    const int n = num_codestream_components;
    // The detail bands of reversible samples above 15 bits do not fit 16-bit lines.
    for (int i = 0; i < n; ++i) {
        rv_multi_line& l = components[i].line;
        if (l.reversible && l.bit_depth > 15)
            l.need_precise = true;
    }
    if (use_ycc && (components[0].line.need_precise || components[1].line.need_precise ||
                    components[2].line.need_precise))
        for (int i = 0; i < 3; ++i)
            components[i].line.need_precise = true;
    pushers.assign(std::size_t(n), rv_stripe_pusher());
    if (env != nullptr) {
        queues_live = true;
        for (int i = 0; i < n; ++i)
            components[i].queue = env->add_queue(&pushers[std::size_t(i)], queue, "component processor", 0);
    }
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        comp.double_buffering = env != nullptr && double_buffering && n >= 2 &&
                                env->get_num_threads() >= 2 && comp.line.size.y >= 1 &&
                                comp.line.size.x >= 1;
        comp.set_buffering(std::max(1, stripe_height), comp.line.size.y);
    }
    create_resources(source, roi, env);
    for (int i = 0; i < n; ++i) {
        rv_stripe_pusher& p = pushers[std::size_t(i)];
        p.engine = &engines[std::size_t(i)];
        p.buffers = components[i].buffers.get();
    }
    rows_stored.assign(std::size_t(n), 0);
    stripe_start.assign(std::size_t(n), 0);
    next_row.assign(std::size_t(output_collection->num_components), 0);
    return std::int64_t(allocator.get_size());
}

// Blocks that cannot be inverted give up their inputs; null blocks whose outputs nobody
// supplies give up theirs; every codestream component must keep a path back; a line read
// by several blocks is computed by the first only.
void rv_multi_analysis::prepare_for_inversion()
{
    const char* reason = nullptr;
    // Last stage first: a block's outputs lose consumers when later blocks give up, and a
    // block prepares (a matrix block choosing the outputs it inverts from) only once every
    // later block, null ones included, has settled what it takes.
    for (rv_multi_block* b = block_tail; b != nullptr; b = b->prev) {
        if (b->is_null_transform) {
            for (int j = 0; j < b->num_outputs && j < b->num_inputs; ++j) {
                const rv_multi_line& out = b->outputs[j];
                if (out.bypass == nullptr && (out.num_consumers == 0 || out.is_constant))
                    drop_input(b, std::size_t(j));
            }
            continue;
        }
        const char* text = b->prepare_for_inversion();
        if (text == nullptr)
            continue;
        reason = text;
        for (int j = 0; j < b->num_outputs; ++j)
            b->outputs[j].is_constant = true;
        for (std::size_t k = 0; k < b->inputs.size(); ++k)
            drop_input(b, k);
    }
    for (int i = 0; i < num_codestream_components; ++i)
        if (components[i].line.num_consumers <= 0)
            no_path_back(reason);
    std::set<const rv_multi_line*> claimed(output_collection->components.begin(),
                                           output_collection->components.end());
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next)
        for (std::size_t k = 0; k < b->inputs.size(); ++k) {
            rv_multi_line* in = b->inputs[k];
            if (in == nullptr || bypassed(b, k))
                continue;
            if (!claimed.insert(in).second)
                drop_input(b, k);
        }
}

void rv_multi_analysis::create_resources(rv_multi_source& source, rvd_roi_image* roi,
                                         rvd_thread_env* env)
{
    const int n = num_codestream_components;
    engines.resize(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        engines[std::size_t(i)] = source.create_push_engine(
            comp.comp_idx, &allocator, !comp.line.need_precise, roi, env, comp.queue);
    }
    auto pre_create = [this](rv_multi_line& l, rvd_line_buf& buf) {
        buf.pre_create(&allocator, std::max(0, l.size.x), l.reversible, !l.need_precise, 2, 2);
    };
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        pre_create(comp.line, comp.line.line);
        for (int k = 0; k < comp.num_buffers; ++k)
            pre_create(comp.line, comp.buffers[k]);
    }
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next)
        for (int j = 0; j < b->num_outputs; ++j)
            if (b->outputs[j].bypass == nullptr)
                pre_create(b->outputs[j], b->outputs[j].line);
    for (int k = 0; k < num_constant_lines; ++k)
        if (constant_lines[k].num_consumers > 0)
            pre_create(constant_lines[k], constant_lines[k].line);
    allocator.finalize();
    for (int i = 0; i < n; ++i) {
        rv_multi_component& comp = components[i];
        comp.line.line.create();
        for (int k = 0; k < comp.num_buffers; ++k)
            comp.buffers[k].create();
    }
    for (rv_multi_block* b = block_head; b != nullptr; b = b->next)
        for (int j = 0; j < b->num_outputs; ++j)
            if (b->outputs[j].bypass == nullptr)
                b->outputs[j].line.create();
    for (int k = 0; k < num_constant_lines; ++k)
        if (constant_lines[k].num_consumers > 0)
            constant_lines[k].line.create();
}

void rv_multi_analysis::terminate_queues(rvd_thread_env* env)
{
    if (env == nullptr)
        env = creator_env;
    if (env == nullptr || !queues_live)
        return;
    queues_live = false;
    // Block rows still queued are coded first; a failure among them is raised here.
    bool ok = true;
    for (int i = 0; i < num_codestream_components; ++i)
        if (components[i].queue != nullptr)
            ok &= env->terminate(components[i].queue, false);
    for (int i = 0; i < num_codestream_components; ++i)
        components[i].queue = nullptr;
    if (!ok)
        env->raise_group_failure();
}

rv_multi_line* rv_multi_analysis::output_line(int comp_idx) const
{
    if (output_collection == nullptr || comp_idx < 0 ||
        comp_idx >= output_collection->num_components)
        return nullptr;
    return output_collection->components[std::size_t(comp_idx)];
}

rvd_coords rv_multi_analysis::get_size(int comp_idx) const
{
    const rv_multi_line* l = output_line(comp_idx);
    return l != nullptr ? l->size : rvd_coords();
}

bool rv_multi_analysis::is_line_precise(int comp_idx) const
{
    const rv_multi_line* l = output_line(comp_idx);
    return l != nullptr && l->need_precise;
}

bool rv_multi_analysis::is_line_absolute(int comp_idx) const
{
    const rv_multi_line* l = output_line(comp_idx);
    return l != nullptr && l->reversible;
}

rvd_line_buf* rv_multi_analysis::exchange_line(int comp_idx, bool give_back, rvd_thread_env* env)
{
    rv_multi_line* l = output_line(comp_idx);
    if (l == nullptr)
        return nullptr;
    int& r = next_row[std::size_t(comp_idx)];
    if (r >= l->size.y)
        return nullptr;
    if (give_back && l->outstanding_consumers == 0) {
        if (!l->is_constant) {
            rv_line_add_offset(l->samples(), -l->rev_offset, -l->irrev_offset);
            push_row(l, r, env != nullptr ? env : creator_env);
        }
        if (++r >= l->size.y)
            return nullptr;
    }
    if (l->outstanding_consumers > 0)
        return nullptr;
    return &l->line;
}

void rv_multi_analysis::push_row(rv_multi_line* line, int r, rvd_thread_env* env)
{
    line->row_idx = r;
    if (line->is_constant)
        return;
    if (line->collection_idx >= 0) {
        const int c = line->collection_idx;
        if (!use_ycc || c >= 3) {
            store_row(c, env);
            return;
        }
        // The colour transform needs the row of all three; until then the line is held.
        line->outstanding_consumers = 1;
        for (int i = 0; i < 3; ++i)
            if (components[i].line.row_idx != r || components[i].line.outstanding_consumers == 0)
                return;
        rvd_convert_rgb_to_ycc(components[0].line.line, components[1].line.line,
                               components[2].line.line);
        for (int i = 0; i < 3; ++i)
            store_row(i, env);
        return;
    }
    rv_multi_block* b = line->block;
    if (b->is_null_transform) {
        const std::size_t j = std::size_t(line - b->outputs.get());
        rv_multi_line* in = j < b->inputs.size() ? b->inputs[j] : nullptr;
        if (in == nullptr)
            return;
        if (in->row_idx == r) { // reached through another path already
            drop_input(b, j);
            return;
        }
        rv_line_copy(in->samples(), line->samples(), -in->rev_offset, -in->irrev_offset);
        push_row(in, r, env);
        return;
    }
    for (int j = 0; j < b->num_outputs; ++j) {
        const rv_multi_line& o = b->outputs[j];
        if (o.num_consumers > 0 && !o.is_constant && o.row_idx != r)
            return; // other outputs of the row still missing
    }
    for (std::size_t k = 0; k < b->inputs.size(); ++k)
        if (b->inputs[k] != nullptr && b->inputs[k]->row_idx == r)
            drop_input(b, k);
    b->perform_analysis();
    // Each input's own offsets go, as a copy into it would remove them.
    for (rv_multi_line* in : b->inputs)
        if (in != nullptr && !in->is_constant) {
            rv_line_add_offset(in->samples(), -in->rev_offset, -in->irrev_offset);
            push_row(in, r, env);
        }
}

void rv_stripe_pusher::do_job(rvd_thread_env* env, int job_idx)
{
    (void)job_idx;
    for (int k = 0; k < count; ++k)
        engine->push(buffers[first + k], env);
}

// The component's line joins its row queue, taking a free buffer in exchange; a full
// stripe, or the last row, goes to the spatial engine: at once, or, double buffered, by a
// job once the job pushing the other half is done (its buffers are filled next).
void rv_multi_analysis::store_row(int c, rvd_thread_env* env)
{
    rv_multi_component& comp = components[c];
    std::swap(comp.line.line, comp.buffers[comp.next_buffer]);
    comp.next_buffer++;
    comp.line.outstanding_consumers = 0;
    int& stored = rows_stored[std::size_t(c)];
    stored++;
    int& start = stripe_start[std::size_t(c)];
    if (comp.next_buffer - start < comp.stripe_height && stored < comp.line.size.y)
        return;
    const int count = comp.next_buffer - start;
    if (!comp.double_buffering) {
        comp.next_buffer = 0;
        for (int k = 0; k < count; ++k)
            engines[std::size_t(c)].push(comp.buffers[k], env);
        return;
    }
    rvd_thread_env* e = env != nullptr ? env : creator_env;
    e->process_jobs(comp.queue, false, true);
    rv_stripe_pusher& p = pushers[std::size_t(c)];
    p.first = start;
    p.count = count;
    comp.rows_queued += count;
    e->add_jobs(comp.queue, 1, comp.rows_queued == comp.line.size.y, rv_stripe_job_rank);
    start = start == 0 ? comp.stripe_height : 0;
    comp.next_buffer = start;
}
