#include "codec/encode/rv_analysis_queue.h"

#include "codec/coding/rv_lifting_step.h"
#include "codec/core/rvd_params.h"

#include <algorithm>

rv_analysis_row* rv_analysis_pool::take()
{
    if (head == nullptr) {
        if (!planning)
            rv_raise_core_error("The forward wavelet transform ran out of row buffers.");
        made.emplace_back();
        head = &made.back();
    }
    rv_analysis_row* row = head;
    head = row->next;
    row->next = nullptr;
    peak = std::max(peak, ++in_use);
    return row;
}

void rv_analysis_pool::give(rv_analysis_row* row)
{
    row->next = head;
    head = row;
    in_use--;
}

void rv_analysis_queue::init(int y0, int y1, bool symmetric, int step_idx)
{
    this->y0 = y0;
    this->y1 = y1;
    this->symmetric = symmetric;
    this->step_idx = step_idx;
    held_first = 0;
    held_last = -2;
    head = tail = nullptr;
    needed_from = taken_to = keep_from = y0 - 2;
}

bool rv_analysis_queue::holds(int row) const
{
    return row >= held_first && row <= held_last && ((row - held_first) & 1) == 0;
}

void rv_analysis_queue::release(rv_analysis_pool* pool)
{
    while (held_first <= held_last && below_bounds(held_first)) {
        held_first += 2;
        if (head == nullptr)
            continue; // a run without buffers (planning)
        rv_analysis_row* r = head;
        head = r->next;
        if (head == nullptr)
            tail = nullptr;
        pool->give(r);
    }
}

void rv_analysis_queue::add_line(int row, rv_analysis_row* buf, rv_analysis_pool& pool)
{
    if (row < needed_from && row < taken_to) {
        if (buf != nullptr)
            pool.give(buf);
        while (head != nullptr) {
            rv_analysis_row* r = head;
            head = r->next;
            pool.give(r);
        }
        tail = nullptr;
        held_first = 0;
        held_last = -2;
        return;
    }
    if (held_first <= held_last && row != held_last + 2)
        rv_raise_core_error("Rows reached a forward wavelet transform queue out of order.");
    if (held_first > held_last)
        held_first = row;
    held_last = row;
    if (buf == nullptr)
        return;
    buf->row = row;
    buf->next = nullptr;
    if (head == nullptr)
        head = buf;
    else
        tail->next = buf;
    tail = buf;
}

rv_analysis_row* rv_analysis_queue::get_line(int row, rv_analysis_pool& pool)
{
    taken_to = row;
    if (!holds(row))
        return nullptr;
    rv_analysis_row* found = head;
    if (found == nullptr)
        return nullptr;
    for (int r = held_first; r < row; r += 2)
        found = found->next;
    taken_to = row + 2;
    release(&pool);
    return found;
}

int rv_analysis_queue::source_row(int x) const { return rv_extend_index(x, y0, y1, symmetric); }

bool rv_analysis_queue::sources_held(int r, int count) const
{
    // A furthest row inside the region must have arrived; one outside it (above y0 too,
    // when every source is mirrored down from there) is settled by the loop below.
    const int furthest = r + 2 * (count - 1);
    if (furthest >= y0 && furthest <= y1 && !holds(furthest))
        return false;
    for (int j = 0; j < count; j++)
        if (!holds(source_row(r + 2 * j)))
            return false;
    return true;
}

bool rv_analysis_queue::get_source_lines(int r, int count, rv_analysis_row** out,
                                         rv_analysis_pool& pool)
{
    needed_from = r;
    if (!sources_held(r, count))
        return false;
    for (int j = 0; j < count; j++) {
        rv_analysis_row* b = head;
        for (int x = held_first; x < source_row(r + 2 * j); x += 2)
            b = b->next;
        out[j] = b;
    }
    needed_from = r + 2;
    release(&pool);
    return true;
}

bool rv_analysis_queue::sources_available(int r, int count, int& in_use)
{
    needed_from = r;
    if (!sources_held(r, count))
        return false;
    needed_from = r + 2;
    const int before = held_first;
    release(nullptr);
    in_use -= (held_first - before) / 2;
    return true;
}
