// Tile-part headers and packets of an input codestream: sequential, seekable (tile-part
// and precinct addresses) and cached sources, SOP/EPH, packed headers and resilience.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_precinct.h"
#include "codec/core/rv_sparse_blocks.h"
#include "codec/core/rv_tile_reading.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// Sequence numbers compare modulo 65536: the low 16 bits of a - b as a signed value.
int sequence_difference(int a, int b)
{
    return int(int16_t(uint16_t(a - b)));
}

std::string marker_text(uint16_t code)
{
    const char* name = rv_marker_name(code);
    if (name != nullptr)
        return std::string("<") + name + ">";
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%x", unsigned(code));
    return buf;
}

rvd_params* tile_cod(rv_codestream* cs, int tnum, int cnum)
{
    rvd_params* head = cs->siz->access_cluster("COD");
    return head == nullptr ? nullptr : head->access_relation(tnum, cnum, 0, true);
}

bool indexed(const rv_codestream* cs)
{
    return cs->tpart_ptr_server != nullptr;
}

// The n-th known tile-part address of a tile, or -1.
int64_t nth_address(const rv_tile_ref* ref, int n)
{
    const rv_tpart_addr* a = ref->tpart_head;
    for (; a != nullptr && n > 0; n--)
        a = a->next;
    return a == nullptr ? -1 : a->address;
}

bool address_list_complete(const rv_tile_ref* ref)
{
    return ref->tpart_head != nullptr && ref->tpart_tail == nullptr;
}

// Moves the input forward to a position, never back: walking tile-parts in order must
// make progress whatever the lengths say.
void move_to(rv_codestream* cs, int64_t pos)
{
    rv_compressed_input* in = cs->in.get();
    const int64_t here = in->get_offset();
    if (pos <= here)
        return;
    if (in->get_capabilities() & RVD_SOURCE_CAP_SEEKABLE)
        in->seek(pos);
    else
        in->ignore(pos - here);
}

bool is_relevant_index(const rv_resolution* res, rvd_coords rel)
{
    const rv_tile_comp* tc = res->tile_comp;
    if (!tc->enabled || res->res_level > tc->apparent_dwt_levels)
        return false;
    const rvd_coords abs(res->precinct_indices.pos.y + rel.y, res->precinct_indices.pos.x + rel.x);
    const rvd_dims& v = res->region_indices;
    return abs.y >= v.pos.y && abs.x >= v.pos.x && abs.y < v.pos.y + v.size.y &&
           abs.x < v.pos.x + v.size.x;
}

// A fully read precinct with no open block: kept, parked or released.
void settle(rv_precinct* p)
{
    rv_codestream* cs = p->codestream();
    if (p == cs->rd.opening || p == cs->rd.block_precinct)
        return;
    if (!p->addressable) {
        if (!cs->persistent)
            rv_release_precinct(p);
        return;
    }
    const bool all_or_none =
        p->num_layers_parsed <= 0 || p->num_layers_parsed >= p->tile()->num_layers;
    if (all_or_none && !cs->cached_source)
        rv_park_precinct(p);
    else
        rv_release_precinct(p);
}

// A precinct in memory for the reference, created or brought back when needed.
rv_precinct* bring_in(rv_resolution* res, uint64_t* ref)
{
    if (rv_precinct::ref_in_memory(*ref)) {
        rv_precinct* p = rv_precinct::from_ref(*ref);
        rv_activate_precinct(p);
        return p;
    }
    return rv_create_precinct(res, ref);
}

bool needs_reading(uint64_t ref)
{
    return ref == 0 || (rv_precinct::ref_in_memory(ref) && !rv_precinct::from_ref(ref)->fully_read);
}

// The next packet's precinct reference; the sequencer starts on first use, so that a
// tile whose order cannot be followed fails when its packets are wanted, not on opening.
uint64_t* next_sequenced(rv_tile* t, rv_resolution*& res, rvd_coords& idx)
{
    rv_tile_reading& rd = t->rd;
    if (!rd.sequencer_started) {
        rd.sequencer_started = true;
        rd.sequencer->start();
    }
    return rd.sequencer->next_packet(res, idx);
}

// The current tile stops being current; a closed tile of a persistent codestream that
// can be read again may then leave memory.
void leave_current(rv_codestream* cs)
{
    rv_tile* t = cs->rd.current_tile;
    cs->rd.current_tile = nullptr;
    if (t != nullptr && cs->persistent && !t->is_open && t->initialized &&
        (cs->cached_source || cs->tpart_ptr_server))
        t->add_to_unloadable_list();
}

// A packet that could not be read goes back to the sequencer.
void unsequence(rv_tile* t)
{
    if (t->rd.sequenced && t->rd.sequencer)
        t->rd.sequencer->unsequence_last();
    t->rd.sequenced = false;
}

// Layers of each precinct that must be read before its tile is finished: a persistent
// codestream may later be asked for every layer, so it reads them all.
int counted_layers(const rv_tile* t)
{
    return t->codestream->persistent ? t->num_layers : t->rd.num_relevant_layers;
}

// Precincts of the component that the view makes relevant. One not built yet counts
// every precinct of its accessible levels: the tile cannot be finished before its
// packets are reached, which builds it and sets its exact share.
int64_t relevant_share(const rv_tile_comp& tc)
{
    if (!tc.enabled || tc.apparent_dwt_levels < 0)
        return 0;
    if (!tc.tree_built())
        return tc.region.is_empty() ? 0 : tc.count_precincts(tc.apparent_dwt_levels);
    int64_t n = 0;
    for (const rv_resolution& res : tc.resolutions)
        if (res.res_level <= tc.apparent_dwt_levels && !res.region.is_empty())
            n += int64_t(res.region_indices.size.y) * res.region_indices.size.x;
    return n;
}

void check_finished(rv_tile* t)
{
    if (!t->rd.finished && t->rd.total_relevant_packets > 0 &&
        t->rd.relevant_packets_read >= t->rd.total_relevant_packets)
        rv_packet_reader::tile_finished(t);
}

[[noreturn]] void header_code_error(uint16_t code)
{
    if (code == RV_PACKET_OVERSIZED)
        rv_raise_core_error(
            "Packet header contains a representation which is not strictly illegal, but "
            "unreasonably large so that it exceeds the dynamic range available for our "
            "internal representation!  The problem is most likely due to a corrupt or "
            "incorrectly constructed code-stream.  Try re-opening the image with the resilient "
            "mode enabled.");
    if (code == RV_PACKET_BAD_INCLUSION)
        rv_raise_core_error(
            "Illegal inclusion tag tree encountered while decoding a packet header.  This "
            "problem can arise if empty packets are used (i.e., packets whose first header bit "
            "is 0) and the value coded by the inclusion tag tree in a subsequent packet is not "
            "exactly equal to the index of the quality layer in which each code-block makes "
            "its first contribution.  Such an error may arise from a mis-interpretation of the "
            "standard.  The problem may also occur as a result of a corrupted code-stream.  Try "
            "re-opening the image with the resilient mode enabled.");
    if (code == RV_PACKET_BAD_MSBS)
        rv_raise_core_error(
            "Illegal number of missing MSB's signalled in corrupted tag tree.  The value may "
            "not exceed 74 in any practical code-stream or any legal code-stream which is "
            "consistent with profile 0 or profile 1.  Try re-opening the image with the "
            "resilient mode enabled.");
    rv_raise_core_error("Illegal marker code, " + marker_text(code) +
                        ", found while reading packet header.  Try re-opening the image with "
                        "the resilient mode enabled.");
}

// Reads the SOT segment held by the marker reader.
struct sot_fields {
    int isot = 0, tpsot = 0, tnsot = 0;
    int64_t psot = 0, address = 0;
};

sot_fields parse_sot(rv_codestream* cs, int64_t address)
{
    const uint8_t* b = cs->marker->get_bytes();
    if (cs->marker->get_length() < 8)
        rv_raise_core_error("Corrupt SOT marker segment found in codestream: tile-number lies "
                            "outside the range of available tiles derived from the SIZ marker "
                            "segment.");
    sot_fields f;
    f.isot = (b[0] << 8) | b[1];
    f.psot = (int64_t(b[2]) << 24) | (int64_t(b[3]) << 16) | (int64_t(b[4]) << 8) | b[5];
    f.tpsot = b[6];
    f.tnsot = b[7];
    f.address = address;
    if (f.psot != 0 && f.psot < 14)
        rv_raise_core_error("Corrupt SOT marker segment found in codestream: the tile-part "
                            "length is smaller than the tile-part header can be.");
    if (f.isot >= cs->num_tiles.y * cs->num_tiles.x)
        rv_raise_core_error("Corrupt SOT marker segment found in codestream: tile-number lies "
                            "outside the range of available tiles derived from the SIZ marker "
                            "segment.");
    return f;
}

// Steps 8-11 of a tile-part header: the segments up to SOD and the body set-up. False
// when the source ended inside the header.
bool read_tpart_segments(rv_tile* x, const sot_fields& f)
{
    rv_codestream* cs = x->codestream;
    rv_tile_reading& rd = x->rd;
    // TPsot counts from 0 to at most 254: a tile's tile-part records never grow past that.
    if (f.tpsot > 254)
        rv_raise_core_error("Corrupt SOT marker segment found in codestream: tile-part index "
                            "(TPsot) " + std::to_string(f.tpsot) + " of tile number " +
                            std::to_string(f.isot) + " is not below 255.");
    if (f.tpsot != rd.num_tparts_read)
        rv_raise_core_error("Missing or out-of-sequence tile-parts for tile number " +
                            std::to_string(f.isot) + " in code-stream!");
    if (f.tnsot != 0) {
        if (rd.tnsot != 0 && rd.tnsot != f.tnsot)
            rv_raise_core_error("The number of tile-parts for tile number " +
                                std::to_string(f.isot) +
                                " is identified by different non-zero values in different SOT "
                                "markers for the tile!");
        rd.tnsot = f.tnsot;
    }
    // Encoders in the field write one tile-part more than their TNsot says. Such a count
    // cannot be trusted to close the tile, so the tile runs until its data end. TPsot only
    // grows and TNsot stays, so once short the count stays short.
    const bool count_short = rd.tnsot != 0 && f.tpsot >= rd.tnsot;
    if (count_short && !cs->rd.warned_tnsot_short) {
        cs->rd.warned_tnsot_short = true;
        rv_issue_core_warning("SOT marker segment of tile number " + std::to_string(f.isot) +
                              " has tile-part index (TPsot) " + std::to_string(f.tpsot) +
                              ", which is not below the tile-part count (TNsot) " +
                              std::to_string(rd.tnsot) +
                              "; the count is ignored and the tile is read until its "
                              "tile-parts end.");
    }
    rd.num_tparts_announced = count_short ? 0 : rd.tnsot;
    x->remove_from_unloadable_list();
    rv_compressed_input* in = cs->in.get();
    if (!rd.plt.is_enabled() && (in->get_capabilities() & RVD_SOURCE_CAP_SEEKABLE) &&
        !cs->cached_source)
        rd.plt.init(cs->buf_server.get());
    for (;;) {
        if (!cs->marker->read()) {
            if (in->is_exhausted())
                return false;
            rv_raise_core_error("Found non-marker code while looking for SOD marker to terminate "
                                "a tile-part header.  Chances are that a marker segment length "
                                "field is incorrect!");
        }
        const uint16_t code = cs->marker->get_code();
        if (code == RV_SOD)
            break;
        if (code == RV_PPT) {
            if (cs->profile == 0) {
                rv_issue_core_warning("Profile violation detected (code-stream is technically "
                                      "illegal).  PPT marker segments may not appear within a "
                                      "Profile-0 code-stream.  You should set \"Sprofile\" to 1 "
                                      "or 2.");
                cs->profile = 2;
            }
            if (!rd.ppt_markers)
                rd.ppt_markers.reset(new rv_pp_markers);
            rd.ppt_markers->add_marker(*cs->marker);
        } else if (code == RV_PLT) {
            rd.plt.add_plt_marker(*cs->marker, cs->siz.get(), x->t_num);
        } else {
            cs->siz->translate_marker_segment(code, cs->marker->get_length(),
                                              cs->marker->get_bytes(), x->t_num, f.tpsot);
        }
    }
    cs->siz->finalize_all(x->t_num, true);
    const int64_t body_start = in->get_offset();
    if (rd.ppt_markers && !rd.ppt_markers->empty()) {
        if (cs->ppm_markers)
            rv_raise_core_error("Use of both PPM and PPT marker segments is illegal!");
        if (!rd.packed_headers)
            rd.packed_headers.reset(new rv_pph_input(cs->buf_server.get()));
        rd.ppt_markers->transfer_tpart(rd.packed_headers.get());
        rd.ppt_markers.reset();
    } else if (cs->ppm_markers) {
        if (!rd.packed_headers)
            rd.packed_headers.reset(new rv_pph_input(cs->buf_server.get()));
        cs->ppm_markers->transfer_tpart(rd.packed_headers.get());
    }
    if (rd.plt.is_enabled()) {
        const int64_t body_length = f.psot == 0 ? 0 : f.address + f.psot - body_start;
        rd.plt.start_tpart_body(body_start, std::max<int64_t>(0, body_length), cs->siz.get(),
                                x->t_num, false, f.psot == 0);
        rd.plt_in_use = rd.plt.get_num_stored() > 0;
    }
    rd.tpart_end = f.psot == 0 ? -1 : f.address + f.psot;
    x->has_header = true;
    rd.num_tparts_read++;
    if (rd.sequencer)
        rd.sequencer->set_tparts_seen(rd.num_tparts_read);
    if (cs->rd.current_tile != x)
        leave_current(cs);
    cs->rd.current_tile = x;
    cs->rd.num_headers_read++;
    return true;
}

void ensure_started(rv_codestream* cs)
{
    rv_codestream_reading& r = cs->rd;
    if (r.started)
        return;
    r.started = true;
    r.have_sot = cs->marker && cs->marker->get_code() == RV_SOT;
    if (r.have_sot) {
        r.have_sot_address = cs->in->get_offset() - (cs->marker->get_length() + 4);
        r.frontier = r.have_sot_address;
    } else {
        r.frontier = -1;
        r.next_sot = -1;
    }
}

// The recovery of a corrupted packet (resilient mode): skip to an SOP that can be
// believed, counting the packets in between as parsed.
bool recover(rv_precinct* p)
{
    rv_tile* t = p->tile();
    rv_codestream* cs = t->codestream;
    rv_compressed_input* in = cs->in.get();
    if (cs->rd.loading == p)
        rv_raise_core_error("Encountered a corrupted packet while using packet length "
                            "information to access the compressed data source in a random "
                            "access fashion.  To process corrupted code-streams in an error "
                            "resilient manner, you must disable seeking on the compressed data "
                            "source (i.e., force sequential access) as well as enabling the "
                            "resilient parsing mode.");
    in->disable_marker_throwing();
    p->corrupted = true;
    bool trust = !cs->expect_ubiquitous_sops;
    rv_tile_reading& rd = t->rd;
    for (;;) {
        if (!rd.sop_pending) {
            // Scan byte by byte for an SOT or SOP with its proper length.
            uint8_t b = 0, prev = 0;
            for (;;) {
                if (!in->get(b)) {
                    unsequence(t);
                    rv_packet_reader::tile_finished(t);
                    return false;
                }
                if (prev == 0xFF && (b == 0x90 || b == 0x91)) {
                    uint8_t l1, l2;
                    if (!in->get(l1))
                        break;
                    if (!in->get(l2)) {
                        in->putback_byte(l1);
                        break;
                    }
                    const int len = (l1 << 8) | l2;
                    if ((b == 0x90 && len == 10) || (b == 0x91 && len == 4)) {
                        in->putback(uint16_t(len));
                        in->putback(uint16_t(0xFF00 | b));
                        break;
                    }
                    in->putback(uint16_t(len));
                    prev = 0;
                    continue;
                }
                prev = b;
            }
            if (!cs->marker->read()) {
                unsequence(t);
                rv_packet_reader::tile_finished(t);
                return false;
            }
            if (cs->marker->get_code() == RV_SOT) {
                unsequence(t);
                cs->rd.have_sot = true;
                cs->rd.have_sot_address = in->get_offset() - (cs->marker->get_length() + 4);
                if (cs->rd.current_tile == t)
                    leave_current(cs);
                return false;
            }
            if (cs->marker->get_code() != RV_SOP || cs->marker->get_length() < 2)
                continue;
            const uint8_t* sb = cs->marker->get_bytes();
            rd.pending_sop = uint16_t((sb[0] << 8) | sb[1]);
            rd.sop_pending = true;
        }
        const int d = sequence_difference(rd.pending_sop, rd.sequence_idx);
        if (d <= 0) {
            rd.sop_pending = false;
            trust = false;
            continue;
        }
        if (d >= 4 && !trust) {
            rd.sop_pending = false;
            trust = true;
            continue;
        }
        // Above 65536 packets every SOP number can name one.
        if (rd.total_packets <= 65536 && int64_t(rd.pending_sop) >= rd.total_packets) {
            rd.sop_pending = false;
            continue;
        }
        p->num_layers_parsed++;
        return true;
    }
}

void end_of_source(rv_precinct* p)
{
    unsequence(p->tile());
    rv_codestream* cs = p->codestream();
    if (cs->rd.loading == p)
        return; // only this precinct's scope or address range ended
    rv_packet_reader::tile_finished(p->tile());
}

// Reads one block's body bytes into its chain (or past them); false when the source
// ended inside them: complete passes are kept.
inline bool read_block_body(rv_precinct_block& blk, rv_input* in, bool by_pointer,
                            rv_buffer_server* bs)
{
    const int len = blk.packet_bytes;
    if (len == 0)
        return true;
    if (blk.is_discarded() || blk.current_buf == nullptr || blk.body_cut)
        return in->ignore(len) == len;
    if (int(blk.get_bytes_stored()) + len > 0xFFFF)
        throw uint16_t(RV_PACKET_OVERSIZED);
    int got;
    if (by_pointer) {
        const uint8_t* ptr = nullptr;
        got = in->access_in_place(ptr, len, nullptr);
        blk.put_pointer(ptr, bs);
    } else {
        rv_buffer* buf = blk.current_buf;
        int pos = blk.buf_pos;
        got = in->read_to_chain(buf, pos, bs, len);
        blk.current_buf = buf;
        blk.buf_pos = uint8_t(pos);
    }
    blk.augment_bytes_stored(got);
    if (got == len)
        return true;
    blk.body_cut = true;
    return false;
}

// The body bytes of every block of a packet, in header order.
void read_body(rv_precinct* p, rv_input* in, bool by_pointer)
{
    rv_buffer_server* bs = p->codestream()->buf_server.get();
    if (p->sparse != nullptr) {
        for (rv_precinct_block* blk : p->sparse->packet_blocks)
            if (!read_block_body(*blk, in, by_pointer, bs))
                return;
        return;
    }
    for (int b = 0; b < p->num_bands && !p->held_sparsely; b++) {
        rv_precinct_band& pb = p->bands[b];
        const int n = pb.block_indices.size.y * pb.block_indices.size.x;
        for (int k = 0; k < n && pb.block_indices.size.x > 0; k++)
            if (!read_block_body(pb.blocks[k], in, by_pointer, bs))
                return;
    }
}

} // namespace

bool rv_packet_reader::read_tile_part_header(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    if (!cs->in || cs->cached_source)
        return false;
    rv_codestream_reading& r = cs->rd;
    if (r.have_pending_sot && r.pending_isot == t->t_num && t->rd.num_tparts_read == 0) {
        // The walk that created this tile already read its SOT.
        r.have_pending_sot = false;
        sot_fields f;
        f.isot = r.pending_isot;
        f.psot = r.pending_psot;
        f.tpsot = r.pending_tpsot;
        f.tnsot = r.pending_tnsot;
        f.address = r.pending_sot_address;
        return read_tpart_segments(t, f);
    }
    if (t->rd.finished || t->rd.headers_exhausted)
        return false;
    ensure_started(cs);
    rv_compressed_input* in = cs->in.get();
    const bool idx = indexed(cs);
    for (;;) {
        if (r.current_tile != nullptr)
            finish_current_tpart(cs);
        if (t->rd.finished)
            return false;
        int64_t sot_address = 0;
        bool read_ok = true;
        bool from_own_list = false;
        if (!idx) {
            if (!r.have_sot) {
                if (r.next_sot < 0) {
                    t->rd.headers_exhausted = true;
                    return false;
                }
                if (r.next_sot > 0 && !in->is_exhausted())
                    move_to(cs, r.next_sot);
                r.next_sot = 0;
                read_ok = cs->marker->read();
                sot_address = in->get_offset() - (cs->marker->get_length() + 4);
            } else {
                sot_address = r.have_sot_address;
            }
        } else {
            int64_t target = nth_address(t->tile_ref, t->rd.num_tparts_read);
            from_own_list = target >= 0;
            if (target < 0) {
                if (address_list_complete(t->tile_ref) || r.frontier < 0) {
                    t->rd.num_tparts_announced = t->rd.num_tparts_read;
                    t->rd.headers_exhausted = true;
                    return false;
                }
                target = r.frontier;
            }
            if (!(r.have_sot && r.have_sot_address == target)) {
                in->seek(target);
                read_ok = cs->marker->read();
            }
            sot_address = target;
        }
        r.have_sot = false;
        if (!read_ok) {
            if (in->is_exhausted()) {
                if (!idx)
                    r.next_sot = -1;
                else
                    r.frontier = -1;
                t->rd.headers_exhausted = true;
                return false;
            }
        }
        if (!read_ok || cs->marker->get_code() != RV_SOT)
            rv_raise_core_error("Invalid marker code found in code-stream!\n\tExpected SOT marker "
                                "and got " +
                                marker_text(cs->marker->get_code()) + ".");
        const sot_fields f = parse_sot(cs, sot_address);
        rv_tile_ref* ref = &cs->tile_refs[size_t(f.isot)];
        if (!idx) {
            r.next_sot = f.psot == 0 ? -1 : f.address + f.psot;
        } else if (f.address > r.last_sot_walked) {
            r.last_sot_walked = f.address;
            cs->tpart_ptr_server->add_address(ref, f.address);
            if (f.psot == 0) {
                ref->tpart_tail = nullptr; // the list ends with this tile-part
                r.frontier = -1;
            } else {
                r.frontier = f.address + f.psot;
            }
        }

        if (from_own_list && f.isot != t->t_num)
            rv_raise_core_error("The tile-part index (from TLM marker segments or earlier "
                                "parsing) points to a tile-part of another tile.  The TLM marker "
                                "segments are inconsistent with the code-stream.");
        rv_tile* u = ref->tile;
        const rvd_coords u_idx(f.isot / cs->num_tiles.x, f.isot % cs->num_tiles.x);
        auto skip = [&]() {
            if (cs->ppm_markers)
                cs->ppm_markers->ignore_tpart();
        };
        if (u == rv_tile_expired() || (u != nullptr && (u->closed || u->rd.finished))) {
            skip();
            continue;
        }
        if (u != nullptr && u != t && u->needs_reinitialization && f.tpsot == 0) {
            // A restarted tile is built again from this header.
            r.have_pending_sot = true;
            r.pending_isot = f.isot;
            r.pending_psot = f.psot;
            r.pending_tpsot = f.tpsot;
            r.pending_tnsot = f.tnsot;
            r.pending_sot_address = f.address;
            u->needs_reinitialization = false;
            u->initialize();
            r.have_pending_sot = false;
            continue;
        }
        if (u != t) {
            if (idx)
                continue; // its address is in the index now
            if (f.psot == 0) {
                // The last tile-part belongs to another tile: this one gets no more.
                r.have_sot = true;
                r.have_sot_address = f.address;
                tile_finished(t);
                return false;
            }
            if (u == nullptr) {
                r.have_pending_sot = true;
                r.pending_isot = f.isot;
                r.pending_psot = f.psot;
                r.pending_tpsot = f.tpsot;
                r.pending_tnsot = f.tnsot;
                r.pending_sot_address = f.address;
                u = cs->create_tile(u_idx);
                if (r.have_pending_sot) {
                    // Not initialised from it (outside the region): its data is skipped.
                    r.have_pending_sot = false;
                    skip();
                }
                continue;
            }
        } else {
            u = t;
        }
        if (!read_tpart_segments(u, f)) {
            u->rd.headers_exhausted = true;
            if (u == t)
                return false;
            continue;
        }
        cs->unload_tiles_to_cache_threshold();
        if (u == t)
            return true;
    }
}

void rv_packet_reader::finish_current_tpart(rv_codestream* cs)
{
    rv_tile* t = cs->rd.current_tile;
    if (t == nullptr)
        return;
    if (!t->initialized || !t->rd.sequencer) {
        // A tile that is still being built has its packets read once it is.
        leave_current(cs);
        return;
    }
    while (cs->rd.current_tile == t) {
        rv_resolution* res = nullptr;
        rvd_coords idx;
        uint64_t* ref = next_sequenced(t, res, idx);
        if (ref == nullptr) {
            if (t->rd.num_tparts_announced != 0 &&
                t->rd.num_tparts_read >= t->rd.num_tparts_announced && !t->closed &&
                !t->rd.sequencer->packets_left())
                tile_finished(t); // every packet sequenced, and no tile-part can come
            break;
        }
        if (needs_reading(*ref)) {
            rv_precinct* p = bring_in(res, ref);
            t->rd.sequenced = true;
            if (!read_and_count(p))
                break;
        } else {
            check_finished(t);
        }
    }
    if (cs->rd.current_tile == t)
        leave_current(cs);
}

bool rv_packet_reader::read_packet(rv_precinct* p)
{
    rv_tile* t = p->tile();
    rv_codestream* cs = t->codestream;
    rv_tile_reading& rd = t->rd;
    rv_compressed_input* in = cs->in.get();
    if (p->num_layers_parsed < 0) {
        unsequence(t);
        return false;
    }
    if (p->corrupted)
        return recover(p);
    const bool by_address = cs->rd.loading == p;
    bool sop_done = false;
    if (rd.use_sop && rd.sop_pending && !by_address) {
        if (sequence_difference(rd.pending_sop, rd.sequence_idx) != 0)
            return recover(p);
        rd.sop_pending = false;
        sop_done = true;
    }
    if (!sop_done && !by_address && rd.tpart_end >= 0 && in->get_offset() >= rd.tpart_end) {
        // The body is used up. Packed headers may still hold packets without body bytes;
        // otherwise the tile-part has ended here.
        uint8_t b;
        if (rd.packed_headers && rd.packed_headers->get(b)) {
            rd.packed_headers->putback_byte(b);
            sop_done = true;
        } else {
            unsequence(t);
            if (cs->rd.current_tile == t)
                leave_current(cs);
            return false;
        }
    }
    while (!sop_done) {
        if (!cs->marker->read(true)) {
            if (in->is_exhausted()) {
                end_of_source(p);
                if (p->num_layers_parsed == 0 && p->addressable && !by_address)
                    p->num_layers_parsed = -1;
                return false;
            }
            if (cs->resilient && cs->expect_ubiquitous_sops && rd.use_sop)
                return recover(p); // every packet should start with one
            break; // no marker: a packet without SOP
        }
        const uint16_t code = cs->marker->get_code();
        if (code == RV_SOT) {
            unsequence(t);
            cs->rd.have_sot = true;
            cs->rd.have_sot_address = in->get_offset() - (cs->marker->get_length() + 4);
            if (cs->rd.current_tile == t)
                leave_current(cs);
            return false;
        }
        if (code == RV_SOP && rd.use_sop) {
            const uint8_t* b = cs->marker->get_bytes();
            const int n = cs->marker->get_length() >= 2 ? (b[0] << 8) | b[1] : -1;
            if (!by_address && sequence_difference(n, rd.sequence_idx) != 0) {
                if (cs->resilient) {
                    rd.pending_sop = uint16_t(n);
                    rd.sop_pending = true;
                    return recover(p);
                }
                rv_raise_core_error(
                    "Out-of-sequence SOP marker found while attempting to read a packet from the "
                    "code-stream!\n\tFound sequence number " +
                    std::to_string(n) + ", but expected " + std::to_string(rd.sequence_idx & 0xFFFF) +
                    ".\nUse the resilient option if you would like to try to recover from this "
                    "error.");
            }
            break;
        }
        if (cs->resilient)
            return recover(p); // scans on to the next SOP or SOT
        rv_raise_core_error("Illegal marker code found while attempting to read a packet from "
                            "the code-stream!\n\tIllegal marker code is " +
                            marker_text(code) +
                            ".\nUse the resilient option if you would like to try to recover "
                            "from this error.");
    }

    // Simulated parsing: a packet nobody wants counts nothing against the byte limit,
    // until it ends (on every way out of here).
    struct suspension {
        rv_compressed_input* in;
        bool on;
        ~suspension()
        {
            if (on)
                in->set_suspend(false);
        }
    } suspended{in, cs->simulate_parsing &&
                        (p->num_layers_parsed >= p->required_layers || !p->relevant)};
    if (suspended.on)
        in->set_suspend(true);
    rv_input* hsrc = rd.packed_headers ? static_cast<rv_input*>(rd.packed_headers.get())
                                       : static_cast<rv_input*>(in);
    const bool packed = rd.packed_headers != nullptr;
    const bool by_pointer = rv_packet_reader::bodies_by_pointer(cs);
    // In-place bodies cannot pass through marker detection (a mode set after reading
    // began): they are taken as they are.
    const bool detect = (cs->resilient || cs->fussy) && !by_pointer;
    if (detect)
        in->enable_marker_throwing(cs->fussy);
    rv_buffer_server* bs = cs->buf_server.get();
    int64_t body_bytes = 0;
    try {
        rv_header_in header(hsrc);
        if (header.get_bit() != 0) {
            const int layer = p->num_layers_parsed;
            rv_make_precinct_blocks(p);
            if (p->sparse != nullptr) {
                body_bytes = rv_parse_sparse_header(p, header, bs, layer);
            } else {
                for (int b = 0; b < p->num_bands; b++) {
                    rv_precinct_band& pb = p->bands[b];
                    const int n = pb.block_indices.size.y * pb.block_indices.size.x;
                    for (int k = 0; k < n && pb.block_indices.size.x > 0; k++)
                        body_bytes += pb.blocks[k].parse_packet_header(header, bs, layer);
                }
            }
        } else {
            for (int b = 0; b < p->num_bands && !p->held_sparsely; b++) {
                rv_precinct_band& pb = p->bands[b];
                const int n = pb.block_indices.size.y * pb.block_indices.size.x;
                for (int k = 0; k < n && pb.block_indices.size.x > 0; k++)
                    pb.blocks[k].packet_bytes = 0;
            }
        }
        header.finish();
        if (rd.use_eph) {
            if (detect)
                in->disable_marker_throwing();
            uint8_t b1, b2;
            if (!hsrc->get(b1) || !hsrc->get(b2)) {
                if (packed)
                    rv_raise_core_error("Exhausted PPM/PPT marker segment data while attempting "
                                        "to parse a packet header!");
                end_of_source(p);
                if (p->num_layers_parsed == 0 && p->addressable && !by_address)
                    p->num_layers_parsed = -1;
                return false;
            }
            const uint16_t code = uint16_t((b1 << 8) | b2);
            if (code != RV_EPH) {
                if (cs->resilient && !packed)
                    return recover(p);
                rv_raise_core_error("Expected to find EPH marker following packet header.  Found " +
                                    marker_text(code) + " instead.");
            }
            if (detect)
                in->enable_marker_throwing(cs->fussy);
        }
    } catch (rv_header_in*) {
        in->disable_marker_throwing();
        if (packed)
            rv_raise_core_error("Exhausted PPM/PPT marker segment data while attempting to parse "
                                "a packet header!");
        end_of_source(p);
        if (p->num_layers_parsed == 0 && p->addressable && !by_address)
            p->num_layers_parsed = -1;
        return false;
    } catch (uint16_t code) {
        in->disable_marker_throwing();
        if (cs->resilient && !packed)
            return recover(p);
        header_code_error(code);
    } catch (rv_marker_exception& m) {
        in->disable_marker_throwing();
        if (cs->resilient && !packed)
            return recover(p);
        header_code_error(m.code);
    }

    if (body_bytes > 0) {
        try {
            read_body(p, in, by_pointer);
        } catch (rv_marker_exception& m) {
            in->disable_marker_throwing();
            if (cs->resilient)
                return recover(p);
            rv_raise_core_error("Illegal marker code, " + marker_text(m.code) +
                                ", found while reading packet body.  Try re-opening the image "
                                "with the resilient mode enabled.");
        } catch (uint16_t code) {
            in->disable_marker_throwing();
            if (cs->resilient)
                return recover(p);
            header_code_error(code);
        }
    }
    if (detect && !in->disable_marker_throwing() && body_bytes > 0) {
        if (!cs->resilient)
            rv_raise_core_error("Packet body terminated with an FF!");
        in->putback_byte(0xFF);
        return recover(p);
    }
    in->disable_marker_throwing();
    p->num_layers_parsed++;
    return true;
}

bool rv_packet_reader::read_and_count(rv_precinct* p)
{
    rv_tile* t = p->tile();
    if (!read_packet(p))
        return false;
    t->rd.sequenced = false;
    rv_tile_reading& rd = t->rd;
    p->num_packets_read++;
    rd.sequence_idx++;
    const bool counts = p->relevant && p->num_packets_read <= counted_layers(t);
    if (p->num_packets_read >= t->num_layers && !p->fully_read) {
        p->fully_read = true;
        if (p->num_layers_parsed == 0) {
            p->addressable = true;
            p->unique_address = 0;
        }
        if (p->num_outstanding_blocks == 0)
            settle(p);
    }
    if (counts) {
        rd.relevant_packets_read++;
        check_finished(t);
    }
    return true;
}

void rv_packet_reader::load_by_address(rv_precinct* p)
{
    if (!p->addressable || p->unique_address == 0 || p->num_layers_parsed != 0)
        return;
    rv_codestream* cs = p->codestream();
    // A tile-part read packet by packet needs the input where it is: finish it first.
    // One whose precincts all come by address does not.
    if (cs->rd.current_tile != nullptr && !cs->rd.current_tile->rd.plt_in_use)
        finish_current_tpart(cs);
    cs->rd.loading = p;
    try {
        cs->in->seek(p->unique_address);
        while (p->num_layers_parsed >= 0 && p->num_layers_parsed < p->required_layers &&
               read_packet(p)) {
        }
    } catch (...) {
        cs->rd.loading = nullptr;
        throw;
    }
    cs->rd.loading = nullptr;
    cs->rd.have_sot = false; // the input is elsewhere now
}

bool rv_packet_reader::tile_finished(rv_tile* t)
{
    if (!t->initialized)
        return false;
    rv_codestream* cs = t->codestream;
    if (cs->rd.current_tile == t)
        leave_current(cs);
    if (t->rd.finished)
        return false;
    t->rd.finished = true;
    if (t->closed) {
        destroy_tile(t);
        return true;
    }
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t& ref : res.precinct_refs) {
                if (!rv_precinct::ref_in_memory(ref))
                    continue;
                rv_precinct* p = rv_precinct::from_ref(ref);
                if (p->fully_read)
                    continue;
                p->fully_read = true;
                if (p->num_layers_parsed == 0) {
                    p->addressable = true;
                    p->unique_address = 0;
                }
                if (p->num_outstanding_blocks == 0)
                    settle(p);
            }
    return false;
}

void rv_packet_reader::read_precinct(rv_precinct* p)
{
    rv_tile* t = p->tile();
    rv_codestream* cs = t->codestream;
    if (!cs->cached_source) {
        while (!t->rd.finished && p->num_packets_read < p->required_layers &&
               p->num_layers_parsed >= 0) {
            if (cs->rd.current_tile != t) {
                if (!read_tile_part_header(t)) {
                    tile_finished(t);
                    break;
                }
                continue;
            }
            rv_resolution* res = nullptr;
            rvd_coords idx;
            uint64_t* ref = next_sequenced(t, res, idx);
            if (ref == nullptr) {
                if (!read_tile_part_header(t)) {
                    tile_finished(t);
                    break;
                }
                continue;
            }
            if (needs_reading(*ref)) {
                rv_precinct* q = bring_in(res, ref);
                t->rd.sequenced = true;
                if (!read_and_count(q) && cs->rd.current_tile == t)
                    leave_current(cs); // the next pass reads the next header
            } else {
                check_finished(t);
            }
        }
    }
    load_by_address(p);
}

bool rv_packet_reader::set_precinct_address(rv_tile* t, uint64_t* ref, rv_resolution* res,
                                            int64_t address)
{
    const uint64_t i = res->precinct_refs.index_of(ref);
    const int cols = res->precinct_indices.size.x;
    const rvd_coords rel(int(i / size_t(cols)), int(i % size_t(cols)));
    bool relevant = t->codestream->persistent || is_relevant_index(res, rel);
    if (rv_precinct::ref_in_memory(*ref)) {
        rv_precinct* p = rv_precinct::from_ref(*ref);
        relevant = p->relevant;
        p->addressable = true;
        p->unique_address = address;
        p->num_packets_read = t->num_layers;
        p->fully_read = true;
        if (p->num_outstanding_blocks == 0)
            settle(p);
    } else if (*ref != RV_PRECINCT_RELEASED_FOR_GOOD) {
        *ref = (uint64_t(address) << 1) | 1;
    }
    if (relevant)
        t->rd.relevant_packets_read += counted_layers(t);
    return true;
}

bool rv_packet_reader::bodies_by_pointer(rv_codestream* cs)
{
    // Decided once: every chain of the codestream must be read back the way it was
    // written, whatever modes are set later. Marker detection reads through a copy.
    if (cs->rd.by_pointer < 0)
        cs->rd.by_pointer =
            (cs->in_memory_source && !cs->cached_source && !cs->resilient && !cs->fussy) ? 1 : 0;
    return cs->rd.by_pointer == 1;
}

void rv_packet_reader::read_first_header(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    if (!cs->in || cs->cached_source || t->rd.num_tparts_read > 0)
        return;
    if (!read_tile_part_header(t))
        t->rd.no_header = true;
}

void rv_packet_reader::update_relevance(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    rv_tile_reading& rd = t->rd;
    rd.num_relevant_layers = std::max(0, std::min(cs->max_apparent_layers, t->num_layers));
    int64_t relevant = 0;
    for (rv_tile_comp& tc : t->comps) {
        tc.relevant_precincts = relevant_share(tc);
        relevant += tc.relevant_precincts;
    }
    rd.relevant_precincts = relevant;
    rd.total_relevant_packets =
        rv_packet_count(cs->persistent ? rd.total_precincts : relevant, counted_layers(t));
}

void rv_packet_reader::component_built(rv_tile* t, rv_tile_comp& tc)
{
    rv_tile_reading& rd = t->rd;
    const int64_t share = relevant_share(tc);
    rd.relevant_precincts += share - tc.relevant_precincts;
    tc.relevant_precincts = share;
    rd.total_relevant_packets = rv_packet_count(
        t->codestream->persistent ? rd.total_precincts : rd.relevant_precincts, counted_layers(t));
}

void rv_packet_reader::start_tile(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    rv_tile_reading& rd = t->rd;
    rvd_params* cod = tile_cod(cs, t->t_num, -1);
    bool flag = false;
    rd.use_sop = cod != nullptr && cod->get("Cuse_sop", 0, 0, flag) && flag;
    flag = false;
    rd.use_eph = cod != nullptr && cod->get("Cuse_eph", 0, 0, flag) && flag;
    rd.comp_modes.assign(t->comps.size(), 0);
    rd.total_precincts = 0;
    for (size_t c = 0; c < t->comps.size(); c++) {
        rvd_params* cc = tile_cod(cs, t->t_num, int(c));
        int modes = 0;
        if (cc != nullptr && cc->get("Cmodes", 0, 0, modes))
            rd.comp_modes[c] = modes;
        rd.total_precincts += t->comps[c].num_precincts;
    }
    rd.total_packets = rv_packet_count(rd.total_precincts, t->num_layers);
    rd.sequence_idx = 0;
    rd.sop_pending = false;
    rd.relevant_packets_read = 0;
    rd.sequencer.reset(new rv_packet_sequencer(t));
    rd.sequencer->set_tparts_seen(std::max(1, rd.num_tparts_read));
    rd.sequencer_started = false;
    update_relevance(t);
    if (rd.no_header && cs->in && !cs->cached_source)
        rd.finished = true;
    if (cs->cached_source && t->has_header) {
        // A cached tile header holds all its tile-parts' headers at once.
        rd.num_tparts_read = 1;
        rd.headers_exhausted = true;
        cs->rd.num_headers_read++;
    }
}

void rv_packet_reader::open_tile_precincts(rv_tile* t)
{
    update_relevance(t);
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t& ref : res.precinct_refs)
                if (rv_precinct::ref_in_memory(ref)) {
                    // No block of a closed tile is open, so every precinct takes the new
                    // view, also one read on the way to another tile while this one was
                    // closed: it never saw the view it is opened in.
                    rv_precinct* p = rv_precinct::from_ref(ref);
                    p->released = true;
                    rv_activate_precinct(p);
                }
}

void rv_packet_reader::close_tile_precincts(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t& ref : res.precinct_refs) {
                if (!rv_precinct::ref_in_memory(ref))
                    continue;
                rv_precinct* p = rv_precinct::from_ref(ref);
                if (p->inactive)
                    continue;
                p->num_outstanding_blocks = 0;
                p->released = true;
                if (p == cs->rd.block_precinct) {
                    cs->rd.block_precinct = nullptr;
                    cs->rd.block_state = nullptr;
                }
                // Only what cannot be read again stays: still to come sequentially, or
                // kept by a persistent codestream.
                if (!p->addressable && (cs->persistent || !p->fully_read))
                    continue;
                const bool all_or_none =
                    p->num_layers_parsed <= 0 || p->num_layers_parsed >= t->num_layers;
                if (p->addressable && all_or_none && !cs->cached_source)
                    rv_park_precinct(p);
                else
                    rv_release_precinct(p);
            }
}

void rv_packet_reader::destroy_tile(rv_tile* t)
{
    t->destroy(false);
}

void rv_packet_reader::release_tile(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    if (cs->rd.current_tile == t)
        cs->rd.current_tile = nullptr;
    if (cs->rd.block_precinct != nullptr && cs->rd.block_precinct->tile() == t) {
        cs->rd.block_precinct = nullptr;
        cs->rd.block_state = nullptr;
    }
    rv_release_tile_precincts(t);
    rv_tile_reading& rd = t->rd;
    rd.sequencer.reset();
    rd.sequencer_started = false;
    rd.num_tparts_read = 0;
    rd.num_tparts_announced = rd.tnsot = 0;
    rd.packed_headers.reset();
    rd.ppt_markers.reset();
    rd.plt.reset();
    rd.plt_in_use = false;
    rd.sequence_idx = 0;
    rd.sop_pending = false;
    rd.relevant_packets_read = rd.total_relevant_packets = rd.relevant_precincts = 0;
    rd.total_precincts = rd.total_packets = 0;
    rd.finished = rd.headers_exhausted = rd.no_header = false;
}

void rv_packet_reader::reset_codestream(rv_codestream* cs)
{
    rv_codestream_reading& r = cs->rd;
    r.current_tile = nullptr;
    r.started = false;
    r.have_sot = false;
    r.next_sot = 0;
    r.frontier = 0;
    r.last_sot_walked = -1;
    r.have_pending_sot = false;
    r.by_pointer = -1;
    r.block_precinct = nullptr;
    r.block_state = nullptr;
}
