// The data-bin cache: every JPIP data-bin received for one image, readable at the same
// time as a compressed source (one scoped bin at a time) by the JP2 layer and the
// codestream core.
//
// The loader thread writes while the user-interface thread reads, so every public
// operation brackets its whole body with acquire_lock/release_lock. The hooks are empty
// here; a subclass supplies a real, non-recursive lock, so no public operation calls
// another public one.
#pragma once

#include "codec/core/rvd_compressed_source.h"

#include <cstddef>
#include <cstdint>
#include <map>

struct rvd_cache_state;
struct rvd_cache_bin;

// Data-bin classes of the cache (the JPP-stream class identifier halved).
enum : int {
    RVD_PRECINCT_DATABIN = 0,
    RVD_TILE_HEADER_DATABIN = 1,
    RVD_TILE_DATABIN = 2,
    RVD_MAIN_HEADER_DATABIN = 3,
    RVD_META_DATABIN = 4,
    RVD_NUM_DATABIN_CLASSES = 5
};

class rvd_cache : public rvd_compressed_source {
public:
    rvd_cache();
    ~rvd_cache() override;
    rvd_cache(const rvd_cache&) = delete;
    rvd_cache& operator=(const rvd_cache&) = delete;

    bool close() override;
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_CACHED; }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override;
    bool set_tileheader_scope(int tnum, int num_tiles) override;
    bool set_precinct_scope(int64_t unique_id) override;

    // Stores num_bytes at offset of the addressed bin. Classes above 4 and negative ids
    // are ignored. Throws std::length_error, storing nothing, when the write would take
    // the cache's memory past its limit.
    virtual void add_to_databin(int cls, int64_t codestream_id, int64_t bin_id, const uint8_t* data,
                                int offset, int num_bytes, bool is_final, bool add_as_most_recent = true,
                                bool mark_if_augmented = false);
    // The bytes held without a gap from the bin's start.
    virtual int get_databin_length(int cls, int64_t codestream_id, int64_t bin_id,
                                   bool* is_complete = nullptr);
    virtual void promote_databin(int cls, int64_t codestream_id, int64_t bin_id);
    virtual void demote_databin(int cls, int64_t codestream_id, int64_t bin_id);
    virtual int64_t get_next_codestream(int64_t codestream_id);
    virtual int64_t get_next_databin_newest_first(int cls, int64_t codestream_id, int64_t bin_id,
                                                  bool only_marked);
    virtual int64_t get_next_databin_oldest_first(int cls, int64_t codestream_id, int64_t bin_id,
                                                  bool only_marked);
    virtual bool mark_databin(int cls, int64_t codestream_id, int64_t bin_id, bool new_mark);
    virtual void clear_all_marks();
    virtual void set_all_marks();
    virtual int get_databin_prefix(int cls, int64_t codestream_id, int64_t bin_id, uint8_t* buf,
                                   int max_bytes);
    virtual void set_read_scope(int cls, int64_t codestream_id, int64_t bin_id);
    virtual void acquire_lock() {}
    virtual void release_lock() {}

    // Memory held in segment blocks and index nodes, its peak, and the limit a write may
    // not cross (1 GiB unless changed).
    uint64_t get_memory_in_use();
    uint64_t get_peak_memory();
    void set_memory_limit(uint64_t bytes);
    // Bytes received for a class of a codestream, duplicates included.
    uint64_t get_class_bytes(int cls, int64_t codestream_id);
    // Bytes written that the cache did not hold before, over its whole life; a reader
    // compares two readings to tell whether a reply brought anything new.
    uint64_t get_total_new_bytes();

    static const uint64_t default_memory_limit = uint64_t(1) << 30;

private:
    class lock_guard;
    friend class lock_guard;

    rvd_cache_bin* find_bin(int cls, int64_t codestream_id, int64_t bin_id);
    void unlink_bin(rvd_cache_bin* bin);
    void link_bin(rvd_cache_bin* bin, bool newest);
    int64_t walk(int cls, int64_t codestream_id, int64_t bin_id, bool only_marked, bool newest_first);
    void scope_bin(rvd_cache_bin* bin);
    void close_unlocked();

    rvd_cache_state* state;
    rvd_cache* attached; // never set by the viewer; close clears it
};
