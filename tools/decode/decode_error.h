// Failures of the decode tool itself (arguments, files, containers). Codec failures reach
// the tool as whatever the installed codec error handler throws.
#pragma once

#include <stdexcept>
#include <string>

class decode_error : public std::runtime_error {
public:
    explicit decode_error(const std::string& what) : std::runtime_error(what) {}
};
