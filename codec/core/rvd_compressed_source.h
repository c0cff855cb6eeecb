// The abstract source of codestream bytes. The codestream core reads every compressed
// byte through it; the viewer's implementation is the JPIP data-bin cache.
#pragma once

#include <cstdint>

// Capability bits reported by get_capabilities.
enum : int {
    RVD_SOURCE_CAP_SEQUENTIAL = 1,
    RVD_SOURCE_CAP_SEEKABLE = 2, // seek() works: tile-parts are skipped by seeking
    RVD_SOURCE_CAP_CACHED = 4,   // one tile header or precinct can be scoped on request
    RVD_SOURCE_CAP_IN_MEMORY = 8 // access_memory() gives the bytes directly
};

class rvd_compressed_source {
public:
    virtual ~rvd_compressed_source() {}
    virtual bool close() { return true; }
    virtual int get_capabilities() { return RVD_SOURCE_CAP_SEQUENTIAL; }
    // Copies up to num_bytes from the current position (or scope); 0 means the data,
    // or the scope, has ended.
    virtual int read(uint8_t* buf, int num_bytes) = 0;
    // Absolute position from the start of the codestream; false when seeking is not
    // supported.
    virtual bool seek(int64_t offset)
    {
        (void)offset;
        return false;
    }
    virtual int64_t get_pos() { return -1; }
    // Bytes from position 0 to the end, when the source knows them for certain; -1 when
    // it does not (a pipe, a cache still growing).
    virtual int64_t get_length() { return -1; }
    // For memory-resident sources: the byte at the current position, with that position
    // and one past the last byte given back; null when not available.
    virtual const uint8_t* access_memory(int64_t& pos, const uint8_t*& lim)
    {
        (void)pos;
        (void)lim;
        return nullptr;
    }
    // Restricts reads to the cached header of one tile; false when it is not (yet) held.
    virtual bool set_tileheader_scope(int tnum, int num_tiles)
    {
        (void)tnum;
        (void)num_tiles;
        return false;
    }
    // Restricts reads to the cached packets of one precinct.
    virtual bool set_precinct_scope(int64_t unique_id)
    {
        (void)unique_id;
        return false;
    }
};
