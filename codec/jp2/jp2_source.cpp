#include "codec/jp2/jp2_source.h"

#include "codec/jp2/jp2_error.h"
#include "codec/jp2/jp2_family_src.h"

bool j2_header_state::walk(jp2_input_box* header_box)
{
    if (!jp2h)
        jp2h = header_box;
    if (!jp2h->contents_available())
        return false;
    for (;;) {
        if (!sub.is_open() && !sub.open(jp2h))
            break;
        const uint32_t type = sub.get_box_type();
        const bool known = type == jp2_image_header_4cc || type == jp2_bits_per_component_4cc ||
                           (type == jp2_colour_4cc && !colour.initialized) || type == jp2_palette_4cc ||
                           type == jp2_channel_definition_4cc || type == jp2_component_mapping_4cc ||
                           type == jp2_resolution_4cc;
        if (known && !sub.contents_available())
            return false;
        if (type == jp2_image_header_4cc)
            dimensions.process_ihdr(sub);
        else if (type == jp2_bits_per_component_4cc)
            dimensions.process_bpcc(sub);
        else if (type == jp2_colour_4cc && !colour.initialized)
            colour.process_colr(sub);
        else if (type == jp2_palette_4cc)
            palette.process_pclr(sub);
        else if (type == jp2_channel_definition_4cc)
            channels.process_cdef(sub);
        else if (type == jp2_component_mapping_4cc)
            component_map.process_cmap(sub);
        else if (type == jp2_resolution_4cc) {
            if (!resolution.process_res(sub))
                return false;
        } else
            sub.close();
    }
    dimensions.finalize();
    palette.finalize();
    resolution.finalize();
    component_map.finalize(&dimensions, &palette);
    channels.finalize(colour.num_colours);
    channels.add_cmap_channels(component_map, 0);
    colour.finalize(channels);
    if (!jp2h->close())
        jp2_raise("Encountered a JP2 Header box having data which does not belong to any defined sub-box.");
    return true;
}

jp2_source::jp2_source() {}

jp2_source::~jp2_source()
{
    header.reset();
}

bool jp2_source::open(jp2_input_box* super_box)
{
    (void)super_box;
    return false;
}

bool jp2_source::open(jp2_family_src* src, jp2_locator loc)
{
    if (src != last_src || src->get_id() != last_src_id) {
        header.reset();
        signature_done = file_type_done = header_box_done = codestream_reached = header_complete = false;
        header_bytes = 0;
        last_src = src;
        last_src_id = src->get_id();
    }
    return jp2_input_box::open(src, loc);
}

bool jp2_source::read_header()
{
    if (header_complete)
        return true;
    if (!signature_done) {
        if (!is_open())
            jp2_raise("Unable to open JP2 file.  Perhaps the file contains no box headers, or perhaps you forgot to call "
                      "or check the return value from `jp2_source::open' before invoking `jp2_source::read_header'.");
        if (get_box_type() != jp2_signature_4cc)
            jp2_raise("Source supplied to `jp2_source::open' does not contain a valid JP2 header.");
        if (!contents_available())
            return false;
        uint32_t word = 0;
        if (!read_word32(word) || word != 0x0D0A870A || bytes_left() != 0)
            jp2_raise("JP2 source does not commence with a valid signature box.");
        header_bytes += get_total_length();
        close();
        signature_done = true;
        header.reset(new j2_header_state);
    }
    while (!codestream_reached) {
        if (!is_open() && !open_next())
            return false;
        const uint32_t type = get_box_type();
        if (!file_type_done && type == jp2_file_type_4cc) {
            if (!contents_available())
                return false;
            uint32_t brand, minor, compat;
            bool jp2 = false;
            read_word32(brand);
            read_word32(minor);
            while (read_word32(compat))
                jp2 = jp2 || compat == 0x6A703220;
            header_bytes += get_total_length();
            if (!close())
                jp2_raise("JP2 source contains a malformed file type box.");
            file_type_done = true;
            if (!jp2)
                jp2_raise("JP2 source contains a file type box whose compatibility list does not include JP2.");
        } else if (!header_box_done && type == jp2_header_4cc) {
            if (!contents_available())
                return false;
            const int64_t length = get_total_length();
            if (!header->walk(this))
                return false;
            header_bytes += length;
            close();
            header_box_done = true;
        } else if (type == jp2_codestream_4cc) {
            if (!file_type_done || !header_box_done)
                jp2_raise("A contiguous codestream box has been encountered within the JP2 source without first finding "
                          "both the file-type box and the image header box.");
            codestream_reached = true;
        } else {
            close();
        }
    }
    if (last_src && last_src->uses_cache() && !select_codestream(0, true))
        return false;
    header_complete = true;
    return true;
}

jp2_dimensions jp2_source::get_dimensions() const
{
    return jp2_dimensions(header_box_done ? &header->dimensions : nullptr);
}

jp2_colour jp2_source::get_colour() const
{
    return jp2_colour(header_box_done ? &header->colour : nullptr);
}

jp2_palette jp2_source::get_palette() const
{
    return jp2_palette(header_box_done ? &header->palette : nullptr);
}

jp2_channels jp2_source::get_channels() const
{
    return jp2_channels(header_box_done ? &header->channels : nullptr);
}

jp2_resolution jp2_source::get_resolution() const
{
    return jp2_resolution(header_box_done ? &header->resolution : nullptr);
}
