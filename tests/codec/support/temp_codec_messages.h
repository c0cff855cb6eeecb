// Temporary codec message handlers for the input and block-coding tests, until the shared
// codec test support is merged: errors throw codec_test::codec_error, warnings are kept.
#pragma once

#include <string>
#include <vector>

namespace codec_test {

struct codec_error {
    std::string text;
};

// Warnings issued since the last clear, one text each.
std::vector<std::string>& warnings();
void clear_warnings();
// Number of warnings whose text contains the fragment.
int count_warnings(const std::string& fragment);

} // namespace codec_test
