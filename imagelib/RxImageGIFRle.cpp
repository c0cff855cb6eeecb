// Codec option 2: a run-length code that any LZW decoder reads. Runs of one pixel are sent
// as codes for the decoder's own growing table entries (pixel, pixel-pixel, ...), which
// the decoder builds while it reads them; the writer tracks that table to know which run
// lengths it may name, and when a fresh table is cheaper.
#include "imagelib/RxImageGIF.h"

#include <cmath>

namespace {

class RleWriter {
public:
    RleWriter(RxImageGIF& gif, RxFile* f, int initBits, void (RxImageGIF::*put)(RxFile*, const void*, size_t))
        : gif(gif), file(f), put(put), w(initBits), C(1 << (initBits - 1)), B(C + 2), M(4093 - C),
          firstClearLimit(initBits > 3 ? C - 2 : 9)
    {
    }

    void Pixel(int p)
    {
        if (runLength && p != runPixel)
            EndOfRun();
        if (runLength == 0) {
            runPixel = p;
            runLength = 1;
        } else {
            ++runLength;
        }
    }
    void Start()
    {
        Reset();
        Write(C);
    }
    void Finish()
    {
        if (runLength)
            EndOfRun();
        Write(C + 1);
        if (bits > 0)
            Byte(int(accum & 0xFF));
        FlushBlock();
    }

private:
    // Codes go out least-significant bit first into blocks of up to 255 bytes.
    void Write(int code)
    {
        accum |= (unsigned long)code << bits;
        bits += width;
        while (bits >= 8) {
            Byte(int(accum & 0xFF));
            accum >>= 8;
            bits -= 8;
        }
    }
    void Byte(int b)
    {
        block[blockLen++] = BYTE(b);
        if (blockLen == 255)
            FlushBlock();
    }
    void FlushBlock()
    {
        if (blockLen == 0)
            return;
        const BYTE n = BYTE(blockLen);
        (gif.*put)(file, &n, 1);
        (gif.*put)(file, block, size_t(blockLen));
        blockLen = 0;
    }

    void Reset()
    {
        width = w;
        clearLimit = firstClearLimit;
        bump = C - 1;
        n = 0;
        tableRun = 0;
        justCleared = true;
    }
    void Counted(int code)
    {
        justCleared = false;
        Write(code);
        ++n;
        if (n >= bump) {
            ++width;
            bump += 1 << (width - 1);
        }
        if (n >= clearLimit) {
            Write(C);
            Reset();
        }
    }
    void Close()
    {
        clearLimit = firstClearLimit;
        if (n >= clearLimit) {
            Write(C);
            Reset();
        }
    }
    // Codes needed to send count repetitions in rising runs 1, 2, 3 ...
    long Cost(long count) const
    {
        const long full = long(M) * (M + 1) / 2;
        long codes = 0;
        while (count >= full) {
            count -= full;
            codes += M;
        }
        if (count == 0)
            return codes;
        long k = long(std::sqrt(2.0 * double(count)));
        while (k * (k + 1) / 2 < count)
            ++k;
        while (k > 1 && (k - 1) * k / 2 >= count)
            --k;
        return codes + k;
    }
    void FromClear(long count)
    {
        tablePixel = runPixel;
        clearLimit = M;
        long L = 1;
        while (count > 0) {
            if (L == 1) {
                tableRun = 1;
                Counted(runPixel);
                count -= 1;
            } else if (count >= L) {
                tableRun = L;
                Counted(int(B + L - 2));
                count -= L;
            } else {
                tableRun += 1;
                Counted(count == 1 ? runPixel : int(B + count - 2));
                count = 0;
            }
            L = n == 0 ? 1 : L + 1;
        }
        Close();
    }
    void WithTable(long count)
    {
        const long t = tableRun;
        long reps = count / t, rest = count % t, extra = rest > 0 ? 1 : 0;
        if (n + reps + extra > M) {
            reps = M - n;
            rest = count - t * reps;
            extra = Cost(rest) + 1;
        }
        if (Cost(count) + 1 < extra + reps) {
            Write(C);
            Reset();
            FromClear(count);
            return;
        }
        clearLimit = M;
        for (long i = 0; i < reps; ++i)
            Counted(int(B + t - 2));
        if (rest > 0) {
            if (justCleared)
                FromClear(rest);
            else
                Counted(rest == 1 ? runPixel : int(B + rest - 2));
        }
        Close();
    }
    void ClearOrRepeat(long count)
    {
        if (Cost(count) + 1 < count) {
            Write(C);
            Reset();
            FromClear(count);
            return;
        }
        for (long i = 0; i < count; ++i)
            Counted(runPixel);
    }
    void EndOfRun()
    {
        if (runLength == 1)
            Counted(runPixel);
        else if (justCleared)
            FromClear(runLength);
        else if (tableRun >= 2 && tablePixel == runPixel)
            WithTable(runLength);
        else
            ClearOrRepeat(runLength);
        runLength = 0;
    }

    RxImageGIF& gif;
    RxFile* file;
    void (RxImageGIF::*put)(RxFile*, const void*, size_t);
    const int w, C, B, M, firstClearLimit;
    int width = 0;
    long n = 0, bump = 0, clearLimit = 0;
    int tablePixel = -1;
    long tableRun = 0;
    bool justCleared = true;
    int runPixel = 0;
    long runLength = 0;
    unsigned long accum = 0;
    int bits = 0;
    BYTE block[255];
    int blockLen = 0;
};

} // namespace

void RxImageGIF::CompressRle(int initBits, RxFile* f)
{
    RleWriter writer(*this, f, initBits, &RxImageGIF::Put);
    writer.Start();
    for (int c; (c = NextPixel()) >= 0;)
        writer.Pixel(c);
    writer.Finish();
}
