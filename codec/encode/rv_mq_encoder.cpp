#include "codec/encode/rv_mq_encoder.h"

#include <algorithm>
#include <cassert>

void rv_mq_encoder::reset()
{
    *this = rv_mq_encoder();
}

void rv_mq_encoder::start(uint8_t* buffer, bool mq_mode)
{
    seg_start = buffer;
    mq = mq_mode;
    active = true;
    finished = false;
    prev = nullptr;
    next_pass = nullptr;
    end = nullptr;
    r.T = 0;
    r.C = 0;
    if (mq) {
        // The held byte starts as a dummy written just before the segment; the byte
        // that was there is put back when the segment is terminated.
        r.A = 0x8000;
        r.t = 12;
        saved = buffer[-1];
        r.next = buffer - 1;
    } else {
        r.A = 0;
        r.t = 8;
        saved = 0;
        r.next = buffer;
    }
}

void rv_mq_encoder::continue_from(rv_mq_encoder* previous)
{
    *this = *previous;
    prev = previous;
    next_pass = nullptr;
    finished = false;
    end = nullptr;
    previous->active = false;
    previous->next_pass = this;
}

void rv_mq_encoder::find_min_truncation(const uint8_t* limit)
{
    finished = true;
    const uint8_t* s = seg_start;
    int avail = static_cast<int>(limit - s);
    if (!mq) {
        // Every bit written, with a partly filled byte counted whole.
        int n = static_cast<int>(r.next - s) + (r.t < (r.next > s && r.next[-1] == 0xFF ? 7 : 8) ? 1 : 0);
        end = seg_start + (n < avail ? n : avail);
        return;
    }
    // The residuals are the ends of the pass's interval less the value of the prefix
    // taken so far, in units of the last byte's least significant bit with F fraction
    // bits. A prefix of L bytes, padded with 1 bits, comes as close as one unit above
    // its own value; it decodes the pass when that lies inside the interval: lower
    // residual below one unit, upper residual at least one unit. (The lower end matters
    // where a byte after 0xFF carries into it.)
    const int F = 27 - r.t;
    const int64_t unit = int64_t(1) << F;
    const int64_t cap = unit << 20; // beyond it a residual's verdict can no longer change
    int k = static_cast<int>(r.next - s); // the held byte's position; -1: the dummy
    int64_t ql = (static_cast<int64_t>(r.T) << F) + static_cast<int64_t>(r.C);
    int64_t qu = ql + static_cast<int64_t>(r.A);
    int L = -1;
    if (k >= 0) {
        int w = (k > 0 && s[k - 1] == 0xFF) ? 7 : 8;
        if (ql < (unit << w) && qu >= (unit << w))
            L = k;
    }
    for (int pos = k; L < 0; pos++) {
        if (pos >= avail) {
            L = avail;
            break;
        }
        int64_t b = static_cast<int64_t>(pos < 0 ? 0 : s[pos]) << F;
        ql = std::max(ql - b, -cap);
        qu = std::min(qu - b, cap);
        if (ql < unit && qu >= unit) {
            L = pos + 1;
            break;
        }
        int w = (pos >= 0 && s[pos] == 0xFF) ? 7 : 8;
        ql *= int64_t(1) << w;
        qu *= int64_t(1) << w;
    }
    if (L < 0)
        L = 0;
    // 0xFF, and 0xFF 0x7F, read as the 1 bits a decoder puts behind the end.
    if (L >= 1 && s[L - 1] == 0xFF)
        L--;
    while (L >= 2 && s[L - 2] == 0xFF && s[L - 1] == 0x7F)
        L -= 2;
    end = seg_start + L;
}

uint8_t* rv_mq_encoder::terminate(bool optimal)
{
    rv_mq_encoder before = *this;
    uint8_t* flush_end;
    if (mq) {
        r.C <<= r.t;
        int n = 12 - r.t;
        while (n > 0) {
            transfer_byte();
            n -= r.t;
            r.C <<= r.t;
        }
        transfer_byte();
        seg_start[-1] = saved;
        flush_end = r.next;
    } else {
        int full = (r.next > seg_start && r.next[-1] == 0xFF) ? 7 : 8;
        if (optimal) {
            for (int pad = r.t < full ? r.t : 0; pad > 0; pad--)
                put_raw(1);
        } else if (r.t < full) {
            // Alternating 0, 1, 0, ... padding, which a checking decoder expects.
            int pad = r.t;
            int bits = 0x55 >> (8 - pad);
            for (int b = pad - 1; b >= 0; b--)
                put_raw((bits >> b) & 1);
        } else if (full == 7) {
            // A segment may not end on 0xFF: a 7-bit byte of the pattern follows.
            for (int b = 6; b >= 0; b--)
                put_raw((0x2A >> b) & 1);
        }
        flush_end = r.next;
    }

    // Earlier passes of the segment, oldest first.
    rv_mq_encoder* first = this;
    while (first->prev != nullptr && !first->prev->finished)
        first = first->prev;
    for (rv_mq_encoder* rec = first; rec != this; rec = rec->next_pass)
        rec->find_min_truncation(flush_end);

    if (optimal) {
        if (mq) {
            // The truncation search works from the state the pass ended in.
            *this = before;
            find_min_truncation(flush_end);
        } else {
            int n = static_cast<int>(flush_end - seg_start);
            if (n > 0 && flush_end[-1] == 0xFF)
                n--;
            end = seg_start + n;
        }
    } else {
        end = flush_end;
        if (mq && end > seg_start && end[-1] == 0xFF)
            end--;
    }
    finished = true;
    active = false;
    return end;
}

uint8_t* rv_mq_encoder::provisional_end() const
{
    if (finished)
        return end;
    int committed = static_cast<int>(r.next - seg_start);
    if (committed < 0)
        committed = 0;
    if (mq)
        committed += 2; // the held byte and about one more that the code register fills
    else if (r.t < ((r.next > seg_start && r.next[-1] == 0xFF) ? 7 : 8))
        committed += 1;
    return seg_start + committed;
}

uint8_t* rv_mq_encoder::finished_end_before() const
{
    return prev != nullptr ? prev->provisional_end() : seg_start;
}

int rv_mq_encoder::segment_length(bool& is_final)
{
    if (!finished) {
        rv_mq_encoder* newest = this;
        while (newest->next_pass != nullptr)
            newest = newest->next_pass;
        for (rv_mq_encoder* rec = newest; rec != nullptr && !rec->finished; rec = rec->prev) {
            if (rec->active)
                continue;
            if (!rec->mq || newest->r.next - rec->r.next >= 5)
                rec->find_min_truncation(newest->r.next);
        }
    }
    is_final = finished;
    int n = static_cast<int>(provisional_end() - finished_end_before());
    return n < 0 ? 0 : n;
}

void rv_mq_encoder::relocate(const uint8_t* old_base, uint8_t* new_base)
{
    if (seg_start == nullptr)
        return;
    seg_start = new_base + (seg_start - old_base);
    r.next = new_base + (r.next - old_base);
    if (end != nullptr)
        end = new_base + (end - old_base);
}
