#include "tests/codec/support/stream_facts.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace codec_test {

std::vector<const segment_fact*> stream_facts::find(uint16_t code, int tile) const
{
    std::vector<const segment_fact*> out;
    for (const auto& s : segments)
        if (s.code == code && ((tile < 0 && s.main) || (!s.main && s.tile == tile && s.tpart == 0)))
            out.push_back(&s);
    return out;
}

const std::string& test_streams_dir()
{
    static std::string dir = [] {
        // The folder name changes whenever the generator's matrix or facts change.
        std::string out = std::string(ORBEL_BINARY_DIR) + "/test_streams_2";
        if (!std::filesystem::exists(out)) {
            std::string cmd = "python3 '" + std::string(ORBEL_SOURCE_DIR) +
                              "/tools/make_test_streams.py' --out '" + out + "' --conformance '" +
                              ORBEL_CONFORMANCE_DIR + "' > /dev/null";
            // A concurrent test process may publish the set first; either way it exists.
            int rc = std::system(cmd.c_str());
            (void)rc;
        }
        return std::filesystem::exists(out) ? out : std::string();
    }();
    return dir;
}

namespace {
std::vector<uint8_t> from_hex(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
} // namespace

bool load_stream_facts(const std::string& name, stream_facts& facts)
{
    const std::string& dir = test_streams_dir();
    if (dir.empty())
        return false;
    std::ifstream in(dir + "/" + name + ".facts");
    if (!in)
        return false;
    facts = stream_facts();
    facts.name = name;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string kind;
        ls >> kind;
        if (kind == "seg") {
            segment_fact s;
            std::string where, code, hex;
            ls >> where;
            if (where == "tile") {
                s.main = false;
                ls >> s.tile >> s.tpart;
            }
            ls >> code >> hex;
            s.code = static_cast<uint16_t>(std::stoi(code, nullptr, 16));
            s.body = from_hex(hex);
            facts.segments.push_back(s);
        } else if (kind == "siz") {
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
            auto comp = [&](int64_t c) -> stream_facts::tccp& {
                if (facts.dump_tccp.size() <= size_t(c))
                    facts.dump_tccp.resize(size_t(c) + 1);
                return facts.dump_tccp[size_t(c)];
            };
            if (what == "image")
                facts.dump_image = vals;
            else if (what == "cod")
                facts.dump_cod.assign(vals.begin(), vals.end());
            else if (what == "tccp" && vals.size() == 9) {
                stream_facts::tccp& t = comp(vals[0]);
                t.csty = int(vals[1]);
                t.numresolutions = int(vals[2]);
                t.cblkw = int(vals[3]);
                t.cblkh = int(vals[4]);
                t.cblksty = int(vals[5]);
                t.qmfbid = int(vals[6]);
                t.qntsty = int(vals[7]);
                t.numgbits = int(vals[8]);
            } else if (what == "prec" && !vals.empty())
                comp(vals[0]).prec.assign(vals.begin() + 1, vals.end());
            else if (what == "steps" && !vals.empty())
                comp(vals[0]).steps.assign(vals.begin() + 1, vals.end());
            else if (what == "tiles")
                facts.dump_tiles = vals;
            else if (what == "comp" && vals.size() == 5)
                facts.dump_comps.push_back({int(vals[1]), int(vals[2]), int(vals[3]), int(vals[4])});
        }
    }
    return true;
}

std::vector<std::string> conformance_names()
{
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(std::string(ORBEL_CONFORMANCE_DIR) + "/codestreams"))
        if (e.path().extension() == ".j2k")
            out.push_back("conf_" + e.path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace codec_test
