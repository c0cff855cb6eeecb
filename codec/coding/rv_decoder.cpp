#include "codec/coding/rv_decoder.h"

#include "codec/coding/rv_dequant_sse2.h"

#include "codec/coding/rvd_decoder.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_subband.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_processor.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_thread_env.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Block rows a threaded band decoder keeps in flight, and the bytes their lines may take
// before it keeps fewer (never fewer than two).
const int max_rows_ahead = 4;
const std::uint64_t max_ahead_bytes = std::uint64_t(16) << 20;

inline std::int16_t sat16(std::int64_t v)
{
    return std::int16_t(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

// Sample conversions, one per line format; each takes the sign-magnitude word after the
// region-of-interest shift.
struct rev32 {
    int shift;
    std::int32_t operator()(std::uint32_t w) const
    {
        std::int32_t v = std::int32_t((w & 0x7FFFFFFFu) >> shift);
        return (w & 0x80000000u) ? -v : v;
    }
};
struct rev16 {
    int shift;
    std::int16_t operator()(std::uint32_t w) const
    {
        std::int64_t v = std::int64_t((w & 0x7FFFFFFFu) >> shift);
        return sat16((w & 0x80000000u) ? -v : v);
    }
};
struct irr32 {
    float scale;
    float operator()(std::uint32_t w) const
    {
        std::int32_t v = std::int32_t(w & 0x7FFFFFFFu);
        return float((w & 0x80000000u) ? -v : v) * scale;
    }
};
// 13 fraction bits through a 16-bit by 32-bit fixed-point multiply; formed in 64 bits so
// that large or corrupt step sizes saturate instead of overflowing.
struct irr16 {
    std::int64_t multiplier;
    std::int16_t operator()(std::uint32_t w) const
    {
        std::int64_t v = std::int64_t(w & 0x7FFFFFFFu);
        if (w & 0x80000000u)
            v = -v;
        return sat16((((v + 0x8000) >> 16) * multiplier + 0x8000) >> 16);
    }
};

struct roi_shift {
    int shift = 0;         // 0: no up-shift
    std::uint32_t mask = 0; // magnitude bits of the foreground planes
    std::uint32_t operator()(std::uint32_t w) const
    {
        std::uint32_t mag = w & 0x7FFFFFFFu;
        if (mag == 0 || (mag & mask) != 0)
            return w;
        std::uint64_t m = std::uint64_t(mag) << std::min(shift, 32);
        if (m > 0x7FFFFFFFu)
            m = 0x7FFFFFFFu;
        return (w & 0x80000000u) | std::uint32_t(m);
    }
};

template <class T, class F>
void convert_region(const rvd_block& block, T* const* lines, int x_off, const roi_shift& roi,
                    const F& f)
{
    const int H = block.transpose ? block.region.size.x : block.region.size.y;
    const int W = block.transpose ? block.region.size.y : block.region.size.x;
    const std::ptrdiff_t stride = block.size.x;
    const std::uint32_t* base = reinterpret_cast<const std::uint32_t*>(block.sample_buffer) +
                                std::ptrdiff_t(block.region.pos.y) * stride + block.region.pos.x;
    for (int i = 0; i < H; i++) {
        int ip = block.vflip ? H - 1 - i : i;
        const std::uint32_t* sp;
        std::ptrdiff_t step;
        if (block.transpose) {
            sp = base + ip + (block.hflip ? std::ptrdiff_t(W - 1) * stride : 0);
            step = block.hflip ? -stride : stride;
        } else {
            sp = base + std::ptrdiff_t(ip) * stride + (block.hflip ? W - 1 : 0);
            step = block.hflip ? -1 : 1;
        }
        T* dp = lines[i] + x_off;
        if (roi.shift > 0) {
            for (int j = 0; j < W; j++, sp += step)
                dp[j] = f(roi(*sp));
        } else {
            for (int j = 0; j < W; j++, sp += step)
                dp[j] = f(*sp);
        }
    }
}

// Whole rows of a 32- or 64-wide block, eight samples at a time, with 16-bit saturation;
// irreversible samples are scaled in single precision and rounded to the nearest.
template <class F>
void convert_fast(const rvd_block& block, std::int16_t* const* lines, int x_off,
                  const roi_shift& roi, const F& f)
{
    const int W = block.size.x;
    for (int i = 0; i < block.region.size.y; i++) {
        const std::uint32_t* sp = reinterpret_cast<const std::uint32_t*>(block.sample_buffer) +
                                  std::ptrdiff_t(block.region.pos.y + i) * W;
        std::int16_t* dp = lines[i] + x_off;
        for (int j = 0; j < W; j += 8) {
            std::uint32_t w[8];
            for (int k = 0; k < 8; k++)
                w[k] = roi.shift > 0 ? roi(sp[j + k]) : sp[j + k];
            for (int k = 0; k < 8; k++)
                dp[j + k] = f(w[k]);
        }
    }
}

struct fast_irr16 {
    float scale; // delta x 8192 / 2^(31 - K_max)
    std::int16_t operator()(std::uint32_t w) const
    {
        std::int32_t v = std::int32_t(w & 0x7FFFFFFFu);
        float x = float((w & 0x80000000u) ? -v : v) * scale;
        if (!(x > -32768.5f))
            return -32768;
        if (!(x < 32767.5f))
            return 32767;
        return std::int16_t(std::lrintf(x));
    }
};

// The same rows through the vector forms, when the build has them and no sample needs the
// region-of-interest shift.
void convert_fast_rev16(const rvd_block& block, std::int16_t* const* lines, int x_off, const roi_shift& roi,
                        const rev16& f)
{
    if (roi.shift > 0 || !rv_dequant_sse2_built()) {
        convert_fast(block, lines, x_off, roi, f);
        return;
    }
    const int W = block.size.x;
    for (int i = 0; i < block.region.size.y; i++)
        rv_dequant_rev16_sse2(reinterpret_cast<const std::uint32_t*>(block.sample_buffer) +
                                  std::ptrdiff_t(block.region.pos.y + i) * W,
                              lines[i] + x_off, W, f.shift);
}

void convert_fast_irr16(const rvd_block& block, std::int16_t* const* lines, int x_off, const roi_shift& roi,
                        const fast_irr16& f)
{
    if (roi.shift > 0 || !rv_dequant_sse2_built()) {
        convert_fast(block, lines, x_off, roi, f);
        return;
    }
    const int W = block.size.x;
    for (int i = 0; i < block.region.size.y; i++)
        rv_dequant_irr16_sse2(reinterpret_cast<const std::uint32_t*>(block.sample_buffer) +
                                  std::ptrdiff_t(block.region.pos.y + i) * W,
                              lines[i] + x_off, W, f.scale);
}

template <class T>
void zero_region(const rvd_block& block, T* const* lines, int x_off)
{
    const int H = block.transpose ? block.region.size.x : block.region.size.y;
    const int W = block.transpose ? block.region.size.y : block.region.size.x;
    for (int i = 0; i < H; i++)
        std::memset(lines[i] + x_off, 0, size_t(W) * sizeof(T));
}

} // namespace

bool rv_block_access::decode(rvd_block_decoder& decoder, rvd_block* block)
{
    if (block->num_passes <= 0)
        return false;
    decoder.decode(block);
    return true;
}

void rv_dequantizer::check() const
{
    if (reversible && K_max > 31)
        rv_raise_core_error("Insufficient implementation precision available for true "
                            "reversible processing!");
}

void rv_dequantizer::zero(const rvd_block& block, const rv_line_ptrs& lines, int x_off) const
{
    if (use_shorts)
        zero_region(block, lines.s16, x_off);
    else if (reversible)
        zero_region(block, lines.i32, x_off);
    else
        zero_region(block, lines.f32, x_off);
}

void rv_dequantizer::convert(const rvd_block& block, const rv_line_ptrs& lines, int x_off) const
{
    roi_shift roi;
    if (K_max < K_max_prime) {
        roi.shift = K_max_prime - K_max;
        // Foreground samples have a magnitude bit among bits 30 .. 31 - K_max.
        roi.mask = (K_max <= 0) ? 0u
                   : (K_max >= 31) ? 0x7FFFFFFFu
                                   : (((1u << K_max) - 1u) << (31 - K_max));
    }
    const bool fast = use_shorts && allow_fast && rvd_mmx_level >= 2 && !block.transpose &&
                      !block.vflip && !block.hflip && block.region.pos.x == 0 &&
                      block.region.size.x == block.size.x &&
                      (block.size.x == 32 || block.size.x == 64);
    // Scale of a magnitude word: delta / 2^(31 - K_max), for any K_max.
    const double scale = std::ldexp(double(delta), K_max - 31);
    if (use_shorts) {
        std::int16_t* const* l16 = lines.s16;
        if (reversible) {
            check();
            rev16 f{31 - std::max(0, K_max)};
            if (fast)
                convert_fast_rev16(block, l16, x_off, roi, f);
            else
                convert_region(block, l16, x_off, roi, f);
        } else if (allow_fast && rvd_mmx_level >= 2) {
            // The vector form's arithmetic for every block on such processors, whatever
            // its layout, so that a region decodes to the crop of the whole.
            double s = scale * 8192.0;
            s = std::min(s, 1.0e30);
            if (fast)
                convert_fast_irr16(block, l16, x_off, roi, fast_irr16{float(s)});
            else
                convert_region(block, l16, x_off, roi, fast_irr16{float(s)});
        } else {
            double m = std::floor(scale * 8192.0 * 4294967296.0 + 0.5);
            // Beyond 2^47 every nonzero sample saturates anyway; the bound keeps the
            // 64-bit product exact.
            m = std::max(-140737488355328.0, std::min(m, 140737488355328.0));
            if (!(m == m))
                m = 0.0;
            convert_region(block, l16, x_off, roi, irr16{std::int64_t(m)});
        }
    } else {
        if (reversible) {
            check();
            convert_region(block, lines.i32, x_off, roi,
                           rev32{31 - std::max(0, K_max)});
        } else if (roi.shift == 0 && rvd_mmx_level >= 2 && rv_dequant_sse2_built() && !block.transpose &&
                   !block.vflip && !block.hflip) {
            const std::uint32_t* base = reinterpret_cast<const std::uint32_t*>(block.sample_buffer) +
                                        std::ptrdiff_t(block.region.pos.y) * block.size.x + block.region.pos.x;
            for (int i = 0; i < block.region.size.y; i++) {
                const std::uint32_t* sp = base + std::ptrdiff_t(i) * block.size.x;
                float* dp = lines.f32[i] + x_off;
                const int n = block.region.size.x;
                // The widest form the processor has.
                if (!(rvd_avx_level >= 2 && rv_dequant_irr32_avx512(sp, dp, n, float(scale))) &&
                    !(rvd_avx_level >= 1 && rv_dequant_irr32_avx2(sp, dp, n, float(scale))))
                    rv_dequant_irr32_sse2(sp, dp, n, float(scale));
            }
        } else {
            convert_region(block, lines.f32, x_off, roi,
                           irr32{float(scale)});
        }
    }
}

rv_decoder::rv_decoder(const rv_band_shape& shape, rv_block_access* access,
                       rvd_sample_allocator* allocator, bool use_shorts, float normalization,
                       int pull_offset, rvd_thread_env* env, rvd_thread_queue* env_queue,
                       int readers, int min_depth)
    : access(access), creator_env(env), allocator(allocator), pull_offset(pull_offset)
{
    num_readers = std::max(1, readers);
    if (num_readers > 1 && (env == nullptr || env->get_num_threads() < 2))
        rv_raise_core_error("Invalid arguments given to the subband decoder.");
    if (allocator == nullptr || access == nullptr || pull_offset < 0)
        rv_raise_core_error("Invalid arguments given to the subband decoder.");
    dq.K_max = shape.K_max;
    dq.K_max_prime = shape.K_max_prime;
    dq.reversible = shape.reversible;
    dq.use_shorts = use_shorts;
    dq.delta = shape.delta * normalization;
    valid_blocks = shape.valid_blocks;
    if (shape.dims.is_empty() || shape.valid_blocks.is_empty())
        return; // nothing to deliver, nothing reserved
    dq.check();
    width = shape.dims.size.x;
    rows_left = shape.dims.size.y;
    block_width = shape.block_size.x;
    block_height = shape.block_size.y;
    first_block_width = shape.first_block_size.x;
    first_block_height = shape.first_block_size.y;
    // The blocks themselves give each block row's layout (a flipped view starts with the
    // real partition's last block); here only what no partition could cover is refused.
    if (block_width < 1 || block_height < 1 || first_block_width < 1 ||
        first_block_height < 1 || first_block_width > block_width ||
        first_block_height > block_height ||
        std::int64_t(valid_blocks.size.x) * block_width < width ||
        std::int64_t(valid_blocks.size.y) * block_height < rows_left)
        rv_raise_core_error("Inconsistent code-block partition found while building a "
                            "subband decoder.");
    if (valid_blocks.size.x > 1)
        align_offset = (use_shorts ? (8 - first_block_width % 8) % 8
                                   : (4 - first_block_width % 4) % 4);
    band_height = rows_left;
    // The threaded jobs place blocks from the partition alone.
    const int nr = valid_blocks.size.y, nc = valid_blocks.size.x;
    lead_height = (shape.rows_reversed && nr >= 2)
                      ? rows_left - first_block_height - (nr - 2) * block_height
                      : first_block_height;
    lead_width = (shape.cols_reversed && nc >= 2)
                     ? width - first_block_width - (nc - 2) * block_width
                     : first_block_width;
    buffer_lines = std::min(rows_left, block_height);
    std::uint64_t samples = std::uint64_t(align_offset) + std::uint64_t(width);
    line_bytes = use_shorts ? 16 * ((samples + 10) / 8) : 16 * ((samples + 6) / 4);
    if (env != nullptr) {
        dwt_level = shape.dwt_level;
        queue = env->add_queue(nullptr, env_queue, "block decoder");
        if (env->get_num_threads() > 1) {
            const std::int64_t per_row =
                std::int64_t(std::min(block_height, rows_left)) * width / 8192;
            jobs_per_row = int(std::max<std::int64_t>(1, std::min<std::int64_t>(32, per_row)));
            // Block rows decode ahead of the pulls in every band, so that the pool has
            // work while the caller synthesises; very wide bands keep fewer in memory.
            depth = std::min(nr, max_rows_ahead);
            while (depth > 2 &&
                   std::uint64_t(depth) * std::uint64_t(block_height) * line_bytes > max_ahead_bytes)
                depth--;
            // Strips read apart by up to a few stripes: every row one of them may reach
            // must have its slot, whatever the memory.
            if (num_readers > 1)
                depth = std::min(nr, std::max(depth, min_depth));
            if (depth > 1)
                buffer_lines = depth * block_height;
        }
        slots.reset(new row_slot[std::size_t(depth)]);
        places.reset(new reader_place[std::size_t(num_readers)]);
        for (int r = 0; r < num_readers; r++)
            places[r].rows_left = rows_left;
        for (int k = 0; k < depth; k++) {
            slots[k].owner = this;
            slots[k].index = k;
            slots[k].queue = env->add_queue(&slots[k], queue, "block row");
        }
    }
    for (int i = 0; i < buffer_lines; i++)
        allocator->pre_alloc(line_bytes);
}

rv_decoder::~rv_decoder() = default;

void rv_decoder::start(rvd_thread_env* env)
{
    if (started)
        return;
    rvd_thread_env* e = env != nullptr ? env : creator_env;
    {
        // The allocator is shared by the tile's engines.
        rv_env_lock lock(queue != nullptr ? e : nullptr);
        started = true;
        const std::uint64_t front = std::uint64_t(align_offset) * (dq.use_shorts ? 2 : 4);
        for (int i = 0; i < buffer_lines; i++) {
            std::uint8_t* p =
                static_cast<std::uint8_t*>(allocator->alloc_bytes(line_bytes)) + front;
            if (dq.use_shorts)
                lines16.push_back(reinterpret_cast<std::int16_t*>(p));
            else if (dq.reversible)
                lines_i32.push_back(reinterpret_cast<std::int32_t*>(p));
            else
                lines_f32.push_back(reinterpret_cast<float*>(p));
        }
        lines.s16 = lines16.data();
        lines.i32 = lines_i32.data();
        lines.f32 = lines_f32.data();
    }
    if (queue != nullptr)
        while (rows_scheduled < std::min(depth, valid_blocks.size.y))
            schedule_row(e);
}

int rv_decoder::row_lines(int row) const
{
    if (row == 0)
        return std::min(lead_height, band_height);
    return std::max(0, std::min(block_height, band_height - row_start(row)));
}

int rv_decoder::row_start(int row) const
{
    return row == 0 ? 0 : lead_height + (row - 1) * block_height;
}

// Rows are ranked by when the caller will need them: their first line in the band, in
// rows of the full-resolution tile-component (smaller secondary sequences run first).
void rv_decoder::schedule_row(rvd_thread_env* env)
{
    schedule_row_at(rows_scheduled++, env);
}

void rv_decoder::schedule_row_at(int row, rvd_thread_env* env)
{
    const bool last = row + depth >= valid_blocks.size.y;
    slots[row % depth].row.store(row);
    const std::uint64_t need = std::uint64_t(row_start(row)) << std::min(std::max(dwt_level, 0), 31);
    const std::uint32_t seq = std::uint32_t(1 + std::min<std::uint64_t>(need, 0x7FFFFFFFu));
    env->add_jobs(slots[row % depth].queue, jobs_per_row, last, seq);
}

void rv_decoder::row_slot::do_job(rvd_thread_env* env, int job_idx)
{
    const int row = index + owner->depth * (job_idx / owner->jobs_per_row);
    owner->decode_columns(env, row, job_idx % owner->jobs_per_row);
}

// One job's share of a block row: contiguous block columns, each checked against the
// partition the band's shape describes.
void rv_decoder::decode_columns(rvd_thread_env* env, int row, int job)
{
    const int n = valid_blocks.size.x;
    const int c0 = int(std::int64_t(job) * n / jobs_per_row);
    const int c1 = int(std::int64_t(job + 1) * n / jobs_per_row);
    const int height = row_lines(row);
    const int half = (row % depth) * block_height;
    rv_line_ptrs rows;
    rows.s16 = lines.s16 != nullptr && !lines16.empty() ? lines.s16 + half : nullptr;
    rows.i32 = lines.i32 != nullptr && !lines_i32.empty() ? lines.i32 + half : nullptr;
    rows.f32 = lines.f32 != nullptr && !lines_f32.empty() ? lines.f32 + half : nullptr;
    int x_off = c0 == 0 ? 0 : lead_width + (c0 - 1) * block_width;
    for (int j = c0; j < c1; j++) {
        const int expected = std::min(j == 0 ? lead_width : block_width, width - x_off);
        rvd_coords idx(valid_blocks.pos.y + row, valid_blocks.pos.x + j);
        rvd_block* block = access->open_block(idx, env);
        if (block == nullptr)
            rv_raise_core_error("Code-block could not be opened for decoding.");
        rvd_coords ext = block->region.size;
        if (block->transpose)
            ext.transpose();
        if (ext.y != height || height < 1 || half + height > buffer_lines || ext.x != expected ||
            expected < 1 || block->region.pos.y < 0 || block->region.pos.x < 0 ||
            block->region.pos.y + block->region.size.y > block->size.y ||
            block->region.pos.x + block->region.size.x > block->size.x) {
            access->close_block(block, env);
            rv_raise_core_error("Code-block region does not match the subband's code-block "
                                "partition.");
        }
        if (access->decode(block_decoder, block))
            dq.convert(*block, rows, x_off);
        else
            dq.zero(*block, rows, x_off);
        access->close_block(block, env);
        x_off += ext.x;
    }
}

void rv_decoder::do_job(rvd_thread_env* env, int job_idx)
{
    if (queue != nullptr) {
        decode_columns(env, job_idx / jobs_per_row, job_idx % jobs_per_row);
        return;
    }
    const int row = job_idx / jobs_per_row;
    int height = -1;
    int x_off = 0;
    for (int j = 0; j < valid_blocks.size.x; j++) {
        rvd_coords idx(valid_blocks.pos.y + row, valid_blocks.pos.x + j);
        rvd_block* block = access->open_block(idx, env);
        if (block == nullptr)
            rv_raise_core_error("Code-block could not be opened for decoding.");
        rvd_coords ext = block->region.size;
        if (block->transpose)
            ext.transpose();
        if (height < 0)
            height = ext.y;
        // Every block of the row as tall as the first, side by side within the band's
        // width and the buffer's lines, its region inside its samples.
        if (ext.y != height || ext.y < 1 || ext.y > buffer_lines || ext.y > rows_left ||
            ext.x < 1 || ext.x > width - x_off || block->region.pos.y < 0 ||
            block->region.pos.x < 0 ||
            block->region.pos.y + block->region.size.y > block->size.y ||
            block->region.pos.x + block->region.size.x > block->size.x) {
            access->close_block(block, env);
            rv_raise_core_error("Code-block region does not match the subband's code-block "
                                "partition.");
        }
        if (access->decode(block_decoder, block))
            dq.convert(*block, lines, x_off);
        else
            dq.zero(*block, lines, x_off);
        access->close_block(block, env);
        x_off += ext.x;
    }
    if (x_off != width)
        rv_raise_core_error("Code-block region does not match the subband's code-block "
                            "partition.");
    row_height = height;
}

void rv_decoder::pull(rvd_line_buf& line, rvd_thread_env* env)
{
    if (!started)
        start(env);
    if (line.get_width() <= pull_offset)
        return;
    if (rows_left <= 0)
        rv_raise_core_error("Attempting to pull more lines from a subband decoder than its "
                            "subband has.");
    if (line.is_shorts() != dq.use_shorts ||
        (dq.use_shorts ? line.get_buf16() == nullptr : line.get_buf32() == nullptr))
        rv_raise_core_error("Line given to the subband decoder has the wrong sample size or "
                            "no storage.");
    if (next_line == lines_ready) {
        if (rows_fetched >= valid_blocks.size.y)
            rv_raise_core_error("Code-block region does not match the subband's code-block "
                                "partition.");
        if (queue != nullptr) {
            rvd_thread_env* e = env != nullptr ? env : creator_env;
            const int k = rows_fetched % depth;
            e->process_jobs(slots[k].queue, false, true);
            next_line = k * block_height;
            lines_ready = next_line + row_lines(rows_fetched);
            if (lines_ready == next_line)
                rv_raise_core_error("Code-block region does not match the subband's code-block "
                                    "partition.");
        } else {
            do_job(env, rows_fetched * jobs_per_row);
            lines_ready = row_height;
            next_line = 0;
        }
        rows_fetched++;
    }
    const int n = std::min(width, line.get_width() - pull_offset);
    const size_t bytes = dq.use_shorts ? 2 : 4;
    std::uint8_t* dst = dq.use_shorts ? reinterpret_cast<std::uint8_t*>(line.get_buf16())
                                      : reinterpret_cast<std::uint8_t*>(line.get_buf32());
    const void* src = dq.use_shorts ? static_cast<const void*>(lines16[size_t(next_line)])
                      : dq.reversible ? static_cast<const void*>(lines_i32[size_t(next_line)])
                                      : static_cast<const void*>(lines_f32[size_t(next_line)]);
    std::memcpy(dst + size_t(pull_offset) * bytes, src, size_t(n) * bytes);
    next_line++;
    rows_left--;
    // The row's slot is free again: a later block row can be decoded into it meanwhile.
    if (queue != nullptr && next_line == lines_ready && rows_scheduled < valid_blocks.size.y)
        schedule_row(env != nullptr ? env : creator_env);
}

void rv_decoder::pull_columns(int reader, rvd_line_buf& line, int first_col, int count,
                              rvd_thread_env* env)
{
    rvd_thread_env* e = env != nullptr ? env : creator_env;
    if (queue == nullptr || reader < 0 || reader >= num_readers || !started)
        rv_raise_core_error("Invalid arguments given to the subband decoder.");
    reader_place& at = places[reader];
    if (at.rows_left <= 0)
        rv_raise_core_error("Attempting to pull more lines from a subband decoder than its "
                            "subband has.");
    if (first_col < 0 || count < 0 || first_col + count > width || count > line.get_width() ||
        line.is_shorts() != dq.use_shorts ||
        (dq.use_shorts ? line.get_buf16() == nullptr : line.get_buf32() == nullptr))
        rv_raise_core_error("Line given to the subband decoder has the wrong sample size or "
                            "no storage.");
    if (at.next_line == at.lines_ready) {
        const int k = at.rows_fetched % depth;
        if (at.rows_fetched >= valid_blocks.size.y)
            rv_raise_core_error("Code-block region does not match the subband's code-block "
                                "partition.");
        // A slot still holding an earlier row would mean the strips ran further apart
        // than the slots allow; waiting here could never end.
        if (slots[k].row.load() != at.rows_fetched)
            rv_raise_core_error("Column strips of a subband ran too far apart.");
        e->process_jobs(slots[k].queue, false, true);
        at.next_line = k * block_height;
        at.lines_ready = at.next_line + row_lines(at.rows_fetched);
        if (at.lines_ready == at.next_line)
            rv_raise_core_error("Code-block region does not match the subband's code-block "
                                "partition.");
        at.rows_fetched++;
    }
    const size_t bytes = dq.use_shorts ? 2 : 4;
    std::uint8_t* dst = dq.use_shorts ? reinterpret_cast<std::uint8_t*>(line.get_buf16())
                                      : reinterpret_cast<std::uint8_t*>(line.get_buf32());
    const std::uint8_t* src = static_cast<const std::uint8_t*>(
        dq.use_shorts ? static_cast<const void*>(lines16[size_t(at.next_line)])
        : dq.reversible ? static_cast<const void*>(lines_i32[size_t(at.next_line)])
                        : static_cast<const void*>(lines_f32[size_t(at.next_line)]));
    std::memcpy(dst, src + size_t(first_col) * bytes, size_t(count) * bytes);
    at.next_line++;
    at.rows_left--;
    if (at.next_line != at.lines_ready)
        return;
    // The last reader to leave a block row frees its slot for the row `depth` later.
    const int row = at.rows_fetched - 1;
    row_slot& slot = slots[row % depth];
    if (slot.readers_done.fetch_add(1) + 1 == num_readers) {
        slot.readers_done.store(0);
        if (row + depth < valid_blocks.size.y)
            schedule_row_at(row + depth, e);
    }
}

// Subband glue ----------------------------------------------------------------------------

namespace {

class subband_access : public rv_block_access {
public:
    explicit subband_access(rvd_subband band) : band(band) {}
    rvd_block* open_block(rvd_coords idx, rvd_thread_env* env) override
    {
        return band.open_block(idx, nullptr, env);
    }
    void close_block(rvd_block* block, rvd_thread_env* env) override
    {
        band.close_block(block, env);
    }

private:
    rvd_subband band;
};

} // namespace

rv_band_shape rv_band_shape_of(rvd_subband band)
{
    rv_band_shape s;
    band.get_dims(s.dims);
    band.get_valid_blocks(s.valid_blocks);
    band.get_block_size(s.block_size, s.first_block_size);
    s.K_max = band.get_K_max();
    s.K_max_prime = band.get_K_max_prime();
    s.reversible = band.get_reversible();
    s.delta = band.get_delta();
    const rv_codestream* cs = band.get_state()->resolution->codestream;
    s.rows_reversed = cs->vflip;
    s.cols_reversed = cs->hflip;
    s.band_idx = band.get_band_idx();
    s.dwt_level = band.access_resolution().get_dwt_level();
    return s;
}

rvd_pull_ifc_base* rv_make_decoder(rvd_subband band, rvd_sample_allocator* allocator,
                                   bool use_shorts, float normalization, int pull_offset,
                                   rvd_thread_env* env, rvd_thread_queue* env_queue)
{
    return new rv_decoder(rv_band_shape_of(band), new subband_access(band), allocator,
                          use_shorts, normalization, pull_offset, env, env_queue);
}

rv_decoder* rv_make_shared_decoder(rvd_subband band, rvd_sample_allocator* allocator,
                                   bool use_shorts, float normalization, rvd_thread_env* env,
                                   rvd_thread_queue* env_queue, int readers, int min_depth)
{
    return new rv_decoder(rv_band_shape_of(band), new subband_access(band), allocator,
                          use_shorts, normalization, 0, env, env_queue, readers, min_depth);
}

rvd_decoder::rvd_decoder(rvd_subband band, rvd_sample_allocator* allocator, bool use_shorts,
                         float normalization, int pull_offset, rvd_thread_env* env,
                         rvd_thread_queue* env_queue)
{
    if (!band.exists())
        rv_raise_core_error("Subband decoder requested for a missing subband.");
    state = rv_make_decoder(band, allocator, use_shorts, normalization, pull_offset, env,
                            env_queue);
}
