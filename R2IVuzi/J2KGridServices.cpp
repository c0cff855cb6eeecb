// Placeholder, replaced whole by the grid's window services.
#include "R2IVuzi/J2KGrid.h"

#include <algorithm>

void CJ2KGrid::layout() {}

void CJ2KGrid::syncAnnotationGeometry() {}

void CJ2KGrid::requestServerModelUpdate() {}

LRESULT CJ2KGrid::OnDestroy() { return 0; }

std::string CJ2KGrid::formatDate(const std::string& text)
{
    std::string out = text;
    if (!out.empty()) {
        out.insert(std::min<size_t>(4, out.size()), "/");
        out.insert(std::min<size_t>(7, out.size()), "/");
    }
    return out;
}

std::string CJ2KGrid::formatTime(const std::string& text)
{
    std::string out = text.substr(0, text.find('.'));
    if (!out.empty()) {
        out.insert(std::min<size_t>(2, out.size()), ":");
        out.insert(std::min<size_t>(5, out.size()), ":");
    }
    return out;
}
