// Placeholder, replaced whole by the grid's view commands.
#include "R2IVuzi/J2KGrid.h"
