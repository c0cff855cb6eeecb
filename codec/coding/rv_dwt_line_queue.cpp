#include "codec/coding/rv_dwt_line_queue.h"

#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

void rv_dwt_line_queue::init(int first, int last, const rv_lifting_step* steps, int num_steps,
                             bool symmetric)
{
    this->first = first;
    this->last = last;
    this->steps = steps;
    this->num_steps = num_steps;
    this->symmetric = symmetric;
    // Until a dry run measures it, the reach is the sum of every step's widest source.
    reach = 0;
    widest = 0;
    for (int k = 0; k < num_steps; k++) {
        int lo = steps[k].support_min, hi = steps[k].support_min + steps[k].support_length - 1;
        int w = 1 + 2 * std::max(std::abs(lo), std::abs(hi));
        reach += w;
        widest = std::max(widest, w);
    }
    records = nullptr;
    capacity = 0;
    reset();
}

void rv_dwt_line_queue::reset()
{
    held_first = first;
    loaded_last = first - 1;
    max_held = 0;
}

int rv_dwt_line_queue::dry_run(int out_first, int out_last)
{
    // Components and column strips of one tile repeat the same schedules: the outcome
    // depends only on the rows, the edge rule and the steps' supports, so the last ones
    // worked out on this thread are kept.
    std::vector<int> key = {first, last, out_first, out_last, symmetric ? 1 : 0, num_steps};
    for (int k = 0; k < num_steps; k++) {
        key.push_back(steps[k].support_min);
        key.push_back(steps[k].support_length);
    }
    thread_local std::map<std::vector<int>, std::pair<int, int>> known;
    auto hit = known.find(key);
    if (hit != known.end()) {
        records = nullptr;
        capacity = 0;
        reset();
        reach = hit->second.first;
        return hit->second.second;
    }
    if (known.size() >= 64)
        known.clear();
    const int result = run_dry(out_first, out_last);
    known.emplace(std::move(key), std::make_pair(reach, result));
    return result;
}

int rv_dwt_line_queue::run_dry(int out_first, int out_last)
{
    records = nullptr;
    // Every row at most once in the window: the dry run's stages live in a plain array.
    // Nothing leaves it here; the run finds how far above each output row its schedule
    // reaches and how far below it loads, and the window follows from both.
    capacity = last - first + 1;
    dry_stage.assign(size_t(std::max(0, capacity)), num_steps);
    reset();
    std::vector<int> loaded_after;
    int lookback = 0;
    for (int r = out_first; r <= out_last; r++) {
        lowest_touched = r;
        ensure(r, 0, nullptr);
        lookback = std::max(lookback, r - lowest_touched);
        loaded_after.push_back(loaded_last);
    }
    reach = lookback;
    int result = 0;
    for (int r = out_first; r <= out_last; r++)
        result = std::max(result, loaded_after[size_t(r - out_first)] - std::max(first, r - reach) + 1);
    dry_stage.clear();
    dry_stage.shrink_to_fit();
    capacity = 0;
    reset();
    return result;
}

void rv_dwt_line_queue::set_records(std::vector<rv_dwt_line>* records)
{
    this->records = records;
    capacity = int(records->size());
    reset();
}

rv_dwt_line* rv_dwt_line_queue::slot(int row)
{
    return &(*records)[size_t((row - first) % capacity)];
}

rv_dwt_line& rv_dwt_line_queue::get_row(int row, const loader& load)
{
    if (records == nullptr || capacity < 1 || row < first || row > last)
        rv_raise_core_error("Synthesis row requested outside the rows it was built for.");
    held_first = std::max(held_first, row - reach);
    ensure(row, 0, &load);
    return *slot(row);
}

void rv_dwt_line_queue::load_through(int row, const loader* load)
{
    while (loaded_last < row) {
        int r = loaded_last + 1;
        // Rows below the window are still pulled (children deliver in order) and dropped
        // again at once.
        int held = r - held_first + 1;
        if (load == nullptr) {
            max_held = std::max(max_held, held);
            dry_stage[size_t(r - first)] = num_steps;
        } else {
            if (held > capacity)
                rv_raise_core_error("Synthesis line records exhausted; the pull schedule "
                                    "differs from its dry run.");
            rv_dwt_line* line = slot(r);
            line->row = r;
            line->stage = num_steps;
            (*load)(r, *line);
        }
        loaded_last = r;
    }
}

int* rv_dwt_line_queue::stage_of(int row, const loader* load)
{
    if (row > loaded_last)
        load_through(row, load);
    if (load == nullptr) {
        lowest_touched = std::min(lowest_touched, row);
        return &dry_stage[size_t(row - first)];
    }
    rv_dwt_line* line = slot(row);
    if (line->row != row)
        rv_raise_core_error("Synthesis line records exhausted; the pull schedule "
                            "differs from its dry run.");
    return &line->stage;
}

void rv_dwt_line_queue::ensure_readers(int row, int step_idx, const loader* load)
{
    // Rows that step `step_idx` updates and that read `row`, directly or mirrored back at
    // an edge; either way they lie within twice the widest support.
    const rv_lifting_step& step = steps[step_idx];
    const int reader_parity = ((step_idx & 1) == 0) ? 1 : 0;
    if (row - 3 * widest >= first && row + 3 * widest <= last) {
        // Away from the edges no source is mirrored: the readers are the rows whose
        // support holds `row` itself, taken in increasing order as below.
        if ((row & 1) == reader_parity)
            return;
        for (int i = step.support_length - 1; i >= 0; i--)
            ensure((row - 2 * step.support_min - 2 * i) ^ 1, step_idx, load);
        return;
    }
    const int from = std::max(first, row - 2 * widest), to = std::min(last, row + 2 * widest);
    for (int t = from; t <= to; t++) {
        if ((t & 1) != reader_parity)
            continue;
        int base = (t ^ 1) + 2 * step.support_min;
        for (int i = 0; i < step.support_length; i++)
            if (rv_extend_index(base + 2 * i, first, last, symmetric) == row) {
                ensure(t, step_idx, load);
                break;
            }
    }
}

void rv_dwt_line_queue::ensure(int row, int level, const loader* load)
{
    int* stage = stage_of(row, load);
    const rvd_line_buf* src_halves[2][256];
    while (*stage > level) {
        int k = *stage - 1;
        const rv_lifting_step& step = steps[k];
        // Even steps update the odd (high-pass) rows, odd steps the even ones.
        if (((k & 1) == 0) == ((row & 1) != 0)) {
            // Whoever reads this row before step k must have done so first.
            if (k + 1 < num_steps)
                ensure_readers(row, k + 1, load);
            int base = (row ^ 1) + 2 * step.support_min;
            const bool inside = base >= first && base + 2 * (step.support_length - 1) <= last;
            for (int t = 0; t < step.support_length; t++) {
                int src = inside ? base + 2 * t : rv_extend_index(base + 2 * t, first, last, symmetric);
                ensure(src, k + 1, load);
                if (load != nullptr) {
                    rv_dwt_line* s = slot(src);
                    src_halves[0][t] = &s->halves[0];
                    src_halves[1][t] = &s->halves[1];
                }
            }
            if (load != nullptr) {
                // Loading sources never evicts: rows leave the window only between
                // output rows.
                rv_dwt_line* target = slot(row);
                for (int h = 0; h < 2; h++)
                    if (target->halves[h].get_width() > 0)
                        rv_vertical_step(step, target->halves[h], src_halves[h],
                                         target->halves[h].get_width());
            }
        }
        *stage = k;
    }
}
