// The decode loop shared by the decode tool, the conformance test and the benchmark:
// every valid tile through its multi-component synthesis network (colour and
// multi-component transforms applied), every output component at its highest accessible
// resolution, placed into one image per output component.
#pragma once

#include "tools/decode/decode_options.h"
#include "tools/decode/pgx_image.h"

#include <vector>

class rvd_compressed_source;

// Builds the codec's process-wide tables (processor words, 16-bit 9/7 multipliers,
// context and MQ tables) once, as module start-up would; decode_components calls it.
void decode_library_startup();

// Receives the decoded image row by row: `start` once with every output component's
// shape (samples left empty), then each component's rows in order, each row whole.
class decoded_rows {
public:
    virtual ~decoded_rows() = default;
    virtual void start(const std::vector<pgx_image>& shapes) = 0;
    virtual void put(int component, int64_t row, const int32_t* samples) = 0;
    // Optionally, rows as final bytes, formatted by worker threads: a receiver whose
    // rows have a byte size gets `format` calls from any thread, then each component's
    // formatted rows in order through `put_bytes` instead of `put`.
    virtual size_t formatted_row_bytes(int) const { return 0; }
    virtual void format(int, const int32_t*, uint8_t*) const {}
    virtual void put_bytes(int, int64_t, int, const uint8_t*) {}
};

// Decodes the codestream the source delivers, handing rows to `out` as they are pulled;
// with several tiles across, one tile row of the image is held until it is complete.
// Codec failures arrive as whatever the installed codec error handler throws; the tool's
// own as decode_error.
void decode_components(rvd_compressed_source* source, const decode_settings& settings, decoded_rows& out);

// The same, gathering the whole image.
std::vector<pgx_image> decode_components(rvd_compressed_source* source,
                                         const decode_settings& settings);
