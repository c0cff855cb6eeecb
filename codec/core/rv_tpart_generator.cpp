// Tile-parts of a codestream being written: division of a tile's packet sequence, the
// SOT/PLT/SOD headers, and the sizing and writing of packets precinct by precinct.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_precinct.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_tile.h"

#include <algorithm>
#include <string>

namespace {

// The leaves of one band of a precinct with their tag-tree shape.
struct band_leaves {
    rv_precinct_block* leaves;
    int cols, rows;
};

template <typename F>
void for_each_band(rv_precinct* p, F f)
{
    for (int b = 0; b < p->num_bands; b++) {
        const rv_precinct_band& pb = p->bands[b];
        if (pb.block_indices.size.y < 1 || pb.block_indices.size.x < 1)
            continue;
        f(band_leaves{pb.blocks, pb.block_indices.size.x, pb.block_indices.size.y});
    }
}

// Readies every block for `layer` at the threshold; returns the body bytes and whether
// any block contributes. Tag-tree values of the upper levels follow the leaves: blocks
// not yet sent are not included before this layer, whatever an earlier sizing chose.
int64_t prepare_layer(rv_precinct* p, int layer, uint16_t threshold, bool& any)
{
    int64_t bytes = 0;
    any = false;
    const rv_precinct::layer_fill* fill = p->fill_of(layer);
    int leaf_count = 0; // over every band, as the fill counts its leaves
    for_each_band(p, [&](const band_leaves& b) {
        const int n = b.cols * b.rows;
        const int total = rv_tag_tree_nodes(b.rows, b.cols);
        if (layer == 0)
            rv_precinct_block::reset_output_tree(b.leaves, b.cols, b.rows);
        for (int k = 0; k < n; k++) {
            rv_precinct_block& leaf = b.leaves[k];
            if (layer > 0 && leaf.passes_parsed == 0)
                leaf.inclusion_value = 0xFFFF;
            uint16_t own = threshold;
            if (fill != nullptr) {
                const std::vector<uint16_t>& each = fill->leaf_thresholds;
                own = size_t(leaf_count) < each.size() ? each[size_t(leaf_count)] : fill->threshold;
            }
            leaf_count++;
            bytes += leaf.start_packet(layer, own);
            any = any || leaf.layer_passes > 0;
        }
        for (int k = n; k < total; k++)
            b.leaves[k].inclusion_value = 0xFFFF;
        for (int k = 0; k < n; k++) {
            const uint16_t v = b.leaves[k].inclusion_value;
            for (rv_precinct_block* u = b.leaves[k].parent; u != nullptr && v < u->inclusion_value;
                 u = u->parent)
                u->inclusion_value = v;
        }
    });
    return bytes;
}

int packet_header(rv_precinct* p, int layer, bool any, rvd_output* out, bool simulate)
{
    rv_header_out h(out);
    h.put_bit(any ? 1 : 0);
    if (any)
        for_each_band(p, [&](const band_leaves& b) {
            for (int k = 0; k < b.cols * b.rows; k++)
                b.leaves[k].write_packet_header(h, layer, simulate);
        });
    return h.finish();
}

int iplt_bytes(int64_t length)
{
    int n = 1;
    while (length >= 128) {
        length >>= 7;
        n++;
    }
    return n;
}

void put_iplt(rvd_output* out, int64_t length)
{
    for (int k = iplt_bytes(length) - 1; k >= 0; k--)
        out->put(uint8_t(((length >> (7 * k)) & 0x7F) | (k > 0 ? 0x80 : 0)));
}

rvd_params* tile_org(rv_codestream* cs, int tnum)
{
    rvd_params* org = cs->siz->access_cluster("ORG");
    return org == nullptr ? nullptr : org->access_relation(tnum, -1, 0, true);
}

struct tpart_packet {
    rv_precinct* p;
    int layer;
};

} // namespace

const std::vector<uint8_t>& rv_tpart_generator::main_segments(rv_codestream* cs)
{
    rv_codestream_writing& w = cs->wr;
    if (!w.main_segments_ready) {
        rv_bytes_output o;
        cs->siz->generate_marker_segments(&o, -1, 0);
        w.main_segments = o.finish();
        w.main_segments_ready = true;
    }
    return w.main_segments;
}

const std::vector<uint8_t>& rv_tpart_generator::tpart_segments(rv_tile* t, int tpart_idx)
{
    rv_tile_writing& tw = t->wr;
    if (tw.header_tpart != tpart_idx) {
        main_segments(t->codestream); // tile segments are written relative to it
        rv_bytes_output o;
        t->codestream->siz->generate_marker_segments(&o, t->t_num, tpart_idx);
        tw.header_bytes = o.finish();
        tw.header_tpart = tpart_idx;
    }
    return tw.header_bytes;
}

void rv_tpart_generator::check_tpart_length(int64_t length)
{
    if (length > int64_t(0xFFFFFFFF))
        rv_raise_core_error(
            "Length of current tile-part exceeds the maximum value which can be represented by "
            "the 32-bit length field in the SOT marker!  You will have to split the code-stream "
            "into smaller tile-parts -- see the \"ORGtparts\" parameter attribute.");
}

int rv_tpart_generator::empty_packet_bytes(const rv_tile* t)
{
    return 1 + (t->rd.use_sop ? 6 : 0) + (t->rd.use_eph ? 2 : 0);
}

void rv_tpart_generator::start_tile(rv_tile* t)
{
    rv_tile_writing& tw = t->wr;
    tw = rv_tile_writing();
    rvd_params* org = tile_org(t->codestream, t->t_num);
    int flags = 0;
    bool plt = false;
    if (org != nullptr && org->get("ORGtparts", 0, 0, flags))
        tw.tpart_flags = flags;
    if (org != nullptr && org->get("ORGgen_plt", 0, 0, plt))
        tw.gen_plt = plt;
    tw.total_packets = t->rd.total_packets;
    // Writing walks the sequence from the first packet: started here, not on demand.
    t->rd.sequencer_started = true;
    t->rd.sequencer->start();
    // Incremental flushing projects each (depth, component) pair's area from the tiles seen.
    rv_codestream* cs = t->codestream;
    cs->finalize_geometry(); // before any tile is counted: it starts the records afresh
    for (int d = 0; d <= RV_MAX_DISCARD_LEVELS; d++)
        for (int c = 0; c < cs->num_components && c < int(t->comps.size()); c++)
            cs->rescomp[size_t(d * cs->num_components + c)].notify_tile_status(
                t->dims, d <= t->comps[size_t(c)].dwt_levels);
    // Each component's weight in the output components, cached now: encoders on any
    // thread read it through get_msb_wmse.
    for (int c = 0; c < int(t->comps.size()); c++)
        rvd_tile(t).find_component_gain_info(c, false);
}

void rv_tpart_generator::instantiate_precincts(rv_tile* t)
{
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t& ref : res.precinct_refs)
                if (ref == 0)
                    rv_create_precinct(&res, &ref);
}

int rv_tpart_generator::count_tparts(rv_tile* t)
{
    rv_packet_sequencer* seq = t->rd.sequencer.get();
    const int flags = t->wr.tpart_flags;
    if (flags == 0 || seq == nullptr)
        return 1;
    seq->save_state();
    int n = 0, r0 = -1, c0 = -1, l0 = -1;
    for (;;) {
        rv_resolution* res = nullptr;
        rvd_coords idx;
        if (seq->next_packet(res, idx) == nullptr)
            break;
        const int c = res->tile_comp->cnum, r = res->res_level;
        const int l = seq->get_next_layer(c, r, idx) - 1;
        if (n == 0 || ((flags & RV_TPARTS_BY_RESOLUTION) && r != r0) ||
            ((flags & RV_TPARTS_BY_COMPONENT) && c != c0) ||
            ((flags & RV_TPARTS_BY_LAYER) && l != l0)) {
            n++;
            r0 = r;
            c0 = c;
            l0 = l;
        }
    }
    seq->restore_state();
    return std::max(n, 1);
}

int64_t rv_tpart_generator::simulate_packet(rv_precinct* p, int layer, uint16_t threshold,
                                            int64_t limit, bool finalize)
{
    rv_tile* t = p->tile();
    if (p->num_outstanding_blocks > 0)
        rv_raise_core_error("You may not currently flush compressed code-stream data without "
                            "completing the compression of all code-blocks in all precincts of "
                            "all tiles.");
    if (p->layers_written > 0)
        rv_raise_core_error(
            "Attempting to run rate-control simulation on a precinct for which one or more "
            "packets have already been written to the code-stream.  Problem is most likely "
            "caused by trying to use the incremental code-stream flushing feature with one of "
            "the progression orders, LRCP or RLCP.");
    // Sizing from the first layer again forgets what earlier sizings recorded.
    if (p->packet_bytes.empty() || (layer == 0 && finalize))
        p->packet_bytes.assign(size_t(std::max(1, t->num_layers)), empty_packet_bytes(t));
    if (layer >= int(p->packet_bytes.size()))
        return 0;
    bool any = false;
    int64_t size = prepare_layer(p, layer, threshold, any);
    size += empty_packet_bytes(t) - 1;
    if (!finalize && size > limit)
        return size;
    if (finalize) {
        size += packet_header(p, layer, any, nullptr, false);
        p->packet_bytes[size_t(layer)] = size;
        p->sim_layers = layer + 1;
    } else {
        for_each_band(p, [](const band_leaves& b) {
            rv_precinct_block::save_output_tree(b.leaves, b.cols, b.rows);
        });
        size += packet_header(p, layer, any, nullptr, true);
        for_each_band(p, [](const band_leaves& b) {
            rv_precinct_block::restore_output_tree(b.leaves, b.cols, b.rows);
        });
    }
    return size;
}

int64_t rv_tpart_generator::write_packet(rv_precinct* p, int layer, uint16_t threshold,
                                         rvd_output* out)
{
    rv_tile* t = p->tile();
    bool any = false;
    const int64_t body = prepare_layer(p, layer, threshold, any);
    int64_t n = 0;
    if (t->rd.use_sop) {
        n += out->put(uint16_t(0xFF91));
        n += out->put(uint16_t(4));
        n += out->put(uint16_t(t->wr.sequence_idx));
    }
    t->wr.sequence_idx = (t->wr.sequence_idx + 1) & 0xFFFF;
    n += packet_header(p, layer, any, out, false);
    if (t->rd.use_eph)
        n += out->put(uint16_t(0xFF92));
    if (any)
        for_each_band(p, [&](const band_leaves& b) {
            for (int k = 0; k < b.cols * b.rows; k++)
                b.leaves[k].write_body_bytes(out);
        });
    p->layers_written++;
    return n + body;
}

int64_t rv_tpart_generator::generate_tpart(rv_tile* t)
{
    rv_codestream* cs = t->codestream;
    rv_codestream_writing& w = cs->wr;
    rv_tile_writing& tw = t->wr;
    if (tw.complete || !t->initialized || tw.packets_written >= tw.total_packets)
        return 0;
    const int N = t->t_num;
    if (tw.tparts_written >= 255)
        rv_raise_core_error("Too many tile-parts for tile " + std::to_string(N) +
                            ".  No tile may have more than 255 parts.");
    if (w.fixed_tparts > 0 && tw.tparts_written >= w.fixed_tparts)
        rv_raise_core_error("Too many tile-parts for tile " + std::to_string(N) +
                            ".  The maximum number of tile-parts per tile has been fixed by the "
                            "`ORGgen_tlm' parameter attribute to " +
                            std::to_string(w.fixed_tparts) + ".");
    const int tpidx = tw.tparts_written;

    // Which packets go into this tile-part, and their lengths.
    rv_packet_sequencer* seq = t->rd.sequencer.get();
    std::vector<tpart_packet> packets;
    int r0 = 0, c0 = 0, l0 = 0;
    int64_t body = 0;
    int plt_segments = 0;
    int64_t plt_seg_bytes = 0, plt_total = 0;
    for (;;) {
        rv_resolution* res = nullptr;
        rvd_coords idx;
        uint64_t* ref = seq->next_packet(res, idx);
        if (ref == nullptr)
            break;
        if (*ref == 0)
            rv_create_precinct(res, ref);
        if (!rv_precinct::ref_in_memory(*ref)) {
            seq->unsequence_last();
            break;
        }
        rv_precinct* p = rv_precinct::from_ref(*ref);
        if (p->num_outstanding_blocks > 0) {
            seq->unsequence_last();
            break;
        }
        const int c = res->tile_comp->cnum, r = res->res_level;
        const int l = seq->get_next_layer(c, r, idx) - 1;
        if (!packets.empty() &&
            (((tw.tpart_flags & RV_TPARTS_BY_RESOLUTION) && r != r0) ||
             ((tw.tpart_flags & RV_TPARTS_BY_COMPONENT) && c != c0) ||
             ((tw.tpart_flags & RV_TPARTS_BY_LAYER) && l != l0))) {
            seq->unsequence_last();
            break;
        }
        if (packets.empty()) {
            r0 = r;
            c0 = c;
            l0 = l;
        }
        if (l < 0 || l >= int(p->packet_bytes.size()) || p->sim_layers == 0) {
            seq->unsequence_last();
            rv_raise_core_error("Attempting to generate tile-part data without first "
                                "determining packet lengths.  This may be a consequence of "
                                "incomplete simulation of the packet construction process.");
        }
        const int64_t len = p->packet_bytes[size_t(l)];
        body += len;
        if (tw.gen_plt) {
            const int ib = iplt_bytes(len);
            if (plt_segments == 0 || plt_seg_bytes + ib > 65537) {
                if (++plt_segments > 256)
                    rv_raise_core_error(
                        "Cannot satisfy the request to generate PLT marker segments!  There are "
                        "so many packets in one tile-part that it is beyond the capacity of the "
                        "maximum 256 marker segments to represent length information for all "
                        "tile-parts!!");
                plt_total += plt_seg_bytes;
                plt_seg_bytes = 5;
            }
            plt_seg_bytes += ib;
        }
        packets.push_back(tpart_packet{p, l});
    }
    plt_total += plt_seg_bytes;
    if (packets.empty())
        return 0;

    const std::vector<uint8_t>& segs = tpart_segments(t, tpidx);
    const int64_t header = int64_t(segs.size()) + 14;
    const int64_t total = header + plt_total + body;
    check_tpart_length(total);
    if (cs->profile == 0 && w.next_first_tpart_tile >= 0) {
        if (tpidx != 0 || N != w.next_first_tpart_tile) {
            rv_issue_core_warning(
                "Profile violation detected (code-stream is technically illegal).  In a "
                "Profile-0 code-stream, all first tile-parts of all tiles must appear first, in "
                "exactly the same order as their respective tile numbers.");
            cs->profile = 2;
        }
        if (tpidx == 0 && ++w.next_first_tpart_tile >= w.tiles_total)
            w.next_first_tpart_tile = -1;
    }
    const bool completes = tw.packets_written + int64_t(packets.size()) >= tw.total_packets;
    const int tnsot = w.fixed_tparts > 0 ? w.fixed_tparts : (completes ? tpidx + 1 : 0);

    rv_compressed_output* out = cs->out.get();
    const int64_t start = out->get_bytes_written();
    out->put(uint16_t(0xFF90));
    out->put(uint16_t(10));
    out->put(uint16_t(N));
    out->put(uint32_t(total));
    out->put(uint8_t(tpidx));
    out->put(uint8_t(tnsot));
    if (!segs.empty())
        out->write(segs.data(), int(segs.size()));
    if (tw.gen_plt) {
        // Segments are cut where the sizing cut them.
        int z = 0;
        size_t k = 0;
        while (k < packets.size()) {
            int64_t seg = 5;
            size_t e = k;
            while (e < packets.size() &&
                   seg + iplt_bytes(packets[e].p->packet_bytes[size_t(packets[e].layer)]) <= 65537)
                seg += iplt_bytes(packets[e].p->packet_bytes[size_t(packets[e].layer)]), e++;
            out->put(uint16_t(0xFF58));
            out->put(uint16_t(seg - 2));
            out->put(uint8_t(z++));
            for (; k < e; k++)
                put_iplt(out, packets[k].p->packet_bytes[size_t(packets[k].layer)]);
        }
    }
    out->put(uint16_t(0xFF93));
    // Each packet's length entry counts in its own layer, as rate control sized it.
    int64_t entries = 0;
    for (const tpart_packet& pk : packets)
        if (tw.gen_plt) {
            const int e = iplt_bytes(pk.p->packet_bytes[size_t(pk.layer)]);
            w.layer_sizes[size_t(std::min(pk.layer, w.num_layer_specs - 1))] += e;
            entries += e;
        }
    w.layer_sizes[0] += header + plt_total - entries;
    const int specs = w.num_layer_specs;
    for (const tpart_packet& pk : packets) {
        const int li = std::min(pk.layer, specs - 1);
        const int64_t n = write_packet(pk.p, pk.layer, w.layer_thresholds[size_t(li)], out);
        if (n != pk.p->packet_bytes[size_t(pk.layer)])
            rv_raise_core_error("Packet of " + std::to_string(n) +
                                " bytes written where its sizing found " +
                                std::to_string(pk.p->packet_bytes[size_t(pk.layer)]) + ".");
        w.layer_sizes[size_t(li)] += n;
        if (pk.p->layers_written >= t->num_layers) {
            // All its packets are out.
            if (rv_rescomp_progress* rec = rv_progress_of(pk.p->resolution))
                rec->close_ready_precinct(pk.p);
            else
                rv_release_precinct(pk.p);
        }
    }
    if (out->get_bytes_written() - start != total)
        rv_raise_core_error("Tile-part of " + std::to_string(out->get_bytes_written() - start) +
                            " bytes written where its SOT gave " + std::to_string(total) + ".");
    tw.packets_written += int64_t(packets.size());
    tw.tparts_written++;
    cs->num_tparts++;
    if (w.tlm.exists())
        w.tlm.add_tpart_length(N, total);

    if (completes) {
        for (; w.fixed_tparts > 0 && tw.tparts_written < w.fixed_tparts; tw.tparts_written++) {
            out->put(uint16_t(0xFF90));
            out->put(uint16_t(10));
            out->put(uint16_t(N));
            out->put(uint32_t(14));
            out->put(uint8_t(tw.tparts_written));
            out->put(uint8_t(w.fixed_tparts));
            out->put(uint16_t(0xFF93));
            w.tlm.add_tpart_length(N, 14);
            w.layer_sizes[0] += 14;
            cs->num_tparts++;
        }
        tw.complete = true;
        w.tiles_complete++;
        t->remove_from_output_list();
        if (t->closed && !cs->interchange) {
            rv_tile_ref* ref = t->tile_ref;
            t->destroy(false);
            if (ref != nullptr)
                ref->tile = rv_tile_expired();
        }
    }
    return total;
}

namespace {

// Discards what is written to it.
class rv_dummy_target : public rvd_output {
protected:
    int flush_buf() override
    {
        const int n = int(next_buf - buffer);
        next_buf = buffer;
        return n;
    }
};

} // namespace

bool rv_tpart_generator::size_packets(rv_precinct* p, int& cumulative_packets,
                                      int& cumulative_bytes, bool& is_significant)
{
    if (p->num_outstanding_blocks > 0)
        return false;
    rv_tile* t = p->tile();
    if (p->ic_output || p->packet_bytes.empty()) {
        p->ic_output = false;
        p->ic_packets = 0;
        p->ic_bytes = 0;
        p->ic_significant = false;
        p->sim_layers = 0;
        p->layers_written = 0;
        p->packet_bytes.assign(size_t(std::max(1, t->num_layers)), empty_packet_bytes(t));
    }
    const int want_packets = std::min(cumulative_packets, t->num_layers);
    while (p->ic_packets < t->num_layers &&
           (p->ic_packets < want_packets || p->ic_bytes < cumulative_bytes)) {
        const int l = p->ic_packets;
        const int64_t n = simulate_packet(p, l, uint16_t(65534 - l), 0, true);
        if (n > empty_packet_bytes(t))
            p->ic_significant = true;
        p->ic_bytes += n;
        p->ic_packets++;
    }
    cumulative_packets = p->ic_packets;
    cumulative_bytes = int(p->ic_bytes);
    is_significant = p->ic_significant;
    return true;
}

bool rv_tpart_generator::get_packets(rv_precinct* p, int skip_packets, int skip_bytes,
                                     int& cumulative_packets, int& cumulative_bytes,
                                     rvd_output* out)
{
    if (p->num_outstanding_blocks > 0)
        return false;
    rv_tile* t = p->tile();
    if (!p->ic_output) {
        p->ic_output = true;
        p->ic_packets = 0;
        p->ic_bytes = 0;
        p->layers_written = 0;
    }
    const int want_packets = std::min(cumulative_packets, t->num_layers);
    rv_dummy_target discard;
    while (p->ic_packets < t->num_layers &&
           (p->ic_packets < want_packets || p->ic_bytes < cumulative_bytes)) {
        const int l = p->ic_packets;
        const bool skipped = l < skip_packets || p->ic_bytes < skip_bytes;
        rvd_output* sink = skipped ? static_cast<rvd_output*>(&discard) : out;
        p->ic_bytes += write_packet(p, l, uint16_t(65534 - l), sink);
        p->ic_packets++;
    }
    cumulative_packets = p->ic_packets;
    cumulative_bytes = int(p->ic_bytes);
    return true;
}
