// A minimal codestream writer for tests, independent of the codec's writing side: one
// tile, no wavelet levels, reversible, LRCP with one precinct per component. Each
// code-block goes through the block encoder and the precinct blocks' packet operations;
// the main header comes from the parameter tree. Outside decoders then check the result.
#pragma once

#include "codec/core/rvd_compressed_target.h"

#include <cstdint>
#include <string>
#include <vector>

namespace codec_test {

// `attributes`: parameter text, one attribute per blank-separated token (Ssize,
// Scomponents, Sprecision, Ssigned, Clevels=0, Clayers, Cblk, Cmodes, Creversible=yes).
// `samples`: per component, height x width values as the image holds them (unsigned
// components not level-shifted).
std::vector<uint8_t> write_mini_codestream(const std::string& attributes,
                                           const std::vector<std::vector<int32_t>>& samples);

// The same codestream through the codec's writing pieces onto `target`: the comments
// follow the main header as COM segments, each layer goes into a tile-part of its own,
// and with `tlm` the reserved TLM segments are filled in at the end.
void write_mini_codestream(rvd_compressed_target* target, const std::string& attributes,
                           const std::vector<std::vector<int32_t>>& samples,
                           const std::vector<std::string>& comments, bool tlm);

} // namespace codec_test
