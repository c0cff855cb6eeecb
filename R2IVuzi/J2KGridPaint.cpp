// Placeholder, replaced whole by grid painting.
#include "R2IVuzi/J2KGrid.h"

LRESULT CJ2KGrid::OnPaint(bool) { return 0; }

void CJ2KGrid::drawImage(HDC) {}
