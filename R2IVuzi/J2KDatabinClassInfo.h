// The data-bin class table: per row the cache class, the JPP-stream class identifier and
// the cache-model code, in the order the cache-model text walks the classes.
#pragma once

#include <string>
#include <vector>

struct CJ2KDatabinClassInfo {
    int cacheClass;
    int streamClass;
    std::string code;
};

// Slot 8 of the start-up registry; a std::logic_error while the module is not loaded.
const std::vector<CJ2KDatabinClassInfo>& GetDatabinClassTable();
