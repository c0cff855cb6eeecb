// Placeholder, replaced whole by presentation from the PSSI document.
#include "R2IVuzi/J2KGrid.h"

LRESULT CJ2KGrid::OnStartPresentation(const std::string&) { return 0; }

void CJ2KGrid::presentImage() {}

void CJ2KGrid::prepareImageStatus() {}

void CJ2KGrid::prepareImageAnnotation() {}

void CJ2KGrid::prepareDicomLUT() {}

void CJ2KGrid::prepareDicomInfo() {}
