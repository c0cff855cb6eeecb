#include "tests/codec/support/mini_writer.h"

#include "codec/core/rv_precinct_block.h"
#include "codec/core/rv_compressed_output.h"
#include "codec/core/rv_codestream_comment.h"
#include "codec/core/rv_tlm_generator.h"
#include "codec/encode/rvd_block_encoder.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/mct_tree.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace codec_test {

namespace {

struct component_plan {
    int kmax = 0;
    int blocks_x = 0, blocks_y = 0;
    std::vector<rv_precinct_block> nodes;
    rv_precinct_block* leaves = nullptr;
};

// Magnitude bit-planes of each component from the written QCD/QCC bytes: guard bits
// plus the range exponent, less one.
std::vector<int> planes_from_header(const std::vector<uint8_t>& h, int comps)
{
    int main_planes = -1;
    std::vector<int> own(size_t(comps), -1);
    for (size_t p = 0; p + 4 <= h.size();) {
        uint16_t code = uint16_t((h[p] << 8) | h[p + 1]);
        size_t len = size_t((h[p + 2] << 8) | h[p + 3]);
        size_t body = p + 4;
        if (code == 0xFF5C) {
            main_planes = (h[body] >> 5) + (h[body + 1] >> 3) - 1;
        } else if (code == 0xFF5D) {
            size_t cb = comps < 257 ? 1 : 2;
            int c = cb == 1 ? h[body] : (h[body] << 8) | h[body + 1];
            own[size_t(c)] = (h[body + cb] >> 5) + (h[body + cb + 1] >> 3) - 1;
        }
        p += 2 + len;
    }
    for (int& k : own)
        if (k < 0)
            k = main_planes;
    return own;
}

} // namespace

namespace {

void release_all(std::vector<component_plan>& plans, rv_buffer_server& server)
{
    for (component_plan& plan : plans)
        for (int k = 0; k < plan.blocks_x * plan.blocks_y; k++)
            plan.leaves[k].release_chain(&server);
}

// Layer l's packets of every component in LRCP order.
void write_layer(rvd_output& out, std::vector<component_plan>& plans, int l, uint16_t threshold)
{
    for (component_plan& plan : plans) {
        const int n = plan.blocks_x * plan.blocks_y;
        bool any = false;
        for (int k = 0; k < n; k++) {
            plan.leaves[k].start_packet(l, threshold);
            any = any || plan.leaves[k].layer_passes > 0;
        }
        rv_header_out hout(&out);
        hout.put_bit(any ? 1 : 0);
        if (any)
            for (int k = 0; k < n; k++)
                plan.leaves[k].write_packet_header(hout, l, false);
        hout.finish();
        if (any)
            for (int k = 0; k < n; k++)
                plan.leaves[k].write_body_bytes(&out);
    }
}

} // namespace

// Both forms share the coding; without a target the bytes come back in one tile-part.
std::vector<uint8_t> write_mini(rvd_compressed_target* target, const std::string& attributes,
                                const std::vector<std::vector<int32_t>>& samples,
                                const std::vector<std::string>& comments, bool tlm);

std::vector<uint8_t> write_mini_codestream(const std::string& attributes,
                                           const std::vector<std::vector<int32_t>>& samples)
{
    return write_mini(nullptr, attributes, samples, {}, false);
}

void write_mini_codestream(rvd_compressed_target* target, const std::string& attributes,
                           const std::vector<std::vector<int32_t>>& samples,
                           const std::vector<std::string>& comments, bool tlm)
{
    write_mini(target, attributes, samples, comments, tlm);
}

std::vector<uint8_t> write_mini(rvd_compressed_target* target, const std::string& attributes,
                                const std::vector<std::vector<int32_t>>& samples,
                                const std::vector<std::string>& comments, bool tlm)
{
    init_block_coding_tables();
    const int comps = int(samples.size());
    std::unique_ptr<siz_params> root = make_mct_tree(1, comps);
    // No sub-sampling (blocks follow the image grid) and no colour transform.
    std::istringstream tokens("Ssampling={1,1} Cycc=no " + attributes);
    std::string token;
    while (tokens >> token)
        if (!root->parse_string(token.c_str()))
            throw std::runtime_error("attribute not taken: " + token);
    root->finalize_all();

    vector_output out;
    out.put(uint16_t(0xFF4F));
    vector_output header;
    root->generate_marker_segments(&header, -1, 0);
    const std::vector<uint8_t>& h = header.finish();
    out.write(h.data(), int(h.size()));
    std::vector<int> kmax = planes_from_header(h, comps);

    int height = 0, width = 0, layers = 1;
    root->get("Ssize", 0, 0, height);
    root->get("Ssize", 0, 1, width);
    rvd_params* cod = root->access_cluster("COD");
    cod->get("Clayers", 0, 0, layers);

    rvd_block_encoder encoder;
    rvd_block block;
    rv_buffer_server server;
    std::vector<component_plan> plans(static_cast<size_t>(comps));
    std::vector<uint16_t> slopes;
    for (int c = 0; c < comps; c++) {
        component_plan& plan = plans[size_t(c)];
        rvd_params* cc = cod->access_relation(-1, c, 0, true);
        int bh = 64, bw = 64, modes = 0, precision = 8;
        bool is_signed = false;
        cc->get("Cblk", 0, 0, bh);
        cc->get("Cblk", 0, 1, bw);
        cc->get("Cmodes", 0, 0, modes);
        root->get("Sprecision", c, 0, precision);
        root->get("Ssigned", c, 0, is_signed);
        plan.kmax = kmax[size_t(c)];
        plan.blocks_x = (width + bw - 1) / bw;
        plan.blocks_y = (height + bh - 1) / bh;
        int nodes = 0;
        for (int w = plan.blocks_x, hh = plan.blocks_y;; w = (w + 1) / 2, hh = (hh + 1) / 2) {
            nodes += w * hh;
            if (w == 1 && hh == 1)
                break;
        }
        plan.nodes.assign(size_t(nodes), rv_precinct_block());
        rv_precinct_block* cursor = plan.nodes.data();
        plan.leaves = rv_precinct_block::build_tree(plan.blocks_x, plan.blocks_y, cursor);

        const int32_t shift = is_signed ? 0 : (1 << (precision - 1));
        for (int by = 0; by < plan.blocks_y; by++)
            for (int bx = 0; bx < plan.blocks_x; bx++) {
                const int y0 = by * bh, x0 = bx * bw;
                const int rows = std::min(bh, height - y0), cols = std::min(bw, width - x0);
                std::vector<int32_t> words;
                uint32_t any = 0;
                for (int y = y0; y < y0 + rows; y++)
                    for (int x = x0; x < x0 + cols; x++) {
                        int32_t v = samples[size_t(c)][size_t(y) * size_t(width) + size_t(x)] - shift;
                        uint32_t mag = uint32_t(v < 0 ? -int64_t(v) : v) << (31 - plan.kmax);
                        any |= mag;
                        words.push_back(int32_t(mag | (v < 0 ? 0x80000000u : 0u)));
                    }
                int missing = any == 0 ? plan.kmax : __builtin_clz(any) - 1;
                block.size = rvd_coords(rows, cols);
                block.modes = modes;
                block.orientation = 0;
                block.magnitude_planes = plan.kmax;
                block.missing_msbs = missing;
                block.num_passes = any == 0 ? 0 : 3 * (plan.kmax - missing) - 2;
                if (block.max_samples < int(words.size()))
                    block.set_max_samples(int(words.size()));
                std::copy(words.begin(), words.end(), block.sample_buffer);
                encoder.encode(&block, true, 1.0);
                rv_precinct_block& leaf = plan.leaves[by * plan.blocks_x + bx];
                leaf.modes = uint8_t(modes);
                leaf.store_data(&block, &server);
                slopes.insert(slopes.end(), block.pass_slopes, block.pass_slopes + block.num_passes);
            }
        rv_precinct_block::reset_output_tree(plan.leaves, plan.blocks_x, plan.blocks_y);
    }

    // Layer thresholds spread over the slopes; the last layer takes everything.
    slopes.erase(std::remove(slopes.begin(), slopes.end(), 0), slopes.end());
    std::sort(slopes.begin(), slopes.end(), std::greater<uint16_t>());
    std::vector<uint16_t> thresholds;
    for (int l = 0; l < layers; l++)
        thresholds.push_back(l + 1 == layers || slopes.empty()
                                 ? 0
                                 : slopes[size_t(l + 1) * slopes.size() / size_t(layers)]);

    if (target == nullptr) {
        const size_t sot = out.finish().size();
        out.put(uint16_t(0xFF90));
        out.put(uint16_t(10));
        out.put(uint16_t(0));
        out.put(uint32_t(0)); // Psot, patched below
        out.put(uint8_t(0));
        out.put(uint8_t(1));
        out.put(uint16_t(0xFF93));
        for (int l = 0; l < layers; l++)
            write_layer(out, plans, l, thresholds[size_t(l)]);
        out.put(uint16_t(0xFFD9));
        std::vector<uint8_t> bytes = out.finish();
        const size_t psot = bytes.size() - 2 - sot;
        for (int i = 0; i < 4; i++)
            bytes[sot + 6 + size_t(i)] = uint8_t(psot >> (24 - 8 * i));
        release_all(plans, server);
        return bytes;
    }

    rv_compressed_output cout(target);
    const std::vector<uint8_t>& head = out.finish();
    cout.write(head.data(), int(head.size()));
    for (const std::string& text : comments) {
        rv_codestream_comment com;
        com.put_text(text.c_str());
        com.write_marker(&cout);
    }
    rv_tlm_generator tlms;
    if (tlm && tlms.init(1, layers))
        tlms.write_dummy_tlms(&cout);
    for (int l = 0; l < layers; l++) {
        vector_output body;
        write_layer(body, plans, l, thresholds[size_t(l)]);
        const std::vector<uint8_t>& b = body.finish();
        const int64_t psot = 14 + int64_t(b.size());
        cout.put(uint16_t(0xFF90));
        cout.put(uint16_t(10));
        cout.put(uint16_t(0));
        cout.put(uint32_t(psot));
        cout.put(uint8_t(l));
        cout.put(uint8_t(layers));
        cout.put(uint16_t(0xFF93));
        cout.write(b.data(), int(b.size()));
        tlms.add_tpart_length(0, psot);
    }
    cout.flush();
    tlms.write_final_tlms(target, 0, 0);
    cout.put(uint16_t(0xFFD9));
    cout.flush();
    release_all(plans, server);
    return {};
}

} // namespace codec_test
