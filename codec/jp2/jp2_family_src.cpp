#include "codec/jp2/jp2_family_src.h"

#include "codec/core/rvd_message.h"

jp2_family_src::jp2_family_src()
    : read_buffer(nullptr), file(nullptr), indirect(nullptr), cache(nullptr), last_pos(-1), last_bin_id(-1),
      last_codestream(-1), last_class(-1), seekable(false), id(0)
{
}

jp2_family_src::~jp2_family_src()
{
    close();
}

void jp2_family_src::open(rvd_cache* c)
{
    if (exists()) {
        rvd_error e("Error in Ravade File Format Support:\n");
        e << "Attempting to open a `jp2_family_src' object which is already open.";
    }
    ++id;
    cache = c;
    last_pos = last_bin_id = last_codestream = -1;
    last_class = -1;
    seekable = true;
}

void jp2_family_src::close()
{
    delete[] read_buffer;
    read_buffer = nullptr;
    file = nullptr;
    indirect = nullptr;
    cache = nullptr;
    last_pos = last_bin_id = last_codestream = -1;
    last_class = -1;
}
