// Placeholder, replaced whole by incremental decoding.
#include "R2IVuzi/J2KGrid.h"

void CJ2KGrid::decodeStep() {}

LRESULT CJ2KGrid::OnTimer(UINT_PTR) { return 0; }

LRESULT CJ2KGrid::OnDataArrived(const std::string&, const int*) { return 0; }
