#include "codec/jp2/jp2_input_box.h"

#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/rvd_cache.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kLeadIn[] = "Error in Ravade File Format Support:\n";
const char kIllegalLength[] = "Illegal box length field encountered in JP2 file.";
const char kNotClosed[] = "Attempting to call `jp2_input_box::open' without first closing the box.";
const char kInvalidLocation[] = "Invoking `jp2_input_box::open' with a `jp2_locator' object which references an "
                                "invalid original file location.";

[[noreturn]] void raise(const char* text)
{
    {
        rvd_error e(kLeadIn);
        e << text;
    }
    std::abort(); // an error never returns: its handler throws or the process ends
}

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t be64(const uint8_t* p)
{
    return uint64_t(be32(p)) << 32 | be32(p + 4);
}

// Lengths and positions come from outside: sums that leave the signed 64-bit range are
// illegal lengths, never undefined arithmetic.
int64_t checked_add(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_add_overflow(a, b, &r) || r < 0)
        raise(kIllegalLength);
    return r;
}

int64_t checked_length(uint64_t v)
{
    if (v > uint64_t(INT64_MAX))
        raise(kIllegalLength);
    return int64_t(v);
}

class source_lock {
public:
    explicit source_lock(jp2_family_src* s) : src(s) { src->acquire_lock(); }
    ~source_lock() { src->release_lock(); }
    source_lock(const source_lock&) = delete;
    source_lock& operator=(const source_lock&) = delete;

private:
    jp2_family_src* src;
};

} // namespace

jp2_input_box::jp2_input_box()
    : super(nullptr), src(nullptr), contents_block(nullptr), contents_owned(nullptr), box_type(0), original_length(0),
      header_length(0), length_in_bin(0), contents_start(0), contents_lim(0), contents_bin(-1), codestream_first(-1),
      codestream_limit(-1), databin_class(-1), locatable(false), rubber(false), open_flag(false), locked(false),
      capabilities(0), pos(0), scoped_codestream(-1), partial_bytes(0), partial_size(0)
{
    std::memset(partial, 0, sizeof partial);
}

jp2_input_box::~jp2_input_box()
{
    // A destructor must not throw: a box left open is closed quietly.
    try {
        close();
    } catch (...) {
    }
    delete[] contents_owned;
}

void jp2_input_box::forget_header()
{
    box_type = 0;
    open_flag = false;
    rubber = false;
    original_length = 0;
    header_length = 0;
    length_in_bin = 0;
    codestream_first = codestream_limit = -1;
    scoped_codestream = -1;
    partial_bytes = partial_size = 0;
}

bool jp2_input_box::read_header_bytes(uint8_t* buf, int n)
{
    return read(buf, n) == n;
}

bool jp2_input_box::parse_box_header(bool prefer_original)
{
    forget_header();
    locatable = locator.file_pos >= 0;
    if (src->cache) {
        pos = locator.bin_pos;
        contents_bin = locator.bin_id;
        databin_class = RVD_META_DATABIN;
    } else {
        pos = locator.file_pos;
        contents_bin = -1;
        databin_class = -1;
    }
    contents_start = pos;
    contents_lim = unknown_limit;
    open_flag = true;
    if (super && !super->rubber)
        contents_lim = super->contents_lim;

    uint8_t buf[24];
    if (!read_header_bytes(buf, 8)) {
        forget_header();
        return false;
    }
    const uint32_t lbox = be32(buf);
    const uint32_t tbox = be32(buf + 4);
    const bool placeholder = tbox == jp2_placeholder_4cc;
    if (placeholder) {
        contents_lim = unknown_limit;
        if (super)
            super->contents_lim = unknown_limit;
        if (lbox < 28)
            raise("Illegal placeholder box encountered.  Placeholders must not use the extended length field and "
                  "must have a length of at least 28 bytes!");
    }
    header_length = 8;
    uint64_t length = lbox;
    if (lbox == 1) {
        header_length = 16;
        if (!read_header_bytes(buf, 8)) {
            forget_header();
            return false;
        }
        length = be64(buf);
    }
    const int64_t signed_length = checked_length(length);
    rubber = length == 0;
    if (!rubber && signed_length < header_length)
        raise(kIllegalLength);
    length_in_bin = signed_length;
    original_length = length;
    if (!placeholder) {
        box_type = tbox;
        contents_start = pos;
        contents_lim = rubber ? unknown_limit : checked_add(contents_start, signed_length - header_length);
        return true;
    }

    // A placeholder: the original box header it stands for.
    if (!read_header_bytes(buf, 20)) {
        forget_header();
        return false;
    }
    const uint32_t flags = be32(buf);
    const int64_t orig_id = int64_t(be64(buf + 4));
    const uint32_t orig_lbox = be32(buf + 12);
    box_type = be32(buf + 16);
    header_length = 8;
    uint64_t orig_length = orig_lbox;
    if (orig_lbox == 1) {
        header_length = 16;
        if (!read_header_bytes(buf, 8)) {
            forget_header();
            return false;
        }
        orig_length = be64(buf);
    }
    const int64_t signed_orig = checked_length(orig_length);
    original_length = orig_length;
    rubber = orig_length == 0;
    if (!rubber && signed_orig < header_length)
        raise(kIllegalLength);
    if ((prefer_original && (flags & 1)) || !(flags & 6)) {
        contents_bin = orig_id;
        pos = contents_start = 0;
        if (!(flags & 1)) {
            box_type = 0;
            contents_lim = 0;
        } else {
            contents_lim = rubber ? unknown_limit : signed_orig - header_length;
        }
        return true;
    }

    // An equivalent is offered.
    locatable = false;
    if (!read_header_bytes(buf, 16)) {
        forget_header();
        return false;
    }
    const int64_t equiv_id = int64_t(be64(buf));
    const uint32_t equiv_lbox = be32(buf + 8);
    box_type = be32(buf + 12);
    int64_t equiv_header = 8;
    uint64_t equiv_length = equiv_lbox;
    if (equiv_lbox == 1) {
        equiv_header = 16;
        if (!read_header_bytes(buf, 8)) {
            forget_header();
            return false;
        }
        equiv_length = be64(buf);
    }
    const int64_t signed_equiv = checked_length(equiv_length);
    if (!(flags & 2))
        box_type = 0;
    else if (equiv_length != 0 && signed_equiv < equiv_header)
        raise("Illegal box length field encountered in stream equivalent box header embedded within a JP2 "
              "placeholder box.");
    if (!(flags & 4)) {
        header_length = equiv_header;
        contents_bin = equiv_id;
        pos = contents_start = 0;
        contents_lim = signed_equiv - equiv_header < 0 ? unknown_limit : signed_equiv - equiv_header;
        return true;
    }

    // A codestream equivalent.
    if (!read_header_bytes(buf, 8)) {
        forget_header();
        return false;
    }
    const int64_t csid = checked_length(be64(buf));
    int64_t count = 1;
    if (flags & 8) {
        if (!read_header_bytes(buf, 4)) {
            forget_header();
            return false;
        }
        count = be32(buf);
    }
    codestream_first = csid;
    codestream_limit = checked_add(csid, count);
    box_type = jp2_codestream_4cc;
    databin_class = RVD_MAIN_HEADER_DATABIN;
    contents_bin = 0;
    scoped_codestream = csid;
    pos = contents_start = 0;
    contents_lim = unknown_limit;
    return true;
}

void jp2_input_box::set_capabilities()
{
    if (contents_block) {
        capabilities = RVD_SOURCE_CAP_SEQUENTIAL | RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY;
        return;
    }
    capabilities = (box_type == jp2_codestream_4cc && src->cache) ? RVD_SOURCE_CAP_CACHED : RVD_SOURCE_CAP_SEQUENTIAL;
    if (src->seekable)
        capabilities |= RVD_SOURCE_CAP_SEEKABLE;
}

bool jp2_input_box::open(jp2_family_src* family, jp2_locator loc)
{
    if (open_flag)
        raise(kNotClosed);
    locator = loc;
    locked = false;
    super = nullptr;
    src = family;
    if (src->cache && locator.bin_id < 0) {
        // Only the file position is known: walk the boxes down to it.
        const int64_t target = locator.file_pos;
        locator.file_pos = 0;
        locator.bin_id = 0;
        locator.bin_pos = 0;
        while (locator.file_pos != target) {
            if (!parse_box_header(true))
                return false;
            const int64_t here = locator.file_pos;
            const int64_t length = int64_t(original_length);
            if (length != 0 && checked_add(here, length) > target) {
                if (target < checked_add(here, header_length))
                    raise(kInvalidLocation);
                if (box_type == 0 || !locatable)
                    raise("Unable to dereference file offset in the `jp2_locator' object supplied to "
                          "`jp2_input_box::open'.  The server is deliberately preventing access to the original box "
                          "in which the file offset resides.");
                locator.file_pos = here + header_length;
                locator.bin_id = contents_bin;
                locator.bin_pos = int32_t(contents_start);
            } else {
                if (length == 0)
                    raise(kInvalidLocation);
                locator.file_pos = here + length;
                const int64_t next = checked_add(locator.bin_pos, length_in_bin);
                if (next > INT32_MAX)
                    raise(kIllegalLength);
                locator.bin_pos = int32_t(next);
            }
            forget_header();
        }
    }
    if (!parse_box_header(false))
        return false;
    if (box_type == 0) {
        open_flag = false;
        raise("Unable to open the box identified by the `jp2_locator' object supplied to `jp2_input_box::open'.  "
              "The server is deliberately preventing access to the the box or any stream equivalent.");
    }
    set_capabilities();
    return true;
}

bool jp2_input_box::open(jp2_input_box* super_box)
{
    if (open_flag)
        raise(kNotClosed);
    if (!super_box->open_flag || super_box->locked)
        raise("Attempting to open a sub-box of a box which is not itself open, or which has already been locked by "
              "another open sub-box which has not yet been closed.");
    super = super_box;
    src = super_box->src;
    locked = false;
    for (;;) {
        locator.file_pos = super->locatable ? checked_add(checked_add(super->locator.file_pos, super->header_length),
                                                          super->pos - super->contents_start)
                                            : -1;
        if (src->cache) {
            if (super->databin_class != RVD_META_DATABIN)
                raise("Attempting to open a sub-box of a contiguous codestream box (may be a stream equivalent "
                      "contiguous codestream for a real original box, which might have had sub-boxes), but you "
                      "should have checked.");
            locator.bin_id = super->contents_bin;
            if (super->pos > INT32_MAX)
                raise(kIllegalLength);
            locator.bin_pos = int32_t(super->pos);
        }
        if (!parse_box_header(false))
            return false;
        if (box_type != 0)
            break;
        // Nothing offered for this box: step over it.
        bool was_rubber = rubber;
        close();
        if (was_rubber || !super->open_flag)
            return false;
    }
    set_capabilities();
    super->locked = true;
    return true;
}

bool jp2_input_box::open_next()
{
    if (!src || open_flag)
        raise("You may not use `jp2_input_box::open_next' unless the object has been previously used to open and "
              "then close a box within the source.");
    if (super)
        return open(super);
    for (;;) {
        if (rubber)
            return false;
        if (locator.file_pos >= 0)
            locator.file_pos = checked_add(locator.file_pos, int64_t(original_length));
        if (src->cache) {
            const int64_t next = checked_add(locator.bin_pos, length_in_bin);
            if (next > INT32_MAX)
                raise(kIllegalLength);
            locator.bin_pos = int32_t(next);
        }
        if (!parse_box_header(false)) {
            return false;
        }
        if (box_type != 0)
            break;
        close();
    }
    set_capabilities();
    return true;
}

bool jp2_input_box::close()
{
    if (!open_flag)
        return true;
    if (src && src->cache)
        contents_available();
    open_flag = false;
    box_type = 0;
    capabilities = 0;
    // Bytes of an unfinished word were never delivered: they count as unread.
    bool result = partial_bytes == 0;
    if (!rubber && pos < contents_lim) {
        result = false;
        pos = contents_lim;
    }
    partial_bytes = partial_size = 0;
    if (super) {
        jp2_input_box* up = super;
        up->locked = false;
        if (rubber && length_in_bin == 0)
            up->pos = pos;
        else
            up->pos = checked_add(up->pos, length_in_bin);
        if (rubber)
            result = up->close();
    }
    delete[] contents_owned;
    contents_owned = nullptr;
    contents_block = nullptr;
    return result;
}

bool jp2_input_box::contents_available()
{
    if (!open_flag || !src)
        return false;
    if (contents_block || !src->cache)
        return true;
    const int64_t cs = databin_class != RVD_META_DATABIN ? scoped_codestream : 0;
    bool complete = false;
    const int64_t length = src->cache->get_databin_length(databin_class, cs, contents_bin, &complete);
    if (databin_class == RVD_META_DATABIN && !rubber) {
        if (complete && length < contents_lim)
            contents_lim = length;
        return contents_lim <= length;
    }
    return complete;
}

int jp2_input_box::read(uint8_t* buf, int num_bytes)
{
    if (!src || !open_flag || locked)
        raise("Illegal attempt to read from a JP2 box which is either not open or else has an open sub-box.");
    int64_t count = num_bytes;
    if (!rubber && count > contents_lim - pos)
        count = contents_lim - pos;
    if (count < 1)
        return 0;
    if (contents_block) {
        std::memcpy(buf, contents_block + pos, size_t(count));
        pos += count;
        return int(count);
    }
    if (!src->cache)
        return 0;
    rvd_cache* cache = src->cache;
    const int64_t cs = databin_class != RVD_META_DATABIN ? scoped_codestream : 0;
    int got;
    {
        source_lock lock(src);
        if (src->last_bin_id != contents_bin || src->last_class != databin_class || src->last_codestream != cs) {
            src->last_bin_id = contents_bin;
            src->last_class = databin_class;
            src->last_codestream = cs;
            src->last_pos = 0;
            cache->set_read_scope(databin_class, cs, contents_bin);
        }
        if (src->last_pos != pos) {
            if (!cache->seek(pos))
                raise("Caching source does not appear to support seeking!");
            src->last_pos = pos;
        }
        got = cache->read(buf, int(count));
        pos += got;
        src->last_pos = pos;
        if (got < count)
            src->last_bin_id = -1; // the cache's pointer may stand elsewhere: scope again
    }
    if (got < count) {
        bool complete = false;
        const int length = cache->get_databin_length(databin_class, cs, contents_bin, &complete);
        if (!complete || length != pos)
            return got;
        if (databin_class == RVD_META_DATABIN && !rubber && contents_lim != pos && contents_lim != unknown_limit)
            raise("Cached data-bin appears to be complete yet terminates prior to the end of the current JP2 box.");
        rubber = false;
        contents_lim = pos;
    }
    return got;
}

bool jp2_input_box::seek(int64_t offset)
{
    if (!open_flag || locked)
        raise("Attempting to seek inside a JP2 box which is not open, or is sharing its read pointer with an open "
              "sub-box.");
    if (!contents_block && !(src && src->seekable))
        return false;
    int64_t target;
    if (__builtin_add_overflow(contents_start, offset, &target))
        target = offset < 0 ? contents_start : contents_lim;
    if (target > contents_lim)
        target = contents_lim;
    if (target < contents_start)
        target = contents_start;
    pos = target;
    partial_bytes = partial_size = 0;
    return true;
}

int64_t jp2_input_box::get_pos()
{
    return pos - partial_bytes - contents_start;
}

const uint8_t* jp2_input_box::access_memory(int64_t& p, const uint8_t*& lim)
{
    if (!contents_block)
        return nullptr;
    p = pos - contents_start;
    lim = contents_block + contents_lim;
    return contents_block + pos;
}

bool jp2_input_box::set_tileheader_scope(int tnum, int num_tiles)
{
    (void)num_tiles;
    if (!open_flag || !src || !src->cache || scoped_codestream < 0)
        return false;
    contents_bin = tnum;
    databin_class = RVD_TILE_HEADER_DATABIN;
    contents_start = pos = 0;
    partial_bytes = partial_size = 0;
    bool complete = false;
    const int length = src->cache->get_databin_length(databin_class, scoped_codestream, tnum, &complete);
    contents_lim = complete ? length : unknown_limit;
    return complete;
}

bool jp2_input_box::set_precinct_scope(int64_t unique_id)
{
    if (!open_flag || !src || !src->cache || scoped_codestream < 0)
        return false;
    contents_bin = unique_id;
    databin_class = RVD_PRECINCT_DATABIN;
    contents_start = pos = 0;
    partial_bytes = partial_size = 0;
    contents_lim = unknown_limit;
    return true;
}

bool jp2_input_box::select_codestream(int64_t codestream_id, bool need_main_header)
{
    if (!open_flag || !src || codestream_id < codestream_first || codestream_id >= codestream_limit)
        return false;
    databin_class = RVD_MAIN_HEADER_DATABIN;
    contents_bin = 0;
    scoped_codestream = codestream_id;
    contents_start = pos = 0;
    contents_lim = unknown_limit;
    partial_bytes = partial_size = 0;
    if (!need_main_header)
        return true;
    bool complete = false;
    if (src->cache)
        src->cache->get_databin_length(RVD_MAIN_HEADER_DATABIN, codestream_id, 0, &complete);
    return complete;
}

bool jp2_input_box::transplant(jp2_input_box* donor)
{
    if (open_flag || !donor->open_flag)
        raise("Attempting to invoke `jp2_input_box::transplant' on a box which is currently open, or using a donor "
              "which is not currently open.");
    locator = donor->locator;
    src = donor->src;
    contents_block = donor->contents_block;
    contents_owned = donor->contents_owned;
    donor->contents_block = nullptr;
    donor->contents_owned = nullptr;
    box_type = donor->box_type;
    original_length = donor->original_length;
    header_length = donor->header_length;
    length_in_bin = donor->length_in_bin;
    contents_start = donor->contents_start;
    contents_lim = donor->contents_lim;
    contents_bin = donor->contents_bin;
    codestream_first = donor->codestream_first;
    codestream_limit = donor->codestream_limit;
    databin_class = donor->databin_class;
    locatable = donor->locatable;
    rubber = donor->rubber;
    capabilities = donor->capabilities;
    pos = donor->pos;
    scoped_codestream = donor->scoped_codestream;
    std::memcpy(partial, donor->partial, sizeof partial);
    partial_bytes = donor->partial_bytes;
    partial_size = donor->partial_size;
    super = nullptr;
    open_flag = true;
    locked = false;
    return donor->close();
}

bool jp2_input_box::buffer_contents(int64_t max_bytes)
{
    (void)max_bytes;
    if (contents_block)
        return true;
    // Only a cache is ever opened: its boxes stay where they are.
    return false;
}

int64_t jp2_input_box::get_total_length() const
{
    if (!open_flag)
        return 0;
    if (rubber)
        return header_length + pos - contents_start;
    return header_length + contents_lim - contents_start;
}

int64_t jp2_input_box::bytes_left() const
{
    if (rubber)
        return -1;
    return contents_lim - pos + partial_bytes;
}

bool jp2_input_box::read_byte(uint8_t& byte)
{
    return read(&byte, 1) == 1;
}

bool jp2_input_box::read_partial(int size)
{
    partial_size = size;
    while (partial_bytes < size) {
        int got = read(partial + partial_bytes, size - partial_bytes);
        if (got <= 0)
            return false;
        partial_bytes += got;
    }
    partial_bytes = 0;
    partial_size = 0;
    return true;
}

bool jp2_input_box::read_word16(uint16_t& word)
{
    if (partial_bytes > 0 && partial_size == 4)
        raise("Attempting to read a 2-byte word from a JP2 box, after first reading a partial 4-byte word!");
    if (!read_partial(2))
        return false;
    word = uint16_t(partial[0] << 8 | partial[1]);
    return true;
}

bool jp2_input_box::read_word32(uint32_t& word)
{
    if (!read_partial(4))
        return false;
    word = be32(partial);
    return true;
}
