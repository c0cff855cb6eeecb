// The rows one queue of the forward wavelet transform's vertical schedule holds: a run of
// rows of one parity, oldest first, each in a row buffer of the engine. Rows leave the
// run, oldest first, once they lie below three bounds: needed-from (the lowest row that
// the step reading the queue as sources will still read), taken-to (the next row to be
// taken as a target or for emission) and keep-from (rows from it on stay for sources
// mirrored at the bottom edge). Released buffers go to the front of the engine's pool.
#pragma once

#include "codec/jp2/rvd_line_buf.h"

#include <deque>

// One row of a node in its two horizontal halves (low: even columns, high: odd columns).
struct rv_analysis_row {
    rvd_line_buf halves[2];
    int row = 0;
    rv_analysis_row* next = nullptr; // pool or queue link
};

// The engine's free row buffers, with the count in use and its peak. A planning pool
// (no samples) makes a new buffer whenever none is free, so that its peak is the number
// of buffers a real run needs.
class rv_analysis_pool {
public:
    explicit rv_analysis_pool(bool planning = false) : planning(planning) {}
    rv_analysis_pool(const rv_analysis_pool&) = delete;
    rv_analysis_pool& operator=(const rv_analysis_pool&) = delete;
    // A free buffer; a codec error when none is left (the planning run was wrong).
    rv_analysis_row* take();
    void give(rv_analysis_row* row);
    void add(rv_analysis_row* row) { give(row), in_use++; }
    int get_in_use() const { return in_use; }
    int get_peak() const { return peak; }

private:
    bool planning;
    rv_analysis_row* head = nullptr;
    int in_use = 0, peak = 0;
    std::deque<rv_analysis_row> made; // planning only
};

class rv_analysis_queue {
public:
    // Rows y0..y1 of the node; `step_idx` is -1 for the queue of pushed odd rows. The
    // bounds start below y0.
    void init(int y0, int y1, bool symmetric, int step_idx);
    void set_keep_from(int row) { keep_from = row; }
    void set_needed_from(int row) { needed_from = row; }
    // Nothing more will be read from the queue as sources: rows go once taken.
    void finish_sources(rv_analysis_pool* pool)
    {
        needed_from = keep_from = y1 + 2;
        release(pool);
    }

    bool holds(int row) const;
    bool is_empty() const { return held_first > held_last; }
    int get_needed_from() const { return needed_from; }
    int get_keep_from() const { return keep_from; }

    // Appends `buf` (row `row`, two after the last held row; null in a run without
    // buffers) to the held run; a row below both needed-from and taken-to is not kept
    // (its buffer and any held ones go back to the pool).
    void add_line(int row, rv_analysis_row* buf, rv_analysis_pool& pool);
    // Row `row` when held (taken-to moves past it and old rows are released; the
    // returned buffer may be among them and is used by the caller at once), else null.
    rv_analysis_row* get_line(int row, rv_analysis_pool& pool);
    // The `count` source rows r, r + 2, ... brought inside y0..y1, when all are held;
    // needed-from then moves to r + 2 and old rows are released as by get_line.
    bool get_source_lines(int r, int count, rv_analysis_row** out, rv_analysis_pool& pool);
    // The same test without buffers: on success needed-from moves to r + 2, the held
    // run starts past the rows that would be released and `in_use` drops by their count.
    bool sources_available(int r, int count, int& in_use);
    // True when every source row for `r` is held; changes nothing.
    bool sources_held(int r, int count) const;

private:
    int source_row(int x) const;
    bool below_bounds(int row) const
    {
        return row < needed_from && row < taken_to && row < keep_from;
    }
    void release(rv_analysis_pool* pool); // null: a run without buffers

    int y0 = 0, y1 = -1;
    int step_idx = -1;
    bool symmetric = true;
    int held_first = 0, held_last = -2; // run of rows two apart; empty when first > last
    rv_analysis_row* head = nullptr;    // buffers of the run, oldest first
    rv_analysis_row* tail = nullptr;
    int needed_from = 0, taken_to = 0, keep_from = 0;
};
