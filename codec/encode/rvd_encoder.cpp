#include "codec/encode/rvd_encoder.h"

#include "codec/core/rv_codestream.h"
#include "codec/core/rv_subband.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_thread_env.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const std::uint32_t sign_bit = 0x80000000u;
const std::uint32_t max_magnitude = 0x7FFFFFFFu;

// Line sample to sign-magnitude word, one per line format. Magnitudes are formed in 64
// bits (or double) and saturate instead of reaching the sign bit.
struct rev_q {
    int shift; // 31 - K_max, 0 .. 31
    template <class T>
    std::uint32_t operator()(T x, bool& clipped) const
    {
        const std::int64_t v = std::int64_t(x);
        std::uint64_t m = std::uint64_t(v < 0 ? -v : v) << shift;
        if (m > max_magnitude) {
            m = max_magnitude;
            clipped = true;
        }
        return std::uint32_t(m) | (v < 0 ? sign_bit : 0u);
    }
};

struct irr_q {
    double factor; // magnitude word per line unit
    template <class T>
    std::uint32_t operator()(T x, bool& clipped) const
    {
        if (x == T(0))
            return 0; // also when the factor is not finite
        const double a = std::fabs(double(x)) * factor;
        std::uint32_t m;
        if (a < 2147483648.0) {
            m = std::uint32_t(a);
            if (m > max_magnitude)
                m = max_magnitude; // only a value rounding up to 2^31 lands here
        } else {
            m = max_magnitude; // also NaN and infinite samples
            clipped = true;
        }
        return m | (x < T(0) ? sign_bit : 0u);
    }
};

// Magnitude bits of the top K planes (bits 30 down to 31 - K).
std::uint32_t top_planes(int K)
{
    K = std::max(0, std::min(31, K));
    return std::uint32_t(((std::uint64_t(1) << K) - 1) << (31 - K));
}

// Quantises the apparent rows `rows[i] + x_off` into the block's samples, in the block's
// own order (transposed and flipped as the view asks).
template <class T, class Q>
bool quantise_block(rvd_block& block, std::uint8_t* const* rows, int x_off, const Q& q)
{
    const int H = block.transpose ? block.size.x : block.size.y;
    const int W = block.transpose ? block.size.y : block.size.x;
    const std::ptrdiff_t stride = block.size.x;
    std::uint32_t* dst = reinterpret_cast<std::uint32_t*>(block.sample_buffer);
    bool clipped = false;
    for (int i = 0; i < H; i++) {
        const T* sp = reinterpret_cast<const T*>(rows[i]) + x_off;
        const int ip = block.vflip ? H - 1 - i : i;
        std::uint32_t* dp;
        std::ptrdiff_t step;
        if (block.transpose) {
            dp = dst + ip + (block.hflip ? std::ptrdiff_t(W - 1) * stride : 0);
            step = block.hflip ? -stride : stride;
        } else {
            dp = dst + std::ptrdiff_t(ip) * stride + (block.hflip ? W - 1 : 0);
            step = block.hflip ? -1 : 1;
        }
        for (int j = 0; j < W; j++, dp += step)
            *dp = q(sp[j], clipped);
    }
    return clipped;
}

// The mask byte of each block sample, in the block's order, as the samples were placed.
void gather_mask(const rvd_block& block, std::uint8_t* const* masks, int x_off,
                 std::vector<std::uint8_t>& out)
{
    const int H = block.transpose ? block.size.x : block.size.y;
    const int W = block.transpose ? block.size.y : block.size.x;
    const std::ptrdiff_t stride = block.size.x;
    out.assign(size_t(H) * size_t(W), 0);
    for (int i = 0; i < H; i++) {
        const int ip = block.vflip ? H - 1 - i : i;
        for (int j = 0; j < W; j++) {
            const int jp = block.hflip ? W - 1 - j : j;
            const std::ptrdiff_t k = block.transpose ? std::ptrdiff_t(jp) * stride + ip
                                                     : std::ptrdiff_t(ip) * stride + jp;
            out[size_t(k)] = masks[i][x_off + j];
        }
    }
}

} // namespace

void rv_block_sink::encode(rvd_block_encoder& encoder, rvd_block* block, bool reversible,
                           double weight, int slope_threshold)
{
    encoder.encode(block, reversible, weight, std::uint16_t(slope_threshold));
}

void rv_quantizer::check() const
{
    if (reversible && K_max > 31)
        rv_raise_core_error("Insufficient implementation precision available for true "
                            "reversible compression!");
}

double rv_quantizer::factor() const
{
    return std::ldexp(1.0, 31 - K_max) / (use_shorts ? step * 8192.0 : step);
}

void rv_encoder::roi_owner::reset()
{
    if (node == nullptr)
        return;
    node->release();
    delete node;
    node = nullptr;
}

rv_encoder::rv_encoder(const rv_encoder_shape& shape, rv_block_sink* sink,
                       rvd_sample_allocator* allocator, bool use_shorts, float normalization,
                       rvd_roi_node* roi_node, rvd_thread_env* env, rvd_thread_queue* env_queue)
    : roi(roi_node), sink(sink), creator_env(env), allocator(allocator)
{
    if (allocator == nullptr || sink == nullptr)
        rv_raise_core_error("Invalid arguments given to the subband encoder.");
    const rv_band_shape& b = shape.band;
    q.K_max = b.K_max;
    q.reversible = b.reversible;
    q.use_shorts = use_shorts;
    q.step = double(b.delta) * double(normalization);
    K_max_prime = b.K_max_prime;
    msb_wmse = shape.msb_wmse;
    has_roi_weight = shape.has_roi_weight;
    roi_weight = has_roi_weight ? shape.roi_weight : 1.0f;
    slope_threshold = std::max(1, std::min(0xFFFF, shape.slope_threshold));
    valid_blocks = b.valid_blocks;
    if (b.dims.is_empty() || b.valid_blocks.is_empty()) {
        roi.reset();
        return; // nothing to code, nothing reserved
    }
    q.check();
    if (q.K_max < K_max_prime && K_max_prime - q.K_max < q.K_max)
        rv_raise_core_error("You have selected too small a value for the ROI up-shift parameter.  "
                            "The up-shift should be at least as large as the largest number of "
                            "magnitude bit-planes in any subband; otherwise, the foreground and "
                            "background regions might not be properly distinguished by the "
                            "decompressor.");
    width = b.dims.size.x;
    band_height = rows_left = b.dims.size.y;
    block_width = b.block_size.x;
    block_height = b.block_size.y;
    const int nr = valid_blocks.size.y, nc = valid_blocks.size.x;
    if (block_width < 1 || block_height < 1 || b.first_block_size.x < 1 ||
        b.first_block_size.y < 1 || b.first_block_size.x > block_width ||
        b.first_block_size.y > block_height ||
        std::int64_t(nc) * block_width < width || std::int64_t(nr) * block_height < band_height)
        rv_raise_core_error("Inconsistent code-block partition found while building a "
                            "subband encoder.");
    // A flipped view starts with the real partition's last block row (column).
    lead_height = (b.rows_reversed && nr >= 2)
                      ? band_height - b.first_block_size.y - (nr - 2) * block_height
                      : b.first_block_size.y;
    lead_width = (b.cols_reversed && nc >= 2)
                     ? width - b.first_block_size.x - (nc - 2) * block_width
                     : b.first_block_size.x;
    buffer_lines = std::min(block_height, band_height);
    if (env != nullptr) {
        queue = env->add_queue(this, env_queue, "block encoder");
        if (env->get_num_threads() > 1) {
            const std::int64_t j = std::int64_t(buffer_lines) * width / 8192;
            jobs_per_row = int(std::max<std::int64_t>(1, std::min<std::int64_t>(32, j)));
            // Low bands code one block row while the next is pushed; their jobs rank
            // first, coarser levels before finer.
            if (nr > 1 && b.band_idx <= 8 / jobs_per_row + 1) {
                double_buffer = true;
                buffer_lines = block_height + std::min(block_height, band_height - lead_height);
                bank = std::uint32_t(64 - b.dwt_level);
            }
        }
    }
    const int x0 = b.dims.pos.x;
    pad = use_shorts ? (-x0) & 7 : (-x0) & 3;
    const std::uint64_t samples = std::uint64_t(pad) + std::uint64_t(width);
    line_bytes = use_shorts ? 2 * ((samples + 7) & ~std::uint64_t(7))
                            : 4 * ((samples + 3) & ~std::uint64_t(3));
    if (roi.node != nullptr && K_max_prime == q.K_max && !has_roi_weight)
        roi.reset(); // the mask changes nothing
    if (roi.node != nullptr)
        mask_bytes = (std::uint64_t(width) + 15) & ~std::uint64_t(15);
    for (int i = 0; i < buffer_lines; i++) {
        allocator->pre_alloc(line_bytes);
        if (mask_bytes > 0)
            allocator->pre_alloc(mask_bytes);
    }
    fill_end = std::min(lead_height, band_height);
}

rv_encoder::~rv_encoder() = default;

void rv_encoder::start(rvd_thread_env* env)
{
    // The allocator is shared by the tile's engines.
    rv_env_lock lock(queue != nullptr ? (env != nullptr ? env : creator_env) : nullptr);
    started = true;
    const std::uint64_t front = std::uint64_t(pad) * (q.use_shorts ? 2 : 4);
    for (int i = 0; i < buffer_lines; i++) {
        lines.push_back(static_cast<std::uint8_t*>(allocator->alloc_bytes(line_bytes)) + front);
        if (mask_bytes > 0)
            masks.push_back(static_cast<std::uint8_t*>(allocator->alloc_bytes(mask_bytes)));
    }
}

int rv_encoder::row_lines(int row) const
{
    if (row == 0)
        return std::min(lead_height, band_height);
    const int first = lead_height + (row - 1) * block_height;
    return std::max(0, std::min(block_height, band_height - first));
}

void rv_encoder::push(rvd_line_buf& line, rvd_thread_env* env)
{
    if (rows_left <= 0)
        rv_raise_core_error("Attempting to push more lines into a subband encoder than its "
                            "subband has.");
    if (line.is_shorts() != q.use_shorts || line.get_width() < width ||
        (q.use_shorts ? line.get_buf16() == nullptr : line.get_buf32() == nullptr))
        rv_raise_core_error("Line given to the subband encoder has the wrong sample size, "
                            "width or no storage.");
    rvd_thread_env* e = env != nullptr ? env : creator_env;
    if (!started)
        start(e);
    if (fill_row == fill_end) {
        // The previous push handed a block row over; its buffer half must be free.
        if (queue != nullptr)
            e->process_jobs(queue, false, true);
        fill_row = (double_buffer && (rows_handed & 1)) ? block_height : 0;
        fill_end = fill_row + row_lines(rows_handed);
    }
    const size_t bytes = q.use_shorts ? 2 : 4;
    const void* src = q.use_shorts ? static_cast<const void*>(line.get_buf16())
                                   : static_cast<const void*>(line.get_buf32());
    std::memcpy(lines[size_t(fill_row)], src, size_t(width) * bytes);
    if (roi.node != nullptr) {
        rv_env_lock lock(queue != nullptr ? e : nullptr);
        roi.node->pull(masks[size_t(fill_row)], width);
    }
    fill_row++;
    rows_left--;
    if (fill_row < fill_end)
        return;
    const int row = rows_handed++;
    if (queue == nullptr) {
        do_job(e, row);
        fill_row = 0;
        fill_end = row_lines(rows_handed);
        return;
    }
    e->add_jobs(queue, jobs_per_row, rows_left == 0, bank);
    // Only the first block row of a double buffer lets filling go straight on.
    if (double_buffer && row == 0 && rows_left > 0) {
        fill_row = block_height;
        fill_end = fill_row + row_lines(1);
    }
}

void rv_encoder::do_job(rvd_thread_env* env, int job_idx)
{
    code_columns(env, job_idx / jobs_per_row, job_idx % jobs_per_row);
}

// One job's share of a block row: contiguous block columns, each checked against the
// partition the band's shape describes.
void rv_encoder::code_columns(rvd_thread_env* env, int row, int job)
{
    const int n = valid_blocks.size.x;
    const int c0 = int(std::int64_t(job) * n / jobs_per_row);
    const int c1 = int(std::int64_t(job + 1) * n / jobs_per_row);
    const int height = row_lines(row);
    const int half = (double_buffer && (row & 1)) ? block_height : 0;
    int x_off = c0 == 0 ? 0 : lead_width + (c0 - 1) * block_width;
    for (int c = c0; c < c1; c++) {
        const int expected = std::min(c == 0 ? lead_width : block_width, width - x_off);
        rvd_block* block = sink->open_block(
            rvd_coords(valid_blocks.pos.y + row, valid_blocks.pos.x + c), env);
        if (block == nullptr)
            rv_raise_core_error("Code-block could not be opened for encoding.");
        rvd_coords ext = block->size;
        if (block->transpose)
            ext.transpose();
        if (ext.y != height || height < 1 || half + height > buffer_lines || ext.x != expected ||
            expected < 1) {
            sink->close_block(block, env);
            rv_raise_core_error("Code-block size does not match the subband's code-block "
                                "partition.");
        }
        code_block(env, block, half, x_off);
        sink->close_block(block, env);
        x_off += ext.x;
    }
}

void rv_encoder::code_block(rvd_thread_env* env, rvd_block* block, int half, int x_off)
{
    const int rows = 4 * ((block->size.y + 3) / 4);
    block->set_max_samples(std::max(4096, rows * block->size.x));
    std::uint8_t* const* src = lines.data() + half;
    bool clipped;
    if (q.reversible) {
        const rev_q f{std::max(0, std::min(31, 31 - q.K_max))};
        clipped = q.use_shorts ? quantise_block<std::int16_t>(*block, src, x_off, f)
                               : quantise_block<std::int32_t>(*block, src, x_off, f);
    } else {
        const irr_q f{q.factor()};
        clipped = q.use_shorts ? quantise_block<std::int16_t>(*block, src, x_off, f)
                               : quantise_block<float>(*block, src, x_off, f);
    }
    if (clipped)
        warn_clipped(env);
    const int num = block->size.y * block->size.x;
    std::uint32_t* w = reinterpret_cast<std::uint32_t*>(block->sample_buffer);
    int K = q.K_max;
    double weight = msb_wmse * double(roi_weight);
    if (roi.node != nullptr) {
        thread_local std::vector<std::uint8_t> mask;
        gather_mask(*block, masks.data() + half, x_off, mask);
        const bool any_foreground =
            std::any_of(mask.begin(), mask.end(), [](std::uint8_t m) { return m != 0; });
        if (K_max_prime == q.K_max && !any_foreground)
            weight = msb_wmse; // wholly background
        if (q.K_max < K_max_prime) {
            // The foreground keeps the top K_max planes; the background moves below them.
            const int down = K_max_prime - q.K_max;
            const std::uint32_t keep = top_planes(q.K_max);
            bool shifted = false;
            for (int k = 0; k < num; k++) {
                std::uint32_t mag = w[k] & keep;
                if (mask[size_t(k)] == 0) {
                    mag = down >= 31 ? 0u : mag >> down;
                    shifted = true;
                }
                w[k] = (w[k] & sign_bit) | mag;
            }
            if (shifted)
                K = K_max_prime;
            if (K > 30 && q.reversible)
                warn_large_shift(env);
        }
    } else if (q.K_max < K_max_prime) {
        // Without a mask everything is foreground: only the top K_max planes are coded.
        const std::uint32_t keep = top_planes(q.K_max);
        for (int k = 0; k < num; k++)
            w[k] &= sign_bit | keep;
    }
    K = std::min(K, 31);
    std::uint32_t any = 0;
    for (int k = 0; k < num; k++)
        any |= w[k] & max_magnitude;
    const int missing = any == 0 ? 31 : __builtin_clz(any) - 1;
    if (missing < K) {
        block->missing_msbs = missing;
        block->num_passes = 3 * (K - missing) - 2;
    } else {
        block->missing_msbs = K;
        block->num_passes = 0;
    }
    sink->encode(block_encoder, block, q.reversible, weight, slope_threshold);
}

void rv_encoder::warn_clipped(rvd_thread_env* env)
{
    {
        rv_env_lock lock(queue != nullptr ? env : nullptr);
        if (clip_warned)
            return;
        clip_warned = true;
    }
    rv_issue_core_warning("Sample values exceed the range of the subband's magnitude bit-planes "
                          "and have been clipped; check `Sprecision' and `Qguard'.");
}

void rv_encoder::warn_large_shift(rvd_thread_env* env)
{
    {
        rv_env_lock lock(queue != nullptr ? env : nullptr);
        if (shift_warned)
            return;
        shift_warned = true;
    }
    rv_issue_core_warning(
        "The ROI shift (`Rshift' attribute) which you are using is too large to ensure truly "
        "lossless recovery of both the foreground and the background regions, at least by "
        "Ravade -- other compliant implementations may give up much earlier.  You might like "
        "to consider using the `Rweight' attribute instead of `Rshift' -- a 32x32 code-block "
        "size (not the default) is recommended in this case and `Rweight' should be set to "
        "around 2 to the power of the `Rshift' value you would have used.");
}

// Subband glue ----------------------------------------------------------------------------

namespace {

class subband_sink : public rv_block_sink {
public:
    explicit subband_sink(rvd_subband band) : band(band) {}
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

rv_encoder_shape rv_encoder_shape_of(rvd_subband band)
{
    rv_encoder_shape s;
    s.band = rv_band_shape_of(band);
    s.msb_wmse = band.get_msb_wmse();
    float w = 1.0f;
    s.has_roi_weight = band.get_roi_weight(w);
    s.roi_weight = s.has_roi_weight ? w : 1.0f;
    s.slope_threshold = band.get_conservative_slope_threshold();
    return s;
}

rvd_push_ifc_base* rv_create_subband_encoder(rvd_subband band, rvd_sample_allocator* allocator,
                                             bool use_shorts, float normalization,
                                             rvd_roi_node* roi, rvd_thread_env* env,
                                             rvd_thread_queue* env_queue)
{
    if (!band.exists()) {
        if (roi != nullptr) {
            roi->release();
            delete roi;
        }
        rv_raise_core_error("Subband encoder requested for a missing subband.");
    }
    rv_encoder_shape shape;
    try {
        shape = rv_encoder_shape_of(band);
    } catch (...) {
        if (roi != nullptr) {
            roi->release();
            delete roi;
        }
        throw;
    }
    return new rv_encoder(shape, new subband_sink(band), allocator, use_shorts, normalization,
                          roi, env, env_queue);
}

rvd_encoder::rvd_encoder(rvd_subband band, rvd_sample_allocator* allocator, bool use_shorts,
                         float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                         rvd_thread_queue* env_queue)
{
    state = rv_create_subband_encoder(band, allocator, use_shorts, normalization, roi, env,
                                      env_queue);
}
