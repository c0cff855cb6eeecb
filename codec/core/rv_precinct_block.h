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
//
// When compressing, the chain holds one record per coding pass (16-bit slope, 16-bit
// length), then all coded bytes; the decoding fields carry over: msbs_value (missing
// MSBs; the minimum in upper nodes), passes_kept (the block's passes), passes_parsed
// (passes sent), inclusion_value (first-inclusion layer, 0xFFFF while none; the minimum
// in upper nodes), inclusion_bound and msbs_bound (tag-tree lower bounds; msbs_bound
// becomes Lblock at first inclusion, as when reading).
#pragma once

#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_thread_buffer_store.h"
#include "codec/core/rv_header_in.h"
#include "codec/core/rv_header_out.h"
#include "codec/core/rvd_output.h"
#include "codec/core/rvd_block.h"

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
    // Compressing: what the current layer adds, and the tag-tree bounds saved while a
    // packet is only being sized.
    uint16_t layer_passes;
    uint32_t layer_bytes;
    uint16_t saved_inclusion_bound;
    uint8_t saved_msbs_bound;
    // Reading: the source ended inside one of this block's bodies. Its later bodies are
    // passed over: no pass after the cut can be used, and the stored byte count must
    // stay that of the bytes before it.
    bool body_cut;

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
    // Buffers come from a server or a thread's store (anything with get()).
    template <class Source>
    void put_word(uint16_t value, Source* server);
    void put_byte(uint8_t value, rv_buffer_server* server);
    // Appends body bytes, filling each buffer to its end.
    template <class Source>
    void put_bytes(const uint8_t* bytes, int n, Source* server);
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

    // Zeroed tag-tree levels for a grid of width x height blocks, built at the cursor,
    // which moves past them; returns the first (leaf) node. Each node links to node
    // (x / 2, y / 2) of the next level; the single top node links to nothing.
    static rv_precinct_block* build_tree(int width, int height, rv_precinct_block*& cursor);

    // Compressing. Records an encoded block: missing MSBs, one (slope, length) record per
    // pass, then the bytes; the cursor goes back to the chain's start.
    void store_data(const rvd_block* block, rv_buffer_server* server);
    // The same with buffers from a thread's local store: no lock is needed.
    void store_data_threaded(const rvd_block* block, rv_thread_buffer_store* store);
    // Upper tree levels to their start state before the first packet.
    static void reset_output_tree(rv_precinct_block* nodes, int width, int height);
    // Around a packet that is only sized: the tag-tree bounds of every node.
    static void save_output_tree(rv_precinct_block* nodes, int width, int height);
    static void restore_output_tree(rv_precinct_block* nodes, int width, int height);
    // The passes and bytes layer `layer` adds: the passes not yet sent up to the last
    // truncation point before the first one whose slope is not above the threshold.
    // Returns the bytes.
    uint32_t start_packet(int layer, uint16_t slope_threshold);
    // The next truncation point a lower threshold would add to what `start_packet` takes
    // at `slope_threshold`: its slope and the bytes it adds; slope 0 when there is none.
    uint16_t next_truncation(uint16_t slope_threshold, uint32_t& added_bytes) const;
    // This block's part of the packet header (blocks in raster order).
    void write_packet_header(rv_header_out& out, int layer, bool simulate);
    // Copies the layer's bytes and moves past them.
    void write_body_bytes(rvd_output* out);
    // Drops the passes no layer at this threshold would send: their records are zeroed
    // and the buffers behind the last kept byte go back to the server. False when every
    // pass stays.
    bool trim_data(uint16_t slope_threshold, rv_buffer_server* server);

private:
    template <class Source>
    void new_buffer(Source* server);
    template <class Source>
    void store_passes(const rvd_block* block, Source* server);
};
