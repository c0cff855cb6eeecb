#include "image/WarpAffine.h"

#include "image/WarpVariants.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>

int cpu_variant_index = 0;

namespace {

// Corners further out than this would overflow the integer conversions of clipping.
const double kCornerLimit = 1073741824.0;

int LayoutOf(int format) { return format & 7; }
int TypeOf(int format) { return format >> 3; }

int BlendChannels(int layout)
{
    switch (layout) {
    case warp_layout_gray:
        return 1;
    case warp_layout_rgb:
    case warp_layout_planar3:
        return 3;
    default:
        return 4;
    }
}

int PixelStride(int layout)
{
    switch (layout) {
    case warp_layout_rgb:
        return 3;
    case warp_layout_rgbx:
    case warp_layout_rgba:
        return 4;
    default:
        return 1;
    }
}

bool IsPlanar(int layout) { return layout == warp_layout_planar3 || layout == warp_layout_planar4; }

// Ceiling and floor as the span rules state them; values are bounded by the corner limit.
double CeilOf(double v) { return std::ceil(v); }
double FloorOf(double v) { return std::floor(v); }

void PolygonExtent(const double* p, int n, double& minX, double& minY, double& maxX, double& maxY)
{
    minX = maxX = p[0];
    minY = maxY = p[1];
    for (int i = 1; i < n; ++i) {
        minX = std::min(minX, p[2 * i]);
        maxX = std::max(maxX, p[2 * i]);
        minY = std::min(minY, p[2 * i + 1]);
        maxY = std::max(maxY, p[2 * i + 1]);
    }
}

// One Sutherland-Hodgman pass. axis 0 clips x, 1 clips y; keepGreater keeps v >= bound.
int ClipPass(const double* in, int n, double* out, int axis, double bound, bool keepGreater)
{
    auto inside = [&](const double* p) { return keepGreater ? p[axis] >= bound : p[axis] <= bound; };
    auto strictlyInside = [&](const double* p) { return keepGreater ? p[axis] > bound : p[axis] < bound; };
    auto strictlyOutside = [&](const double* p) { return keepGreater ? p[axis] < bound : p[axis] > bound; };
    const int other = 1 - axis;
    int m = 0;
    for (int i = 0; i < n && m + 2 <= warp_max_vertices; ++i) {
        const double* a = in + 2 * i;
        const double* b = in + 2 * ((i + 1) % n);
        if ((strictlyInside(a) && strictlyOutside(b)) || (strictlyOutside(a) && strictlyInside(b))) {
            double q[2];
            q[axis] = bound;
            q[other] = a[other] + (bound - a[axis]) * (b[other] - a[other]) / (b[axis] - a[axis]);
            out[2 * m] = q[0];
            out[2 * m + 1] = q[1];
            ++m;
        }
        if (inside(b)) {
            out[2 * m] = b[0];
            out[2 * m + 1] = b[1];
            ++m;
        }
    }
    return m;
}

// Accessors of one destination pixel for the smooth pass.
template <typename T>
void BlendTyped(void* dst, ptrdiff_t step, bool planar, int channels, int stride, int tx, int ty, double wt, int nx,
                int ny, double wn)
{
    for (int c = 0; c < channels; ++c) {
        T* t;
        const T* n;
        if (planar) {
            char* plane = static_cast<char**>(dst)[c];
            t = reinterpret_cast<T*>(plane + step * ty) + tx;
            n = reinterpret_cast<const T*>(plane + step * ny) + nx;
        } else {
            char* base = static_cast<char*>(dst);
            t = reinterpret_cast<T*>(base + step * ty) + static_cast<ptrdiff_t>(tx) * stride + c;
            n = reinterpret_cast<const T*>(base + step * ny) + static_cast<ptrdiff_t>(nx) * stride + c;
        }
        const double v = static_cast<double>(*t) * wt + static_cast<double>(*n) * wn;
        if constexpr (std::is_same<T, float>::value)
            *t = static_cast<float>(v);
        else
            *t = static_cast<T>(static_cast<int>(v + 0.5));
    }
}

bool RectEndTooFar(int origin, int extent)
{
    return static_cast<int64_t>(origin) + static_cast<int64_t>(extent) - 1 > INT_MAX;
}

// Finite and far enough from singular.
bool CoefficientsUsable(const double* coeffs)
{
    for (int i = 0; i < 6; ++i)
        if (!std::isfinite(coeffs[i]))
            return false;
    const double d = coeffs[0] * coeffs[4];
    const double r = std::fabs(d) > 1e-200 ? std::fabs((d - coeffs[1] * coeffs[3]) / d)
                                           : std::fabs(coeffs[1] * coeffs[3]);
    return r > 1e-12;
}

bool SizesUsable(int srcWidth, int srcHeight, int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh)
{
    return !(srcWidth < 1 || srcHeight < 1 || sx < 0 || sy < 0 || sw < 1 || sh < 1 || dx < 0 || dy < 0 || dw < 1 ||
             dh < 1 || RectEndTooFar(sx, sw) || RectEndTooFar(sy, sh) || RectEndTooFar(dx, dw) ||
             RectEndTooFar(dy, dh));
}

// The destination rows and columns a warp fills, after its argument checks: the source
// rectangle's quadrangle, the inverse map and the spans, or the status that ends the warp.
int PlanSpans(int srcWidth, int srcHeight, int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh,
              const double* coeffs, double quad[8], double inv[6], int& orientation, warp_span_table& spans)
{
    if (sx >= srcWidth || sy >= srcHeight)
        return warp_source_outside;
    const int w = std::min(srcWidth - sx, sw);
    const int h = std::min(srcHeight - sy, sh);
    if (w < 2 || h < 2)
        return warp_source_too_small;
    const int x0 = sx, y0 = sy, x1 = sx + w - 1, y1 = sy + h - 1;
    if (warp_map_source_roi(coeffs, x0, y0, x1, y1, quad) < 0)
        return warp_bad_coefficients;
    orientation = warp_inverse_from_quadrangle(quad, x0, y0, x1, y1, 0, inv);
    if (!warp_build_spans(quad, orientation, dx, dy, dx + dw - 1, dy + dh - 1, spans))
        return warp_nothing_to_do;
    return warp_ok;
}

} // namespace

void warp_map_rect_corners(const double* c, double x0, double y0, double x1, double y1, double quad[8])
{
    const double xs[4] = {x0, x1, x1, x0};
    const double ys[4] = {y0, y0, y1, y1};
    for (int i = 0; i < 4; ++i) {
        quad[2 * i] = c[0] * xs[i] + c[1] * ys[i] + c[2];
        quad[2 * i + 1] = c[3] * xs[i] + c[4] * ys[i] + c[5];
    }
}

int warp_map_source_roi(const double* coeffs, int x0, int y0, int x1, int y1, double quad[8])
{
    warp_map_rect_corners(coeffs, x0, y0, x1, y1, quad);
    for (int i = 0; i < 8; ++i)
        if (!(std::fabs(quad[i]) <= kCornerLimit))
            return -5;
    return warp_check_quadrangle(quad);
}

int warp_check_quadrangle(const double q[8])
{
    const double x0 = q[0], y0 = q[1], x1 = q[2], y1 = q[3], x2 = q[4], y2 = q[5], x3 = q[6], y3 = q[7];
    const double e3 = (x3 - x2) * (y0 - y3) - (x0 - x3) * (y3 - y2);
    const double e0 = (x0 - x3) * (y1 - y0) - (y0 - y3) * (x1 - x0);
    const double e1 = (x1 - x0) * (y2 - y1) - (y1 - y0) * (x2 - x1);
    const double e2 = (x2 - x1) * (y3 - y2) - (x3 - x2) * (y2 - y1);
    const double e[4] = {e0, e1, e2, e3};
    int positive = 0, negative = 0;
    for (double v : e) {
        if (v == 0.0 || std::isnan(v))
            return -5;
        if (v > 0.0)
            ++positive;
        else
            ++negative;
    }
    if (positive != 4 && negative != 4)
        return -4;
    return positive == 4 ? 1 : 0;
}

int warp_inverse_from_quadrangle(const double q[8], int x0, int y0, int x1, int y1, int direction, double out[6])
{
    const double u = static_cast<double>(x1) - x0;
    const double v = static_cast<double>(y1) - y0;
    const double p0x = q[0], p0y = q[1], p1x = q[2], p1y = q[3], p2x = q[4], p2y = q[5];
    const double dxa = p1x - p0x, dxb = p2x - p1x, dya = p1y - p0y, dyb = p2y - p1y;
    const double det = dxa * dyb - dxb * dya;
    const double k = 1.0 / det;
    if (direction == 0) {
        out[0] = dyb * u * k;
        out[1] = -dxb * u * k;
        out[2] = x0 - out[1] * p0y - out[0] * p0x;
        out[3] = -dya * v * k;
        out[4] = dxa * v * k;
        out[5] = y0 - out[3] * p0x - out[4] * p0y;
    } else {
        // Forward map of the same three points.
        out[0] = dxa / u;
        out[1] = dxb / v;
        out[2] = p0x - out[0] * x0 - out[1] * y0;
        out[3] = dya / u;
        out[4] = dyb / v;
        out[5] = p0y - out[3] * x0 - out[4] * y0;
    }
    return k > 0.0 ? 1 : 0;
}

int warp_clip_min_y(const double* in, int n, double* out, double bound) { return ClipPass(in, n, out, 1, bound, true); }
int warp_clip_max_y(const double* in, int n, double* out, double bound) { return ClipPass(in, n, out, 1, bound, false); }
int warp_clip_min_x(const double* in, int n, double* out, double bound) { return ClipPass(in, n, out, 0, bound, true); }
int warp_clip_max_x(const double* in, int n, double* out, double bound) { return ClipPass(in, n, out, 0, bound, false); }

void warp_clip_quadrangle(double* poly, int* count, int X0, int Y0, int X1, int Y1)
{
    int n = *count;
    if (n < 1)
        return;
    double minX, minY, maxX, maxY;
    PolygonExtent(poly, n, minX, minY, maxX, maxY);
    if (maxY < Y0 || minY > Y1 || maxX < X0 || minX > X1) {
        *count = 0;
        return;
    }
    if (minY >= Y0 && maxY <= Y1 && minX >= X0 && maxX <= X1)
        return;
    double work[2 * warp_max_vertices];
    if (minY < Y0) {
        n = warp_clip_min_y(poly, n, work, Y0);
        std::copy(work, work + 2 * n, poly);
    }
    if (maxY > Y1) {
        n = warp_clip_max_y(poly, n, work, Y1);
        std::copy(work, work + 2 * n, poly);
    }
    if (minX < X0) {
        n = warp_clip_min_x(poly, n, work, X0);
        std::copy(work, work + 2 * n, poly);
    }
    if (maxX > X1) {
        n = warp_clip_max_x(poly, n, work, X1);
        std::copy(work, work + 2 * n, poly);
    }
    // Drop repeated vertices.
    int m = 0;
    for (int i = 0; i < n; ++i) {
        if (m > 0 && poly[2 * i] == poly[2 * (m - 1)] && poly[2 * i + 1] == poly[2 * (m - 1) + 1])
            continue;
        poly[2 * m] = poly[2 * i];
        poly[2 * m + 1] = poly[2 * i + 1];
        ++m;
    }
    *count = m;
}

warp_alloc_seam warp_alloc_counters = {0, 0, 0};

void* warp_alloc_aligned_bytes(size_t count)
{
    if (count < 1)
        return nullptr;
    // A failure asked for by a test counts down to the allocation it names.
    int pending = __atomic_load_n(&warp_alloc_counters.failNext, __ATOMIC_RELAXED);
    while (pending > 0) {
        if (__atomic_compare_exchange_n(&warp_alloc_counters.failNext, &pending, pending - 1, false,
                                        __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
            if (pending == 1)
                return nullptr;
            break;
        }
    }
    void* block = nullptr;
    if (posix_memalign(&block, 32, count) != 0)
        return nullptr;
    __atomic_fetch_add(&warp_alloc_counters.allocations, 1, __ATOMIC_RELAXED);
    return block;
}

void* warp_alloc_aligned(ptrdiff_t count)
{
    if (count < 1 || static_cast<size_t>(count) > std::numeric_limits<size_t>::max() / 4)
        return nullptr;
    return warp_alloc_aligned_bytes(static_cast<size_t>(count) * 4);
}

void warp_free_aligned(void* block)
{
    if (block)
        __atomic_fetch_add(&warp_alloc_counters.releases, 1, __ATOMIC_RELAXED);
    std::free(block);
}

void warp_fill_spans(const double* p, int n, int orientation, int firstRow, int rowCount, int X0, int X1,
                     int32_t* table)
{
    if (n < 1 || rowCount < 1)
        return;
    auto put = [&](int64_t row, double xl, double xr, bool allowance) {
        const int64_t i = row - firstRow;
        if (i < 0 || i >= rowCount)
            return;
        double left = CeilOf(xl);
        double right = FloorOf(xr);
        if (allowance) {
            if ((xl + 1.0) - left < 1e-14)
                left -= 1.0;
            if (right + (1.0 - xr) < 1e-14)
                right += 1.0;
        }
        left = std::max(left, static_cast<double>(X0));
        right = std::min(right, static_cast<double>(X1));
        if (left > right) {
            table[2 * i] = 1;
            table[2 * i + 1] = 0;
            return;
        }
        table[2 * i] = static_cast<int32_t>(left);
        table[2 * i + 1] = static_cast<int32_t>(right);
    };

    int top = 0;
    for (int i = 1; i < n; ++i)
        if (p[2 * i + 1] < p[2 * top + 1])
            top = i;
    const double topY = p[2 * top + 1];
    if (n == 1) {
        const double x = FloorOf(p[0]);
        put(firstRow, x, x, false);
        return;
    }
    // A polygon flat on its top row gets that row from its top vertices; any other polygon
    // has the row overwritten by the walk below.
    {
        double lo = p[2 * top], hi = p[2 * top];
        for (int i = 0; i < n; ++i)
            if (p[2 * i + 1] == topY) {
                lo = std::min(lo, p[2 * i]);
                hi = std::max(hi, p[2 * i]);
            }
        put(firstRow, lo, hi, false);
    }

    int pa = top, pb = (top - 1 + n) % n; // previous-chain edge pa -> pb
    int na = top, nb = (top + 1) % n;     // next-chain edge na -> nb
    int used = 2;
    int64_t row = firstRow;
    const int64_t lastRow = static_cast<int64_t>(firstRow) + rowCount - 1;
    for (;;) {
        bool done = false;
        while (p[2 * pb + 1] <= p[2 * pa + 1]) {
            if (used >= n) {
                done = true;
                break;
            }
            pa = pb;
            pb = (pb - 1 + n) % n;
            ++used;
        }
        while (!done && p[2 * nb + 1] <= p[2 * na + 1]) {
            if (used >= n) {
                done = true;
                break;
            }
            na = nb;
            nb = (nb + 1) % n;
            ++used;
        }
        if (done)
            break;
        const double pys = p[2 * pa + 1], pxs = p[2 * pa];
        const double nys = p[2 * na + 1], nxs = p[2 * na];
        const double pSlope = (p[2 * pb] - pxs) / (p[2 * pb + 1] - pys);
        const double nSlope = (p[2 * nb] - nxs) / (p[2 * nb + 1] - nys);
        const double end = std::min(p[2 * pb + 1], p[2 * nb + 1]);
        const int64_t bandLast = std::min(static_cast<int64_t>(FloorOf(end)), lastRow);
        for (int64_t r = row; r <= bandLast; ++r) {
            const double xp = (static_cast<double>(r) - pys) * pSlope + pxs;
            const double xn = (static_cast<double>(r) - nys) * nSlope + nxs;
            if (orientation == 1)
                put(r, xp, xn, true);
            else
                put(r, xn, xp, true);
        }
        row = std::max(row, bandLast + 1);
        const bool prevEnded = p[2 * pb + 1] <= end;
        const bool nextEnded = p[2 * nb + 1] <= end;
        if (prevEnded) {
            if (used >= n)
                break;
            pa = pb;
            pb = (pb - 1 + n) % n;
            ++used;
        }
        if (nextEnded) {
            if (used >= n)
                break;
            na = nb;
            nb = (nb + 1) % n;
            ++used;
        }
    }
}

bool warp_build_spans(const double quad[8], int orientation, int X0, int Y0, int X1, int Y1, warp_span_table& out)
{
    double poly[2 * warp_max_vertices];
    std::copy(quad, quad + 8, poly);
    int n = 4;
    warp_clip_quadrangle(poly, &n, X0, Y0, X1, Y1);
    if (n < 1)
        return false;
    double minX, minY, maxX, maxY;
    PolygonExtent(poly, n, minX, minY, maxX, maxY);
    const double firstRow = CeilOf(minY), lastRow = FloorOf(maxY);
    const double firstCol = CeilOf(minX), lastCol = FloorOf(maxX);
    if (lastRow < firstRow || lastCol < firstCol)
        return false;
    const ptrdiff_t rows = static_cast<ptrdiff_t>(lastRow - firstRow) + 1;
    int32_t* table = static_cast<int32_t*>(warp_alloc_aligned(2 * rows));
    if (!table)
        return false;
    // Rows the walk never reaches stay empty.
    for (ptrdiff_t i = 0; i < rows; ++i) {
        table[2 * i] = 1;
        table[2 * i + 1] = 0;
    }
    warp_fill_spans(poly, n, orientation, static_cast<int>(firstRow), static_cast<int>(rows), X0, X1, table);
    warp_free_aligned(out.spans);
    out.spans = table;
    out.firstRow = static_cast<int>(firstRow);
    out.lastRow = static_cast<int>(lastRow);
    return true;
}

void warp_blend_pixel(void* dst, int dstStep, int format, int tx, int ty, double wt, int nx, int ny, double wn)
{
    const int layout = LayoutOf(format);
    const int channels = BlendChannels(layout);
    const int stride = PixelStride(layout);
    const bool planar = IsPlanar(layout);
    switch (TypeOf(format)) {
    case warp_sample_8u:
        BlendTyped<uint8_t>(dst, dstStep, planar, channels, stride, tx, ty, wt, nx, ny, wn);
        break;
    case warp_sample_32f:
        BlendTyped<float>(dst, dstStep, planar, channels, stride, tx, ty, wt, nx, ny, wn);
        break;
    default:
        BlendTyped<uint16_t>(dst, dstStep, planar, channels, stride, tx, ty, wt, nx, ny, wn);
        break;
    }
}

void warp_smooth_edges(void* dst, int dstStep, int format, const double quad[8], int X0, int Y0, int X1, int Y1,
                       int orientation)
{
    double poly[2 * warp_max_vertices];
    std::copy(quad, quad + 8, poly);
    int n = 4;
    warp_clip_quadrangle(poly, &n, X0, Y0, X1, Y1);
    if (n < 3)
        return;
    auto inBounds = [&](double x, double y) { return x >= X0 && x <= X1 && y >= Y0 && y <= Y1; };
    for (int i = 0; i < n; ++i) {
        const double xi = poly[2 * i], yi = poly[2 * i + 1];
        const double xj = poly[2 * ((i + 1) % n)], yj = poly[2 * ((i + 1) % n) + 1];
        const double dx = xj - xi, dy = yj - yi;
        if (dx == 0.0 || dy == 0.0)
            continue;
        if (std::fabs(dy) > std::fabs(dx)) {
            const double y0 = CeilOf(std::min(yi, yj)), y1 = FloorOf(std::max(yi, yj));
            for (double y = y0; y <= y1; y += 1.0) {
                const double x = xi + (y - yi) * dx / dy;
                const bool ceilTarget = (orientation == 1 && dy > 0) || (orientation == 0 && dy <= 0);
                const double tcol = ceilTarget ? CeilOf(x) : FloorOf(x);
                const double ncol = ceilTarget ? FloorOf(x) : CeilOf(x);
                // Whole positions need no blend; columns outside the bounds are not ours.
                if (x == FloorOf(x) || !inBounds(tcol, y) || !inBounds(ncol, y))
                    continue;
                warp_blend_pixel(dst, dstStep, format, static_cast<int>(tcol), static_cast<int>(y),
                                 std::fabs(x - tcol), static_cast<int>(ncol), static_cast<int>(y),
                                 std::fabs(x - ncol));
            }
        } else {
            const double x0 = CeilOf(std::min(xi, xj)), x1 = FloorOf(std::max(xi, xj));
            for (double x = x0; x <= x1; x += 1.0) {
                const double y = yi + (x - xi) * dy / dx;
                const bool floorTarget = (orientation == 1 && dx > 0) || (orientation == 0 && dx <= 0);
                const double trow = floorTarget ? FloorOf(y) : CeilOf(y);
                const double nrow = floorTarget ? CeilOf(y) : FloorOf(y);
                if (y == FloorOf(y) || !inBounds(x, trow) || !inBounds(x, nrow))
                    continue;
                warp_blend_pixel(dst, dstStep, format, static_cast<int>(x), static_cast<int>(trow),
                                 std::fabs(y - trow), static_cast<int>(x), static_cast<int>(nrow),
                                 std::fabs(y - nrow));
            }
        }
    }
}

int warp_affine_with_kernels(const warp_kernel_table& kernels, bool coordinateBuffer, const void* src,
                             int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh, void* dst,
                             int dstStep, int dx, int dy, int dw, int dh, int format, const double* coeffs,
                             int interpolation)
{
    if (!src || !dst || !coeffs)
        return warp_null_pointer;
    if (!SizesUsable(srcWidth, srcHeight, sx, sy, sw, sh, dx, dy, dw, dh))
        return warp_bad_size;
    if (srcStep < 1 || dstStep < 1)
        return warp_bad_step;
    int interp = interpolation & 0x7fffffff;
    if (interp != warp_nearest && interp != warp_linear && interp != warp_cubic)
        return warp_bad_interpolation;
    const int layout = LayoutOf(format);
    const int type = TypeOf(format);
    if (layout > warp_layout_planar4 || type > warp_sample_16u || format < 0)
        return warp_bad_size;
    if (IsPlanar(layout)) {
        const void* const* sp = static_cast<const void* const*>(src);
        void* const* dp = static_cast<void* const*>(dst);
        const int planes = layout == warp_layout_planar4 ? 4 : 3;
        for (int i = 0; i < planes; ++i)
            if (!sp[i] || !dp[i])
                return warp_null_pointer;
    }
    if (!CoefficientsUsable(coeffs))
        return warp_bad_coefficients;
    if (srcWidth == 1 || srcHeight == 1)
        interp = warp_nearest;
    else if (interp == warp_cubic && (srcWidth < 4 || srcHeight < 4))
        interp = warp_linear;
    double quad[8], inv[6];
    int orientation = 0;
    warp_span_table spans;
    const int planned = PlanSpans(srcWidth, srcHeight, sx, sy, sw, sh, dx, dy, dw, dh, coeffs, quad, inv,
                                  orientation, spans);
    if (planned != warp_ok)
        return planned;
    const int X0 = dx, Y0 = dy, X1 = dx + dw - 1, Y1 = dy + dh - 1;

    // The cubic kernels of the processor variants park each row's source positions here:
    // two floats per pixel of the widest span.
    void* aux = nullptr;
    if (coordinateBuffer && interp == warp_cubic) {
        int32_t widest = 0;
        for (int r = 0; r <= spans.lastRow - spans.firstRow; ++r)
            widest = std::max(widest, spans.spans[2 * r + 1] - spans.spans[2 * r] + 1);
        aux = warp_alloc_aligned_bytes(static_cast<size_t>(std::max(widest, 1)) * 8);
        if (!aux)
            return warp_nothing_to_do;
    }

    const warp_row_kernel kernel = warp_kernel_at(kernels, warp_kernel_slot(format, interp));
    const ptrdiff_t rowOffset = static_cast<ptrdiff_t>(dstStep) * spans.firstRow;
    if (IsPlanar(layout)) {
        // The caller's plane array is never written: the kernel gets advanced copies.
        void* planes[4] = {};
        void* const* given = static_cast<void* const*>(dst);
        const int count = layout == warp_layout_planar4 ? 4 : 3;
        for (int i = 0; i < count; ++i)
            planes[i] = static_cast<char*>(given[i]) + rowOffset;
        kernel(src, planes, srcStep, dstStep, spans.firstRow, spans.lastRow, spans.spans, inv, srcWidth - 1,
               srcHeight - 1, aux);
    } else {
        kernel(src, static_cast<char*>(dst) + rowOffset, srcStep, dstStep, spans.firstRow, spans.lastRow,
               spans.spans, inv, srcWidth - 1, srcHeight - 1, aux);
    }
    warp_free_aligned(aux);
    warp_free_aligned(spans.spans);
    spans.spans = nullptr;

    if (interpolation & warp_smooth_edges_bit)
        warp_smooth_edges(dst, dstStep, format, quad, X0, Y0, X1, Y1, orientation);
    return warp_ok;
}

int warp_affine_spans(int srcWidth, int srcHeight, int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh,
                      const double* coeffs, warp_span_table& out)
{
    if (!coeffs)
        return warp_null_pointer;
    if (!SizesUsable(srcWidth, srcHeight, sx, sy, sw, sh, dx, dy, dw, dh))
        return warp_bad_size;
    if (!CoefficientsUsable(coeffs))
        return warp_bad_coefficients;
    double quad[8], inv[6];
    int orientation = 0;
    return PlanSpans(srcWidth, srcHeight, sx, sy, sw, sh, dx, dy, dw, dh, coeffs, quad, inv, orientation, out);
}

int warp_affine_generic(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,
                        void* dst, int dstStep, int dx, int dy, int dw, int dh, int format, const double* coeffs,
                        int interpolation)
{
    return warp_affine_with_kernels(warp_generic_kernels_native(), false, src, srcWidth, srcHeight, srcStep, sx,
                                    sy, sw, sh, dst, dstStep, dx, dy, dw, dh, format, coeffs, interpolation);
}

#define WARP_GENERIC_BODY(name, code)                                                                        \
    int name(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,        \
             void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs, int interpolation) \
    {                                                                                                        \
        return warp_affine_generic(src, srcWidth, srcHeight, srcStep, sx, sy, sw, sh, dst, dstStep, dx, dy, dw, \
                                   dh, code, coeffs, interpolation);                                         \
    }

WARP_GENERIC_BODY(warp_affine_gray8_generic, warp_gray8)
WARP_GENERIC_BODY(warp_affine_rgb8_generic, warp_rgb8)
WARP_GENERIC_BODY(warp_affine_rgbx8_generic, warp_rgbx8)
WARP_GENERIC_BODY(warp_affine_gray16_generic, warp_gray16)

namespace {
// The one dispatch point: entry 0 generic, 1 SSE, 2 SSE2, 3 SSE3, 4 SSSE3.
const warp_entry kGray8Table[5] = {warp_affine_gray8_generic, warp_affine_gray8_sse, warp_affine_gray8_sse2,
                                   warp_affine_gray8_sse3, warp_affine_gray8_ssse3};
const warp_entry kRgb8Table[5] = {warp_affine_rgb8_generic, warp_affine_rgb8_sse, warp_affine_rgb8_sse2,
                                  warp_affine_rgb8_sse3, warp_affine_rgb8_ssse3};
const warp_entry kRgbx8Table[5] = {warp_affine_rgbx8_generic, warp_affine_rgbx8_sse, warp_affine_rgbx8_sse2,
                                   warp_affine_rgbx8_sse3, warp_affine_rgbx8_ssse3};
const warp_entry kGray16Table[5] = {warp_affine_gray16_generic, warp_affine_gray16_sse, warp_affine_gray16_sse2,
                                    warp_affine_gray16_sse3, warp_affine_gray16_ssse3};

int VariantIndex()
{
    const int i = warp_variant_index();
    return i >= 0 && i < 5 ? i : 0;
}
} // namespace

#define WARP_ENTRY_BODY(name, table)                                                                         \
    int name(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,        \
             void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs, int interpolation) \
    {                                                                                                        \
        return table[VariantIndex()](src, srcWidth, srcHeight, srcStep, sx, sy, sw, sh, dst, dstStep, dx, dy, \
                                     dw, dh, coeffs, interpolation);                                         \
    }

WARP_ENTRY_BODY(warp_affine_gray8, kGray8Table)
WARP_ENTRY_BODY(warp_affine_rgb8, kRgb8Table)
WARP_ENTRY_BODY(warp_affine_rgbx8, kRgbx8Table)
WARP_ENTRY_BODY(warp_affine_gray16, kGray16Table)
