#include "codec/core/rvd_params.h"

#include "codec/core/rvd_message.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {
const char* const core_error_lead = "Ravade Core Error:\n";
const char* const core_warning_lead = "Ravade Core Warning:\n";

std::string quoted_name(const char* name)
{
    return std::string("\"") + name + "\"";
}

// Counts the fields of a pattern; -1 when it cannot be counted.
int count_pattern_fields(const char* pattern, std::vector<const char*>& starts)
{
    int n = 0;
    for (const char* cp = pattern; *cp != '\0'; ++cp) {
        starts.push_back(cp);
        n++;
        if (*cp == '(' || *cp == '[') {
            char close = (*cp == '(') ? ')' : ']';
            while (*cp != '\0' && *cp != close)
                cp++;
            if (*cp == '\0')
                return -1;
        } else if (*cp != 'I' && *cp != 'B' && *cp != 'F' && *cp != 'C') {
            return -1;
        }
    }
    return n;
}
} // namespace

void rv_raise_core_error(const std::string& text)
{
    {
        rvd_error e(core_error_lead);
        e << text.c_str();
    }
    // Reached only if a handler neither throws nor ends the process.
    std::abort();
}

void rv_issue_core_warning(const std::string& text)
{
    rvd_warning w(core_warning_lead);
    w << text.c_str();
}

/* ------------------------------------------------------------------------------------ */
/*                                  construction                                         */
/* ------------------------------------------------------------------------------------ */

rvd_params::rvd_params(const char* cluster_name, bool allow_tiles, bool allow_comps,
                       bool allow_insts, bool force_comps, bool treat_instances_like_components)
    : cluster_name(cluster_name), allow_tiles(allow_tiles), allow_comps(allow_comps),
      allow_insts(allow_insts), force_comps(force_comps),
      treat_instances_like_components(treat_instances_like_components), first_cluster(this),
      first_inst(this)
{
}

rvd_params::~rvd_params()
{
    rv_param_table* tab = refs;
    bool is_head = (tab != nullptr) ? (tab->head == this) : (first_inst == this);
    if (first_inst == this) {
        while (next_inst != nullptr)
            delete next_inst; // unlinks itself
        if (tab != nullptr && !is_head) {
            auto it = tab->owners.find(std::make_pair(tile_idx, comp_idx));
            if (it != tab->owners.end() && it->second == this)
                tab->owners.erase(it);
        }
    } else {
        rvd_params* scan = first_inst;
        while (scan != nullptr && scan->next_inst != this)
            scan = scan->next_inst;
        if (scan != nullptr)
            scan->next_inst = next_inst;
    }
    if (!is_head)
        return;

    if (tab != nullptr) {
        // Every other object of the cluster, exactly once; each takes its instances.
        while (!tab->owners.empty()) {
            auto it = tab->owners.begin();
            rvd_params* obj = it->second;
            tab->owners.erase(it);
            if (obj != this)
                delete obj;
        }
    }
    if (first_cluster == this) {
        // The root destroys every other cluster head in list order.
        rvd_params* scan = next_cluster;
        next_cluster = nullptr;
        while (scan != nullptr) {
            rvd_params* next = scan->next_cluster;
            scan->first_cluster = nullptr;
            scan->next_cluster = nullptr;
            delete scan;
            scan = next;
        }
    } else if (first_cluster != nullptr) {
        rvd_params* scan = first_cluster;
        while (scan != nullptr && scan->next_cluster != this)
            scan = scan->next_cluster;
        if (scan != nullptr)
            scan->next_cluster = next_cluster;
    }
    delete tab;
}

void rvd_params::define_attribute(const char* name, const char* description,
                                  const char* pattern, int flags)
{
    std::unique_ptr<rv_attribute> att(new rv_attribute);
    att->name = name;
    att->description = description;
    att->flags = flags;
    att->pattern = pattern;
    att->num_fields = count_pattern_fields(pattern, att->field_patterns);
    if (att->num_fields < 1)
        throw std::logic_error(std::string("Invalid attribute pattern: ") + pattern);
    att->values.resize(static_cast<size_t>(att->num_fields));
    for (int f = 0; f < att->num_fields; f++)
        att->values[static_cast<size_t>(f)].pattern = att->field_patterns[static_cast<size_t>(f)];
    rv_attribute* raw = att.get();
    if (last_attribute == nullptr)
        attributes = std::move(att);
    else
        last_attribute->next = std::move(att);
    last_attribute = raw;
}

std::vector<rvd_params*> rvd_params::owned_objects()
{
    std::vector<rvd_params*> out;
    if (refs == nullptr) {
        out.push_back(first_inst);
        return out;
    }
    for (auto& entry : refs->owners)
        out.push_back(entry.second);
    return out;
}

void rvd_params::remove_tile(int t)
{
    rvd_params* h = head();
    if (h->first_cluster == h)
        for (rvd_params* scan = h->next_cluster; scan != nullptr; scan = scan->next_cluster)
            scan->remove_tile(t);
    if (refs == nullptr || t < 0)
        return;
    // Collected first: each deletion takes its instances and frees its own slot.
    std::vector<rvd_params*> doomed;
    for (auto it = refs->owners.lower_bound(std::make_pair(t, -1));
         it != refs->owners.end() && it->first.first == t; ++it)
        if (it->second != refs->head)
            doomed.push_back(it->second);
    for (rvd_params* obj : doomed)
        delete obj;
}

std::vector<int> rvd_params::owned_components(int t)
{
    std::vector<int> out;
    if (refs == nullptr)
        return out;
    for (auto it = refs->owners.lower_bound(std::make_pair(t, 0));
         it != refs->owners.end() && it->first.first == t; ++it)
        out.push_back(it->first.second);
    return out;
}

void rvd_params::add_dependency(const char* name)
{
    for (int n = 0; n < 4; n++) {
        if (dependencies[n] == nullptr) {
            dependencies[n] = name;
            return;
        }
        if (std::strcmp(dependencies[n], name) == 0)
            return;
    }
}

bool rvd_params::names_companion(const char* name) const
{
    for (int n = 0; n < 4 && dependencies[n] != nullptr; n++)
        if (std::strcmp(dependencies[n], name) == 0)
            return true;
    return false;
}

/* ------------------------------------------------------------------------------------ */
/*                                   tree structure                                      */
/* ------------------------------------------------------------------------------------ */

rvd_params* rvd_params::head()
{
    return (refs != nullptr) ? refs->head : first_inst;
}

rvd_params* rvd_params::root()
{
    rvd_params* h = head();
    return (h->first_cluster != nullptr) ? h->first_cluster : h;
}

rvd_params* rvd_params::owner(int t, int c)
{
    if (refs == nullptr)
        return (t == -1 && c == -1) ? first_inst : nullptr;
    auto it = refs->owners.find(std::make_pair(t, c));
    return (it == refs->owners.end()) ? nullptr : it->second;
}

rvd_params* rvd_params::governing(int t, int c)
{
    rvd_params* obj = owner(t, c);
    if (obj == nullptr && t >= 0 && c >= 0)
        obj = owner(t, -1);
    if (obj == nullptr && t >= 0 && c >= 0)
        obj = owner(-1, c);
    if (obj == nullptr)
        obj = head();
    return obj;
}

rvd_params* rvd_params::link(rvd_params* existing, int tile_idx_in, int comp_idx_in,
                             int num_tiles_in, int num_comps_in)
{
    tile_idx = tile_idx_in;
    comp_idx = comp_idx_in;
    num_tiles = num_tiles_in;
    num_comps = num_comps_in;
    first_cluster = nullptr;
    if ((!allow_tiles && num_tiles > 0) || (!allow_comps && num_comps > 0) || num_tiles < 0 ||
        num_comps < 0 || tile_idx < -1 || tile_idx >= num_tiles || comp_idx < -1 ||
        comp_idx >= num_comps)
        rv_raise_core_error(
            "Illegal tile or component indices supplied to `rvd_params::link'.  Probably "
            "attempting to specialize a parameter object to a specific tile or component, "
            "where the parameter class in questions does not support tile or component "
            "diversity.");

    rvd_params* list = existing->first_inst->first_cluster;
    rvd_params* cluster = list;
    rvd_params* last = nullptr;
    for (; cluster != nullptr; last = cluster, cluster = cluster->next_cluster)
        if (std::strcmp(cluster->cluster_name, cluster_name) == 0)
            break;

    if (cluster == nullptr) {
        if (list == nullptr) {
            first_cluster = this;
        } else {
            first_cluster = list;
            last->next_cluster = this;
        }
        std::unique_ptr<rv_param_table> tab(new rv_param_table);
        tab->num_tiles = num_tiles;
        tab->num_comps = num_comps;
        tab->head = this;
        tab->owners[std::make_pair(-1, -1)] = this;
        if (tile_idx != -1 || comp_idx != -1)
            tab->owners[std::make_pair(tile_idx, comp_idx)] = this;
        refs = tab.release();
        return this;
    }

    rvd_params* h = cluster->head();
    if (h->num_tiles != num_tiles || h->num_comps != num_comps)
        rv_raise_core_error(
            "Call to `rvd_params::link' specifies a different number of tiles or components to "
            "the number with which the first parameter object of the same class was linked.");
    refs = h->refs;
    rvd_params* own = owner(tile_idx, comp_idx);
    if (own == nullptr || own == this) {
        refs->owners[std::make_pair(tile_idx, comp_idx)] = this;
        return this;
    }
    if (!allow_insts)
        rv_raise_core_error(
            "Call to `rvd_params::link' specifies the same cluster name, tile and component "
            "indices as an existing linked object, which does not support multiple "
            "instances.");
    rvd_params* tail = own;
    while (tail->next_inst != nullptr)
        tail = tail->next_inst;
    tail->next_inst = this;
    first_inst = own;
    inst_idx = tail->inst_idx + 1;
    return this;
}

// A new object of this cluster for (t, c) with the given instance index, not yet
// entered anywhere; the caller owns it until it is stored.
rvd_params* rvd_params::make_member(int t, int c, int inst)
{
    rvd_params* h = head();
    rvd_params* obj = h->new_object();
    obj->tile_idx = t;
    obj->comp_idx = c;
    obj->inst_idx = inst;
    obj->num_tiles = h->num_tiles;
    obj->num_comps = h->num_comps;
    obj->refs = refs;
    obj->first_cluster = nullptr;
    for (int n = 0; n < 5; n++)
        obj->dependencies[n] = dependencies[n];
    return obj;
}

rvd_params* rvd_params::new_instance()
{
    if (!allow_insts)
        return nullptr;
    if (comp_idx < 0 && num_comps > 0)
        return nullptr;
    if (tile_idx == -1 && num_tiles > 0 && !treat_instances_like_components)
        return nullptr;
    rvd_params* tail = this;
    while (tail->next_inst != nullptr)
        tail = tail->next_inst;
    rvd_params* obj = make_member(tile_idx, comp_idx, tail->inst_idx + 1);
    obj->first_inst = first_inst;
    tail->next_inst = obj;
    return obj;
}

rvd_params* rvd_params::access_cluster(const char* name)
{
    rvd_params* scan = root();
    if (name == nullptr)
        return scan;
    for (; scan != nullptr; scan = scan->next_cluster)
        if (std::strcmp(scan->cluster_name, name) == 0)
            return scan;
    return nullptr;
}

rvd_params* rvd_params::access_cluster(int sequence_idx)
{
    if (sequence_idx < 0)
        return nullptr;
    rvd_params* scan = root();
    for (; scan != nullptr && sequence_idx > 0; sequence_idx--)
        scan = scan->next_cluster;
    return scan;
}

// Creates the own object of slot (t, c) and keeps inheritance and companions in step.
rvd_params* rvd_params::create_slot_object(int t, int c)
{
    std::unique_ptr<rvd_params> fresh(make_member(t, c, 0));
    rvd_params* obj = fresh.get();
    obj->first_inst = obj;
    refs->owners[std::make_pair(t, c)] = fresh.release();

    if (c == -1 && t >= 0) {
        // Main-header component objects now need a tile-component object of their own.
        std::vector<int> comps;
        for (auto it = refs->owners.lower_bound(std::make_pair(-1, 0));
             it != refs->owners.end() && it->first.first == -1; ++it)
            comps.push_back(it->first.second);
        for (int k : comps)
            access_relation(t, k, 0, false);
    } else if (t == -1 && c >= 0) {
        std::vector<int> tiles;
        for (auto& entry : refs->owners)
            if (entry.first.first >= 0 && entry.first.second == -1)
                tiles.push_back(entry.first.first);
        for (int s : tiles)
            access_relation(s, c, 0, false);
    } else if (t >= 0 && c >= 0) {
        if (owner(t, -1) == nullptr)
            access_relation(t, -1, 0, false);
    }

    for (rvd_params* h = root(); h != nullptr; h = h->next_cluster) {
        if (!h->names_companion(cluster_name))
            continue;
        h->access_relation(t, c, 0, false);
        if (t >= 0 && h->allow_comps && !allow_comps)
            for (int k = 0; k < h->num_comps; k++)
                h->access_relation(t, k, 0, false);
    }
    return obj;
}

rvd_params* rvd_params::access_relation(int t, int c, int inst, bool read_only)
{
    rvd_params* h = head();
    if (t < -1 || c < -1 || t >= h->num_tiles || c >= h->num_comps || inst < 0)
        return nullptr;
    rvd_params* obj = governing(t, c);
    if (!read_only && (obj->tile_idx != t || obj->comp_idx != c)) {
        if (inst != 0 && !treat_instances_like_components)
            return nullptr;
        obj = create_slot_object(t, c);
    }
    for (;;) {
        if (obj->inst_idx == inst)
            return obj;
        if (obj->next_inst != nullptr && obj->next_inst->inst_idx <= inst) {
            obj = obj->next_inst;
            continue;
        }
        if (!treat_instances_like_components)
            return nullptr;
        if (read_only) {
            if (obj->tile_idx == -1)
                return nullptr;
            // A tile lacking the instance sees the main header's instance.
            obj = governing(-1, obj->comp_idx);
            if (obj->tile_idx != -1)
                return nullptr;
            continue;
        }
        rvd_params* fresh = obj->make_member(obj->tile_idx, obj->comp_idx, inst);
        fresh->first_inst = obj->first_inst;
        fresh->next_inst = obj->next_inst;
        obj->next_inst = fresh;
        return fresh;
    }
}

rvd_params* rvd_params::access_unique(int t, int c, int inst)
{
    rvd_params* h = head();
    if (t < -1 || c < -1 || t >= h->num_tiles || c >= h->num_comps)
        return nullptr;
    for (rvd_params* obj = owner(t, c); obj != nullptr; obj = obj->next_inst)
        if (obj->inst_idx == inst)
            return obj;
    return nullptr;
}

/* ------------------------------------------------------------------------------------ */
/*                                       values                                          */
/* ------------------------------------------------------------------------------------ */

rv_attribute* rvd_params::find_attribute(const char* name)
{
    for (rv_attribute* att = attributes.get(); att != nullptr; att = att->next.get())
        if (att->name == name || std::strcmp(att->name, name) == 0)
            return att;
    return nullptr;
}

rv_attribute* rvd_params::match_attribute(const char* name, size_t len)
{
    for (rv_attribute* att = attributes.get(); att != nullptr; att = att->next.get())
        if (std::strlen(att->name) == len && std::strncmp(att->name, name, len) == 0)
            return att;
    return nullptr;
}

void rvd_params::extend_records(rv_attribute* att, int n)
{
    if (n <= att->num_records)
        return;
    if (n <= att->max_records) {
        att->num_records = n;
        return;
    }
    if (!(att->flags & RVD_MULTI_RECORD))
        rv_raise_core_error(std::string("Attempting to write multiple records to a code-stream "
                                        "attribute, ") +
                            quoted_name(att->name) + ", which can accept only single attributes!");
    int old_records = att->num_records;
    int64_t capacity = static_cast<int64_t>(att->max_records) + n;
    if (capacity > (INT32_MAX / att->num_fields))
        rv_raise_core_error(std::string("Attempting to write multiple records to a code-stream "
                                        "attribute, ") +
                            quoted_name(att->name) + ", which can accept only single attributes!");
    size_t nf = static_cast<size_t>(att->num_fields);
    att->values.resize(static_cast<size_t>(capacity) * nf);
    for (int r = old_records; r < static_cast<int>(capacity); r++)
        for (size_t f = 0; f < nf; f++) {
            rv_attribute_value& v = att->values[static_cast<size_t>(r) * nf + f];
            if (old_records > 0)
                v = att->values[static_cast<size_t>(old_records - 1) * nf + f];
            v.pattern = att->field_patterns[f];
            v.is_set = false;
        }
    att->max_records = static_cast<int>(capacity);
    att->num_records = n;
}

void rvd_params::note_change()
{
    if (changed)
        return;
    changed = true;
    first_inst->changed = true;
    head()->changed = true;
    root()->changed = true;
}

bool rvd_params::get_field(rv_attribute_value*& val, const char* name, int record_idx,
                           int field_idx, char kind, bool allow_inherit, bool allow_extend,
                           bool use_derived)
{
    rv_attribute* att = find_attribute(name);
    if (att == nullptr)
        rv_raise_core_error(std::string("Attempt to access a code-stream attribute using the "
                                        "invalid name, ") +
                            quoted_name(name) + "!");
    if (field_idx < 0 || field_idx >= att->num_fields)
        rv_raise_core_error(std::string("Attempt to access a code-stream attribute, with an "
                                        "invalid field index!\nThe attribute name is ") +
                            quoted_name(name) + ".\nThe field index is " +
                            std::to_string(field_idx) + ".");
    char type = *att->field_patterns[static_cast<size_t>(field_idx)];
    if (kind == 'I' && type == 'F')
        rv_raise_core_error(std::string("Attempting to access a floating point code-stream "
                                        "attribute field with the integer access method!\nThe "
                                        "attribute name is ") +
                            quoted_name(name) + ".");
    if (kind == 'B' && type != 'B')
        rv_raise_core_error(std::string("Attempting to access a non-boolean code-stream "
                                        "attribute field with the boolean access method!\nThe "
                                        "attribute name is ") +
                            quoted_name(name) + ".");
    if (kind == 'F' && type != 'F')
        rv_raise_core_error(std::string("Attempting to access an integer code-stream parameter "
                                        "attribute field with the floating point access "
                                        "method!\nThe attribute name is ") +
                            quoted_name(name) + ".");
    if (record_idx < 0)
        return false;

    if (att->num_records > 0 && (!att->derived || use_derived)) {
        if (record_idx >= att->num_records && allow_extend && (att->flags & RVD_CAN_EXTRAPOLATE))
            record_idx = att->num_records - 1;
        if (record_idx >= att->num_records)
            return false;
        rv_attribute_value& v = att->values[static_cast<size_t>(record_idx) *
                                                static_cast<size_t>(att->num_fields) +
                                            static_cast<size_t>(field_idx)];
        if (!v.is_set)
            return false;
        val = &v;
        return true;
    }
    if (!allow_inherit || (inst_idx != 0 && !treat_instances_like_components))
        return false;
    if (comp_idx >= 0) {
        rvd_params* tile_obj = access_relation(tile_idx, -1, 0, true);
        if (tile_obj != nullptr && tile_obj != this && tile_obj->tile_idx == tile_idx &&
            tile_obj->get_field(val, name, record_idx, field_idx, kind, false, allow_extend,
                                use_derived))
            return true;
    }
    if (tile_idx >= 0) {
        rvd_params* main_obj = access_relation(-1, comp_idx, inst_idx, true);
        if (main_obj != nullptr && main_obj != this &&
            main_obj->get_field(val, name, record_idx, field_idx, kind, true, allow_extend,
                                use_derived))
            return true;
    }
    return false;
}

bool rvd_params::get(const char* name, int record_idx, int field_idx, int& value,
                     bool allow_inherit, bool allow_extend, bool use_derived)
{
    rv_attribute_value* v = nullptr;
    if (!get_field(v, name, record_idx, field_idx, 'I', allow_inherit, allow_extend,
                   use_derived))
        return false;
    value = v->bits;
    return true;
}

bool rvd_params::get(const char* name, int record_idx, int field_idx, bool& value,
                     bool allow_inherit, bool allow_extend, bool use_derived)
{
    rv_attribute_value* v = nullptr;
    if (!get_field(v, name, record_idx, field_idx, 'B', allow_inherit, allow_extend,
                   use_derived))
        return false;
    value = (v->bits != 0);
    return true;
}

bool rvd_params::get(const char* name, int record_idx, int field_idx, float& value,
                     bool allow_inherit, bool allow_extend, bool use_derived)
{
    rv_attribute_value* v = nullptr;
    if (!get_field(v, name, record_idx, field_idx, 'F', allow_inherit, allow_extend,
                   use_derived))
        return false;
    std::memcpy(&value, &v->bits, sizeof(float));
    return true;
}

// The checks every setter makes before it looks at the field's type.
rv_attribute* rvd_params::find_settable_attribute(const char* name, int field_idx)
{
    rv_attribute* att = find_attribute(name);
    if (att == nullptr)
        rv_raise_core_error(std::string("Attempt to set a code-stream attribute using the "
                                        "invalid name, ") +
                            quoted_name(name) + "!");
    if ((att->flags & RVD_ALL_COMPONENTS) && comp_idx >= 0)
        rv_raise_core_error(std::string("Attempt to set a non-tile-specific code-stream "
                                        "attribute in a specific component!\nThe attribute "
                                        "name is ") +
                            quoted_name(name) + ".");
    if (field_idx < 0 || field_idx >= att->num_fields)
        rv_raise_core_error(std::string("Attempt to set a code-stream attribute, with an "
                                        "invalid field index!\nThe attribute name is ") +
                            quoted_name(name) + ".\nThe field index is " +
                            std::to_string(field_idx) + ".");
    return att;
}

void rvd_params::set(const char* name, int record_idx, int field_idx, int value)
{
    rv_attribute* att = find_settable_attribute(name, field_idx);
    if (record_idx < 0)
        rv_raise_core_error(std::string("Attempt to set a code-stream attribute with a "
                                        "negative record index!\nThe attribute name is ") +
                            quoted_name(name) + ".");
    const char* element = att->field_patterns[static_cast<size_t>(field_idx)];
    char type = *element;
    if (type == 'F')
        rv_raise_core_error(std::string("Attempting to set a floating point code-stream "
                                        "parameter attribute field with the integer access "
                                        "method!\nThe attribute name is ") +
                            quoted_name(name) + ".");
    if (type == 'B' && value != 0 && value != 1)
        rv_raise_core_error(std::string("Attempting to set a boolean code-stream parameter "
                                        "attribute field with an integer not equal to 0 or "
                                        "1!\nThe attribute name is ") +
                            quoted_name(name) + ".");
    if (type == '(' || type == '[') {
        std::vector<rv_translator_entry> list;
        rv_read_translators(element, list);
        bool ok = false;
        if (type == '(') {
            for (auto& tr : list)
                ok = ok || (tr.value == value);
            if (!ok)
                rv_raise_core_error(std::string("Attempting to set a code-stream attribute "
                                                "field using an integer value which does not "
                                                "match any of the defined translation values "
                                                "for the field!\nThe attribute name is ") +
                                    quoted_name(name) + ".");
        } else {
            int32_t acc = 0;
            for (auto& tr : list)
                if ((tr.value & value) == tr.value)
                    acc |= tr.value;
            if (acc != value)
                rv_raise_core_error(std::string("Attempting to set a code-stream attribute "
                                                "field using an integer value which is "
                                                "incompatible with the flags defined for the "
                                                "field!\nThe attribute name is ") +
                                    quoted_name(name) + ".");
        }
    }
    int old_records = att->num_records;
    extend_records(att, record_idx + 1);
    rv_attribute_value& v = att->values[static_cast<size_t>(record_idx) *
                                            static_cast<size_t>(att->num_fields) +
                                        static_cast<size_t>(field_idx)];
    if (!v.is_set || v.bits != value || att->num_records != old_records)
        note_change();
    v.bits = value;
    v.is_set = true;
    empty = false;
}

void rvd_params::set(const char* name, int record_idx, int field_idx, bool value)
{
    rv_attribute* att = find_attribute(name);
    if (att == nullptr)
        rv_raise_core_error(std::string("Attempt to set a code-stream attribute using the "
                                        "invalid name, ") +
                            quoted_name(name) + "!");
    if (field_idx >= 0 && field_idx < att->num_fields &&
        *att->field_patterns[static_cast<size_t>(field_idx)] != 'B')
        rv_raise_core_error(std::string("Attempting to set a non-boolean code-stream parameter "
                                        "attribute field with the boolean access method!\nThe "
                                        "attribute name is ") +
                            quoted_name(name) + ".");
    set(name, record_idx, field_idx, value ? 1 : 0);
}

void rvd_params::set(const char* name, int record_idx, int field_idx, double value)
{
    rv_attribute* att = find_settable_attribute(name, field_idx);
    if (*att->field_patterns[static_cast<size_t>(field_idx)] != 'F')
        rv_raise_core_error(std::string("Attempting to set an integer code-stream parameter "
                                        "attribute field with the floating point access "
                                        "method!\nThe attribute name is ") +
                            quoted_name(name) + ".");
    if (record_idx < 0)
        rv_raise_core_error(std::string("Attempt to set a code-stream attribute with a "
                                        "negative record index!\nThe attribute name is ") +
                            quoted_name(name) + ".");
    // Out-of-range doubles become infinities rather than an undefined conversion.
    float fval;
    if (value > static_cast<double>(std::numeric_limits<float>::max()))
        fval = std::numeric_limits<float>::infinity();
    else if (value < -static_cast<double>(std::numeric_limits<float>::max()))
        fval = -std::numeric_limits<float>::infinity();
    else
        fval = static_cast<float>(value);
    int32_t bits;
    std::memcpy(&bits, &fval, sizeof(bits));
    int old_records = att->num_records;
    extend_records(att, record_idx + 1);
    rv_attribute_value& v = att->values[static_cast<size_t>(record_idx) *
                                            static_cast<size_t>(att->num_fields) +
                                        static_cast<size_t>(field_idx)];
    if (!v.is_set || v.bits != bits || att->num_records != old_records)
        note_change();
    v.bits = bits;
    v.is_set = true;
    empty = false;
}

void rvd_params::set_derived(const char* name)
{
    rv_attribute* att = find_attribute(name);
    if (att == nullptr)
        rv_raise_core_error(std::string("Invalid attribute name, ") + quoted_name(name) +
                            ", supplied to the `rvd_params::set_derived' function.");
    att->derived = true;
}

void rvd_params::delete_unparsed_attribute(const char* name)
{
    if (find_attribute(name) == nullptr)
        rv_raise_core_error("Attempting to delete a non-existent attribute with "
                            "\"rvd_params::delete_unparsed_attribute\".");
    delete_unparsed_recursive(name);
}

void rvd_params::delete_unparsed_recursive(const char* name)
{
    rv_attribute* att = find_attribute(name);
    if (att != nullptr && !att->parsed) {
        bool any_set = false;
        for (auto& v : att->values) {
            any_set = any_set || v.is_set;
            v.is_set = false;
        }
        if (any_set)
            note_change();
        att->num_records = 0;
    }
    if (first_inst == this)
        for (rvd_params* inst = next_inst; inst != nullptr; inst = inst->next_inst)
            inst->delete_unparsed_recursive(name);
    if (refs == nullptr)
        return;
    if (comp_idx < 0) {
        std::vector<rvd_params*> row;
        for (auto it = refs->owners.lower_bound(std::make_pair(tile_idx, 0));
             it != refs->owners.end() && it->first.first == tile_idx; ++it)
            row.push_back(it->second);
        for (rvd_params* obj : row)
            obj->delete_unparsed_recursive(name);
    }
    if (this == refs->head) {
        std::vector<rvd_params*> tiles;
        for (auto it = refs->owners.lower_bound(std::make_pair(0, -1)); it != refs->owners.end();
             ++it)
            if (it->first.second == -1)
                tiles.push_back(it->second);
        for (rvd_params* obj : tiles)
            obj->delete_unparsed_recursive(name);
    }
}

/* ------------------------------------------------------------------------------------ */
/*                             marks, changes, finalization                              */
/* ------------------------------------------------------------------------------------ */

void rvd_params::clear_cluster_marks()
{
    auto clear_chain = [](rvd_params* obj) {
        for (; obj != nullptr; obj = obj->next_inst)
            obj->marked = obj->changed = false;
    };
    if (refs == nullptr) {
        clear_chain(this);
        return;
    }
    for (auto& entry : refs->owners)
        clear_chain(entry.second);
}

void rvd_params::clear_marks()
{
    for (rvd_params* h = root(); h != nullptr; h = h->next_cluster)
        h->clear_cluster_marks();
}

bool rvd_params::any_changes()
{
    return root()->changed;
}

void rvd_params::finalize_object_and_instances(bool after_reading)
{
    finalize(after_reading);
    if (first_inst == this)
        for (rvd_params* inst = next_inst; inst != nullptr; inst = inst->next_inst)
            inst->finalize(after_reading);
}

// The owned component objects of this object's tile row, in component order.
void rvd_params::finalize_row(bool after_reading)
{
    if (refs == nullptr || comp_idx >= 0)
        return;
    std::vector<rvd_params*> row;
    for (auto it = refs->owners.lower_bound(std::make_pair(tile_idx, 0));
         it != refs->owners.end() && it->first.first == tile_idx; ++it)
        row.push_back(it->second);
    for (rvd_params* obj : row)
        obj->finalize_object_and_instances(after_reading);
}

void rvd_params::finalize_all(bool after_reading)
{
    finalize_object_and_instances(after_reading);
    finalize_row(after_reading);
    if (refs != nullptr && tile_idx == -1 && comp_idx == -1 && this == refs->head &&
        refs->num_tiles > 0) {
        std::vector<rvd_params*> tiles;
        for (auto it = refs->owners.lower_bound(std::make_pair(0, -1)); it != refs->owners.end();
             ++it)
            if (it->first.second == -1)
                tiles.push_back(it->second);
        for (rvd_params* obj : tiles) {
            obj->finalize_object_and_instances(after_reading);
            obj->finalize_row(after_reading);
        }
    }
    if (this == root())
        for (rvd_params* h = next_cluster; h != nullptr; h = h->next_cluster)
            h->finalize_all(after_reading);
}

void rvd_params::finalize_all(int t, bool after_reading)
{
    if (tile_idx == t && (t >= 0 || comp_idx >= 0 || this != head())) {
        finalize_object_and_instances(after_reading);
        finalize_row(after_reading);
    } else if (this == head()) {
        if (t == -1) {
            finalize_object_and_instances(after_reading);
            finalize_row(after_reading);
        } else if (t >= 0 && t < head()->num_tiles) {
            rvd_params* obj = owner(t, -1);
            if (obj != nullptr) {
                obj->finalize_object_and_instances(after_reading);
                obj->finalize_row(after_reading);
            }
        }
    }
    if (this == root())
        for (rvd_params* h = next_cluster; h != nullptr; h = h->next_cluster)
            h->finalize_all(t, after_reading);
}
