// The text form of coding parameters: parsing attribute strings, printing values and
// describing attributes.
#include "codec/core/rvd_params.h"

#include "codec/core/rvd_message.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

bool is_white(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n';
}

// Optional sign, then decimal digits; false (nothing consumed) when there are no digits
// or the value does not fit 32 bits.
bool scan_int(const char*& cp, int32_t& value)
{
    const char* p = cp;
    bool neg = false;
    if (*p == '+' || *p == '-')
        neg = (*p++ == '-');
    if (*p < '0' || *p > '9')
        return false;
    int64_t acc = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        acc = acc * 10 + (*p - '0');
        if (acc > static_cast<int64_t>(INT32_MAX) + 1)
            return false;
    }
    if (neg)
        acc = -acc;
    if (acc > INT32_MAX || acc < INT32_MIN)
        return false;
    value = static_cast<int32_t>(acc);
    cp = p;
    return true;
}

// A decimal floating-point number that fits single precision.
bool scan_float(const char*& cp, float& value)
{
    const char* p = cp;
    if (*p == '+' || *p == '-')
        p++;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        p++;
        digits++;
    }
    if (*p == '.') {
        p++;
        while (*p >= '0' && *p <= '9') {
            p++;
            digits++;
        }
    }
    if (digits == 0)
        return false;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-')
            q++;
        if (*q >= '0' && *q <= '9') {
            while (*q >= '0' && *q <= '9')
                q++;
            p = q;
        }
    }
    std::string token(cp, p);
    double d = std::strtod(token.c_str(), nullptr);
    if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
        return false;
    value = static_cast<float>(d);
    cp = p;
    return true;
}

std::string quoted(const char* text)
{
    return std::string("\"") + text + "\"";
}

std::string identifier_list(const std::vector<rv_translator_entry>& list, bool flags)
{
    std::string out = flags ? "Expected one or more of the identifiers, "
                            : "Expected one of the identifiers, ";
    for (size_t n = 0; n < list.size(); n++) {
        if (n > 0)
            out += (n + 1 == list.size()) ? " or " : ", ";
        out += "\"" + std::string(list[n].ident, list[n].len) + "\"";
    }
    out += flags ? ", separated by `|' symbols." : ".";
    return out;
}

bool at_field_end(char ch, bool flags)
{
    return ch == ',' || ch == '}' || ch == '\0' || (flags && ch == '|');
}

} // namespace

void rv_read_translators(const char* element, std::vector<rv_translator_entry>& out)
{
    out.clear();
    char sep = (*element == '(') ? ',' : '|';
    char close = (*element == '(') ? ')' : ']';
    const char* cp = element + 1;
    while (*cp != close && *cp != '\0') {
        const char* start = cp;
        while (*cp != '=' && *cp != sep && *cp != close && *cp != '\0')
            cp++;
        if (*cp != '=')
            rv_raise_core_error(std::string("String translators in code-stream attribute "
                                            "specifications must contain an '=' sign! Problem "
                                            "encountered at: ") +
                                quoted(start) + ".");
        size_t len = static_cast<size_t>(cp - start);
        if (len >= 80)
            rv_raise_core_error(std::string("String translators in code-stream attribute "
                                            "specifications may not exceed 79 characters in "
                                            "length! Problem encountered at: ") +
                                quoted(start) + ".");
        const char* vstart = ++cp;
        int32_t value = 0;
        if (!scan_int(cp, value) || (*cp != sep && *cp != close))
            rv_raise_core_error(std::string("String translators in code-stream attribute "
                                            "specifications must be identified with integers "
                                            "and correctly delimited! Problem encountered at: ") +
                                quoted(vstart) + ".");
        out.push_back(rv_translator_entry{start, len, value});
        if (*cp == sep)
            cp++;
    }
}

/* ------------------------------------------------------------------------------------ */
/*                                       parsing                                         */
/* ------------------------------------------------------------------------------------ */

namespace {
struct location {
    bool have_t = false, have_c = false, have_i = false;
    int32_t t = -1, c = -1, i = 0;
};

// Reads the specifiers after ':' up to '=' or the end; false on a malformed one.
bool scan_location(const char*& cp, location& loc)
{
    if (*cp != ':')
        return true;
    cp++;
    while (*cp != '=' && *cp != '\0') {
        char letter = *cp++;
        int32_t value = 0;
        if (!scan_int(cp, value))
            return false;
        if (letter == 'T' && !loc.have_t) {
            loc.have_t = true;
            loc.t = value;
        } else if (letter == 'C' && !loc.have_c) {
            loc.have_c = true;
            loc.c = value;
        } else if (letter == 'I' && !loc.have_i) {
            loc.have_i = true;
            loc.i = value;
        } else {
            return false;
        }
    }
    // Values below -1 count as not given.
    if (loc.have_t && loc.t < -1)
        loc.have_t = false;
    if (loc.have_c && loc.c < -1)
        loc.have_c = false;
    return true;
}
} // namespace

bool rvd_params::parse_string(const char* string)
{
    const char* cp = string;
    for (; *cp != '\0' && *cp != ':' && *cp != '='; cp++)
        if (is_white(*cp))
            rv_raise_core_error("Malformed attribute string, " + quoted(string) +
                                "!\nWhite space characters are illegal!");
    rv_attribute* att = match_attribute(string, static_cast<size_t>(cp - string));
    if (att == nullptr) {
        if (this == root())
            for (rvd_params* h = next_cluster; h != nullptr; h = h->next_cluster)
                if (h->parse_string(string))
                    return true;
        return false;
    }
    if (*cp == '\0') {
        std::string usage;
        describe_to(usage, att, true);
        rv_raise_core_error("Attribute " + quoted(att->name) + " is missing parameters:\n\n\t" +
                            usage +
                            "\nParameter values must be separated from the attribute name and "
                            "optional location specifiers by an '=' sign!\n");
    }
    location loc;
    if (!scan_location(cp, loc))
        rv_raise_core_error(
            "Malformed location specifier encountered in attribute string, " + quoted(string) +
            "!\nTile specifiers following the the colon must have the form \"T<num>\", while "
            "component specifiers must have the form \"C<num>\" and index specifiers must have "
            "the form \"I<num>\". There may be at most one of each!");
    int t = loc.have_t ? loc.t : tile_idx;
    int c = loc.have_c ? loc.c : comp_idx;
    int i = loc.i;
    if (loc.have_i && !treat_instances_like_components)
        rv_raise_core_error("Malformed location specifier encountered in attribute string, " +
                            quoted(string) +
                            "!\nThis type of parameter cannot be used with an index specifier "
                            "(i.e., a specifier of the form \"I<num>\").");
    if (!loc.have_i) {
        if (t == tile_idx && c == comp_idx)
            i = inst_idx;
        else if (treat_instances_like_components)
            rv_raise_core_error("Malformed location specifier encountered in attribute string, " +
                                quoted(string) +
                                "!\nYou must supply an index specifier of the form \"I<num>\" "
                                "for this type of parameter.");
        else
            i = 0;
    }
    if (t != tile_idx || c != comp_idx || i != inst_idx) {
        rvd_params* target = access_relation(t, c, i, false);
        if (target == nullptr)
            rv_raise_core_error("Attribute string, " + quoted(string) +
                                ", refers to a non-existent tile-component!");
        return target->parse_string(string);
    }

    if (marked)
        rv_raise_core_error(
            "Illegal attempt to modify a `rvd_params' object which has already been marked!");
    if ((att->flags & RVD_ALL_COMPONENTS) && comp_idx >= 0)
        rv_raise_core_error("Attempt to set a non-tile-specific code-stream attribute in a "
                            "specific component!\nProblem occurred while parsing the attribute "
                            "string, " +
                            quoted(string) + ".");
    if (*cp != '=')
        rv_raise_core_error("Malformed attribute string, " + quoted(string) +
                            "!\nParameter values must be separated from the attribute name and "
                            "optional location specifiers by an '=' sign!");
    if (att->parsed) {
        if (allow_insts && !treat_instances_like_components) {
            rvd_params* next = (next_inst != nullptr) ? next_inst : new_instance();
            if (next != nullptr)
                return next->parse_string(string);
        }
        rv_raise_core_error("The supplied attribute string, " + quoted(string) +
                            ", refers to code-stream parameters which have already been parsed "
                            "out of some string.  Moreover, multiple instances of this attribute "
                            "are not permitted here!");
    }
    delete_unparsed_attribute(att->name);
    att->parsed = true;
    parse_records(att, string, cp + 1);
    empty = false;
    return true;
}

bool rvd_params::parse_records(rv_attribute* att, const char* string, const char* cp)
{
    auto fail = [&](const char* at, const char* sentence) {
        rv_raise_core_error("Malformed attribute string, " + quoted(string) +
                            "!\nProblem encountered at " + quoted(at) + ".\n" + sentence);
    };
    std::vector<rv_translator_entry> list;
    for (int r = 0; *cp != '\0'; r++) {
        if (r > 0) {
            if (*cp != ',')
                fail(cp, "Records must be separated by commas.");
            if (!(att->flags & RVD_MULTI_RECORD))
                rv_raise_core_error("Malformed attribute string, " + quoted(string) +
                                    "!\nAttribute does not support multiple parameter records!");
            cp++;
        }
        bool braced = (*cp == '{');
        if (braced)
            cp++;
        else if (att->num_fields > 1)
            fail(cp, "Records must be enclosed by curly braces, i.e., '{' and '}'.");
        int old_records = att->num_records;
        extend_records(att, r + 1);
        if (att->num_records != old_records)
            note_change();
        for (int f = 0; f < att->num_fields; f++) {
            if (f > 0) {
                if (*cp != ',')
                    fail(cp, "Fields must be separated by commas.");
                cp++;
            }
            const char* element = att->field_patterns[static_cast<size_t>(f)];
            int32_t value = 0;
            switch (*element) {
            case 'F': {
                float fval = 0.0f;
                if (!scan_float(cp, fval))
                    fail(cp, "Expected a floating point field.");
                std::memcpy(&value, &fval, sizeof(value));
                break;
            }
            case 'I':
                if (!scan_int(cp, value))
                    fail(cp, "Expected an integer field.");
                break;
            case 'C': {
                int cval = 0;
                int used = custom_parse_field(cp, att->name, f, cval);
                if (used < 1 || static_cast<size_t>(used) > std::strlen(cp))
                    fail(cp, "Attempt to parse custom string representation failed.  Read "
                             "usage information carefully.");
                cp += used;
                value = cval;
                break;
            }
            case 'B':
                if (std::strncmp(cp, "yes", 3) == 0) {
                    value = 1;
                    cp += 3;
                } else if (std::strncmp(cp, "no", 2) == 0) {
                    value = 0;
                    cp += 2;
                } else {
                    fail(cp, "Expected a boolean field identifier, i.e., one of \"yes\" or "
                             "\"no\".");
                }
                break;
            case '(': {
                rv_read_translators(element, list);
                bool found = false;
                for (auto& tr : list)
                    if (std::strncmp(cp, tr.ident, tr.len) == 0 &&
                        at_field_end(cp[tr.len], false)) {
                        value = tr.value;
                        cp += tr.len;
                        found = true;
                        break;
                    }
                if (!found)
                    fail(cp, identifier_list(list, false).c_str());
                break;
            }
            default: { // '['
                rv_read_translators(element, list);
                if (*cp == '|')
                    cp++;
                for (;;) {
                    if (cp[0] == '0' && at_field_end(cp[1], true)) {
                        cp++;
                    } else {
                        bool found = false;
                        for (auto& tr : list)
                            if (std::strncmp(cp, tr.ident, tr.len) == 0 &&
                                at_field_end(cp[tr.len], true)) {
                                value |= tr.value;
                                cp += tr.len;
                                found = true;
                                break;
                            }
                        if (!found)
                            fail(cp, identifier_list(list, true).c_str());
                    }
                    if (*cp != '|')
                        break;
                    cp++;
                }
                break;
            }
            }
            rv_attribute_value& v = att->values[static_cast<size_t>(r) *
                                                    static_cast<size_t>(att->num_fields) +
                                                static_cast<size_t>(f)];
            if (!v.is_set || v.bits != value)
                note_change();
            v.bits = value;
            v.is_set = true;
        }
        if (braced) {
            if (*cp != '}')
                fail(cp, "Opening brace for record is not matched by a closing brace.");
            cp++;
        }
    }
    return true;
}

bool rvd_params::parse_string(const char* string, int tile)
{
    int string_tile = -1;
    const char* colon = string;
    while (*colon != '\0' && *colon != ':' && *colon != '=')
        colon++;
    if (*colon == ':') {
        const char* cp = colon + 1;
        while (*cp != '\0' && *cp != '=' && *cp != 'T')
            cp++;
        if (*cp == 'T') {
            cp++;
            int32_t value = -1;
            if (scan_int(cp, value))
                string_tile = value;
        }
    }
    if (string_tile != tile)
        return false;
    return parse_string(string);
}

rvd_params* rvd_params::find_string(const char* string, const char*& name)
{
    const char* cp = string;
    for (; *cp != '\0' && *cp != ':' && *cp != '='; cp++)
        if (is_white(*cp))
            return nullptr;
    rv_attribute* att = match_attribute(string, static_cast<size_t>(cp - string));
    if (att == nullptr) {
        if (this == root())
            for (rvd_params* h = next_cluster; h != nullptr; h = h->next_cluster) {
                rvd_params* found = h->find_string(string, name);
                if (found != nullptr)
                    return found;
            }
        return nullptr;
    }
    name = att->name;
    if (*cp == '\0')
        return this;
    location loc;
    if (!scan_location(cp, loc))
        return nullptr;
    int t = loc.have_t ? loc.t : tile_idx;
    int c = loc.have_c ? loc.c : comp_idx;
    int i = loc.i;
    if (loc.have_i && !treat_instances_like_components)
        return nullptr;
    if (!loc.have_i) {
        if (t == tile_idx && c == comp_idx)
            i = inst_idx;
        else if (treat_instances_like_components)
            return nullptr;
        else
            i = 0;
    }
    if (t == tile_idx && c == comp_idx && i == inst_idx)
        return this;
    rvd_params* target = access_relation(t, c, i, false);
    if (target == nullptr)
        return this;
    return target->find_string(string, name);
}

/* ------------------------------------------------------------------------------------ */
/*                                       printing                                        */
/* ------------------------------------------------------------------------------------ */

void rvd_params::textualize_object(rvd_message& output, bool skip_derived)
{
    std::vector<rv_translator_entry> list;
    for (rv_attribute* att = attributes.get(); att != nullptr; att = att->next.get()) {
        if (att->num_records == 0 || (skip_derived && att->derived))
            continue;
        size_t nf = static_cast<size_t>(att->num_fields);
        // Checked first so that no partial line is written.
        for (int r = 0; r < att->num_records; r++)
            for (size_t f = 0; f < nf; f++)
                if (!att->values[static_cast<size_t>(r) * nf + f].is_set)
                    rv_raise_core_error(
                        "Attempting to textualize a code-stream parameter attribute, which has "
                        "only partially been set!\nError occurred in attribute " +
                        quoted(att->name) + " in field " + std::to_string(f) + " of record " +
                        std::to_string(r) + ".");
        std::string lead = att->name;
        if (tile_idx >= 0 || comp_idx >= 0 || treat_instances_like_components) {
            lead += ":";
            if (tile_idx >= 0)
                lead += "T" + std::to_string(tile_idx);
            if (comp_idx >= 0)
                lead += "C" + std::to_string(comp_idx);
            if (treat_instances_like_components)
                lead += "I" + std::to_string(inst_idx);
        }
        lead += "=";
        output << lead.c_str();
        for (int r = 0; r < att->num_records; r++) {
            if (r > 0)
                output << ",";
            if (nf > 1)
                output << "{";
            for (size_t f = 0; f < nf; f++) {
                if (f > 0)
                    output << ",";
                int32_t bits = att->values[static_cast<size_t>(r) * nf + f].bits;
                const char* element = att->field_patterns[f];
                switch (*element) {
                case 'F': {
                    float fval;
                    std::memcpy(&fval, &bits, sizeof(fval));
                    char buf[80];
                    std::snprintf(buf, sizeof(buf), "%f", static_cast<double>(fval));
                    output << buf;
                    break;
                }
                case 'I':
                    output << static_cast<int>(bits);
                    break;
                case 'B':
                    output << (bits ? "yes" : "no");
                    break;
                case 'C':
                    custom_textualize_field(output, att->name, static_cast<int>(f), bits);
                    break;
                case '(': {
                    rv_read_translators(element, list);
                    const rv_translator_entry* match = nullptr;
                    for (auto& tr : list)
                        if (tr.value == bits) {
                            match = &tr;
                            break;
                        }
                    if (match != nullptr)
                        output << std::string(match->ident, match->len).c_str();
                    else // a value read from a marker segment that no identifier names
                        output << std::to_string(bits).c_str();
                    break;
                }
                default: {
                    rv_read_translators(element, list);
                    int32_t acc = 0;
                    std::string text;
                    for (auto& tr : list) {
                        if (acc == bits)
                            break;
                        if ((tr.value & bits) == tr.value && (tr.value & ~acc) != 0) {
                            if (!text.empty())
                                text += "|";
                            text.append(tr.ident, tr.len);
                            acc |= tr.value;
                        }
                    }
                    if (bits == 0)
                        text = "0";
                    else if (acc != bits)
                        text = std::to_string(bits);
                    output << text.c_str();
                    break;
                }
                }
            }
            if (nf > 1)
                output << "}";
        }
        output << "\n";
    }
}

void rvd_params::textualize_attributes(rvd_message& output, bool skip_derived)
{
    textualize_object(output, skip_derived);
}

void rvd_params::textualize_cluster(rvd_message& output, int min_tile, int max_tile,
                                    bool skip_derived)
{
    if (min_tile < -1)
        min_tile = -1;
    if (max_tile > head()->num_tiles - 1)
        max_tile = head()->num_tiles - 1;
    if (tile_idx >= 0) {
        if (tile_idx < min_tile || tile_idx > max_tile)
            return;
        min_tile = max_tile = tile_idx;
    }
    if (inst_idx > 0) {
        textualize_object(output, skip_derived);
        return;
    }
    auto print_chain = [&](rvd_params* obj) {
        for (; obj != nullptr; obj = obj->next_inst)
            obj->textualize_object(output, skip_derived);
    };
    if (refs == nullptr) {
        if (min_tile <= -1 && max_tile >= -1)
            print_chain(this);
        return;
    }
    std::vector<rvd_params*> chosen;
    for (auto it = refs->owners.lower_bound(std::make_pair(min_tile, -1));
         it != refs->owners.end() && it->first.first <= max_tile; ++it)
        if (comp_idx < 0 || it->first.second == comp_idx)
            chosen.push_back(it->second);
    for (rvd_params* obj : chosen)
        print_chain(obj);
}

void rvd_params::textualize_attributes(rvd_message& output, int min_tile, int max_tile,
                                       bool skip_derived)
{
    textualize_cluster(output, min_tile, max_tile, skip_derived);
    if (this == root())
        for (rvd_params* h = next_cluster; h != nullptr; h = h->next_cluster)
            h->textualize_cluster(output, min_tile, max_tile, skip_derived);
}

/* ------------------------------------------------------------------------------------ */
/*                                      describing                                       */
/* ------------------------------------------------------------------------------------ */

void rvd_params::describe_to(std::string& out, rv_attribute* att, bool include_comments)
{
    out += att->name;
    std::string letters;
    if (allow_tiles)
        letters += "T";
    if (allow_comps && !(att->flags & RVD_ALL_COMPONENTS))
        letters += "C";
    if (treat_instances_like_components)
        letters += "I";
    out += letters.empty() ? "={" : "[:<" + letters + ">]={";
    std::vector<rv_translator_entry> list;
    for (int f = 0; f < att->num_fields; f++) {
        if (f > 0)
            out += ",";
        const char* element = att->field_patterns[static_cast<size_t>(f)];
        switch (*element) {
        case 'I':
            out += "<int>";
            break;
        case 'B':
            out += "<yes/no>";
            break;
        case 'F':
            out += "<float>";
            break;
        case 'C':
            out += "<custom int>";
            break;
        default: {
            bool flags = (*element == '[');
            rv_read_translators(element, list);
            out += flags ? "FLAGS<" : "ENUM<";
            for (size_t n = 0; n < list.size(); n++) {
                if (n > 0)
                    out += flags ? "|" : ",";
                out.append(list[n].ident, list[n].len);
            }
            out += ">";
        }
        }
    }
    out += (att->flags & RVD_MULTI_RECORD) ? "},...\n" : "}\n";
    if (include_comments) {
        out += "\t";
        out += att->description;
        out += "\n";
    }
}

void rvd_params::describe_attributes(rvd_message& output, bool include_comments)
{
    for (rv_attribute* att = attributes.get(); att != nullptr; att = att->next.get()) {
        std::string text;
        describe_to(text, att, include_comments);
        output << text.c_str();
    }
}

void rvd_params::describe_attribute(const char* name, rvd_message& output, bool include_comments)
{
    rv_attribute* att = find_attribute(name);
    if (att == nullptr)
        rv_raise_core_error(std::string("\"rvd_params::describe_attribute\" invoked with an "
                                        "invalid attribute identifier, ") +
                            quoted(name) + ".");
    std::string text;
    describe_to(text, att, include_comments);
    output << text.c_str();
}
