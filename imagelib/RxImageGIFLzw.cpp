// LZW: the decoder of one frame, the hashing encoder, the code output shared with the
// uncompressed option, and that option.
#include "imagelib/RxImageGIF.h"

#include "imagelib/RxAllocation.h"

#include <cstdlib>
#include <cstring>

int RxImageGIF::DecodeLzw(RxFile* f, RxImage* target, long lineWidth, int& badCodes)
{
    const int size = GetByte(f);
    if (size < 0)
        return size;
    if (size < 2 || size > 9)
        return GIF_BAD_CODE_SIZE;
    curr_size = size + 1;
    top_slot = 1 << curr_size;
    clear = 1 << size;
    ending = clear + 1;
    slot = newcodes = ending + 1;
    navail_bytes = nbits_left = 0;
    std::memset(stack, 0, sizeof stack);
    std::memset(suffix, 0, sizeof suffix);
    std::memset(prefix, 0, sizeof prefix);
    BYTE* line = static_cast<BYTE*>(RxAllocate(size_t(lineWidth) + 1));
    if (!line)
        return GIF_OUT_OF_MEMORY;
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
    while ((c = GetNextCode(f)) != ending) {
        if (c < 0)
            goto done; // the data ran out
        if (c == clear) {
            curr_size = size + 1;
            slot = newcodes;
            top_slot = 1 << curr_size;
            first = true;
            continue;
        }
        if (first) { // a plain pixel that adds no table entry
            first = false;
            if (c >= slot)
                c = 0;
            oc = fc = c;
            if ((ret = emit(c)) < 0)
                goto done;
            continue;
        }
        int code = c;
        BYTE* sp = stack;
        if (code >= slot) {
            if (code > slot)
                ++badCodes;
            code = oc;
            *sp++ = BYTE(fc);
        }
        // A chain longer than the stack only comes from a corrupt table: a bad code.
        while (code >= newcodes) {
            if (sp >= stack + MAXCODES - 1) {
                ++badCodes;
                goto done;
            }
            *sp++ = suffix[code];
            code = prefix[code];
        }
        *sp++ = BYTE(code);
        if (slot < top_slot) {
            suffix[slot] = BYTE(fc = code);
            prefix[slot++] = WORD(oc);
            oc = c;
        }
        if (slot >= top_slot && curr_size < 12) {
            top_slot <<= 1;
            ++curr_size;
        }
        while (sp > stack)
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
    for (long& h : htab)
        h = -1;
}

void RxImageGIF::Compress(int initBits, RxFile* f)
{
    g_init_bits = initBits;
    g_outfile = f;
    clear_flg = 0;
    n_bits = initBits;
    maxcode = (1 << n_bits) - 1;
    ClearCode = 1 << (initBits - 1);
    EOFCode = ClearCode + 1;
    free_ent = ClearCode + 2;
    a_count = 0;
    cur_accum = 0;
    cur_bits = 0;
    int hshift = 0;
    for (long fcode = HSIZE; fcode < 65536; fcode *= 2)
        ++hshift;
    hshift = 8 - hshift;
    ClearHash();
    Output(ClearCode);
    long ent = NextPixel();
    for (int c; (c = NextPixel()) >= 0;) {
        const long fcode = (long(c) << 12) + ent;
        long i = (long(c) << hshift) ^ ent;
        if (htab[i] == fcode) {
            ent = codetab[i];
            continue;
        }
        if (htab[i] >= 0) { // occupied: probe with the secondary displacement
            const long disp = i == 0 ? 1 : HSIZE - i;
            bool found = false;
            do {
                if ((i -= disp) < 0)
                    i += HSIZE;
                if (htab[i] == fcode) {
                    ent = codetab[i];
                    found = true;
                    break;
                }
            } while (htab[i] > 0);
            if (found)
                continue;
        }
        Output(int(ent));
        ent = c;
        if (free_ent < MAXCODES) {
            codetab[i] = WORD(free_ent++);
            htab[i] = fcode;
        } else {
            ClearHash();
            free_ent = ClearCode + 2;
            clear_flg = 1;
            Output(ClearCode);
        }
    }
    Output(int(ent));
    Output(EOFCode);
}

void RxImageGIF::CompressNone(int initBits, RxFile* f)
{
    g_init_bits = initBits;
    g_outfile = f;
    clear_flg = 0;
    n_bits = initBits;
    maxcode = (1 << n_bits) - 1;
    ClearCode = 1 << (initBits - 1);
    EOFCode = ClearCode + 1;
    free_ent = ClearCode + 2;
    a_count = 0;
    cur_accum = 0;
    cur_bits = 0;
    Output(ClearCode);
    for (int c; (c = NextPixel()) >= 0;) {
        Output(c);
        if (free_ent < MAXCODES) {
            ++free_ent;
        } else { // the decoder's table is full: start it again
            free_ent = ClearCode + 2;
            clear_flg = 1;
            Output(ClearCode);
        }
    }
    Output(EOFCode);
}

void RxImageGIF::Output(int code)
{
    cur_accum &= (1ul << cur_bits) - 1;
    cur_accum |= (unsigned long)code << cur_bits;
    cur_bits += n_bits;
    while (cur_bits >= 8) {
        CharOut(int(cur_accum & 0xFF));
        cur_accum >>= 8;
        cur_bits -= 8;
    }
    // Widths follow the decoder: one more bit once the next free code passes the maximum.
    if (free_ent > maxcode || clear_flg) {
        if (clear_flg) {
            n_bits = g_init_bits;
            maxcode = (1 << n_bits) - 1;
            clear_flg = 0;
        } else {
            ++n_bits;
            maxcode = n_bits == 12 ? MAXCODES : (1 << n_bits) - 1;
        }
    }
    if (code == EOFCode) {
        while (cur_bits > 0) {
            CharOut(int(cur_accum & 0xFF));
            cur_accum >>= 8;
            cur_bits -= 8;
        }
        FlushChar();
        g_outfile->Flush();
    }
}

void RxImageGIF::CharOut(int c)
{
    accum[a_count++] = BYTE(c);
    if (a_count >= 254)
        FlushChar();
}

void RxImageGIF::FlushChar()
{
    if (a_count > 0) {
        const BYTE n = BYTE(a_count);
        Put(g_outfile, &n, 1);
        Put(g_outfile, accum, size_t(a_count));
        a_count = 0;
    }
}
