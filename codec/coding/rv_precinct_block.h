// The lasting state of one code-block inside a precinct: its nodes of the inclusion and
// zero bit-plane tag trees, and a chain of compressed-data buffers holding what the
// packets have delivered for it. The upper tag-tree levels use records of the same
// shape, linked through `parent`.
//
// Chain layout per packet that includes the block: a 16-bit layer index; per codeword
// segment a 16-bit word (bits 0-14 the byte count, bit 15 set when another segment of
// this block follows in the packet) and an 8-bit pass count; then the body bytes, or
// for in-memory sources a pointer to them at the next multiple of 4 (no pointer when
// the packet gave the block no bytes).
#pragma once

#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_header_in.h"
#include "codec/coding/rvd_block.h"

#include <cstdint>

// Corrupt packet headers raise one of these codes.
enum : uint16_t {
    RV_PACKET_OVERSIZED = 13,       // unreasonably large pass count, Lblock or length
    RV_PACKET_BAD_INCLUSION = 21,   // inclusion tag tree names another layer
    RV_PACKET_BAD_MSBS = 74         // more than 74 missing MSBs
};

struct rv_precinct_block {
    rv_buffer* first_buf;
    rv_buffer* current_buf;
    uint8_t buf_pos;
    uint8_t msbs_value;
    uint8_t passes_kept;     // 255: contributions are discarded
    uint8_t passes_parsed;
    uint16_t inclusion_value;
    uint16_t inclusion_bound; // on an included leaf: bytes_stored
    uint8_t msbs_bound;      // on an included leaf: lblock; 0 = never included
    uint8_t modes;
    uint16_t packet_bytes;
    rv_precinct_block* parent;

    // All fields zero: a fresh tree node or a block nothing has been read for.
    void reset() { *this = rv_precinct_block(); }

    bool is_included() const { return msbs_bound != 0; }
    uint16_t get_bytes_stored() const { return inclusion_bound; }
    void augment_bytes_stored(int n) { inclusion_bound = uint16_t(inclusion_bound + n); }
    bool is_discarded() const { return passes_kept == 255; }

    // Decodes this block's part of a packet header; returns the body bytes the block
    // contributes (0 when not included). Throws the reader on end of data, or one of
    // the codes above. A header that raises leaves the chain as it was.
    uint16_t parse_packet_header(rv_header_in& header, rv_buffer_server* server, int layer);

    // Appends a 16-bit item at the next even position, in a new buffer when above 56.
    void put_word(uint16_t value, rv_buffer_server* server);
    void put_byte(uint8_t value, rv_buffer_server* server);
    // Appends body bytes, filling each buffer to its end.
    void put_bytes(const uint8_t* bytes, int n, rv_buffer_server* server);
    // Appends the address of an in-memory body at the next multiple of 4, or at the
    // start of a fresh buffer when it does not fit.
    void put_pointer(const uint8_t* body, rv_buffer_server* server);

    // Copies n bytes from a chain cursor across buffer boundaries; returns dest + n.
    static uint8_t* read_bytes(rv_buffer*& buf, int& pos, uint8_t* dest, int n);

    // Fills `block` with the passes of layers below max_layers, less the last
    // passes_left_out passes, keeping only passes whose bytes were all stored.
    void retrieve_data(rvd_block* block, int max_layers, int passes_left_out, bool in_memory);

    // Returns the chain to the server; the block keeps its header state.
    void release_chain(rv_buffer_server* server);

private:
    void new_buffer(rv_buffer_server* server);
};
