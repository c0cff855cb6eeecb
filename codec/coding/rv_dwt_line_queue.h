// The rows a vertical synthesis holds while it works: a window of consecutive node rows,
// each at some point of the lifting sequence. Rows enter at the bottom in increasing
// order (fresh from the children), are lifted step by step on demand, and leave from
// the top once no later output row can depend on them. A row is lifted past a stage only
// after every row that reads it at that stage has been lifted: with uneven supports, or
// rows mirrored back at an edge, a reader can lie below rows already delivered. The
// window's capacity and how far back a row can be needed are fixed before pulling
// starts, by a dry run of the same schedule, so pulling never allocates.
#pragma once

#include "codec/coding/rv_lifting_step.h"
#include "codec/core/rvd_line_buf.h"

#include <functional>
#include <vector>

struct rv_dwt_line {
    rvd_line_buf halves[2]; // low (even columns) and high (odd columns) of the row
    int row = 0;
    int stage = 0;          // steps num_steps-1 .. stage have been applied
};

class rv_dwt_line_queue {
public:
    // Loads node row `row` into `line` (both halves); not called in a dry run.
    typedef std::function<void(int row, rv_dwt_line& line)> loader;

    // Rows first..last of the node; steps in analysis order (applied last first).
    void init(int first, int last, const rv_lifting_step* steps, int num_steps, bool symmetric);
    // Counts the records that delivering rows out_first..out_last in order needs.
    int dry_run(int out_first, int out_last);
    // Takes the records (their line buffers pre-created by the caller) and starts again
    // from the first row.
    void set_records(std::vector<rv_dwt_line>* records);
    // Row `row` (at or after the previous one asked for) after all steps; the returned
    // record stays valid until the next call.
    rv_dwt_line& get_row(int row, const loader& load);

private:
    void reset();
    int run_dry(int out_first, int out_last);
    rv_dwt_line* slot(int row);
    void ensure(int row, int level, const loader* load);
    void ensure_readers(int row, int step, const loader* load);
    int* stage_of(int row, const loader* load);
    void load_through(int row, const loader* load);

    int first = 0, last = -1;
    const rv_lifting_step* steps = nullptr;
    int num_steps = 0;
    bool symmetric = true;
    int reach = 0;          // rows above an output row that it can still need
    int widest = 0;         // furthest a step's source lies from its target
    int lowest_touched = 0; // dry run: the smallest row its schedule visited
    int capacity = 0;
    int held_first = 0;     // rows below this are no longer needed
    int loaded_last = 0;    // last row loaded so far (first - 1: none)
    int max_held = 0;
    std::vector<int> dry_stage; // the dry run's stage per ring slot
    std::vector<rv_dwt_line>* records = nullptr;
};
