// rv_input over an application's rvd_compressed_source: a file, a memory block or the
// JPIP data-bin cache. Memory-resident sources are read in place, never copied.
#pragma once

#include "codec/core/rv_input.h"
#include "codec/core/rvd_compressed_source.h"

class rv_compressed_input : public rv_input {
public:
    static constexpr int64_t MAX_LIMIT = 0x3FFFFFFFFFFFFFFFLL;

    explicit rv_compressed_input(rvd_compressed_source* src);

    int64_t ignore(int64_t count) override;
    // Absolute position; a negative one selects the cached precinct -1 - position.
    void seek(int64_t position);
    // Reads the cached header of one tile; false when the cache does not hold it yet.
    bool set_tileheader_scope(int tnum, int num_tiles);

    int64_t get_offset() const
    {
        return buf_pos + buf_bytes - (first_unwritten - first_unread);
    }
    int64_t get_bytes_read();
    int64_t get_suspended_bytes();
    void set_max_bytes(int64_t new_limit);
    void set_suspend(bool suspend);

    int get_capabilities() const { return capabilities; }
    bool is_fully_buffered() const { return fully_buffered; }
    // Bytes the source holds from where the input started; -1 when not known.
    int64_t get_known_length() const { return known_length; }
    bool in_cache_scope() const { return cache_scope; }

protected:
    bool load_buf() override;

private:
    // Shortens the buffer so that no byte beyond the limit is delivered.
    void apply_limit_to_buffer(bool resuming);
    void enter_cache_scope();
    // Reads up to num bytes from the source into the data area.
    void fill(int64_t num);

    rvd_compressed_source* source;
    int capabilities = 0;
    uint8_t* area = nullptr; // start of the data area: our buffer or the source's memory
    int64_t buf_pos = 0;
    int64_t limit = MAX_LIMIT;
    int64_t max_address_read = -1;
    int64_t suspended_bytes = 0;
    int64_t buf_bytes = 0;
    uint8_t* suspend_ptr = nullptr;
    uint8_t* cut_end = nullptr;
    bool cache_scope = false;
    int64_t known_length = -1;
};
