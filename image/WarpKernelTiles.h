// The generic warp kernels' tile loops. Included by WarpKernels.cpp and one file per
// instruction set, each time inside its own anonymous namespace; no include guard.

template <typename T>
inline T StoreLinear(double v);
template <>
inline uint8_t StoreLinear<uint8_t>(double v)
{
    return static_cast<uint8_t>(static_cast<int>(v + 0.5));
}
template <>
inline uint16_t StoreLinear<uint16_t>(double v)
{
    // 16-bit linear truncates without rounding.
    return static_cast<uint16_t>(static_cast<int>(v));
}
template <>
inline float StoreLinear<float>(double v)
{
    return static_cast<float>(v);
}

template <typename T>
inline T StoreCubic(double v);
template <>
inline uint8_t StoreCubic<uint8_t>(double v)
{
    if (v > 255.0)
        return 255;
    if (v < 0.0)
        return 0;
    return static_cast<uint8_t>(static_cast<int>(v + 0.5));
}
template <>
inline uint16_t StoreCubic<uint16_t>(double v)
{
    if (v > 65535.0)
        return 65535;
    if (v < 0.0)
        return 0;
    return static_cast<uint16_t>(static_cast<int>(v + 0.5));
}
template <>
inline float StoreCubic<float>(double v)
{
    return static_cast<float>(v);
}

struct CubicWeights {
    double w[4];
};

// 4-point Lagrange weights on the samples at -1, 0, 1, 2.
WARP_INLINE CubicWeights Weights(float tf)
{
    const double t = tf;
    const double sixth = 1.0 / 6.0;
    const double third = 1.0 / 3.0;
    const double t2 = t * t;
    const double t3 = t2 * t;
    CubicWeights r;
    r.w[0] = (-t3 * sixth + t2 * 0.5) - t * third;
    r.w[1] = ((t3 * 0.5 + 1.0) - t2) - t * 0.5;
    r.w[2] = (-t3 * 0.5 + t2 * 0.5) + t;
    r.w[3] = t3 * sixth - t * sixth;
    return r;
}

template <typename T>
inline double CubicChannel(const T* w0, ptrdiff_t step, int stride, const CubicWeights& wx, const CubicWeights& wy)
{
    double s[4];
    for (int j = 0; j < 4; ++j) {
        const T* p = reinterpret_cast<const T*>(reinterpret_cast<const char*>(w0) + step * j);
        s[j] = wx.w[0] * static_cast<double>(p[0]) + wx.w[1] * static_cast<double>(p[stride]) +
               wx.w[2] * static_cast<double>(p[2 * stride]) + wx.w[3] * static_cast<double>(p[3 * stride]);
    }
    return wy.w[0] * s[0] + wy.w[1] * s[1] + wy.w[2] * s[2] + wy.w[3] * s[3];
}

template <typename T>
inline void CubicPoint(const T* window, ptrdiff_t step, int stride, T* out, int channels, float tx, float ty)
{
    const CubicWeights wx = Weights(tx);
    const CubicWeights wy = Weights(ty);
    for (int c = 0; c < channels; ++c)
        out[c] = StoreCubic<T>(CubicChannel(window + c, step, stride, wx, wy));
}

template <typename T>
inline void CubicPointPlanar(const T* const* planes, ptrdiff_t step, ptrdiff_t windowOffset, T* const* dst,
                             ptrdiff_t dstOffset, int planeCount, float tx, float ty)
{
    const CubicWeights wx = Weights(tx);
    const CubicWeights wy = Weights(ty);
    for (int c = 0; c < planeCount; ++c)
        dst[c][dstOffset] = StoreCubic<T>(CubicChannel(
            reinterpret_cast<const T*>(reinterpret_cast<const char*>(planes[c]) + windowOffset), step, 1, wx, wy));
}

// Cubic window origin along one axis: the 4-sample window always lies inside [0, max].
// Written as selects, which vectorise; xb lies in [-0.5, max + 1].
WARP_INLINE int CubicOrigin(double xb, int max)
{
    const int inner = xb < 1.0 ? 0 : static_cast<int>(xb) - 1;
    return xb < max - 1 ? inner : max - 3;
}

// Destination rows walked together, and columns per tile: at a steep angle a whole row
// touches a new source row every few pixels, while an 8 x 128 tile's footprint stays cached.
constexpr int kBandRows = 8;
constexpr int kTileColumns = 128;
// Rows of 4-byte pixels walked mostly down the source's columns (near a quarter turn) touch
// a new source line every pixel; 8 rows leave each line before the next band returns to
// it, 64 rows reuse it while 64-column tiles keep the band's footprint in the first cache.
constexpr int kDownBandRows = 64;
constexpr int kDownTileColumns = 64;
static_assert(kDownBandRows >= kBandRows && kDownTileColumns <= kTileColumns, "the walk's arrays hold both shapes");

// The run form of RunningSum holds only when additions round to nearest, ties to even.
bool RoundsToNearest()
{
    volatile double probe = 0x1.8p-53;
    const double t = probe;
    return 1.0 + t == 1.0 + 0x1p-52 && -1.0 - t == -1.0 - 0x1p-52;
}

// Steps, at most room, over which repeated v + step equals v + j d. While |v| stays in its
// binade [lo, 2 lo), each sum is v plus step rounded to the binade's ulp, the same d every
// time, unless step is an odd number of half ulps (ties go by the last bit of v). A sum
// that leaves (lo, 2 lo] or changes sign ends the run; so do tiny values.
int RunLength(double v, double step, int room, double& d)
{
    // A standing coordinate: v + 0 is v in every binade (but -0 + 0 is +0).
    if (step == 0.0 && v != 0.0 && std::isfinite(v)) {
        d = 0.0;
        return room;
    }
    const double a = std::fabs(v);
    if (!(a >= 0x1p-900))
        return 0;
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const uint64_t exponent = bits >> 52; // of lo, the binade's start
    const uint64_t loBits = exponent << 52, scaleBits = (2098 - exponent) << 52; // 1 / ulp
    double lo, scale;
    std::memcpy(&lo, &loBits, sizeof lo);
    std::memcpy(&scale, &scaleBits, sizeof scale);
    const double hi = 2.0 * lo;
    const double q = step * scale; // exact: scale is a power of two
    if (!(std::fabs(q) < 0x1p51))
        return 0;
    const double r = (q + 0x1.8p52) - 0x1.8p52; // nearest integer, ties to even
    if (std::fabs(q - r) == 0.5)
        return 0;
    d = r * (lo * 0x1p-52);
    auto inside = [&](int m) {
        const double last = v + m * d;
        return (last > 0.0) == (v > 0.0) && std::fabs(last) > lo && std::fabs(last) <= hi;
    };
    if (inside(room))
        return room;
    // The binade ends within the room: the quotient may round up, so step back until the
    // run's last sum is inside.
    const double ad = std::fabs(d);
    const double limit = (d > 0.0) == (v > 0.0) ? (hi - a) / ad : (a - lo) / ad;
    int m = limit < room ? static_cast<int>(limit) : room;
    while (m > 0 && !inside(m))
        --m;
    return m;
}

// out[0] = v, out[k] = out[k - 1] + step: a row's positions carried by addition, as the
// walk defines them, mostly without the chain of dependent additions. Returns the position
// after the last.
double RunningSum(double v, double step, int n, bool runs, double* __restrict out)
{
    int k = 0;
    while (k < n) {
        double d = 0.0;
        const int m = runs ? RunLength(v, step, n - k, d) : 0;
        if (m > 0) {
            for (int j = 0; j < m; ++j)
                out[k + j] = v + j * d;
            v = v + m * d;
            k += m;
        } else {
            out[k++] = v;
            v = v + step;
        }
    }
    return v;
}

// 0, 1, ...: run positions v + j d computed in place.
struct Ramp {
    double j[kTileColumns];
    constexpr Ramp() : j()
    {
        for (int i = 0; i < kTileColumns; ++i)
            j[i] = i;
    }
};
constexpr Ramp kRamp;

// One coordinate of a tile row's positions: a run v + k d, or a list.
struct Axis {
    double v, d;
    const double* list; // null for a run
};

// f(k, position) for the first n positions; a run that stands still (one coordinate of an
// axis-aligned map) is worked out once and spread over the row with spread(n). A moving run
// whose two ends pass inside() takes the plain form g instead: positions of a run are
// monotone, and so is every test inside() makes.
template <class F, class G, class I, class S>
WARP_INLINE void ForPositions(const Axis& a, int n, F f, G g, I inside, S spread)
{
    if (a.list) {
        const double* __restrict p = a.list;
        for (int k = 0; k < n; ++k)
            f(k, p[k]);
    } else if (a.d == 0.0) {
        f(0, a.v);
        spread(n);
    } else if (inside(a.v) && inside(a.v + kRamp.j[n - 1] * a.d)) {
        for (int k = 0; k < n; ++k)
            g(k, a.v + kRamp.j[k] * a.d);
    } else {
        for (int k = 0; k < n; ++k)
            f(k, a.v + kRamp.j[k] * a.d);
    }
}

// Entries 1..n-1 of every array take entry 0.
template <typename... A>
inline void Spread(int n, A*... arrays)
{
    for (int k = 1; k < n; ++k)
        ((arrays[k] = arrays[0]), ...);
}

// The last run looked up along one axis: the rows of a band often start at the same
// position (every row of an unrotated map does).
struct RunMemo {
    double v = 0.0, step = 0.0, d = 0.0;
    int n = 0, length = 0;
};

// The next n positions of a walk from v, as a run when one covers them all; v moves on.
inline Axis Advance(double& v, double step, int n, bool runs, double* buffer, RunMemo& memo)
{
    if (runs && !(memo.n == n && memo.v == v && memo.step == step)) {
        memo.length = RunLength(v, step, n, memo.d);
        memo.v = v;
        memo.step = step;
        memo.n = n;
    }
    if (runs && memo.length == n) {
        const Axis a = {v, memo.d, nullptr};
        v = v + n * memo.d;
        return a;
    }
    v = RunningSum(v, step, n, runs, buffer);
    return {0.0, 0.0, buffer};
}

// max(v, lo) and min(v, hi) in the forms that compile to single max and min instructions;
// they differ from std::max and std::min only for NaN and in the sign of a zero result.
WARP_INLINE double AtLeast(double v, double lo) { return v > lo ? v : lo; }
WARP_INLINE double AtMost(double v, double hi) { return v < hi ? v : hi; }

// Integer samples are gathered as 32-bit integers, floats as floats; both convert to
// double exactly.
template <typename T>
using Gathered = typename std::conditional<std::is_same<T, float>::value, float, int32_t>::type;

// Pixels of 4 bytes (rgbx8, rgba8) are gathered whole and split into channels later.
template <typename T, int Stride, bool Planar>
constexpr bool kWordPixels = !Planar && Stride * sizeof(T) == 4 && Stride > 1;

template <typename T, int Channels, int Stride, bool Planar>
struct TileContext {
    const char* chan[Channels > 0 ? Channels : 1]; // sample c of pixel (0, 0)
    char* out[Channels > 0 ? Channels : 1];        // sample c of the tile row's pixel 0
    ptrdiff_t sstep;
    static constexpr ptrdiff_t pixelBytes = (Planar ? 1 : Stride) * static_cast<ptrdiff_t>(sizeof(T));
    static constexpr ptrdiff_t outStep = (Planar ? 1 : Stride); // samples between output pixels
    double xmax, ymax, hiX, hiY;
    int ixmax, iymax;
    bool narrow; // every offset inside the source fits 31 bits

    T* dst(int c, int X) const { return reinterpret_cast<T*>(out[c]) + X * outStep; }
    T sample(int c, ptrdiff_t offset) const { return *reinterpret_cast<const T*>(chan[c] + offset); }
    uint32_t word(ptrdiff_t offset) const
    {
        uint32_t w;
        std::memcpy(&w, chan[0] + offset, sizeof w);
        return w;
    }
};

// Mask of byte c of a pixel word, in memory order.
inline uint32_t WordMask(int c)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return 0xFFu << (24 - 8 * c);
#else
    return 0xFFu << (8 * c);
#endif
}

// Channel c of a whole gathered pixel word: byte c in memory order.
inline int32_t WordChannel(uint32_t w, int c)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<int32_t>((w >> (24 - 8 * c)) & 0xFF);
#else
    return static_cast<int32_t>((w >> (8 * c)) & 0xFF);
#endif
}

// A coordinate that keeps one value along the tile row.
inline bool Stands(const Axis& a) { return !a.list && a.d == 0.0; }

// index[k] = index[0] + k for every k: nearest samples side by side in the source.
WARP_INLINE bool Consecutive(const int32_t* __restrict index, int n)
{
    uint32_t off = 0;
    const uint32_t first = static_cast<uint32_t>(index[0]);
    for (int k = 0; k < n; ++k)
        off |= static_cast<uint32_t>(index[k]) ^ (first + static_cast<uint32_t>(k));
    return off == 0;
}

// n source pixels from (x, y) on, copied to the tile row from column X.
template <typename T, int Channels, int Stride, bool Planar>
void CopyRowRun(const TileContext<T, Channels, Stride, Planar>& t, int32_t y, int32_t x, int X, int n)
{
    const ptrdiff_t at = y * t.sstep + x * t.pixelBytes;
    if constexpr (Planar || Channels == Stride) {
        for (int c = 0; c < (Planar ? Channels : 1); ++c)
            std::memcpy(t.dst(c, X), t.chan[c] + at, static_cast<size_t>(n) * t.pixelBytes);
    } else if constexpr (kWordPixels<T, Stride, Planar>) {
        // The fourth byte of every destination pixel stays.
        const uint32_t keep = WordMask(Channels);
        for (int k = 0; k < n; ++k) {
            uint32_t w, old;
            std::memcpy(&w, t.chan[0] + at + k * t.pixelBytes, sizeof w);
            std::memcpy(&old, t.dst(0, X + k), sizeof old);
            w = (w & ~keep) | (old & keep);
            std::memcpy(t.dst(0, X + k), &w, sizeof w);
        }
    } else {
        for (int c = 0; c < Channels; ++c) {
            T* __restrict d = t.dst(c, X);
            for (int k = 0; k < n; ++k)
                d[k * t.outStep] = t.sample(c, at + k * t.pixelBytes);
        }
    }
}

// Nearest index along one axis: x + 0.5 is never -0, so the held zero has the sign
// std::max gives.
template <class Index>
WARP_INLINE void NearestAxis(const Axis& a, int n, double max, Index* __restrict index)
{
    ForPositions(
        a, n, [&](int k, double v) { index[k] = static_cast<int>(AtMost(AtLeast(v + 0.5, 0.0), max)); },
        [&](int k, double v) { index[k] = static_cast<int>(v + 0.5); },
        [&](double v) { return v + 0.5 >= 0.0 && v + 0.5 <= max; }, [&](int m) { Spread(m, index); });
}

// Whether a run's nearest samples can lie side by side: only if its n positions spread over
// about n - 1 pixels. A filter only; the copy checks the samples themselves.
inline bool MaySitSideBySide(const Axis& a, int n) { return a.list || std::fabs((a.d - 1.0) * (n - 1)) < 1.5; }

// A tile row on one source row (every unrotated map) whose samples lie side by side (a zoom
// near 1) is copied; false, having written nothing, otherwise. Kept out of the general
// loop, whose code it would otherwise perturb.
template <typename T, int Channels, int Stride, bool Planar>
WARP_NOINLINE bool NearestRowRun(const TileContext<T, Channels, Stride, Planar>& t, const Axis& xs, double y, int X,
                                 int n)
{
    int32_t ix[kTileColumns];
    if (n < 1)
        return false;
    NearestAxis(xs, n, t.xmax, ix);
    if (!Consecutive(ix, n))
        return false;
    CopyRowRun(t, static_cast<int>(AtMost(AtLeast(y + 0.5, 0.0), t.ymax)), ix[0], X, n);
    return true;
}

template <typename T, int Channels, int Stride, bool Planar>
WARP_TILE void NearestTile(const TileContext<T, Channels, Stride, Planar>& t, const Axis& xs, const Axis& ys, int X, int n)
{
    ptrdiff_t offset[kTileColumns];
    int32_t ix[kTileColumns], iy[kTileColumns];
    if (Stands(ys) && MaySitSideBySide(xs, n) && NearestRowRun(t, xs, ys.v, X, n))
        return;
    NearestAxis(xs, n, t.xmax, ix);
    NearestAxis(ys, n, t.ymax, iy);
    WindowOffsets(t, ix, iy, n, offset);
    if constexpr (kWordPixels<T, Stride, Planar>) {
        // Whole pixels; rgbx keeps the destination's fourth byte.
        for (int k = 0; k < n; ++k) {
            uint32_t w = t.word(offset[k]);
            if constexpr (Channels < Stride) {
                uint32_t old;
                std::memcpy(&old, t.dst(0, X + k), sizeof old);
                w = (w & ~WordMask(Channels)) | (old & WordMask(Channels));
            }
            std::memcpy(t.dst(0, X + k), &w, sizeof w);
        }
    } else {
        for (int c = 0; c < Channels; ++c) {
            T* __restrict d = t.dst(c, X);
            for (int k = 0; k < n; ++k)
                d[k * t.outStep] = t.sample(c, offset[k]);
        }
    }
}

// Integer samples of one plane lie side by side along a window row: they load several at
// a time (8-bit pairs as one 16-bit word, otherwise 32-bit words, never past the window)
// and are split where they are used.
template <typename T, int Stride, bool Planar>
constexpr bool kPackedRows = !std::is_same<T, float>::value && (Planar || Stride == 1);

template <typename T, int Taps>
using RowWord = typename std::conditional<Taps * sizeof(T) == 2, uint16_t, uint32_t>::type;

// Sample q of a packed word: the q-th in memory order.
template <typename T, typename W>
inline int32_t PackedSample(W w, int q)
{
    constexpr int bits = 8 * sizeof(T), per = sizeof(W) / sizeof(T);
    constexpr uint32_t mask = (1u << bits) - 1;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<int32_t>((static_cast<uint32_t>(w) >> (bits * (per - 1 - q))) & mask);
#else
    (void)per;
    return static_cast<int32_t>((static_cast<uint32_t>(w) >> (bits * q)) & mask);
#endif
}

// The Taps x Taps windows of a tile row, gathered in the cheapest form the layout allows:
// whole 4-byte pixels (once for all channels), packed rows, or single samples. tap(j, k)
// is window position j (row-major) of pixel k in the channel last gathered.
template <typename T, int Channels, int Stride, bool Planar, int Taps>
struct TileWindows {
    static constexpr bool words = kWordPixels<T, Stride, Planar>;
    static constexpr bool packed = !words && kPackedRows<T, Stride, Planar>;
    using W = RowWord<T, Taps>;
    static constexpr int per = sizeof(W) / sizeof(T), packs = Taps / per;

    uint32_t pixel[words ? Taps * Taps : 1][kTileColumns];
    W row[packed ? Taps : 1][packed ? packs : 1][kTileColumns];
    Gathered<T> sample[words || packed ? 1 : Taps * Taps][kTileColumns];
    int channel = -1;

    void gather(const TileContext<T, Channels, Stride, Planar>& t, const ptrdiff_t* offset, int n, int c)
    {
        const bool first = channel < 0;
        channel = c;
        if constexpr (words) {
            // Side-by-side pixels of a window row load in pairs.
            if (first)
                for (int k = 0; k < n; ++k)
                    for (int j = 0; j < Taps; ++j)
                        for (int i = 0; i < Taps; i += 2) {
                            uint64_t pair;
                            std::memcpy(&pair, t.chan[0] + offset[k] + j * t.sstep + i * t.pixelBytes, sizeof pair);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                            pair = pair << 32 | pair >> 32;
#endif
                            pixel[j * Taps + i][k] = static_cast<uint32_t>(pair);
                            pixel[j * Taps + i + 1][k] = static_cast<uint32_t>(pair >> 32);
                        }
        } else if constexpr (packed) {
            for (int k = 0; k < n; ++k)
                for (int j = 0; j < Taps; ++j)
                    for (int p = 0; p < packs; ++p)
                        std::memcpy(&row[j][p][k], t.chan[c] + offset[k] + j * t.sstep + p * sizeof(W), sizeof(W));
        } else {
            for (int k = 0; k < n; ++k)
                for (int j = 0; j < Taps; ++j)
                    for (int i = 0; i < Taps; ++i)
                        sample[j * Taps + i][k] = t.sample(c, offset[k] + j * t.sstep + i * t.pixelBytes);
        }
    }
    double tap(int j, int k) const
    {
        if constexpr (words)
            return WordChannel(pixel[j][k], channel);
        else if constexpr (packed)
            return PackedSample<T>(row[j / Taps][(j % Taps) / per][k], (j % Taps) % per);
        else
            return sample[j][k];
    }
};

// Byte offsets of the windows' first samples; 32-bit arithmetic, which vectorises, when the
// whole source fits.
template <typename T, int Channels, int Stride, bool Planar>
void WindowOffsets(const TileContext<T, Channels, Stride, Planar>& t, const int32_t* __restrict ix,
                   const int32_t* __restrict iy, int n, ptrdiff_t* __restrict offset)
{
    if (t.narrow) {
        const int32_t step = static_cast<int32_t>(t.sstep), bytes = static_cast<int32_t>(t.pixelBytes);
        for (int k = 0; k < n; ++k)
            offset[k] = iy[k] * step + ix[k] * bytes;
    } else {
        for (int k = 0; k < n; ++k)
            offset[k] = iy[k] * t.sstep + ix[k] * t.pixelBytes;
    }
}

template <typename T, int Channels, int Stride, bool Planar>
void StoreChannel(const TileContext<T, Channels, Stride, Planar>& t, int c, int X, int n, const T* __restrict v)
{
    T* __restrict d = t.dst(c, X);
    for (int k = 0; k < n; ++k)
        d[k * t.outStep] = v[k];
}

// Bit position of byte c of a pixel word, in memory order.
constexpr int WordShift(int c)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return 24 - 8 * c;
#else
    return 8 * c;
#endif
}

// A tile row's results, channel by channel: 4-byte pixels are written whole once every
// channel is in (a kept fourth byte kept), other layouts channel by channel.
template <typename T, int Channels, int Stride, bool Planar>
struct TileResults {
    static constexpr bool words = kWordPixels<T, Stride, Planar>;
    using Context = TileContext<T, Channels, Stride, Planar>;
    T v[words ? Channels : 1][kTileColumns];

    T* channel(int c) { return v[words ? c : 0]; }
    void done(const Context& t, int c, int X, int n)
    {
        if constexpr (!words)
            StoreChannel(t, c, X, n, v[0]);
        else if (c == Channels - 1)
            for (int k = 0; k < n; ++k) {
                uint32_t w = 0;
                for (int i = 0; i < Channels; ++i)
                    w |= static_cast<uint32_t>(v[i][k]) << WordShift(i);
                if constexpr (Channels < Stride) {
                    uint32_t old;
                    std::memcpy(&old, t.dst(0, X + k), sizeof old);
                    w |= old & WordMask(Channels);
                }
                std::memcpy(t.dst(0, X + k), &w, sizeof w);
            }
    }
};

template <typename T, int Channels, int Stride, bool Planar>
WARP_TILE void LinearTile(const TileContext<T, Channels, Stride, Planar>& t, const Axis& xs, const Axis& ys, int X, int n)
{
    int32_t ix[kTileColumns], iy[kTileColumns];
    double fx[kTileColumns], fy[kTileColumns];
    auto split = [](double v, double hi, double max, int imax, int32_t& index, double& fraction) {
        const double c = AtMost(AtLeast(v, -0.5), hi);
        const double b = c + 1e-7;
        const bool edge = b >= max;
        // b > -0.5, so truncation already gives 0 below zero.
        const int i = edge ? imax - 1 : static_cast<int>(b);
        index = i;
        fraction = edge ? 1.0 : c - i;
    };
    auto axis = [n, &split](const Axis& a, double hi, double max, int imax, int32_t* __restrict index,
                            double* __restrict fraction) {
        ForPositions(
            a, n, [&](int k, double v) { split(v, hi, max, imax, index[k], fraction[k]); },
            [&](int k, double v) {
                const int i = static_cast<int>(v + 1e-7);
                index[k] = i;
                fraction[k] = v - i;
            },
            [&](double v) { return v >= -0.5 && v <= hi && v + 1e-7 < max; },
            [&](int m) { Spread(m, index, fraction); });
    };
    axis(xs, t.hiX, t.xmax, t.ixmax, ix, fx);
    axis(ys, t.hiY, t.ymax, t.iymax, iy, fy);
    ptrdiff_t offset[kTileColumns];
    WindowOffsets(t, ix, iy, n, offset);
    TileWindows<T, Channels, Stride, Planar, 2> s;
    TileResults<T, Channels, Stride, Planar> out;
    for (int c = 0; c < Channels; ++c) {
        s.gather(t, offset, n, c);
        T* __restrict v = out.channel(c);
        for (int k = 0; k < n; ++k) {
            const double p00 = s.tap(0, k), p01 = s.tap(1, k), p10 = s.tap(2, k), p11 = s.tap(3, k);
            const double top = p00 + (p01 - p00) * fx[k];
            const double bottom = p10 + (p11 - p10) * fx[k];
            v[k] = StoreLinear<T>(top + (bottom - top) * fy[k]);
        }
        out.done(t, c, X, n);
    }
}

// StoreCubic without branches: equal for every value that is not a NaN.
template <typename T>
inline T StoreCubicClamped(double v)
{
    if constexpr (std::is_same<T, float>::value) {
        return static_cast<float>(v);
    } else {
        const double top = std::is_same<T, uint8_t>::value ? 255.0 : 65535.0;
        return static_cast<T>(static_cast<int>(AtMost(AtLeast(v, 0.0), top) + 0.5));
    }
}

template <typename T, int Channels, int Stride, bool Planar>
WARP_TILE void CubicTile(const TileContext<T, Channels, Stride, Planar>& t, const Axis& xs, const Axis& ys, int X, int n)
{
    int32_t sx[kTileColumns], sy[kTileColumns];
    double wx[4][kTileColumns], wy[4][kTileColumns];
    auto window = [](double v, double hi, int imax, int32_t& origin, double (*w)[kTileColumns], int k) {
        const double c = AtMost(AtLeast(v, -0.5), hi);
        const int o = CubicOrigin(c + 1e-7, imax);
        origin = o;
        const CubicWeights cw = Weights(static_cast<float>(c - 1 - o));
        for (int i = 0; i < 4; ++i)
            w[i][k] = cw.w[i];
    };
    // No plain form here: the weights dominate, and the clamped one measured faster.
    auto axis = [n, &window](const Axis& a, double hi, int imax, int32_t* __restrict origin,
                             double (*w)[kTileColumns]) {
        auto full = [&](int k, double v) { window(v, hi, imax, origin[k], w, k); };
        ForPositions(
            a, n, full, full, [](double) { return false; },
            [&](int m) { Spread(m, origin, w[0], w[1], w[2], w[3]); });
    };
    axis(xs, t.hiX, t.ixmax, sx, wx);
    axis(ys, t.hiY, t.iymax, sy, wy);
    ptrdiff_t offset[kTileColumns];
    WindowOffsets(t, sx, sy, n, offset);
    TileWindows<T, Channels, Stride, Planar, 4> s;
    TileResults<T, Channels, Stride, Planar> out;
    for (int c = 0; c < Channels; ++c) {
        s.gather(t, offset, n, c);
        double sum[kTileColumns];
        for (int k = 0; k < n; ++k) {
            auto row = [&](int j) {
                return wx[0][k] * s.tap(4 * j, k) + wx[1][k] * s.tap(4 * j + 1, k) +
                       wx[2][k] * s.tap(4 * j + 2, k) + wx[3][k] * s.tap(4 * j + 3, k);
            };
            sum[k] = wy[0][k] * row(0) + wy[1][k] * row(1) + wy[2][k] * row(2) + wy[3][k] * row(3);
        }
        T* __restrict v = out.channel(c);
        for (int k = 0; k < n; ++k)
            v[k] = StoreCubicClamped<T>(sum[k]);
        out.done(t, c, X, n);
    }
}

// Channels: samples computed per pixel; Stride: samples per source and destination pixel
// (1 for planes); Planar: the pointers are plane arrays. A stride of 4 with 3 channels
// keeps the fourth sample.
template <typename T, int Channels, int Stride, bool Planar, int Interp>
void RowKernel(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,
               const int32_t* spans, const double* inv, int xmax, int ymax, const void*)
{
    using Context = TileContext<T, Channels, Stride, Planar>;
    Context t;
    t.sstep = srcStep;
    const ptrdiff_t dstep = dstStep;
    t.xmax = xmax;
    t.ymax = ymax;
    t.ixmax = xmax;
    t.iymax = ymax;
    // Positions inside a span lie in the source image up to rounding; these bounds only
    // keep pathological maps (huge coefficients, accumulated error) inside the image.
    t.hiX = xmax + 0.5;
    t.hiY = ymax + 0.5;
    // The last window sample lies below (ymax + 1) rows and (xmax + 1) pixels.
    t.narrow = (static_cast<int64_t>(ymax) + 1) * srcStep + (static_cast<int64_t>(xmax) + 1) * t.pixelBytes <
               (int64_t{1} << 31);
    char* outBase[Channels > 0 ? Channels : 1];
    for (int c = 0; c < Channels; ++c) {
        if constexpr (Planar) {
            t.chan[c] = static_cast<const char* const*>(src)[c];
            outBase[c] = static_cast<char* const*>(dst)[c];
        } else {
            t.chan[c] = static_cast<const char*>(src) + c * sizeof(T);
            outBase[c] = static_cast<char*>(dst) + c * sizeof(T);
        }
    }
    const double a0 = inv[0], a1 = inv[1], a2 = inv[2], a3 = inv[3], a4 = inv[4], a5 = inv[5];
    const bool runs = RoundsToNearest();

    // Each band row's walk: the position of its next column, that column and its last.
    const bool down = kWordPixels<T, Stride, Planar> && std::fabs(a3) > std::fabs(a0);
    const int bandRows = down ? kDownBandRows : kBandRows;
    const int tileColumns = down ? kDownTileColumns : kTileColumns;
    double wx[kDownBandRows], wy[kDownBandRows];
    int64_t next[kDownBandRows], last[kDownBandRows];
    double xs[kTileColumns], ys[kTileColumns];
    RunMemo memoX, memoY;
    double rx = a1 * firstRow + a2;
    double ry = a4 * firstRow + a5;
    for (int64_t band = firstRow; band <= lastRow; band += bandRows) {
        const int rows = static_cast<int>(std::min<int64_t>(bandRows, lastRow - band + 1));
        int64_t from = INT64_MAX, to = INT64_MIN;
        for (int r = 0; r < rows; ++r) {
            const ptrdiff_t i = band - firstRow + r;
            next[r] = spans[2 * i];
            last[r] = spans[2 * i + 1];
            if (next[r] <= last[r]) {
                wx[r] = a0 * static_cast<int>(next[r]) + rx;
                wy[r] = a3 * static_cast<int>(next[r]) + ry;
                from = std::min(from, next[r]);
                to = std::max(to, last[r]);
            }
            rx += a1;
            ry += a4;
        }
        for (int64_t tile = from; tile <= to; tile += tileColumns) {
            const int64_t tileEnd = std::min<int64_t>(tile + tileColumns - 1, to);
            for (int r = 0; r < rows; ++r) {
                if (next[r] > last[r] || next[r] > tileEnd)
                    continue;
                const int X = static_cast<int>(next[r]);
                const int n = static_cast<int>(std::min(last[r], tileEnd) - X + 1);
                const Axis ax = Advance(wx[r], a0, n, runs, xs, memoX);
                const Axis ay = Advance(wy[r], a3, n, runs, ys, memoY);
                next[r] += n;
                const ptrdiff_t i = band - firstRow + r;
                for (int c = 0; c < Channels; ++c)
                    t.out[c] = outBase[c] + dstep * i;
                if constexpr (Interp == 0)
                    NearestTile(t, ax, ay, X, n);
                else if constexpr (Interp == 1)
                    LinearTile(t, ax, ay, X, n);
                else
                    CubicTile(t, ax, ay, X, n);
            }
        }
    }
}
