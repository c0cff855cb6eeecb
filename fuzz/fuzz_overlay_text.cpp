// Arbitrary bytes as a PSSI text carrying an overlay configuration and values: the first
// image's overlay layout, every item's text and the drawing on a 64 x 64 cell.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "platform/Gdi.h"
#include "platform/ModuleStartup.h"

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A cell of its own per input: the data-access object keeps every document it replaced
// (registered images may still point into them), so one shared frame would grow without end.
struct Cell {
    Cell()
    {
        ModuleLoad();
        frame.reset(new CJ2KFrame(nullptr));
        const RECT rect = {0, 0, 64, 64};
        frame->Create(nullptr, rect, WS_POPUP);
        subFrame.reset(new CJ2KSubFrame(frame, 0, 0));
        grid.reset(new CJ2KGrid(subFrame, 0, 0));
        grid->CreateGridWindow(frame->m_hWnd, rect);
        grid->layout();
    }
    // The windows go before the objects that handle them.
    ~Cell() { frame->DestroyWindow(); }
    boost::shared_ptr<CJ2KFrame> frame;
    boost::shared_ptr<CJ2KSubFrame> subFrame;
    boost::shared_ptr<CJ2KGrid> grid;
};

TiXmlNode* firstImage(TiXmlNode* root)
{
    std::vector<TiXmlNode*> pending{root};
    while (!pending.empty()) {
        TiXmlNode* n = pending.back();
        pending.pop_back();
        if (!n)
            continue;
        if (n->ToElement() && n->ValueStr() == "Image")
            return n;
        for (TiXmlNode* c = n->LastChild(); c; c = c->PreviousSibling())
            pending.push_back(c);
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Cell cell;
    boost::shared_ptr<CPssiXmlDao> dao = cell.frame->getPssiXmlDao();
    dao->parsePssi(std::string(reinterpret_cast<const char*>(data), size));
    TiXmlNode* element = dao->getRootElement() ? firstImage(dao->getRootElement()) : nullptr;
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage("t", "u", element));
    cell.grid->setImage(image);
    cell.grid->setImageElement(element);
    cell.grid->prepareOverlayInfo(image);
    for (const OverlayLayoutEntry& entry : image->getOverlayEntries())
        cell.grid->getOverlayText(entry.item);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 64, 64);
    HGDIOBJ old = SelectObject(dc, bitmap);
    cell.grid->drawOverlay(dc);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return 0;
}
