// Placeholder, replaced whole by the grid's error handling and retries. Until then an
// error notification is dropped (its exception freed).
#include "R2IVuzi/J2KGrid.h"

LRESULT CJ2KGrid::OnError(int, std::unique_ptr<CJ2KException>) { return 0; }

void CJ2KGrid::handleConnectionError(std::unique_ptr<CJ2KException>) {}

void CJ2KGrid::handleOpenStreamError(std::unique_ptr<CJ2KException>) {}

void CJ2KGrid::handleAnnotationConnectionError(std::unique_ptr<CJ2KException>) {}

void CJ2KGrid::handleParseError(std::unique_ptr<CJ2KException>) {}

void CJ2KGrid::handleMemoryError() {}

void CJ2KGrid::onOutOfMemory() {}
