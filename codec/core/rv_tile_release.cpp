// The end of a tile: textualising its attributes, deleting its parameter objects and
// parking its record; and restarting a tile in place.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <string>

namespace {

void textualize_tile(rv_tile& t)
{
    rvd_message* out = t.codestream->textualizer;
    if (out == nullptr || !t.has_header)
        return;
    out->put_text(("\n>> New attributes for tile " + std::to_string(t.t_num) + ":\n").c_str());
    t.codestream->siz->textualize_attributes(*out, t.t_num, t.t_num, false);
    out->flush(false);
}

} // namespace

void rv_tile::destroy(bool unloading)
{
    rv_codestream* cs = codestream;
    textualize_tile(*this);
    remove_from_unloadable_list();
    remove_from_output_list();
    if (tile_ref != nullptr && tile_ref->tile == this)
        tile_ref->tile = (unloading || !has_header) ? nullptr : rv_tile_expired();
    tile_ref = nullptr;
    release_for_recycling();
    // An unloaded tile may be built again from the parameters it leaves behind. Any
    // other end deletes them (after the tree, whose stages may point into them), also for
    // a tile on the unloadable list at a restart, whose new source may lack its header.
    if (has_header && !unloading)
        cs->siz->remove_tile(t_num);
    is_open = false;
    next_recycled = cs->recycled_tiles;
    cs->recycled_tiles = this;
}

void rv_tile::restart()
{
    textualize_tile(*this);
    // Precincts in memory are given back; the references go.
    rv_release_tile_precincts(this);
    needs_reinitialization = true;
}
