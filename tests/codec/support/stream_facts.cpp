#include "tests/codec/support/stream_facts.h"

#include <fstream>
#include <sstream>

namespace codec_test {

std::vector<const segment_fact*> param_facts::find(uint16_t code, int tile) const
{
    std::vector<const segment_fact*> out;
    for (const auto& s : segments)
        if (s.code == code && ((tile < 0 && s.main) || (!s.main && s.tile == tile && s.tpart == 0)))
            out.push_back(&s);
    return out;
}

bool load_param_facts(const std::string& name, param_facts& facts)
{
    std::string dir = stream_dir("params");
    facts = param_facts();
    facts.name = name;
    stream_facts scanned;
    try {
        scanned = load_facts(dir + "/" + name + ".facts");
    } catch (const std::exception&) {
        return false;
    }
    // A segment belongs to the tile-part whose SOT precedes it; before the first SOT it is
    // in the main header.
    for (const fact_marker& m : scanned.markers) {
        if (m.code == 0xFF4F || m.code == 0xFF90 || m.code == 0xFF93 || m.code == 0xFFD9)
            continue;
        segment_fact s;
        s.code = m.code;
        s.body = m.body;
        for (const fact_sot& sot : scanned.sots)
            if (sot.offset < m.offset) {
                s.main = false;
                s.tile = sot.isot;
                s.tpart = sot.tpsot;
            }
        facts.segments.push_back(s);
    }
    std::ifstream in(dir + "/" + name + ".dump");
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string kind;
        ls >> kind;
        if (kind == "siz") {
            int64_t v;
            while (ls >> v)
                facts.siz.push_back(v);
        } else if (kind == "sizc") {
            int i, s, x, y;
            ls >> i >> s >> x >> y;
            facts.sizc.push_back({s, x, y});
        } else if (kind == "dump") {
            std::string what;
            ls >> what;
            int64_t v;
            std::vector<int64_t> vals;
            while (ls >> v)
                vals.push_back(v);
            auto comp = [&](int64_t c) -> param_facts::tccp& {
                if (facts.dump_tccp.size() <= size_t(c))
                    facts.dump_tccp.resize(size_t(c) + 1);
                return facts.dump_tccp[size_t(c)];
            };
            if (what == "image")
                facts.dump_image = vals;
            else if (what == "tiles")
                facts.dump_tiles = vals;
            else if (what == "comp" && vals.size() == 5)
                facts.dump_comps.push_back({int(vals[1]), int(vals[2]), int(vals[3]), int(vals[4])});
            else if (what == "cod")
                facts.dump_cod.assign(vals.begin(), vals.end());
            else if (what == "tccp" && vals.size() == 9) {
                param_facts::tccp& t = comp(vals[0]);
                t.csty = int(vals[1]);
                t.numresolutions = int(vals[2]);
                t.cblkw = int(vals[3]);
                t.cblkh = int(vals[4]);
                t.cblksty = int(vals[5]);
                t.qmfbid = int(vals[6]);
                t.qntsty = int(vals[7]);
                t.numgbits = int(vals[8]);
            } else if (what == "prec" && !vals.empty()) {
                comp(vals[0]).prec.assign(vals.begin() + 1, vals.end());
            } else if (what == "steps" && !vals.empty()) {
                comp(vals[0]).steps.assign(vals.begin() + 1, vals.end());
            }
        }
    }
    return true;
}

std::vector<std::string> param_conformance_names()
{
    std::vector<std::string> out;
    for (const std::string& n : conformance_names())
        out.push_back("conf_" + n);
    return out;
}

} // namespace codec_test
