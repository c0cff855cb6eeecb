// Placeholder, replaced whole by the grid's mouse and keyboard interaction.
#include "R2IVuzi/J2KGrid.h"

LRESULT CJ2KGrid::OnLButtonDown(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnLButtonUp(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnMouseMove(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnLButtonDblClk(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnKeyDown(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnRButtonDown(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnRButtonUp(WPARAM, LPARAM) { return 0; }

LRESULT CJ2KGrid::OnSetCursor(WPARAM, LPARAM, bool& handled)
{
    handled = false;
    return 0;
}
