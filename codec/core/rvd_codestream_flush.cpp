// Flushing a written codestream: the informative comments.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_tile_writing.h"

#include <cstdio>
#include <cstring>

namespace {

const char version_text[] = "Ravade-v6.0";
const char layer_info_head[] = "Rvd-Layer-Info: log_2{Delta-D(MSE)/[2^16*Delta-L(bytes)]}, L(bytes)\n";

rv_codestream_comment* append_comment(rv_codestream* cs)
{
    auto* com = new rv_codestream_comment;
    if (cs->comtail == nullptr)
        cs->comhead = cs->comtail = com;
    else
        cs->comtail = cs->comtail->next = com;
    return com;
}

} // namespace

void rv_add_version_comment(rv_codestream* cs, rv_codestream_writing& w)
{
    if (w.version_comment_added)
        return;
    w.version_comment_added = true;
    for (rv_codestream_comment* c = cs->comhead; c != nullptr; c = c->next)
        if (c->text != nullptr && std::strcmp(c->text, version_text) == 0)
            return;
    rv_codestream_comment* com = append_comment(cs);
    com->put_text(version_text);
    com->readonly = true;
}

void rv_reserve_layer_info_comment(rv_codestream* cs, rv_codestream_writing& w, int num_layers)
{
    const size_t head_len = std::strlen("Rvd-Layer-Info: ");
    rv_codestream_comment* prev = nullptr;
    for (rv_codestream_comment* c = cs->comhead; c != nullptr; prev = c, c = c->next) {
        if (c->text == nullptr || std::strncmp(c->text, layer_info_head, head_len) != 0)
            continue;
        (prev == nullptr ? cs->comhead : prev->next) = c->next;
        if (cs->comtail == c)
            cs->comtail = prev;
        delete c;
        break;
    }
    // The header line (68 characters), 17 per layer line and the segment's 6 bytes.
    w.layer_info_reserved = 17 * num_layers + 74;
}

void rv_write_layer_info_comment(rv_codestream* cs, const rv_codestream_writing& w, int num_layers,
                                 const int64_t* layer_bytes, const uint16_t* thresholds)
{
    rv_codestream_comment* com = append_comment(cs);
    com->put_text(layer_info_head);
    const double size_normaliser = 1.0;
    for (int l = 0; l < num_layers; l++) {
        char line[64];
        std::snprintf(line, sizeof line, "%6.1f, %8.1e\n", (double(thresholds[l]) - 65536.0) / 256.0,
                      double(layer_bytes[l]) * size_normaliser);
        com->put_text(line);
    }
    com->forced_length = w.layer_info_reserved;
    com->readonly = true;
}
