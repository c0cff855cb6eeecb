// A thread's local reserve of buffers, refilled from a codestream's buffer server in
// whole groups so that the common path of a worker thread takes no lock.
#pragma once

#include "codec/core/rv_buffer_server.h"

class rv_thread_codestream_state; // the per-thread codestream state that owns the store

class rv_thread_buffer_store {
public:
    rv_thread_buffer_store() = default;
    ~rv_thread_buffer_store() { detach(); }
    rv_thread_buffer_store(const rv_thread_buffer_store&) = delete;
    rv_thread_buffer_store& operator=(const rv_thread_buffer_store&) = delete;

    void attach(rv_buffer_server* srv);
    void detach();
    // Run when the thread finishes a batch: the reserve follows four times the use.
    void update_reserve();
    // Refills the local list according to the reserve; lock_held tells that the caller
    // already holds the general codestream lock.
    void augment(bool lock_held);
    // Pops one buffer from the local list, refilling first when it is empty.
    rv_buffer* get()
    {
        if (head == nullptr)
            augment(false);
        rv_buffer* b = head;
        head = b->next;
        b->next = nullptr;
        available--;
        if (head == nullptr)
            tail = nullptr;
        return b;
    }

    rv_thread_codestream_state* owner = nullptr;
    int reserve = 0;
    int available = 0;
    int mark = 0;
    rv_buffer* head = nullptr;
    rv_buffer* tail = nullptr;
    rv_buffer_server* server = nullptr;
    rv_thread_buffer_store* next_store = nullptr;
    rv_thread_buffer_store* prev_store = nullptr;

private:
    // Through the owner's thread environment; nothing without an owner.
    void raise_group_failure();
    void acquire_general_lock();
    void release_general_lock();
};
