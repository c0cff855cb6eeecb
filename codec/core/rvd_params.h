// The coding-parameter database: one tree of marker-class objects per codestream,
// organised in clusters, addressed by tile, component and instance, with attribute
// values read through fall-back to less specific objects.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class rvd_message;
class rvd_output;

// Attribute flags given to `define_attribute`.
enum : int {
    RVD_MULTI_RECORD = 1,      // several records allowed
    RVD_CAN_EXTRAPOLATE = 2,   // a read beyond the last record returns the last record
    RVD_ALL_COMPONENTS = 4     // stored only in objects without a component index
};

// One 32-bit field value: an integer (booleans 0 or 1) or the bits of a float.
struct rv_attribute_value {
    int32_t bits = 0;
    const char* pattern = nullptr; // the field's type letter or bracket in the pattern
    bool is_set = false;
};

struct rv_attribute {
    const char* name;
    const char* description;
    int flags;
    const char* pattern;
    int num_fields;
    int num_records = 0;
    std::vector<rv_attribute_value> values; // max_records x num_fields, record-major
    bool derived = false;
    bool parsed = false;
    std::unique_ptr<rv_attribute> next;
    int max_records = 1;
    std::vector<const char*> field_patterns; // where each field's element starts
};

class rvd_params;

// Raises a codec error with the core's lead-in and the given text; never returns
// (the installed handler throws, or the process ends).
[[noreturn]] void rv_raise_core_error(const std::string& text);
// Emits a codec warning with the core's lead-in and the given text.
void rv_issue_core_warning(const std::string& text);

// One identifier of an enumeration or flag element, as it stands in the pattern.
struct rv_translator_entry {
    const char* ident;
    size_t len;
    int value;
};
// Reads the translators of the "(...)" or "[...]" element starting at `element`; a
// malformed list raises the codec error.
void rv_read_translators(const char* element, std::vector<rv_translator_entry>& out);

// Which object governs each tile-component slot of a cluster. Only owned slots are
// stored; the others are worked out as own, else the tile's object, else the main-header
// component object, else the head, so the table costs memory per object rather than per
// tile x component.
struct rv_param_table {
    int num_tiles = 0;
    int num_comps = 0;
    rvd_params* head = nullptr;
    std::map<std::pair<int, int>, rvd_params*> owners; // keyed by (tile, component)
};

class rvd_params {
public:
    rvd_params(const char* cluster_name, bool allow_tiles, bool allow_comps, bool allow_insts,
               bool force_comps = false, bool treat_instances_like_components = false);

    // The family's virtual operations, in slot order.
    virtual rvd_params* new_object() = 0;
    virtual ~rvd_params();
    virtual void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                                  bool transpose, bool vflip, bool hflip) = 0;
    virtual int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx)
    {
        (void)out;
        (void)last_marked;
        (void)tpart_idx;
        return 0;
    }
    virtual bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx) = 0;
    virtual bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx) = 0;
    virtual int custom_parse_field(const char* string, const char* name, int field_idx,
                                   int& value)
    {
        (void)string;
        (void)name;
        (void)field_idx;
        (void)value;
        return 0;
    }
    virtual void custom_textualize_field(rvd_message& output, const char* name, int field_idx,
                                         int value)
    {
        (void)output;
        (void)name;
        (void)field_idx;
        (void)value;
    }
    virtual void finalize(bool after_reading = false) { (void)after_reading; }

    rvd_params(const rvd_params&) = delete;
    rvd_params& operator=(const rvd_params&) = delete;

    // Tree structure.
    rvd_params* link(rvd_params* existing, int tile_idx, int comp_idx, int num_tiles,
                     int num_comps);
    rvd_params* new_instance();
    rvd_params* access_cluster(const char* name);
    rvd_params* access_cluster(int sequence_idx);
    rvd_params* access_relation(int tile_idx, int comp_idx, int inst_idx, bool read_only);
    rvd_params* access_unique(int tile_idx, int comp_idx, int inst_idx);
    rvd_params* access_next_inst() { return next_inst; }
    // The objects of this object's cluster that own their slots (first instances), in
    // table order: main header first, then tile by tile; never creates any.
    std::vector<rvd_params*> owned_objects();
    // Component indices of the objects that own slots in one tile row (-1: main header).
    std::vector<int> owned_components(int tile_idx);
    rvd_params* access_next_cluster() { return next_cluster; }
    // Deletes every object of tile t (the tile object, its component objects and their
    // instances) in this cluster, or in every cluster when called on the root; the tile
    // then reads the main header's values again.
    void remove_tile(int tile_idx);

    const char* get_cluster_name() const { return cluster_name; }
    int get_instance() const { return inst_idx; }
    int get_tile_idx() const { return tile_idx; }
    int get_comp_idx() const { return comp_idx; }
    int get_num_tiles() const { return num_tiles; }
    int get_num_comps() const { return num_comps; }
    bool is_empty() const { return empty; }
    bool is_marked() const { return marked; }
    bool is_changed() const { return changed; }

    // Values.
    bool get(const char* name, int record_idx, int field_idx, int& value, bool allow_inherit = true,
             bool allow_extend = true, bool use_derived = true);
    bool get(const char* name, int record_idx, int field_idx, bool& value,
             bool allow_inherit = true, bool allow_extend = true, bool use_derived = true);
    bool get(const char* name, int record_idx, int field_idx, float& value,
             bool allow_inherit = true, bool allow_extend = true, bool use_derived = true);
    void set(const char* name, int record_idx, int field_idx, int value);
    void set(const char* name, int record_idx, int field_idx, bool value);
    void set(const char* name, int record_idx, int field_idx, double value);
    void set_derived(const char* name);
    void delete_unparsed_attribute(const char* name);
    void clear_marks();
    bool any_changes();
    void finalize_all(bool after_reading = false);
    void finalize_all(int tile_idx, bool after_reading);

    // Marker segments in and out.
    bool translate_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                  int tile_idx, int tpart_idx);
    int generate_marker_segments(rvd_output* out, int tile_idx, int tpart_idx);

    // Copying between trees and the typical-tile test.
    void copy_from(rvd_params* source, int source_tile, int target_tile, int instance = -1,
                   int skip_components = 0, int discard_levels = 0, bool transpose = false,
                   bool vflip = false, bool hflip = false);
    void copy_all(rvd_params* source, int skip_components = 0, int discard_levels = 0,
                  bool transpose = false, bool vflip = false, bool hflip = false);
    bool check_typical_tile(int tile_idx, const char* excluded_clusters = nullptr);

    // Text form.
    bool parse_string(const char* string);
    bool parse_string(const char* string, int tile_idx);
    rvd_params* find_string(const char* string, const char*& name);
    void textualize_attributes(rvd_message& output, bool skip_derived = true);
    void textualize_attributes(rvd_message& output, int min_tile, int max_tile,
                               bool skip_derived = true);
    void describe_attributes(rvd_message& output, bool include_comments = true);
    void describe_attribute(const char* name, rvd_message& output, bool include_comments = true);

protected:
    void define_attribute(const char* name, const char* description, const char* pattern,
                          int flags = 0);

    // Names a cluster whose objects are created together with this cluster's own.
    void add_dependency(const char* cluster_name);

    const char* cluster_name;
    int tile_idx = -1;
    int comp_idx = -1;
    int inst_idx = 0;
    int num_tiles = 0;
    int num_comps = 0;
    bool empty = true;
    bool marked = false;
    bool allow_tiles;
    bool allow_comps;
    bool allow_insts;
    bool force_comps;
    bool treat_instances_like_components;

private:
    rvd_params* head();
    rvd_params* root();
    rv_param_table* table() { return refs; }
    // Governing object of an in-range slot.
    rvd_params* governing(int t, int c);
    rvd_params* owner(int t, int c);
    rvd_params* create_slot_object(int t, int c);
    rvd_params* make_member(int t, int c, int inst);
    bool names_companion(const char* name) const;
    rv_attribute* find_attribute(const char* name);
    rv_attribute* find_settable_attribute(const char* name, int field_idx);
    rv_attribute* match_attribute(const char* name, size_t len);
    void extend_records(rv_attribute* att, int n);
    void note_change();
    bool get_field(rv_attribute_value*& val, const char* name, int record_idx, int field_idx,
                   char kind, bool allow_inherit, bool allow_extend, bool use_derived);
    void delete_unparsed_recursive(const char* name);
    void finalize_object_and_instances(bool after_reading);
    void finalize_row(bool after_reading);
    void clear_cluster_marks();
    void textualize_object(rvd_message& output, bool skip_derived);
    void textualize_cluster(rvd_message& output, int min_tile, int max_tile, bool skip_derived);
    bool parse_records(rv_attribute* att, const char* string, const char* cp);
    void describe_to(std::string& out, rv_attribute* att, bool include_comments);

    void copy_row(rvd_params* source, rvd_params* src_row, rvd_params* tgt_row, int source_tile,
                  int target_tile, int instance, int skip_components, int discard_levels,
                  bool transpose, bool vflip, bool hflip);
    void copy_pair(rvd_params* src, rvd_params* tgt, int instance, int skip_components,
                   int discard_levels, bool transpose, bool vflip, bool hflip);
    bool tile_is_typical(int t);

    rvd_params* first_cluster;
    rvd_params* next_cluster = nullptr;
    rv_param_table* refs = nullptr; // null while unlinked: a one-slot table of itself
    rvd_params* first_inst;
    rvd_params* next_inst = nullptr;
    std::unique_ptr<rv_attribute> attributes;
    rv_attribute* last_attribute = nullptr;
    bool changed = false;
    const char* dependencies[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
};
