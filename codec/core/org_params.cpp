#include "codec/core/org_params.h"

namespace {
const char* const org_name = "ORG";
}

org_params::org_params() : rvd_params(org_name, true, false, true, false, false)
{
    define_attribute("ORGtparts",
                     "Tile-part boundaries: R starts a new tile-part at each change of "
                     "resolution, L at each change of layer, C at each change of component.",
                     "[R=1|L=2|C=4]", RVD_ALL_COMPONENTS);
    define_attribute("ORGgen_plt",
                     "Generate PLT marker segments in every tile-part header of the tile.", "B",
                     RVD_ALL_COMPONENTS);
    define_attribute("ORGgen_tlm",
                     "Generate TLM marker segments in the main header, reserving room for this "
                     "many tile-parts per tile.",
                     "I", RVD_ALL_COMPONENTS);
}

void org_params::copy_with_xforms(rvd_params* source, int, int, bool, bool, bool)
{
    int v = 0;
    bool b = false;
    if (source->get("ORGtparts", 0, 0, v, false))
        set("ORGtparts", 0, 0, v);
    if (source->get("ORGgen_plt", 0, 0, b, false))
        set("ORGgen_plt", 0, 0, b);
}
