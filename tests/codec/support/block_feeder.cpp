#include "tests/codec/support/block_feeder.h"

#include "codec/core/rvd_block.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_tile_comp.h"
#include "codec/core/rvd_worker.h"
#include "codec/encode/rvd_block_encoder.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/reference_dwt.h"

#include <algorithm>
#include <memory>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace codec_test {

namespace {

// Quantised sign-magnitude words of a block, missing MSBs and coding passes as the
// block encoder expects them.
void quantise(rvd_block* blk, const std::vector<int32_t>& values)
{
    const int K = blk->magnitude_planes;
    uint32_t any = 0;
    if (blk->max_samples < int(values.size()))
        blk->set_max_samples(int(values.size()));
    for (size_t k = 0; k < values.size(); k++) {
        const int32_t v = values[k];
        const uint32_t mag = uint32_t(v < 0 ? -int64_t(v) : v) << (31 - K);
        any |= mag;
        blk->sample_buffer[k] = int32_t(mag | (v < 0 ? 0x80000000u : 0u));
    }
    const int missing = any == 0 ? K : __builtin_clz(any) - 1;
    blk->missing_msbs = missing;
    blk->num_passes = any == 0 ? 0 : 3 * (K - missing) - 2;
}

// One code-block's place: its band, index, coefficients and the image row it starts.
struct block_job {
    rvd_subband band;
    rvd_coords idx;
    const reference_dwt::plane* p;
    int64_t image_row;
};

void add_band_jobs(std::vector<block_job>& jobs, rvd_subband band, int dwt_level,
                   const reference_dwt::plane& p)
{
    rvd_dims bd, blocks;
    band.get_dims(bd);
    if (bd != p.dims && !(bd.is_empty() && p.dims.is_empty()))
        throw std::runtime_error("block feeder: band and analysis disagree");
    band.get_valid_blocks(blocks);
    rvd_coords nominal, first;
    band.get_block_size(nominal, first);
    for (int by = 0; by < blocks.size.y; by++)
        for (int bx = 0; bx < blocks.size.x; bx++) {
            const rvd_coords idx(blocks.pos.y + by, blocks.pos.x + bx);
            const int64_t y0 = std::max(bd.pos.y, idx.y * nominal.y);
            jobs.push_back(block_job{band, idx, &p, y0 << dwt_level});
        }
}

void code_block(rvd_block_encoder& encoder, const block_job& job, bool reversible, double step,
                rvd_thread_env* env = nullptr)
{
    rvd_dims bd;
    job.band.get_dims(bd);
    rvd_coords nominal, first;
    job.band.get_block_size(nominal, first);
    rvd_block* blk = job.band.open_block(job.idx, nullptr, env);
    const int y0 = std::max(bd.pos.y, job.idx.y * nominal.y);
    const int x0 = std::max(bd.pos.x, job.idx.x * nominal.x);
    std::vector<int32_t> values;
    for (int y = y0; y < y0 + blk->size.y; y++)
        for (int x = x0; x < x0 + blk->size.x; x++) {
            const double v = job.p->v[size_t((y - job.p->dims.pos.y) * job.p->dims.size.x + x -
                                             job.p->dims.pos.x)];
            // Irreversible: the quantisation index, truncated towards zero.
            values.push_back(reversible ? int32_t(std::lround(v)) : int32_t(v / step));
        }
    quantise(blk, values);
    encoder.encode(blk, reversible, job.band.get_msb_wmse(),
                   uint16_t(job.band.get_conservative_slope_threshold()));
    job.band.close_block(blk, env);
}

// The tile's blocks as jobs of a thread group, each with its thread's environment.
struct block_worker : rvd_worker {
    const std::vector<block_job>* jobs;
    const std::vector<int>* job_comp;
    const std::vector<bool>* reversible;
    const std::vector<double>* steps;
    void do_job(rvd_thread_env* env, int idx) override
    {
        thread_local rvd_block_encoder encoder;
        const int c = (*job_comp)[size_t(idx)];
        code_block(encoder, (*jobs)[size_t(idx)], (*reversible)[size_t(c)], (*steps)[size_t(c)], env);
    }
};

} // namespace

void feed_blocks(rvd_codestream& cs, const std::vector<std::vector<int32_t>>& samples,
                 const feed_options& options)
{
    init_block_coding_tables();
    rvd_block_encoder encoder;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    const int comps = cs.get_num_components();
    std::vector<rvd_dims> comp_dims(static_cast<size_t>(comps));
    for (int c = 0; c < comps; c++)
        cs.get_dims(c, comp_dims[size_t(c)]);
    const int num = tiles.size.y * tiles.size.x;
    for (int k = 0; k < num; k++) {
        const int n = options.reverse_tiles ? num - 1 - k : k;
        const int ty = n / tiles.size.x, tx = n % tiles.size.x;
        rvd_tile tile = cs.open_tile(rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx));
        // Level-shifted tile-component samples; the reversible colour transform on the
        // first three when the tile uses it.
        std::vector<reference_dwt::plane> planes;
        std::vector<bool> reversible;
        std::vector<double> steps;
        for (int c = 0; c < comps; c++) {
            rvd_tile_comp tc = tile.access_component(c);
            reversible.push_back(tc.get_reversible());
            const int32_t shift = cs.get_signed(c) ? 0 : int32_t(1) << (cs.get_bit_depth(c) - 1);
            rvd_dims td;
            tc.get_dims(td);
            const rvd_dims& cd = comp_dims[size_t(c)];
            reference_dwt::plane p(td);
            for (int y = td.pos.y; y < td.pos.y + td.size.y; y++)
                for (int x = td.pos.x; x < td.pos.x + td.size.x; x++)
                    p.at(y, x) = samples[size_t(c)][size_t(y - cd.pos.y) * size_t(cd.size.x) +
                                                    size_t(x - cd.pos.x)] -
                                 shift;
            // The step of the band in sample units: delta is relative to 2^precision.
            double step = 1.0;
            if (!reversible.back()) {
                if (tc.get_num_resolutions() != 1)
                    throw std::runtime_error("block feeder: irreversible tiles without levels only");
                step = double(tc.access_resolution(0).access_subband(0).get_delta()) *
                       std::ldexp(1.0, cs.get_bit_depth(c));
            }
            steps.push_back(step);
            planes.push_back(p);
        }
        if (tile.get_ycc() && reversible[0])
            for (size_t i = 0; i < planes[0].v.size(); i++) {
                const double r = planes[0].v[i], g = planes[1].v[i], b = planes[2].v[i];
                planes[0].v[i] = std::floor((r + 2 * g + b) / 4.0);
                planes[1].v[i] = b - g;
                planes[2].v[i] = r - g;
            }
        // Every band's coefficients, kept until the tile's blocks are coded.
        std::vector<std::unique_ptr<reference_dwt::plane>> kept;
        std::vector<block_job> jobs;
        std::vector<int> job_comp;
        for (int c = 0; c < comps; c++) {
            rvd_tile_comp tc = tile.access_component(c);
            reference_dwt::plane ll = planes[size_t(c)];
            for (int r = tc.get_num_resolutions() - 1; r >= 1; r--) {
                reference_dwt::bands bs = reference_dwt::analyse2d(ll, true, true, true, false);
                rvd_resolution res = tc.access_resolution(r);
                for (int b = 1; b <= 3; b++) {
                    kept.emplace_back(new reference_dwt::plane(bs.b[b]));
                    add_band_jobs(jobs, res.access_subband(b), res.get_dwt_level(), *kept.back());
                }
                ll = bs.b[0];
            }
            kept.emplace_back(new reference_dwt::plane(ll));
            rvd_resolution res0 = tc.access_resolution(0);
            add_band_jobs(jobs, res0.access_subband(0), res0.get_dwt_level(), *kept.back());
            job_comp.resize(jobs.size(), c);
        }
        std::vector<size_t> order(jobs.size());
        for (size_t i = 0; i < order.size(); i++)
            order[i] = i;
        if (options.stripe_rows > 0)
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return jobs[a].image_row < jobs[b].image_row;
            });
        if (options.env != nullptr) {
            block_worker w;
            w.jobs = &jobs;
            w.job_comp = &job_comp;
            w.reversible = &reversible;
            w.steps = &steps;
            rvd_thread_queue* q = options.env->add_queue(&w, nullptr, "blocks");
            options.env->add_jobs(q, int(jobs.size()), true);
            options.env->process_jobs(q);
            options.env->terminate(q, false);
            tile.close();
            continue;
        }
        int64_t stripe = -1;
        for (size_t i : order) {
            if (options.stripe_rows > 0) {
                const int64_t s = jobs[i].image_row / options.stripe_rows;
                if (stripe >= 0 && s != stripe && options.after_stripe)
                    options.after_stripe();
                stripe = s;
            }
            const int c = job_comp[i];
            code_block(encoder, jobs[i], reversible[size_t(c)], steps[size_t(c)]);
        }
        if (options.stripe_rows > 0 && options.after_stripe)
            options.after_stripe();
        tile.close();
    }
}

} // namespace codec_test
