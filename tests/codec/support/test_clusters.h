// Test stand-ins for the 13 marker classes: the real cluster names, structure flags and
// companion lists, each with a set of generic attributes (one per field type) and, for
// COD, POC and MCT, the real rows the text tests use. Header-only so the fuzz targets
// can share it.
#pragma once

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_output.h"
#include "codec/core/rvd_params.h"
#include "codec/core/siz_params.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace codec_test {

struct cluster_spec {
    const char* name;
    bool tiles, comps, insts, force, indexed;
    const char* companions[3];
};

// In the order codestream creation links them, the root first.
inline const cluster_spec* cluster_specs()
{
    static const cluster_spec specs[13] = {
        {"SIZ", false, false, false, false, false, {nullptr, nullptr, nullptr}},
        {"MCT", true, false, true, false, true, {nullptr, nullptr, nullptr}},
        {"MCC", true, false, true, false, true, {nullptr, nullptr, nullptr}},
        {"MCO", true, false, false, false, false, {nullptr, nullptr, nullptr}},
        {"ATK", true, false, true, false, true, {nullptr, nullptr, nullptr}},
        {"COD", true, true, false, false, false, {"QCD", nullptr, nullptr}},
        {"DFS", false, false, true, false, true, {nullptr, nullptr, nullptr}},
        {"ADS", true, false, true, false, true, {nullptr, nullptr, nullptr}},
        {"QCD", true, true, false, false, false, {"COD", "ADS", nullptr}},
        {"RGN", true, true, false, true, false, {nullptr, nullptr, nullptr}},
        {"POC", true, false, true, false, false, {nullptr, nullptr, nullptr}},
        {"ORG", true, false, true, false, false, {nullptr, nullptr, nullptr}},
        {"CRG", false, false, false, false, false, {nullptr, nullptr, nullptr}},
    };
    return specs;
}
constexpr int num_cluster_specs = 13;

// Generic attribute kinds every test class declares, prefixed by its lower-case
// cluster name ("cod_i", "qcd_f", ...).
enum generic_kind { GK_INT, GK_FLOAT, GK_BOOL, GK_ENUM, GK_FLAGS, GK_CUSTOM, GK_ALLCOMP, GK_COUNT };

inline const char* generic_pattern(int kind)
{
    static const char* const patterns[GK_COUNT] = {"I", "F", "B", "(A=0,B=1,C=2)",
                                                   "[R=1|L=2|C=4]", "C", "II"};
    return patterns[kind];
}

inline int generic_flags(int kind)
{
    switch (kind) {
    case GK_INT:
        return RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE;
    case GK_ALLCOMP:
        return RVD_ALL_COMPONENTS | RVD_MULTI_RECORD;
    default:
        return 0;
    }
}

// Stable name storage: attribute names are referenced, not copied.
inline const char* generic_name(int spec_idx, int kind)
{
    static std::string names[num_cluster_specs][GK_COUNT];
    static const char* const suffix[GK_COUNT] = {"_i", "_f", "_b", "_e", "_g", "_c", "_a"};
    std::string& s = names[spec_idx][kind];
    if (s.empty()) {
        std::string lower = cluster_specs()[spec_idx].name;
        for (auto& ch : lower)
            ch = static_cast<char>(ch - 'A' + 'a');
        s = lower + suffix[kind];
    }
    return s.c_str();
}

class test_params : public rvd_params {
public:
    explicit test_params(int spec_idx)
        : rvd_params(cluster_specs()[spec_idx].name, cluster_specs()[spec_idx].tiles,
                     cluster_specs()[spec_idx].comps, cluster_specs()[spec_idx].insts,
                     cluster_specs()[spec_idx].force, cluster_specs()[spec_idx].indexed),
          spec_idx(spec_idx)
    {
        const cluster_spec& spec = cluster_specs()[spec_idx];
        for (const char* comp : spec.companions)
            if (comp != nullptr)
                add_dependency(comp);
        const std::string name = spec.name;
        if (name == "COD") {
            define_attribute("Clayers", "Number of quality layers.", "I", RVD_ALL_COMPONENTS);
            define_attribute("Cblk", "Nominal code-block dimensions.", "II", 0);
            define_attribute("Cmodes", "Block coder mode switches.",
                             "[BYPASS=1|RESET=2|RESTART=4|CAUSAL=8|ERTERM=16|SEGMARK=32]", 0);
            // What the SIZ class reads of the coding style.
            define_attribute("Calign_blk_last", "Block alignment.", "BB", RVD_ALL_COMPONENTS);
            define_attribute("Clevels", "DWT levels.", "I", 0);
            define_attribute("Cads", "ADS index.", "I", 0);
            define_attribute("Cdfs", "DFS index.", "I", 0);
            define_attribute("Cdecomp", "Decomposition structure.", "C",
                             RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
            define_attribute("Catk", "ATK index.", "I", 0);
            define_attribute("Cuse_precincts", "Explicit precincts.", "B", 0);
            define_attribute("Cprecincts", "Precinct dimensions.", "II",
                             RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
        } else if (name == "POC") {
            define_attribute("Porder", "Progression order changes.",
                             "IIIII(LRCP=0,RLCP=1,RPCL=2,PCRL=3,CPRL=4)", RVD_MULTI_RECORD);
        } else if (name == "ATK") {
            define_attribute("Ksymmetric", "Symmetric kernel.", "B", 0);
            define_attribute("Kreversible", "Reversible kernel.", "B", 0);
            define_attribute("Kextension", "Boundary extension.", "(CON=0,SYM=1)", 0);
            define_attribute("Ksteps", "Lifting steps.", "IIII", RVD_MULTI_RECORD);
            define_attribute("Kcoeffs", "Lifting coefficients.", "F", RVD_MULTI_RECORD);
        } else if (name == "MCT") {
            define_attribute("Mmatrix_size", "Number of matrix elements.", "I", 0);
        }
        for (int k = 0; k < GK_COUNT; k++)
            define_attribute(generic_name(spec_idx, k), "Generic test attribute.",
                             generic_pattern(k), generic_flags(k));
    }

    // Objects that may still be made before new_object raises a codec error (-1: any
    // number), to check that trees hit by an error part-way still destroy cleanly.
    static int& object_budget()
    {
        static int budget = -1;
        return budget;
    }
    rvd_params* new_object() override
    {
        if (object_budget() == 0)
            rv_raise_core_error("Test object budget used up.");
        if (object_budget() > 0)
            object_budget()--;
        return new test_params(spec_idx);
    }
    // Copies the generic integer attribute's own records and notes the arguments.
    void copy_with_xforms(rvd_params* source, int skip, int discard, bool, bool, bool) override
    {
        const char* name = generic_name(spec_idx, GK_INT);
        int v = 0;
        for (int r = 0; source->get(name, r, 0, v, false, false); r++)
            set(name, r, 0, v);
        last_skip = skip;
        last_discard = discard;
        copies++;
    }

    // Stand-in segments: code 0xFF40 + cluster position; body = index byte, then the
    // generic integer records as 16-bit values.
    static uint16_t test_code(int spec_idx) { return static_cast<uint16_t>(0xFF40 + spec_idx); }
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override
    {
        if (code != test_code(spec_idx) || num_bytes < 1)
            return false;
        c_idx = (bytes[0] == 0xFF) ? -1 : bytes[0];
        return true;
    }
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override
    {
        if (code != test_code(spec_idx) || tpart_idx < 0)
            return false;
        const uint8_t* bp = bytes + 1;
        const uint8_t* end = bytes + num_bytes;
        const char* name = generic_name(spec_idx, GK_INT);
        for (int r = 0; bp < end; r++)
            set(name, r, 0, static_cast<int>(static_cast<int16_t>(rv_read_big(bp, end, 2))));
        return true;
    }
    int write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx) override
    {
        offered++;
        last_ref = ref;
        const char* name = generic_name(spec_idx, GK_INT);
        std::vector<int> mine, theirs;
        int v = 0;
        for (int r = 0; get(name, r, 0, v, true, false); r++)
            mine.push_back(v);
        if (ref != nullptr)
            for (int r = 0; ref->get(name, r, 0, v, true, false); r++)
                theirs.push_back(v);
        if (mine.empty() || (ref != nullptr && mine == theirs))
            return 0;
        if (cluster_specs()[spec_idx].insts && !cluster_specs()[spec_idx].indexed &&
            get_instance() != tpart_idx)
            return 0;
        int idx = cluster_specs()[spec_idx].indexed ? get_instance() : get_comp_idx();
        int size = 2 + 2 + 1 + 2 * static_cast<int>(mine.size());
        if (out != nullptr) {
            out->put(test_code(spec_idx));
            out->put(static_cast<uint16_t>(size - 2));
            out->put(static_cast<uint8_t>(idx < 0 ? 0xFF : idx));
            for (int m : mine)
                out->put(static_cast<uint16_t>(m));
        }
        return size;
    }

    // Custom fields are written "#<decimal>".
    int custom_parse_field(const char* string, const char*, int, int& value) override
    {
        if (string[0] != '#')
            return 0;
        char* end = nullptr;
        long v = std::strtol(string + 1, &end, 10);
        if (end == string + 1 || v < -1000000 || v > 1000000)
            return 0;
        value = static_cast<int>(v);
        return static_cast<int>(end - string);
    }
    void custom_textualize_field(rvd_message& output, const char*, int, int value) override
    {
        output << ("#" + std::to_string(value)).c_str();
    }

    void finalize(bool) override { finalize_count++; }
    void set_marked() { marked = true; }

    int spec_idx;
    int finalize_count = 0;
    int copies = 0, last_skip = -1, last_discard = -1;
    int offered = 0;            // calls of write_marker_segment
    rvd_params* last_ref = nullptr;
};

template <class Root>
inline Root* new_root()
{
    return new Root();
}
template <>
inline test_params* new_root<test_params>()
{
    return new test_params(0);
}

// A tree of all 13 test classes linked under the SIZ root, with the given numbers of
// tiles and components for the clusters that specialise in them.
template <class Root = test_params>
inline std::unique_ptr<Root> make_test_tree(int num_tiles, int num_comps)
{
    std::unique_ptr<Root> root(new_root<Root>());
    for (int n = 1; n < num_cluster_specs; n++) {
        const cluster_spec& spec = cluster_specs()[n];
        std::unique_ptr<test_params> head(new test_params(n));
        head->link(root.get(), -1, -1, spec.tiles ? num_tiles : 0, spec.comps ? num_comps : 0);
        head.release(); // the root owns it now
    }
    return root;
}

inline test_params* as_test(rvd_params* obj)
{
    return static_cast<test_params*>(obj);
}

// Collects everything written to it.
class string_message : public rvd_message {
public:
    void put_text(const char* t) override { text += t; }
    std::string text;
};

// Keeps every byte written to it.
class vector_output : public rvd_output {
public:
    std::vector<uint8_t> bytes;
    const std::vector<uint8_t>& finish()
    {
        flush_buf();
        return bytes;
    }

protected:
    int flush_buf() override
    {
        int n = static_cast<int>(next_buf - buffer);
        bytes.insert(bytes.end(), buffer, next_buf);
        next_buf = buffer;
        return n;
    }
};

// Splits a run of marker segments (code, length, body) and translates each into the tree.
inline int translate_all(rvd_params* root, const std::vector<uint8_t>& bytes, int tile,
                         int tpart)
{
    int taken = 0;
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        uint16_t code = static_cast<uint16_t>((bytes[pos] << 8) | bytes[pos + 1]);
        int len = (bytes[pos + 2] << 8) | bytes[pos + 3];
        if (len < 2 || pos + 2 + static_cast<size_t>(len) > bytes.size())
            break;
        if (root->translate_marker_segment(code, len - 2, bytes.data() + pos + 4, tile, tpart))
            taken++;
        pos += 2 + static_cast<size_t>(len);
    }
    return taken;
}

} // namespace codec_test
