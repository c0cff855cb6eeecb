// The container a JP2 family file is read from. In this system it is only ever opened
// on an image's data-bin cache; it remembers the scope and position the cache was last
// left at, so consecutive reads of one box need no new scope selection.
#pragma once

#include <cstdint>

class rvd_cache;

class jp2_family_src {
public:
    jp2_family_src();
    virtual ~jp2_family_src();
    jp2_family_src(const jp2_family_src&) = delete;
    jp2_family_src& operator=(const jp2_family_src&) = delete;

    // Hooks around every cache access of a box read; empty: the cache takes its own
    // (non-recursive) lock inside each operation, so these must never take it.
    virtual void acquire_lock() {}
    virtual void release_lock() {}

    void open(rvd_cache* cache);
    void close();
    bool exists() const { return file != nullptr || indirect != nullptr || cache != nullptr; }
    bool uses_cache() const { return cache != nullptr; }
    // Changes with every open, so a reader can tell a re-open from the same source.
    int get_id() const { return id; }

private:
    friend class jp2_input_box;

    uint8_t* read_buffer;
    void* file;     // file-backed and indirect sources are never opened in this system
    void* indirect;
    rvd_cache* cache;
    int64_t last_pos;
    int64_t last_bin_id;
    int64_t last_codestream;
    int last_class;
    bool seekable;
    int id;
};
