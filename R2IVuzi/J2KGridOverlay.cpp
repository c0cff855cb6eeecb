// Placeholder, replaced whole by the overlay text.
#include "R2IVuzi/J2KGrid.h"

void CJ2KGrid::prepareOverlayInfo() {}

void CJ2KGrid::drawOverlay(HDC) {}

std::string CJ2KGrid::getOverlayText() { return std::string(); }
