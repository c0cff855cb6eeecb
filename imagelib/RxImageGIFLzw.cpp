// LZW: the decoder of one frame, the hashing encoder, the code output shared with the
// uncompressed option, and that option.
#include "imagelib/RxImageGIF.h"

#include "imagelib/RxAllocation.h"

#include <cstdlib>
#include <cstring>

int RxImageGIF::DecodeLzw(RxFile* f, RxImage* target, long lineWidth, int& badCodes)
{
    DecodeState& d = m_decode;
    const int size = GetByte(f);
    if (size < 0)
        return size;
    if (size < 2 || size > 9)
        return kBadCodeSize;
    d.codeSize = size + 1;
    d.topSlot = 1 << d.codeSize;
    d.clearCode = 1 << size;
    d.endCode = d.clearCode + 1;
    d.nextFree = d.firstFree = d.endCode + 1;
    d.blockLeft = d.bitsLeft = 0;
    std::memset(d.stack, 0, sizeof d.stack);
    std::memset(d.suffix, 0, sizeof d.suffix);
    std::memset(d.prefix, 0, sizeof d.prefix);
    BYTE* line = static_cast<BYTE*>(RxAllocate(size_t(lineWidth) + 1));
    if (!line)
        return kOutOfMemory;
    BYTE* bufptr = line;
    long bufcnt = lineWidth;
    int ret = 0;
    // Emits one pixel; a full line goes to the line writer.
    auto emit = [&](int pixel) {
        *bufptr++ = BYTE(pixel);
        if (--bufcnt > 0)
            return 0;
        bufptr = line;
        bufcnt = lineWidth;
        return OutLine(target, line, lineWidth);
    };
    int oc = 0, fc = 0, c;
    bool first = true; // the data starts as after a clear code, whether it has one or not
    while ((c = GetNextCode(f)) != d.endCode) {
        if (c < 0)
            goto done; // the data ran out
        if (c == d.clearCode) {
            d.codeSize = size + 1;
            d.nextFree = d.firstFree;
            d.topSlot = 1 << d.codeSize;
            first = true;
            continue;
        }
        if (first) { // a plain pixel that adds no table entry
            first = false;
            if (c >= d.nextFree)
                c = 0;
            oc = fc = c;
            if ((ret = emit(c)) < 0)
                goto done;
            continue;
        }
        int code = c;
        BYTE* sp = d.stack;
        if (code >= d.nextFree) {
            if (code > d.nextFree)
                ++badCodes;
            code = oc;
            *sp++ = BYTE(fc);
        }
        // A chain longer than the stack only comes from a corrupt table: a bad code.
        while (code >= d.firstFree) {
            if (sp >= d.stack + kMaxCodes - 1) {
                ++badCodes;
                goto done;
            }
            *sp++ = d.suffix[code];
            code = d.prefix[code];
        }
        *sp++ = BYTE(code);
        if (d.nextFree < d.topSlot) {
            d.suffix[d.nextFree] = BYTE(fc = code);
            d.prefix[d.nextFree++] = WORD(oc);
            oc = c;
        }
        if (d.nextFree >= d.topSlot && d.codeSize < 12) {
            d.topSlot <<= 1;
            ++d.codeSize;
        }
        while (sp > d.stack)
            if ((ret = emit(*--sp)) < 0)
                goto done;
    }
    if (bufcnt != lineWidth)
        ret = OutLine(target, line, lineWidth - bufcnt);
    std::free(line);
    return ret;
done:
    std::free(line);
    return ret < 0 ? ret : 0;
}

void RxImageGIF::ClearHash()
{
    for (long& h : m_encode.hashKeys)
        h = -1;
}

// The code output of both code writers, at its initial width with an empty packet.
void RxImageGIF::StartOutput(int initBits, RxFile* f)
{
    EncodeState& e = m_encode;
    e.initBits = initBits;
    e.out = f;
    e.clearPending = false;
    e.bits = initBits;
    e.maxCode = (1 << e.bits) - 1;
    e.clearCode = 1 << (initBits - 1);
    e.endCode = e.clearCode + 1;
    e.freeCode = e.clearCode + 2;
    e.packetLength = 0;
    e.accum = 0;
    e.accumBits = 0;
}

void RxImageGIF::Compress(int initBits, RxFile* f)
{
    StartOutput(initBits, f);
    EncodeState& e = m_encode;
    int hshift = 0;
    for (long fcode = kHashSize; fcode < 65536; fcode *= 2)
        ++hshift;
    hshift = 8 - hshift;
    ClearHash();
    Output(e.clearCode);
    long ent = NextPixel();
    for (int c; (c = NextPixel()) >= 0;) {
        const long fcode = (long(c) << 12) + ent;
        long i = (long(c) << hshift) ^ ent;
        if (e.hashKeys[i] == fcode) {
            ent = e.hashCodes[i];
            continue;
        }
        if (e.hashKeys[i] >= 0) { // occupied: probe with the secondary displacement
            const long disp = i == 0 ? 1 : kHashSize - i;
            bool found = false;
            do {
                if ((i -= disp) < 0)
                    i += kHashSize;
                if (e.hashKeys[i] == fcode) {
                    ent = e.hashCodes[i];
                    found = true;
                    break;
                }
            } while (e.hashKeys[i] > 0);
            if (found)
                continue;
        }
        Output(int(ent));
        ent = c;
        if (e.freeCode < kMaxCodes) {
            e.hashCodes[i] = WORD(e.freeCode++);
            e.hashKeys[i] = fcode;
        } else {
            ClearHash();
            e.freeCode = e.clearCode + 2;
            e.clearPending = true;
            Output(e.clearCode);
        }
    }
    Output(int(ent));
    Output(e.endCode);
}

void RxImageGIF::CompressNone(int initBits, RxFile* f)
{
    StartOutput(initBits, f);
    EncodeState& e = m_encode;
    Output(e.clearCode);
    for (int c; (c = NextPixel()) >= 0;) {
        Output(c);
        if (e.freeCode < kMaxCodes) {
            ++e.freeCode;
        } else { // the decoder's table is full: start it again
            e.freeCode = e.clearCode + 2;
            e.clearPending = true;
            Output(e.clearCode);
        }
    }
    Output(e.endCode);
}

void RxImageGIF::Output(int code)
{
    EncodeState& e = m_encode;
    e.accum &= (1ul << e.accumBits) - 1;
    e.accum |= (unsigned long)code << e.accumBits;
    e.accumBits += e.bits;
    while (e.accumBits >= 8) {
        CharOut(int(e.accum & 0xFF));
        e.accum >>= 8;
        e.accumBits -= 8;
    }
    // Widths follow the decoder: one more bit once the next free code passes the maximum.
    if (e.freeCode > e.maxCode || e.clearPending) {
        if (e.clearPending) {
            e.bits = e.initBits;
            e.maxCode = (1 << e.bits) - 1;
            e.clearPending = false;
        } else {
            ++e.bits;
            e.maxCode = e.bits == 12 ? kMaxCodes : (1 << e.bits) - 1;
        }
    }
    if (code == e.endCode) {
        while (e.accumBits > 0) {
            CharOut(int(e.accum & 0xFF));
            e.accum >>= 8;
            e.accumBits -= 8;
        }
        FlushChar();
        e.out->Flush();
    }
}

void RxImageGIF::CharOut(int c)
{
    EncodeState& e = m_encode;
    e.packet[e.packetLength++] = BYTE(c);
    if (e.packetLength >= 254)
        FlushChar();
}

void RxImageGIF::FlushChar()
{
    EncodeState& e = m_encode;
    if (e.packetLength > 0) {
        const BYTE n = BYTE(e.packetLength);
        Put(e.out, &n, 1);
        Put(e.out, e.packet, size_t(e.packetLength));
        e.packetLength = 0;
    }
}
