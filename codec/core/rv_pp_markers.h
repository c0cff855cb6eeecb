// Packed packet headers from PPM (main header) or PPT (tile-part header) segments,
// ordered by their index byte and replayed one tile-part at a time.
#pragma once

#include "codec/core/rv_marker.h"

class rv_pph_input;

// One collected segment: a private copy of the marker plus its index and read position.
struct rv_pp_marker_list {
    explicit rv_pp_marker_list(const rv_marker& m) : marker(m) {}
    rv_marker marker;
    rv_pp_marker_list* next = nullptr;
    int znum = 0;
    int bytes_read = 1; // next unread body byte, just past the index byte
};

class rv_pp_markers {
public:
    rv_pp_markers() = default;
    ~rv_pp_markers();
    rv_pp_markers(const rv_pp_markers&) = delete;
    rv_pp_markers& operator=(const rv_pp_markers&) = delete;

    void add_marker(const rv_marker& m);
    // Moves one tile-part's packed headers into the input: for PPM the Nppm bytes that
    // follow, for PPT everything collected.
    void transfer_tpart(rv_pph_input* pph);
    // The same walk without copying.
    void ignore_tpart();

    bool is_ppm() const { return ppm; }
    bool empty() const { return list == nullptr; }

private:
    void free_used_records();
    // Nppm gathered byte by byte across records (records used up on the way are freed).
    uint32_t read_nppm();
    // Moves (or skips, with pph null) exactly count bytes across records.
    void move_bytes(uint32_t count, rv_pph_input* pph);

    bool ppm = false;
    rv_pp_marker_list* list = nullptr;
};
