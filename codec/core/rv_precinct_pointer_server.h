// The precinct position index of one tile, built from PLT segments: one stored length
// per precinct (all its packets together), handed out as source addresses while the
// tile-part reader walks a tile-part body.
#pragma once

#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_marker.h"

// What the index needs of a tile's coding parameters.
struct rv_tile_sequencing {
    int layers = 1;          // "Clayers"
    int order = 0;           // "Corder": 0 LRCP, 1 RLCP, 2 RPCL, 3 PCRL, 4 CPRL
    bool has_porder = false; // a progression-order change is present

    // All packets of a precinct are contiguous only then.
    bool allows_index() const { return layers == 1 || (order != 0 && order != 1 && !has_porder); }
};

class rvd_params;

// Reads "Clayers" and "Corder" from the COD object governing a tile (all components)
// and whether the POC object governing it holds a "Porder" record; params is any object
// of the codestream's parameter tree.
rv_tile_sequencing rv_get_tile_sequencing(rvd_params* params, int tnum);

class rv_precinct_pointer_server {
public:
    rv_precinct_pointer_server() = default;
    ~rv_precinct_pointer_server() { clear(); }
    rv_precinct_pointer_server(const rv_precinct_pointer_server&) = delete;
    rv_precinct_pointer_server& operator=(const rv_precinct_pointer_server&) = delete;

    // A buffer server enables the index.
    void init(rv_buffer_server* srv) { server = srv; }
    bool is_enabled() const { return server != nullptr; }

    void add_plt_marker(const rv_marker& m, const rv_tile_sequencing& seq);
    void start_tpart_body(int64_t body_start, int64_t body_length, const rv_tile_sequencing& seq,
                          bool discard, bool length_not_given);
    // The same, reading the sequencing of tile tnum from the parameter tree.
    void add_plt_marker(const rv_marker& m, rvd_params* params, int tnum)
    {
        add_plt_marker(m, rv_get_tile_sequencing(params, tnum));
    }
    void start_tpart_body(int64_t body_start, int64_t body_length, rvd_params* params, int tnum,
                          bool discard, bool length_not_given)
    {
        start_tpart_body(body_start, body_length, rv_get_tile_sequencing(params, tnum), discard,
                         length_not_given);
    }
    // The next precinct's address; 0 when disabled, -1 when the tile-part is used up.
    int64_t get_precinct_address();
    void clear();
    // Forgets everything learnt of a tile, for a record that will serve another tile.
    void reset();

    int get_num_stored() const { return num_stored; }

private:
    void store_length(uint64_t len);
    uint8_t next_stored_byte();

    rv_buffer_server* server = nullptr;
    rv_buffer* first_buf = nullptr;
    rv_buffer* write_buf = nullptr;
    int read_pos = 0;
    int write_pos = 0;
    int num_stored = 0;
    int64_t next_address = 0;
    int64_t tpart_bytes_left = 0;
    bool length_not_given = false;
    int recorded_layers = -1;
    bool used = false;
    int next_zplt = 0;
    uint64_t precinct_length = 0;
    int packets_left = 0;
};
