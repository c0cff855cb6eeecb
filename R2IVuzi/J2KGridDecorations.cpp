// Placeholder, replaced whole by the grid's decorations.
#include "R2IVuzi/J2KGrid.h"

void CJ2KGrid::drawDecorations(HDC) {}
