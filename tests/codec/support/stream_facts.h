// Facts about the coding-parameter streams and the conformance codestreams: marker
// segments by header from the generator's scanner (test_sources.h), plus the SIZ fields
// decoded by the generator and the values opj_dump reports (<name>.dump).
#pragma once

#include "tests/codec/support/test_sources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace codec_test {

struct segment_fact {
    bool main = true;
    int tile = -1, tpart = 0;
    uint16_t code = 0;
    std::vector<uint8_t> body;
};

struct param_facts {
    std::string name;
    std::vector<segment_fact> segments;
    std::vector<int64_t> siz; // Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz, Csiz
    std::vector<std::vector<int>> sizc; // Ssiz, XRsiz, YRsiz per component
    std::vector<int64_t> dump_image;    // x0 y0 x1 y1 numcomps
    std::vector<std::vector<int>> dump_comps; // dx dy prec sgnd
    std::vector<int64_t> dump_tiles;    // tx0 ty0 tdx tdy tw th
    std::vector<int> dump_cod;          // csty prg numlayers mct of the default tile
    struct tccp {
        int csty = 0, numresolutions = 0, cblkw = 0, cblkh = 0, cblksty = 0, qmfbid = 0;
        int qntsty = 0, numgbits = 0;
        std::vector<int> prec;  // w, h exponents, lowest resolution first
        std::vector<int> steps; // m, e pairs
    };
    std::vector<tccp> dump_tccp; // per component

    // Main-header segments (or those of the first tile-part of `tile`) with the code.
    std::vector<const segment_fact*> find(uint16_t code, int tile = -1) const;
};

// Loads <name>.facts and <name>.dump from the "params" group of generated streams;
// conformance codestreams are named "conf_p0_01" and so on.
bool load_param_facts(const std::string& name, param_facts& facts);

// "conf_p0_01", ... for every conformance codestream.
std::vector<std::string> param_conformance_names();

} // namespace codec_test
