// Placeholder, replaced whole by the annotation-server client.
#include "R2IVuzi/J2KAnnotationRequest.h"

void CJ2KAnnotationRequest::Execute() {}
