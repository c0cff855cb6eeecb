#include "platform/ModuleStartup.h"

#include <atomic>

#include <algorithm>

void StartupRegistry::add(int slot, int order, const std::string& name, Step init, Step teardown)
{
    for (const Entry& e : entries_)
        if (e.slot == slot && e.order == order)
            duplicate_ = true;
    entries_.push_back(Entry{slot, order, name, std::move(init), std::move(teardown)});
}

bool StartupRegistry::load()
{
    if (loaded_)
        return true;
    if (duplicate_)
        return false;
    std::vector<const Entry*> sorted;
    for (const Entry& e : entries_)
        sorted.push_back(&e);
    // Slot 0 holds objects that are only torn down: they come first in construction, so
    // they go last at unload.
    std::stable_sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) {
        return a->slot != b->slot ? a->slot < b->slot : a->order < b->order;
    });
    ran_.clear();
    try {
        for (const Entry* e : sorted) {
            if (e->init)
                e->init();
            ran_.push_back(e);
        }
    } catch (...) {
        unload();
        return false;
    }
    loaded_ = true;
    return true;
}

void StartupRegistry::unload()
{
    for (auto it = ran_.rbegin(); it != ran_.rend(); ++it)
        if ((*it)->teardown)
            (*it)->teardown();
    ran_.clear();
    loaded_ = false;
}

std::vector<std::string> StartupRegistry::names() const
{
    std::vector<std::string> out;
    for (const Entry& e : entries_)
        out.push_back(e.name);
    return out;
}

StartupRegistry& StartupRegistry::global()
{
    static StartupRegistry registry;
    return registry;
}

StartupRegistrar::StartupRegistrar(int slot, int order, const char* name, StartupRegistry::Step init,
                                   StartupRegistry::Step teardown)
{
    StartupRegistry::global().add(slot, order, name, std::move(init), std::move(teardown));
}

bool ModuleLoad() { return StartupRegistry::global().load(); }

void ModuleUnload() { StartupRegistry::global().unload(); }

namespace {
std::atomic<HINSTANCE> g_moduleInstance{nullptr};
}

void SetModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }

HINSTANCE ModuleInstance()
{
    HINSTANCE instance = g_moduleInstance;
    return instance ? instance : GetModuleHandleW(nullptr);
}
