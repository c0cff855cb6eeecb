// What one grid shows on one page of one hanging stack.
#pragma once

#include <string>

class TiXmlNode;

struct HangingItem {
    bool selected = false;
    TiXmlNode* node = nullptr;  // null: an empty cell
    std::string objectFile;     // the grid's target, the JPIP and registry key
    std::string instanceUID;    // the annotation server's and status document's key
};

class CJ2KGridHangingStackManager;
