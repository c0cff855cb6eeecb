// One open JP2 box, read as a compressed source. It parses box headers (long lengths
// and the placeholders a JPIP server puts in place of boxes), opens sub-boxes, walks
// from box to box, and reads its contents from the cache as they arrive. Opened on a
// codestream box it is what the codestream core reads, with tile-header and precinct
// scoping through the cache.
#pragma once

#include "codec/core/rvd_compressed_source.h"
#include "codec/jp2/jp2_locator.h"

#include <cstdint>

class jp2_family_src;

// Four-character box types.
enum : uint32_t {
    jp2_signature_4cc = 0x6A502020,     // "jP  "
    jp2_file_type_4cc = 0x66747970,     // "ftyp"
    jp2_header_4cc = 0x6A703268,        // "jp2h"
    jp2_image_header_4cc = 0x69686472,  // "ihdr"
    jp2_bits_per_component_4cc = 0x62706363,
    jp2_colour_4cc = 0x636F6C72,
    jp2_palette_4cc = 0x70636C72,
    jp2_component_mapping_4cc = 0x636D6170,
    jp2_channel_definition_4cc = 0x63646566,
    jp2_resolution_4cc = 0x72657320,
    jp2_capture_resolution_4cc = 0x72657363,
    jp2_display_resolution_4cc = 0x72657364,
    jp2_codestream_4cc = 0x6A703263,    // "jp2c"
    jp2_placeholder_4cc = 0x70686C64    // "phld"
};

class jp2_input_box : public rvd_compressed_source {
public:
    static const int64_t unknown_limit = INT64_MAX;

    jp2_input_box();
    ~jp2_input_box() override;
    jp2_input_box(const jp2_input_box&) = delete;
    jp2_input_box& operator=(const jp2_input_box&) = delete;

    bool close() override;
    int get_capabilities() override { return capabilities; }
    int read(uint8_t* buf, int num_bytes) override;
    bool seek(int64_t offset) override;
    int64_t get_pos() override;
    const uint8_t* access_memory(int64_t& pos, const uint8_t*& lim) override;
    bool set_tileheader_scope(int tnum, int num_tiles) override;
    bool set_precinct_scope(int64_t unique_id) override;
    virtual bool open(jp2_input_box* super_box);
    virtual bool open(jp2_family_src* src, jp2_locator loc);
    virtual bool open_next();
    virtual bool transplant(jp2_input_box* donor);
    virtual bool buffer_contents(int64_t max_bytes);
    virtual bool select_codestream(int64_t codestream_id, bool need_main_header);

    bool is_open() const { return open_flag; }
    uint32_t get_box_type() const { return box_type; }
    jp2_locator get_locator() const { return locator; }
    int64_t get_box_header_length() const { return header_length; }
    int get_databin_class() const { return databin_class; }
    int64_t get_databin_id() const { return contents_bin; }
    int64_t get_codestream_first() const { return codestream_first; }
    int64_t get_codestream_limit() const { return codestream_limit; }
    int64_t get_total_length() const;
    int64_t bytes_left() const;
    bool contents_available();
    bool read_byte(uint8_t& byte);
    bool read_word16(uint16_t& word);
    bool read_word32(uint32_t& word);

private:
    bool parse_box_header(bool prefer_original);
    void forget_header();
    // Reads exactly n header bytes; false when they have not all arrived.
    bool read_header_bytes(uint8_t* buf, int n);
    void set_capabilities();
    bool read_partial(int size);

    jp2_locator locator;
    jp2_input_box* super;
    jp2_family_src* src;
    const uint8_t* contents_block;
    uint8_t* contents_owned;
    uint32_t box_type;
    uint64_t original_length;
    int64_t header_length;
    int64_t length_in_bin;
    int64_t contents_start;
    int64_t contents_lim;
    int64_t contents_bin;
    int64_t codestream_first;
    int64_t codestream_limit;
    int databin_class;
    bool locatable;
    bool rubber;
    bool open_flag;
    bool locked;
    int capabilities;
    int64_t pos;
    int64_t scoped_codestream;
    uint8_t partial[24];
    int partial_bytes;
    int partial_size; // 2 or 4 while a word is held in part
};
