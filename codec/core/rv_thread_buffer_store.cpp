#include "codec/core/rv_thread_buffer_store.h"

#include "codec/core/rvd_thread_env.h"

void rv_thread_buffer_store::attach(rv_buffer_server* srv)
{
    if (server != nullptr)
        detach();
    server = srv;
    prev_store = nullptr;
    next_store = srv->stores;
    if (next_store != nullptr)
        next_store->prev_store = this;
    srv->stores = this;
}

void rv_thread_buffer_store::detach()
{
    if (server == nullptr)
        return;
    while (head != nullptr) {
        rv_buffer* b = head;
        head = b->next;
        server->release(b);
        available--;
    }
    if (prev_store != nullptr)
        prev_store->next_store = next_store;
    else
        server->stores = next_store;
    if (next_store != nullptr)
        next_store->prev_store = prev_store;
    server = nullptr;
    next_store = prev_store = nullptr;
    reserve = available = mark = 0;
    head = tail = nullptr;
}

void rv_thread_buffer_store::update_reserve()
{
    int consumed = mark - available;
    mark = available;
    if (4 * consumed > reserve)
        reserve = 4 * consumed;
}

void rv_thread_buffer_store::augment(bool lock_held)
{
    int wanted = reserve - available;
    if (reserve == 0) {
        // No estimate yet: a first guess of at least eight groups.
        wanted = 4 * mark + 4;
        if (wanted < 32)
            wanted = 32;
    }
    if (wanted < 1)
        return;
    int groups = (wanted + 3) / 4;
    if (!lock_held) {
        raise_group_failure();
        acquire_general_lock();
    }
    rv_buffer* chain_tail = nullptr;
    rv_buffer* chain = nullptr;
    try {
        chain = server->get_groups(groups, chain_tail);
    } catch (...) {
        if (!lock_held)
            release_general_lock();
        throw;
    }
    if (!lock_held)
        release_general_lock();
    if (tail == nullptr)
        head = chain;
    else
        tail->next = chain;
    tail = chain_tail;
    available += 4 * groups;
    mark += 4 * groups;
}

void rv_thread_buffer_store::raise_group_failure()
{
    if (owner != nullptr)
        owner->env->raise_group_failure();
}

void rv_thread_buffer_store::acquire_general_lock()
{
    if (owner != nullptr)
        owner->env->acquire_lock(0);
}

void rv_thread_buffer_store::release_general_lock()
{
    if (owner != nullptr)
        owner->env->release_lock(0);
}
