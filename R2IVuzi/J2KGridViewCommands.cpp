// The grid's view commands: each changes the shown image at once and every other selected
// stack item's view state, so images paged to later already carry the change.
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

#include <boost/make_shared.hpp>

#include <vector>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KGrid")

template <typename Operation>
void CJ2KGrid::applyViewCommand(Operation operation)
{
    if (!m_selected)
        return;
    try {
        m_stacks->updateSelection();
        std::vector<HangingItem> items;
        for (const auto& stack : m_stacks->stacks())
            for (const auto& entry : stack.second)
                if (entry.second.selected)
                    items.push_back(entry.second);
        for (const HangingItem& item : items) {
            if (item.objectFile == m_target) {
                if (m_image && m_image->isOpened()) {
                    operation(m_image->getImageBase(), true);
                    syncAnnotationGeometry();
                    updateView();
                    // The image renders into its own buffer; the cell shows it at the next paint.
                    if (m_hWnd)
                        InvalidateRect(m_hWnd, nullptr, FALSE);
                } else if (m_image) {
                    // Still opening: the image keeps the change for its first view, as an
                    // image paged to later does, rather than losing it.
                    CImageBase& base = m_image->getImageBase();
                    base.SetViewRect(m_view.top, m_view.left, m_view.bottom, m_view.right, m_hWnd, false);
                    operation(base, false);
                }
                continue;
            }
            if (item.objectFile.empty())
                continue;  // an empty cell has no image to carry the change
            boost::shared_ptr<CPssiXmlDao> dao = getPssiXmlDao();
            boost::shared_ptr<CJ2KImage> image = boost::dynamic_pointer_cast<CJ2KImage>(dao->findImage(item.objectFile));
            const bool registered = image != nullptr;
            if (!registered) {
                image = boost::make_shared<CJ2KImage>(item.objectFile, item.instanceUID, item.node);
                image->holdDocument(item.document);
            }
            image->getImageBase().SetViewRect(m_view.top, m_view.left, m_view.bottom, m_view.right, m_hWnd, false);
            operation(image->getImageBase(), false);
            if (!registered)
                dao->registerImage(item.objectFile, image);
        }
    } catch (const CJ2KMemoryAccessViolation&) {
        ORBEL_LOG(ERROR) << "Access Violation when Handling " << m_target;
    } catch (...) {
        ORBEL_LOG(ERROR) << "Unknown Error occurs when Handling " << m_target;
    }
}

void CJ2KGrid::setFitType(int mode)
{
    applyViewCommand([mode](CImageBase& base, bool render) { base.SetFitMode(mode, render); });
}

void CJ2KGrid::invertGrey()
{
    applyViewCommand([](CImageBase& base, bool render) { base.InvertGrey(render); });
}

void CJ2KGrid::resetView()
{
    applyViewCommand([](CImageBase& base, bool render) { base.ResetView(render); });
}

void CJ2KGrid::flip(bool horizontal)
{
    applyViewCommand([horizontal](CImageBase& base, bool render) { base.Flip(horizontal, render); });
}

void CJ2KGrid::rotate(bool clockwise)
{
    applyViewCommand([clockwise](CImageBase& base, bool render) { base.Rotate(clockwise, render); });
}

void CJ2KGrid::adjustWindowLevel(int dx, int dy, bool fine)
{
    applyViewCommand([=](CImageBase& base, bool render) { base.AdjustWindowLevel(dx, dy, render, fine); });
}

void CJ2KGrid::pan(int dx, int dy)
{
    applyViewCommand([=](CImageBase& base, bool render) { base.Pan(dx, dy, render); });
}

void CJ2KGrid::zoom(float factor, bool actualSize)
{
    applyViewCommand([=](CImageBase& base, bool render) { base.Zoom(factor, render, actualSize); });
}
