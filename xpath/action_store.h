#pragma once
// The action list recorded by the decoder and read backwards by the executor.

#include <cstdint>
#include <string>
#include <vector>

namespace XPath {

struct action {
    int32_t construct = 0;
    int32_t sub_kind = 0;
    int32_t number = 0;
    std::string text;
};

class action_store {
public:
    void add(int32_t construct, int32_t sub_kind, int32_t number, const char* text);
    int32_t count() const { return static_cast<int32_t>(actions_.size()); }
    size_t capacity() const { return actions_.capacity(); }
    const action& at(int32_t index) const { return actions_[static_cast<size_t>(index)]; }

    // Index of the action the executor reads next; -1 once the list is used up.
    int32_t current = -1;

private:
    std::vector<action> actions_;
};

} // namespace XPath
