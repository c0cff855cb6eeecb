// The multi-component network shared by both directions: blocks, codestream component
// records, collections, constant lines and the allocator all line storage comes from.
#pragma once

#include "codec/coding/rv_multi_block.h"
#include "codec/coding/rv_multi_collection.h"
#include "codec/coding/rv_multi_component.h"
#include "codec/coding/rv_multi_line.h"
#include "codec/core/rvd_sample_allocator.h"

#include <memory>
#include <vector>

class rvd_thread_queue;

class rv_multi_transform {
public:
    rv_multi_transform() = default;
    rv_multi_transform(const rv_multi_transform&) = delete;
    rv_multi_transform& operator=(const rv_multi_transform&) = delete;
    virtual ~rv_multi_transform();

    // Scratch arrays shared by block initialisation; contents are not kept when they grow.
    int* get_scratch_ints(int n);
    float* get_scratch_floats(int n);

    bool use_ycc = false;
    rv_multi_block* block_head = nullptr; // owned, in creation order
    rv_multi_block* block_tail = nullptr;
    int num_codestream_components = 0;
    std::unique_ptr<rv_multi_component[]> components;
    rv_multi_collection* codestream_collection = nullptr; // owned, first of the chain
    rv_multi_collection* output_collection = nullptr;
    int num_constant_lines = 0;
    std::unique_ptr<rv_multi_line[]> constant_lines;
    rvd_sample_allocator allocator;
    rvd_thread_queue* env_queue = nullptr;

protected:
    void append_block(rv_multi_block* block);
    void append_collection(rv_multi_collection* collection);

private:
    std::unique_ptr<int[]> scratch_ints;
    int scratch_ints_capacity = 0;
    std::unique_ptr<float[]> scratch_floats;
    int scratch_floats_capacity = 0;
};
