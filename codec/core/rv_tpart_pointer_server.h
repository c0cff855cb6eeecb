// The tile-part position index of a seekable codestream, built from TLM segments and
// completed with the tile-part addresses met while parsing.
#pragma once

#include "codec/core/rv_pp_markers.h"
#include "codec/core/rv_tile_ref.h"

#include <vector>

class rv_tpart_pointer_server {
public:
    rv_tpart_pointer_server() = default;
    ~rv_tpart_pointer_server();
    rv_tpart_pointer_server(const rv_tpart_pointer_server&) = delete;
    rv_tpart_pointer_server& operator=(const rv_tpart_pointer_server&) = delete;

    void add_tlm_marker(const rv_marker& m);
    // Once, at the end of the main header, with the address of the first SOT.
    void translate_markers(int64_t first_tpart_address, int num_tiles, rv_tile_ref* refs);
    void add_address(rv_tile_ref* ref, int64_t address);
    bool is_translated() const { return translated; }

private:
    rv_pp_marker_list* tlm_list = nullptr;
    std::vector<rv_tpart_addr*> blocks; // address records come in blocks of 32
    rv_tpart_addr* free_addrs = nullptr;
    bool translated = false;
};
