#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_thread_env.h"

#include "codec/core/ads_params.h"
#include "codec/core/atk_params.h"
#include "codec/core/cod_params.h"
#include "codec/core/crg_params.h"
#include "codec/core/dfs_params.h"
#include "codec/core/mcc_params.h"
#include "codec/core/mco_params.h"
#include "codec/core/mct_params.h"
#include "codec/core/org_params.h"
#include "codec/core/poc_params.h"
#include "codec/core/qcd_params.h"
#include "codec/core/rgn_params.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_message.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <string>

namespace {

const char* const profile_tiles_text =
    "Profile violation detected (code-stream is technically illegal).  Profile-0 code-streams "
    "must either be untiled or else the tile dimensions must be exactly 128x128.  Try setting "
    "\"Sprofile\" to 1 or 2 or avoid using tiles.";
const char* const profile_origins_text =
    "Profile violation detected (code-stream is technically illegal).  Profile-0 code-streams "
    "must have image and tiling origins (anchor points) set to zero.  Try setting \"Sprofile\" "
    "to 1 or 2.";
const char* const profile_subsampling_text =
    "Profile violation detected (code-stream is technically illegal).  Component sub-sampling "
    "factors for Profile-0 code-streams are restricted to the values 1, 2 and 4.  Try setting "
    "\"Sprofile\" to 1 or 2.";
const char* const profile1_square_text =
    "Profile violation detected (code-stream is technically illegal).  Profile-1 code-streams "
    "must either be untiled or else the horizontal and vertical tile dimensions must be "
    "identical (square tiles on the hi-res canvas).  You might like to set \"Sprofile\" to 2 "
    "or avoid using tiles.";
const char* const profile1_size_text =
    "Profile violation detected (code-stream is technically illegal).  If a Profile-1 "
    "code-stream is tiled (has multiple tiles), the width and height of its tiles, projected "
    "onto any given image component, may not exceed 1024.  You might like to set \"Sprofile\" "
    "to 2 or avoid using tiles.";
const char* const profile_ppm_text =
    "Profile violation detected (code-stream is technically illegal).  PPM marker segments "
    "may not appear within a Profile-0 code-stream.  You should set \"Sprofile\" to 1 or 2.";

void profile_warning(int& profile, const char* text)
{
    rv_issue_core_warning(text);
    profile = 2;
}

template <class T>
void link_cluster(siz_params* siz, int num_tiles, int num_comps)
{
    std::unique_ptr<T> head(new T);
    head->link(siz, -1, -1, num_tiles, num_comps);
    head.release(); // the root owns it now
}

} // namespace

rv_codestream::rv_codestream() = default;

rv_codestream::~rv_codestream()
{
    release_tiles();
    while (recycled_tiles != nullptr) {
        rv_tile* t = recycled_tiles;
        recycled_tiles = t->next_recycled;
        delete t;
    }
    in.reset();
    out.reset();
    siz.reset();
    marker.reset();
    ppm_markers.reset();
    tpart_ptr_server.reset();
    free_comments();
    destroy_buffer_server();
}

void rv_codestream::release_tiles()
{
    // Each tile is released as at its end; the records land on the recycled list, which
    // the callers free.
    for (rv_tile_ref& ref : tile_refs) {
        if (ref.tile != nullptr && ref.tile != rv_tile_expired())
            ref.tile->destroy(false);
        ref.tile = nullptr;
    }
    unloadable_head = unloadable_tail = unloadable_scan = nullptr;
    num_unloadable_tiles = 0;
    output_head = output_tail = nullptr;
    num_output_tiles = 0;
}

void rv_codestream::free_comments()
{
    while (comhead != nullptr) {
        rv_codestream_comment* c = comhead;
        comhead = c->next;
        delete c;
    }
    comtail = nullptr;
}

void rv_codestream::leave_thread_stores()
{
    if (!buf_server || buf_server.use_count() != 1 || buf_server->stores == nullptr)
        return;
    // Checked before anything is torn down, so that a refused call leaves the codestream
    // whole for a later destroy from the right thread.
    rvd_thread_entity* me = nullptr;
    for (rv_thread_buffer_store* s = buf_server->stores; s != nullptr; s = s->next_store) {
        rvd_thread_entity* mine =
            s->owner != nullptr ? s->owner->env->get_current_thread_entity() : nullptr;
        if (me == nullptr)
            me = mine;
        if (mine == nullptr || !me->same_group(mine))
            rv_raise_core_error(
                "You have invoked `rvd_codestream::destroy' from one thread, thread queues "
                "remain in which other threads may potentially do work.  This is OK, so long "
                "as the thread from which you invoke `rvd_codestream::destroy' is one of the "
                "threads participating in the `rvd_thread_entity' group to which the "
                "above-mentioned thread queues belong.  However, this does not appear to be the "
                "case here.  Typically, it is best to destroy codestreams from the same thread "
                "which invokes the `rvd_thread_entity::create' and "
                "`rvd_thread_entity::add_thread' functions which build cooperating "
                "multi-threaded processing systems.");
    }
    me->acquire_lock(0);
    while (buf_server->stores != nullptr) {
        rv_thread_buffer_store* s = buf_server->stores;
        if (s->owner != nullptr)
            s->owner->drop_closings_of(this);
        s->detach();
    }
    me->release_lock(0);
}

void rv_codestream::destroy_buffer_server()
{
    if (buf_server && buf_server.use_count() == 1) {
        if (buf_server->get_full_groups() != 0)
            rv_issue_core_warning(
                "The compressed data buffer server is being destroyed before all allocated "
                "buffers have been returned.  The problem is most likely connected with a bug "
                "in the code-block destruction code.");
        if (buf_server->get_structure_bytes() != 0)
            rv_issue_core_warning(
                "The compressed data buffer server is being destroyed before all size "
                "accounting associated with fixed data structures has been completed.  This is "
                "most likely due to a bug in the memory accounting logic used for dynamic cache "
                "management.");
    }
    buf_server.reset();
}

void rv_codestream::create_for_input(rvd_compressed_source* source)
{
    std::unique_ptr<rv_compressed_input> input(new rv_compressed_input(source));
    std::unique_ptr<rv_marker> reader(new rv_marker(input.get()));
    std::vector<uint8_t> body;
    read_soc_and_siz(*reader, body);
    create_from_siz(std::move(input), std::move(reader), body);
}

void rv_codestream::read_soc_and_siz(rv_marker& reader, std::vector<uint8_t>& siz_body)
{
    if (!reader.read() || reader.get_code() != RV_SOC)
        rv_raise_core_error("Code-stream must start with an SOC marker!");
    if (!reader.read() || reader.get_code() != RV_SIZ)
        rv_raise_core_error(
            "Code-stream must contain a valid SIZ marker segment, immediately after the SOC "
            "marker!");
    siz_body.assign(reader.get_bytes(), reader.get_bytes() + reader.get_length());
}

void rv_codestream::create_from_siz(std::unique_ptr<rv_compressed_input> input,
                                    std::unique_ptr<rv_marker> reader,
                                    const std::vector<uint8_t>& siz_body)
{
    in = std::move(input);
    marker = std::move(reader);
    cached_source = (in->get_capabilities() & RVD_SOURCE_CAP_CACHED) != 0;
    in_memory_source = in->is_fully_buffered();
    siz_segment = siz_body;
    siz.reset(new siz_params);
    if (!siz->translate_marker_segment(RV_SIZ, static_cast<int>(siz_body.size()),
                                       siz_body.data(), -1, 0))
        rv_raise_core_error(
            "Code-stream must contain a valid SIZ marker segment, immediately after the SOC "
            "marker!");
    construct_common();
}

void rv_codestream::set_dense_allowance(bool sot_seen)
{
    // A precinct's words take 12 bytes (its reference and the sequencer's next layer), and
    // each of its packets at least one byte after the main header (or in its packed
    // headers): a stream whose packets are all there never runs short, while a header
    // alone, however many components its SIZ lists, buys nothing.
    const int64_t bytes_per_source_byte = 16;
    int64_t n = sot_seen ? in->get_known_length() : -1;
    if (n > 0 && !ppm_markers)
        n -= main_header_length;
    const int64_t cap = std::numeric_limits<int64_t>::max() / bytes_per_source_byte;
    dense_words.set_limit(n <= 0 ? 0 : std::min(n, cap) * bytes_per_source_byte);
}

void rv_codestream::construct_common()
{
    int ny = 0, nx = 0, oy = 0, ox = 0, ty = 0, tx = 0, toy = 0, tox = 0;
    siz->get("Ssize", 0, 0, ny);
    siz->get("Ssize", 0, 1, nx);
    siz->get("Sorigin", 0, 0, oy);
    siz->get("Sorigin", 0, 1, ox);
    siz->get("Stiles", 0, 0, ty);
    siz->get("Stiles", 0, 1, tx);
    siz->get("Stile_origin", 0, 0, toy);
    siz->get("Stile_origin", 0, 1, tox);
    // Checked on the values as read, before the SIZ class's own finalisation, so that
    // every reader of a bad canvas gets the same message. All edge arithmetic in 64 bits:
    // hostile values must not overflow into a pass.
    const int64_t far_y = ny, far_x = nx;
    if (far_y <= oy || far_x <= ox || toy > oy || tox > ox || ty <= 0 || tx <= 0 ||
        int64_t(toy) + ty <= oy || int64_t(tox) + tx <= ox || toy < 0 || tox < 0)
        rv_raise_core_error(
            "Illegal canvas coordinates: the first tile is required to have a non-empty "
            "intersection with the image on the high resolution grid.");
    siz->finalize(!out);
    siz->get("Sprofile", 0, 0, profile);
    siz->get("Scomponents", 0, 0, num_components);
    canvas = rvd_dims(rvd_coords(oy, ox), rvd_coords(ny - oy, nx - ox));
    tile_partition = rvd_dims(rvd_coords(toy, tox), rvd_coords(ty, tx));

    if (num_components < 1)
        rv_raise_core_error("No information available concerning component sample bit-depths "
                            "(i.e., sample precision).");
    comp_info.assign(static_cast<size_t>(num_components), rv_comp_info());
    for (int c = 0; c < num_components; c++) {
        rv_comp_info& ci = comp_info[static_cast<size_t>(c)];
        if (!siz->get("Sprecision", c, 0, ci.precision))
            rv_raise_core_error("No information available concerning component sample "
                                "bit-depths (i.e., sample precision).");
        if (!siz->get("Ssigned", c, 0, ci.is_signed))
            rv_raise_core_error(
                "No information available regarding whether components are signed or "
                "unsigned.");
        int sy = 0, sx = 0;
        if (!siz->get("Ssampling", c, 0, sy) || !siz->get("Ssampling", c, 1, sx) || sy < 1 ||
            sx < 1)
            rv_raise_core_error("No information available concerning component sub-sampling "
                                "factors.");
        ci.sub_sampling = rvd_coords(sy, sx);
        ci.apparent_idx = c;
        ci.from_apparent = &ci;
        for (int d = 0; d <= RV_MAX_DISCARD_LEVELS; d++)
            ci.hor_depth[d] = ci.vert_depth[d] = static_cast<uint8_t>(d);
    }

    const int64_t tiles_y = rvd_ceil_ratio64(far_y - toy, ty);
    const int64_t tiles_x = rvd_ceil_ratio64(far_x - tox, tx);
    if (tiles_y * tiles_x > 65535)
        rv_raise_core_error("Maximum number of allowable tiles is 65535 for any JPEG2000 "
                            "code-stream.  You have managed to exceed this number!!");
    num_tiles = rvd_coords(static_cast<int32_t>(tiles_y), static_cast<int32_t>(tiles_x));
    tile_span = rvd_dims(rvd_coords(0, 0), num_tiles);
    const int total_tiles = num_tiles.y * num_tiles.x;
    tile_refs.assign(static_cast<size_t>(total_tiles), rv_tile_ref());

    if (profile == 0) {
        if (total_tiles > 1 && (ty != 128 || tx != 128))
            profile_warning(profile, profile_tiles_text);
        else if (oy != 0 || ox != 0 || toy != 0 || tox != 0)
            profile_warning(profile, profile_origins_text);
        else
            for (const rv_comp_info& ci : comp_info) {
                auto bad = [](int s) { return s != 1 && s != 2 && s != 4; };
                if (bad(ci.sub_sampling.y) || bad(ci.sub_sampling.x)) {
                    profile_warning(profile, profile_subsampling_text);
                    break;
                }
            }
    } else if (profile == 1 && total_tiles > 1) {
        if (ty != tx)
            profile_warning(profile, profile1_square_text);
        else
            for (const rv_comp_info& ci : comp_info)
                if (ty > 1024 * int64_t(ci.sub_sampling.y) ||
                    tx > 1024 * int64_t(ci.sub_sampling.x)) {
                    profile_warning(profile, profile1_size_text);
                    break;
                }
    }

    link_cluster<mct_params>(siz.get(), total_tiles, 0);
    link_cluster<mcc_params>(siz.get(), total_tiles, 0);
    link_cluster<mco_params>(siz.get(), total_tiles, 0);
    link_cluster<atk_params>(siz.get(), total_tiles, 0);
    link_cluster<cod_params>(siz.get(), total_tiles, num_components);
    link_cluster<dfs_params>(siz.get(), 0, 0);
    link_cluster<ads_params>(siz.get(), total_tiles, 0);
    link_cluster<qcd_params>(siz.get(), total_tiles, num_components);
    link_cluster<rgn_params>(siz.get(), total_tiles, num_components);
    link_cluster<poc_params>(siz.get(), total_tiles, 0);
    link_cluster<org_params>(siz.get(), total_tiles, 0);
    link_cluster<crg_params>(siz.get(), 0, 0);

    buf_server.reset(new rv_buffer_server);

    if (in) {
        if (in->get_capabilities() & RVD_SOURCE_CAP_SEEKABLE)
            tpart_ptr_server.reset(new rv_tpart_pointer_server);
        read_main_header();
    }
    if (!output_comps_ready)
        setup_output_comps();

    region = canvas;
    discard_levels = 0;
    min_dwt_levels = 100;
    max_apparent_layers = 0xFFFF;
    num_apparent_components = num_components;
    max_tile_layers = 1;
    tiles_accessed = false;
    flip_incompatible = false;
    // Progress records serve only the writing of packets: an input codestream of many
    // components would otherwise hold one per component and depth for nothing.
    rescomp.clear();
    if (out)
        init_progress();
    restart_clock();
}

void rv_codestream::setup_output_comps()
{
    int ext = 0, mcomps = 0;
    siz->get("Sextensions", 0, 0, ext);
    uses_mct = (ext & RVD_SIZ_EXT_MCT) != 0;
    bool have = siz->get("Mcomponents", 0, 0, mcomps) && mcomps > 0;
    if (have != uses_mct)
        rv_raise_core_error(
            "The `Mcomponents' parameter attribute must assigned a non-zero value if and only "
            "if the `MCT' flag is present in the `Sextensions' attribute.");
    num_output_components = uses_mct ? mcomps : num_components;
    output_comp_info.assign(static_cast<size_t>(num_output_components), rv_output_comp_info());
    for (int n = 0; n < num_output_components; n++) {
        rv_output_comp_info& oi = output_comp_info[static_cast<size_t>(n)];
        if (uses_mct) {
            siz->get("Mprecision", n, 0, oi.precision);
            siz->get("Msigned", n, 0, oi.is_signed);
            // Sub-sampling follows a codestream component until the transform stages tie
            // each output to the stage that produces it.
            oi.subsampling_ref = &comp_info[static_cast<size_t>(std::min(n, num_components - 1))];
        } else {
            oi.precision = comp_info[static_cast<size_t>(n)].precision;
            oi.is_signed = comp_info[static_cast<size_t>(n)].is_signed;
            oi.subsampling_ref = &comp_info[static_cast<size_t>(n)];
        }
        oi.apparent_idx = n;
        oi.from_apparent = n;
    }
    num_apparent_output_components = num_output_components;
    component_access_mode = 0;
    output_comps_ready = true;
}

void rv_codestream::read_main_header()
{
    bool sot_seen = false;
    for (;;) {
        if (!marker->read()) {
            if (in->is_exhausted())
                break; // a partly cached stream may end inside its main header
            rv_raise_core_error("Main code-stream header appears corrupt!");
        }
        const uint16_t code = marker->get_code();
        if (code == RV_SOT) {
            sot_seen = true;
            break;
        }
        if (code == RV_PPM) {
            if (cached_source)
                rv_raise_core_error("You cannot use PPM or PPT marker segments (packed packet "
                                    "headers) with cached compressed data sources.");
            if (profile == 0)
                profile_warning(profile, profile_ppm_text);
            if (!ppm_markers)
                ppm_markers.reset(new rv_pp_markers);
            ppm_markers->add_marker(*marker);
        } else if (code == RV_TLM) {
            tlm_seen = true;
            if (tpart_ptr_server)
                tpart_ptr_server->add_tlm_marker(*marker);
        } else if (code == RV_COM) {
            const int len = marker->get_length();
            const uint8_t* body = marker->get_bytes();
            if (len > 2 && body[0] == 0 && body[1] == 1) {
                auto* com = new rv_codestream_comment;
                (comtail == nullptr ? comhead : comtail->next) = com;
                comtail = com;
                com->init(len - 2, body + 2);
            }
        } else {
            siz->translate_marker_segment(code, marker->get_length(), marker->get_bytes(), -1,
                                          0);
        }
    }
    // A header cut short (a partly cached one) may lack segments that finalisation insists
    // on, such as the QCD after a COD; it is finalised once it has been read whole. A
    // cached source's main-header bin is the whole header, without the SOT that follows.
    if (sot_seen || cached_source)
        siz->finalize_all(-1, true);
    if (sot_seen)
        main_header_length = in->get_bytes_read() - 12; // up to the first SOT
    if (tpart_ptr_server) {
        if (ppm_markers) {
            tpart_ptr_server.reset();
            if (tlm_seen)
                rv_issue_core_warning(
                    "Dynamic indexing of tile-parts, whether by TLM (tile-part length) marker "
                    "segments or otherwise, cannot be used by the current implementation when "
                    "PPM (packed packet header) marker segments are also used.");
        } else if (sot_seen) {
            tpart_ptr_server->translate_markers(in->get_bytes_read() - 12,
                                                static_cast<int>(tile_refs.size()),
                                                tile_refs.data());
        }
    }
    set_dense_allowance(sot_seen);
    main_header_done = true;
    finalize_geometry();
}

void rv_codestream::init_progress()
{
    rescomp.assign(static_cast<size_t>(RV_MAX_DISCARD_LEVELS + 1) * comp_info.size(),
                   rv_rescomp_progress());
    for (int d = 0; d <= RV_MAX_DISCARD_LEVELS; d++)
        for (int c = 0; c < num_components; c++)
            rescomp[static_cast<size_t>(d * num_components + c)].initialize(this, d, c);
}

void rv_codestream::finalize_geometry()
{
    if (geometry_finalized)
        return;
    if (!output_comps_ready)
        setup_output_comps();
    rvd_params* crg = siz->access_cluster("CRG");
    rvd_params* cod = siz->access_cluster("COD");
    for (int c = 0; c < num_components; c++) {
        rv_comp_info& ci = comp_info[static_cast<size_t>(c)];
        float y = 0.0f, x = 0.0f;
        if (crg != nullptr && crg->get("CRGoffset", c, 0, y) && crg->get("CRGoffset", c, 1, x)) {
            ci.crg_y = y;
            ci.crg_x = x;
        }
        rvd_params* cc = cod == nullptr ? nullptr : cod->access_relation(-1, c, 0, true);
        for (int lev = 1; lev <= RV_MAX_DISCARD_LEVELS; lev++) {
            int val = 3;
            if (cc != nullptr && !cc->get("Cdecomp", lev - 1, 0, val))
                val = 3;
            ci.hor_depth[lev] = static_cast<uint8_t>(ci.hor_depth[lev - 1] + (val & 1));
            ci.vert_depth[lev] = static_cast<uint8_t>(ci.vert_depth[lev - 1] + ((val >> 1) & 1));
        }
    }
    if (uses_mct)
        build_main_mct_stages();
    if (out)
        init_progress(); // the areas at each depth follow the decomposition just read
    geometry_finalized = true;
}

void rv_codestream::build_main_mct_stages()
{
    mct_head.reset();
    mct_tail = nullptr;
    rv_mct_stage* first = nullptr;
    rv_mct_stage::create_stages(first, mct_tail, siz.get(), -1, num_components, comp_info.data(),
                                num_output_components, output_comp_info.data());
    mct_head.reset(first);
    if (mct_tail == nullptr)
        return; // no stages: output components follow the codestream components
    // Each output takes its dimensions from the component that the stages tie it to.
    for (int n = 0; n < num_output_components && n < mct_tail->num_outputs; n++) {
        rv_output_comp_info& oi = output_comp_info[static_cast<size_t>(n)];
        const rv_mct_output& out = mct_tail->output_comps[static_cast<size_t>(n)];
        if (out.size_ref != nullptr)
            oi.subsampling_ref = out.size_ref;
        oi.block_idx = (out.block == nullptr) ? -1 : int(out.block - mct_tail->blocks.data());
        oi.block_comp_idx = out.block_output_idx;
    }
}

void rv_codestream::restart_input(std::unique_ptr<rv_compressed_input> input,
                                  std::unique_ptr<rv_marker> reader)
{
    marker = std::move(reader);
    in = std::move(input);
    marker->set_resilient(resilient);
    cached_source = (in->get_capabilities() & RVD_SOURCE_CAP_CACHED) != 0;
    in_memory_source = in->is_fully_buffered();
    dense_words.set_limit(0); // until the new main header has been read
    ppm_markers.reset();
    tpart_ptr_server.reset();
    release_tiles();
    rv_packet_reader::reset_codestream(this);
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
    tlm_seen = false;
    siz->clear_marks();
    if (in->get_capabilities() & RVD_SOURCE_CAP_SEEKABLE)
        tpart_ptr_server.reset(new rv_tpart_pointer_server);
    read_main_header();
    if (!output_comps_ready)
        setup_output_comps();
    tiles_accessed = false;
    num_tparts = 0;
    num_open_tiles = 0;
    textualizer = nullptr;
    restart_clock();
}

rvd_coords rv_codestream::effective_subsampling(const rv_comp_info* ci) const
{
    const int d = std::min(std::max(discard_levels, 0), int(RV_MAX_DISCARD_LEVELS));
    // Saturated: 32 discarded levels of a sub-sampled component exceed 32 bits.
    auto shifted = [](int32_t s, int e) {
        return int32_t(std::min<int64_t>(int64_t(s) << e, INT32_MAX));
    };
    return rvd_coords(shifted(ci->sub_sampling.y, ci->vert_depth[d]),
                      shifted(ci->sub_sampling.x, ci->hor_depth[d]));
}

rvd_dims rv_codestream::tile_region(rvd_coords idx) const
{
    rvd_dims d;
    d.pos.y = tile_partition.pos.y + idx.y * tile_partition.size.y;
    d.pos.x = tile_partition.pos.x + idx.x * tile_partition.size.x;
    d.size = tile_partition.size;
    return d & canvas;
}

rv_tile_ref* rv_codestream::ref_of(rvd_coords idx)
{
    if (idx.y < tile_span.pos.y || idx.x < tile_span.pos.x ||
        idx.y >= tile_span.pos.y + tile_span.size.y || idx.x >= tile_span.pos.x + tile_span.size.x)
        return nullptr;
    return &tile_refs[static_cast<size_t>(tnum_of(idx))];
}

// ---------------------------------------------------------------------------------------
// The handle: creation, restart, teardown and modes.

const char* rvd_get_core_version()
{
    return "v6.0";
}

void rvd_codestream::create(rvd_compressed_source* source, rvd_thread_env* env)
{
    rv_env_lock lock(env);
    // Owned until complete: an error part-way frees everything made so far.
    std::unique_ptr<rv_codestream> st(new rv_codestream);
    st->create_for_input(source);
    state = st.release();
}

void rv_codestream::check_restart(bool right_form, const char* form)
{
    if (!allow_restart)
        rv_raise_core_error(
            "You may not use the `rvd_codestream::restart' function unless "
            "`rvd_codestream::enable_restart' was called after the code-stream management "
            "machinery was first created.");
    if (!right_form)
        rv_raise_core_error(std::string("You may not use the ") + form +
                            " form of `rvd_codestream::restart' if the code-stream "
                            "management machinery was originally created using anything other than the " +
                            form + " form of `rvd_codestream::create'.");
    for (rv_tile_ref& ref : tile_refs)
        if (ref.tile != nullptr && ref.tile != rv_tile_expired() && ref.tile->is_open)
            rv_raise_core_error("You must close all open tile interfaces before calling "
                                "`rvd_codestream::restart'.");
}

void rvd_codestream::restart(rvd_compressed_source* source, rvd_thread_env* env)
{
    rv_env_lock lock(env);
    if (state == nullptr)
        return;
    state->check_restart(state->in != nullptr, "input");

    std::unique_ptr<rv_compressed_input> input(new rv_compressed_input(source));
    std::unique_ptr<rv_marker> reader(new rv_marker(input.get()));
    std::vector<uint8_t> body;
    rv_codestream::read_soc_and_siz(*reader, body);
    if (body == state->siz_segment) {
        state->restart_input(std::move(input), std::move(reader));
        return;
    }
    rv_codestream* old = state;
    std::unique_ptr<rv_codestream> st(new rv_codestream);
    st->create_from_siz(std::move(input), std::move(reader), body);
    st->discard_levels = old->discard_levels;
    st->max_apparent_layers = old->max_apparent_layers;
    st->component_access_mode = old->component_access_mode;
    st->transpose = old->transpose;
    st->vflip = old->vflip;
    st->hflip = old->hflip;
    st->allow_restart = old->allow_restart;
    st->resilient = old->resilient;
    st->expect_ubiquitous_sops = old->expect_ubiquitous_sops;
    st->fussy = old->fussy;
    st->persistent = old->persistent;
    st->min_slope_threshold = old->min_slope_threshold;
    st->max_unloadable_tiles = old->max_unloadable_tiles;
    if (st->marker)
        st->marker->set_resilient(st->resilient);
    if (st->num_components == old->num_components) {
        st->num_apparent_components = old->num_apparent_components;
        for (size_t c = 0; c < st->comp_info.size(); c++) {
            st->comp_info[c].apparent_idx = old->comp_info[c].apparent_idx;
            const rv_comp_info* m = old->comp_info[c].from_apparent;
            st->comp_info[c].from_apparent =
                m == nullptr ? nullptr : &st->comp_info[static_cast<size_t>(m - old->comp_info.data())];
        }
    }
    if (st->num_output_components == old->num_output_components) {
        st->num_apparent_output_components = old->num_apparent_output_components;
        for (size_t n = 0; n < st->output_comp_info.size(); n++) {
            st->output_comp_info[n].apparent_idx = old->output_comp_info[n].apparent_idx;
            st->output_comp_info[n].from_apparent = old->output_comp_info[n].from_apparent;
        }
    }
    state = st.release();
    delete old;
}

void rvd_codestream::destroy()
{
    if (state != nullptr)
        state->leave_thread_stores();
    delete state;
    state = nullptr;
}

siz_params* rvd_codestream::access_siz()
{
    return state == nullptr ? nullptr : state->siz.get();
}

void rvd_codestream::set_persistent()
{
    if (state == nullptr || !state->in)
        return;
    if (state->tiles_accessed)
        rv_raise_core_error("You may only set the codestream object into its \"persistent\" "
                            "mode prior to opening the first tile.");
    state->persistent = true;
}

void rvd_codestream::set_resilient(bool expect_ubiquitous_sops)
{
    if (state == nullptr)
        return;
    state->resilient = true;
    state->expect_ubiquitous_sops = expect_ubiquitous_sops;
    state->fussy = false;
    if (state->marker)
        state->marker->set_resilient(true);
}

void rvd_codestream::set_fussy()
{
    if (state == nullptr)
        return;
    state->resilient = false;
    state->fussy = true;
    if (state->marker)
        state->marker->set_resilient(false);
}

void rvd_codestream::set_fast()
{
    if (state == nullptr)
        return;
    state->resilient = false;
    state->fussy = false;
    if (state->marker)
        state->marker->set_resilient(false);
}

void rvd_codestream::enable_restart()
{
    if (state == nullptr || state->allow_restart)
        return;
    if (state->tiles_accessed)
        rv_raise_core_error(
            "You may not call `rvd_codestream::enable_restart' after opening the first tile.");
    state->allow_restart = true;
}

void rvd_codestream::set_textualization(rvd_message* output)
{
    if (state == nullptr)
        return;
    state->textualizer = output;
    if (output != nullptr) {
        state->siz->textualize_attributes(*output, -1, state->num_tiles.y * state->num_tiles.x - 1,
                                          false);
        output->flush(false);
    }
}

void rvd_codestream::set_min_slope_threshold(uint16_t threshold)
{
    if (state != nullptr)
        state->min_slope_threshold = threshold;
}

int rvd_codestream::set_tile_unloading_threshold(int max_tiles_on_list)
{
    if (state == nullptr)
        return 0;
    int old = state->max_unloadable_tiles;
    state->max_unloadable_tiles = std::max(0, max_tiles_on_list);
    state->unload_tiles_to_cache_threshold();
    return old;
}

int64_t rvd_codestream::augment_cache_threshold(int extra_bytes)
{
    if (state == nullptr || !state->buf_server)
        return 0;
    return state->buf_server->augment_cache_threshold(extra_bytes);
}

rvd_codestream_comment rvd_codestream::get_comment(rvd_codestream_comment prev)
{
    if (state == nullptr)
        return rvd_codestream_comment();
    if (!prev.exists())
        return rvd_codestream_comment(state->comhead);
    return rvd_codestream_comment(prev.get_state()->next);
}

rvd_codestream_comment rvd_codestream::add_comment()
{
    if (state == nullptr)
        return rvd_codestream_comment();
    auto* com = new rv_codestream_comment;
    (state->comtail == nullptr ? state->comhead : state->comtail->next) = com;
    state->comtail = com;
    return rvd_codestream_comment(com);
}

void rvd_codestream::share_buffering(rvd_codestream existing)
{
    if (state == nullptr || existing.state == nullptr || existing.state == state)
        return;
    if (state->buf_server->get_total_groups() != 0 ||
        state->buf_server->get_peak_structure_bytes() != 0)
        rv_raise_core_error("You cannot use the `rvd_codestream::share_buffering' function if "
                            "the codestream object which will be sharing another codestream's "
                            "buffering has already allocated some internal resources.");
    state->buf_server = existing.state->buf_server;
}
