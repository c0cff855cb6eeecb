// Placeholder, replaced whole when grids open their images.
#include "R2IVuzi/J2KGrid.h"

void CJ2KGrid::openTargetImage(bool) {}

void CJ2KGrid::openTargetOverlay() {}

void CJ2KGrid::showStackItem() {}

void CJ2KGrid::updateView() {}

LRESULT CJ2KGrid::OnStartProcess(const std::string&) { return 0; }
