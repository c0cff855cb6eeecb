// Reserves TLM marker segments in the main header and fills them with the tile-part
// lengths once every tile-part is written.
#pragma once

#include <cstdint>
#include <vector>

class rvd_compressed_target;
class rvd_output;

class rv_tlm_generator {
public:
    // False (and the generator unused) when the entries need more than 256 segments.
    bool init(int num_tiles, int tparts_per_tile);
    bool exists() const { return num_tiles > 0; }
    void add_tpart_length(int tnum, int64_t length);
    void write_dummy_tlms(rvd_output* out) const;
    // Rewrites the reserved segments with the recorded entries. `tiles_rewritten` tiles'
    // entries were already rewritten (by earlier fragments) and `extra_bytes` were
    // written after the reserved space besides the recorded tile-parts.
    void write_final_tlms(rvd_compressed_target* target, int tiles_rewritten,
                          int64_t extra_bytes) const;

    int get_tparts_per_tile() const { return tparts_per_tile; }
    int get_tlm_bytes() const { return tlm_bytes; }
    int get_num_recorded() const { return num_recorded; }

    static constexpr int max_entries_per_segment = 10921;

private:
    void write_segments(rvd_output* out, int first_entry, bool with_entries) const;

    int num_tiles = 0;
    int tparts_per_tile = 0;
    int tlm_bytes = 0;
    int num_tparts = 0;
    int num_recorded = 0;
    int64_t total_tpart_bytes = 0;
    struct record {
        uint16_t tnum;
        uint32_t length;
    };
    std::vector<record> records;
};
