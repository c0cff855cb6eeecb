// Codestreams being written: the output and interchange forms of creation, restart,
// fragments, and the generation of the codestream's bytes.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_partition_geometry.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <string>
#include <utility>

namespace {

const char* const tlm_no_rewrite_text =
    "Unable to generate the TLM marker segments requested via the `ORGgen_tlm' parameter "
    "attribute.  The reason for this is that the logical compressed data target supplied by "
    "the application does not appear to support rewriting (i.e., seeking).  We need this to "
    "reserve space for the TLM marker segments up front and later overwrite the reserved space "
    "with valid tile-part lengths.";
const char* const tlm_too_many_text =
    "Unable to generate the TLM marker segments requested via the `ORGgen_tlm' parameter "
    "attribute.  The reason for this is that the total number of tile-parts whose lengths "
    "would need to be represented exceeds the amount of data which can legally be stored in "
    "the maximum allowable 256 TLM marker segments, allowing for 6 bytes per tile-part length "
    "value.";

} // namespace

void rv_codestream::create_for_output(siz_params* params, rvd_compressed_target* target)
{
    params->finalize(false);
    siz.reset(new siz_params);
    siz->copy_all(params);
    if (target != nullptr)
        out.reset(new rv_compressed_output(target));
    else
        interchange = persistent = true;
    construct_common();
    // Coding parameters the caller already placed under its SIZ object come along too.
    for (rvd_params* src = params->access_cluster(1); src != nullptr;) {
        rvd_params* dst = siz->access_cluster(src->get_cluster_name());
        if (dst != nullptr)
            dst->copy_all(src);
        rvd_params* next = nullptr;
        for (int k = 1;; k++) {
            rvd_params* c = params->access_cluster(k);
            if (c == nullptr)
                break;
            if (c == src) {
                next = params->access_cluster(k + 1);
                break;
            }
        }
        src = next;
    }
    wr.tiles_total = num_tiles.y * num_tiles.x;
}

void rv_codestream::add_to_output_list(rv_tile* t)
{
    if (t->is_in_output_list)
        return;
    t->output_prev = output_tail;
    t->output_next = nullptr;
    (output_tail == nullptr ? output_head : output_tail->output_next) = t;
    output_tail = t;
    t->is_in_output_list = true;
    num_output_tiles++;
}

// ---------------------------------------------------------------------------------------

void rvd_codestream::create(siz_params* params, rvd_compressed_target* target,
                            rvd_dims* fragment_region, int fragment_tiles_generated,
                            int64_t fragment_tile_bytes_generated)
{
    std::unique_ptr<rv_codestream> st(new rv_codestream);
    st->create_for_output(params, target);
    if (fragment_region != nullptr) {
        rv_codestream* cs = st.get();
        if (fragment_region->is_empty())
            rv_raise_core_error("The fragment region supplied to `rvd_codestream::create' is "
                                "empty.");
        const rvd_dims& tp = cs->tile_partition;
        const rvd_dims f = *fragment_region & cs->canvas;
        // Whole tiles: each edge on a tile boundary or on the canvas edge.
        auto on_edge = [](int64_t v, int64_t origin, int64_t step, int64_t lo, int64_t hi) {
            return v == lo || v == hi || (v - origin) % step == 0;
        };
        const int64_t cy0 = cs->canvas.pos.y, cy1 = cy0 + cs->canvas.size.y;
        const int64_t cx0 = cs->canvas.pos.x, cx1 = cx0 + cs->canvas.size.x;
        if (f != *fragment_region ||
            !on_edge(f.pos.y, tp.pos.y, tp.size.y, cy0, cy1) ||
            !on_edge(f.pos.x, tp.pos.x, tp.size.x, cx0, cx1) ||
            !on_edge(int64_t(f.pos.y) + f.size.y, tp.pos.y, tp.size.y, cy0, cy1) ||
            !on_edge(int64_t(f.pos.x) + f.size.x, tp.pos.x, tp.size.x, cx0, cx1))
            rv_raise_core_error(
                "The fragment region supplied to `rvd_codestream::create' does not correspond to "
                "a whole number of tiles.  Check your dimensions again, remembering to take "
                "account of any non-zero tile or image origin.");
        const rvd_dims span = rv_get_partition_indices(tp, f);
        const int total = cs->num_tiles.y * cs->num_tiles.x;
        const int here = span.size.y * span.size.x;
        if (fragment_tiles_generated < 0 || here > total - fragment_tiles_generated)
            rv_raise_core_error(
                "The fragment region supplied to `rvd_codestream::create' represents too many "
                "tiles, allowing for the number of tiles indicated for previously generated "
                "fragments.");
        cs->wr.fragment_span = span;
        cs->wr.tiles_total = here;
        cs->wr.emit_header = fragment_tiles_generated == 0;
        cs->wr.emit_eoc = fragment_tiles_generated + here == total;
        cs->wr.fragment_tiles_before = fragment_tiles_generated;
        cs->wr.fragment_bytes_before = fragment_tile_bytes_generated;
        cs->wr.fragment_tiles_total = total;
        cs->wr.next_first_tpart_tile = -1; // only the whole codestream can check the order
    }
    state = st.release();
}

void rvd_codestream::create(siz_params* params)
{
    std::unique_ptr<rv_codestream> st(new rv_codestream);
    st->create_for_output(params, nullptr);
    state = st.release();
}

void rvd_codestream::restart(rvd_compressed_target* target)
{
    if (state == nullptr)
        return;
    state->check_restart(state->out != nullptr, "output");
    state->restart_output(target);
}

bool rvd_codestream::is_last_fragment()
{
    if (state == nullptr || !state->out)
        return false;
    return state->wr.emit_eoc;
}

// ---------------------------------------------------------------------------------------

void rv_codestream::restart_output(rvd_compressed_target* target)
{
    out.reset(); // the old target's bytes are passed on first
    out.reset(new rv_compressed_output(target));
    release_tiles();
    init_progress();
    for (rv_tile_ref& ref : tile_refs)
        ref = rv_tile_ref();
    while (recycled_tiles != nullptr) {
        rv_tile* t = recycled_tiles;
        recycled_tiles = t->next_recycled;
        delete t;
    }
    free_comments();
    main_header_done = false;
    main_header_length = 0;
    siz->clear_marks();
    // Everything written is forgotten; what the fragment set-up fixed stays.
    rv_codestream_writing fresh;
    fresh.emit_header = wr.emit_header;
    fresh.emit_eoc = wr.emit_eoc;
    fresh.tiles_total = wr.tiles_total;
    fresh.fragment_tiles_before = wr.fragment_tiles_before;
    fresh.fragment_bytes_before = wr.fragment_bytes_before;
    fresh.fragment_tiles_total = wr.fragment_tiles_total;
    fresh.fragment_span = wr.fragment_span;
    fresh.next_first_tpart_tile = wr.fragment_tiles_total > 0 ? -1 : 0;
    wr = std::move(fresh);
    tiles_accessed = false;
    num_tparts = 0;
    num_open_tiles = 0;
    textualizer = nullptr;
    restart_clock();
}

bool rv_generate_codestream(rv_codestream* cs, int max_layers)
{
    rv_codestream_writing& w = cs->wr;
    if (max_layers > w.num_layer_specs)
        rv_raise_core_error(
            "Using the `rvd_codestream::generate_codestream' function in an illegal manner.  The "
            "`max_layers' argument may not exceed the maximum number of layers which are being "
            "sized.  The problem may have arisen from an incorrect use of the incremental "
            "code-stream flushing capability.");
    rv_compressed_output* out = cs->out.get();
    if (!w.header_generated) {
        w.header_generated = true;
        if (w.emit_header) {
            int64_t n = out->put(uint16_t(0xFF4F));
            const std::vector<uint8_t>& segs = rv_tpart_generator::main_segments(cs);
            if (!segs.empty())
                out->write(segs.data(), int(segs.size()));
            n += int64_t(segs.size());
            for (rv_codestream_comment* c = cs->comhead; c != nullptr; c = c->next)
                n += c->write_marker(out);
            w.layer_sizes[0] += n;
        }
        int m = 0;
        rvd_params* org = cs->siz->access_cluster("ORG");
        if (org != nullptr && org->get("ORGgen_tlm", 0, 0, m) && m > 0) {
            m = std::min(m, 255);
            out->flush();
            rvd_compressed_target* tgt = out->access_target();
            if (!tgt->start_rewrite(0)) {
                rv_issue_core_warning(tlm_no_rewrite_text);
            } else {
                tgt->end_rewrite();
                if (!w.tlm.init(w.fragment_tiles_total > 0 ? w.fragment_tiles_total : w.tiles_total, m)) {
                    rv_issue_core_warning(tlm_too_many_text);
                } else {
                    w.fixed_tparts = m;
                    if (w.emit_header) {
                        w.tlm.write_dummy_tlms(out);
                        w.layer_sizes[0] += w.tlm.get_tlm_bytes();
                    }
                }
            }
        }
        w.header_end = out->get_bytes_written();
        if (w.emit_header)
            cs->main_header_length = w.header_end;
    }
    w.max_layers = max_layers;
    for (bool progress = true; progress;) {
        progress = false;
        for (rv_tile* t = cs->output_head; t != nullptr;) {
            rv_tile* next = t->output_next; // a completed tile leaves the list
            if (rv_tpart_generator::generate_tpart(t) > 0)
                progress = true;
            t = next;
        }
    }
    const bool done = w.tiles_complete >= w.tiles_total;
    if (done && !w.final_written) {
        w.final_written = true;
        out->flush();
        if (w.tlm.exists()) {
            // Behind the reserved space: earlier fragments' tile-parts, then ours.
            w.tlm.write_final_tlms(out->access_target(), w.fragment_tiles_before,
                                   w.fragment_bytes_before);
        }
        if (w.emit_eoc)
            out->put(uint16_t(0xFFD9));
    }
    out->flush();
    return done;
}
