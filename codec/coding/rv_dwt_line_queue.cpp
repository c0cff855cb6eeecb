#include "codec/coding/rv_dwt_line_queue.h"

#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cstdlib>

void rv_dwt_line_queue::init(int first, int last, const rv_lifting_step* steps, int num_steps,
                             bool symmetric)
{
    this->first = first;
    this->last = last;
    this->steps = steps;
    this->num_steps = num_steps;
    this->symmetric = symmetric;
    reach = 0;
    for (int k = 0; k < num_steps; k++) {
        int lo = steps[k].support_min, hi = steps[k].support_min + steps[k].support_length - 1;
        reach += 1 + 2 * std::max(std::abs(lo), std::abs(hi));
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
    records = nullptr;
    // Every row at most once in the window: the dry run's stages live in a plain array.
    capacity = last - first + 1;
    dry_stage.assign(size_t(std::max(0, capacity)), num_steps);
    reset();
    for (int r = out_first; r <= out_last; r++) {
        held_first = std::max(held_first, r - reach);
        ensure(r, 0, nullptr);
    }
    int result = max_held;
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

void rv_dwt_line_queue::ensure(int row, int level, const loader* load)
{
    if (row > loaded_last)
        load_through(row, load);
    int* stage = (load == nullptr) ? &dry_stage[size_t(row - first)] : &slot(row)->stage;
    const rvd_line_buf* src_halves[2][256];
    while (*stage > level) {
        int k = *stage - 1;
        const rv_lifting_step& step = steps[k];
        // Even steps update the odd (high-pass) rows, odd steps the even ones.
        if (((k & 1) == 0) == ((row & 1) != 0)) {
            int base = (row ^ 1) + 2 * step.support_min;
            for (int t = 0; t < step.support_length; t++) {
                int src = rv_extend_index(base + 2 * t, first, last, symmetric);
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
