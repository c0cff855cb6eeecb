#include "codec/jp2/rvd_channel_mapping.h"

#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_source.h"

#include <cstdlib>

namespace {

[[noreturn]] void mapping_raise(const char* text)
{
    {
        rvd_error e("Error in Ravade Region Decompressor:\n");
        e << text;
    }
    std::abort(); // unreachable: the handler throws or the process ends
}

} // namespace

void rvd_channel_mapping::clear()
{
    source_components.clear();
    default_rendering_precision.clear();
    default_rendering_signed.clear();
    palette.clear();
    num_channels = num_colour_channels = 0;
    palette_bits = 0;
    colour_converter.clear();
}

void rvd_channel_mapping::set_num_channels(int n)
{
    if (n > int(source_components.size())) {
        source_components.resize(size_t(n), -1);
        default_rendering_precision.resize(size_t(n), 8);
        default_rendering_signed.resize(size_t(n), false);
        palette.resize(size_t(n));
    }
    num_channels = n;
}

bool rvd_channel_mapping::configure(rvd_codestream codestream)
{
    clear();
    int n = codestream.get_num_components(true) < 3 ? 1 : 3;
    set_num_channels(n);
    rvd_coords sub0, sub;
    codestream.get_subsampling(0, sub0, true);
    for (int c = 1; c < n; ++c) {
        codestream.get_subsampling(c, sub, true);
        if (sub.x != sub0.x || sub.y != sub0.y) {
            n = 1;
            set_num_channels(1);
        }
    }
    for (int c = 0; c < n; ++c) {
        source_components[size_t(c)] = c;
        default_rendering_precision[size_t(c)] = codestream.get_bit_depth(c, true);
        default_rendering_signed[size_t(c)] = codestream.get_signed(c, true);
    }
    num_colour_channels = num_channels;
    return true;
}

bool rvd_channel_mapping::set_channel(int c, int component, int lut, jp2_palette pal, jp2_dimensions dims)
{
    size_t i = size_t(c);
    source_components[i] = component;
    palette[i].clear();
    if (lut < 0) {
        // A component the header does not describe cannot be rendered.
        if (!dims.exists() || component < 0 || component >= dims.get_num_components())
            return false;
        default_rendering_precision[i] = dims.get_bit_depth(component);
        default_rendering_signed[i] = dims.get_signed(component);
        return true;
    }
    if (!pal.exists() || lut >= pal.get_num_luts() || pal.get_num_entries() < 1)
        return false;
    const int entries = pal.get_num_entries();
    palette_bits = 1;
    while ((1 << palette_bits) < entries)
        ++palette_bits;
    std::vector<int16_t> table = pal.get_lut(lut);
    if (int(table.size()) < entries)
        return false;
    table.resize(size_t(entries));
    // Indices past the last real entry repeat it.
    table.resize(size_t(1) << palette_bits, table.back());
    palette[i] = std::move(table);
    default_rendering_precision[i] = pal.get_bit_depth(lut);
    default_rendering_signed[i] = pal.get_signed(lut);
    return true;
}

bool rvd_channel_mapping::configure(jp2_colour colour, jp2_channels channels, int codestream_idx, jp2_palette pal,
                                    jp2_dimensions dims)
{
    clear();
    if (!colour.exists() || !colour_converter.init(colour, false, false))
        return false;
    int colours = channels.exists() ? channels.get_num_colours() : 0;
    if (colours <= 0)
        mapping_raise("JP2 object supplied to `rvd_channel_mapping::configure' has no colour channels!");
    set_num_channels(colours);
    num_colour_channels = num_channels;
    for (int c = 0; c < colours; ++c) {
        int component = -1, lut = -1, stream = -1;
        if (!channels.get_colour_mapping(c, component, lut, stream) || stream != codestream_idx ||
            !set_channel(c, component, lut, pal, dims)) {
            clear();
            return false;
        }
    }
    return true;
}

bool rvd_channel_mapping::add_alpha_to_configuration(jp2_channels channels, int codestream_idx, jp2_palette pal,
                                                     jp2_dimensions dims, bool ignore_premultiplied)
{
    set_num_channels(num_colour_channels);
    if (num_colour_channels <= 0 || !channels.exists())
        return false;
    int component = -1, lut = -1;
    auto holds = [&](bool premult) {
        for (int c = 0; c < num_colour_channels; ++c) {
            int comp = -1, l = -1, stream = -1;
            bool found = premult ? channels.get_premult_mapping(c, comp, l, stream)
                                 : channels.get_opacity_mapping(c, comp, l, stream);
            if (!found || stream != codestream_idx)
                return false;
            if (c == 0) {
                component = comp;
                lut = l;
            } else if (comp != component && l != lut) {
                return false;
            }
        }
        return true;
    };
    if (!holds(false) && (ignore_premultiplied || !holds(true)))
        return false;
    set_num_channels(num_colour_channels + 1);
    if (!set_channel(num_colour_channels, component, lut, pal, dims)) {
        set_num_channels(num_colour_channels);
        return false;
    }
    return true;
}

bool rvd_channel_mapping::configure(jp2_source* source, bool ignore_alpha)
{
    if (!configure(source->get_colour(), source->get_channels(), 0, source->get_palette(),
                   source->get_dimensions()))
        mapping_raise("Cannot perform colour conversion from the colour description embedded in a JP2 (or "
                      "JP2-compatible) data source, to the sRGB colour space.  This should not happen with truly "
                      "JP2-compatible descriptions.");
    if (!ignore_alpha)
        add_alpha_to_configuration(source->get_channels(), 0, source->get_palette(), source->get_dimensions(),
                                   true);
    return true;
}
