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

// Decodes the codestream the source delivers. Codec failures arrive as whatever the
// installed codec error handler throws; the tool's own as decode_error.
std::vector<pgx_image> decode_components(rvd_compressed_source* source,
                                         const decode_settings& settings);
