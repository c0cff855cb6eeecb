#include "codec/jp2/jp2_channels.h"

#include "codec/jp2/jp2_error.h"
#include "codec/jp2/jp2_input_box.h"
#include "codec/jp2/jp2_palette.h"

namespace {
const char kSameAssoc[] = "Malformed channel definition (cdef) box found in JP2-family data source.  The box appears to "
                          "provide multiple channels with the same Assoc/Typ values.";
}

void j2_channels::process_cdef(jp2_input_box& box)
{
    if (!channels.empty())
        jp2_raise("Attempting to read a JP2 channel definitions (cdef) or JPX opacity (opct) box into a `j2_channels' "
                  "object which has already been initialized.");
    uint16_t n = 0;
    if (!box.read_word16(n) || n == 0)
        jp2_raise("Malformed channel definition (cdef) box found in JP2-family data source.  Missing or invalid fields.");
    for (int i = 0; i < n; ++i) {
        uint16_t cn = 0, typ = 0, asoc = 0;
        if (!box.read_word16(cn) || !box.read_word16(typ) || !box.read_word16(asoc) || !(typ < 3 || typ == 65535))
            jp2_raise("Malformed channel definition (cdef) box found in JP2-family data source.  Missing or invalid "
                      "channel association information.");
        if (asoc == 65535 || typ == 65535)
            continue;
        const int idx = asoc == 0 ? 0 : asoc - 1;
        if (idx >= int(channels.size()))
            channels.resize(channels.size() + size_t(idx) + 3);
        if (idx + 1 > num_colours)
            num_colours = idx + 1;
        j2_channel& ch = channels[size_t(idx)];
        if (ch.channel_idx[typ] >= 0)
            jp2_raise(kSameAssoc);
        ch.channel_idx[typ] = cn;
        if (asoc == 0)
            ch.whole_image[typ] = true;
        defined_any = true;
    }
    if (!box.close())
        jp2_raise("Malformed channel definition (cdef) box found in JP2-family data source.  The box appears to be too "
                  "long.");
}

void j2_channels::finalize(int colours)
{
    if (colours == 0)
        colours = num_colours;
    if (num_colours > colours)
        jp2_raise("A `jp2_channels' object indicates the presence of more colour channels than the number which is "
                  "associated with the specified colour space.  This may happen while reading a JP2-family data source "
                  "which contains an illegal channel definitions (cdef) box, or it may happen while writing a "
                  "JP2-family file if the `jp2_channels' object has been incorrectly initialized.");
    if (num_colours < colours) {
        if (int(channels.size()) < colours)
            channels.resize(size_t(colours));
        if (!defined_any)
            for (int c = 0; c < colours; ++c)
                channels[size_t(c)].channel_idx[0] = c;
        num_colours = colours;
    }
    for (int f = 0; f < 3 && num_colours > 0; ++f) {
        if (!channels[0].whole_image[f])
            continue;
        for (int c = 1; c < num_colours; ++c) {
            if (channels[size_t(c)].channel_idx[f] >= 0)
                jp2_raise(kSameAssoc);
            channels[size_t(c)].channel_idx[f] = channels[0].channel_idx[f];
        }
    }
    for (int c = 0; c < num_colours; ++c)
        if (channels[size_t(c)].channel_idx[0] < 0)
            jp2_raise("Incomplete set of colour channel definitions found in a `jp2_channels' object.  This is likely "
                      "due to a malformed channel definitions (cdef) box in the JP2-family data source.");
}

void j2_channels::add_cmap_channels(const j2_component_map& map, int codestream_idx)
{
    if (num_colours == 0)
        finalize(int(map.channels.size()));
    const int base = assigned;
    const int count = int(map.channels.size());
    assigned += count;
    for (int c = 0; c < num_colours; ++c)
        for (int f = 0; f < 3; ++f) {
            j2_channel& ch = channels[size_t(c)];
            const int idx = ch.channel_idx[f];
            if (idx < base || idx >= base + count)
                continue;
            const j2_cmap_channel& m = map.channels[size_t(idx - base)];
            ch.codestream_idx[f] = codestream_idx;
            ch.component_idx[f] = m.component;
            ch.lut_idx[f] = m.lut;
            if (f == 0) {
                ch.bit_depth = m.bit_depth;
                ch.is_signed = m.is_signed;
            }
        }
}

bool jp2_channels::get(int c, int f, int& component, int& lut, int& codestream) const
{
    if (c < 0 || c >= state->num_colours)
        return false;
    const j2_channel& ch = state->channels[size_t(c)];
    if (ch.codestream_idx[f] < 0)
        return false;
    component = ch.component_idx[f];
    lut = ch.lut_idx[f];
    codestream = ch.codestream_idx[f];
    return true;
}
