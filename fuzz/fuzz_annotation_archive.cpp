// Annotation texts from the page and the server: each input is loaded, mapped into a
// rotated, mirrored view at zoom 2 and drawn; what it stores must load and store again
// unchanged; every loaded object is then hit-tested at a few points.
#include "annotation/AnnShared.h"
#include "annotation/OrbelAnnContainer.h"
#include "platform/Gdi.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string Store(COrbelAnnContainer& c)
{
    COrbelArchive ar(0);
    c.Serialize(ar);
    std::string text;
    return COrbelArchive::ToHex(ar, text);
}

void Load(const std::string& text, COrbelAnnContainer& c)
{
    COrbelArchive ar(1);
    if (COrbelArchive::FromHex(text, ar))
        c.Serialize(ar);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static HDC dc = [] {
        annShared.penStyle = PS_SOLID;
        CreateSharedPens();
        HDC memory = CreateCompatibleDC(nullptr);
        SelectObject(memory, CreateCompatibleBitmap(memory, 64, 48));
        return memory;
    }();

    AnnViewMapping mapping;
    mapping.mirror = 1;
    mapping.quarterTurns = 3;
    mapping.zoomX = mapping.zoomY = 2.0;
    mapping.originX = 5;
    mapping.originY = -7;
    mapping.extentX = 40;
    mapping.extentY = 30;

    COrbelAnnContainer loaded;
    Load(std::string(reinterpret_cast<const char*>(data), size), loaded);
    loaded.SetGeometry(&mapping);
    loaded.ImageToView();
    loaded.Draw(dc);
    const std::string first = Store(loaded);

    COrbelAnnContainer again;
    Load(first, again);
    if (again.Count() != loaded.Count() || Store(again) != first)
        std::abort();
    const POINT probes[] = {{0, 0}, {10, 10}, {40, 20}, {-3, 47}, {63, 0}};
    for (int i = 0; i < loaded.Count(); ++i)
        for (const POINT& p : probes)
            loaded.At(i)->HitTest(p.x, p.y);
    return 0;
}
