// Placeholder, replaced whole by the grid's commands and context menu.
#include "R2IVuzi/J2KGrid.h"

bool CJ2KGrid::OnCommand(UINT) { return false; }
