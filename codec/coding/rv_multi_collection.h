// The lines standing for the components at one stage boundary of the network.
#pragma once

#include <vector>

struct rv_multi_line;

struct rv_multi_collection {
    explicit rv_multi_collection(int n) : num_components(n), components(std::size_t(n), nullptr) {}

    int num_components;
    std::vector<rv_multi_line*> components; // null until set
    rv_multi_collection* next = nullptr;
    rv_multi_collection* prev = nullptr;
};
