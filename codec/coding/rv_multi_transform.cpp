#include "codec/coding/rv_multi_transform.h"

rv_multi_transform::~rv_multi_transform()
{
    while (block_head != nullptr) {
        rv_multi_block* b = block_head;
        block_head = b->next;
        delete b;
    }
    while (codestream_collection != nullptr) {
        rv_multi_collection* c = codestream_collection;
        codestream_collection = c->next;
        delete c;
    }
}

int* rv_multi_transform::get_scratch_ints(int n)
{
    if (n > scratch_ints_capacity) {
        scratch_ints_capacity += n;
        scratch_ints.reset(new int[std::size_t(scratch_ints_capacity)]);
    }
    return scratch_ints.get();
}

float* rv_multi_transform::get_scratch_floats(int n)
{
    if (n > scratch_floats_capacity) {
        scratch_floats_capacity += n;
        scratch_floats.reset(new float[std::size_t(scratch_floats_capacity)]);
    }
    return scratch_floats.get();
}

void rv_multi_transform::append_block(rv_multi_block* block)
{
    block->prev = block_tail;
    if (block_tail != nullptr)
        block_tail->next = block;
    else
        block_head = block;
    block_tail = block;
}

void rv_multi_transform::append_collection(rv_multi_collection* collection)
{
    collection->prev = output_collection;
    output_collection->next = collection;
    output_collection = collection;
}
