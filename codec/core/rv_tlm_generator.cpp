#include "codec/core/rv_tlm_generator.h"

#include "codec/core/rv_compressed_output.h"
#include "codec/core/rvd_params.h"

bool rv_tlm_generator::init(int tiles, int tparts)
{
    *this = rv_tlm_generator();
    if (tiles <= 0)
        return false;
    tparts = tparts < 1 ? 1 : (tparts > 255 ? 255 : tparts);
    const int64_t entries = int64_t(tiles) * tparts;
    const int64_t segments = (entries + max_entries_per_segment - 1) / max_entries_per_segment;
    if (segments > 256)
        return false;
    num_tiles = tiles;
    tparts_per_tile = tparts;
    num_tparts = int(entries);
    tlm_bytes = int(6 * segments + 6 * entries);
    records.resize(size_t(num_tparts));
    return true;
}

void rv_tlm_generator::add_tpart_length(int tnum, int64_t length)
{
    if (num_tiles <= 0)
        return;
    if (length < 0 || length > int64_t(0xFFFFFFFF))
        rv_raise_core_error("Attempting to write TLM (tile-part length) data where one "
                            "tile-part's length cannot be represented as an unsigned 32-bit "
                            "value.");
    if (num_recorded >= num_tparts)
        rv_raise_core_error("Attempting to record more tile-part lengths than the TLM marker "
                            "segments reserved for them can hold.");
    records[size_t(num_recorded)] = record{uint16_t(tnum), uint32_t(length)};
    num_recorded++;
    total_tpart_bytes += length;
}

void rv_tlm_generator::write_segments(rvd_output* out, int first_entry, bool with_entries) const
{
    // Entries are written from first_entry on; a segment header only where a segment
    // starts. Recorded entries belong to the entries from first_entry on.
    int entry = first_entry;
    while (entry < num_tparts) {
        const int segment = entry / max_entries_per_segment;
        const int seg_end = (segment + 1) * max_entries_per_segment;
        const int end = seg_end < num_tparts ? seg_end : num_tparts;
        if (entry % max_entries_per_segment == 0) {
            out->put(uint16_t(0xFF55));
            out->put(uint16_t(6 * (end - segment * max_entries_per_segment) + 4));
            out->put(uint8_t(segment));
            out->put(uint8_t(0x60));
        }
        for (; entry < end; entry++) {
            const int k = entry - first_entry;
            const bool known = with_entries && k < num_recorded;
            out->put(uint16_t(known ? records[size_t(k)].tnum : 0));
            out->put(uint32_t(known ? records[size_t(k)].length : 0));
        }
    }
}

void rv_tlm_generator::write_dummy_tlms(rvd_output* out) const
{
    if (num_tiles > 0)
        write_segments(out, 0, false);
}

void rv_tlm_generator::write_final_tlms(rvd_compressed_target* target, int tiles_rewritten,
                                        int64_t extra_bytes) const
{
    if (num_tiles <= 0)
        return;
    // Entries of tiles rewritten before (earlier fragments) stay as they are: the rewrite
    // starts at the first entry of this generator's tiles, behind the headers of the
    // segments up to and including the one that entry lies in (unless it opens one).
    const int done = tiles_rewritten * tparts_per_tile;
    const int64_t skip = 6 * int64_t(done) + 6 * int64_t(done / max_entries_per_segment) +
                         (done % max_entries_per_segment != 0 ? 6 : 0);
    const int first = done;
    const int64_t backtrack = tlm_bytes + total_tpart_bytes + extra_bytes - skip;
    if (!target->start_rewrite(backtrack))
        rv_raise_core_error("Attempting to invoke `rv_tlm_generator::write_final_tlms' with a "
                            "compressed data target which does not support repositioning.");
    {
        rv_compressed_output out(target);
        write_segments(&out, first, true);
        out.flush();
    }
    target->end_rewrite();
}
