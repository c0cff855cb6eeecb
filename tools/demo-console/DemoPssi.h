#pragma once
// The document half of the demo: configuration, PSSI queries, hanging, overlays, a reply
// merge and the status document.

#include <ostream>
#include <string>

// Returns false, after saying why on the stream, when a document is missing or broken.
bool runPssiDemo(const std::string& demoDir, std::ostream& out);
