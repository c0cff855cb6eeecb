// Where a box header lies: its position in the original file (negative when unknown)
// and, for a cached source, the data-bin holding it and the position inside that bin.
#pragma once

#include <cstdint>

class jp2_locator {
public:
    jp2_locator() : file_pos(0), bin_id(-1), bin_pos(0) {}
    void set_file_pos(int64_t pos)
    {
        file_pos = pos;
        bin_id = -1;
        bin_pos = 0;
    }
    int64_t get_file_pos() const { return file_pos; }
    int64_t get_databin_id() const { return bin_id; }
    int get_databin_pos() const { return bin_pos; }

private:
    friend class jp2_input_box;
    int64_t file_pos;
    int64_t bin_id;
    int32_t bin_pos;
};
