#include "codec/core/rv_buffer_server.h"

#include <cassert>

rv_buffer_server::~rv_buffer_server()
{
    while (blocks != nullptr) {
        rv_buffer_block* b = blocks;
        blocks = b->next;
        delete b;
    }
}

int64_t rv_buffer_server::get_num_blocks() const
{
    int64_t n = 0;
    for (rv_buffer_block* b = blocks; b != nullptr; b = b->next)
        n++;
    return n;
}

void rv_buffer_server::alloc_block()
{
    rv_buffer_block* blk = new rv_buffer_block;
    blk->next = blocks;
    blocks = blk;
    // Groups go on the free list in reverse, so the list hands them out in address order.
    for (int g = RV_GROUPS_PER_BLOCK - 1; g >= 0; g--) {
        rv_buffer* grp = blk->bufs + 4 * g;
        for (int i = 0; i < 4; i++) {
            grp[i].next = nullptr;
            grp[i].tag = uint16_t(i);
        }
        grp->next = free_list;
        free_list = grp;
        total_groups++;
    }
}

rv_buffer* rv_buffer_server::get()
{
    if (free_list == nullptr)
        alloc_block();
    rv_buffer* h = free_list;
    rv_buffer* grp = h->group();
    int i = h->index();
    for (int k = 0; k < i; k++)
        if (!grp[k].in_use()) {
            grp[k].tag |= 0x8000;
            grp[k].next = nullptr;
            return grp + k;
        }
    h->tag |= 0x8000;
    for (int k = 3; k > i; k--)
        if (!grp[k].in_use()) {
            // grp[k] now represents the group on the free list.
            grp[k].next = h->next;
            free_list = grp + k;
            h->next = nullptr;
            return h;
        }
    free_list = h->next;
    h->next = nullptr;
    if (++full_groups > peak_full_groups)
        peak_full_groups = full_groups;
    return h;
}

void rv_buffer_server::release(rv_buffer* buf)
{
    assert(buf->in_use());
    rv_buffer* grp = buf->group();
    bool group_listed = false;
    for (int k = 0; k < 4; k++)
        if (!grp[k].in_use())
            group_listed = true;
    buf->tag &= 0x7F;
    if (group_listed) {
        buf->next = nullptr;
        return;
    }
    buf->next = free_list;
    free_list = buf;
    full_groups--;
}

void rv_buffer_server::release_chain(rv_buffer* head)
{
    while (head != nullptr) {
        rv_buffer* n = head->next;
        release(head);
        head = n;
    }
}

rv_buffer* rv_buffer_server::get_groups(int num_groups, rv_buffer*& tail)
{
    rv_buffer* head = nullptr;
    tail = nullptr;
    rv_buffer** link = &free_list; // link through which the current group is reached
    for (int n = 0; n < num_groups;) {
        if (*link == nullptr) {
            // New groups are pushed at the head of the free list: continue from there,
            // since everything behind the walk was passed over already.
            alloc_block();
            link = &free_list;
            continue;
        }
        rv_buffer* h = *link;
        rv_buffer* grp = h->group();
        bool untouched = true;
        for (int k = 0; k < 4; k++)
            if (grp[k].in_use())
                untouched = false;
        if (!untouched) {
            link = &h->next;
            continue;
        }
        *link = h->next;
        for (int k = 0; k < 4; k++) {
            grp[k].tag |= 0x8000;
            grp[k].next = (k < 3) ? grp + k + 1 : nullptr;
        }
        if (tail == nullptr)
            head = grp;
        else
            tail->next = grp;
        tail = grp + 3;
        full_groups++;
        n++;
    }
    if (full_groups > peak_full_groups)
        peak_full_groups = full_groups;
    return head;
}
